// The flasher takeover: start the flasher, find its dialog, press its Flash
// BIOS button with the dialog showing a busy caption and its controls locked,
// give the dialog back, wait for the flasher's end and remove its leftovers.
#include "flasher/flasher.h"

#include <cstdlib>
#include <cstring>

#include "launch/loader.h"
#include "launch/results.h"

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

// Searches for the flasher's dialog until it is found or the searches are
// used up; every search is followed by a short pause, none precedes the
// first. Leaves the result in g_hFlasherWnd.
static void FindFlasherWindow()
{
    int nCount = 0;
    while (!g_hFlasherWnd) {
        g_hFlasherWnd = FindWindowA(FLASHER_WINDOW_CLASS, LoaderSettings.Title);
        Sleep(FLASHER_SEARCH_PAUSE_MS);
        nCount++;
        if (nCount > FLASHER_SEARCH_LIMIT)
            break;
    }
}

static BOOL FlashButtonPresent()
{
    if (GetDlgItem(g_hFlasherWnd, IDC_FLASH_BIOS))
        return TRUE;
    return FindWindowA(FLASH_BUTTON_CLASS, FLASH_BUTTON_CAPTION) != NULL;
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
    FindFlasherWindow();
    if (!g_hFlasherWnd) {
        CloseFlasherHandles(&processInfo);
        return RC_FLASHER_WINDOW;
    }
    ShowWindow(g_hFlasherWnd, SW_SHOW);
    if (!FlashButtonPresent()) {
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
