// Fuzzes the two cuts made of the launcher's start-up strings: the command
// tail after the launcher's own name (GetCommandTail), and the directory of
// the launcher's own file (SetWorkDirToExeDir), which comes in UTF-16.
//
// Input: byte 0 picks the code page; the rest up to the first zero byte is
// the command line, the bytes after it the module file name in UTF-16 (see
// below; without a zero byte the command line is also the module name).
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

static void CheckWorkDir(const std::u16string& strModule)
{
    FakeSetModuleFileNameW(strModule);
    BOOL bChanged = SetWorkDirToExeDir();
    std::vector<std::string> calls = FakeLogLines("SetCurrentDirectoryW");
    FUZZ_CHECK(calls.size() == (bChanged ? 1u : 0u));
    if (strModule.empty() || strModule.size() > 16000) {
        // No name, or one longer than the launcher reads (tens of
        // kilobytes): the launcher stops without a directory.
        FUZZ_CHECK(strModule.size() > 16000 || !bChanged);
        return;
    }
    FUZZ_CHECK(bChanged);

    // The cut is at the last backslash, which in UTF-16 is never part of
    // another character, or nowhere; a file at the root keeps the
    // backslash ("C:\", "\").
    size_t nCut = strModule.rfind(u'\\');
    std::u16string strExpected = strModule;
    if (nCut != std::u16string::npos) {
        bool bRoot = nCut == 0 || (nCut == 2 && strModule[1] == u':');
        strExpected = strModule.substr(0, bRoot ? nCut + 1 : nCut);
    }
    FUZZ_CHECK(FakeCurrentDirectoryW() == strExpected);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1)
        return -1;
    FuzzResetMachine(pData[0]);
    std::string strRest((const char*)pData + 1, nSize - 1);
    size_t nZero = strRest.find('\0');
    std::string strLine = strRest.substr(0, nZero);
    // The module name in UTF-16 units: the bytes after the zero byte in
    // pairs (low byte first), up to a zero unit; without a zero byte, the
    // command line's bytes one unit each.
    std::u16string strModule;
    if (nZero == std::string::npos) {
        for (char c : strLine)
            strModule.push_back((char16_t)(BYTE)c);
    } else {
        for (size_t i = nZero + 1; i + 1 < strRest.size(); i += 2) {
            char16_t c = (char16_t)((BYTE)strRest[i] | ((BYTE)strRest[i + 1] << 8));
            if (!c)
                break;
            strModule.push_back(c);
        }
    }
    CheckTail(strLine, FuzzLeadTable(pData[0]));
    CheckWorkDir(strModule);
    return 0;
}
