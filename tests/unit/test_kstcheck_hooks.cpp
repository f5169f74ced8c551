// The entry points the package checker uses: the code page set for a given
// page, the text-mode line reading with its byte count, the reader's cuts of
// a line, and the settings read from a file of another name.
#include <cstring>

#include "launch/loader.h"
#include "settings/codepage.h"
#include "settings/inireader.h"
#include "testutil.h"

namespace {

class HookTest : public KstTest {};

TEST_F(HookTest, CodePageForAGivenPageLeavesTheSystemsAlone)
{
    // The system's page is 1252; 932 is set all the same.
    InitCodePageFor(932);
    EXPECT_TRUE(IsLeadByteAcp(0x81));
    EXPECT_TRUE(IsLeadByteAcp(0xFC));
    EXPECT_FALSE(IsLeadByteAcp(0xA0));
    InitCodePageFor(1361);
    EXPECT_TRUE(IsLeadByteAcp(0xD3));
    EXPECT_FALSE(IsLeadByteAcp(0xD4));
    InitCodePageFor(1250);
    for (int b = 0; b < 256; b++)
        EXPECT_FALSE(IsLeadByteAcp((BYTE)b)) << b;
    // InitCodePage still follows the system's page.
    FakeSetCodePage(936);
    InitCodePage();
    EXPECT_TRUE(IsLeadByteAcp(0xFE));
    FakeSetCodePage(1252);
    InitCodePage();
    EXPECT_FALSE(IsLeadByteAcp(0x81));
}

TEST_F(HookTest, LineReadingCountsEveryByteOfAPiece)
{
    WriteFile("T.INI", std::string("ab\0c\r\n", 6) + std::string(300, 'x') + "\rz\x1Atail");
    TEXTFILE text;
    text.pFile = OpenSharedRead("T.INI");
    text.bEnded = FALSE;
    ASSERT_NE(text.pFile, nullptr);
    char szLine[INI_LINE_SIZE + 1];
    // CR LF reads as LF; the zero byte is counted.
    ASSERT_EQ(ReadTextLine(&text, szLine, INI_LINE_SIZE), 5u);
    EXPECT_EQ(std::string(szLine, 5), std::string("ab\0c\n", 5));
    // A long line comes in pieces of 255 bytes.
    EXPECT_EQ(ReadTextLine(&text, szLine, INI_LINE_SIZE), 255u);
    // A lone CR stays, and 0x1A ends the data.
    ASSERT_EQ(ReadTextLine(&text, szLine, INI_LINE_SIZE), 47u);
    EXPECT_EQ(std::string(szLine + 45, 2), "\rz");
    EXPECT_EQ(ReadTextLine(&text, szLine, INI_LINE_SIZE), 0u);
    EXPECT_FALSE(feof(text.pFile));
    CloseSharedRead(text.pFile);
}

TEST_F(HookTest, CutsOfALineAreTheReaders)
{
    char szWork[INI_LINE_SIZE + 1];
    char szSection[INI_LINE_SIZE + 1];
    char szKey[INI_LINE_SIZE + 1];
    char szValue[INI_LINE_SIZE + 1];
    auto Section = [&](const char* lpLine) {
        memset(szWork, 0, sizeof szWork);
        memset(szSection, 0, sizeof szSection);
        strcpy(szWork, lpLine);
        CutSectionName(szWork, szSection);
        return std::string(szSection);
    };
    EXPECT_EQ(Section("[ Main ]\n"), "Main");
    EXPECT_EQ(Section("[UI]]x]\n"), "UI]]x");
    EXPECT_EQ(Section("[UI\n"), "UI");
    EXPECT_EQ(Section("[UI]\x81]\n"), "UI]\x81");
    UseCodePage(932);
    EXPECT_EQ(Section("[UI]\x81]\n"), "UI");

    auto KeyValue = [&](const char* lpLine) {
        memset(szWork, 0, sizeof szWork);
        memset(szKey, 0, sizeof szKey);
        memset(szValue, 0, sizeof szValue);
        strcpy(szWork, lpLine);
        CutKeyValue(szWork, szKey, szValue);
        return std::string(szKey) + "|" + szValue;
    };
    EXPECT_EQ(KeyValue(" Title = a = b \n"), "Title|a = b");
    // Without "=" the line's last byte goes, whatever it is.
    EXPECT_EQ(KeyValue("Title\n"), "Title|");
    EXPECT_EQ(KeyValue("TitleX"), "Title|");
}

TEST_F(HookTest, SettingsFromAFileOfAnotherName)
{
    WriteFile("kestrom.ini", "[UI]\nTitle=Lower\n[Main]\nImageFile=L.ROM\n");
    WriteFile(SETTINGS_FILE, "[UI]\nTitle=Upper\n");
    LoadSettingsFrom("kestrom.ini");
    EXPECT_STREQ(LoaderSettings.Title, "Lower");
    EXPECT_STREQ(LoaderSettings.BackupFile, "BIOS.BAK");
    EXPECT_STREQ(LoaderSettings.ImageFile, "L.ROM");
    ResetSettings();
    LoadSettings();
    EXPECT_STREQ(LoaderSettings.Title, "Upper");
    EXPECT_STREQ(LoaderSettings.ImageFile, "FLASHABL.ROM");
}

}  // namespace
