// Scripting and inspection of the fake platform: test support for the unit
// tests and the fuzz targets, never part of a shipped program.
//
// Tests describe a machine (code page, mutex, power status, processes and
// their windows, the user's answers to message boxes) and then look at what
// the launcher did: every platform call is written to one log, in order.
// Files are real files, relative to the test process's working directory.
#ifndef KST_FAKE_PLATFORM_H
#define KST_FAKE_PLATFORM_H

#include "platform/platform.h"

#include <functional>
#include <string>
#include <vector>

// Back to a fresh machine: code page 1252, no mutex yet, AC online, no
// processes, no windows, no answers, clock at 0, empty log.
void FakeReset();

// Every platform call, one line each, in call order. Examples:
//   "CreateMutexA Global\{...}"   "MessageBoxA Help|WinKestrom Loader..."
//   "Sleep 10"   "FindWindowExA 0x0 #32770|Vesmar WinKestrom -> 0x2"
//   "GetWindowThreadProcessId 0x2 -> 100"   "IsWindowEnabled 0x3 -> 1"
//   "SetWindowTextA 0x2|Please wait when flashing BIOS..."
//   "EnableWindow 0x3 0"   "SendMessageA 0x2 273 101 0"   "DeleteFileA BV"
const std::vector<std::string>& FakeLog();
// Lines of the log that begin with lpPrefix, in order.
std::vector<std::string> FakeLogLines(const char* lpPrefix);
int FakeLogCount(const char* lpPrefix);
// The first platform function called since the reset, logged or not
// (GetACP, GetCommandLineA and the like are not logged); "" if none.
std::string FakeFirstCall();

// Process start-up.
void FakeSetCommandLine(const char* lpCommandLine);
// The launcher's own file as GetModuleFileNameW gives it: UTF-8 text, or
// UTF-16 units as they are (lone surrogates included).
void FakeSetModuleFileName(const char* lpUtf8FileName);
void FakeSetModuleFileNameW(const std::u16string& strFileName);
// The last path given to SetCurrentDirectoryW, as UTF-8; "" if none.
std::string FakeCurrentDirectory();
std::u16string FakeCurrentDirectoryW();
// SetCurrentDirectoryW fails from now on (a folder removed, a path too long).
void FakeFailSetCurrentDirectory();
// Code page: acp alone gives the system's own answer for the built-in
// double-byte pages (932, 936, 949, 950, 1361) and single-byte for others;
// lpLeadRanges (pairs, ended by a zero byte) overrides what GetCPInfo reports.
void FakeSetCodePage(UINT uAcp, UINT uMaxCharSize = 0, const BYTE* lpLeadRanges = NULL);

// DLL search: whether KERNEL32 offers SetDefaultDllDirectories (as on
// Windows 8 and later, or 7 with its update) and whether the call succeeds.
enum { FAKE_DLLDIRS_PRESENT, FAKE_DLLDIRS_ABSENT, FAKE_DLLDIRS_FAIL };
void FakeSetDllDirectoriesApi(int nMode);

// Single-instance mutex.
enum { FAKE_MUTEX_NEW, FAKE_MUTEX_EXISTS, FAKE_MUTEX_FAIL };
void FakeSetMutex(int nMode);

// Message boxes. Answers are queued per caption and used in turn; when a
// caption has none left, an OK box answers IDOK and a Yes/No box IDNO.
struct FakeBox {
    std::string strCaption;
    std::string strText;
    UINT uType;
    bool bOwnerNull;
    int nAnswer;
};
void FakeAnswer(const char* lpCaption, int nAnswer);
const std::vector<FakeBox>& FakeBoxes();

// Power status: queued results of GetSystemPowerStatus; the last one repeats.
void FakeQueuePower(BOOL bSucceeds, BYTE bACLineStatus);

// Clock: Sleep advances it; GetTickCount reads it from a start a few
// seconds before the tick count wraps, FakeNow from 0.
void FakeAdvanceClock(DWORD dwMilliseconds);
DWORD FakeNow();
DWORD FakeSleptTotal();

// Processes. Each CreateProcessA takes the next queued description; with
// none left the start fails (ERROR_FILE_NOT_FOUND).
const DWORD FAKE_FOREVER = 0xFFFFFFFFu;
// Sleeping longer than this in all aborts the test: the product waits for ever.
const DWORD FAKE_DAY_MS = 24u * 60u * 60u * 1000u;
struct FakeProcess {
    BOOL bStarts = TRUE;
    DWORD dwRunMs = 0;             // reads STILL_ACTIVE until this much fake time has passed
    DWORD dwExitCode = 0;
    BOOL bQueryFails = FALSE;      // GetExitCodeProcess and waits on it fail
    BOOL bResumeFails = FALSE;     // ResumeThread fails (it stays suspended)
    std::function<void()> fnOnStart;  // runs inside a successful start
};
void FakeQueueProcess(const FakeProcess& process);
struct FakeProcessCall {
    bool bHasApplication;
    std::string strApplication;
    bool bHasCommandLine;
    std::string strCommandLine;
    bool bSecurityNull;
    BOOL bInheritHandles;
    DWORD dwCreationFlags;
    bool bEnvironmentNull;
    bool bDirectoryNull;
    DWORD dwStartupSize;
    bool bStartupZeroed;           // every field but cb was zero
};
const std::vector<FakeProcessCall>& FakeProcessCalls();
void FakeEndProcess(int nIndex, DWORD dwExitCode);  // nIndex: order of start, from 0
// Process, thread and job handles not yet closed, and those of OpenProcess.
int FakeOpenHandles();
// Started processes have the ids 100, 101, ... in the order of their start.
// FakeAddProcess makes another one, not started by the launcher: one that
// the process dwParentId started (a flasher behind a wrapper; out of its
// parent's job when bBreakaway), or an unrelated one (dwParentId 0). It
// runs until fake time dwEndAtMs. Returns its id (300, 301, ...).
DWORD FakeAddProcess(DWORD dwParentId, DWORD dwEndAtMs = FAKE_FOREVER, BOOL bBreakaway = FALSE);
BOOL FakeProcessEnded(DWORD dwProcessId);
// Job objects: which step fails from now on, and the limits the last job
// was given (0 when none was set).
enum { FAKE_JOB_WORKS, FAKE_JOB_CREATE_FAILS, FAKE_JOB_LIMITS_FAIL, FAKE_JOB_ASSIGN_FAILS };
void FakeSetJobFailure(int nStep);
DWORD FakeJobLimitFlags();

// What the product opened and has not closed: files (OpenSharedRead and
// CloseSharedRead) and process and thread handles, one description each
// ("file \"BV\"", "process handle 0x1000 of \"BIOSVER.EXE\"").
// Kept across FakeReset, so that every round of a test counts; emptied
// only by FakeForgetOpenResources.
std::vector<std::string> FakeOpenResources();
void FakeForgetOpenResources();

// Windows. A top-level window exists from the nAppearAtSearch-th search on
// (1: from the first); a search is a FindWindowExA call that starts a walk
// (no window to search after). Its descendants exist with it and belong to
// its process: by default the one started last (the flasher, when windows
// are searched), or the process id given.
const DWORD FAKE_LATEST_PROCESS = 0;
const DWORD FAKE_OTHER_PROCESS = 4242;  // a program the launcher did not start
HWND FakeAddWindow(const char* lpClass, const char* lpCaption, HWND hParent = NULL,
                   int nId = 0, BOOL bEnabled = TRUE, BOOL bVisible = TRUE,
                   int nAppearAtSearch = 1, DWORD dwProcessId = FAKE_LATEST_PROCESS);
// From fake time dwAtMs on (the clock that Sleep advances), the window is
// enabled or disabled as the flasher itself would do it; or its user clicks
// it (a button: its dialog handles that as the command, through
// FakeOnSend, when both are shown and enabled).
enum { FAKE_ENABLE, FAKE_CLICK };
void FakeSetEnabledAt(HWND hWnd, DWORD dwAtMs, BOOL bEnabled, int nKind = FAKE_ENABLE);
// The window exists from fake time dwFromMs until dwGoneAtMs (made late,
// or closed).
void FakeSetLifetime(HWND hWnd, DWORD dwFromMs, DWORD dwGoneAtMs);
std::string FakeWindowText(HWND hWnd);
BOOL FakeWindowEnabled(HWND hWnd);
BOOL FakeWindowVisible(HWND hWnd);
int FakeFindCount();  // searches made
// The window's thread handles no message from fake time dwFromMs until
// dwUntilMs (it is setting the window up, or busy; each call adds such a
// period): a message sent meanwhile waits, and one
// sent with a time-out shorter than that gives up; ShowWindow on the window
// while it is hidden waits too. FAKE_FOREVER: it never answers (a wait
// without a time-out aborts the test).
void FakeSetBusyUntil(HWND hWnd, DWORD dwUntilMs, DWORD dwFromMs = 0);
// Called for every SendMessageA; its result is SendMessageA's result.
void FakeOnSend(std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> fnHandler);

#endif
