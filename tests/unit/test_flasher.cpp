// The flasher takeover: start, window search, takeover around the command,
// the wait for the end and the leftovers.
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "flasher/flasher.h"
#include "launch/results.h"
#include "settings/pathrule.h"
#include "testutil.h"

namespace {

const char* const kTail = "WINKESTROM.EXE /auto";

// Log lines equal to strLine.
int CountExact(const std::string& strLine)
{
    return (int)std::count(FakeLog().begin(), FakeLog().end(), strLine);
}

// A window handle as the fake's log writes it.
std::string Hex(HWND hWnd)
{
    char szText[32];
    snprintf(szText, sizeof szText, "0x%lx", (unsigned long)(uintptr_t)hWnd);
    return szText;
}

class FlasherTest : public KstTest {
protected:
    // A flasher that ends dwRunMs after its start.
    void QueueFlasher(DWORD dwRunMs = 0, BOOL bQueryFails = FALSE)
    {
        FakeProcess flasher;
        flasher.dwRunMs = dwRunMs;
        flasher.bQueryFails = bQueryFails;
        FakeQueueProcess(flasher);
    }

    // The flasher's dialog with its Flash BIOS button (unless bButton is
    // FALSE) and one edit box; made by the process started last, or by
    // dwProcessId.
    HWND AddDialog(const char* lpCaption = "Vesmar WinKestrom", int nAppearAtSearch = 1, BOOL bButton = TRUE,
                   DWORD dwProcessId = FAKE_LATEST_PROCESS)
    {
        HWND hDialog = FakeAddWindow("#32770", lpCaption, NULL, 0, TRUE, FALSE, nAppearAtSearch, dwProcessId);
        m_hButton = FakeAddWindow("Button", "Flash BIOS", hDialog, bButton ? IDC_FLASH_BIOS : 102);
        m_hEdit = FakeAddWindow("Edit", "FLASHABL.ROM", hDialog, 1000);
        return hDialog;
    }

    // Index of the first log line at or after nFrom that begins with
    // strPrefix; -1 when there is none, a failure unless that may be.
    static int Find(const std::string& strPrefix, int nFrom = 0, bool bNeeded = true)
    {
        const std::vector<std::string>& log = FakeLog();
        for (size_t i = (size_t)nFrom; i < log.size(); i++)
            if (log[i].compare(0, strPrefix.size(), strPrefix) == 0)
                return (int)i;
        EXPECT_FALSE(bNeeded) << "not in the log: " << strPrefix;
        return -1;
    }
    static int FindLast(const std::string& strPrefix)
    {
        int nLast = -1;
        for (int i = 0; (i = Find(strPrefix, i, false)) >= 0; i++)
            nLast = i;
        return nLast;
    }

    // Nothing of the takeover or the clean-up happened; the flasher is left
    // to itself and only the launcher's handles are gone.
    static void ExpectLeftAlone()
    {
        for (const char* lpCall : {"GetWindowTextA", "SetWindowTextA", "EnumChildWindows", "SendMessageA",
                                   "GetExitCodeProcess", "DeleteFileA", "Sleep 100"})
            EXPECT_EQ(FakeLogCount(lpCall), 0) << lpCall;
        EXPECT_EQ(FakeOpenHandles(), 0);
        EXPECT_TRUE(FileExists("BIOS.BAK"));
        EXPECT_TRUE(FileExists("WINKESTROM.GID"));
        EXPECT_TRUE(FakeBoxes().empty());
    }

    void WriteLeftovers()
    {
        WriteFile("BIOS.BAK", "old bios");
        WriteFile("WINKESTROM.GID", "gid");
    }

    HWND m_hButton = NULL;
    HWND m_hEdit = NULL;
};

TEST_F(FlasherTest, WholeRunInOrder)
{
    QueueFlasher(1150);
    AddDialog();
    WriteLeftovers();
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    const std::vector<std::string> start = {
        "CreateProcessA (null)|WINKESTROM.EXE /auto",
        "CreateJobObjectA (null) (null)",
        "SetInformationJobObject 0x30000 9",
        "AssignProcessToJobObject 0x30000 0x1000",
        "ResumeThread 0x1001",
        "FindWindowExA 0x0 #32770|Vesmar WinKestrom -> 0x1",
        "GetWindowThreadProcessId 0x1 -> 100",
        "GetDlgItem 0x1 101 -> 0x2",
        "Sleep 10",
        "SendMessageTimeoutA 0x1 0 0 0 0 60000",
        "ShowWindowAsync 0x1 5",
    };
    const std::vector<std::string> end = {
        "GetWindowTextA 0x1 520",
        "SetWindowTextA 0x1|Please wait when flashing BIOS...",
        "EnumChildWindows 0x1 0",
        "EnableWindow 0x2 0",
        "EnableWindow 0x3 0",
        "EnableWindow 0x1 1",  // the dialog's lock, once its button is disabled
        "SendMessageA 0x1 273 101 0",
        "SetWindowTextA 0x1|Vesmar WinKestrom",
        "EnumChildWindows 0x1 1",
        "EnableWindow 0x2 1",
        "EnableWindow 0x3 1",
        // Pressed at 1010: still running then and at 1110, ended at 1210.
        "WaitForSingleObject 0x1000 0",
        "QueryInformationJobObject 0x30000 1",
        "Sleep 100",
        "WaitForSingleObject 0x1000 0",
        "QueryInformationJobObject 0x30000 1",
        "Sleep 100",
        "WaitForSingleObject 0x1000 0",
        "QueryInformationJobObject 0x30000 1",
        "Sleep 100",
        "CloseHandle 0x1000",
        "CloseHandle 0x1001",
        "CloseHandle 0x30000",
        "DeleteFileA BIOS.BAK",
        "DeleteFileA WINKESTROM.GID",
    };
    const std::vector<std::string>& log = FakeLog();  // between: the checks of the stable second
    ASSERT_GT(log.size(), start.size() + end.size());
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + (long)start.size()), start);
    EXPECT_EQ(std::vector<std::string>(log.end() - (long)end.size(), log.end()), end);
    EXPECT_EQ(FakeOpenHandles(), 0);
    EXPECT_FALSE(FileExists("BIOS.BAK"));
    EXPECT_FALSE(FileExists("WINKESTROM.GID"));
    EXPECT_TRUE(FakeWindowVisible((HWND)1));
    EXPECT_TRUE(FakeBoxes().empty());
}

TEST_F(FlasherTest, StartsTheTailAsTheWholeCommandLine)
{
    // Quotes, blanks and lengths past any fixed path buffer arrive intact.
    std::string strLong = "\"C:\\Program Files\\Flash Tool\\WINKESTROM.EXE\" /file=\"" + std::string(300, 'a') +
                          ".ROM\" " + std::string(40000, 'x');
    for (const std::string& strTail : {std::string("\"WINKESTROM.EXE\"  \t/x \"a b\""), strLong}) {
        FakeReset();
        QueueFlasher();
        AddDialog();
        EXPECT_EQ(RunFlasher(strTail.c_str()), RC_SUCCESS);
        ASSERT_EQ(FakeProcessCalls().size(), 1u);
        const FakeProcessCall& call = FakeProcessCalls()[0];
        EXPECT_FALSE(call.bHasApplication);
        EXPECT_TRUE(call.bHasCommandLine);
        EXPECT_EQ(call.strCommandLine, strTail);
        EXPECT_TRUE(call.bSecurityNull);
        EXPECT_EQ(call.bInheritHandles, FALSE);
        // Suspended until it is in its job.
        EXPECT_EQ(call.dwCreationFlags, 0x230u | CREATE_SUSPENDED);
        EXPECT_TRUE(call.bEnvironmentNull);
        EXPECT_TRUE(call.bDirectoryNull);
        EXPECT_EQ(call.dwStartupSize, (DWORD)sizeof(STARTUPINFOA));
        EXPECT_TRUE(call.bStartupZeroed);
    }
}

TEST_F(FlasherTest, FailedStartDoesNothingElse)
{
    WriteLeftovers();
    AddDialog();
    EXPECT_EQ(RunFlasher(kTail), RC_FLASHER_START);  // nothing queued: the start fails
    FakeProcess broken;
    broken.bStarts = FALSE;
    FakeQueueProcess(broken);
    EXPECT_EQ(RunFlasher(kTail), RC_FLASHER_START);
    EXPECT_EQ(FakeLogCount("CreateProcessA"), 2);
    EXPECT_EQ((int)FakeLog().size(), 2);
    EXPECT_TRUE(FileExists("BIOS.BAK"));
    EXPECT_TRUE(FileExists("WINKESTROM.GID"));
    EXPECT_TRUE(FakeBoxes().empty());

    // A missing command line is no start either.
    EXPECT_EQ(RunFlasher(NULL), RC_FLASHER_START);
    EXPECT_EQ((int)FakeLog().size(), 2);

    // One that cannot be let run after its suspended start is ended before
    // it ran anything: not started, and nothing left behind.
    FakeProcess frozen;
    frozen.dwRunMs = FAKE_FOREVER;
    frozen.bResumeFails = TRUE;
    FakeQueueProcess(frozen);
    EXPECT_EQ(RunFlasher(kTail), RC_FLASHER_START);
    EXPECT_TRUE(FakeProcessEnded(100));
    EXPECT_EQ(FakeOpenHandles(), 0);
    EXPECT_EQ(FakeFindCount(), 0);
}

TEST_F(FlasherTest, SearchCountAndPauses)
{
    // Present at the first search: used after that search's pause.
    QueueFlasher();
    AddDialog();
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(FakeFindCount(), 1);
    EXPECT_EQ(Find("Sleep 10"), Find("FindWindowExA") + 3);
    EXPECT_EQ(Find("SendMessageTimeoutA"), Find("Sleep 10") + 1);
    // One pause after the search, the rest while the button stays pressable.
    const int nStablePauses = FLASHER_STABLE_MS / FLASHER_SEARCH_PAUSE_MS;
    EXPECT_EQ(CountExact("Sleep 10"), 1 + nStablePauses);

    // Appearing at the last search still counts.
    FakeReset();
    QueueFlasher();
    AddDialog("Vesmar WinKestrom", 501);
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(FakeFindCount(), 501);
    EXPECT_EQ(FakeLogCount("FindWindowExA 0x0 #32770"), 501);
    EXPECT_EQ(CountExact("Sleep 10"), 501 + nStablePauses);
    EXPECT_EQ(FakeLogCount("SendMessageA"), 1);
    // Searches and pauses alternate, starting with a search.
    const size_t nFirst = (size_t)Find("FindWindowExA");
    for (size_t i = 0; i < 500 * 2; i += 2) {
        ASSERT_EQ(FakeLog()[nFirst + i], "FindWindowExA 0x0 #32770|Vesmar WinKestrom -> 0x0") << i;
        ASSERT_EQ(FakeLog()[nFirst + 1 + i], "Sleep 10") << i;
    }
    EXPECT_EQ(FakeLog()[nFirst + 1000], "FindWindowExA 0x0 #32770|Vesmar WinKestrom -> 0x1");
    EXPECT_EQ(FakeLog()[nFirst + 1003], "Sleep 10");
}

TEST_F(FlasherTest, WindowThatNeverAppears)
{
    for (int nAppear : {502, 0}) {
        FakeReset();
        WriteLeftovers();
        QueueFlasher(FAKE_FOREVER);
        if (nAppear)
            AddDialog("Vesmar WinKestrom", nAppear);
        EXPECT_EQ(RunFlasher(kTail), RC_FLASHER_WINDOW);
        EXPECT_EQ(FakeFindCount(), 501);
        EXPECT_EQ(FakeLogCount("FindWindowExA"), 501);
        EXPECT_EQ(CountExact("Sleep 10"), 501);
        EXPECT_EQ(FakeSleptTotal(), 5010u);
        EXPECT_EQ(FakeLogCount("ShowWindow"), 0);
        EXPECT_EQ(FakeLogCount("GetDlgItem"), 0);
        ExpectLeftAlone();
    }
}

TEST_F(FlasherTest, CaptionMatchesLetterCaseAside)
{
    const char* const aFound[] = {"VESMAR WINKESTROM", "vesmar winkestrom", "VeSmAr wInKeStRoM"};
    for (const char* lpCaption : aFound) {
        FakeReset();
        QueueFlasher();
        HWND hDialog = AddDialog(lpCaption);
        EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS) << lpCaption;
        EXPECT_EQ(g_hFlasherWnd, hDialog);
        // Its own caption comes back, not the configured one.
        EXPECT_EQ(FakeWindowText(hDialog), lpCaption);
    }
    const char* const aMissed[] = {"Vesmar WinKestron", "Vesmar WinKestrom ", " Vesmar WinKestrom", "Vesmar_WinKestrom",
                                   "Vesmar WinKestro"};
    for (const char* lpCaption : aMissed) {
        FakeReset();
        QueueFlasher(FAKE_FOREVER);
        HWND hDialog = AddDialog(lpCaption);
        EXPECT_EQ(RunFlasher(kTail), RC_FLASHER_WINDOW) << lpCaption;
        EXPECT_EQ(FakeWindowText(hDialog), lpCaption);
        EXPECT_TRUE(FakeWindowEnabled(m_hButton));
    }
    // The right caption on a window that is not a dialog does not count.
    FakeReset();
    QueueFlasher(FAKE_FOREVER);
    FakeAddWindow("Static", "Vesmar WinKestrom");
    EXPECT_EQ(RunFlasher(kTail), RC_FLASHER_WINDOW);
}

TEST_F(FlasherTest, SearchesForTheConfiguredTitle)
{
    WriteFile("KESTROM.INI", "[UI]\nTitle=Kestrom Flash 2\n[Main]\nBackupFile=OLD.BAK\n");
    LoadSettings();
    QueueFlasher();
    AddDialog();  // the default caption: not the one asked for
    HWND hDialog = AddDialog("Kestrom Flash 2");
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(FakeLogLines("FindWindowExA")[0], "FindWindowExA 0x0 #32770|Kestrom Flash 2 -> 0x4");
    EXPECT_EQ(g_hFlasherWnd, hDialog);
    EXPECT_EQ(FakeLogCount("SendMessageA 0x4 "), 1);
}

TEST_F(FlasherTest, RepeatedRunsSearchAgain)
{
    QueueFlasher();
    AddDialog();
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    // A window of an earlier run is not reused when the new one is missing.
    strcpy(LoaderSettings.Title, "Another Title");
    QueueFlasher(FAKE_FOREVER);
    EXPECT_EQ(RunFlasher(kTail), RC_FLASHER_WINDOW);
    EXPECT_EQ(g_hFlasherWnd, (HWND)NULL);
    EXPECT_EQ(FakeLogCount("SendMessageA"), 1);
}

TEST_F(FlasherTest, MissingFlashButton)
{
    WriteLeftovers();
    QueueFlasher(FAKE_FOREVER);
    HWND hDialog = AddDialog("Vesmar WinKestrom", 1, FALSE);
    FakeAddWindow("Static", "Flash BIOS");  // not a button
    EXPECT_EQ(RunFlasher(kTail), RC_FLASH_BUTTON);
    EXPECT_EQ(FakeLogLines("GetDlgItem")[0], "GetDlgItem 0x1 101 -> 0x0");
    EXPECT_EQ(FakeLogLines("FindWindowExA 0x0 Button|")[0], "FindWindowExA 0x0 Button|Flash BIOS -> 0x0");
    // Shown, nothing more.
    EXPECT_TRUE(FakeWindowVisible(hDialog));
    EXPECT_EQ(FakeWindowText(hDialog), "Vesmar WinKestrom");
    ExpectLeftAlone();
}

TEST_F(FlasherTest, TopLevelFlashButtonWillDo)
{
    QueueFlasher();
    HWND hDialog = AddDialog("Vesmar WinKestrom", 1, FALSE);
    HWND hButton = FakeAddWindow("BUTTON", "flash bios");
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(FakeLogLines("FindWindowExA 0x0 Button|")[0], "FindWindowExA 0x0 Button|Flash BIOS -> " + Hex(hButton));
    // The command still goes to the dialog, and the stray button is left alone.
    EXPECT_EQ(FakeLogLines("SendMessageA"), std::vector<std::string>{"SendMessageA 0x1 273 101 0"});
    EXPECT_EQ(FakeLogCount(("EnableWindow " + Hex(hButton)).c_str()), 0);
    EXPECT_EQ(FakeWindowText(hDialog), "Vesmar WinKestrom");
}

TEST_F(FlasherTest, OnlyButtonsAndEditBoxesAreSwitched)
{
    QueueFlasher();
    HWND hDialog = AddDialog();
    HWND hCancel = FakeAddWindow("Button", "Exit", hDialog, 2, FALSE);  // disabled by the flasher itself
    std::vector<HWND> untouched;
    for (const char* lpClass : {"button", "EDIT", "Static", "msctls_progress32", "ListBox", "Buttons", "Butto",
                                "Edit ", "Edi", "ComboBox"})
        untouched.push_back(FakeAddWindow(lpClass, "", hDialog, 0, FALSE));
    // Grandchildren, below a control that is not switched itself.
    HWND hGroup = FakeAddWindow("#32770", "page", hDialog);
    HWND hInnerEdit = FakeAddWindow("Edit", "", hGroup, 0, FALSE);
    HWND hInnerButton = FakeAddWindow("Button", "", hGroup);
    const std::vector<HWND> switched = {m_hButton, m_hEdit, hCancel, hInnerEdit, hInnerButton};

    // What the flasher sees while it handles the command.
    int nSends = 0;
    FakeOnSend([&](HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        nSends++;
        EXPECT_EQ(hWnd, hDialog);
        EXPECT_EQ(uMsg, (UINT)WM_COMMAND);
        EXPECT_EQ(LOWORD(wParam), IDC_FLASH_BIOS);
        EXPECT_EQ(HIWORD(wParam), BN_CLICKED);
        EXPECT_EQ(lParam, 0);
        EXPECT_EQ(FakeWindowText(hDialog), "Please wait when flashing BIOS...");
        for (HWND hControl : switched)
            EXPECT_FALSE(FakeWindowEnabled(hControl)) << (uintptr_t)hControl;
        for (HWND hControl : untouched)
            EXPECT_FALSE(FakeWindowEnabled(hControl)) << (uintptr_t)hControl;
        EXPECT_TRUE(FakeWindowEnabled(hGroup) && FakeWindowEnabled(hDialog));
        return 0;
    });
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(nSends, 1);

    EXPECT_EQ(FakeWindowText(hDialog), "Vesmar WinKestrom");
    for (HWND hControl : switched) {
        EXPECT_TRUE(FakeWindowEnabled(hControl)) << (uintptr_t)hControl;
        std::string strHandle = "EnableWindow " + Hex(hControl);
        EXPECT_EQ(FakeLogCount((strHandle + " 0").c_str()), 1);
        EXPECT_EQ(FakeLogCount((strHandle + " 1").c_str()), 1);
    }
    for (HWND hControl : untouched)
        EXPECT_FALSE(FakeWindowEnabled(hControl)) << (uintptr_t)hControl;
    EXPECT_TRUE(FakeWindowEnabled(hGroup));
    EXPECT_EQ(FakeLogCount("EnableWindow"), 2 * (int)switched.size() + 2);  // and the dialog's lock
}

TEST_F(FlasherTest, CaptionAndControlsAroundTheCommand)
{
    QueueFlasher();
    HWND hDialog = AddDialog();
    for (int i = 0; i < 4; i++)
        FakeAddWindow(i % 2 ? "Edit" : "Button", "", hDialog);
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);

    int nSaved = Find("GetWindowTextA 0x1 520");
    int nBusy = Find("SetWindowTextA 0x1|Please wait when flashing BIOS...");
    int nSend = Find("SendMessageA");
    int nRestore = Find("SetWindowTextA 0x1|Vesmar WinKestrom");
    ASSERT_GE(nSaved, 0);
    EXPECT_LT(nSaved, nBusy);
    EXPECT_LT(nBusy, Find("EnableWindow 0x2"));
    EXPECT_LT(FindLast("EnableWindow"), Find("WaitForSingleObject"));
    for (int i = Find("EnableWindow 0x2"); i >= 0; i = Find("EnableWindow", i + 1, false)) {
        bool bEnable = FakeLog()[(size_t)i].back() == '1';
        if (FakeLog()[(size_t)i] == "EnableWindow 0x1 1")
            continue;  // the dialog's lock, released before the command
        EXPECT_TRUE(bEnable ? i > nRestore : i < nSend) << FakeLog()[(size_t)i];
    }
    EXPECT_EQ(FakeLogCount("EnableWindow"), 14);
    EXPECT_LT(nSend, nRestore);
}

TEST_F(FlasherTest, WaitsForTheEnd)
{
    // The dialog is found at fake time 10 and pressed a second later; the
    // end is read every 100 ms from then on, and the wait stops after the
    // pause that follows the first reading that finds every process it
    // waits for ended.
    struct {
        const char* lpName;
        DWORD dwFlasherRunMs;    // the started process
        DWORD dwExitCode;
        DWORD dwDialogEndAtMs;   // 0: the dialog is the started process's own
        int nPolls;
        DWORD dwHelperEndAtMs = 0;  // a helper that the flasher started to do the writing
    } cases[] = {
        {"the flasher runs until 2000", 2000, 0, 0, 11},
        {"an exit code that reads as still running", 1300, STILL_ACTIVE, 0, 4},
        {"a wrapper that ends at once, its flasher at 2000", 0, 0, 2000, 11},
        {"a wrapper that waits for its flasher", 3000, 0, 2000, 21},
        {"a wrapper that ends after its flasher, with 259", 2500, STILL_ACTIVE, 2000, 16},
        {"a flasher that ends at 1300, its helper at 3000", 1300, 0, 0, 21, 3000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lpName);
        FakeReset();
        FakeProcess flasher;
        flasher.dwRunMs = c.dwFlasherRunMs;
        flasher.dwExitCode = c.dwExitCode;
        FakeQueueProcess(flasher);
        // The dialog of a flasher behind a wrapper is made by a process that
        // the started one started.
        AddDialog("Vesmar WinKestrom", 1, TRUE,
                  c.dwDialogEndAtMs ? FakeAddProcess(100, c.dwDialogEndAtMs) : FAKE_LATEST_PROCESS);
        if (c.dwHelperEndAtMs)
            FakeAddProcess(100, c.dwHelperEndAtMs);
        WriteLeftovers();
        FakeOnSend([](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
            EXPECT_TRUE(FileExists("BIOS.BAK"));
            return 0;
        });
        EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
        EXPECT_EQ(FakeLogCount("Sleep 100"), c.nPolls);
        EXPECT_EQ(FakeSleptTotal(), 10u + FLASHER_STABLE_MS + 100u * (DWORD)c.nPolls);
        // The leftovers go only once the flasher has ended and its handles are closed.
        EXPECT_LT(FindLast("Sleep 100"), Find("CloseHandle 0x1000"));
        EXPECT_LT(FindLast("CloseHandle"), Find("DeleteFileA"));
        EXPECT_EQ(FakeOpenHandles(), 0);
        EXPECT_FALSE(FileExists("BIOS.BAK"));
    }

    // A wait that fails cannot hang: it reads as ended, and the rest still
    // happens.
    FakeReset();
    FakeSetJobFailure(FAKE_JOB_CREATE_FAILS);
    QueueFlasher(FAKE_FOREVER, TRUE);
    AddDialog();
    WriteLeftovers();
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(FakeLogCount("Sleep 100"), 1);
    EXPECT_EQ(FakeOpenHandles(), 0);
    EXPECT_FALSE(FileExists("BIOS.BAK"));
}

TEST_F(FlasherTest, DeletesTheConfiguredBackupAndTheGidFile)
{
    strcpy(LoaderSettings.BackupFile, "OLD.BAK");
    WriteLeftovers();
    WriteFile("OLD.BAK", "backup");
    QueueFlasher();
    AddDialog();
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(FakeLogLines("DeleteFileA"), (std::vector<std::string>{"DeleteFileA OLD.BAK", "DeleteFileA WINKESTROM.GID"}));
    EXPECT_FALSE(FileExists("OLD.BAK"));
    EXPECT_FALSE(FileExists("WINKESTROM.GID"));
    EXPECT_TRUE(FileExists("BIOS.BAK"));

    // Absent files: the same two attempts, silently.
    QueueFlasher();
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(FakeLogCount("DeleteFileA"), 4);
    EXPECT_TRUE(FakeBoxes().empty());
}

TEST_F(FlasherTest, CaptionKeptAndTakeoverNeedsAWindow)
{
    // The saved caption holds at most 519 bytes and its terminator.
    g_hFlasherWnd = FakeAddWindow("#32770", std::string(700, 'c').c_str());
    memset(g_szFlasherTitle, 'x', sizeof g_szFlasherTitle);
    SaveFlasherTitle();
    EXPECT_EQ(std::string(g_szFlasherTitle), std::string(519, 'c'));
    EXPECT_EQ(FakeLogLines("GetWindowTextA")[0], "GetWindowTextA 0x1 520");

    // Without a known window nothing is touched, not even top-level windows.
    g_hFlasherWnd = NULL;
    HWND hTopButton = FakeAddWindow("Button", "x");
    size_t nBefore = FakeLog().size();
    SetFlasherBusy(FALSE);
    SetFlasherBusy(TRUE);
    SaveFlasherTitle();
    EXPECT_EQ(FakeLog().size(), nBefore);
    EXPECT_EQ(g_szFlasherTitle[0], 0);
    EXPECT_TRUE(FakeWindowEnabled(hTopButton));

    EXPECT_FALSE(EnableControlProc(NULL, TRUE));
    EXPECT_TRUE(EnableControlProc(hTopButton, FALSE));
    EXPECT_FALSE(FakeWindowEnabled(hTopButton));
    EXPECT_TRUE(EnableControlProc(FakeAddWindow("Static", ""), FALSE));
    EXPECT_EQ(FakeLogCount("EnableWindow"), 1);
}

// ---- only what a user at the flasher's own dialog could do -------------------

class OwnDialogTest : public FlasherTest {
protected:
    // Another program's dialog of the same class and caption, with a Flash
    // BIOS button and an edit box of its own.
    HWND AddOtherDialog(const char* lpCaption = "Vesmar WinKestrom")
    {
        HWND hDialog = FakeAddWindow("#32770", lpCaption, NULL, 0, TRUE, FALSE, 1, FAKE_OTHER_PROCESS);
        m_other = {hDialog, FakeAddWindow("Button", "Flash BIOS", hDialog, IDC_FLASH_BIOS),
                   FakeAddWindow("Edit", "OTHER.ROM", hDialog, 1000)};
        return hDialog;
    }

    // Nothing was done to the other program's windows: not shown, its
    // caption neither read nor set, no control looked up, switched or sent
    // anything.
    void ExpectOtherUntouched()
    {
        for (HWND hWnd : m_other) {
            std::string strHandle = Hex(hWnd);
            for (const char* lpCall : {"ShowWindow ", "GetDlgItem ", "GetWindowTextA ", "SetWindowTextA ",
                                       "EnumChildWindows ", "EnableWindow ", "SendMessageA ", "IsWindowEnabled "})
                EXPECT_EQ(FakeLogCount((lpCall + strHandle).c_str()), 0) << lpCall << strHandle;
            EXPECT_TRUE(FakeWindowEnabled(hWnd)) << strHandle;
        }
        EXPECT_FALSE(FakeWindowVisible(m_other[0]));
        EXPECT_EQ(FakeWindowText(m_other[0]), "Vesmar WinKestrom");
    }

    std::vector<HWND> m_other;
};

TEST_F(OwnDialogTest, AnotherProgramsDialogIsPassedOver)
{
    // First in the search order, and there from the start; the started
    // flasher's own dialog comes at the third search.
    QueueFlasher();
    AddOtherDialog();
    HWND hOwn = AddDialog("VESMAR WINKESTROM", 3);
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(g_hFlasherWnd, hOwn);
    EXPECT_EQ(FakeFindCount(), 3);
    // Each search walks on past the other dialog.
    EXPECT_EQ(FakeLogLines("FindWindowExA 0x1 "),
              (std::vector<std::string>{"FindWindowExA 0x1 #32770|Vesmar WinKestrom -> 0x0",
                                        "FindWindowExA 0x1 #32770|Vesmar WinKestrom -> 0x0",
                                        "FindWindowExA 0x1 #32770|Vesmar WinKestrom -> 0x4"}));
    EXPECT_EQ(FakeLogLines("SendMessageA"), std::vector<std::string>{"SendMessageA 0x4 273 101 0"});
    ExpectOtherUntouched();

    // Several other windows of that name, the flasher's between them.
    FakeReset();
    QueueFlasher();
    AddOtherDialog();
    FakeAddWindow("#32770", "Vesmar WinKestrom", NULL, 0, TRUE, TRUE, 1, FAKE_OTHER_PROCESS + 1);
    hOwn = AddDialog();
    FakeAddWindow("#32770", "Vesmar WinKestrom", NULL, 0, TRUE, TRUE, 1, FAKE_OTHER_PROCESS);
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(g_hFlasherWnd, hOwn);
    EXPECT_EQ(FakeFindCount(), 1);
    ExpectOtherUntouched();
}

TEST_F(OwnDialogTest, DialogOfAProgramTheFlasherStarted)
{
    // Behind a wrapper or a batch file the dialog belongs to a process that
    // the started one started, directly or further down: it is the
    // flasher's own. An unrelated program's dialog, first in the search
    // order, still is not. Without a job (it cannot be made, limited or
    // joined) only the started process counts.
    enum { kStarted, kChild, kGrandchild };
    struct {
        const char* lpName;
        int nOwner;
        int nJobFailure;
        BOOL bFallbackButton;  // no control 101: the top-level button of the dialog's process
        int nCode;
    } cases[] = {
        {"child", kChild, FAKE_JOB_WORKS, FALSE, RC_SUCCESS},
        {"grandchild", kGrandchild, FAKE_JOB_WORKS, FALSE, RC_SUCCESS},
        {"child, fallback button", kChild, FAKE_JOB_WORKS, TRUE, RC_SUCCESS},
        {"child, no job", kChild, FAKE_JOB_CREATE_FAILS, FALSE, RC_FLASHER_WINDOW},
        {"child, job without limits", kChild, FAKE_JOB_LIMITS_FAIL, FALSE, RC_FLASHER_WINDOW},
        {"child, not put in the job", kChild, FAKE_JOB_ASSIGN_FAILS, FALSE, RC_FLASHER_WINDOW},
        {"started, no job", kStarted, FAKE_JOB_ASSIGN_FAILS, FALSE, RC_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lpName);
        FakeReset();
        FakeSetJobFailure(c.nJobFailure);
        WriteLeftovers();
        // A wrapper that ends at once; one that the launcher gives up on runs on.
        QueueFlasher(c.nCode == RC_SUCCESS ? 0 : FAKE_FOREVER);
        DWORD dwOwner = FAKE_LATEST_PROCESS;
        if (c.nOwner != kStarted)
            dwOwner = FakeAddProcess(100, 1500);
        if (c.nOwner == kGrandchild)
            dwOwner = FakeAddProcess(dwOwner, 1500);
        DWORD dwUnrelated = FakeAddProcess(0);
        m_other = {FakeAddWindow("#32770", "Vesmar WinKestrom", NULL, 0, TRUE, FALSE, 1, dwUnrelated)};
        m_other.push_back(FakeAddWindow("Button", "Flash BIOS", m_other[0], IDC_FLASH_BIOS));
        HWND hOwn = AddDialog("Vesmar WinKestrom", 1, !c.bFallbackButton, dwOwner);
        if (c.bFallbackButton)
            FakeAddWindow("Button", "Flash BIOS", NULL, 0, TRUE, TRUE, 1, dwOwner);
        int nCode = RunFlasher(kTail);
        ExpectOtherUntouched();
        if (c.nJobFailure != FAKE_JOB_CREATE_FAILS && c.nJobFailure != FAKE_JOB_LIMITS_FAIL) {
            // The job limits nothing: what the flasher starts may still leave it.
            EXPECT_EQ(FakeJobLimitFlags(), (DWORD)JOB_OBJECT_LIMIT_BREAKAWAY_OK);
        }
        EXPECT_EQ(nCode, c.nCode);
        if (c.nCode != RC_SUCCESS) {
            EXPECT_EQ(FakeWindowText(hOwn), "Vesmar WinKestrom");
            EXPECT_FALSE(FakeProcessEnded(100));
            ExpectLeftAlone();
            continue;
        }
        EXPECT_EQ(g_hFlasherWnd, hOwn);
        EXPECT_EQ(FakeLogLines("SendMessageA"), std::vector<std::string>{"SendMessageA " + Hex(hOwn) + " 273 101 0"});
        // The leftovers go once the dialog's own process has ended too.
        EXPECT_EQ(FakeLogCount("Sleep 100"), c.nOwner == kStarted ? 1 : 6);
        EXPECT_FALSE(FileExists("WINKESTROM.GID"));
        EXPECT_EQ(FakeOpenHandles(), 0);
    }
}

TEST_F(OwnDialogTest, OnlyAnotherProgramsDialog)
{
    // The started flasher never shows its dialog: the other one is never
    // taken for it, however long it is there.
    WriteLeftovers();
    QueueFlasher(10000);  // ends, should the launcher wait for it
    AddOtherDialog();
    EXPECT_EQ(RunFlasher(kTail), RC_FLASHER_WINDOW);
    EXPECT_EQ(FakeFindCount(), 501);
    EXPECT_EQ(CountExact("Sleep 10"), 501);
    EXPECT_EQ(FakeSleptTotal(), 5010u);
    EXPECT_EQ(g_hFlasherWnd, (HWND)NULL);
    ExpectOtherUntouched();
    ExpectLeftAlone();
}

TEST_F(OwnDialogTest, FlashButtonOfAnotherProgramDoesNotCount)
{
    // The flasher's dialog has no control 101; a top-level "Flash BIOS"
    // button exists only in another program.
    WriteLeftovers();
    QueueFlasher(10000);  // ends, should the launcher wait for it
    HWND hDialog = AddDialog("Vesmar WinKestrom", 1, FALSE);
    HWND hForeign = FakeAddWindow("Button", "Flash BIOS", NULL, 0, TRUE, TRUE, 1, FAKE_OTHER_PROCESS);
    EXPECT_EQ(RunFlasher(kTail), RC_FLASH_BUTTON);
    EXPECT_EQ(FakeLogLines("FindWindowExA 0x0 Button|")[0], "FindWindowExA 0x0 Button|Flash BIOS -> " + Hex(hForeign));
    EXPECT_EQ(FakeLogCount(("FindWindowExA " + Hex(hForeign) + " Button|Flash BIOS -> 0x0").c_str()), 501);
    EXPECT_EQ(FakeWindowText(hDialog), "Vesmar WinKestrom");
    ExpectLeftAlone();

    // The flasher's own button after the foreign one counts.
    FakeReset();
    QueueFlasher();
    AddDialog("Vesmar WinKestrom", 1, FALSE);
    FakeAddWindow("Button", "Flash BIOS", NULL, 0, TRUE, TRUE, 1, FAKE_OTHER_PROCESS);
    FakeAddWindow("Button", "Flash BIOS");
    EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
    EXPECT_EQ(FakeLogLines("SendMessageA"), std::vector<std::string>{"SendMessageA 0x1 273 101 0"});
}

TEST_F(OwnDialogTest, ButtonIsPressedOnlyOnceItHasStayedPressable)
{
    // The dialog is found at fake time 10 (one search and its pause). The
    // flasher may still be setting it up then, or change it a moment later:
    // the button is pressed only once it has stayed pressable for a second.
    enum { kButton = 1, kDialog = 2, kHidden = 4 };
    struct {
        const char* lpName;
        int nDisabled;        // what the flasher disables (kHidden: the button is hidden)
        DWORD dwDisabledAt;   // when: 0, when the dialog is found
        DWORD dwEnabledAt;    // when it enables them again; FAKE_FOREVER: never
        DWORD dwSetUpUntil;   // its set-up ends; FAKE_FOREVER: it never answers
        DWORD dwGoneAt;       // the dialog is closed by its user
        BOOL bFallback;       // no control 101: a top-level "Flash BIOS" button
        int nCode;
        DWORD dwDoneAt;       // pressed, or given up
        std::function<void(HWND, HWND)> fnHabit = nullptr;  // what else the flasher, or its user, does
    } cases[] = {
        {"button, enabled after 30 ms", kButton, 0, 40, 0, FAKE_FOREVER, FALSE, RC_SUCCESS, 1040},
        {"dialog behind a box of its own for 8 s", kDialog, 0, 8000, 0, FAKE_FOREVER, FALSE, RC_SUCCESS, 9000},
        {"button enabled after 4.99 s", kButton, 0, 5000, 0, FAKE_FOREVER, FALSE, RC_SUCCESS, 6000},
        {"button never enabled", kButton, 0, FAKE_FOREVER, 0, FAKE_FOREVER, FALSE, RC_FLASH_BUTTON, 5010},
        {"button enabled a moment too late", kButton, 0, 5020, 0, FAKE_FOREVER, FALSE, RC_FLASH_BUTTON, 5010},
        {"dialog behind a box, closed by its user", kDialog, 0, FAKE_FOREVER, 0, 20000, FALSE, RC_FLASH_BUTTON, 20000},
        {"set-up of 2 s that disables the button at its end", kButton, 2000, FAKE_FOREVER, 2000, FAKE_FOREVER, FALSE,
         RC_FLASH_BUTTON, 7000},
        {"set-up of 8 s", 0, 0, FAKE_FOREVER, 8000, FAKE_FOREVER, FALSE, RC_SUCCESS, 9000},
        {"button enabled as an 8 s set-up ends", kButton, 0, 8000, 8000, FAKE_FOREVER, FALSE, RC_SUCCESS, 9000},
        {"button disabled 400 ms after the dialog is up", kButton, 410, FAKE_FOREVER, 0, FAKE_FOREVER, FALSE,
         RC_FLASH_BUTTON, 5400},
        {"button disabled for a moment: its second starts again", kButton, 500, 600, 0, FAKE_FOREVER, FALSE,
         RC_SUCCESS, 1600},
        {"hidden button", kHidden, 0, FAKE_FOREVER, 0, FAKE_FOREVER, FALSE, RC_FLASH_BUTTON, 5010},
        {"hidden dialog that never answers", 0, 0, FAKE_FOREVER, FAKE_FOREVER, FAKE_FOREVER, FALSE,
         RC_FLASH_BUTTON, 60010},
        {"fallback button, enabled late", kButton, 0, 300, 0, FAKE_FOREVER, TRUE, RC_SUCCESS, 1300},
        {"fallback button never enabled", kButton, 0, FAKE_FOREVER, 0, FAKE_FOREVER, TRUE, RC_FLASH_BUTTON, 5010},
        {"fallback button hidden", kHidden, 0, FAKE_FOREVER, 0, FAKE_FOREVER, TRUE, RC_FLASH_BUTTON, 5010},
        {"its user clicks Flash BIOS at 0.5 s: one flash, the launcher's", 0, 0, FAKE_FOREVER, 0, FAKE_FOREVER, FALSE,
         RC_SUCCESS, 1010, [](HWND, HWND hButton) { FakeSetEnabledAt(hButton, 500, TRUE, FAKE_CLICK); }},
        {"dialog disabled under the launcher's lock, enabled again at 0.6 s", kDialog, 500, 600, 0, FAKE_FOREVER,
         FALSE, RC_SUCCESS, 1600},
        {"a box of its own without owner until 6.3 s", 0, 0, FAKE_FOREVER, 0, FAKE_FOREVER, FALSE, RC_SUCCESS, 7300,
         [](HWND, HWND) { FakeSetLifetime(FakeAddWindow("#32770", "Warning"), 0, 6300); }},
        {"a box captioned as the dialog, shown until 3.5 s, the dialog from 3 s", 0, 0, FAKE_FOREVER, 0, FAKE_FOREVER,
         FALSE, RC_SUCCESS, 4500, [](HWND h, HWND) {
             FakeSetLifetime(h, 3000, FAKE_FOREVER); FakeSetLifetime(FakeAddWindow("#32770", "Vesmar WinKestrom"), 0, 3500);
         }},
        {"busy 300 ms in every 500 until it quits at 75 s", 0, 0, FAKE_FOREVER, 0, 75000, FALSE, RC_FLASH_BUTTON,
         60250, [](HWND h, HWND) { for (DWORD t = 0; t < 75000; t += 500) FakeSetBusyUntil(h, t + 300, t); }},
        {"button enabled as an 8 s set-up in 200 ms pieces ends", kButton, 0, 8000, 0, FAKE_FOREVER, FALSE, RC_SUCCESS,
         9039, [](HWND h, HWND) { for (DWORD t = 0; t < 8000; t += 201) FakeSetBusyUntil(h, t + 200, t); }},
        {"button made 300 ms after the dialog", 0, 0, FAKE_FOREVER, 0, FAKE_FOREVER, FALSE, RC_SUCCESS, 1310,
         [](HWND, HWND hButton) { FakeSetLifetime(hButton, 300, FAKE_FOREVER); }},
        {"button made again at 0.5 s", 0, 0, FAKE_FOREVER, 0, FAKE_FOREVER, FALSE, RC_SUCCESS, 1500, [](HWND h, HWND b) {
             FakeSetLifetime(b, 0, 500); FakeSetLifetime(FakeAddWindow("Button", "", h, IDC_FLASH_BIOS), 500, FAKE_FOREVER);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lpName);
        FakeReset();
        WriteLeftovers();
        // A flasher that runs on past the launcher's wait, and ends
        // (should it be pressed all the same, the test ends too).
        QueueFlasher(100000);
        HWND hDialog = AddDialog("Vesmar WinKestrom", 1, FALSE);
        m_hButton = FakeAddWindow("Button", "Flash BIOS", c.bFallback ? NULL : hDialog,
                                  c.bFallback ? 0 : IDC_FLASH_BIOS, TRUE, !(c.nDisabled & kHidden));
        FakeSetBusyUntil(hDialog, c.dwSetUpUntil);
        FakeSetLifetime(hDialog, 0, c.dwGoneAt);
        std::vector<HWND> disabled;
        if (c.nDisabled & kButton)
            disabled.push_back(m_hButton);
        if (c.nDisabled & kDialog)
            disabled.push_back(hDialog);
        for (HWND hWnd : disabled) {
            FakeSetEnabledAt(hWnd, c.dwDisabledAt, FALSE);
            if (c.dwEnabledAt != FAKE_FOREVER)
                FakeSetEnabledAt(hWnd, c.dwEnabledAt, TRUE);
        }
        if (c.fnHabit)
            c.fnHabit(hDialog, m_hButton);
        DWORD dwPressedAt = 0;
        int nFlashes = 0;
        FakeOnSend([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
            dwPressedAt = FakeNow();
            return nFlashes++;
        });
        EXPECT_EQ(RunFlasher(kTail), c.nCode);
        // The flasher is asked first, then asked to show its dialog, whose
        // state is read once the flasher has handled that: nothing waits on it.
        EXPECT_EQ(FakeLogCount("ShowWindow "), 0);
        int nShow = Find("ShowWindowAsync");
        if (c.dwSetUpUntil == FAKE_FOREVER) {
            EXPECT_EQ(Find("SendMessageTimeoutA") + 1, nShow);
            EXPECT_EQ(FakeLogCount("IsWindowEnabled"), 0);
        } else {
            EXPECT_LT(Find("SendMessageTimeoutA"), nShow);
            EXPECT_LT(Find("SendMessageTimeoutA", nShow), Find("IsWindowEnabled"));
        }
        if (c.nCode == RC_SUCCESS) {
            EXPECT_EQ(dwPressedAt, c.dwDoneAt);
            EXPECT_EQ(nFlashes, 1);
            EXPECT_LT(FindLast("IsWindowEnabled"), Find("SetWindowTextA"));
            continue;
        }
        // -5 with the flasher left as it was, its dialog shown and unlocked, nothing else.
        EXPECT_EQ(FakeNow(), c.dwDoneAt);
        EXPECT_TRUE(FakeWindowVisible(hDialog));
        EXPECT_EQ(FakeWindowEnabled(hDialog), !(c.nDisabled & kDialog));
        EXPECT_EQ(FakeWindowText(hDialog), "Vesmar WinKestrom");
        for (HWND hWnd : disabled)
            EXPECT_FALSE(FakeWindowEnabled(hWnd));
        ExpectLeftAlone();
    }
}

TEST_F(FlasherTest, BackupFileIsDeletedOnlyInsideTheLaunchersFolder)
{
    struct {
        UINT uAcp;
        const char* lpName;
        int nClass;
    } cases[] = {
        {1252, "OLD.BAK", NAME_INSIDE},
        {1252, "BACKUP\\OLD.BIN", NAME_INSIDE},
        {1252, "BACKUP/OLD.BIN", NAME_INSIDE},
        {1252, "sub\\..\\OLD.BAK", NAME_INSIDE},
        {1252, ".\\OLD.BAK", NAME_INSIDE},
        {1252, "a\\b\\..\\..\\OLD.BAK", NAME_INSIDE},
        {1252, "..a\\OLD.BAK", NAME_INSIDE},
        {1252, "..\\x", NAME_CLIMBS},
        {1252, "../x", NAME_CLIMBS},
        {1252, "a\\..\\..\\x", NAME_CLIMBS},
        {1252, "..\\BIOS\\..\\x", NAME_CLIMBS},
        {1252, "...\\x", NAME_CLIMBS},
        {1252, ". .\\x", NAME_CLIMBS},
        {1252, "x\\..", NAME_INSIDE},
        {1252, "x\\..\\..", NAME_CLIMBS},
        {1252, "\\x", NAME_ABSOLUTE},
        {1252, "/x", NAME_ABSOLUTE},
        {1252, "\\\\srv\\s\\x", NAME_ABSOLUTE},
        {1252, "C:x", NAME_DRIVE},
        {1252, "c:\\x", NAME_DRIVE},
        {1252, "OLD.BAK:s", NAME_COLON},
        {1252, "OLD.BAK::$DATA", NAME_COLON},
        // Under 932, 0x95 0x5C is one character, whose trail byte is no
        // separator: "\x95\x5C.." is one element, not a parent.
        {932, "\x95\\..\\..\\x", NAME_INSIDE},
        {1252, "\x95\\..\\..\\x", NAME_CLIMBS},
        // Under 1361 a trail byte may be 0x3A, and is no ":".
        {1361, "\x84:x.BAK", NAME_INSIDE},
        {1252, "\x84:x.BAK", NAME_COLON},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lpName);
        FakeReset();
        UseCodePage(c.uAcp);
        EXPECT_EQ(ClassifyName(c.lpName), c.nClass);
        strcpy(LoaderSettings.BackupFile, c.lpName);
        QueueFlasher();
        AddDialog();
        EXPECT_EQ(RunFlasher(kTail), RC_SUCCESS);
        std::vector<std::string> expected = {"DeleteFileA WINKESTROM.GID"};
        if (c.nClass == NAME_INSIDE)
            expected.insert(expected.begin(), std::string("DeleteFileA ") + c.lpName);
        EXPECT_EQ(FakeLogLines("DeleteFileA"), expected);
        EXPECT_TRUE(FakeBoxes().empty());
    }
    EXPECT_EQ(ClassifyName(""), NAME_EMPTY);
    EXPECT_EQ(ClassifyName(NULL), NAME_EMPTY);
    EXPECT_FALSE(IsNameInsideFolder(""));
}

}  // namespace
