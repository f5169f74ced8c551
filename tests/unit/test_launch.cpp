// The launch sequence: command-line tail, guard, help, working directory,
// settings, the AC prompt, version failures and the confirmation.
#include <cstring>

#include "launch/messages.h"
#include "launch/results.h"
#include "testutil.h"

namespace {

// Every box of the sequence, whole: caption, text and style.
struct Box {
    std::string strCaption;
    std::string strText;
    UINT uType;
};

const UINT kErrorBox = MB_OK | MB_ICONERROR;
const Box kMutexBox = {"Initialize Fail", "Create Mutex fail.\nRestart the mechine and try again.", kErrorBox};
const Box kHelpBox = {"Help",
                      "WinKestrom Loader v1.0\n\nOptions:\n  <filename>\tThe filename and the params of WinKestrom",
                      MB_OK | MB_ICONINFORMATION};
const Box kSettingsBox = {"Loading Fail",
                          "Load KESTROM.INI fail.\nMake sure KSTGATE is in the same directory of WinKestrom.",
                          kErrorBox};
const Box kAcBox = {"AC Offline!!",
                    "AC Adaptor is Offline.\nPlease put on the AC Adaptor and press \"Yes\" to continue,\n"
                    "or press \"No\" to exit.",
                    MB_YESNO | MB_ICONERROR};

Box ConfirmBox(const std::string& strMachine, const std::string& strImage)
{
    return Box{"Confirm to Upgrade",
               "The BIOS VERSION of this machine is : \"" + strMachine + "\",\nThe BIOS VERSION to upgrade is : \"" +
                   strImage + "\".\nDo you want to continue?",
               MB_YESNO | MB_ICONQUESTION};
}

// The two answers an OK box can give: OK, or 0 when it could not be shown.
const int kOkAnswers[] = {IDOK, 0};

class LaunchTest : public KstTest {
protected:
    // A machine on which every stage up to the confirmation passes: machine
    // version 1.05, image version 1.07.
    void PrepareMachine(const std::string& strIni = "[UI]\nTitle=Vesmar WinKestrom\n",
                        const std::string& strMachineVersion = "1.05", bool bQueueProbe = true)
    {
        FakeSetModuleFileName("C:\\Flash\\KSTGATE.exe");
        WriteFile("KESTROM.INI", strIni);
        WriteFile("BIOSVER.EXE", "MZ");
        WriteFile("FLASHABL.ROM", std::string(100, '\xFF') + "1.07-0000-" + std::string(50, '\0'));
        if (!bQueueProbe)
            return;
        FakeProcess probe;
        probe.dwRunMs = 3;
        probe.fnOnStart = [strMachineVersion]() { WriteFile("BV", "[BV]\r\nBV=" + strMachineVersion + "\r\n"); };
        FakeQueueProcess(probe);
    }

    int Run(const char* lpCommandLine)
    {
        FakeSetCommandLine(lpCommandLine);
        return WinMain(NULL, NULL, NULL, 1);
    }

    // Exactly these boxes were shown, in this order, each without an owner.
    static void ExpectBoxes(const std::vector<Box>& expected)
    {
        ASSERT_EQ(FakeBoxes().size(), expected.size());
        for (size_t i = 0; i < expected.size(); i++) {
            EXPECT_EQ(FakeBoxes()[i].strCaption, expected[i].strCaption) << "box " << i;
            EXPECT_EQ(FakeBoxes()[i].strText, expected[i].strText) << "box " << i;
            EXPECT_EQ(FakeBoxes()[i].uType, expected[i].uType) << "box " << i;
            EXPECT_TRUE(FakeBoxes()[i].bOwnerNull) << "box " << i;
        }
    }
};

TEST_F(LaunchTest, CommandTailRules)
{
    EXPECT_STREQ(GetCommandTail("KSTGATE.EXE WINKESTROM.EXE /x"), "WINKESTROM.EXE /x");
    EXPECT_STREQ(GetCommandTail("\"C:\\My Tools\\KSTGATE.EXE\" WF.EXE  \"a b\" "), "WF.EXE  \"a b\" ");
    EXPECT_STREQ(GetCommandTail("\"C:\\no closing quote WF.EXE"), "");
    EXPECT_STREQ(GetCommandTail("KSTGATE.EXE\t \x01\x1F\x20WF.EXE"), "WF.EXE");
    EXPECT_STREQ(GetCommandTail("KSTGATE.EXE\x01WF.EXE"), "WF.EXE");
    EXPECT_STREQ(GetCommandTail("KSTGATE.EXE \t\x01 "), "");
    EXPECT_STREQ(GetCommandTail("\"KSTGATE.EXE\"WF.EXE"), "WF.EXE");
    EXPECT_STREQ(GetCommandTail(""), "");
    // A byte of 0x80 or above does not end an unquoted name.
    EXPECT_STREQ(GetCommandTail("K\xA0\x95X.EXE WF.EXE"), "WF.EXE");

    // Under code page 932 a quote after a lead byte is its trail byte, not
    // the closing quote; under 1252 it closes the name.
    UseCodePage(932);
    EXPECT_STREQ(GetCommandTail("\"C:\\\x95\"\\K.EXE\" WF.EXE"), "WF.EXE");
    EXPECT_STREQ(GetCommandTail("\"C:\\\x95"), "");
    UseCodePage(1252);
    EXPECT_STREQ(GetCommandTail("\"C:\\\x95\"\\K.EXE\" WF.EXE"), "\\K.EXE\" WF.EXE");
}

TEST_F(LaunchTest, SecondInstanceEndsSilently)
{
    // Before anything else, the help for an empty tail included.
    for (const char* lpCommandLine : {"KSTGATE.EXE WINKESTROM.EXE", "KSTGATE.EXE"}) {
        FakeReset();
        PrepareMachine();
        FakeSetMutex(FAKE_MUTEX_EXISTS);
        EXPECT_EQ(Run(lpCommandLine), RC_SUCCESS) << lpCommandLine;
        EXPECT_TRUE(FakeBoxes().empty());
        EXPECT_TRUE(FakeProcessCalls().empty());
        EXPECT_EQ(FakeLogLines("CreateMutexA"),
                  std::vector<std::string>{"CreateMutexA Global\\{7F795C97-E147-4d53-8E3D-E2C8DE9B9F4B}"});
        for (const char* lpCall : {"SetCurrentDirectoryW", "GetFileAttributesA", "OpenSharedRead"})
            EXPECT_EQ(FakeLogCount(lpCall), 0) << lpCall;
    }
}

TEST_F(LaunchTest, MutexFailure)
{
    EXPECT_EQ(RC_MUTEX, -513);
    // The guard comes before the help, and the box's answer changes nothing.
    for (const char* lpCommandLine : {"KSTGATE.EXE WINKESTROM.EXE", "KSTGATE.EXE"}) {
        for (int nAnswer : kOkAnswers) {
            FakeReset();
            PrepareMachine();
            FakeSetMutex(FAKE_MUTEX_FAIL);
            FakeAnswer("Initialize Fail", nAnswer);
            EXPECT_EQ(Run(lpCommandLine), RC_MUTEX) << lpCommandLine << " " << nAnswer;
            ExpectBoxes({kMutexBox});
            EXPECT_EQ(FakeLogCount("SetCurrentDirectoryW"), 0);
            EXPECT_EQ(FakeLogCount("GetFileAttributesA"), 0);
        }
    }
}

TEST_F(LaunchTest, HelpOnAnEmptyOrBlankTail)
{
    for (const char* lpCommandLine : {"KSTGATE.EXE", "\"C:\\A B\\KSTGATE.EXE\"", "KSTGATE.EXE \t \x01\x1F"}) {
        for (int nAnswer : kOkAnswers) {
            FakeReset();
            PrepareMachine();
            FakeAnswer("Help", nAnswer);
            EXPECT_EQ(Run(lpCommandLine), RC_HELP) << lpCommandLine;
            ExpectBoxes({kHelpBox});
            EXPECT_EQ(FakeLogCount("SetCurrentDirectoryW"), 0);
            EXPECT_EQ(FakeLogCount("GetFileAttributesA"), 0);
        }
    }
}

TEST_F(LaunchTest, WorkingDirectoryIsTheLaunchersOwn)
{
    // The path comes as UTF-16 whatever the ANSI code page, so letters the
    // page lacks and double-byte names alike are cut at the last backslash.
    struct {
        UINT uAcp;
        const char* lpModule;     // UTF-8
        const char* lpDirectory;
    } cases[] = {
        {1252, "C:\\Flash\\Tools\\KSTGATE.exe", "C:\\Flash\\Tools"},
        {1252, "C:\\KSTGATE.exe", "C:\\"},
        // The root of the current drive keeps its backslash too.
        {1252, "\\KSTGATE.exe", "\\"},
        {1252, "\\\\server\\share\\KSTGATE.exe", "\\\\server\\share"},
        {1252, "KSTGATE.exe", "KSTGATE.exe"},
        {1252, "C:\\Users\\Łukasz\\Обновление BIOS\\KSTGATE.exe", "C:\\Users\\Łukasz\\Обновление BIOS"},
        {1252, "D:\\Ενημέρωση\\KSTGATE.exe", "D:\\Ενημέρωση"},
        // U+8868, whose code page 932 form ends in 0x5C, and a character
        // beyond the first 64K (a surrogate pair).
        {932, "C:\\表示\\KSTGATE.exe", "C:\\表示"},
        {1252, "C:\\表示\\KSTGATE.exe", "C:\\表示"},
        {936, "C:\\𠀀\\K.exe", "C:\\𠀀"},
    };
    for (const auto& c : cases) {
        FakeReset();
        UseCodePage(c.uAcp);
        FakeSetModuleFileName(c.lpModule);
        EXPECT_TRUE(SetWorkDirToExeDir()) << c.lpModule;
        EXPECT_EQ(FakeLogLines("SetCurrentDirectoryW"),
                  std::vector<std::string>{std::string("SetCurrentDirectoryW ") + c.lpDirectory});
        EXPECT_EQ(FakeCurrentDirectory(), c.lpDirectory) << c.lpModule;
    }

    // The first token of the command line plays no part.
    FakeReset();
    UseCodePage(1252);
    FakeSetModuleFileName("D:\\Real\\KSTGATE.exe");
    EXPECT_EQ(Run("\"E:\\Elsewhere\\other.exe\" WF.EXE"), RC_NOT_FOUND);
    EXPECT_EQ(FakeCurrentDirectory(), "D:\\Real");

    // A path longer than MAX_PATH is taken whole.
    FakeReset();
    std::string strLong = "C:\\" + std::string(300, 'd') + "\\KSTGATE.exe";
    FakeSetModuleFileName(strLong.c_str());
    EXPECT_TRUE(SetWorkDirToExeDir());
    EXPECT_EQ(FakeCurrentDirectory(), "C:\\" + std::string(300, 'd'));
}

TEST_F(LaunchTest, NoOwnFolderNoRun)
{
    // The path cannot be read (none, or longer than any asked for), or its
    // folder cannot be made current: the settings box and -33, before any
    // file is looked at or any program started.
    const std::string strTooLong = "C:\\" + std::string(40000, 'd') + "\\KSTGATE.exe";
    struct {
        const char* lpName;
        const char* lpModule;
        bool bFolderFails;
    } cases[] = {
        {"folder cannot be made current", "C:\\Flash\\KSTGATE.exe", true},
        {"no path", "", false},
        {"path too long to read", strTooLong.c_str(), false},
    };
    for (const auto& c : cases) {
        for (int nAnswer : kOkAnswers) {
            SCOPED_TRACE(c.lpName);
            FakeReset();
            PrepareMachine();
            FakeSetModuleFileName(c.lpModule);
            if (c.bFolderFails)
                FakeFailSetCurrentDirectory();
            FakeAnswer("Loading Fail", nAnswer);
            EXPECT_EQ(Run("KSTGATE.EXE WINKESTROM.EXE"), RC_NOT_FOUND);
            ExpectBoxes({kSettingsBox});
            EXPECT_EQ(FakeLogCount("SetCurrentDirectoryW"), c.bFolderFails ? 1 : 0);
            for (const char* lpCall : {"GetFileAttributesA", "OpenSharedRead", "GetSystemPowerStatus", "DeleteFileA"})
                EXPECT_EQ(FakeLogCount(lpCall), 0) << lpCall;
            EXPECT_TRUE(FakeProcessCalls().empty());
        }
    }
    // The same folder once it can be made current runs on.
    FakeReset();
    PrepareMachine();
    EXPECT_EQ(Run("KSTGATE.EXE WINKESTROM.EXE"), RC_DECLINED);
}

TEST_F(LaunchTest, SettingsFileMustBeInTheCurrentDirectory)
{
    EXPECT_EQ(RC_NOT_FOUND, -33);
    for (bool bDirectory : {false, true}) {
        for (int nAnswer : kOkAnswers) {
            FakeReset();
            PrepareMachine();
            unlink("KESTROM.INI");
            if (bDirectory)
                mkdir("KESTROM.INI", 0700);
            FakeAnswer("Loading Fail", nAnswer);
            EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_NOT_FOUND);
            ExpectBoxes({kSettingsBox});
            EXPECT_EQ(FakeLogCount("GetSystemPowerStatus"), 0);
            EXPECT_TRUE(FakeProcessCalls().empty());
            rmdir("KESTROM.INI");
        }
    }
}

TEST_F(LaunchTest, LoadSettingsOverridesOnlyNonEmptyValues)
{
    WriteFile("KESTROM.INI",
              "[UI]\nTitle = My Flasher \n[Main]\nBackupFile=\nImageFile=NEW.ROM\n");
    LoadSettings();
    EXPECT_STREQ(LoaderSettings.Title, "My Flasher");
    EXPECT_STREQ(LoaderSettings.BackupFile, "BIOS.BAK");
    EXPECT_STREQ(LoaderSettings.ImageFile, "NEW.ROM");

    ResetSettings();
    WriteFile("KESTROM.INI", "[ui]\nTitle=Other\n[main]\nImageFile=X.ROM\n");
    LoadSettings();
    EXPECT_STREQ(LoaderSettings.Title, "Vesmar WinKestrom");
    EXPECT_STREQ(LoaderSettings.BackupFile, "BIOS.BAK");
    EXPECT_STREQ(LoaderSettings.ImageFile, "FLASHABL.ROM");

    // The longest value a line can carry fits whole; the rest of a longer
    // line is a line of its own.
    ResetSettings();
    WriteFile("KESTROM.INI", "[Main]\nBackupFile=" + std::string(244, 'b') + "\n");
    LoadSettings();
    EXPECT_EQ(std::string(LoaderSettings.BackupFile), std::string(244, 'b'));
    ResetSettings();
    WriteFile("KESTROM.INI", "[Main]\nImageFile=" + std::string(300, 'i') + "\n");
    LoadSettings();
    EXPECT_EQ(std::string(LoaderSettings.ImageFile), std::string(245, 'i'));
    EXPECT_EQ(LoaderSettings.ImageFile[FIELD_SIZE - 1], 0);
}

TEST_F(LaunchTest, AcPromptRepeatsUntilOnlineOrNo)
{
    EXPECT_EQ(RC_POWER_OFFLINE, -2049);
    EXPECT_EQ(RC_POWER_UNKNOWN, -1025);
    const int kOn = 1, kOff = 0, kUnknown = 255, kUnreadable = -1;
    struct {
        const char* lpName;
        std::vector<int> power;    // statuses in turn, the last one repeats
        std::vector<int> answers;  // to the AC prompt, in turn
        int nCode;                 // RC_DECLINED: went on to the confirmation
        int nPrompts;
    } cases[] = {
        {"yes until online", {kOff, kUnknown, kOn}, {IDYES, IDYES}, RC_DECLINED, 2},
        {"no on battery", {kOff}, {IDNO}, RC_POWER_OFFLINE, 1},
        {"no when unknown", {kUnknown}, {IDNO}, RC_POWER_OFFLINE, 1},
        {"no when unreadable", {kUnreadable}, {IDYES, IDYES, IDNO}, RC_POWER_UNKNOWN, 3},
        {"yes when unreadable, then online", {kUnreadable, kOn}, {IDYES}, RC_DECLINED, 1},
        {"no after unreadable on battery", {kUnreadable, kOff}, {IDYES, IDNO}, RC_POWER_OFFLINE, 2},
        // A prompt that cannot be shown at all does not spin: it ends like No.
        {"not shown on battery", {kOff}, {0}, RC_POWER_OFFLINE, 1},
        {"not shown when unreadable", {kUnreadable}, {0}, RC_POWER_UNKNOWN, 1},
        // Any other answer asks the power status again.
        {"other answers retry", {kOff}, {IDOK, IDCANCEL, IDNO}, RC_POWER_OFFLINE, 3},
    };
    for (const auto& c : cases) {
        FakeReset();
        PrepareMachine();
        for (int nStatus : c.power)
            FakeQueuePower(nStatus != kUnreadable, (BYTE)nStatus);
        for (int nAnswer : c.answers)
            FakeAnswer("AC Offline!!", nAnswer);
        FakeAnswer("Confirm to Upgrade", IDNO);
        EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), c.nCode) << c.lpName;
        std::vector<Box> boxes((size_t)c.nPrompts, kAcBox);
        bool bWentOn = c.nCode == RC_DECLINED;
        if (bWentOn)
            boxes.push_back(ConfirmBox("1.05", "1.07"));
        SCOPED_TRACE(c.lpName);
        ExpectBoxes(boxes);
        EXPECT_EQ(FakeLogCount("GetSystemPowerStatus"), c.nPrompts + (bWentOn ? 1 : 0));
        EXPECT_EQ(FakeProcessCalls().size(), bWentOn ? 1u : 0u);
    }
}

TEST_F(LaunchTest, MachineVersionFailuresShowTheirOwnText)
{
    EXPECT_EQ(RC_MACHINE_VERSION, -9);
    EXPECT_EQ(RC_MACHINE_TIMEOUT, -257);
    struct {
        int nCode;
        const char* lpText;
    } cases[] = {
        {RC_NOT_FOUND, "Load BIOSVER.EXE fail!\nDownload the latest one and try again."},
        {RC_MACHINE_VERSION, "Get BIOS VERSION from this machine fail!\nDownload the latest one and try again."},
        {RC_MACHINE_TIMEOUT, "Get BIOS VERSION from this machine time out!\nPlease run this utility again."},
    };
    for (const auto& c : cases) {
        for (int nAnswer : kOkAnswers) {
            FakeReset();
            PrepareMachine("[UI]\n", "1.05", false);
            FakeProcess probe;
            probe.dwRunMs = c.nCode == RC_MACHINE_TIMEOUT ? FAKE_FOREVER : 1;
            probe.dwExitCode = 65531;
            if (c.nCode == RC_NOT_FOUND)
                unlink("BIOSVER.EXE");
            else
                FakeQueueProcess(probe);
            FakeAnswer("Get BIOS Version Fail", nAnswer);
            EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), c.nCode);
            ExpectBoxes({{"Get BIOS Version Fail", c.lpText, kErrorBox}});
            EXPECT_EQ(FakeLogCount("OpenSharedRead FLASHABL.ROM"), 0);
        }
    }
}

TEST_F(LaunchTest, ImageVersionFailuresShowTheirOwnText)
{
    EXPECT_EQ(RC_IMAGE_OPEN, -129);
    EXPECT_EQ(RC_IMAGE_VERSION, -65);
    struct {
        int nCode;
        const char* lpText;
    } cases[] = {
        {RC_IMAGE_OPEN, "Open BIOS ROM file error/BIOS ROM file not exist.\nDownload the latest one and try again."},
        {RC_IMAGE_VERSION, "Get BIOS VERSION from BIOS ROM file fail!\nDownload the latest one and try again."},
    };
    for (const auto& c : cases) {
        for (int nAnswer : kOkAnswers) {
            FakeReset();
            PrepareMachine("[Main]\nImageFile=NEW.ROM\n");
            if (c.nCode == RC_IMAGE_VERSION)
                WriteFile("NEW.ROM", "1.08-0000+ no marker here");
            FakeAnswer("Get BIOS Version Fail", nAnswer);
            EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), c.nCode);
            ExpectBoxes({{"Get BIOS Version Fail", c.lpText, kErrorBox}});
            // The probe ran before; the flasher never does.
            ASSERT_EQ(FakeProcessCalls().size(), 1u);
            EXPECT_EQ(FakeProcessCalls()[0].strApplication, "BIOSVER.EXE");
        }
    }
}

TEST_F(LaunchTest, ConfirmationShowsBothVersionsAndOnlyYesGoesOn)
{
    // Anything but Yes declines, a box that could not be shown included.
    for (int nAnswer : {IDNO, 0, IDCANCEL}) {
        FakeReset();
        PrepareMachine();
        FakeAnswer("Confirm to Upgrade", nAnswer);
        EXPECT_EQ(Run("KSTGATE.EXE WF.EXE /a"), RC_DECLINED) << nAnswer;
        ExpectBoxes({ConfirmBox("1.05", "1.07")});
        // Only the probe was started, never the flasher.
        ASSERT_EQ(FakeProcessCalls().size(), 1u);
        EXPECT_EQ(FakeProcessCalls()[0].strApplication, "BIOSVER.EXE");
    }

    // Equal versions are asked about all the same; Yes starts the flasher
    // (here it cannot start).
    FakeReset();
    PrepareMachine("[UI]\n", "1.07");
    FakeAnswer("Confirm to Upgrade", IDYES);
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_FLASHER_START);
    ASSERT_GE(FakeBoxes().size(), 1u);
    EXPECT_EQ(FakeBoxes()[0].strText, ConfirmBox("1.07", "1.07").strText);
    EXPECT_EQ(FakeProcessCalls().size(), 2u);
}

class FlasherStageTest : public LaunchTest {
protected:
    // The machine above, a Yes at the confirmation and a flasher whose start,
    // window and button are as asked.
    void PrepareFlasher(bool bStarts, bool bWindow, bool bButton)
    {
        PrepareMachine();
        FakeAnswer("Confirm to Upgrade", IDYES);
        WriteFile("BIOS.BAK", "old");
        WriteFile("WINKESTROM.GID", "gid");
        if (!bStarts)
            return;
        FakeProcess flasher;
        flasher.dwRunMs = 500;
        FakeQueueProcess(flasher);
        if (!bWindow)
            return;
        HWND hDialog = FakeAddWindow("#32770", "Vesmar WinKestrom");
        FakeAddWindow("Button", "Flash BIOS", hDialog, bButton ? 101 : 102);
    }
};

TEST_F(FlasherStageTest, FailuresShowTheirOwnBox)
{
    EXPECT_EQ(RC_FLASHER_START, -2);
    EXPECT_EQ(RC_FLASHER_WINDOW, -3);
    EXPECT_EQ(RC_FLASH_BUTTON, -5);
    struct {
        bool bStarts, bWindow, bButton;
        int nCode;
        Box box;
    } cases[] = {
        {false, false, false, RC_FLASHER_START,
         {"Loading Fail", "Load WinKestrom fail.\nMake sure KSTGATE is in the same directory of WinKestrom.",
          kErrorBox}},
        {true, false, false, RC_FLASHER_WINDOW,
         {"Incorrect", "The WinKestrom seems not correct.\nMake sure the WinKestrom is the correct version.",
          kErrorBox}},
        {true, true, false, RC_FLASH_BUTTON,
         {"Not Found",
          "Could not find the \"Flash BIOS\" button.\nMake sure the WinKestrom is the correct version.",
          kErrorBox}},
    };
    for (const auto& c : cases) {
        for (int nAnswer : kOkAnswers) {
            FakeReset();
            PrepareFlasher(c.bStarts, c.bWindow, c.bButton);
            FakeAnswer(c.box.strCaption.c_str(), nAnswer);
            EXPECT_EQ(Run("KSTGATE.EXE WINKESTROM.EXE"), c.nCode);
            ExpectBoxes({ConfirmBox("1.05", "1.07"), c.box});
            // Nothing was pressed, and the flasher's files stay.
            EXPECT_EQ(FakeLogCount("SendMessageA"), 0);
            EXPECT_TRUE(FileExists("BIOS.BAK"));
            EXPECT_TRUE(FileExists("WINKESTROM.GID"));
        }
    }
}

TEST_F(FlasherStageTest, TheTailIsTheFlashersWholeCommandLine)
{
    struct {
        const char* lpCommandLine;
        const char* lpFlasherLine;
    } cases[] = {
        {"KSTGATE.EXE WINKESTROM.EXE", "WINKESTROM.EXE"},
        {"\"C:\\Flash\\KSTGATE.exe\"  WINKESTROM.EXE /b \"x y\" ", "WINKESTROM.EXE /b \"x y\" "},
        {"KSTGATE.EXE\t\x01 \"C:\\Flash Tool\\WINKESTROM.EXE\"\t/auto", "\"C:\\Flash Tool\\WINKESTROM.EXE\"\t/auto"},
    };
    for (const auto& c : cases) {
        FakeReset();
        PrepareFlasher(true, true, true);
        EXPECT_EQ(Run(c.lpCommandLine), RC_SUCCESS);
        ExpectBoxes({ConfirmBox("1.05", "1.07")});
        ASSERT_EQ(FakeProcessCalls().size(), 2u);
        EXPECT_FALSE(FakeProcessCalls()[1].bHasApplication);
        EXPECT_EQ(FakeProcessCalls()[1].strCommandLine, c.lpFlasherLine);
        EXPECT_EQ(FakeLogCount("SendMessageA"), 1);
        EXPECT_FALSE(FileExists("BIOS.BAK"));
        EXPECT_FALSE(FileExists("WINKESTROM.GID"));
    }
}

TEST_F(FlasherStageTest, KeysTheSettingsFileLacksTakeTheirDefaults)
{
    // The record as the process starts: the defaults come from LoadSettings.
    memset(&LoaderSettings, 0, sizeof LoaderSettings);
    PrepareFlasher(true, true, true);
    WriteFile("KESTROM.INI", "[UI]\n[Main]\nBackup=X.BAK\n");
    EXPECT_EQ(Run("KSTGATE.EXE WINKESTROM.EXE"), RC_SUCCESS);
    EXPECT_EQ(FakeLogLines("OpenSharedRead FL"), std::vector<std::string>{"OpenSharedRead FLASHABL.ROM"});
    EXPECT_EQ(FakeLogCount("DeleteFileA BIOS.BAK"), 1);
    EXPECT_FALSE(FileExists("BIOS.BAK"));
    EXPECT_TRUE(FileExists("FLASHABL.ROM"));
}

TEST(MessageTableTest, EveryFailureCodeIsTheComplementOfOneBit)
{
    const int aCodes[] = {RC_FLASHER_START,   RC_FLASHER_WINDOW, RC_FLASH_BUTTON,    RC_MACHINE_VERSION,
                          RC_NOT_FOUND,       RC_IMAGE_VERSION,  RC_IMAGE_OPEN,      RC_MACHINE_TIMEOUT,
                          RC_MUTEX,           RC_POWER_UNKNOWN,  RC_POWER_OFFLINE};
    unsigned uSeen = 0;
    for (int nCode : aCodes) {
        unsigned uBit = ~(unsigned)nCode;
        EXPECT_EQ(uBit & (uBit - 1), 0u) << nCode;
        EXPECT_EQ(uSeen & uBit, 0u) << nCode;
        uSeen |= uBit;
    }
    EXPECT_EQ(uSeen & 0x10u, 0u);
    EXPECT_EQ(RC_FLASHER_WINDOW, -3);
    EXPECT_EQ(RC_FLASH_BUTTON, -5);
    EXPECT_EQ(RC_IMAGE_VERSION, -65);
    // Each stage's failures have their box.
    EXPECT_NE(FindResultMessage(STAGE_FLASHER, RC_FLASHER_WINDOW), nullptr);
    EXPECT_NE(FindResultMessage(STAGE_FLASHER, RC_FLASH_BUTTON), nullptr);
    EXPECT_NE(FindResultMessage(STAGE_IMAGE, RC_IMAGE_VERSION), nullptr);
    EXPECT_EQ(FindResultMessage(STAGE_IMAGE, RC_NOT_FOUND), nullptr);
}

}  // namespace
