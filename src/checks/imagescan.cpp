// The BIOS version inside the image about to be written: the four bytes
// that stand before the first "-0000-" marker.
#include <cstring>

#include "checks/checks.h"
#include "checks/markerscan.h"
#include "launch/settings.h"
#include "launch/messages.h"
#include "launch/results.h"

// Bytes kept from one read to the next: a marker and its version may span
// two reads.
#define SCAN_CARRY (BVSIZE + MARKER_SIZE - 1)
// Room before the read area for the kept bytes. Every read lands at the
// same aligned place, where the system copies fastest.
#define SCAN_CARRY_ROOM 64
static_assert(SCAN_CARRY <= SCAN_CARRY_ROOM, "the kept bytes fit before the read area");

// The image is read once, front to back, through this buffer, so memory
// does not grow with the image and no seek is ever needed.
alignas(SCAN_CARRY_ROOM) static char g_abScanBuffer[SCAN_CARRY_ROOM + IMAGE_SCAN_BUFFER_SIZE];

int ScanImageMarkers(LPCSTR lpImageFile, MARKERPROC lpfnMarker, void* lpContext)
{
    FILE* pFile = OpenSharedRead(lpImageFile);
    if (!pFile)
        return RC_IMAGE_OPEN;

    // Each read goes to lpRead; the nKept bytes before it are carried over
    // from the read before: unscanned bytes and up to BVSIZE bytes of
    // context before them. nStart is where the scan goes on, counted from
    // the first kept byte.
    char* const lpRead = g_abScanBuffer + SCAN_CARRY_ROOM;
    size_t nKept = 0;
    size_t nStart = 0;
    unsigned long long qwReadAt = 0;  // offset in the file of lpRead[0]
    BOOL bGoOn = TRUE;
    while (bGoOn) {
        size_t nRead = fread(lpRead, 1, IMAGE_SCAN_BUFFER_SIZE, pFile);
        if (nRead == 0)
            break;
        char* lpData = lpRead - nKept;
        size_t nHave = nKept + nRead;
        unsigned long long qwDataAt = qwReadAt - nKept;
        // Every start with a whole marker in the buffer can be judged.
        size_t nEnd = nHave >= MARKER_SIZE ? nHave - MARKER_SIZE + 1 : 0;
        for (size_t nAt = nStart; bGoOn && (nAt = FindMarker(lpData, nAt, nEnd)) != NO_MARKER; nAt++) {
            // Only a marker in the file's first bytes has fewer than
            // BVSIZE bytes before it; every other one has them in the buffer.
            unsigned long long qwAt = qwDataAt + nAt;
            bGoOn = lpfnMarker(qwAt, qwAt >= BVSIZE ? lpData + nAt - BVSIZE : NULL, lpContext);
        }
        // Keep the bytes not yet judged and the version-sized context
        // before them: never more than SCAN_CARRY bytes.
        size_t nKeepFrom = nEnd >= BVSIZE ? nEnd - BVSIZE : 0;
        nKept = nHave - nKeepFrom;
        memmove(lpRead - nKept, lpData + nKeepFrom, nKept);
        nStart = nEnd - nKeepFrom;
        qwReadAt += nRead;
    }
    CloseSharedRead(pFile);
    return RC_SUCCESS;
}

// The first marker decides: its version, or none when it has fewer than
// BVSIZE bytes before it.
struct FIRSTMARKER {
    LPSTR lpBuffer;
    int nResult;
};

static BOOL TakeFirstMarker(unsigned long long qwOffset, const char* lpVersion, void* lpContext)
{
    (void)qwOffset;
    FIRSTMARKER* lpFirst = (FIRSTMARKER*)lpContext;
    if (lpVersion) {
        memcpy(lpFirst->lpBuffer, lpVersion, BVSIZE);
        lpFirst->nResult = RC_SUCCESS;
    }
    return FALSE;
}

int GetImageBiosVersionOf(LPCSTR lpImageFile, LPSTR lpBuffer, DWORD dwSize)
{
    if (!lpBuffer || dwSize < BVSIZE)
        FailAssertion("!lpBuffer || dwSize<BVSIZE");
    memset(lpBuffer, 0, dwSize);
    FIRSTMARKER first = {lpBuffer, RC_IMAGE_VERSION};
    if (ScanImageMarkers(lpImageFile, TakeFirstMarker, &first) != RC_SUCCESS)
        return RC_IMAGE_OPEN;
    return first.nResult;
}

int GetImageBiosVersion(LPSTR lpBuffer, DWORD dwSize)
{
    return GetImageBiosVersionOf(LoaderSettings.ImageFile, lpBuffer, dwSize);
}
