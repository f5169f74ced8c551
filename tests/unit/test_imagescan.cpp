// The image version scan, compared with a step-by-step walk of the image.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "checks/checks.h"
#include "launch/results.h"
#include "testutil.h"

namespace {

// The walk one byte at a time, moving back after every hyphen; a marker in
// the first four bytes has no version.
int ReferenceScan(const char* lpFileName, char* lpVersion)
{
    memset(lpVersion, 0, BVSIZE + 1);
    FILE* pFile = fopen(lpFileName, "rb");
    if (!pFile)
        return RC_IMAGE_OPEN;
    int nResult = RC_IMAGE_VERSION;
    for (;;) {
        int c = fgetc(pFile);
        if (c == EOF)
            break;
        if (c != '-')
            continue;
        char ab[5];
        if (fread(ab, 1, 5, pFile) < 5)
            break;
        if (memcmp(ab, "0000-", 5) == 0) {
            if (ftell(pFile) - 6 >= BVSIZE) {
                fseek(pFile, -10, SEEK_CUR);
                if (fread(lpVersion, 1, BVSIZE, pFile) == BVSIZE)
                    nResult = RC_SUCCESS;
            }
            break;
        }
        fseek(pFile, -5, SEEK_CUR);
    }
    fclose(pFile);
    return nResult;
}

class ImageScanTest : public KstTest {
protected:
    int Scan(const std::string& strImage, std::string* pstrVersion)
    {
        WriteFile("FLASHABL.ROM", strImage);
        char szBuffer[260];
        memset(szBuffer, 'X', sizeof szBuffer);
        int nCode = GetImageBiosVersion(szBuffer, sizeof szBuffer);
        for (size_t i = BVSIZE; i < sizeof szBuffer; i++)
            EXPECT_EQ(szBuffer[i], 0);
        *pstrVersion = std::string(szBuffer, BVSIZE);
        return nCode;
    }

    // Our scan and the walk agree on the code and the four bytes.
    void ExpectLikeReference(const std::string& strImage, const std::string& strWhat)
    {
        std::string strVersion;
        int nCode = Scan(strImage, &strVersion);
        char szReference[BVSIZE + 1];
        int nReference = ReferenceScan("FLASHABL.ROM", szReference);
        ASSERT_EQ(nCode, nReference) << strWhat;
        if (nCode == RC_SUCCESS)
            ASSERT_EQ(strVersion, std::string(szReference, BVSIZE)) << strWhat;
        else
            ASSERT_EQ(strVersion, std::string(BVSIZE, '\0')) << strWhat;
    }
};

TEST_F(ImageScanTest, FindsTheFourBytesBeforeTheFirstMarker)
{
    std::string strVersion;
    EXPECT_EQ(Scan("xx1.07-0000-yy", &strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "1.07");
    EXPECT_EQ(Scan("A001-0000-B002-0000-", &strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "A001");
    // A run of hyphens: the marker is at the last one.
    EXPECT_EQ(Scan("abc--0000-", &strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "abc-");
    // Near misses are passed over.
    EXPECT_EQ(Scan("-0000x-0000 -000-V1.2-0000-", &strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "V1.2");
    // Raw bytes: blanks, control bytes and zero bytes are kept.
    EXPECT_EQ(Scan(std::string("  \x01\0-0000-", 10), &strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, std::string("  \x01\0", 4));
}

TEST_F(ImageScanTest, NoVersionOrNoImage)
{
    std::string strVersion;
    EXPECT_EQ(Scan("", &strVersion), RC_IMAGE_VERSION);
    EXPECT_EQ(Scan("no marker here -0000", &strVersion), RC_IMAGE_VERSION);
    EXPECT_EQ(Scan("abcd-000", &strVersion), RC_IMAGE_VERSION);
    // A marker without four bytes before it.
    EXPECT_EQ(Scan("abc-0000-", &strVersion), RC_IMAGE_VERSION);
    EXPECT_EQ(Scan("-0000-abcd-0000-", &strVersion), RC_IMAGE_VERSION);
    EXPECT_EQ(strVersion, std::string(4, '\0'));

    strcpy(LoaderSettings.ImageFile, "MISSING.ROM");
    char szBuffer[8];
    EXPECT_EQ(GetImageBiosVersion(szBuffer, sizeof szBuffer), RC_IMAGE_OPEN);
    mkdir("DIR.ROM", 0700);
    strcpy(LoaderSettings.ImageFile, "DIR.ROM");
    EXPECT_EQ(GetImageBiosVersion(szBuffer, sizeof szBuffer), RC_IMAGE_OPEN);
}

TEST_F(ImageScanTest, FourByteBufferGetsNoTerminatorAndNoOverrun)
{
    WriteFile("FLASHABL.ROM", "1234-0000-");
    char szBuffer[8];
    memset(szBuffer, 'X', sizeof szBuffer);
    EXPECT_EQ(GetImageBiosVersion(szBuffer, 4), RC_SUCCESS);
    EXPECT_EQ(std::string(szBuffer, 8), "1234XXXX");
}

TEST_F(ImageScanTest, MarkersAroundEveryReadBoundaryPosition)
{
    for (int nShift = -12; nShift <= 12; nShift++) {
        size_t nAt = IMAGE_SCAN_BUFFER_SIZE + nShift;
        std::string strImage(nAt, 'z');
        strImage.replace(nAt - 4, 4, "R9.1");
        strImage += "-0000-tail";
        ExpectLikeReference(strImage, "marker at " + std::to_string(nAt));
        // A near miss straddling the boundary, then a real marker later.
        std::string strNear(nAt, '-');
        strNear += "0000x";
        strNear += std::string(100, '-') + "0000-";
        ExpectLikeReference(strNear, "near miss at " + std::to_string(nAt));
    }
}

TEST_F(ImageScanTest, HyphensAndZerosAroundTheSecondReadBoundary)
{
    // From the second read on, the buffer begins with carried bytes, so
    // the bytes looked at fall at other places of the image.
    std::mt19937 random(777);
    const char acAlphabet[] = {'-', '-', '0', '0', '0', 'q'};
    for (size_t nBoundary : {(size_t)IMAGE_SCAN_BUFFER_SIZE, (size_t)2 * IMAGE_SCAN_BUFFER_SIZE}) {
        for (int nShift = -16; nShift <= 16; nShift++) {
            for (int nRound = 0; nRound < 4; nRound++) {
                std::string strImage(nBoundary + nShift - 12, 'z');
                for (int i = 0; i < 24; i++)
                    strImage += acAlphabet[random() % sizeof acAlphabet];
                if (nRound % 2)
                    strImage += "V5.5-0000-";
                ExpectLikeReference(strImage, "boundary " + std::to_string(nBoundary) + " shift " +
                                                  std::to_string(nShift) + " round " +
                                                  std::to_string(nRound));
            }
        }
    }
}

TEST_F(ImageScanTest, MarkerAfterRunsOfHyphensAndZeros)
{
    // Every length of run before a marker, so that the marker and its
    // version fall at each place relative to the bytes looked at.
    for (size_t nRun = 0; nRun < 20; nRun++) {
        for (size_t nLead = 0; nLead < 7; nLead++) {
            std::string strLead(nLead, 'a');
            ExpectLikeReference(strLead + std::string(nRun, '-') + "0000-", "hyphens " + std::to_string(nRun));
            ExpectLikeReference(strLead + "-" + std::string(nRun, '0') + "-0000-",
                                "zeros " + std::to_string(nRun));
            ExpectLikeReference(strLead + std::string(nRun, '-') + "0000" + std::string(nRun, '-') + "0000-",
                                "two runs " + std::to_string(nRun));
        }
    }
}

TEST_F(ImageScanTest, RandomImagesAgreeWithTheWalk)
{
    std::mt19937 random(12345);
    const char acAlphabet[] = {'-', '0', '0', '0', 'x', '\0', 'A'};
    for (int nCase = 0; nCase < 400; nCase++) {
        size_t nLength = random() % 40;
        std::string strImage;
        for (size_t i = 0; i < nLength; i++)
            strImage += acAlphabet[random() % sizeof acAlphabet];
        ExpectLikeReference(strImage, "case " + std::to_string(nCase));
    }
}

TEST_F(ImageScanTest, MarkerPastFourGiBInASparseImage)
{
    // A hole of zeros is cheap to make and to read; where the file system
    // has no holes the test is skipped rather than filling the disk.
    const off_t nMarkerAt = ((off_t)4 << 30) + 4093;
    int fd = open("FLASHABL.ROM", O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    bool bSparse = ftruncate(fd, (off_t)64 << 20) == 0;
    struct stat st;
    bSparse = bSparse && fstat(fd, &st) == 0 && (off_t)st.st_blocks * 512 < ((off_t)1 << 20);
    if (bSparse) {
        const char acTail[] = "4G.1-0000-";
        bSparse = pwrite(fd, acTail, 10, nMarkerAt - 4) == 10 && fstat(fd, &st) == 0 &&
                  (off_t)st.st_blocks * 512 < ((off_t)16 << 20);
    }
    close(fd);
    if (!bSparse) {
        unlink("FLASHABL.ROM");
        GTEST_SKIP() << "this file system cannot make sparse files";
    }
    ASSERT_GT(st.st_size, (off_t)4 << 30);
    char szBuffer[8];
    EXPECT_EQ(GetImageBiosVersion(szBuffer, sizeof szBuffer), RC_SUCCESS);
    EXPECT_EQ(std::string(szBuffer, 4), "4G.1");
}

TEST_F(ImageScanTest, PreconditionStopsTheProcess)
{
    char szBuffer[8];
    EXPECT_DEATH(GetImageBiosVersion(NULL, 8), "\\[Error\\] !lpBuffer \\|\\| dwSize<BVSIZE");
    EXPECT_DEATH(GetImageBiosVersion(szBuffer, 3), "\\[Error\\] !lpBuffer \\|\\| dwSize<BVSIZE");
}

}  // namespace
