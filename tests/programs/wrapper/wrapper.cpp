// Stand-in for what update packages put in front of the flasher: a small
// dispatcher that starts the rest of its command line and then waits for it
// or ends at once.
//
//   KSTWRAP -wait|-nowait COMMAND_LINE
//
// Ends with 0 once it has started the command (and, with -wait, once that
// has ended), with 1 when it could not start it.
#include <windows.h>

#include <cstring>

// The command line after the program's own name and the first option.
static char* SkipTokens(char* p, int nTokens)
{
    for (int i = 0; i < nTokens; i++) {
        while (*p == ' ' || *p == '\t')
            p++;
        bool bQuoted = false;
        while (*p && (bQuoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '"')
                bQuoted = !bQuoted;
            p++;
        }
    }
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char* lpLine = GetCommandLineA();
    char* lpOption = SkipTokens(lpLine, 1);
    bool bWait = strncmp(lpOption, "-wait", 5) == 0;
    char* lpCommand = SkipTokens(lpLine, 2);
    STARTUPINFOA startupInfo;
    memset(&startupInfo, 0, sizeof startupInfo);
    startupInfo.cb = sizeof startupInfo;
    PROCESS_INFORMATION processInfo;
    if (!CreateProcessA(NULL, lpCommand, NULL, NULL, FALSE, 0, NULL, NULL, &startupInfo, &processInfo))
        return 1;
    if (bWait)
        WaitForSingleObject(processInfo.hProcess, INFINITE);
    CloseHandle(processInfo.hThread);
    CloseHandle(processInfo.hProcess);
    return 0;
}
