// The lead-byte tables: the built-in double-byte code pages are pinned at
// every range end, win over what the system reports for them, and any other
// page takes what the system reports.
#include <utility>
#include <vector>

#include "refreader.h"
#include "testutil.h"

namespace {

typedef std::vector<std::pair<BYTE, BYTE>> Ranges;

struct BuiltInPage {
    UINT uAcp;
    Ranges ranges;
};

const BuiltInPage kBuiltIn[] = {
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}}},
    {936, {{0x81, 0xFE}}},
    {949, {{0x81, 0xFE}}},
    {950, {{0x81, 0xFE}}},
    {1361, {{0x81, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}}},
};

// Ranges as FakeSetCodePage takes them: pairs ended by a zero byte.
std::vector<BYTE> RangeBytes(const Ranges& ranges)
{
    std::vector<BYTE> bytes;
    for (const auto& range : ranges) {
        bytes.push_back(range.first);
        bytes.push_back(range.second);
    }
    bytes.push_back(0);
    return bytes;
}

// Every byte the launcher takes for a lead byte is one of the ranges, and
// every byte of the ranges is one.
void ExpectLeadBytes(const Ranges& ranges, const std::string& strWhat)
{
    RefLeadTable expected{};
    for (const auto& range : ranges)
        for (unsigned b = range.first; b <= range.second; b++)
            expected[b] = true;
    for (unsigned b = 0; b < 256; b++)
        EXPECT_EQ(IsLeadByteAcp((BYTE)b) != FALSE, expected[b]) << strWhat << ": byte 0x" << std::hex << b;
}

class CodePageTest : public KstTest {};

TEST_F(CodePageTest, BuiltInRangesArePinnedAtBothEnds)
{
    for (const BuiltInPage& page : kBuiltIn) {
        UseCodePage(page.uAcp);
        for (const auto& range : page.ranges) {
            EXPECT_TRUE(IsLeadByteAcp(range.first)) << page.uAcp << " first " << (int)range.first;
            EXPECT_TRUE(IsLeadByteAcp(range.second)) << page.uAcp << " last " << (int)range.second;
            EXPECT_FALSE(IsLeadByteAcp((BYTE)(range.first - 1))) << page.uAcp << " below " << (int)range.first;
            EXPECT_FALSE(IsLeadByteAcp((BYTE)(range.second + 1))) << page.uAcp << " above " << (int)range.second;
        }
        ExpectLeadBytes(page.ranges, std::to_string(page.uAcp));
        // The reference reader's own table says the same.
        EXPECT_EQ(RefBuiltInTable(page.uAcp), RefRangeTable(page.ranges))
            << page.uAcp;
    }
}

TEST_F(CodePageTest, BuiltInTableWinsOverWhatTheSystemReports)
{
    const Ranges other = {{0xA1, 0xA1}, {0xFF, 0xFF}};
    std::vector<BYTE> otherBytes = RangeBytes(other);
    for (const BuiltInPage& page : kBuiltIn) {
        FakeSetCodePage(page.uAcp, 2, otherBytes.data());
        InitCodePage();
        ExpectLeadBytes(page.ranges, std::to_string(page.uAcp) + " reported otherwise");
        // Nor does a system that calls the page single-byte change it.
        FakeSetCodePage(page.uAcp, 1);
        InitCodePage();
        ExpectLeadBytes(page.ranges, std::to_string(page.uAcp) + " reported single-byte");
    }
    // Unscripted, the fake system reports 1361 from 0x84 on, as some systems
    // do; the built-in range still begins at 0x81.
    UseCodePage(1361);
    EXPECT_TRUE(IsLeadByteAcp(0x81));
}

TEST_F(CodePageTest, OtherPagesUseWhatTheSystemReports)
{
    struct {
        UINT uAcp;
        UINT uMaxCharSize;
        Ranges reported;
        Ranges used;
    } cases[] = {
        {20932, 2, {{0x8E, 0x8E}, {0xA1, 0xFE}}, {{0x8E, 0x8E}, {0xA1, 0xFE}}},
        {12345, 2, {{0xA0, 0xA0}}, {{0xA0, 0xA0}}},
        // As many ranges as the system's record holds.
        {54936, 4, {{0x81, 0x81}, {0x83, 0x84}, {0x86, 0x86}, {0x88, 0x8A}, {0x8C, 0x8C}, {0xF0, 0xFF}},
         {{0x81, 0x81}, {0x83, 0x84}, {0x86, 0x86}, {0x88, 0x8A}, {0x8C, 0x8C}, {0xF0, 0xFF}}},
        // A page whose characters are single bytes has no lead bytes, whatever
        // ranges come with it.
        {1250, 1, {{0x81, 0xFE}}, {}},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> bytes = RangeBytes(c.reported);
        FakeSetCodePage(c.uAcp, c.uMaxCharSize, bytes.data());
        InitCodePage();
        ExpectLeadBytes(c.used, std::to_string(c.uAcp));
    }
    // The default single-byte page of the fake machine.
    UseCodePage(1252);
    ExpectLeadBytes({}, "1252");
}

}  // namespace
