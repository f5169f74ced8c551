// The settings-file reader: dialect, trimming, pieces, text mode, code pages.
#include <cstring>

#include "refreader.h"
#include "settings/inireader.h"
#include "testutil.h"

using namespace std::string_literals;

namespace {

// One rule of the dialect: a file, a lookup and the value it must leave in
// the buffer (the result is the value's length; the rest of the buffer is
// zero). Under lpRanges (pairs, ended by a zero byte) the code page is one
// the system reports; otherwise uAcp alone decides.
struct DialectRow {
    const char* lpName;
    UINT uAcp;
    std::string strFile;
    std::string strSection;
    std::string strKey;
    std::string strValue;
    DWORD dwSize;
    const BYTE* lpRanges;
};

DialectRow Row(const char* lpName, const std::string& strFile, const std::string& strSection,
               const std::string& strKey, const std::string& strValue, DWORD dwSize = 64, UINT uAcp = 1252,
               const BYTE* lpRanges = NULL)
{
    return DialectRow{lpName, uAcp, strFile, strSection, strKey, strValue, dwSize, lpRanges};
}

// The same row under another code page.
DialectRow Dbcs(UINT uAcp, const char* lpName, const std::string& strFile, const std::string& strSection,
                const std::string& strKey, const std::string& strValue, DWORD dwSize = 64)
{
    return Row(lpName, strFile, strSection, strKey, strValue, dwSize, uAcp);
}

const BYTE kReported20932[] = {0x8E, 0x8E, 0xA1, 0xFE, 0};
const BYTE kReportedA0[] = {0xA0, 0xA0, 0};

RefLeadTable ReferenceTable(const DialectRow& row)
{
    if (!row.lpRanges)
        return RefBuiltInTable(row.uAcp);
    std::vector<std::pair<uint8_t, uint8_t>> ranges;
    for (const BYTE* p = row.lpRanges; p[0] && p[1]; p += 2)
        ranges.emplace_back(p[0], p[1]);
    return RefRangeTable(ranges);
}

class DialectTest : public KstTest {
protected:
    // The launcher's reader leaves exactly the literal value and writes
    // nothing past dwSize, and the reference reader agrees byte for byte.
    void CheckRows(const std::vector<DialectRow>& rows)
    {
        for (const DialectRow& row : rows) {
            SCOPED_TRACE(row.lpName);
            FakeReset();
            FakeSetCodePage(row.uAcp, row.lpRanges ? 2 : 0, row.lpRanges);
            InitCodePage();
            WriteFile("T.INI", row.strFile);
            ASSERT_LE(row.strValue.size(), row.dwSize);

            const size_t nGuard = 16;
            std::string strBuffer(row.dwSize + nGuard, 'X');
            DWORD dwResult =
                ReadIniValue("T.INI", row.strSection.c_str(), row.strKey.c_str(), &strBuffer[0], row.dwSize);
            EXPECT_EQ(strBuffer.substr(row.dwSize), std::string(nGuard, 'X')) << "written past dwSize";
            strBuffer.resize(row.dwSize);
            std::string strExpected = row.strValue + std::string(row.dwSize - row.strValue.size(), '\0');
            EXPECT_EQ(dwResult, row.strValue.size());
            EXPECT_EQ(strBuffer, strExpected);

            RefValue reference =
                RefReadIni(row.strFile, row.strSection, row.strKey, row.dwSize, ReferenceTable(row));
            EXPECT_EQ(reference.dwResult, row.strValue.size()) << "reference";
            EXPECT_EQ(reference.strBuffer, strExpected) << "reference";
        }
    }
};

TEST_F(DialectTest, Lookup)
{
    CheckRows({
        Row("TitleWithItsLength", "[UI]\nTitle=Vesmar WinKestrom\n", "UI", "Title", "Vesmar WinKestrom"),
        Row("BlanksAroundKeyEqualsAndValue", "[ Main ]\n \t BackupFile \t=\t OLD.BAK \t \n", "Main", "BackupFile",
            "OLD.BAK"),
        Row("BlanksInsideTheValueStay", "[Main]\nA=inner  blanks stay\n", "Main", "A", "inner  blanks stay"),
        Row("FurtherEqualsBelongToTheValue", "[Main]\nA=x=y = z\n", "Main", "A", "x=y = z"),
        Row("FirstOfTwoKeysWins", "[Main]\nA=first\nA=second\n", "Main", "A", "first"),
        Row("LastLineWithoutLineFeed", "[Main]\nA=no newline", "Main", "A", "no newline"),
        Row("SectionAfterAnother", "[Other]\nA=1\n[Main]\nA=2\n", "Main", "A", "2"),
        Row("EmptyValue", "[Main]\nA=\n", "Main", "A", ""),
        Row("BlankValue", "[Main]\nA=   \t\n", "Main", "A", ""),
        Row("MissingKey", "[Main]\nB=1\n", "Main", "A", ""),
        Row("MissingSection", "[Other]\nA=1\n", "Main", "A", ""),
        Row("EmptyFile", "", "Main", "A", ""),
        Row("KeyBeforeAnyHeader", "A=1\n[Main]\n", "Main", "A", ""),
        Row("EmptyKeyIsNeverLookedUp", "[Main]\n=v\nA=1\n", "Main", "", "")
    });
}

TEST_F(DialectTest, Names)
{
    CheckRows({
        Row("SectionCaseMatters", "[main]\nA=1\n", "Main", "A", ""),
        Row("KeyCaseMatters", "[Main]\na=1\n", "Main", "A", ""),
        Row("KeyIsNoPrefix", "[Main]\nAB=1\n", "Main", "A", ""),
        Row("KeyIsNoLongerName", "[Main]\nA=1\n", "Main", "AB", "")
    });
}

TEST_F(DialectTest, Comments)
{
    CheckRows({
        Row("CommentIsSkipped", "[Main]\n;A=1\n", "Main", ";A", ""),
        Row("KeyAfterAComment", "[Main]\n;A=1\nA=2\n", "Main", "A", "2"),
        Row("BlankBeforeSemicolonMakesAKeyLine", "[Main]\n ;A=1\n", "Main", ";A", "1"),
        Row("SemicolonInsideAValueStays", "[Main]\nA=1 ; not a comment\n", "Main", "A", "1 ; not a comment")
    });
}

TEST_F(DialectTest, Sections)
{
    CheckRows({
        Row("SectionEndsAtTheNextHeader", "[Main]\nB=1\n[Other]\n[Main]\nA=2\n", "Main", "A", ""),
        Row("SecondHeaderOfTheSameName", "[Main]\nB=1\n[Main]\nA=2\n", "Main", "A", ""),
        Row("NameUpToTheLastBracket", "[Main]extra]\nA=1\n", "Main]extra", "A", "1"),
        Row("NoBracketEndsBeforeTheLineFeed", "[Main\nA=1\n", "Main", "A", "1"),
        // A 255-byte piece has no line feed: its last byte itself is lost.
        Row("NoBracketLosesTheLastByte", "[" + std::string(253, 'S') + "TA=1\n", std::string(253, 'S'), "A", "1"),
        Row("EmptyName", "[Main]\nA=1\n[]\nB=2\n", "", "B", "2"),
        Row("LoneBracketIsAnEmptyName", "[\nB=3\n", "", "B", "3")
    });
}

TEST_F(DialectTest, KeyLines)
{
    CheckRows({
        Row("KeyWithoutEqualsEndsTheLookup", "[Main]\nA\nA=2\n", "Main", "A", ""),
        Row("BlanksAroundAKeyWithoutEquals", "[Main]\n  A  \nA=2\n", "Main", "A", ""),
        // The piece "A", 253 blanks, "Z" has no "=": its key is "A" once the "Z"
        // is dropped, and that match ends the lookup before "A=2".
        Row("KeyWithoutEqualsLosesTheLastByte", "[Main]\nA" + std::string(253, ' ') + "Z=v\nA=2\n", "Main", "A", "")
    });
}

// A 300-byte line: a piece of 255 bytes, then one of 45.
const std::string k300 = "A=" + std::string(253, 'v') + "B=tail" + std::string(39, 't');

TEST_F(DialectTest, Pieces)
{
    CheckRows({
        Row("SecondPieceIsALineOfItsOwn", "[Main]\n" + k300 + "\n", "Main", "B", "tail" + std::string(39, 't')),
        Row("FirstPieceEndsTheValue", "[Main]\n" + k300 + "\n", "Main", "A", std::string(253, 'v'), 300),
        Row("SecondPieceCanBeAHeader", "[Other]\nX=" + std::string(253, 'x') + "[Main]\nA=1\n", "Main", "A", "1"),
        // The cut falls between a lead byte and its trail byte: the lead byte
        // goes, the trail byte begins the next piece.
        Dbcs(932, "CutInsideADoubleByteCharacter", "[Main]\nA=" + std::string(252, 'v') + "\x81\x40=w\n", "Main",
             "A", std::string(252, 'v'), 300),
        Dbcs(932, "TrailByteBeginsTheNextPiece", "[Main]\nA=" + std::string(252, 'v') + "\x81\x40=w\n", "Main",
             "\x40", "w")
    });
}

TEST_F(DialectTest, TextMode)
{
    CheckRows({
        Row("CrLfEndsALine", "[Main]\r\nA=1\r\nB=2\r\n", "Main", "B", "2"),
        Row("LoneCrStaysInTheLine", "[Main]\nA=1\rB=2\n", "Main", "A", "1\rB=2"),
        Row("CrBeforeCrLf", "[Main]\r\nA=1\r\r\n", "Main", "A", "1"),
        // After a lead byte the next byte is its trail byte: CR LF has become a
        // single LF, which is that trail byte.
        Dbcs(932, "CrLfReadsAsOneByte", "[Main]\r\nA=x\x81\r\n", "Main", "A", "x\x81\n"),
        Row("EofByteEndsTheData", std::string("[Main]\nA=1\n\x1A\nB=2\n"), "Main", "B", ""),
        Row("EofByteInsideAValue", std::string("[Main]\nA=12\x1A" "34\n"), "Main", "A", "12")
    });
}

TEST_F(DialectTest, ZeroBytes)
{
    CheckRows({
        Row("ZeroByteEndsTheLine", "[Main]\nA=12\0 34\nB=5\n"s, "Main", "A", "12"),
        Row("NextLineStillCounts", "[Main]\nA=12\0 34\nB=5\n"s, "Main", "B", "5"),
        Row("LineBeginningWithZeroIsEmpty", "[Main]\n\0A=1\nA=2\n"s, "Main", "A", "2"),
        Row("ZeroInAHeaderEndsIt", "[Ma\0in]\nA=1\n"s, "Ma", "A", ""),
        Row("ZeroInAHeaderLastByteLost", "[Ma\0in]\nA=1\n"s, "M", "A", "1")
    });
}

TEST_F(DialectTest, BufferSize)
{
    CheckRows({
        Row("CutToFourBytes", "[BV]\nBV=1234567\n", "BV", "BV", "1234", 4),
        Row("ExactlyFourBytes", "[BV]\nBV=abcd\n", "BV", "BV", "abcd", 4),
        Row("BlanksAtTheEndOfTheCut", "[BV]\nBV=1.0 ABC\n", "BV", "BV", "1.0", 4),
        Row("BlanksBeforeTheCut", "[BV]\nBV=   12\n", "BV", "BV", "12", 4),
        Row("OneByte", "[BV]\nBV=xyz\n", "BV", "BV", "x", 1)
    });
}

TEST_F(DialectTest, DoubleByte)
{
    CheckRows({
        // U+8868 is 0x95 0x5C in code page 932; trail bytes 0x5D and 0x3D stand
        // for "]" and "=".
        Dbcs(932, "TrailEqualsInAKey", "[Main]\nA\x95\x3D=v\n", "Main", "A\x95\x3D", "v"),
        Dbcs(932, "TrailBracketIsNoBracket", "[M\x81\x5D\nA=1\n", "M\x81\x5D", "A", "1"),
        Dbcs(932, "FullWidthSpaceIsNotTrimmed", "[Main]\nA=\x81\x40x\x81\x40\n", "Main", "A", "\x81\x40x\x81\x40"),
        Dbcs(936, "BlankTrailByteIsNotTrimmed", "[Main]\nA=x\x81\x20\n", "Main", "A", "x\x81\x20"),
        Dbcs(932, "CutDropsASplitCharacter", "[BV]\nBV=abc\x95\x5C\n", "BV", "BV", "abc", 4),
        Dbcs(932, "WholeCharacterAtTheCut", "[BV]\nBV=ab\x95\x5C" "c\n", "BV", "BV", "ab\x95\x5C", 4),
        Row("SingleBytePageCutsAnywhere", "[BV]\nBV=abc\x95\x5C\n", "BV", "BV", "abc\x95", 4),
        Row("SingleBytePageKeyEndsAtEquals", "[Main]\nA\x95=v\n", "Main", "A\x95", "v"),
        // 0xA1 leads under 936 but not under 932; 0xD8 under 1361, 0xD4 not.
        Dbcs(936, "LeadOf936", "[Main]\nK\xA1=X=v\n", "Main", "K\xA1=X", "v"),
        Dbcs(932, "NoLeadOf932", "[Main]\nK\xA1=X=v\n", "Main", "K\xA1", "X=v"),
        Dbcs(1361, "LeadOf1361", "[Main]\nK\xD8==v\n", "Main", "K\xD8=", "v"),
        Dbcs(1361, "NoLeadOf1361", "[Main]\nK\xD4==v\n", "Main", "K\xD4", "=v"),
        Row("LeadOfAReportedPage", "[Main]\nK\xA0==v\n", "Main", "K\xA0=", "v", 64, 12345, kReportedA0)
    });
}

// For each double-byte code page, the top byte of a range is a lead byte and
// the byte above it is not: a trail "]" is no bracket after the one, and a
// lead byte at the very end of the file is dropped.
TEST_F(DialectTest, RangeEnds)
{
    CheckRows({
        Dbcs(932, "Top9FOf932", "[S\x9F]\nA=1\n", "S\x9F]", "A", "1"),
        Dbcs(932, "TopFCOf932", "[Main]\nA=xy\xFC", "Main", "A", "xy"),
        Dbcs(932, "AboveTheTopOf932", "[S\xA0]\nA=1\n", "S\xA0", "A", "1"),
        Dbcs(936, "TopOf936", "[S\xFE]\nA=1\n", "S\xFE]", "A", "1"),
        Dbcs(949, "TopOf949", "[Main]\nA=xy\xFE", "Main", "A", "xy"),
        Dbcs(950, "TopOf950", "[S\xFE]\nA=1\n", "S\xFE]", "A", "1"),
        Dbcs(950, "AboveTheTopOf950", "[Main]\nA=xy\xFF", "Main", "A", "xy\xFF"),
        Dbcs(1361, "TopD3Of1361", "[S\xD3]\nA=1\n", "S\xD3]", "A", "1"),
        Dbcs(1361, "TopDEOf1361", "[Main]\nA=xy\xDE", "Main", "A", "xy"),
        Dbcs(1361, "TopF9Of1361", "[S\xF9]\nA=1\n", "S\xF9]", "A", "1"),
        Dbcs(1361, "AboveTheTopF9Of1361", "[S\xFA]\nA=1\n", "S\xFA", "A", "1"),
        Row("Top8EOfAReportedPage", "[S\x8E]\nA=1\n", "S\x8E]", "A", "1", 64, 20932, kReported20932),
        Row("TopFEOfAReportedPage", "[Main]\nA=xy\xFE", "Main", "A", "xy", 64, 20932, kReported20932),
        Row("AboveTheTop8EOfAReportedPage", "[S\x8F]\nA=1\n", "S\x8F", "A", "1", 64, 20932, kReported20932)
    });
}

using IniTest = KstTest;

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
    EXPECT_EQ(std::string(szBuffer, 8), std::string(8, '\0'));
    mkdir("DIR.INI", 0700);
    EXPECT_EQ(ReadIniValue("DIR.INI", "Main", "A", szBuffer, 8), 0u);
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
