// Every message the launcher shows, in one table, and the box of a failed
// precondition.
#include "launch/messages.h"

#include "launch/results.h"

#define MB_ERROR (MB_OK | MB_ICONERROR)

static const RESULTMESSAGE g_aMessages[] = {
    {STAGE_INIT, RC_MUTEX, "Create Mutex fail.\nRestart the mechine and try again.", "Initialize Fail", MB_ERROR},
    {STAGE_HELP, RC_HELP,
     "WinKestrom Loader v1.0\n\nOptions:\n  <filename>\tThe filename and the params of WinKestrom", "Help",
     MB_OK | MB_ICONINFORMATION},
    {STAGE_SETTINGS, RC_NOT_FOUND,
     "Load KESTROM.INI fail.\nMake sure KSTGATE is in the same directory of WinKestrom.", "Loading Fail", MB_ERROR},
    {STAGE_POWER, RC_POWER_OFFLINE,
     "AC Adaptor is Offline.\nPlease put on the AC Adaptor and press \"Yes\" to continue,\nor press \"No\" to exit.",
     "AC Offline!!", MB_YESNO | MB_ICONERROR},
    {STAGE_POWER, RC_POWER_UNKNOWN,
     "AC Adaptor is Offline.\nPlease put on the AC Adaptor and press \"Yes\" to continue,\nor press \"No\" to exit.",
     "AC Offline!!", MB_YESNO | MB_ICONERROR},
    {STAGE_MACHINE, RC_MACHINE_TIMEOUT,
     "Get BIOS VERSION from this machine time out!\nPlease run this utility again.", "Get BIOS Version Fail", MB_ERROR},
    {STAGE_MACHINE, RC_NOT_FOUND, "Load BIOSVER.EXE fail!\nDownload the latest one and try again.",
     "Get BIOS Version Fail", MB_ERROR},
    {STAGE_MACHINE, RC_MACHINE_VERSION,
     "Get BIOS VERSION from this machine fail!\nDownload the latest one and try again.", "Get BIOS Version Fail",
     MB_ERROR},
    {STAGE_IMAGE, RC_IMAGE_OPEN,
     "Open BIOS ROM file error/BIOS ROM file not exist.\nDownload the latest one and try again.",
     "Get BIOS Version Fail", MB_ERROR},
    {STAGE_IMAGE, RC_IMAGE_VERSION,
     "Get BIOS VERSION from BIOS ROM file fail!\nDownload the latest one and try again.", "Get BIOS Version Fail",
     MB_ERROR},
    {STAGE_CONFIRM, RC_SUCCESS,
     "The BIOS VERSION of this machine is : \"%s\",\nThe BIOS VERSION to upgrade is : \"%s\".\nDo you want to continue?",
     "Confirm to Upgrade", MB_YESNO | MB_ICONQUESTION},
    {STAGE_FLASHER, RC_FLASHER_START,
     "Load WinKestrom fail.\nMake sure KSTGATE is in the same directory of WinKestrom.", "Loading Fail", MB_ERROR},
    {STAGE_FLASHER, RC_FLASHER_WINDOW,
     "The WinKestrom seems not correct.\nMake sure the WinKestrom is the correct version.", "Incorrect", MB_ERROR},
    {STAGE_FLASHER, RC_FLASH_BUTTON,
     "Could not find the \"Flash BIOS\" button.\nMake sure the WinKestrom is the correct version.", "Not Found",
     MB_ERROR},
};

const RESULTMESSAGE* FindResultMessage(int nStage, int nCode)
{
    for (const RESULTMESSAGE& message : g_aMessages)
        if (message.nStage == nStage && message.nCode == nCode)
            return &message;
    return NULL;
}

void FailAssertion(LPCSTR lpCondition)
{
    MessageBoxA(NULL, lpCondition, "Error", MB_OK | MB_ICONERROR);
    AbortProcess();
}
