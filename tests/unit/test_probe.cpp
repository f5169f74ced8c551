// The machine version probe and the power check.
#include <cstring>

#include "checks/checks.h"
#include "launch/results.h"
#include "testutil.h"

namespace {

class ProbeTest : public KstTest {
protected:
    void SetUp() override
    {
        KstTest::SetUp();
        WriteFile("BIOSVER.EXE", "MZ");
    }

    // Queues a probe that writes strAnswer as its answer file (unless empty)
    // and ends after dwRunMs with dwExitCode.
    void QueueProbe(const std::string& strAnswer, DWORD dwExitCode = 0, DWORD dwRunMs = 5)
    {
        FakeProcess probe;
        probe.dwRunMs = dwRunMs;
        probe.dwExitCode = dwExitCode;
        probe.fnOnStart = [strAnswer]() {
            if (!strAnswer.empty())
                WriteFile("BV", strAnswer);
        };
        FakeQueueProcess(probe);
    }

    int Probe(std::string* pstrVersion)
    {
        char szBuffer[260];
        memset(szBuffer, 'X', sizeof szBuffer);
        int nCode = GetMachineBiosVersion(szBuffer, sizeof szBuffer);
        for (size_t i = strlen(szBuffer); i < sizeof szBuffer; i++)
            EXPECT_EQ(szBuffer[i], 0);
        *pstrVersion = szBuffer;
        return nCode;
    }
};

TEST_F(ProbeTest, ReadsTheVersionAndDeletesTheAnswer)
{
    std::string strVersion;
    QueueProbe("[BV]\r\nBV=1.07   \r\n");
    EXPECT_EQ(Probe(&strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "1.07");
    EXPECT_FALSE(FileExists("BV"));
    EXPECT_EQ(FakeOpenHandles(), 0);
    EXPECT_TRUE(FakeBoxes().empty());

    // Longer values keep their first four bytes, without blanks at the end.
    QueueProbe("[BV]\nBV=  A1  B2\n");
    EXPECT_EQ(Probe(&strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "A1");
    QueueProbe("[BV]\nBV=  A1 B2C3\n");
    EXPECT_EQ(Probe(&strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "A1 B");
    QueueProbe("[BV]\nBV=R01.2.3\n");
    EXPECT_EQ(Probe(&strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "R01.");
}

TEST_F(ProbeTest, StartsTheProbeWithoutAWindowInTheCurrentDirectory)
{
    std::string strVersion;
    QueueProbe("[BV]\nBV=1\n");
    Probe(&strVersion);
    ASSERT_EQ(FakeProcessCalls().size(), 1u);
    const FakeProcessCall& call = FakeProcessCalls()[0];
    EXPECT_TRUE(call.bHasApplication);
    EXPECT_EQ(call.strApplication, "BIOSVER.EXE");
    EXPECT_FALSE(call.bHasCommandLine);
    EXPECT_EQ(call.dwCreationFlags, 0x08000020u);
    EXPECT_FALSE(call.bInheritHandles);
    EXPECT_TRUE(call.bSecurityNull && call.bEnvironmentNull && call.bDirectoryNull && call.bStartupZeroed);
    EXPECT_EQ(call.dwStartupSize, (DWORD)sizeof(STARTUPINFOA));
    // Polled every millisecond until the end.
    EXPECT_EQ(FakeLogCount("Sleep 1"), FakeLogCount("GetExitCodeProcess"));
    EXPECT_GE(FakeLogCount("Sleep 1"), 5);
}

TEST_F(ProbeTest, NoVersionObtained)
{
    std::string strVersion;
    // Key in another section: -9, the file still deleted.
    QueueProbe("[XX]\nBV=1.07\n");
    EXPECT_EQ(Probe(&strVersion), RC_MACHINE_VERSION);
    EXPECT_FALSE(FileExists("BV"));
    // Empty value, and no file at all.
    QueueProbe("[BV]\nBV=  \n");
    EXPECT_EQ(Probe(&strVersion), RC_MACHINE_VERSION);
    QueueProbe("");
    EXPECT_EQ(Probe(&strVersion), RC_MACHINE_VERSION);
    EXPECT_EQ(strVersion, "");
}

TEST_F(ProbeTest, ExitCode65531MeansFailureAndLeavesTheAnswer)
{
    std::string strVersion;
    QueueProbe("[BV]\nBV=1.07\n", 65531);
    EXPECT_EQ(Probe(&strVersion), RC_MACHINE_VERSION);
    EXPECT_EQ(strVersion, "");
    EXPECT_TRUE(FileExists("BV"));
    EXPECT_EQ(FakeOpenHandles(), 0);

    // Other exit codes are not examined: -5 is not 65531, nor is 1.
    QueueProbe("[BV]\nBV=1.08\n", (DWORD)-5);
    EXPECT_EQ(Probe(&strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "1.08");
    QueueProbe("[BV]\nBV=1.09\n", 1);
    EXPECT_EQ(Probe(&strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "1.09");
    QueueProbe("[BV]\nBV=1.10\n", 0x1FFFB);
    EXPECT_EQ(Probe(&strVersion), RC_SUCCESS);
}

TEST_F(ProbeTest, ProgramMissingOrNotStartable)
{
    std::string strVersion;
    unlink("BIOSVER.EXE");
    EXPECT_EQ(Probe(&strVersion), RC_NOT_FOUND);
    EXPECT_TRUE(FakeProcessCalls().empty());
    mkdir("BIOSVER.EXE", 0700);
    EXPECT_EQ(Probe(&strVersion), RC_NOT_FOUND);
    rmdir("BIOSVER.EXE");

    // Present but the start fails (not a program): the same code, and an
    // answer lying there is not taken.
    WriteFile("BIOSVER.EXE", "");
    WriteFile("BV", "[BV]\nBV=OLD1\n");
    FakeProcess broken;
    broken.bStarts = FALSE;
    FakeQueueProcess(broken);
    EXPECT_EQ(Probe(&strVersion), RC_NOT_FOUND);
    EXPECT_EQ(strVersion, "");
}

TEST_F(ProbeTest, StaleAnswerIsRemovedBeforeTheStart)
{
    std::string strVersion;
    WriteFile("BV", "[BV]\nBV=OLD1\n");
    QueueProbe("");
    EXPECT_EQ(Probe(&strVersion), RC_MACHINE_VERSION);
    EXPECT_EQ(strVersion, "");
    EXPECT_FALSE(FileExists("BV"));
    std::vector<std::string> log = FakeLog();
    size_t nDelete = 0, nStart = 0;
    for (size_t i = 0; i < log.size(); i++) {
        if (log[i] == "DeleteFileA BV" && !nDelete)
            nDelete = i + 1;
        if (log[i].rfind("CreateProcessA", 0) == 0)
            nStart = i + 1;
    }
    EXPECT_TRUE(nDelete && nStart && nDelete < nStart);
}

TEST_F(ProbeTest, StaleAnswerThatCannotBeRemovedIsNeverTaken)
{
    std::string strVersion;
    mkdir("BV", 0700);
    QueueProbe("");
    EXPECT_EQ(Probe(&strVersion), RC_MACHINE_VERSION);
    EXPECT_TRUE(FakeProcessCalls().empty());
    EXPECT_EQ(strVersion, "");
}

TEST_F(ProbeTest, WaitIsBoundedByElapsedTime)
{
    std::string strVersion;
    QueueProbe("[BV]\nBV=1.07\n", 0, FAKE_FOREVER);
    EXPECT_EQ(Probe(&strVersion), RC_MACHINE_TIMEOUT);
    EXPECT_GE(FakeSleptTotal(), 30000u);
    EXPECT_LT(FakeSleptTotal(), 30010u);
    EXPECT_EQ(FakeOpenHandles(), 0);
    // The late probe's answer is not read, nor deleted under it.
    EXPECT_TRUE(FileExists("BV"));
    EXPECT_EQ(strVersion, "");

    // Time is taken from the clock, not from the number of sleeps.
    FakeReset();
    FakeProcess slow;
    slow.dwRunMs = FAKE_FOREVER;
    slow.fnOnStart = []() { FakeAdvanceClock(29990); };
    FakeQueueProcess(slow);
    EXPECT_EQ(Probe(&strVersion), RC_MACHINE_TIMEOUT);
    EXPECT_LE(FakeLogCount("Sleep 1"), 10);

    // A probe just inside the bound is waited for.
    FakeReset();
    QueueProbe("[BV]\nBV=1.07\n", 0, 29000);
    EXPECT_EQ(Probe(&strVersion), RC_SUCCESS);
}

TEST_F(ProbeTest, FailedExitCodeQueryEndsTheWait)
{
    std::string strVersion;
    FakeProcess probe;
    probe.dwRunMs = FAKE_FOREVER;
    probe.bQueryFails = TRUE;
    probe.fnOnStart = []() { WriteFile("BV", "[BV]\nBV=Q1\n"); };
    FakeQueueProcess(probe);
    EXPECT_EQ(Probe(&strVersion), RC_SUCCESS);
    EXPECT_EQ(strVersion, "Q1");
    EXPECT_EQ(FakeLogCount("GetExitCodeProcess"), 1);
}

TEST_F(ProbeTest, SmallBuffersAreNeverOverrun)
{
    QueueProbe("[BV]\nBV=ABCDEFG\n");
    char szBuffer[8];
    memset(szBuffer, 'X', sizeof szBuffer);
    EXPECT_EQ(GetMachineBiosVersion(szBuffer, 2), RC_SUCCESS);
    EXPECT_EQ(std::string(szBuffer, 8), "ABXXXXXX");
}

TEST_F(ProbeTest, PreconditionStopsTheProcess)
{
    char szBuffer[8];
    EXPECT_DEATH(GetMachineBiosVersion(NULL, 8), "\\[Error\\] !lpBuffer \\|\\| dwSize==0");
    EXPECT_DEATH(GetMachineBiosVersion(szBuffer, 0), "\\[Error\\] !lpBuffer \\|\\| dwSize==0");
}

TEST(PowerTest, OnlineOnlyWhenTheLineStatusIsExactlyOne)
{
    FakeReset();
    FakeQueuePower(TRUE, 1);
    EXPECT_EQ(CheckAcPower(), RC_SUCCESS);
    FakeReset();
    FakeQueuePower(TRUE, 0);
    EXPECT_EQ(CheckAcPower(), RC_POWER_OFFLINE);
    FakeReset();
    FakeQueuePower(TRUE, 255);
    EXPECT_EQ(CheckAcPower(), RC_POWER_OFFLINE);
    FakeReset();
    FakeQueuePower(TRUE, 2);
    EXPECT_EQ(CheckAcPower(), RC_POWER_OFFLINE);
    FakeReset();
    FakeQueuePower(FALSE, 1);
    EXPECT_EQ(CheckAcPower(), RC_POWER_UNKNOWN);
    FakeReset();
}

}  // namespace
