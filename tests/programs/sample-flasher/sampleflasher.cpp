// Sample flasher for the end-to-end tests: a dialog of class "#32770" with a
// Flash BIOS button (id 101), another button, two edit boxes (one disabled),
// a static text and a list box. On the Flash BIOS command it logs what it
// sees, writes its leftovers and then ends by itself.
//
// Options: -caption TEXT, -delay MS (before the window appears), -hidden,
// -no101, -exit CODE, -stay (do not end after the command), -life MS (end
// after this long whatever happens), -flashms MS (how long flashing takes),
// -disable101 MS (the Flash BIOS button starts disabled, and the flasher
// enables it after MS; 0: never), -disabledlg MS (the same for the whole
// dialog, as while a box of its own is open), -setupms MS (once shown, the
// dialog is still set up for MS, handling no message meanwhile),
// -setupdisable (that set-up ends by disabling Flash BIOS for good),
// -setuptimer MS (that set-up runs from a timer MS after the dialog is up),
// -gidatexit (writes WINKESTROM.GID again just before it ends), -prebox MS
// (before the dialog, a box captioned as the dialog, which its user answers
// after MS).
// Log: FLASHER.LOG in the current directory:
//   CMDLINE <command line>         at the start
//   BOX ANSWERED                   the box of -prebox is gone
//   READY                          the dialog and its controls are made
//   SELF ENABLE <id>|DIALOG        the flasher enables it on its own
//   SETTEXT <caption>              the dialog's caption is set
//   ENABLE <id>|DIALOG <0|1>       a control, or the dialog, is enabled or disabled
//   SHOW <0|1>                     the dialog is shown or hidden
//   WMCOMMAND <id> <code>          every command the dialog receives
//   COMMAND <caption>, CTRL <class> <id> <enabled>...   the Flash BIOS command: what it sees
//   END <caption>, CTRL ...        before it ends after the command
// Nothing after READY but SELF lines and what they cause means that no
// other program touched the dialog.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static FILE* g_pLog;
static HWND g_hDlg;
static int g_nExit;
static bool g_bStay;
static DWORD g_dwFlashMs = 300;
static bool g_bReady;
static bool g_bGidAtExit;

#define TIMER_END 1
#define TIMER_LIFE 2
#define TIMER_ENABLE_BUTTON 3
#define TIMER_ENABLE_DIALOG 4
#define TIMER_SETUP 5

static DWORD g_dwSetUpMs;
static bool g_bSetUpDisables;

// Work done while setting the dialog up: the thread handles no message
// until it is over.
static void SetUp()
{
    if (g_dwSetUpMs) {
        Sleep(g_dwSetUpMs);
        fputs("SETUP DONE\n", g_pLog);
    }
    if (g_bSetUpDisables)
        EnableWindow(GetDlgItem(g_hDlg, 101), FALSE);
}

// The user of the -prebox box answers it.
static BOOL CALLBACK AnswerBox(HWND hwnd, LPARAM) { return PostMessageA(hwnd, WM_COMMAND, IDOK, 0); }
static VOID CALLBACK AnswerBoxes(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), AnswerBox, 0); }

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

// A line of the log, once the dialog is ready: what happens to it.
static void Log(const char* lpFormat, ...)
{
    if (!g_bReady)
        return;
    va_list args;
    va_start(args, lpFormat);
    vfprintf(g_pLog, lpFormat, args);
    va_end(args);
    fflush(g_pLog);
}

// Every control logs its WM_ENABLE; the window procedure it had before is
// kept in its user data.
static LRESULT CALLBACK ControlProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_ENABLE) {
        Log("ENABLE %d %d\n", GetDlgCtrlID(hwnd), wParam ? 1 : 0);
    }
    WNDPROC lpfnOld = (WNDPROC)GetWindowLongPtrA(hwnd, GWLP_USERDATA);
    return CallWindowProcA(lpfnOld, hwnd, uMsg, wParam, lParam);
}

static INT_PTR CALLBACK DlgProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_SETTEXT) {
        Log("SETTEXT %s\n", (const char*)lParam);
        return FALSE;
    }
    if (uMsg == WM_ENABLE) {
        Log("ENABLE DIALOG %d\n", wParam ? 1 : 0);
        return FALSE;
    }
    if (uMsg == WM_SHOWWINDOW) {
        Log("SHOW %d\n", wParam ? 1 : 0);
        return FALSE;
    }
    if (uMsg == WM_COMMAND) {
        Log("WMCOMMAND %u %u\n", (unsigned)LOWORD(wParam), (unsigned)HIWORD(wParam));
    }
    if (uMsg == WM_TIMER && (wParam == TIMER_ENABLE_BUTTON || wParam == TIMER_ENABLE_DIALOG)) {
        KillTimer(hwnd, wParam);
        Log("SELF ENABLE %s\n", wParam == TIMER_ENABLE_BUTTON ? "101" : "DIALOG");
        EnableWindow(wParam == TIMER_ENABLE_BUTTON ? GetDlgItem(hwnd, 101) : hwnd, TRUE);
        return TRUE;
    }
    if (uMsg == WM_TIMER && wParam == TIMER_SETUP) {
        KillTimer(hwnd, TIMER_SETUP);
        g_bReady = false;  // its own changes are not another program's
        SetUp();
        g_bReady = true;
        return TRUE;
    }
    if (uMsg == WM_COMMAND && LOWORD(wParam) == 101) {
        LogState("COMMAND");
        char szBackup[260];
        GetPrivateProfileStringA("Main", "BackupFile", "BIOS.BAK", szBackup, sizeof szBackup, ".\\KESTROM.INI");
        Touch(szBackup);
        Touch("WINKESTROM.GID");
        Sleep(g_dwFlashMs);
        if (!g_bStay)
            SetTimer(hwnd, TIMER_END, 300, NULL);
        return TRUE;
    }
    if (uMsg == WM_TIMER && wParam == TIMER_END) {
        KillTimer(hwnd, TIMER_END);
        LogState("END");
        PostQuitMessage(g_nExit);
        return TRUE;
    }
    if (uMsg == WM_TIMER && wParam == TIMER_LIFE) {
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
    int nButtonOffMs = -1, nDialogOffMs = -1;
    int nSetUpTimerMs = -1, nPreBoxMs = -1;
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
        else if (!strcmp(a, "-disable101") && bNext)
            nButtonOffMs = atoi(__argv[++i]);
        else if (!strcmp(a, "-disabledlg") && bNext)
            nDialogOffMs = atoi(__argv[++i]);
        else if (!strcmp(a, "-setupms") && bNext)
            g_dwSetUpMs = (DWORD)atoi(__argv[++i]);
        else if (!strcmp(a, "-setuptimer") && bNext)
            nSetUpTimerMs = atoi(__argv[++i]);
        else if (!strcmp(a, "-prebox") && bNext)
            nPreBoxMs = atoi(__argv[++i]);
        else if (!strcmp(a, "-setupdisable"))
            g_bSetUpDisables = true;
        else if (!strcmp(a, "-gidatexit"))
            g_bGidAtExit = true;
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
    if (nPreBoxMs >= 0) {
        UINT_PTR nTimer = SetTimer(NULL, 0, (UINT)nPreBoxMs, AnswerBoxes);
        MessageBoxA(NULL, "Do not switch the computer off while the BIOS is written.", lpCaption, MB_OK);
        KillTimer(NULL, nTimer);
        fputs("BOX ANSWERED\n", g_pLog);
    }

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
        DWORD dwDisabled = c.nId == 101 && nButtonOffMs >= 0 ? WS_DISABLED : 0;
        HWND hCtrl = CreateWindowExA(0, c.lpClass, c.lpText, WS_CHILD | WS_VISIBLE | c.dwStyle | dwDisabled, c.x, c.y,
                                     c.w, c.h, g_hDlg, (HMENU)(INT_PTR)c.nId, hInstance, NULL);
        SetWindowLongPtrA(hCtrl, GWLP_USERDATA, SetWindowLongPtrA(hCtrl, GWLP_WNDPROC, (LONG_PTR)ControlProc));
        SendMessageA(hCtrl, WM_SETFONT, (WPARAM)hFont, TRUE);
        if (c.nId == 401)
            SendMessageA(hCtrl, LB_ADDSTRING, 0, (LPARAM) "Ready to flash.");
    }
    if (nDialogOffMs >= 0)
        EnableWindow(g_hDlg, FALSE);
    if (!bHidden)
        ShowWindow(g_hDlg, SW_SHOW);
    // The rest of the set-up, with the dialog up: at once, or later from
    // a timer.
    if (nSetUpTimerMs >= 0)
        SetTimer(g_hDlg, TIMER_SETUP, (UINT)nSetUpTimerMs, NULL);
    else
        SetUp();
    if (dwLife)
        SetTimer(g_hDlg, TIMER_LIFE, dwLife, NULL);
    if (nButtonOffMs > 0)
        SetTimer(g_hDlg, TIMER_ENABLE_BUTTON, (UINT)nButtonOffMs, NULL);
    if (nDialogOffMs > 0)
        SetTimer(g_hDlg, TIMER_ENABLE_DIALOG, (UINT)nDialogOffMs, NULL);
    fputs("READY\n", g_pLog);
    fflush(g_pLog);
    g_bReady = true;

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(g_hDlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    fclose(g_pLog);
    if (g_bGidAtExit)
        Touch("WINKESTROM.GID");
    return g_nExit;
}
