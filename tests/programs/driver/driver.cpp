// Test driver: starts KSTGATE.exe, answers its message boxes as a user
// would, and prints every box and the launcher's exit code.
//
//   kstdriver TIMEOUT_S ANSWERS COMMAND_LINE
//
// ANSWERS is a comma-separated list used box by box: YES, NO, OK, or
// SECOND+<answer> to run a second launcher with the same command line
// (and print its exit code) before answering; "-" for none. Boxes beyond the
// list get OK (OK boxes) or NO (Yes/No boxes). The arguments come as UTF-16
// and the launcher is started with CreateProcessW, so a path in any script
// reaches it whole. Output lines:
//   BOX <caption>|<text>|<buttons>      (text with \n and \t escaped)
//   SECOND <code>
//   EXIT <code>                          (signed 32-bit)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static DWORD g_dwPid;
static std::vector<HWND> g_handled;
static HWND g_hFound;

static BOOL CALLBACK FindBox(HWND hwnd, LPARAM)
{
    char szClass[64];
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hwnd, &dwPid);
    if (dwPid != g_dwPid || !IsWindowVisible(hwnd))
        return TRUE;
    GetClassNameA(hwnd, szClass, sizeof szClass);
    if (strcmp(szClass, "#32770") != 0)
        return TRUE;
    for (HWND h : g_handled)
        if (h == hwnd)
            return TRUE;
    g_hFound = hwnd;
    return FALSE;
}

static std::string Escape(const char* lpText)
{
    std::string s;
    for (const char* p = lpText; *p; p++) {
        if (*p == '\n')
            s += "\\n";
        else if (*p == '\t')
            s += "\\t";
        else if (*p == '\r')
            s += "\\r";
        else
            s += *p;
    }
    return s;
}

static DWORD RunAndWait(const wchar_t* lpCommandLine, PROCESS_INFORMATION* pi)
{
    STARTUPINFOW si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    // Wine on a loaded machine now and then fails a start with an internal
    // error before the new process runs any of its code; only that failure
    // is tried again.
    for (int nTry = 1;; nTry++) {
        std::wstring strCommand = lpCommandLine;
        if (CreateProcessW(NULL, &strCommand[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, pi))
            return 0;
        DWORD dwError = GetLastError();
        if (dwError != ERROR_INTERNAL_ERROR || nTry == 3) {
            printf("STARTFAIL %lu\n", dwError);
            exit(3);
        }
        fprintf(stderr, "kstdriver: start failed with an internal error, trying again\n");
        Sleep(500);
    }
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: kstdriver TIMEOUT_S ANSWERS COMMAND_LINE\n");
        return 2;
    }
    DWORD dwTimeout = (DWORD)_wtoi(argv[1]) * 1000;
    std::vector<std::string> answers;
    if (wcscmp(argv[2], L"-") != 0) {
        // The answers are ASCII words.
        std::string strAll;
        for (const wchar_t* p = argv[2]; *p; p++)
            strAll += (char)*p;
        size_t nPos = 0;
        while (nPos <= strAll.size()) {
            size_t nComma = strAll.find(',', nPos);
            if (nComma == std::string::npos)
                nComma = strAll.size();
            answers.push_back(strAll.substr(nPos, nComma - nPos));
            nPos = nComma + 1;
        }
    }
    const wchar_t* lpCommandLine = argv[3];

    PROCESS_INFORMATION pi;
    RunAndWait(lpCommandLine, &pi);
    g_dwPid = pi.dwProcessId;
    DWORD dwStart = GetTickCount();
    size_t nBox = 0;
    for (;;) {
        if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - dwStart > dwTimeout) {
            printf("TIMEOUT\n");
            TerminateProcess(pi.hProcess, 99);
            return 4;
        }
        g_hFound = NULL;
        EnumWindows(FindBox, 0);
        if (!g_hFound)
            continue;
        HWND hBox = g_hFound;
        Sleep(100);  // let the box finish drawing
        char szCaption[512] = {0}, szText[2048] = {0};
        GetWindowTextA(hBox, szCaption, sizeof szCaption);
        GetDlgItemTextA(hBox, 0xFFFF, szText, sizeof szText);
        std::string strButtons;
        if (GetDlgItem(hBox, IDOK))
            strButtons += "OK";
        if (GetDlgItem(hBox, IDYES))
            strButtons += strButtons.empty() ? "YES" : ",YES";
        if (GetDlgItem(hBox, IDNO))
            strButtons += strButtons.empty() ? "NO" : ",NO";
        printf("BOX %s|%s|%s\n", szCaption, Escape(szText).c_str(), strButtons.c_str());
        fflush(stdout);
        std::string strAnswer = nBox < answers.size() ? answers[nBox] : "";
        nBox++;
        if (strAnswer.compare(0, 7, "SECOND+") == 0) {
            PROCESS_INFORMATION second;
            RunAndWait(lpCommandLine, &second);
            if (WaitForSingleObject(second.hProcess, 20000) != WAIT_OBJECT_0) {
                printf("SECOND TIMEOUT\n");
                TerminateProcess(second.hProcess, 99);
            } else {
                DWORD dwCode = 0;
                GetExitCodeProcess(second.hProcess, &dwCode);
                printf("SECOND %d\n", (int)dwCode);
            }
            strAnswer = strAnswer.substr(7);
        }
        int nId = GetDlgItem(hBox, IDYES) ? IDNO : IDOK;
        if (strAnswer == "YES")
            nId = IDYES;
        else if (strAnswer == "NO")
            nId = IDNO;
        else if (strAnswer == "OK")
            nId = IDOK;
        g_handled.push_back(hBox);
        PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)GetDlgItem(hBox, nId));
    }
    DWORD dwCode = 0;
    GetExitCodeProcess(pi.hProcess, &dwCode);
    printf("EXIT %d\n", (int)dwCode);
    return 0;
}
