// The fake platform of the unit tests and fuzz targets: Win32 names over a
// scripted machine.
#include "fake_platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>

namespace {

struct Window {
    std::string strClass;
    std::string strText;
    HWND hParent;
    int nId;
    BOOL bEnabled;
    BOOL bVisible;
    int nAppearAtSearch;
    DWORD dwProcessId;  // FAKE_LATEST_PROCESS: the one started last
    std::vector<std::pair<DWORD, DWORD>> busy;  // periods its thread handles no message
    DWORD dwBornAtMs, dwGoneAtMs;  // exists from, destroyed from this fake time on
};

struct EnableChange {
    HWND hWnd;
    DWORD dwAtMs;
    BOOL bEnabled;
    bool bDone;
    int nKind;
};

struct Process {
    FakeProcess desc;
    DWORD dwStartTime;
    bool bEnded;
    DWORD dwEndCode;
    bool bProcessOpen;
    bool bThreadOpen;
    DWORD dwId;
    DWORD dwParentId;     // processes not started by the launcher
    DWORD dwEndAtMs;      // processes not started by the launcher
    bool bBreakaway;
    uintptr_t nJob;       // the job it was put in, 0 for none
};

struct Job {
    DWORD dwLimitFlags;
    bool bOpen;
};

// A handle from OpenProcess.
struct Opened {
    DWORD dwProcessId;
    DWORD dwAccess;
    bool bOpen;
};

struct Power {
    BOOL bSucceeds;
    BYTE bACLineStatus;
};

struct State {
    std::vector<std::string> log;
    std::string strCommandLine;
    std::u16string strModule;
    std::u16string strCurrentDirectory;
    bool bCurrentDirectoryFails = false;
    UINT uAcp = 1252;
    UINT uMaxCharSize = 0;
    std::vector<BYTE> leadRanges;
    bool bLeadOverride = false;
    std::string strFirstCall;
    int nDllDirsMode = FAKE_DLLDIRS_PRESENT;
    int nMutexMode = FAKE_MUTEX_NEW;
    DWORD dwLastError = 0;
    std::map<std::string, std::deque<int>> answers;
    std::vector<FakeBox> boxes;
    std::deque<Power> power;
    DWORD dwClock = 0;
    DWORD dwSlept = 0;
    std::deque<FakeProcess> queued;
    std::vector<FakeProcessCall> calls;
    std::vector<Process> processes;
    std::vector<Process> others;
    std::vector<Job> jobs;
    std::vector<Opened> opened;
    int nJobFailure = FAKE_JOB_WORKS;
    DWORD dwJobLimitFlags = 0;
    std::vector<Window> windows;
    std::vector<EnableChange> enableChanges;
    int nFindCount = 0;
    std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> fnSend;
};

State g_state;
char g_szCommandLine[4096];

// What is open now: files by their stream, which is unique while open;
// handles by the reset they belong to and their value, which repeats.
std::map<std::string, std::string> g_openResources;
unsigned g_nGeneration;
int g_nMutexToken;

std::string FileKey(const FILE* pFile)
{
    char szKey[64];
    snprintf(szKey, sizeof szKey, "file %p", (const void*)pFile);
    return szKey;
}

std::string HandleKey(HANDLE hObject)
{
    char szKey[64];
    snprintf(szKey, sizeof szKey, "handle %u %p", g_nGeneration, hObject);
    return szKey;
}

// Remembers the first platform function called since the reset.
void NoteCall(const char* lpName)
{
    if (g_state.strFirstCall.empty())
        g_state.strFirstCall = lpName;
}

void Log(const std::string& strLine)
{
    g_state.log.push_back(strLine);
}

std::string HandleText(const void* h)
{
    char szText[32];
    snprintf(szText, sizeof szText, "0x%lx", (unsigned long)(uintptr_t)h);
    return szText;
}

// Window handles are 1-based indices; process and thread handles are
// 0x1000 + 2 * index and one more.
Window* FindWindowRecord(HWND hWnd)
{
    uintptr_t nIndex = (uintptr_t)hWnd;
    if (nIndex == 0 || nIndex > g_state.windows.size())
        return NULL;
    return &g_state.windows[nIndex - 1];
}

bool WindowExists(HWND hWnd)
{
    Window* pWindow = FindWindowRecord(hWnd);
    if (!pWindow)
        return false;
    if (g_state.dwClock < pWindow->dwBornAtMs || g_state.dwClock >= pWindow->dwGoneAtMs)
        return false;
    return pWindow->hParent ? WindowExists(pWindow->hParent) : g_state.nFindCount >= pWindow->nAppearAtSearch;
}

// The process id of a window: its top-level window's owner.
DWORD WindowProcessId(HWND hWnd)
{
    Window* pWindow = FindWindowRecord(hWnd);
    while (pWindow && pWindow->hParent)
        pWindow = FindWindowRecord(pWindow->hParent);
    if (!pWindow)
        return 0;
    if (pWindow->dwProcessId != FAKE_LATEST_PROCESS)
        return pWindow->dwProcessId;
    return g_state.processes.empty() ? 0 : (DWORD)(100 + g_state.processes.size() - 1);
}

// The flasher's own changes of its controls that are due by now.
void ApplyEnableChanges()
{
    for (EnableChange& change : g_state.enableChanges) {
        Window* pWindow = FindWindowRecord(change.hWnd);
        if (change.bDone || !pWindow || g_state.dwClock < change.dwAtMs)
            continue;
        change.bDone = true;
        if (change.nKind == FAKE_ENABLE) {
            pWindow->bEnabled = change.bEnabled;
            continue;
        }
        // A click reaches a button that is shown and enabled in a shown and
        // enabled dialog, which then handles it as the launcher's command.
        Window* pDialog = FindWindowRecord(pWindow->hParent);
        bool bReaches = WindowExists(change.hWnd) && pWindow->bVisible && pWindow->bEnabled && pDialog &&
                        pDialog->bVisible && pDialog->bEnabled;
        Log("Click " + HandleText(change.hWnd) + " -> " + std::to_string(bReaches ? 1 : 0));
        if (bReaches && g_state.fnSend)
            g_state.fnSend(pWindow->hParent, WM_COMMAND, MAKEWPARAM(pWindow->nId, BN_CLICKED), (LPARAM)change.hWnd);
    }
}

std::u16string Utf8ToUtf16(const char* lpText)
{
    std::u16string strOut;
    const unsigned char* p = (const unsigned char*)lpText;
    while (*p) {
        unsigned long c = *p++;
        int nMore = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (nMore)
            c &= 0x3Fu >> nMore;
        for (; nMore > 0 && (*p & 0xC0) == 0x80; nMore--)
            c = (c << 6) | (*p++ & 0x3F);
        if (c >= 0x10000) {
            strOut.push_back((char16_t)(0xD800 + ((c - 0x10000) >> 10)));
            strOut.push_back((char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            strOut.push_back((char16_t)c);
        }
    }
    return strOut;
}

// UTF-8; a lone surrogate is encoded like any other unit.
std::string Utf16ToUtf8(const std::u16string& strText)
{
    std::string strOut;
    for (size_t i = 0; i < strText.size(); i++) {
        unsigned long c = strText[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < strText.size() && strText[i + 1] >= 0xDC00 &&
            strText[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (strText[++i] - 0xDC00);
        if (c < 0x80) {
            strOut.push_back((char)c);
        } else if (c < 0x800) {
            strOut.push_back((char)(0xC0 | (c >> 6)));
            strOut.push_back((char)(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            strOut.push_back((char)(0xE0 | (c >> 12)));
            strOut.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            strOut.push_back((char)(0x80 | (c & 0x3F)));
        } else {
            strOut.push_back((char)(0xF0 | (c >> 18)));
            strOut.push_back((char)(0x80 | ((c >> 12) & 0x3F)));
            strOut.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            strOut.push_back((char)(0x80 | (c & 0x3F)));
        }
    }
    return strOut;
}

Process* FindProcess(HANDLE hProcess, bool* pbThread)
{
    uintptr_t nValue = (uintptr_t)hProcess;
    if (nValue < 0x1000)
        return NULL;
    uintptr_t nIndex = (nValue - 0x1000) / 2;
    if (nIndex >= g_state.processes.size())
        return NULL;
    if (pbThread)
        *pbThread = ((nValue - 0x1000) % 2) != 0;
    return &g_state.processes[nIndex];
}

// Handles: started processes 0x1000 + 2 * index (and their threads one
// more), OpenProcess 0x20000 + index, jobs 0x30000 + index.
Process* ProcessById(DWORD dwProcessId)
{
    for (Process& process : g_state.processes)
        if (process.dwId == dwProcessId)
            return &process;
    for (Process& process : g_state.others)
        if (process.dwId == dwProcessId)
            return &process;
    return NULL;
}

// The open record behind a handle numbered from nBase in table, or NULL.
template <typename T>
T* FindOpenRecord(std::vector<T>& table, uintptr_t nBase, HANDLE hObject)
{
    uintptr_t nValue = (uintptr_t)hObject;
    if (nValue < nBase || nValue - nBase >= table.size())
        return NULL;
    T* pRecord = &table[nValue - nBase];
    return pRecord->bOpen ? pRecord : NULL;
}

Opened* FindOpened(HANDLE hProcess)
{
    return FindOpenRecord(g_state.opened, 0x20000, hProcess);
}

Job* FindJob(HANDLE hJob)
{
    return FindOpenRecord(g_state.jobs, 0x30000, hJob);
}

// The process behind a process handle of either kind, with the rights the
// handle has; NULL for any other handle.
Process* ProcessOfHandle(HANDLE hProcess, DWORD* pdwAccess)
{
    bool bThread = false;
    Process* pProcess = FindProcess(hProcess, &bThread);
    if (pProcess && !bThread && pProcess->bProcessOpen) {
        *pdwAccess = 0xFFFFFFFFu;
        return pProcess;
    }
    Opened* pOpened = FindOpened(hProcess);
    if (!pOpened)
        return NULL;
    *pdwAccess = pOpened->dwAccess;
    return ProcessById(pOpened->dwProcessId);
}

bool HasEnded(Process& process)
{
    if (process.bEnded)
        return true;
    if (process.dwId >= 300)
        process.bEnded = process.dwEndAtMs != FAKE_FOREVER && g_state.dwClock >= process.dwEndAtMs;
    else
        process.bEnded =
            process.desc.dwRunMs != FAKE_FOREVER && g_state.dwClock - process.dwStartTime >= process.desc.dwRunMs;
    return process.bEnded;
}

// A process is in a job when it was put there, or when its parent was and
// it did not break away.
bool IsInJob(const Process* pProcess, uintptr_t nJob)
{
    for (int nDepth = 0; pProcess && nDepth < 64; nDepth++) {
        if (pProcess->nJob)
            return pProcess->nJob == nJob;
        if (pProcess->bBreakaway || !pProcess->dwParentId)
            return false;
        pProcess = ProcessById(pProcess->dwParentId);
    }
    return false;
}

Window* TopLevel(HWND hWnd)
{
    Window* pWindow = FindWindowRecord(hWnd);
    while (pWindow && pWindow->hParent)
        pWindow = FindWindowRecord(pWindow->hParent);
    return pWindow;
}

// The first fake time from now on at which the window's thread is free.
DWORD FreeAt(const Window* pWindow)
{
    DWORD dwAt = g_state.dwClock;
    for (bool bMoved = true; bMoved && pWindow && dwAt != FAKE_FOREVER;) {
        bMoved = false;
        for (const auto& period : pWindow->busy)
            if (period.first <= dwAt && dwAt < period.second)
                dwAt = period.second, bMoved = true;
    }
    return dwAt;
}

// A message sent to a window waits until its thread is free: for ever, if
// it never is.
void WaitForWindowThread(HWND hWnd)
{
    DWORD dwFree = FreeAt(TopLevel(hWnd));
    if (dwFree == FAKE_FOREVER) {
        fprintf(stderr, "fake platform: a message waits for ever on a window whose thread never answers\n");
        abort();
    }
    g_state.dwClock = dwFree;
}

bool EqualNoCase(const std::string& a, const char* b)
{
    size_t nLength = strlen(b);
    if (a.size() != nLength)
        return false;
    for (size_t i = 0; i < nLength; i++) {
        unsigned char x = (unsigned char)a[i];
        unsigned char y = (unsigned char)b[i];
        if (x >= 'A' && x <= 'Z')
            x = (unsigned char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = (unsigned char)(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

int CopyText(const std::string& strText, LPSTR lpBuffer, int nMaxCount)
{
    if (!lpBuffer || nMaxCount <= 0)
        return 0;
    int nLength = (int)strText.size();
    if (nLength > nMaxCount - 1)
        nLength = nMaxCount - 1;
    memcpy(lpBuffer, strText.data(), (size_t)nLength);
    lpBuffer[nLength] = 0;
    return nLength;
}

bool EnumDescendants(HWND hParent, WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    for (size_t i = 0; i < g_state.windows.size(); i++) {
        if (g_state.windows[i].hParent != hParent)
            continue;
        HWND hChild = (HWND)(uintptr_t)(i + 1);
        if (!lpEnumFunc(hChild, lParam))
            return false;
        if (!EnumDescendants(hChild, lpEnumFunc, lParam))
            return false;
    }
    return true;
}

}  // namespace

// ---- scripting -------------------------------------------------------------

void FakeReset()
{
    g_nGeneration++;
    g_state = State();
    g_szCommandLine[0] = 0;
}

const std::vector<std::string>& FakeLog()
{
    return g_state.log;
}

std::vector<std::string> FakeLogLines(const char* lpPrefix)
{
    std::vector<std::string> lines;
    size_t nLength = strlen(lpPrefix);
    for (const std::string& strLine : g_state.log)
        if (strLine.compare(0, nLength, lpPrefix) == 0)
            lines.push_back(strLine);
    return lines;
}

int FakeLogCount(const char* lpPrefix)
{
    return (int)FakeLogLines(lpPrefix).size();
}

void FakeSetCommandLine(const char* lpCommandLine)
{
    snprintf(g_szCommandLine, sizeof g_szCommandLine, "%s", lpCommandLine);
}

void FakeSetModuleFileName(const char* lpUtf8FileName)
{
    g_state.strModule = Utf8ToUtf16(lpUtf8FileName);
}

void FakeSetModuleFileNameW(const std::u16string& strFileName)
{
    g_state.strModule = strFileName;
}

std::string FakeCurrentDirectory()
{
    return Utf16ToUtf8(g_state.strCurrentDirectory);
}

std::u16string FakeCurrentDirectoryW()
{
    return g_state.strCurrentDirectory;
}

void FakeFailSetCurrentDirectory()
{
    g_state.bCurrentDirectoryFails = true;
}

void FakeSetCodePage(UINT uAcp, UINT uMaxCharSize, const BYTE* lpLeadRanges)
{
    g_state.uAcp = uAcp;
    g_state.uMaxCharSize = uMaxCharSize;
    g_state.leadRanges.clear();
    g_state.bLeadOverride = lpLeadRanges != NULL;
    for (int i = 0; lpLeadRanges && lpLeadRanges[i] && i < MAX_LEADBYTES; i++)
        g_state.leadRanges.push_back(lpLeadRanges[i]);
}

std::string FakeFirstCall()
{
    return g_state.strFirstCall;
}

void FakeSetDllDirectoriesApi(int nMode)
{
    g_state.nDllDirsMode = nMode;
}

void FakeSetMutex(int nMode)
{
    g_state.nMutexMode = nMode;
}

void FakeAnswer(const char* lpCaption, int nAnswer)
{
    g_state.answers[lpCaption].push_back(nAnswer);
}

const std::vector<FakeBox>& FakeBoxes()
{
    return g_state.boxes;
}

void FakeQueuePower(BOOL bSucceeds, BYTE bACLineStatus)
{
    g_state.power.push_back(Power{bSucceeds, bACLineStatus});
}

void FakeAdvanceClock(DWORD dwMilliseconds)
{
    g_state.dwClock += dwMilliseconds;
}

DWORD FakeSleptTotal()
{
    return g_state.dwSlept;
}

void FakeQueueProcess(const FakeProcess& process)
{
    g_state.queued.push_back(process);
}

const std::vector<FakeProcessCall>& FakeProcessCalls()
{
    return g_state.calls;
}

void FakeEndProcess(int nIndex, DWORD dwExitCode)
{
    if (nIndex < 0 || (size_t)nIndex >= g_state.processes.size())
        return;
    g_state.processes[(size_t)nIndex].bEnded = true;
    g_state.processes[(size_t)nIndex].dwEndCode = dwExitCode;
}

std::vector<std::string> FakeOpenResources()
{
    std::vector<std::string> open;
    for (const auto& resource : g_openResources)
        open.push_back(resource.second);
    return open;
}

void FakeForgetOpenResources()
{
    g_openResources.clear();
}

int FakeOpenHandles()
{
    int nOpen = 0;
    for (const Process& process : g_state.processes)
        nOpen += (process.bProcessOpen ? 1 : 0) + (process.bThreadOpen ? 1 : 0);
    for (const Job& job : g_state.jobs)
        nOpen += job.bOpen ? 1 : 0;
    for (const Opened& opened : g_state.opened)
        nOpen += opened.bOpen ? 1 : 0;
    return nOpen;
}

DWORD FakeAddProcess(DWORD dwParentId, DWORD dwEndAtMs, BOOL bBreakaway)
{
    Process process;
    process.dwStartTime = 0;
    process.bEnded = false;
    process.dwEndCode = 0;
    process.bProcessOpen = false;
    process.bThreadOpen = false;
    process.dwId = (DWORD)(300 + g_state.others.size());
    process.dwParentId = dwParentId;
    process.dwEndAtMs = dwEndAtMs;
    process.bBreakaway = bBreakaway != FALSE;
    process.nJob = 0;
    g_state.others.push_back(process);
    return process.dwId;
}

BOOL FakeProcessEnded(DWORD dwProcessId)
{
    Process* pProcess = ProcessById(dwProcessId);
    return pProcess && HasEnded(*pProcess);
}

void FakeSetJobFailure(int nStep)
{
    g_state.nJobFailure = nStep;
}

DWORD FakeJobLimitFlags()
{
    return g_state.dwJobLimitFlags;
}

void FakeSetBusyUntil(HWND hWnd, DWORD dwUntilMs, DWORD dwFromMs)
{
    Window* pWindow = TopLevel(hWnd);
    if (pWindow)
        pWindow->busy.push_back({dwFromMs, dwUntilMs});
}

HWND FakeAddWindow(const char* lpClass, const char* lpCaption, HWND hParent, int nId,
                   BOOL bEnabled, BOOL bVisible, int nAppearAtSearch, DWORD dwProcessId)
{
    Window window;
    window.strClass = lpClass;
    window.strText = lpCaption ? lpCaption : "";
    window.hParent = hParent;
    window.nId = nId;
    window.bEnabled = bEnabled;
    window.bVisible = bVisible;
    window.nAppearAtSearch = nAppearAtSearch;
    window.dwProcessId = dwProcessId;
    window.dwBornAtMs = 0;
    window.dwGoneAtMs = FAKE_FOREVER;
    g_state.windows.push_back(window);
    return (HWND)(uintptr_t)g_state.windows.size();
}

void FakeSetLifetime(HWND hWnd, DWORD dwFromMs, DWORD dwGoneAtMs)
{
    Window* pWindow = FindWindowRecord(hWnd);
    if (pWindow)
        pWindow->dwBornAtMs = dwFromMs, pWindow->dwGoneAtMs = dwGoneAtMs;
}

void FakeSetEnabledAt(HWND hWnd, DWORD dwAtMs, BOOL bEnabled, int nKind)
{
    g_state.enableChanges.push_back(EnableChange{hWnd, dwAtMs, bEnabled, false, nKind});
}

std::string FakeWindowText(HWND hWnd)
{
    Window* pWindow = FindWindowRecord(hWnd);
    return pWindow ? pWindow->strText : std::string();
}

BOOL FakeWindowEnabled(HWND hWnd)
{
    ApplyEnableChanges();
    Window* pWindow = FindWindowRecord(hWnd);
    return pWindow ? pWindow->bEnabled : FALSE;
}

BOOL FakeWindowVisible(HWND hWnd)
{
    Window* pWindow = FindWindowRecord(hWnd);
    return pWindow ? pWindow->bVisible : FALSE;
}

int FakeFindCount()
{
    return g_state.nFindCount;
}

void FakeOnSend(std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> fnHandler)
{
    g_state.fnSend = fnHandler;
}

// ---- platform helpers ------------------------------------------------------

FILE* OpenSharedRead(LPCSTR lpFileName)
{
    NoteCall("OpenSharedRead");
    Log(std::string("OpenSharedRead ") + (lpFileName ? lpFileName : "(null)"));
    if (!lpFileName)
        return NULL;
    struct stat st;
    if (stat(lpFileName, &st) == 0 && S_ISDIR(st.st_mode))
        return NULL;
    FILE* pFile = fopen(lpFileName, "rb");
    if (pFile)
        g_openResources[FileKey(pFile)] = std::string("file \"") + lpFileName + "\"";
    return pFile;
}

void CloseSharedRead(FILE* pFile)
{
    NoteCall("CloseSharedRead");
    auto it = g_openResources.find(FileKey(pFile));
    Log("CloseSharedRead " + (it != g_openResources.end() ? it->second : std::string("(not open)")));
    if (it != g_openResources.end())
        g_openResources.erase(it);
    if (pFile)
        fclose(pFile);
}

void AbortProcess()
{
    NoteCall("AbortProcess");
    Log("AbortProcess");
    if (!g_state.boxes.empty())
        fprintf(stderr, "abnormal stop after box [%s] %s\n", g_state.boxes.back().strCaption.c_str(),
                g_state.boxes.back().strText.c_str());
    abort();
}

// ---- KERNEL32 --------------------------------------------------------------

namespace {

int g_nKernelToken;

// What GetProcAddress hands out for "SetDefaultDllDirectories".
BOOL WINAPI FakeSetDefaultDllDirectories(DWORD dwDirectoryFlags)
{
    char szFlags[16];
    snprintf(szFlags, sizeof szFlags, "0x%X", (unsigned)dwDirectoryFlags);
    Log(std::string("SetDefaultDllDirectories ") + szFlags);
    if (g_state.nDllDirsMode == FAKE_DLLDIRS_FAIL) {
        g_state.dwLastError = 87;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR lpModuleName)
{
    NoteCall("GetModuleHandleA");
    std::string strName = lpModuleName ? lpModuleName : "(null)";
    HMODULE hModule = lpModuleName && EqualNoCase(strName, "KERNEL32.DLL") ? (HMODULE)&g_nKernelToken : NULL;
    Log("GetModuleHandleA " + strName + " -> " + (hModule ? "KERNEL32" : "NULL"));
    return hModule;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    NoteCall("GetProcAddress");
    std::string strName = lpProcName ? lpProcName : "(null)";
    FARPROC lpfn = NULL;
    if (hModule == (HMODULE)&g_nKernelToken && strName == "SetDefaultDllDirectories" &&
        g_state.nDllDirsMode != FAKE_DLLDIRS_ABSENT)
        lpfn = (FARPROC)(void (*)())FakeSetDefaultDllDirectories;
    Log("GetProcAddress " + strName + " -> " + (lpfn ? "found" : "NULL"));
    return lpfn;
}

BOOL SetDllDirectoryA(LPCSTR lpPathName)
{
    NoteCall("SetDllDirectoryA");
    Log(std::string("SetDllDirectoryA ") + (lpPathName ? "\"" + std::string(lpPathName) + "\"" : "(null)"));
    return TRUE;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpAttributes, BOOL bInitialOwner, LPCSTR lpName)
{
    NoteCall("CreateMutexA");
    Log(std::string("CreateMutexA ") + (lpName ? lpName : "(null)") +
        (lpAttributes ? " attributes" : "") + (bInitialOwner ? " owned" : ""));
    switch (g_state.nMutexMode) {
    case FAKE_MUTEX_FAIL:
        g_state.dwLastError = 5;
        return NULL;
    case FAKE_MUTEX_EXISTS:
        g_state.dwLastError = ERROR_ALREADY_EXISTS;
        return &g_nMutexToken;
    default:
        g_state.dwLastError = ERROR_SUCCESS;
        return &g_nMutexToken;
    }
}

DWORD GetLastError()
{
    NoteCall("GetLastError");
    return g_state.dwLastError;
}

BOOL SetCurrentDirectoryW(LPCWSTR lpPathName)
{
    NoteCall("SetCurrentDirectoryW");
    std::u16string strPath = lpPathName ? lpPathName : u"";
    Log("SetCurrentDirectoryW " + (lpPathName ? Utf16ToUtf8(strPath) : std::string("(null)")));
    if (!lpPathName || g_state.bCurrentDirectoryFails) {
        g_state.dwLastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    g_state.strCurrentDirectory = strPath;
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR lpFileName)
{
    NoteCall("GetFileAttributesA");
    Log(std::string("GetFileAttributesA ") + (lpFileName ? lpFileName : "(null)"));
    struct stat st;
    if (!lpFileName || stat(lpFileName, &st) != 0) {
        g_state.dwLastError = ERROR_FILE_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0x80u;
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    NoteCall("GetModuleFileNameW");
    (void)hModule;
    if (!lpFilename || nSize == 0)
        return 0;
    // A cut-off name fills the buffer, terminated, and returns its size.
    DWORD dwLength = (DWORD)g_state.strModule.size();
    if (dwLength >= nSize) {
        memcpy(lpFilename, g_state.strModule.data(), (nSize - 1) * sizeof(WCHAR));
        lpFilename[nSize - 1] = 0;
        return nSize;
    }
    memcpy(lpFilename, g_state.strModule.c_str(), (dwLength + 1) * sizeof(WCHAR));
    return dwLength;
}

LPSTR GetCommandLineA()
{
    NoteCall("GetCommandLineA");
    return g_szCommandLine;
}

UINT GetACP()
{
    NoteCall("GetACP");
    return g_state.uAcp;
}

BOOL GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo)
{
    NoteCall("GetCPInfo");
    memset(lpCPInfo, 0, sizeof *lpCPInfo);
    lpCPInfo->DefaultChar[0] = '?';
    static const BYTE k932[] = {0x81, 0x9F, 0xE0, 0xFC, 0};
    static const BYTE kWide[] = {0x81, 0xFE, 0};
    static const BYTE k1361[] = {0x84, 0xD3, 0xD8, 0xDE, 0xE0, 0xF9, 0};
    const BYTE* lpRanges = NULL;
    if (CodePage == g_state.uAcp && g_state.bLeadOverride) {
        lpCPInfo->MaxCharSize = g_state.uMaxCharSize ? g_state.uMaxCharSize : 2;
        // A real CPINFO holds at most MAX_LEADBYTES bytes of ranges.
        for (size_t i = 0; i < g_state.leadRanges.size() && i < MAX_LEADBYTES; i++)
            lpCPInfo->LeadByte[i] = g_state.leadRanges[i];
        return TRUE;
    }
    if (CodePage == 932)
        lpRanges = k932;
    else if (CodePage == 936 || CodePage == 949 || CodePage == 950)
        lpRanges = kWide;
    else if (CodePage == 1361)
        lpRanges = k1361;
    lpCPInfo->MaxCharSize = lpRanges ? 2 : 1;
    if (CodePage == g_state.uAcp && g_state.uMaxCharSize)
        lpCPInfo->MaxCharSize = g_state.uMaxCharSize;
    for (int i = 0; lpRanges && lpRanges[i] && i < MAX_LEADBYTES; i++)
        lpCPInfo->LeadByte[i] = lpRanges[i];
    return TRUE;
}

BOOL GetSystemPowerStatus(LPSYSTEM_POWER_STATUS lpSystemPowerStatus)
{
    NoteCall("GetSystemPowerStatus");
    Log("GetSystemPowerStatus");
    Power power = {TRUE, 1};
    if (!g_state.power.empty()) {
        power = g_state.power.front();
        if (g_state.power.size() > 1)
            g_state.power.pop_front();
    }
    if (!power.bSucceeds)
        return FALSE;
    memset(lpSystemPowerStatus, 0, sizeof *lpSystemPowerStatus);
    lpSystemPowerStatus->ACLineStatus = power.bACLineStatus;
    return TRUE;
}

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                    BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                    LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation)
{
    NoteCall("CreateProcessA");
    NoteCall("CreateProcessA");
    FakeProcessCall call;
    call.bHasApplication = lpApplicationName != NULL;
    call.strApplication = lpApplicationName ? lpApplicationName : "";
    call.bHasCommandLine = lpCommandLine != NULL;
    call.strCommandLine = lpCommandLine ? lpCommandLine : "";
    call.bSecurityNull = !lpProcessAttributes && !lpThreadAttributes;
    call.bInheritHandles = bInheritHandles;
    call.dwCreationFlags = dwCreationFlags;
    call.bEnvironmentNull = lpEnvironment == NULL;
    call.bDirectoryNull = lpCurrentDirectory == NULL;
    call.dwStartupSize = lpStartupInfo ? lpStartupInfo->cb : 0;
    call.bStartupZeroed = false;
    if (lpStartupInfo) {
        STARTUPINFOA zero;
        memset(&zero, 0, sizeof zero);
        zero.cb = lpStartupInfo->cb;
        call.bStartupZeroed = memcmp(&zero, lpStartupInfo, sizeof zero) == 0;
    }
    g_state.calls.push_back(call);
    Log("CreateProcessA " + (call.bHasApplication ? call.strApplication : std::string("(null)")) + "|" +
        (call.bHasCommandLine ? call.strCommandLine : std::string("(null)")));

    if (g_state.queued.empty() || !g_state.queued.front().bStarts) {
        if (!g_state.queued.empty())
            g_state.queued.pop_front();
        g_state.dwLastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    Process process;
    process.desc = g_state.queued.front();
    g_state.queued.pop_front();
    process.dwStartTime = g_state.dwClock;
    process.bEnded = false;
    process.dwEndCode = process.desc.dwExitCode;
    process.bProcessOpen = true;
    process.bThreadOpen = true;
    process.dwId = (DWORD)(100 + g_state.processes.size());
    process.dwParentId = 0;
    process.dwEndAtMs = FAKE_FOREVER;
    process.bBreakaway = false;
    process.nJob = 0;
    g_state.processes.push_back(process);
    size_t nIndex = g_state.processes.size() - 1;
    lpProcessInformation->hProcess = (HANDLE)(uintptr_t)(0x1000 + 2 * nIndex);
    lpProcessInformation->hThread = (HANDLE)(uintptr_t)(0x1000 + 2 * nIndex + 1);
    std::string strOf = " of \"" + (call.bHasCommandLine ? call.strCommandLine : call.strApplication) + "\"";
    g_openResources[HandleKey(lpProcessInformation->hProcess)] =
        "process handle " + HandleText(lpProcessInformation->hProcess) + strOf;
    g_openResources[HandleKey(lpProcessInformation->hThread)] =
        "thread handle " + HandleText(lpProcessInformation->hThread) + strOf;
    lpProcessInformation->dwProcessId = (DWORD)(100 + nIndex);
    lpProcessInformation->dwThreadId = (DWORD)(200 + nIndex);
    if (g_state.processes[nIndex].desc.fnOnStart)
        g_state.processes[nIndex].desc.fnOnStart();
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode)
{
    NoteCall("GetExitCodeProcess");
    bool bThread = false;
    Process* pProcess = FindProcess(hProcess, &bThread);
    Log("GetExitCodeProcess " + HandleText(hProcess));
    if (!pProcess || bThread || !pProcess->bProcessOpen || pProcess->desc.bQueryFails) {
        g_state.dwLastError = 6;
        return FALSE;
    }
    *lpExitCode = HasEnded(*pProcess) ? pProcess->dwEndCode : (DWORD)STILL_ACTIVE;
    return TRUE;
}

DWORD ResumeThread(HANDLE hThread)
{
    NoteCall("ResumeThread");
    Log("ResumeThread " + HandleText(hThread));
    bool bThread = false;
    Process* pProcess = FindProcess(hThread, &bThread);
    if (!pProcess || !bThread || !pProcess->bThreadOpen || pProcess->desc.bResumeFails)
        return (DWORD)-1;
    return 1;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode)
{
    NoteCall("TerminateProcess");
    Log("TerminateProcess " + HandleText(hProcess) + " " + std::to_string(uExitCode));
    DWORD dwAccess = 0;
    Process* pProcess = ProcessOfHandle(hProcess, &dwAccess);
    if (!pProcess || HasEnded(*pProcess))
        return FALSE;
    pProcess->bEnded = true;
    pProcess->dwEndCode = uExitCode;
    return TRUE;
}

HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId)
{
    NoteCall("OpenProcess");
    Log("OpenProcess " + std::to_string(dwDesiredAccess) + " " + std::to_string(bInheritHandle) + " " +
        std::to_string(dwProcessId));
    if (!ProcessById(dwProcessId)) {
        g_state.dwLastError = 87;
        return NULL;
    }
    g_state.opened.push_back(Opened{dwProcessId, dwDesiredAccess, true});
    HANDLE hProcess = (HANDLE)(uintptr_t)(0x20000 + g_state.opened.size() - 1);
    g_openResources[HandleKey(hProcess)] =
        "process handle " + HandleText(hProcess) + " of process " + std::to_string(dwProcessId);
    return hProcess;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    NoteCall("WaitForSingleObject");
    Log("WaitForSingleObject " + HandleText(hHandle) + " " + std::to_string(dwMilliseconds));
    DWORD dwAccess = 0;
    Process* pProcess = ProcessOfHandle(hHandle, &dwAccess);
    if (!pProcess || !(dwAccess & SYNCHRONIZE) || pProcess->desc.bQueryFails) {
        g_state.dwLastError = pProcess ? 5 : 6;
        return WAIT_FAILED;
    }
    // Only polled: a wait with a time-out would pass fake time, which no
    // caller needs.
    return HasEnded(*pProcess) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

HANDLE CreateJobObjectA(LPSECURITY_ATTRIBUTES lpJobAttributes, LPCSTR lpName)
{
    NoteCall("CreateJobObjectA");
    Log(std::string("CreateJobObjectA ") + (lpJobAttributes ? "attributes" : "(null)") + " " +
        (lpName ? lpName : "(null)"));
    if (g_state.nJobFailure == FAKE_JOB_CREATE_FAILS) {
        g_state.dwLastError = 5;
        return NULL;
    }
    g_state.jobs.push_back(Job{0, true});
    HANDLE hJob = (HANDLE)(uintptr_t)(0x30000 + g_state.jobs.size() - 1);
    g_openResources[HandleKey(hJob)] = "job handle " + HandleText(hJob);
    return hJob;
}

BOOL SetInformationJobObject(HANDLE hJob, JOBOBJECTINFOCLASS JobObjectInformationClass,
                             LPVOID lpJobObjectInformation, DWORD cbJobObjectInformationLength)
{
    NoteCall("SetInformationJobObject");
    Log("SetInformationJobObject " + HandleText(hJob) + " " + std::to_string((int)JobObjectInformationClass));
    Job* pJob = FindJob(hJob);
    if (!pJob || !lpJobObjectInformation || g_state.nJobFailure == FAKE_JOB_LIMITS_FAIL)
        return FALSE;
    if (JobObjectInformationClass != JobObjectExtendedLimitInformation ||
        cbJobObjectInformationLength != sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION))
        return FALSE;
    DWORD dwFlags =
        ((JOBOBJECT_EXTENDED_LIMIT_INFORMATION*)lpJobObjectInformation)->BasicLimitInformation.LimitFlags;
    pJob->dwLimitFlags = dwFlags;
    g_state.dwJobLimitFlags = dwFlags;
    return TRUE;
}

BOOL AssignProcessToJobObject(HANDLE hJob, HANDLE hProcess)
{
    NoteCall("AssignProcessToJobObject");
    Log("AssignProcessToJobObject " + HandleText(hJob) + " " + HandleText(hProcess));
    DWORD dwAccess = 0;
    Process* pProcess = ProcessOfHandle(hProcess, &dwAccess);
    if (!FindJob(hJob) || !pProcess || g_state.nJobFailure == FAKE_JOB_ASSIGN_FAILS)
        return FALSE;
    pProcess->nJob = (uintptr_t)hJob;
    return TRUE;
}

BOOL QueryInformationJobObject(HANDLE hJob, JOBOBJECTINFOCLASS JobObjectInformationClass,
                               LPVOID lpJobObjectInformation, DWORD cbJobObjectInformationLength, LPDWORD)
{
    NoteCall("QueryInformationJobObject");
    Log("QueryInformationJobObject " + HandleText(hJob) + " " + std::to_string((int)JobObjectInformationClass));
    if (!FindJob(hJob) || cbJobObjectInformationLength != sizeof(JOBOBJECT_BASIC_ACCOUNTING_INFORMATION))
        return FALSE;
    auto* pInfo = (JOBOBJECT_BASIC_ACCOUNTING_INFORMATION*)lpJobObjectInformation;
    pInfo->ActiveProcesses = 0;
    for (std::vector<Process>* pList : {&g_state.processes, &g_state.others})
        for (Process& process : *pList)
            pInfo->ActiveProcesses += IsInJob(&process, (uintptr_t)hJob) && !HasEnded(process);
    return TRUE;
}

BOOL IsProcessInJob(HANDLE ProcessHandle, HANDLE JobHandle, PBOOL Result)
{
    NoteCall("IsProcessInJob");
    Log("IsProcessInJob " + HandleText(ProcessHandle) + " " + HandleText(JobHandle));
    DWORD dwAccess = 0;
    Process* pProcess = ProcessOfHandle(ProcessHandle, &dwAccess);
    // As on Wine: only a handle with the full query right is answered.
    if (!pProcess || !(dwAccess & PROCESS_QUERY_INFORMATION) || !Result || (JobHandle && !FindJob(JobHandle)))
        return FALSE;
    *Result = IsInJob(pProcess, (uintptr_t)JobHandle) ? TRUE : FALSE;
    return TRUE;
}

void Sleep(DWORD dwMilliseconds)
{
    NoteCall("Sleep");
    Log("Sleep " + std::to_string(dwMilliseconds));
    g_state.dwClock += dwMilliseconds;
    g_state.dwSlept += dwMilliseconds;
    // A product that waits for ever would hang the test run instead of
    // failing it.
    if (g_state.dwSlept > FAKE_DAY_MS) {
        fprintf(stderr, "fake platform: the product has slept a whole day: it waits for ever\n");
        abort();
    }
}

// The tick count starts near its wrap, which every wait must survive.
const DWORD kTickAtReset = 0xFFFFFFFFu - 2999u;

DWORD GetTickCount()
{
    NoteCall("GetTickCount");
    return kTickAtReset + g_state.dwClock;
}

DWORD FakeNow()
{
    return g_state.dwClock;
}

BOOL CloseHandle(HANDLE hObject)
{
    NoteCall("CloseHandle");
    Log("CloseHandle " + HandleText(hObject));
    if (Opened* pOpened = FindOpened(hObject)) {
        pOpened->bOpen = false;
        g_openResources.erase(HandleKey(hObject));
        return TRUE;
    }
    if (Job* pJob = FindJob(hObject)) {
        pJob->bOpen = false;
        g_openResources.erase(HandleKey(hObject));
        // Such a job ends what is in it with its last handle.
        if (pJob->dwLimitFlags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) {
            for (std::vector<Process>* pList : {&g_state.processes, &g_state.others})
                for (Process& process : *pList)
                    if (IsInJob(&process, (uintptr_t)hObject))
                        process.bEnded = true;
        }
        return TRUE;
    }
    bool bThread = false;
    Process* pProcess = FindProcess(hObject, &bThread);
    if (!pProcess)
        return FALSE;
    bool& bOpen = bThread ? pProcess->bThreadOpen : pProcess->bProcessOpen;
    if (!bOpen)
        return FALSE;
    bOpen = false;
    g_openResources.erase(HandleKey(hObject));
    return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName)
{
    NoteCall("DeleteFileA");
    Log(std::string("DeleteFileA ") + (lpFileName ? lpFileName : "(null)"));
    if (!lpFileName)
        return FALSE;
    struct stat st;
    if (stat(lpFileName, &st) != 0 || S_ISDIR(st.st_mode))
        return FALSE;
    return unlink(lpFileName) == 0;
}

// ---- USER32 ----------------------------------------------------------------

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    NoteCall("MessageBoxA");
    FakeBox box;
    box.strCaption = lpCaption ? lpCaption : "";
    box.strText = lpText ? lpText : "";
    box.uType = uType;
    box.bOwnerNull = hWnd == NULL;
    bool bYesNo = (uType & 0xF) == MB_YESNO;
    box.nAnswer = bYesNo ? IDNO : IDOK;
    std::deque<int>& queue = g_state.answers[box.strCaption];
    if (!queue.empty()) {
        box.nAnswer = queue.front();
        queue.pop_front();
    }
    Log("MessageBoxA " + box.strCaption + "|" + box.strText);
    g_state.boxes.push_back(box);
    if (g_state.boxes.size() > 100000) {
        fprintf(stderr, "fake platform: more than 100000 message boxes, giving up\n");
        abort();
    }
    return box.nAnswer;
}

int wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...)
{
    NoteCall("wsprintfA");
    // wsprintfA writes at most 1024 characters and a terminator.
    va_list args;
    va_start(args, lpFmt);
    int nLength = vsnprintf(lpOut, 1025, lpFmt, args);
    va_end(args);
    return nLength > 1024 ? 1024 : nLength;
}

BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    NoteCall("EnumWindows");
    Log("EnumWindows");
    ApplyEnableChanges();
    for (size_t i = 0; i < g_state.windows.size(); i++)
        if (!g_state.windows[i].hParent && WindowExists((HWND)(i + 1)) && !lpEnumFunc((HWND)(i + 1), lParam))
            break;
    return TRUE;
}

HWND FindWindowExA(HWND hWndParent, HWND hWndChildAfter, LPCSTR lpszClass, LPCSTR lpszWindow)
{
    NoteCall("FindWindowExA");
    // Top-level windows in the order they were made; a walk goes on after
    // hWndChildAfter, and one that starts afresh is a search of its own.
    if (!hWndChildAfter)
        g_state.nFindCount++;
    size_t nFrom = 0;
    bool bValid = !hWndParent;
    if (hWndChildAfter) {
        Window* pAfter = FindWindowRecord(hWndChildAfter);
        bValid = bValid && pAfter && !pAfter->hParent && WindowExists(hWndChildAfter);
        nFrom = (uintptr_t)hWndChildAfter;
    }
    HWND hFound = NULL;
    for (size_t i = nFrom; bValid && i < g_state.windows.size() && !hFound; i++) {
        const Window& window = g_state.windows[i];
        HWND hWnd = (HWND)(uintptr_t)(i + 1);
        if (window.hParent || !WindowExists(hWnd))
            continue;
        if (lpszClass && !EqualNoCase(window.strClass, lpszClass))
            continue;
        if (lpszWindow && !EqualNoCase(window.strText, lpszWindow))
            continue;
        hFound = hWnd;
    }
    Log("FindWindowExA " + HandleText(hWndChildAfter) + " " + (lpszClass ? lpszClass : "(null)") + "|" +
        (lpszWindow ? lpszWindow : "(null)") + " -> " + HandleText(hFound));
    return hFound;
}

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId)
{
    NoteCall("GetWindowThreadProcessId");
    DWORD dwProcessId = WindowExists(hWnd) ? WindowProcessId(hWnd) : 0;
    if (lpdwProcessId)
        *lpdwProcessId = dwProcessId;
    Log("GetWindowThreadProcessId " + HandleText(hWnd) + " -> " + std::to_string(dwProcessId));
    return dwProcessId ? dwProcessId + 1000 : 0;
}

BOOL IsWindowEnabled(HWND hWnd)
{
    NoteCall("IsWindowEnabled");
    ApplyEnableChanges();
    Window* pWindow = FindWindowRecord(hWnd);
    BOOL bEnabled = pWindow && WindowExists(hWnd) && pWindow->bEnabled;
    Log("IsWindowEnabled " + HandleText(hWnd) + " -> " + std::to_string(bEnabled ? 1 : 0));
    return bEnabled;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow)
{
    NoteCall("ShowWindow");
    Log("ShowWindow " + HandleText(hWnd) + " " + std::to_string(nCmdShow));
    Window* pWindow = FindWindowRecord(hWnd);
    if (!pWindow)
        return FALSE;
    // Showing a hidden window of another thread waits until that thread
    // has shown it.
    if (!pWindow->bVisible)
        WaitForWindowThread(hWnd);
    BOOL bWasVisible = pWindow->bVisible;
    pWindow->bVisible = nCmdShow != SW_HIDE;
    return bWasVisible;
}

BOOL ShowWindowAsync(HWND hWnd, int nCmdShow)
{
    NoteCall("ShowWindowAsync");
    Log("ShowWindowAsync " + HandleText(hWnd) + " " + std::to_string(nCmdShow));
    Window* pWindow = FindWindowRecord(hWnd);
    if (!pWindow || !WindowExists(hWnd))
        return FALSE;
    pWindow->bVisible = nCmdShow != SW_HIDE;
    return TRUE;
}

BOOL IsWindow(HWND hWnd)
{
    NoteCall("IsWindow");
    BOOL bExists = WindowExists(hWnd) ? TRUE : FALSE;
    Log("IsWindow " + HandleText(hWnd) + " -> " + std::to_string(bExists));
    return bExists;
}

LONG GetWindowLongA(HWND hWnd, int nIndex)
{
    NoteCall("GetWindowLongA");
    ApplyEnableChanges();
    Window* pWindow = FindWindowRecord(hWnd);
    LONG lStyle = 0;
    if (pWindow && WindowExists(hWnd) && nIndex == GWL_STYLE)
        lStyle = (pWindow->bVisible ? WS_VISIBLE : 0) | (pWindow->bEnabled ? 0 : WS_DISABLED);
    Log("GetWindowLongA " + HandleText(hWnd) + " " + std::to_string(nIndex) + " -> " + std::to_string(lStyle));
    return lStyle;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    NoteCall("GetDlgItem");
    HWND hFound = NULL;
    for (size_t i = 0; i < g_state.windows.size() && !hFound; i++) {
        HWND hWnd = (HWND)(uintptr_t)(i + 1);
        if (hDlg && g_state.windows[i].hParent == hDlg && g_state.windows[i].nId == nIDDlgItem &&
            WindowExists(hWnd))
            hFound = hWnd;
    }
    Log("GetDlgItem " + HandleText(hDlg) + " " + std::to_string(nIDDlgItem) + " -> " + HandleText(hFound));
    return hFound;
}

int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    NoteCall("GetWindowTextA");
    Log("GetWindowTextA " + HandleText(hWnd) + " " + std::to_string(nMaxCount));
    Window* pWindow = FindWindowRecord(hWnd);
    if (!pWindow) {
        if (lpString && nMaxCount > 0)
            lpString[0] = 0;
        return 0;
    }
    return CopyText(pWindow->strText, lpString, nMaxCount);
}

BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    NoteCall("SetWindowTextA");
    Log("SetWindowTextA " + HandleText(hWnd) + "|" + (lpString ? lpString : ""));
    Window* pWindow = FindWindowRecord(hWnd);
    if (!pWindow)
        return FALSE;
    pWindow->strText = lpString ? lpString : "";
    return TRUE;
}

BOOL EnumChildWindows(HWND hWndParent, WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    NoteCall("EnumChildWindows");
    Log("EnumChildWindows " + HandleText(hWndParent) + " " + std::to_string((long long)lParam));
    if (!lpEnumFunc || !FindWindowRecord(hWndParent))
        return FALSE;
    EnumDescendants(hWndParent, lpEnumFunc, lParam);
    return TRUE;
}

int GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount)
{
    NoteCall("GetClassNameA");
    Window* pWindow = FindWindowRecord(hWnd);
    if (!pWindow)
        return 0;
    return CopyText(pWindow->strClass, lpClassName, nMaxCount);
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable)
{
    NoteCall("EnableWindow");
    ApplyEnableChanges();
    Log("EnableWindow " + HandleText(hWnd) + " " + std::to_string(bEnable ? 1 : 0));
    Window* pWindow = FindWindowRecord(hWnd);
    if (!pWindow)
        return FALSE;
    BOOL bWasDisabled = !pWindow->bEnabled;
    pWindow->bEnabled = bEnable ? TRUE : FALSE;
    return bWasDisabled;
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    NoteCall("SendMessageA");
    Log("SendMessageA " + HandleText(hWnd) + " " + std::to_string(Msg) + " " +
        std::to_string((unsigned long long)wParam) + " " + std::to_string((long long)lParam));
    WaitForWindowThread(hWnd);
    ApplyEnableChanges();
    if (g_state.fnSend)
        return g_state.fnSend(hWnd, Msg, wParam, lParam);
    return 0;
}

LRESULT SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                            DWORD_PTR* lpdwResult)
{
    NoteCall("SendMessageTimeoutA");
    Log("SendMessageTimeoutA " + HandleText(hWnd) + " " + std::to_string(Msg) + " " +
        std::to_string((unsigned long long)wParam) + " " + std::to_string((long long)lParam) + " " +
        std::to_string(fuFlags) + " " + std::to_string(uTimeout));
    Window* pWindow = TopLevel(hWnd);
    if (!pWindow || !WindowExists(hWnd)) {
        g_state.dwLastError = 1400;
        return 0;
    }
    DWORD dwFree = FreeAt(pWindow);
    if (dwFree == FAKE_FOREVER || dwFree - g_state.dwClock > uTimeout) {
        g_state.dwClock += uTimeout;
        ApplyEnableChanges();
        g_state.dwLastError = ERROR_TIMEOUT;
        return 0;
    }
    WaitForWindowThread(hWnd);
    ApplyEnableChanges();
    if (lpdwResult)
        *lpdwResult = 0;
    return 1;
}
