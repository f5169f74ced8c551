// Sample flasher for the end-to-end tests: a dialog of class "#32770" with a
// Flash BIOS button (id 101), another button, two edit boxes (one disabled),
// a static text and a list box. On the Flash BIOS command it logs what it
// sees, writes its leftovers and then ends by itself.
//
// Options: -caption TEXT, -delay MS (before the window appears), -hidden,
// -no101, -exit CODE, -stay (do not end after the command), -life MS (end
// after this long whatever happens), -flashms MS (how long flashing takes).
// Log: FLASHER.LOG in the current directory.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static FILE* g_pLog;
static HWND g_hDlg;
static int g_nExit;
static bool g_bStay;
static DWORD g_dwFlashMs = 300;

static BOOL CALLBACK LogChild(HWND hwnd, LPARAM)
{
    char szClass[64];
    GetClassNameA(hwnd, szClass, sizeof szClass);
    fprintf(g_pLog, "CTRL %s %d %d\n", szClass, GetDlgCtrlID(hwnd), IsWindowEnabled(hwnd) ? 1 : 0);
    return TRUE;
}

static void LogState(const char* lpWhen)
{
    char szCaption[520];
    GetWindowTextA(g_hDlg, szCaption, sizeof szCaption);
    fprintf(g_pLog, "%s %s\n", lpWhen, szCaption);
    EnumChildWindows(g_hDlg, LogChild, 0);
    fflush(g_pLog);
}

static void Touch(const char* lpName)
{
    FILE* pFile = fopen(lpName, "wb");
    if (pFile) {
        fputs("leftover\r\n", pFile);
        fclose(pFile);
    }
}

static INT_PTR CALLBACK DlgProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM)
{
    if (uMsg == WM_COMMAND && LOWORD(wParam) == 101) {
        LogState("COMMAND");
        char szBackup[260];
        GetPrivateProfileStringA("Main", "BackupFile", "BIOS.BAK", szBackup, sizeof szBackup, ".\\KESTROM.INI");
        Touch(szBackup);
        Touch("WINKESTROM.GID");
        Sleep(g_dwFlashMs);
        if (!g_bStay)
            SetTimer(hwnd, 1, 300, NULL);
        return TRUE;
    }
    if (uMsg == WM_TIMER && wParam == 1) {
        KillTimer(hwnd, 1);
        LogState("END");
        PostQuitMessage(g_nExit);
        return TRUE;
    }
    if (uMsg == WM_TIMER && wParam == 2) {
        PostQuitMessage(g_nExit);
        return TRUE;
    }
    if (uMsg == WM_CLOSE) {
        PostQuitMessage(g_nExit);
        return TRUE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    const char* lpCaption = "Vesmar WinKestrom";
    DWORD dwDelay = 0, dwLife = 0;
    bool bHidden = false, bNo101 = false;
    for (int i = 1; i < __argc; i++) {
        const char* a = __argv[i];
        bool bNext = i + 1 < __argc;
        if (!strcmp(a, "-caption") && bNext)
            lpCaption = __argv[++i];
        else if (!strcmp(a, "-delay") && bNext)
            dwDelay = (DWORD)atoi(__argv[++i]);
        else if (!strcmp(a, "-exit") && bNext)
            g_nExit = atoi(__argv[++i]);
        else if (!strcmp(a, "-life") && bNext)
            dwLife = (DWORD)atoi(__argv[++i]);
        else if (!strcmp(a, "-flashms") && bNext)
            g_dwFlashMs = (DWORD)atoi(__argv[++i]);
        else if (!strcmp(a, "-hidden"))
            bHidden = true;
        else if (!strcmp(a, "-no101"))
            bNo101 = true;
        else if (!strcmp(a, "-stay"))
            g_bStay = true;
    }
    g_pLog = fopen("FLASHER.LOG", "ab");
    if (!g_pLog)
        return 1;
    fprintf(g_pLog, "CMDLINE %s\n", GetCommandLineA());
    fflush(g_pLog);
    Sleep(dwDelay);

    g_hDlg = CreateWindowExA(0, "#32770", lpCaption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 200, 150, 420,
                             260, NULL, NULL, hInstance, NULL);
    SetWindowLongPtrA(g_hDlg, DWLP_DLGPROC, (LONG_PTR)DlgProc);
    HFONT hFont = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    struct {
        const char* lpClass;
        const char* lpText;
        int nId;
        DWORD dwStyle;
        int x, y, w, h;
    } controls[] = {
        {"Button", "Flash BIOS", 101, BS_PUSHBUTTON, 20, 170, 110, 28},
        {"Button", "Exit", 102, BS_PUSHBUTTON, 280, 170, 110, 28},
        {"Static", "BIOS image:", 301, SS_LEFT, 20, 20, 100, 20},
        {"Edit", "FLASHABL.ROM", 201, ES_LEFT | WS_BORDER, 120, 18, 270, 22},
        {"Edit", "read-only", 202, ES_LEFT | WS_BORDER | WS_DISABLED, 120, 50, 270, 22},
        {"ListBox", "", 401, WS_BORDER, 20, 85, 370, 70},
    };
    for (auto& c : controls) {
        if (bNo101 && c.nId == 101)
            continue;
        HWND hCtrl = CreateWindowExA(0, c.lpClass, c.lpText, WS_CHILD | WS_VISIBLE | c.dwStyle, c.x, c.y, c.w, c.h,
                                     g_hDlg, (HMENU)(INT_PTR)c.nId, hInstance, NULL);
        SendMessageA(hCtrl, WM_SETFONT, (WPARAM)hFont, TRUE);
        if (c.nId == 401)
            SendMessageA(hCtrl, LB_ADDSTRING, 0, (LPARAM) "Ready to flash.");
    }
    if (!bHidden)
        ShowWindow(g_hDlg, SW_SHOW);
    if (dwLife)
        SetTimer(g_hDlg, 2, dwLife, NULL);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(g_hDlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    fclose(g_pLog);
    return g_nExit;
}
