// The launch sequence: command-line tail, guard, help, working directory,
// settings, the AC prompt, version failures and the confirmation.
#include <cstring>

#include "launch/messages.h"
#include "launch/results.h"
#include "testutil.h"

namespace {

const char* const kHelpText =
    "WinKestrom Loader v1.0\n\nOptions:\n  <filename>\tThe filename and the params of WinKestrom";
const char* const kAcText =
    "AC Adaptor is Offline.\nPlease put on the AC Adaptor and press \"Yes\" to continue,\nor press \"No\" to exit.";
const UINT kErrorBox = MB_OK | MB_ICONERROR;

class LaunchTest : public KstTest {
protected:
    // A machine on which every stage up to the confirmation passes.
    void PrepareMachine(const std::string& strIni = "[UI]\nTitle=Vesmar WinKestrom\n",
                        const std::string& strMachineVersion = "1.05")
    {
        FakeSetModuleFileName("C:\\Flash\\KSTGATE.exe");
        WriteFile("KESTROM.INI", strIni);
        WriteFile("BIOSVER.EXE", "MZ");
        WriteFile("FLASHABL.ROM", std::string(100, '\xFF') + "1.07-0000-" + std::string(50, '\0'));
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

    void ExpectOnlyBox(const char* lpCaption, const char* lpText, UINT uType)
    {
        ASSERT_EQ(FakeBoxes().size(), 1u);
        EXPECT_EQ(FakeBoxes()[0].strCaption, lpCaption);
        EXPECT_EQ(FakeBoxes()[0].strText, lpText);
        EXPECT_EQ(FakeBoxes()[0].uType, uType);
        EXPECT_TRUE(FakeBoxes()[0].bOwnerNull);
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
    PrepareMachine();
    FakeSetMutex(FAKE_MUTEX_EXISTS);
    EXPECT_EQ(Run("KSTGATE.EXE WINKESTROM.EXE"), RC_SUCCESS);
    EXPECT_TRUE(FakeBoxes().empty());
    EXPECT_TRUE(FakeProcessCalls().empty());
    EXPECT_EQ(FakeLogCount("SetCurrentDirectoryA"), 0);
    // Past the DLL search set-up, the guard is the only call.
    ASSERT_FALSE(FakeLog().empty());
    EXPECT_EQ(FakeLog().back(), "CreateMutexA Global\\{7F795C97-E147-4d53-8E3D-E2C8DE9B9F4B}");
    EXPECT_EQ(FakeLogCount("CreateMutexA") + FakeLogCount("GetModuleHandleA") + FakeLogCount("GetProcAddress") +
                  FakeLogCount("SetDefaultDllDirectories"),
              (int)FakeLog().size());
}

TEST_F(LaunchTest, MutexFailure)
{
    FakeSetMutex(FAKE_MUTEX_FAIL);
    EXPECT_EQ(Run("KSTGATE.EXE WINKESTROM.EXE"), RC_MUTEX);
    EXPECT_EQ(RC_MUTEX, -513);
    ExpectOnlyBox("Initialize Fail", "Create Mutex fail.\nRestart the mechine and try again.", kErrorBox);
}

TEST_F(LaunchTest, HelpOnAnEmptyOrBlankTail)
{
    for (const char* lpCommandLine : {"KSTGATE.EXE", "\"C:\\A B\\KSTGATE.EXE\"", "KSTGATE.EXE \t \x01\x1F"}) {
        FakeReset();
        EXPECT_EQ(Run(lpCommandLine), RC_HELP) << lpCommandLine;
        ExpectOnlyBox("Help", kHelpText, MB_OK | MB_ICONINFORMATION);
        EXPECT_EQ(FakeLogCount("SetCurrentDirectoryA"), 0);
    }
}

TEST_F(LaunchTest, WorkingDirectoryIsTheLaunchersOwn)
{
    struct {
        UINT uAcp;
        const char* lpModule;
        const char* lpDirectory;
    } cases[] = {
        {1252, "C:\\Flash\\Tools\\KSTGATE.exe", "C:\\Flash\\Tools"},
        {1252, "C:\\KSTGATE.exe", "C:\\"},
        {1252, "\\\\server\\share\\KSTGATE.exe", "\\\\server\\share"},
        {1252, "KSTGATE.exe", "KSTGATE.exe"},
        // U+8868 is 0x95 0x5C: its trail byte is no backslash under 932.
        {932, "C:\\\x95\x5C\\KSTGATE.exe", "C:\\\x95\x5C"},
        {932, "C:\\A\x95\x5C" "B.exe", "C:\\"},
        {1252, "C:\\A\x95\x5C" "B.exe", "C:\\A\x95"},
    };
    for (const auto& c : cases) {
        FakeReset();
        UseCodePage(c.uAcp);
        FakeSetModuleFileName(c.lpModule);
        SetWorkDirToExeDir();
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
    SetWorkDirToExeDir();
    EXPECT_EQ(FakeCurrentDirectory(), "C:\\" + std::string(300, 'd'));
}

TEST_F(LaunchTest, SettingsFileMustBeInTheCurrentDirectory)
{
    const char* const kText = "Load KESTROM.INI fail.\nMake sure KSTGATE is in the same directory of WinKestrom.";
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_NOT_FOUND);
    EXPECT_EQ(RC_NOT_FOUND, -33);
    ExpectOnlyBox("Loading Fail", kText, kErrorBox);
    EXPECT_EQ(FakeLogCount("GetSystemPowerStatus"), 0);

    FakeReset();
    mkdir("KESTROM.INI", 0700);
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_NOT_FOUND);
    ExpectOnlyBox("Loading Fail", kText, kErrorBox);
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
    // Offline, Yes, still offline (unknown), Yes, then online: passes on.
    PrepareMachine();
    FakeQueuePower(TRUE, 0);
    FakeQueuePower(TRUE, 255);
    FakeQueuePower(TRUE, 1);
    FakeAnswer("AC Offline!!", IDYES);
    FakeAnswer("AC Offline!!", IDYES);
    FakeAnswer("Confirm to Upgrade", IDNO);
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_DECLINED);
    ASSERT_EQ(FakeBoxes().size(), 3u);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(FakeBoxes()[i].strCaption, "AC Offline!!");
        EXPECT_EQ(FakeBoxes()[i].strText, kAcText);
        EXPECT_EQ(FakeBoxes()[i].uType, MB_YESNO | MB_ICONERROR);
    }
    EXPECT_EQ(FakeLogCount("GetSystemPowerStatus"), 3);

    // No on battery ends with the check's own code.
    FakeReset();
    PrepareMachine();
    FakeQueuePower(TRUE, 0);
    FakeAnswer("AC Offline!!", IDNO);
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_POWER_OFFLINE);
    EXPECT_EQ(RC_POWER_OFFLINE, -2049);
    EXPECT_EQ(FakeBoxes().size(), 1u);
    EXPECT_TRUE(FakeProcessCalls().empty());

    // An unreadable status gets the same prompt; No ends with -1025.
    FakeReset();
    PrepareMachine();
    FakeQueuePower(FALSE, 0);
    FakeAnswer("AC Offline!!", IDYES);
    FakeAnswer("AC Offline!!", IDYES);
    FakeAnswer("AC Offline!!", IDNO);
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_POWER_UNKNOWN);
    EXPECT_EQ(RC_POWER_UNKNOWN, -1025);
    EXPECT_EQ(FakeBoxes().size(), 3u);
    EXPECT_EQ(FakeLogCount("GetSystemPowerStatus"), 3);

    // A prompt that cannot be shown at all does not spin: it ends like No.
    FakeReset();
    PrepareMachine();
    FakeQueuePower(TRUE, 0);
    FakeAnswer("AC Offline!!", 0);
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_POWER_OFFLINE);
    EXPECT_EQ(FakeBoxes().size(), 1u);
}

TEST_F(LaunchTest, MachineVersionFailuresShowTheirOwnText)
{
    struct {
        int nCode;
        const char* lpText;
    } cases[] = {
        {RC_NOT_FOUND, "Load BIOSVER.EXE fail!\nDownload the latest one and try again."},
        {RC_MACHINE_VERSION, "Get BIOS VERSION from this machine fail!\nDownload the latest one and try again."},
        {RC_MACHINE_TIMEOUT, "Get BIOS VERSION from this machine time out!\nPlease run this utility again."},
    };
    for (const auto& c : cases) {
        FakeReset();
        PrepareMachine();
        FakeReset();  // drop the well-behaved probe queued above
        FakeSetModuleFileName("C:\\Flash\\KSTGATE.exe");
        FakeProcess probe;
        probe.dwRunMs = c.nCode == RC_MACHINE_TIMEOUT ? FAKE_FOREVER : 1;
        probe.dwExitCode = 65531;
        if (c.nCode == RC_NOT_FOUND)
            unlink("BIOSVER.EXE");
        else
            FakeQueueProcess(probe);
        EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), c.nCode);
        ExpectOnlyBox("Get BIOS Version Fail", c.lpText, kErrorBox);
        EXPECT_EQ(FakeLogCount("OpenSharedRead FLASHABL.ROM"), 0);
    }
    EXPECT_EQ(RC_MACHINE_VERSION, -9);
    EXPECT_EQ(RC_MACHINE_TIMEOUT, -257);
}

TEST_F(LaunchTest, ImageVersionFailureShowsItsText)
{
    PrepareMachine("[Main]\nImageFile=MISSING.ROM\n");
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_IMAGE_OPEN);
    EXPECT_EQ(RC_IMAGE_OPEN, -129);
    ExpectOnlyBox("Get BIOS Version Fail",
                  "Open BIOS ROM file error/BIOS ROM file not exist.\nDownload the latest one and try again.",
                  kErrorBox);
    EXPECT_TRUE(FakeProcessCalls().size() == 1u);
}

TEST_F(LaunchTest, ConfirmationShowsBothVersionsAndNoDeclines)
{
    PrepareMachine();
    FakeAnswer("Confirm to Upgrade", IDNO);
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE /a"), RC_DECLINED);
    ExpectOnlyBox("Confirm to Upgrade",
                  "The BIOS VERSION of this machine is : \"1.05\",\nThe BIOS VERSION to upgrade is : \"1.07\".\n"
                  "Do you want to continue?",
                  MB_YESNO | MB_ICONQUESTION);
    // Only the probe was started, never the flasher.
    ASSERT_EQ(FakeProcessCalls().size(), 1u);
    EXPECT_EQ(FakeProcessCalls()[0].strApplication, "BIOSVER.EXE");

    // Equal versions are asked about all the same; a box that could not be
    // shown is no Yes.
    FakeReset();
    PrepareMachine("[UI]\n", "1.07");
    FakeAnswer("Confirm to Upgrade", 0);
    EXPECT_EQ(Run("KSTGATE.EXE WF.EXE"), RC_DECLINED);
    ASSERT_EQ(FakeBoxes().size(), 1u);
    EXPECT_NE(FakeBoxes()[0].strText.find("is : \"1.07\",\n"), std::string::npos);
    EXPECT_EQ(FakeProcessCalls().size(), 1u);
}

TEST_F(LaunchTest, YesStartsTheFlasherWithTheTail)
{
    PrepareMachine();
    FakeAnswer("Confirm to Upgrade", IDYES);
    // No flasher can be started here: the flasher stage reports it.
    EXPECT_EQ(Run("\"C:\\Flash\\KSTGATE.exe\"  WINKESTROM.EXE /b \"x y\""), RC_FLASHER_START);
    EXPECT_EQ(RC_FLASHER_START, -2);
    ASSERT_EQ(FakeBoxes().size(), 2u);
    EXPECT_EQ(FakeBoxes()[1].strCaption, "Loading Fail");
    EXPECT_EQ(FakeBoxes()[1].strText,
              "Load WinKestrom fail.\nMake sure KSTGATE is in the same directory of WinKestrom.");
    EXPECT_EQ(FakeBoxes()[1].uType, kErrorBox);
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
