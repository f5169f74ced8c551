// Fuzzes the settings reader against the reference reader of the tests: a
// file, a section and a key, and a buffer size, all drawn from the input,
// looked up under every code page of the fuzz machine together with the
// launcher's own names and names the file itself holds, at several buffer
// sizes.
//
// Input: byte 1 is a buffer size less one, to which bit 4 of byte 0 adds 256
// (the other bits of byte 0 are not used); then the section name and the
// key, each ended by a zero byte; the rest is the file.
#include "fuzzutil.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnterScratch({"T.INI"});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 2)
        return -1;
    uint8_t bMode = pData[0];
    DWORD dwSize = 1u + pData[1] + ((bMode & 0x10) ? 256u : 0u);
    const uint8_t* p = pData + 2;
    const uint8_t* pEnd = pData + nSize;
    const uint8_t* pSectionEnd = (const uint8_t*)memchr(p, 0, (size_t)(pEnd - p));
    if (!pSectionEnd)
        return -1;
    const uint8_t* pKeyEnd = (const uint8_t*)memchr(pSectionEnd + 1, 0, (size_t)(pEnd - pSectionEnd - 1));
    if (!pKeyEnd)
        return -1;
    std::string strSection((const char*)p, (size_t)(pSectionEnd - p));
    std::string strKey((const char*)pSectionEnd + 1, (size_t)(pKeyEnd - pSectionEnd - 1));
    std::string strFile((const char*)pKeyEnd + 1, (size_t)(pEnd - pKeyEnd - 1));
    FuzzWriteFile("T.INI", (const uint8_t*)strFile.data(), strFile.size());

    std::vector<std::pair<std::string, std::string>> names = FuzzLauncherNames();
    names.emplace_back(strSection, strKey);
    FuzzCompareWithReference("T.INI", strFile, names, dwSize);
    return 0;
}
