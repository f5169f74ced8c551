// The flasher takeover: start the flasher, find its dialog, press its Flash
// BIOS button with the dialog showing a busy caption and its controls locked,
// give the dialog back, wait for the flasher's end and remove its leftovers.
// The launcher acts here for the user at that dialog, so it does only what
// that user could: it touches only windows of the process it started, and
// presses the button only while the flasher lets it be pressed.
#include "flasher/flasher.h"

#include <cstdlib>
#include <cstring>

#include "launch/loader.h"
#include "launch/results.h"
#include "settings/pathrule.h"

HWND g_hFlasherWnd = NULL;
char g_szFlasherTitle[FLASHER_TITLE_SIZE];

// Starts the flasher with a private, writable copy of the whole command line
// (CreateProcessA may write into it), sized to the line so that nothing is
// cut off.
static BOOL StartFlasher(LPCSTR lpCmdLine, PROCESS_INFORMATION* lpProcessInfo)
{
    if (!lpCmdLine)
        return FALSE;
    size_t nLength = strlen(lpCmdLine);
    LPSTR lpCommand = (LPSTR)malloc(nLength + 1);
    if (!lpCommand)
        return FALSE;
    memcpy(lpCommand, lpCmdLine, nLength + 1);

    STARTUPINFOA startupInfo;
    memset(&startupInfo, 0, sizeof startupInfo);
    startupInfo.cb = sizeof startupInfo;
    BOOL bStarted = CreateProcessA(NULL, lpCommand, NULL, NULL, FALSE,
                                   CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | CREATE_NEW_PROCESS_GROUP, NULL,
                                   NULL, &startupInfo, lpProcessInfo);
    free(lpCommand);
    return bStarted;
}

// The first top-level window of class lpClass and caption lpCaption (both
// letter case aside) that belongs to process dwProcessId, or NULL: windows
// of that name made by any other program are passed over. One call is one
// search, a walk over the matching windows in the system's order; the walk
// is bounded in case windows come and go under it.
static HWND FindProcessWindow(LPCSTR lpClass, LPCSTR lpCaption, DWORD dwProcessId)
{
    HWND hWnd = NULL;
    for (int nSeen = 0; nSeen < FLASHER_WALK_LIMIT; nSeen++) {
        hWnd = FindWindowExA(NULL, hWnd, lpClass, lpCaption);
        if (!hWnd)
            return NULL;
        DWORD dwOwner = 0;
        if (GetWindowThreadProcessId(hWnd, &dwOwner) && dwOwner == dwProcessId)
            return hWnd;
    }
    return NULL;
}

// Searches for the flasher's dialog until it is found or the searches are
// used up; every search is followed by a short pause, none precedes the
// first. Leaves the result in g_hFlasherWnd.
static void FindFlasherWindow(DWORD dwProcessId)
{
    int nCount = 0;
    while (!g_hFlasherWnd) {
        g_hFlasherWnd = FindProcessWindow(FLASHER_WINDOW_CLASS, LoaderSettings.Title, dwProcessId);
        Sleep(FLASHER_SEARCH_PAUSE_MS);
        nCount++;
        if (nCount > FLASHER_SEARCH_LIMIT)
            break;
    }
}

// The Flash BIOS button: control 101 of the dialog, or else a top-level
// button of that caption made by the flasher. *phControl receives control
// 101, NULL when the fallback was taken.
static BOOL FindFlashButton(DWORD dwProcessId, HWND* phControl)
{
    *phControl = GetDlgItem(g_hFlasherWnd, IDC_FLASH_BIOS);
    if (*phControl)
        return TRUE;
    return FindProcessWindow(FLASH_BUTTON_CLASS, FLASH_BUTTON_CAPTION, dwProcessId) != NULL;
}

// A user can press control 101 only while both it and its dialog are
// enabled (a flasher showing a box of its own has its dialog disabled).
// Checks that at once and then after every pause, at most as many times as
// the window is searched for: about five seconds.
static BOOL WaitUntilPressable(HWND hControl)
{
    for (int nCount = 1;; nCount++) {
        if (IsWindowEnabled(hControl) && IsWindowEnabled(g_hFlasherWnd))
            return TRUE;
        if (nCount > FLASHER_SEARCH_LIMIT)
            return FALSE;
        Sleep(FLASHER_SEARCH_PAUSE_MS);
    }
}

static void CloseFlasherHandles(PROCESS_INFORMATION* lpProcessInfo)
{
    CloseHandle(lpProcessInfo->hProcess);
    CloseHandle(lpProcessInfo->hThread);
}

// Polls until the flasher has ended; a failed query ends the wait too.
static void WaitForFlasher(HANDLE hProcess)
{
    DWORD dwExitCode = 0;
    for (;;) {
        if (!GetExitCodeProcess(hProcess, &dwExitCode))
            break;
        Sleep(FLASHER_EXIT_POLL_MS);
        if (dwExitCode != STILL_ACTIVE)
            break;
    }
}

int RunFlasher(LPCSTR lpCmdLine)
{
    g_hFlasherWnd = NULL;
    memset(g_szFlasherTitle, 0, sizeof g_szFlasherTitle);

    PROCESS_INFORMATION processInfo;
    memset(&processInfo, 0, sizeof processInfo);
    if (!StartFlasher(lpCmdLine, &processInfo))
        return RC_FLASHER_START;

    // From here on a failure leaves the flasher running as it is: only the
    // launcher's handles to it are given up.
    FindFlasherWindow(processInfo.dwProcessId);
    if (!g_hFlasherWnd) {
        CloseFlasherHandles(&processInfo);
        return RC_FLASHER_WINDOW;
    }
    ShowWindow(g_hFlasherWnd, SW_SHOW);
    HWND hControl = NULL;
    if (!FindFlashButton(processInfo.dwProcessId, &hControl) || (hControl && !WaitUntilPressable(hControl))) {
        CloseFlasherHandles(&processInfo);
        return RC_FLASH_BUTTON;
    }

    // Nothing between taking the dialog over and giving it back can end
    // this function early, so the dialog is always given back.
    SaveFlasherTitle();
    SetFlasherBusy(FALSE);
    SendMessageA(g_hFlasherWnd, WM_COMMAND, MAKEWPARAM(IDC_FLASH_BIOS, BN_CLICKED), 0);
    SetFlasherBusy(TRUE);

    WaitForFlasher(processInfo.hProcess);
    CloseFlasherHandles(&processInfo);

    // A backup file named outside the launcher's folder is not the
    // flasher's leftover to remove: it stays where it is.
    if (IsNameInsideFolder(LoaderSettings.BackupFile))
        DeleteFileA(LoaderSettings.BackupFile);
    DeleteFileA(FLASHER_LEFTOVER_FILE);
    return RC_SUCCESS;
}

void SaveFlasherTitle()
{
    memset(g_szFlasherTitle, 0, sizeof g_szFlasherTitle);
    if (!g_hFlasherWnd)
        return;
    GetWindowTextA(g_hFlasherWnd, g_szFlasherTitle, FLASHER_TITLE_SIZE);
    g_szFlasherTitle[FLASHER_TITLE_SIZE - 1] = 0;
}

void SetFlasherBusy(BOOL bEnable)
{
    // Enumerating the children of no window would walk every top-level
    // window of the desktop instead.
    if (!g_hFlasherWnd)
        return;
    SetWindowTextA(g_hFlasherWnd, bEnable ? g_szFlasherTitle : BUSY_CAPTION);
    EnumChildWindows(g_hFlasherWnd, EnableControlProc, (LPARAM)(bEnable ? TRUE : FALSE));
}

BOOL CALLBACK EnableControlProc(HWND hwnd, LPARAM lParam)
{
    if (!hwnd)
        return FALSE;
    char szClass[CLASS_NAME_SIZE];
    memset(szClass, 0, sizeof szClass);
    GetClassNameA(hwnd, szClass, CLASS_NAME_SIZE);
    if (strcmp(szClass, SWITCHED_BUTTON_CLASS) == 0 || strcmp(szClass, SWITCHED_EDIT_CLASS) == 0)
        EnableWindow(hwnd, lParam ? TRUE : FALSE);
    return TRUE;
}
