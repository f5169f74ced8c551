// Machine version probe: not built yet; it always reports no version.
#include "checks/checks.h"
#include "launch/results.h"

int GetMachineBiosVersion(LPSTR lpBuffer, DWORD dwSize)
{
    (void)lpBuffer;
    (void)dwSize;
    return RC_MACHINE_VERSION;
}
