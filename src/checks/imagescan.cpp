// The BIOS version inside the image about to be written: the four bytes
// that stand before the first "-0000-" marker.
#include <cstring>

#include "checks/checks.h"
#include "checks/markerscan.h"
#include "launch/loader.h"
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

int GetImageBiosVersion(LPSTR lpBuffer, DWORD dwSize)
{
    if (!lpBuffer || dwSize < BVSIZE)
        FailAssertion("!lpBuffer || dwSize<BVSIZE");
    memset(lpBuffer, 0, dwSize);

    FILE* pFile = OpenSharedRead(LoaderSettings.ImageFile);
    if (!pFile)
        return RC_IMAGE_OPEN;

    // Each read goes to lpRead; the nKept bytes before it are carried over
    // from the read before: unscanned bytes and up to BVSIZE bytes of
    // context before them. nStart is where the scan goes on, counted from
    // the first kept byte.
    char* const lpRead = g_abScanBuffer + SCAN_CARRY_ROOM;
    size_t nKept = 0;
    size_t nStart = 0;
    BOOL bAtFileStart = TRUE;  // the kept bytes begin at offset 0
    int nResult = RC_IMAGE_VERSION;
    for (;;) {
        size_t nRead = fread(lpRead, 1, IMAGE_SCAN_BUFFER_SIZE, pFile);
        if (nRead == 0)
            break;
        char* lpData = lpRead - nKept;
        size_t nHave = nKept + nRead;
        // Every start with a whole marker in the buffer can be judged.
        size_t nEnd = nHave >= MARKER_SIZE ? nHave - MARKER_SIZE + 1 : 0;
        size_t nAt = FindMarker(lpData, nStart, nEnd);
        if (nAt != NO_MARKER) {
            // The first marker decides; one with fewer than four bytes
            // before it in the file has no version.
            if (!(bAtFileStart && nAt < BVSIZE)) {
                memcpy(lpBuffer, lpData + nAt - BVSIZE, BVSIZE);
                nResult = RC_SUCCESS;
            }
            break;
        }
        // Keep the bytes not yet judged and the version-sized context
        // before them: never more than SCAN_CARRY bytes.
        size_t nKeepFrom = nEnd >= BVSIZE ? nEnd - BVSIZE : 0;
        nKept = nHave - nKeepFrom;
        memmove(lpRead - nKept, lpData + nKeepFrom, nKept);
        if (nKeepFrom > 0)
            bAtFileStart = FALSE;
        nStart = nEnd - nKeepFrom;
    }
    CloseSharedRead(pFile);
    return nResult;
}
