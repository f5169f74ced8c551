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
        // Every hyphen with five bytes after it in the buffer can be judged.
        size_t nEnd = nHave >= MARKER_SIZE ? nHave - MARKER_SIZE + 1 : 0;
        BOOL bFound = FALSE;
        for (size_t i = nStart; i < nEnd;) {
            const char* lpHyphen = (const char*)memchr(g_abScanBuffer + i, '-', nEnd - i);
            if (!lpHyphen)
                break;
            size_t nAt = (size_t)(lpHyphen - g_abScanBuffer);
            if (memcmp(lpHyphen + 1, MARKER + 1, MARKER_SIZE - 1) == 0) {
                // The first marker decides; one with fewer than four bytes
                // before it in the file has no version.
                if (!(bAtFileStart && nAt < BVSIZE)) {
                    memcpy(lpBuffer, g_abScanBuffer + nAt - BVSIZE, BVSIZE);
                    nResult = RC_SUCCESS;
                }
                bFound = TRUE;
                break;
            }
            i = nAt + 1;
        }
        if (bFound)
            break;
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
