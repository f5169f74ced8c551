#include "checks/checks.h"
#include "launch/results.h"

int CheckAcPower()
{
    SYSTEM_POWER_STATUS status;
    if (!GetSystemPowerStatus(&status))
        return RC_POWER_UNKNOWN;
    // Only a definite "online" counts; unknown (255) is treated as battery.
    if (status.ACLineStatus == 1)
        return RC_SUCCESS;
    return RC_POWER_OFFLINE;
}
