// Image version scan: not built yet; every image fails to open until then.
#include "checks/checks.h"
#include "launch/results.h"

int GetImageBiosVersion(LPSTR lpBuffer, DWORD dwSize)
{
    (void)lpBuffer;
    (void)dwSize;
    return RC_IMAGE_OPEN;
}
