// The marker search on its own, both ways, against the plain definition:
// the lowest start with all six marker bytes in place.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "checks/markerscan.h"

namespace {

size_t NaiveFind(const std::vector<char>& data, size_t nStart, size_t nEnd)
{
    for (size_t i = nStart; i < nEnd; i++)
        if (memcmp(&data[i], MARKER, MARKER_SIZE) == 0)
            return i;
    return NO_MARKER;
}

// Each block is exactly as long as the search may read, so that AddressSanitizer
// reports any byte read past it.
void ExpectBothFind(const std::string& strData, size_t nStart, const std::string& strWhat)
{
    if (strData.size() < MARKER_SIZE - 1)
        return;
    std::vector<char> data(strData.begin(), strData.end());
    size_t nEnd = data.size() - (MARKER_SIZE - 1);
    if (nStart > nEnd)
        nStart = nEnd;
    size_t nWant = NaiveFind(data, nStart, nEnd);
    ASSERT_EQ(FindMarker(data.data(), nStart, nEnd), nWant) << strWhat;
    ASSERT_EQ(FindMarkerBytewise(data.data(), nStart, nEnd), nWant) << strWhat;
}

TEST(MarkerScan, DenseAlphabetsAtEveryLengthAndStart)
{
    std::mt19937 random(4242);
    const std::string astrAlphabets[] = {"-0", "-0x", "0-", "-00000x\x80\xff"};
    for (const std::string& strAlphabet : astrAlphabets) {
        for (int nCase = 0; nCase < 3000; nCase++) {
            size_t nLength = random() % 300;
            std::string strData;
            for (size_t i = 0; i < nLength; i++)
                strData += strAlphabet[random() % strAlphabet.size()];
            ExpectBothFind(strData, random() % 70, "alphabet " + strAlphabet + " case " + std::to_string(nCase));
        }
    }
}

TEST(MarkerScan, OneMarkerAtEveryPlaceInFiller)
{
    // The filler is the near misses the fast sieve lets through or stops.
    const std::string astrFiller[] = {std::string(1, 'z'), "-", "0", "0-", "-0000x", "-0000", "00-"};
    for (const std::string& strUnit : astrFiller) {
        std::string strFiller;
        while (strFiller.size() < 200)
            strFiller += strUnit;
        for (size_t nAt = 0; nAt < 160; nAt++) {
            for (size_t nStart : {(size_t)0, (size_t)1, (size_t)7, nAt, nAt + 1}) {
                std::string strData = strFiller;
                strData.replace(nAt, MARKER_SIZE, MARKER);
                ExpectBothFind(strData, nStart, "filler " + strUnit + " at " + std::to_string(nAt));
            }
        }
    }
}

TEST(MarkerScan, EmptyRangesFindNothing)
{
    std::vector<char> data(MARKER, MARKER + MARKER_SIZE);
    EXPECT_EQ(FindMarker(data.data(), 0, 1), (size_t)0);
    EXPECT_EQ(FindMarker(data.data(), 1, 1), NO_MARKER);
    EXPECT_EQ(FindMarkerBytewise(data.data(), 1, 1), NO_MARKER);
    std::vector<char> shorter(MARKER, MARKER + MARKER_SIZE - 1);
    EXPECT_EQ(FindMarker(shorter.data(), 0, 0), NO_MARKER);
    EXPECT_EQ(FindMarkerBytewise(shorter.data(), 0, 0), NO_MARKER);
}

}  // namespace
