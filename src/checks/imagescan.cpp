// The BIOS version inside the image about to be written: the four bytes
// that stand before the first "-0000-" marker.
#include <cstring>

#include "checks/checks.h"
#include "launch/loader.h"
#include "launch/messages.h"
#include "launch/results.h"

#define MARKER "-0000-"
#define MARKER_SIZE 6
// Bytes kept from one read to the next: a marker and its version may span
// two reads.
#define SCAN_CARRY (BVSIZE + MARKER_SIZE - 1)

// The image is read once, front to back, through this buffer, so memory
// does not grow with the image and no seek is ever needed.
static char g_abScanBuffer[SCAN_CARRY + IMAGE_SCAN_BUFFER_SIZE];

#define NO_MARKER ((size_t)-1)

static inline BOOL IsMarkerAt(const char* lpData)
{
    return lpData[0] == '-' && memcmp(lpData + 1, &MARKER[1], MARKER_SIZE - 1) == 0;
}

// The first marker that starts in [nStart, nEnd) of lpData, whose bytes
// reach at least to nEnd + MARKER_SIZE - 1; NO_MARKER when there is none.
// Every marker has exactly one of its six bytes at a position
// nStart + 5 + 6k, and every byte of a marker is a hyphen or a zero. So
// only one byte in six is looked at, and a marker is tried only where that
// byte is one of those: starting five bytes before it or at it for a
// hyphen, one to four bytes before it for a zero. The starts are tried
// from the lowest up, so the first one found is the first in the image.
static size_t FindFirstMarker(const char* lpData, size_t nStart, size_t nEnd)
{
    for (size_t nPos = nStart + MARKER_SIZE - 1; nPos < nEnd + MARKER_SIZE - 1; nPos += MARKER_SIZE) {
        char ch = lpData[nPos];
        if (ch == '-') {
            if (IsMarkerAt(lpData + nPos - (MARKER_SIZE - 1)))
                return nPos - (MARKER_SIZE - 1);
            if (nPos < nEnd && IsMarkerAt(lpData + nPos))
                return nPos;
        } else if (ch == '0') {
            for (size_t nAt = nPos - (MARKER_SIZE - 2); nAt < nPos && nAt < nEnd; nAt++) {
                if (IsMarkerAt(lpData + nAt))
                    return nAt;
            }
        }
    }
    return NO_MARKER;
}

int GetImageBiosVersion(LPSTR lpBuffer, DWORD dwSize)
{
    if (!lpBuffer || dwSize < BVSIZE)
        FailAssertion("!lpBuffer || dwSize<BVSIZE");
    memset(lpBuffer, 0, dwSize);

    FILE* pFile = OpenSharedRead(LoaderSettings.ImageFile);
    if (!pFile)
        return RC_IMAGE_OPEN;

    // g_abScanBuffer[0, nHave) holds unscanned bytes preceded by up to
    // BVSIZE bytes of context; nStart is where the scan goes on.
    size_t nHave = 0;
    size_t nStart = 0;
    BOOL bAtFileStart = TRUE;  // the buffer still begins at offset 0
    int nResult = RC_IMAGE_VERSION;
    for (;;) {
        size_t nRead = fread(g_abScanBuffer + nHave, 1, IMAGE_SCAN_BUFFER_SIZE, pFile);
        if (nRead == 0)
            break;
        nHave += nRead;
        // Every start with a whole marker in the buffer can be judged.
        size_t nEnd = nHave >= MARKER_SIZE ? nHave - MARKER_SIZE + 1 : 0;
        size_t nAt = FindFirstMarker(g_abScanBuffer, nStart, nEnd);
        if (nAt != NO_MARKER) {
            // The first marker decides; one with fewer than four bytes
            // before it in the file has no version.
            if (!(bAtFileStart && nAt < BVSIZE)) {
                memcpy(lpBuffer, g_abScanBuffer + nAt - BVSIZE, BVSIZE);
                nResult = RC_SUCCESS;
            }
            break;
        }
        // Keep the bytes not yet judged and the version-sized context before them.
        size_t nKeepFrom = nEnd >= BVSIZE ? nEnd - BVSIZE : 0;
        if (nKeepFrom > 0) {
            memmove(g_abScanBuffer, g_abScanBuffer + nKeepFrom, nHave - nKeepFrom);
            nHave -= nKeepFrom;
            bAtFileStart = FALSE;
        }
        nStart = nEnd - nKeepFrom;
    }
    fclose(pFile);
    return nResult;
}
