// The settings-file reader: dialect, trimming, pieces, text mode, code pages.
#include <cstring>

#include "settings/inireader.h"
#include "testutil.h"

using namespace std::string_literals;

namespace {

class IniTest : public KstTest {
protected:
    // Reads a key from a file holding strData, into a 64-byte buffer.
    std::string Read(const std::string& strData, const char* lpSection, const char* lpKey, DWORD* pdwResult = NULL,
                     DWORD dwSize = 64)
    {
        WriteFile("T.INI", strData);
        char szBuffer[300];
        memset(szBuffer, 'X', sizeof szBuffer);
        DWORD dwResult = ReadIniValue("T.INI", lpSection, lpKey, szBuffer, dwSize);
        if (pdwResult)
            *pdwResult = dwResult;
        // Never a byte past dwSize.
        for (DWORD i = dwSize; i < sizeof szBuffer; i++)
            EXPECT_EQ(szBuffer[i], 'X') << "byte " << i << " written";
        EXPECT_LE(dwResult, dwSize);
        std::string strValue(szBuffer, dwResult);
        for (DWORD i = dwResult; i < dwSize; i++)
            EXPECT_EQ(szBuffer[i], 0) << "byte " << i << " not zero";
        return strValue;
    }
};

TEST_F(IniTest, FindsTrimmedValuesAndReportsTheirLength)
{
    DWORD dwResult = 0;
    EXPECT_EQ(Read("[UI]\nTitle=Vesmar WinKestrom\n", "UI", "Title", &dwResult), "Vesmar WinKestrom");
    EXPECT_EQ(dwResult, 17u);
    EXPECT_EQ(Read("[ Main ]\n \t BackupFile \t=\t OLD.BAK \t \n", "Main", "BackupFile"), "OLD.BAK");
    EXPECT_EQ(Read("[Main]\nA=x=y = z\n", "Main", "A"), "x=y = z");
    EXPECT_EQ(Read("[Main]\nA=first\nA=second\n", "Main", "A"), "first");
    EXPECT_EQ(Read("[Main]\nA=inner  blanks stay\n", "Main", "A"), "inner  blanks stay");
    EXPECT_EQ(Read("[Main]\nA=no newline", "Main", "A"), "no newline");
    EXPECT_EQ(Read("[Other]\nA=1\n[Main]\nA=2\n", "Main", "A"), "2");
}

TEST_F(IniTest, EmptyAndMissingAllReadAsZero)
{
    DWORD dwResult = 99;
    EXPECT_EQ(Read("[Main]\nA=\n", "Main", "A", &dwResult), "");
    EXPECT_EQ(dwResult, 0u);
    EXPECT_EQ(Read("[Main]\nA=   \t\n", "Main", "A", &dwResult), "");
    EXPECT_EQ(Read("[Main]\nB=1\n", "Main", "A", &dwResult), "");
    EXPECT_EQ(Read("[Other]\nA=1\n", "Main", "A", &dwResult), "");
    EXPECT_EQ(Read("", "Main", "A", &dwResult), "");
    EXPECT_EQ(dwResult, 0u);
    // Before any header nothing matches.
    EXPECT_EQ(Read("A=1\n[Main]\n", "Main", "A"), "");
}

TEST_F(IniTest, NamesMatchExactlyAndCaseSensitively)
{
    EXPECT_EQ(Read("[main]\nA=1\n", "Main", "A"), "");
    EXPECT_EQ(Read("[Main]\na=1\n", "Main", "A"), "");
    EXPECT_EQ(Read("[Main]\nAB=1\n", "Main", "A"), "");
}

TEST_F(IniTest, CommentsOnlyAtTheFirstByte)
{
    EXPECT_EQ(Read("[Main]\n;A=1\nA=2\n", "Main", "A"), "2");
    // A blank before the ";" makes a key line whose key is ";A".
    EXPECT_EQ(Read("[Main]\n ;A=1\n", "Main", ";A"), "1");
    EXPECT_EQ(Read("[Main]\nA=1 ; not a comment\n", "Main", "A"), "1 ; not a comment");
}

TEST_F(IniTest, TheWantedSectionEndsAtTheNextHeader)
{
    EXPECT_EQ(Read("[Main]\nB=1\n[Other]\n[Main]\nA=2\n", "Main", "A"), "");
    EXPECT_EQ(Read("[Main]\nB=1\n[Main]\nA=2\n", "Main", "A"), "");
}

TEST_F(IniTest, KeyWithoutEqualsEndsTheLookup)
{
    EXPECT_EQ(Read("[Main]\nA\nA=2\n", "Main", "A"), "");
    EXPECT_EQ(Read("[Main]\n  A  \nA=2\n", "Main", "A"), "");
    // Without "=" the line's last byte is dropped: "AB" on the last line
    // without a line feed is the key "A".
    EXPECT_EQ(Read("[Main]\nX=1\nAB", "Main", "A"), "");
    EXPECT_EQ(Read("[Main]\nAB", "Main", "AB"), "");
}

TEST_F(IniTest, HeaderEndPoints)
{
    EXPECT_EQ(Read("[Main\nA=1\n", "Main", "A"), "1");
    // Last line without "]" and without a line feed loses a character.
    EXPECT_EQ(Read("X=0\n[Main", "Mai", "A"), "");
    WriteFile("T.INI", "[Main");
    EXPECT_EQ(Read("[Main]extra]\nA=1\n", "Main]extra", "A"), "1");
    EXPECT_EQ(Read("[Main]\nA=1\n[]\nB=2\n", "", "B"), "2");
    EXPECT_EQ(Read("[\nB=3\n", "", "B"), "3");
}

TEST_F(IniTest, LongLinesAreReadInPiecesOf255Bytes)
{
    // A 300-byte line is a line of 255 bytes and then one of 45.
    std::string strLine = "A=" + std::string(253, 'v') + "B=tail" + std::string(39, 't');
    ASSERT_EQ(strLine.size(), 300u);
    EXPECT_EQ(Read("[Main]\n" + strLine + "\n", "Main", "B"), "tail" + std::string(39, 't'));
    EXPECT_EQ(Read("[Main]\n" + strLine + "\n", "Main", "A", NULL, 300), std::string(253, 'v'));
    // A second piece beginning with "[" is a header.
    std::string strHeader = "X=" + std::string(253, 'x') + "[Main]\nA=1\n";
    EXPECT_EQ(Read("[Other]\n" + strHeader, "Main", "A"), "1");
}

TEST_F(IniTest, ValueCutToTheBufferSizeWithoutOverrun)
{
    DWORD dwResult = 0;
    EXPECT_EQ(Read("[BV]\nBV=1234567\n", "BV", "BV", &dwResult, 4), "1234");
    EXPECT_EQ(dwResult, 4u);
    // Blanks at the end of the cut are dropped.
    EXPECT_EQ(Read("[BV]\nBV=1.0 ABC\n", "BV", "BV", &dwResult, 4), "1.0");
    EXPECT_EQ(dwResult, 3u);
    EXPECT_EQ(Read("[BV]\nBV=   12\n", "BV", "BV", &dwResult, 4), "12");
    EXPECT_EQ(Read("[BV]\nBV=x\n", "BV", "BV", &dwResult, 1), "x");
}

TEST_F(IniTest, TextModeLineEnds)
{
    EXPECT_EQ(Read("[Main]\r\nA=1\r\nB=2\r\n", "Main", "B"), "2");
    // A lone CR stays inside the line, and as whitespace is trimmed at the end.
    EXPECT_EQ(Read("[Main]\nA=1\rB=2\n", "Main", "A"), "1\rB=2");
    EXPECT_EQ(Read("[Main]\r\nA=1\r\r\n", "Main", "A"), "1");
    // 0x1A ends the data.
    EXPECT_EQ(Read(std::string("[Main]\nA=1\n\x1A\nB=2\n"), "Main", "B"), "");
    EXPECT_EQ(Read(std::string("[Main]\nA=12\x1A" "34\n"), "Main", "A"), "12");
}

TEST_F(IniTest, ZeroBytesEndALine)
{
    EXPECT_EQ(Read("[Main]\nA=12\0 34\nB=5\n"s, "Main", "A"), "12");
    EXPECT_EQ(Read("[Main]\nA=12\0 34\nB=5\n"s, "Main", "B"), "5");
    EXPECT_EQ(Read("[Main]\n\0A=1\nA=2\n"s, "Main", "A"), "2");
    EXPECT_EQ(Read("[Ma\0in]\nA=1\n"s, "Ma", "A"), "");
    EXPECT_EQ(Read("[Ma\0in]\nA=1\n"s, "M", "A"), "1");
}

TEST_F(IniTest, BadArgumentsReadAsZero)
{
    WriteFile("T.INI", "[Main]\nA=1\n");
    char szBuffer[8];
    memset(szBuffer, 'X', sizeof szBuffer);
    EXPECT_EQ(ReadIniValue(NULL, "Main", "A", szBuffer, 8), 0u);
    EXPECT_EQ(szBuffer[7], 0);
    EXPECT_EQ(ReadIniValue("T.INI", "Main", "A", NULL, 8), 0u);
    memset(szBuffer, 'X', sizeof szBuffer);
    EXPECT_EQ(ReadIniValue("T.INI", "Main", "A", szBuffer, 0), 0u);
    EXPECT_EQ(szBuffer[0], 'X');
    EXPECT_EQ(ReadIniValue("MISSING.INI", "Main", "A", szBuffer, 8), 0u);
    EXPECT_EQ(ReadIniValue("T.INI", "Main", "", szBuffer, 8), 0u);
    mkdir("DIR.INI", 0700);
    EXPECT_EQ(ReadIniValue("DIR.INI", "Main", "A", szBuffer, 8), 0u);
}

TEST_F(IniTest, DoubleByteTrailBytesAreNeverTakenForSyntax)
{
    UseCodePage(932);
    // U+8868 is 0x95 0x5C in code page 932; 0x5D and 0x3D trail bytes
    // stand for "]" and "=".
    EXPECT_EQ(Read("[Main]\nA\x95\x3D=v\n", "Main", "A\x95\x3D"), "v");
    EXPECT_EQ(Read("[M\x81\x5D]\nA=1\n", "M\x81\x5D", "A"), "1");
    EXPECT_EQ(Read("[Main]\nA=\x95\x5C\x81\x40\n", "Main", "A"), "\x95\x5C\x81\x40");
    // A full-width space (0x81 0x40) is not whitespace and stays.
    EXPECT_EQ(Read("[Main]\nA=\x81\x40x\x81\x40\n", "Main", "A"), "\x81\x40x\x81\x40");
    // A cut that would split a character drops its lead byte.
    DWORD dwResult = 0;
    EXPECT_EQ(Read("[BV]\nBV=abc\x95\x5C\n", "BV", "BV", &dwResult, 4), "abc");
    EXPECT_EQ(dwResult, 3u);
    // The same bytes under a single-byte code page are ordinary characters.
    UseCodePage(1252);
    EXPECT_EQ(Read("[Main]\nA\x95=v\n", "Main", "A\x95"), "v");
    EXPECT_EQ(Read("[BV]\nBV=abc\x95\x5C\n", "BV", "BV", &dwResult, 4), "abc\x95");
}

TEST_F(IniTest, OtherDoubleByteCodePagesUseTheirOwnLeadBytes)
{
    // 0xA1 leads under 936 but not under 932.
    UseCodePage(936);
    EXPECT_EQ(Read("[Main]\nK\xA1=X=v\n", "Main", "K\xA1=X"), "v");
    UseCodePage(932);
    EXPECT_EQ(Read("[Main]\nK\xA1=X=v\n", "Main", "K\xA1"), "X=v");
    // 1361: 0xD8 leads, 0xD4 does not.
    UseCodePage(1361);
    EXPECT_EQ(Read("[Main]\nK\xD8==v\n", "Main", "K\xD8="), "v");
    EXPECT_EQ(Read("[Main]\nK\xD4==v\n", "Main", "K\xD4"), "=v");
    // An unknown double-byte code page: the ranges the system reports.
    static const BYTE abRanges[] = {0xA0, 0xA0, 0};
    FakeSetCodePage(12345, 2, abRanges);
    InitCodePage();
    EXPECT_TRUE(IsLeadByteAcp(0xA0));
    EXPECT_FALSE(IsLeadByteAcp(0xA1));
    EXPECT_EQ(Read("[Main]\nK\xA0==v\n", "Main", "K\xA0="), "v");
}

TEST(TrimTest, TrimsOnlyAsciiWhitespace)
{
    FakeReset();
    InitCodePage();
    char sz[64];
    strcpy(sz, " \t\r\n\v\fvalue \t\v\f\r\n");
    TrimString(sz);
    EXPECT_STREQ(sz, "value");
    strcpy(sz, "\xA0x\xA0");
    TrimString(sz);
    EXPECT_STREQ(sz, "\xA0x\xA0");
    strcpy(sz, "   ");
    TrimString(sz);
    EXPECT_STREQ(sz, "");
    strcpy(sz, "a b");
    TrimRight(sz);
    TrimLeft(sz);
    EXPECT_STREQ(sz, "a b");
    TrimLeft(NULL);
    TrimRight(NULL);
    TrimString(NULL);
}

TEST(BoundedCopyTest, ZeroFillsAndRespectsDoubleByteCharacters)
{
    FakeReset();
    InitCodePage();
    char sz[8];
    memset(sz, 'X', sizeof sz);
    BoundedCopy(sz, "ab", 6);
    EXPECT_EQ(std::string(sz, 8), std::string("ab\0\0\0\0XX", 8));
    memset(sz, 'X', sizeof sz);
    BoundedCopy(sz, "abcdefgh", 4);
    EXPECT_EQ(std::string(sz, 8), std::string("abcdXXXX", 8));

    FakeSetCodePage(932);
    InitCodePage();
    memset(sz, 'X', sizeof sz);
    BoundedCopy(sz, "abc\x95\x5C", 4);
    EXPECT_EQ(std::string(sz, 8), std::string("abc\0XXXX", 8));
    memset(sz, 'X', sizeof sz);
    BoundedCopy(sz, "ab\x95", 6);
    EXPECT_EQ(std::string(sz, 8), std::string("ab\0\0\0\0XX", 8));
    FakeReset();
    InitCodePage();
}

}  // namespace
