// Fuzzes the two cuts made of the launcher's start-up strings: the command
// tail after the launcher's own name (GetCommandTail), and the directory of
// the launcher's own file (SetWorkDirToExeDir).
//
// Input: byte 0 picks the code page; the rest up to the first zero byte is
// the command line, the rest after it the module file name (without a zero
// byte the command line is also the module name).
#include "fuzzutil.h"
#include "launch/loader.h"

// Offsets at which a character begins, walking as the code page says (by
// the reference's table, not the product's).
static std::vector<bool> CharStarts(const std::string& strText, const RefLeadTable& lead)
{
    std::vector<bool> starts(strText.size() + 1, false);
    size_t i = 0;
    while (i < strText.size()) {
        starts[i] = true;
        i += lead[(BYTE)strText[i]] && i + 1 < strText.size() ? 2 : 1;
    }
    starts[strText.size()] = true;
    return starts;
}

static void CheckTail(const std::string& strLine, const RefLeadTable& lead)
{
    // Exactly the bytes of the line, so that ASan sees any read past its end.
    size_t nLength = strLine.size();
    char* lpLine = (char*)malloc(nLength + 1);
    memcpy(lpLine, strLine.c_str(), nLength + 1);
    LPCSTR lpTail = GetCommandTail(lpLine);
    FUZZ_CHECK(lpTail >= lpLine && lpTail <= lpLine + nLength);
    size_t nTail = (size_t)(lpTail - lpLine);
    FUZZ_CHECK(!((BYTE)*lpTail >= 0x01 && (BYTE)*lpTail <= 0x20));

    // Where the name ends: after its closing quote (one that is not a trail
    // byte), or at the first byte up to 0x20; the blanks after it are skipped.
    size_t nNameEnd = 0;
    if (!strLine.empty() && strLine[0] == '"') {
        std::vector<bool> starts = CharStarts(strLine, lead);
        nNameEnd = nLength;
        for (size_t i = 1; i < nLength; i++)
            if (starts[i] && strLine[i] == '"') {
                nNameEnd = i + 1;
                break;
            }
    } else {
        while (nNameEnd < nLength && (BYTE)strLine[nNameEnd] > 0x20)
            nNameEnd++;
    }
    FUZZ_CHECK(nTail >= nNameEnd);
    for (size_t i = nNameEnd; i < nTail; i++)
        FUZZ_CHECK((BYTE)strLine[i] >= 0x01 && (BYTE)strLine[i] <= 0x20);
    free(lpLine);
}

static void CheckWorkDir(const std::string& strModule, const RefLeadTable& lead)
{
    FakeSetModuleFileName(strModule.c_str());
    SetWorkDirToExeDir();
    std::vector<std::string> calls = FakeLogLines("SetCurrentDirectoryA");
    if (strModule.empty() || strModule.size() > 16000) {
        // No name, no change; a name longer than any the launcher asks for
        // (tens of kilobytes) keeps the current directory too.
        FUZZ_CHECK(strModule.size() > 16000 || calls.empty());
        return;
    }
    FUZZ_CHECK(calls.size() == 1);
    std::string strDir = FakeCurrentDirectory();

    // The cut is at the last backslash that begins a character, or nowhere;
    // a file at the root keeps the backslash ("C:\", "\").
    std::vector<bool> starts = CharStarts(strModule, lead);
    size_t nCut = std::string::npos;
    for (size_t i = 0; i < strModule.size(); i++)
        if (starts[i] && strModule[i] == '\\')
            nCut = i;
    std::string strExpected = strModule;
    if (nCut != std::string::npos) {
        bool bRoot = nCut == 0 || (nCut == 2 && strModule[1] == ':');
        strExpected = strModule.substr(0, bRoot ? nCut + 1 : nCut);
    }
    FUZZ_CHECK(strDir == strExpected);
    FUZZ_CHECK(strModule.compare(0, strDir.size(), strDir) == 0);
    // Never cut in the middle of a character.
    FUZZ_CHECK(starts[strDir.size()]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1)
        return -1;
    FuzzResetMachine(pData[0]);
    std::string strRest((const char*)pData + 1, nSize - 1);
    size_t nZero = strRest.find('\0');
    std::string strLine = strRest.substr(0, nZero);
    std::string strModule = nZero == std::string::npos ? strLine : strRest.substr(nZero + 1);
    strModule = strModule.substr(0, strModule.find('\0'));
    CheckTail(strLine, FuzzLeadTable(pData[0]));
    CheckWorkDir(strModule, FuzzLeadTable(pData[0]));
    return 0;
}
