// The machine's BIOS version, as the probe program BIOSVER.EXE reports it in
// its answer file BV.
#include <cstring>

#include "checks/checks.h"
#include "launch/messages.h"
#include "launch/names.h"
#include "launch/results.h"
#include "settings/inireader.h"

#define PROBE_FAILED_EXIT_CODE 65531u
// How long the probe may run before the launcher gives up on it.
#define PROBE_TIMEOUT_MS 30000u

int GetMachineBiosVersion(LPSTR lpBuffer, DWORD dwSize)
{
    if (!lpBuffer || dwSize == 0)
        FailAssertion("!lpBuffer || dwSize==0");
    memset(lpBuffer, 0, dwSize);

    // The start looks in the current directory only, so that is where the
    // program must be; a copy elsewhere on the search path does not count.
    if (!IsPlainFile(PROBE_PROGRAM))
        return RC_NOT_FOUND;

    // An answer left by an earlier run must never pass for this machine's:
    // when it cannot be removed, no answer can be trusted.
    DeleteFileA(PROBE_ANSWER_FILE);
    if (GetFileKind(PROBE_ANSWER_FILE) != FILE_KIND_NONE)
        return RC_MACHINE_VERSION;

    // The bound counts from just before the start, by the system clock.
    DWORD dwStart = GetTickCount();
    STARTUPINFOA startupInfo;
    PROCESS_INFORMATION processInfo;
    memset(&startupInfo, 0, sizeof startupInfo);
    memset(&processInfo, 0, sizeof processInfo);
    startupInfo.cb = sizeof startupInfo;
    if (!CreateProcessA(PROBE_PROGRAM, NULL, NULL, NULL, FALSE, CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, NULL,
                        NULL, &startupInfo, &processInfo))
        return RC_NOT_FOUND;

    DWORD dwExitCode = 0;
    BOOL bTimedOut = FALSE;
    for (;;) {
        if (!GetExitCodeProcess(processInfo.hProcess, &dwExitCode))
            break;
        Sleep(1);
        if (dwExitCode != STILL_ACTIVE)
            break;
        if (GetTickCount() - dwStart >= PROBE_TIMEOUT_MS) {
            bTimedOut = TRUE;
            break;
        }
    }
    CloseHandle(processInfo.hProcess);
    CloseHandle(processInfo.hThread);

    // A probe that overran is left alone, and so is whatever it may still write.
    if (bTimedOut)
        return RC_MACHINE_TIMEOUT;
    if (dwExitCode == PROBE_FAILED_EXIT_CODE)
        return RC_MACHINE_VERSION;

    DWORD dwLength = ReadIniValue(PROBE_ANSWER_FILE, PROBE_SECTION, PROBE_KEY, lpBuffer,
                                  dwSize < BVSIZE ? dwSize : BVSIZE);
    DeleteFileA(PROBE_ANSWER_FILE);
    return dwLength ? RC_SUCCESS : RC_MACHINE_VERSION;
}
