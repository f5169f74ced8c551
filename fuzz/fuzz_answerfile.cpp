// Fuzzes the probe's answer file: the file BV read directly and compared
// with the reference reader of the tests (under every code page, for section
// and key "BV" and names the file itself holds, at several buffer sizes), and
// the whole machine version stage with a fake probe that writes the same
// file, whose version must be what the reference reads with capacity 4.
//
// Input: byte 0 picks the code page of the stage (bits 0-3), the probe's exit
// code (bits 4-5) and the buffer size of the stage (bits 6-7); the rest is
// the file.
#include "checks/checks.h"
#include "fuzzutil.h"
#include "launch/results.h"

#define PROBE_FAILED 65531u

static bool FileExists(const char* lpName)
{
    struct stat st;
    return stat(lpName, &st) == 0;
}

static std::string FileText(const char* lpName)
{
    std::string strText;
    FILE* pFile = fopen(lpName, "rb");
    if (!pFile)
        return strText;
    char abChunk[4096];
    size_t n;
    while ((n = fread(abChunk, 1, sizeof abChunk, pFile)) > 0)
        strText.append(abChunk, n);
    fclose(pFile);
    return strText;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnterScratch({"BV", "BIOSVER.EXE"});
    FuzzWriteFile("BIOSVER.EXE", (const uint8_t*)"MZ", 2);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1)
        return -1;
    uint8_t bMode = pData[0];
    static const DWORD adwExitCodes[] = {0, 1, PROBE_FAILED, 0xFFFFFFFBu};
    static const DWORD adwSizes[] = {260, BVSIZE + 1, BVSIZE, 1};
    DWORD dwExitCode = adwExitCodes[(bMode >> 4) & 3];
    DWORD dwSize = adwSizes[(bMode >> 6) & 3];
    std::string strAnswer((const char*)pData + 1, nSize - 1);

    // The reader alone.
    FuzzWriteFile("BV", (const uint8_t*)strAnswer.data(), strAnswer.size());
    FuzzCompareWithReference("BV", strAnswer, {{"BV", "BV"}}, BVSIZE);

    // The stage: the stale file from above must go before the probe starts,
    // and the probe's own answer is read.
    FuzzResetMachine(bMode & 0x0F);
    FakeProcess probe;
    probe.dwRunMs = 3;
    probe.dwExitCode = dwExitCode;
    probe.fnOnStart = [&strAnswer]() {
        FUZZ_CHECK(!FileExists("BV"));
        FuzzWriteFile("BV", (const uint8_t*)strAnswer.data(), strAnswer.size());
    };
    FakeQueueProcess(probe);
    FuzzBuffer stage = FuzzBufferNew(dwSize);
    int nCode = GetMachineBiosVersion(stage.lpData, dwSize);
    FUZZ_CHECK(nCode == RC_SUCCESS || nCode == RC_MACHINE_VERSION);
    FUZZ_CHECK(FakeProcessCalls().size() == 1);
    FUZZ_CHECK(FakeOpenHandles() == 0);

    const RefLeadTable& lead = FuzzLeadTable(bMode & 0x0F);
    DWORD dwKept = dwSize < BVSIZE ? dwSize : BVSIZE;
    DWORD dwLength = FuzzTextLength(stage.lpData, dwKept);
    FuzzCheckValue(stage.lpData, dwKept, dwLength, lead);
    for (DWORD i = BVSIZE; i < dwSize; i++)
        FUZZ_CHECK(stage.lpData[i] == 0);
    if (dwExitCode == PROBE_FAILED) {
        // A failed probe's file is neither read nor deleted.
        FUZZ_CHECK(nCode == RC_MACHINE_VERSION && dwLength == 0);
        FUZZ_CHECK(FileExists("BV") && FileText("BV") == strAnswer);
    } else {
        FUZZ_CHECK(!FileExists("BV"));
        FUZZ_CHECK((nCode == RC_SUCCESS) == (dwLength > 0));
        // The stage keeps what the reference reads with its capacity.
        RefValue expected = RefReadIni(strAnswer, "BV", "BV", dwKept, lead);
        FUZZ_CHECK(dwLength == expected.dwResult);
        FUZZ_CHECK(std::string(stage.lpData, dwKept) == expected.strBuffer);
    }
    FuzzBufferFree(&stage);
    unlink("BV");
    return 0;
}
