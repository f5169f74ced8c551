// The flasher takeover: start the flasher, find its dialog, press its Flash
// BIOS button with the dialog showing a busy caption and its controls locked,
// give the dialog back, wait for the flasher's end and remove its leftovers.
// The launcher acts here for the user at that dialog, so it does only what
// that user could: it touches only windows of the flasher it started (that
// process, or one it started in turn, as behind a wrapper or a batch file),
// and presses the button only once the flasher has set its dialog up and
// while it lets the button be pressed.
#include "flasher/flasher.h"

#include <cstdlib>
#include <cstring>

#include "launch/loader.h"
#include "launch/results.h"
#include "settings/pathrule.h"

HWND g_hFlasherWnd = NULL;
char g_szFlasherTitle[FLASHER_TITLE_SIZE];

// What the launcher holds of the flasher it started: the process and its
// first thread, the job that every process it starts joins (NULL when no job
// could be had: then the started process alone counts), and the process
// that owns the dialog when that is another one (a flasher behind a wrapper
// or a batch file).
struct FlasherRun {
    PROCESS_INFORMATION processInfo;
    HANDLE hJob;
    HANDLE hDialogProcess;
    BOOL bDialogLocked;  // the launcher disabled the dialog
};

// A job for the flasher and whatever it starts. It limits nothing: a
// program in it may still start another outside it, and closing it ends
// nothing. NULL when it cannot be made or the process cannot join it (an
// older Windows, whose own job around the launcher allows no other).
static HANDLE MakeFlasherJob(HANDLE hProcess)
{
    HANDLE hJob = CreateJobObjectA(NULL, NULL);
    if (!hJob)
        return NULL;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(hJob, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !AssignProcessToJobObject(hJob, hProcess)) {
        CloseHandle(hJob);
        return NULL;
    }
    return hJob;
}

static void CloseFlasherHandles(FlasherRun* lpRun)
{
    CloseHandle(lpRun->processInfo.hProcess);
    CloseHandle(lpRun->processInfo.hThread);
    if (lpRun->hJob)
        CloseHandle(lpRun->hJob);
    if (lpRun->hDialogProcess)
        CloseHandle(lpRun->hDialogProcess);
    memset(lpRun, 0, sizeof *lpRun);
}

// Starts the flasher with a private, writable copy of the whole command line
// (CreateProcessA may write into it), sized to the line so that nothing is
// cut off. It starts suspended and runs only once it is in its job, so that
// nothing it starts can miss the job.
static BOOL StartFlasher(LPCSTR lpCmdLine, FlasherRun* lpRun)
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
                                   CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | CREATE_NEW_PROCESS_GROUP |
                                       CREATE_SUSPENDED,
                                   NULL, NULL, &startupInfo, &lpRun->processInfo);
    free(lpCommand);
    if (!bStarted)
        return FALSE;
    lpRun->hJob = MakeFlasherJob(lpRun->processInfo.hProcess);
    if (ResumeThread(lpRun->processInfo.hThread) == (DWORD)-1) {
        // It never ran a single instruction of its own: ending it loses
        // nothing, and leaves no suspended process behind.
        TerminateProcess(lpRun->processInfo.hProcess, 1);
        CloseFlasherHandles(lpRun);
        return FALSE;
    }
    return TRUE;
}

// Whether process dwProcessId is the started flasher or one that it started,
// directly or further down (a member of its job). *phProcess receives a
// handle to such another process, which the caller closes; NULL for the
// started one or when none is wanted.
static BOOL IsFlasherProcess(const FlasherRun* lpRun, DWORD dwProcessId, HANDLE* phProcess)
{
    if (phProcess)
        *phProcess = NULL;
    if (dwProcessId == lpRun->processInfo.dwProcessId)
        return TRUE;
    if (!lpRun->hJob || !dwProcessId)
        return FALSE;
    // The handle that answers the question is the one kept for the wait, so
    // that both are of the same process even if ids are reused meanwhile.
    // Windows answers for a handle with the limited query right, which it
    // grants more widely; some systems answer only for the full one.
    static const DWORD adwAccess[] = {PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                      PROCESS_QUERY_INFORMATION | SYNCHRONIZE};
    for (size_t i = 0; i < sizeof adwAccess / sizeof adwAccess[0]; i++) {
        HANDLE hProcess = OpenProcess(adwAccess[i], FALSE, dwProcessId);
        if (!hProcess)
            continue;
        BOOL bInJob = FALSE;
        if (!IsProcessInJob(hProcess, lpRun->hJob, &bInJob)) {
            CloseHandle(hProcess);
            continue;
        }
        if (bInJob && phProcess)
            *phProcess = hProcess;
        else
            CloseHandle(hProcess);
        return bInJob;
    }
    return FALSE;
}

// Whether a window shows itself: its own style, whatever its parent's.
static BOOL IsShown(HWND hWnd)
{
    return (GetWindowLongA(hWnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

// The first top-level window of class lpClass and caption lpCaption (both
// letter case aside) made by the flasher, and accepted by lpfnAccept when
// one is given, or NULL: windows of that name made by any other program are
// passed over. *phPassedOver receives the last window of the flasher that
// lpfnAccept refused. One call is one search, a walk over the matching
// windows in the system's order; the walk is bounded in case windows come
// and go under it. *phProcess as for IsFlasherProcess.
static HWND FindFlasherProcessWindow(const FlasherRun* lpRun, LPCSTR lpClass, LPCSTR lpCaption,
                                     BOOL (*lpfnAccept)(const FlasherRun*, HWND), HWND* phPassedOver,
                                     HANDLE* phProcess)
{
    HWND hWnd = NULL;
    for (int nSeen = 0; nSeen < FLASHER_WALK_LIMIT; nSeen++) {
        hWnd = FindWindowExA(NULL, hWnd, lpClass, lpCaption);
        if (!hWnd)
            return NULL;
        HANDLE hProcess = NULL;
        DWORD dwOwner = 0;
        if (!GetWindowThreadProcessId(hWnd, &dwOwner) || !IsFlasherProcess(lpRun, dwOwner, &hProcess))
            continue;
        if (!lpfnAccept || lpfnAccept(lpRun, hWnd)) {
            if (phProcess)
                *phProcess = hProcess;
            else if (hProcess)
                CloseHandle(hProcess);
            return hWnd;
        }
        if (hProcess)
            CloseHandle(hProcess);
        if (phPassedOver)
            *phPassedOver = hWnd;
    }
    return NULL;
}

// The Flash BIOS button of dialog hDialog: its control 101, or else a
// top-level button of that caption made by the flasher. NULL when there is
// none. Looked up afresh each time: a flasher may make it late, or make it
// again.
static HWND FindFlashButton(const FlasherRun* lpRun, HWND hDialog)
{
    HWND hControl = GetDlgItem(hDialog, IDC_FLASH_BIOS);
    if (hControl)
        return hControl;
    return FindFlasherProcessWindow(lpRun, FLASH_BUTTON_CLASS, FLASH_BUTTON_CAPTION, NULL, NULL, NULL);
}

static BOOL HoldsFlashButton(const FlasherRun* lpRun, HWND hWnd)
{
    return FindFlashButton(lpRun, hWnd) != NULL;
}

// Searches for the flasher's dialog until it is found or the searches are
// used up; every search is followed by a short pause, none precedes the
// first. A window of the flasher's class and caption without the button
// may be a box of the flasher's own, captioned as programs caption their
// boxes, shown before its dialog or above it: it is passed over, and the
// searches that find only such windows have a bound of their own. Leaves
// the dialog in g_hFlasherWnd, and its process in lpRun->hDialogProcess
// when that is not the started one. When no dialog was found, returns the
// last window passed over, if any.
static HWND FindFlasherWindow(FlasherRun* lpRun)
{
    int nEmpty = 0, nButtonless = 0;
    HWND hButtonless = NULL;
    while (!g_hFlasherWnd && nEmpty <= FLASHER_SEARCH_LIMIT && nButtonless <= FLASHER_SEARCH_LIMIT) {
        HWND hPassedOver = NULL;
        g_hFlasherWnd = FindFlasherProcessWindow(lpRun, FLASHER_WINDOW_CLASS, LoaderSettings.Title, HoldsFlashButton,
                                                 &hPassedOver, &lpRun->hDialogProcess);
        Sleep(FLASHER_SEARCH_PAUSE_MS);
        if (hPassedOver) {
            hButtonless = hPassedOver;
            nButtonless++;
        } else {
            nEmpty++;
        }
    }
    return g_hFlasherWnd ? NULL : hButtonless;
}

// Whether the flasher handles a message sent to its dialog within
// dwTimeoutMs: a thread handles a sent message only once it is done with
// everything before it, a set-up run in one go included.
static BOOL FlasherAnswers(DWORD dwTimeoutMs)
{
    DWORD_PTR dwResult = 0;
    return SendMessageTimeoutA(g_hFlasherWnd, WM_NULL, 0, 0, SMTO_NORMAL, dwTimeoutMs, &dwResult) != 0;
}

// Whether the flasher shows a window other than its dialog, the Flash BIOS
// button and a console: a box of its own (owned by the dialog or not, from
// the dialog's process or a helper's), which waits on its user.
struct BoxSearch {
    const FlasherRun* lpRun;
    HWND hButton;
    BOOL bFound;
};

// The windows that console hosts make for a batch file or a wrapper with a
// console: they show its output, and ask nothing.
static const char* const g_aszConsoleClasses[] = {"ConsoleWindowClass", "WineConsoleClass"};

static BOOL IsConsoleWindow(HWND hWnd)
{
    char szClass[CLASS_NAME_SIZE];
    memset(szClass, 0, sizeof szClass);
    GetClassNameA(hWnd, szClass, CLASS_NAME_SIZE);
    for (size_t i = 0; i < sizeof g_aszConsoleClasses / sizeof g_aszConsoleClasses[0]; i++)
        if (strcmp(szClass, g_aszConsoleClasses[i]) == 0)
            return TRUE;
    return FALSE;
}

static BOOL CALLBACK FindFlasherBoxProc(HWND hWnd, LPARAM lParam)
{
    BoxSearch* lpSearch = (BoxSearch*)lParam;
    if (hWnd == g_hFlasherWnd || hWnd == lpSearch->hButton || !IsShown(hWnd) || IsConsoleWindow(hWnd))
        return TRUE;
    DWORD dwOwner = 0;
    if (!GetWindowThreadProcessId(hWnd, &dwOwner) || !IsFlasherProcess(lpSearch->lpRun, dwOwner, NULL))
        return TRUE;
    lpSearch->bFound = TRUE;
    return FALSE;
}

static BOOL FlasherShowsBox(const FlasherRun* lpRun, HWND hButton)
{
    BoxSearch search = {lpRun, hButton, FALSE};
    EnumWindows(FindFlasherBoxProc, (LPARAM)&search);
    return search.bFound;
}

// While the launcher judges the dialog, the dialog is disabled by the
// launcher itself, so that no click of its user can reach the button that
// the launcher is about to press. EnableWindow tells whether the window was
// disabled already: then the flasher disabled it a moment ago, and it is
// not the launcher's lock.
static BOOL LockDialog(FlasherRun* lpRun)
{
    lpRun->bDialogLocked = !EnableWindow(g_hFlasherWnd, FALSE);
    return lpRun->bDialogLocked;
}

static void UnlockDialog(FlasherRun* lpRun)
{
    if (lpRun->bDialogLocked)
        EnableWindow(g_hFlasherWnd, TRUE);
    lpRun->bDialogLocked = FALSE;
}

// What one look at the dialog finds.
enum { DIALOG_GONE, DIALOG_SILENT, DIALOG_WAITS_ON_USER, DIALOG_BLOCKED, DIALOG_PRESSABLE };

// One look; *phButton receives the button found, *pdwWaited how long the
// flasher took to answer.
static int LookAtDialog(FlasherRun* lpRun, HWND* phButton, DWORD* pdwWaited)
{
    *phButton = NULL;
    *pdwWaited = 0;
    if (!IsWindow(g_hFlasherWnd))
        return DIALOG_GONE;
    DWORD dwAsked = GetTickCount();
    BOOL bAnswered = FlasherAnswers(FLASHER_CHECK_TIMEOUT_MS);
    *pdwWaited = GetTickCount() - dwAsked;
    if (!bAnswered)
        return IsWindow(g_hFlasherWnd) ? DIALOG_SILENT : DIALOG_GONE;
    *phButton = FindFlashButton(lpRun, g_hFlasherWnd);
    if (FlasherShowsBox(lpRun, *phButton))
        return DIALOG_WAITS_ON_USER;
    // An enabled dialog under the launcher's lock was enabled again by the
    // flasher: the lock is gone. A disabled one that the launcher did not
    // lock waits on its user, as a flasher's box disables its owner.
    BOOL bEnabled = IsWindowEnabled(g_hFlasherWnd);
    if (bEnabled)
        lpRun->bDialogLocked = FALSE;
    else if (!lpRun->bDialogLocked)
        return DIALOG_WAITS_ON_USER;
    if (*phButton && IsShown(g_hFlasherWnd) && IsShown(*phButton) && IsWindowEnabled(*phButton))
        return DIALOG_PRESSABLE;
    return DIALOG_BLOCKED;
}

// A user can press the button only while it is shown and enabled in a
// shown and enabled dialog of a flasher that answers and shows no box. A
// flasher may change that a moment after its dialog is up (from a timer, a
// posted message or another thread), so the button counts only once it has
// stayed so for FLASHER_STABLE_MS, with the dialog locked from the start of
// that time; any break starts it again. Gives up when the dialog goes away,
// when an enabled dialog's button has not been pressable for
// FLASHER_BLOCKED_LIMIT_MS of the flasher's answered time, or when the
// judgement has taken FLASHER_JUDGE_LIMIT_MS in all (dwJudged of it before
// the first look). Time in which the flasher waits on its user is not
// counted. Returns the button to press, or NULL.
static HWND WaitUntilPressable(FlasherRun* lpRun, DWORD dwJudged)
{
    DWORD dwBlocked = 0, dwPressable = 0;
    int nLast = DIALOG_GONE;
    HWND hLastButton = NULL;
    DWORD dwLast = GetTickCount();
    for (;;) {
        HWND hButton = NULL;
        DWORD dwWaited = 0;
        int nState = LookAtDialog(lpRun, &hButton, &dwWaited);
        DWORD dwNow = GetTickCount();
        DWORD dwSpent = dwNow - dwLast;
        dwLast = dwNow;
        if (nState == DIALOG_GONE)
            return NULL;
        if (nState != DIALOG_WAITS_ON_USER)
            dwJudged += dwSpent;
        if (nState == DIALOG_BLOCKED && dwSpent > dwWaited)
            dwBlocked += dwSpent - dwWaited;
        // A run of pressability breaks on any other look, or on a button
        // made again; it starts with the dialog locked, and starts again
        // when the flasher undid the lock.
        BOOL bRestart = nState != DIALOG_PRESSABLE || nLast != DIALOG_PRESSABLE || hButton != hLastButton;
        if (nState == DIALOG_PRESSABLE && !lpRun->bDialogLocked) {
            bRestart = TRUE;
            if (!LockDialog(lpRun))
                nState = DIALOG_WAITS_ON_USER;
        }
        dwPressable = bRestart ? 0 : dwPressable + dwSpent;
        nLast = nState;
        hLastButton = hButton;
        if (dwPressable >= FLASHER_STABLE_MS)
            return hButton;
        if (dwJudged >= FLASHER_JUDGE_LIMIT_MS || dwBlocked >= FLASHER_BLOCKED_LIMIT_MS)
            return NULL;
        Sleep(FLASHER_SEARCH_PAUSE_MS);
    }
}

// Whether a process has ended, read from its handle (an exit code may be
// any number, STILL_ACTIVE too). A handle that cannot be waited on counts
// as ended, so that the wait cannot hang on it; no handle has nothing to
// wait for.
static BOOL HasEnded(HANDLE hProcess)
{
    return !hProcess || WaitForSingleObject(hProcess, 0) != WAIT_TIMEOUT;
}

// Whether no process of the job is left: a flasher may hand the writing to
// a helper that it starts, and end before it. A job that cannot be asked
// leaves the answer to the processes' own handles.
static BOOL JobHasEnded(HANDLE hJob)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
    memset(&accounting, 0, sizeof accounting);
    if (!hJob || !QueryInformationJobObject(hJob, JobObjectBasicAccountingInformation, &accounting,
                                            sizeof accounting, NULL))
        return TRUE;
    return accounting.ActiveProcesses == 0;
}

// Polls until the started process, the dialog's own process and every
// other process of the job have ended: a wrapper may end before the
// flasher it started, or wait for it.
static void WaitForFlasher(const FlasherRun* lpRun)
{
    for (;;) {
        BOOL bEnded = HasEnded(lpRun->processInfo.hProcess);
        bEnded = HasEnded(lpRun->hDialogProcess) && bEnded;
        bEnded = JobHasEnded(lpRun->hJob) && bEnded;
        Sleep(FLASHER_EXIT_POLL_MS);
        if (bEnded)
            break;
    }
}

int RunFlasher(LPCSTR lpCmdLine)
{
    g_hFlasherWnd = NULL;
    memset(g_szFlasherTitle, 0, sizeof g_szFlasherTitle);

    FlasherRun run;
    memset(&run, 0, sizeof run);
    if (!StartFlasher(lpCmdLine, &run))
        return RC_FLASHER_START;

    // From here on a failure leaves the flasher, and all it started,
    // running as they are, with the window found asked to show itself so
    // that its user can see and close it: only the launcher's handles are
    // given up.
    HWND hButtonless = FindFlasherWindow(&run);
    if (!g_hFlasherWnd) {
        if (hButtonless)
            ShowWindowAsync(hButtonless, SW_SHOW);
        CloseFlasherHandles(&run);
        return hButtonless ? RC_FLASH_BUTTON : RC_FLASHER_WINDOW;
    }
    // Showing a window of a thread that is still busy would wait for that
    // thread without end: the flasher is asked first, and the dialog is
    // then asked to show itself, which it does before it answers again.
    HWND hButton = NULL;
    DWORD dwFound = GetTickCount();
    if (FlasherAnswers(FLASHER_JUDGE_LIMIT_MS)) {
        ShowWindowAsync(g_hFlasherWnd, SW_SHOW);
        hButton = WaitUntilPressable(&run, GetTickCount() - dwFound);
    }
    if (!hButton) {
        UnlockDialog(&run);
        ShowWindowAsync(g_hFlasherWnd, SW_SHOW);
        CloseFlasherHandles(&run);
        return RC_FLASH_BUTTON;
    }

    // Nothing between taking the dialog over and giving it back can end
    // this function early, so the dialog is always given back. Its lock
    // goes once the button is disabled with the other controls.
    SaveFlasherTitle();
    SetFlasherBusy(FALSE);
    UnlockDialog(&run);
    SendMessageA(g_hFlasherWnd, WM_COMMAND, MAKEWPARAM(IDC_FLASH_BIOS, BN_CLICKED), 0);
    SetFlasherBusy(TRUE);

    WaitForFlasher(&run);
    CloseFlasherHandles(&run);

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
