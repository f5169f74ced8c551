// The launch sequence: guard, help, working directory, settings, the checks,
// the confirmation and the flasher, in this order.
#include <cstdlib>
#include <cstring>

#include "checks/checks.h"
#include "flasher/flasher.h"
#include "launch/boxes.h"
#include "launch/loader.h"
#include "launch/messages.h"
#include "launch/results.h"
#include "settings/codepage.h"

// The single-instance guard: never owned and never closed, so it lasts until
// the process ends.
static HANDLE g_hGuardMutex = NULL;

// The buffer for the module path doubles from MAX_PATH while it stays within
// this many UTF-16 units (the last try holds 16,640); a longer path cannot
// be read, and the launcher stops. No folder that long could be made current
// anyway: the launcher is not long-path aware.
#define MODULE_PATH_LIMIT 32768

typedef BOOL(WINAPI* SETDEFAULTDLLDIRECTORIES)(DWORD);

void RestrictDllSearch()
{
    HMODULE hKernel = GetModuleHandleA("KERNEL32.DLL");
    // Through the plain function pointer type, which any function pointer
    // may be converted to without a warning.
    SETDEFAULTDLLDIRECTORIES lpfnSetDefaultDllDirectories =
        hKernel ? (SETDEFAULTDLLDIRECTORIES)(void (*)())GetProcAddress(hKernel, "SetDefaultDllDirectories") : NULL;
    if (lpfnSetDefaultDllDirectories && lpfnSetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    SetDllDirectoryA("");
}

LPCSTR GetCommandTail(LPCSTR lpCommandLine)
{
    LPCSTR p = lpCommandLine;
    if (!p)
        return "";
    if (*p == '"') {
        p++;
        while (*p && *p != '"')
            p = NextCharAcp(p);
        if (*p == '"')
            p++;
    } else {
        while ((BYTE)*p > 0x20)
            p++;
    }
    while ((BYTE)*p >= 0x01 && (BYTE)*p <= 0x20)
        p++;
    return p;
}

BOOL SetWorkDirToExeDir()
{
    // The launcher's own file, whatever its parent passed as the first
    // token of the command line. Asked for in UTF-16, so that a folder
    // named in letters the ANSI code page lacks is still found.
    LPWSTR lpPath = NULL;
    for (DWORD dwCapacity = MAX_PATH; dwCapacity <= MODULE_PATH_LIMIT; dwCapacity *= 2) {
        lpPath = (LPWSTR)calloc(dwCapacity + 1, sizeof(WCHAR));
        if (!lpPath)
            return FALSE;
        DWORD dwLength = GetModuleFileNameW(NULL, lpPath, dwCapacity);
        if (dwLength == 0) {
            free(lpPath);
            return FALSE;
        }
        if (dwLength < dwCapacity)
            break;
        free(lpPath);
        lpPath = NULL;
    }
    if (!lpPath)
        return FALSE;

    // A backslash is never part of another UTF-16 character.
    LPWSTR lpSlash = NULL;
    for (LPWSTR p = lpPath; *p; p++)
        if (*p == '\\')
            lpSlash = p;
    if (lpSlash) {
        // A file in a drive's root keeps the root, not the drive's own
        // current directory that "C:" alone would mean.
        BOOL bRoot = lpSlash == lpPath || (lpSlash == lpPath + 2 && lpPath[1] == ':');
        lpSlash[bRoot ? 1 : 0] = 0;
    }
    BOOL bChanged = SetCurrentDirectoryW(lpPath);
    free(lpPath);
    return bChanged;
}

int RunLauncher(LPCSTR lpCmdLine)
{
    g_hGuardMutex = CreateMutexA(NULL, FALSE, MUTEX_NAME);
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return RC_SUCCESS;
    if (!g_hGuardMutex) {
        ShowResultMessage(STAGE_INIT, RC_MUTEX);
        return RC_MUTEX;
    }

    if (!lpCmdLine || !*lpCmdLine) {
        ShowResultMessage(STAGE_HELP, RC_HELP);
        return RC_HELP;
    }

    // Anywhere else, the settings, the probe and the image could be another
    // package's, while the flasher would come from the launcher's folder.
    if (!SetWorkDirToExeDir() || !IsPlainFile(SETTINGS_FILE)) {
        ShowResultMessage(STAGE_SETTINGS, RC_NOT_FOUND);
        return RC_NOT_FOUND;
    }
    LoadSettings();

    // Only a No, or a box that could not be shown, ends the AC prompt.
    int nCode;
    while ((nCode = CheckAcPower()) != RC_SUCCESS) {
        int nAnswer = ShowResultMessage(STAGE_POWER, nCode);
        if (nAnswer == IDNO || nAnswer == 0)
            return nCode;
    }

    char szMachineVersion[FIELD_SIZE];
    char szImageVersion[FIELD_SIZE];
    memset(szMachineVersion, 0, sizeof szMachineVersion);
    memset(szImageVersion, 0, sizeof szImageVersion);

    nCode = GetMachineBiosVersion(szMachineVersion, sizeof szMachineVersion);
    if (nCode != RC_SUCCESS) {
        ShowResultMessage(STAGE_MACHINE, nCode);
        return nCode;
    }
    nCode = GetImageBiosVersion(szImageVersion, sizeof szImageVersion);
    if (nCode != RC_SUCCESS) {
        ShowResultMessage(STAGE_IMAGE, nCode);
        return nCode;
    }

    // Nothing is flashed unless the user really answered Yes.
    if (ShowConfirmation(szMachineVersion, szImageVersion) != IDYES)
        return RC_DECLINED;

    nCode = RunFlasher(lpCmdLine);
    if (nCode != RC_SUCCESS) {
        ShowResultMessage(STAGE_FLASHER, nCode);
        return nCode;
    }
    return RC_SUCCESS;
}
