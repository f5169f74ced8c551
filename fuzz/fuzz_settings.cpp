// Fuzzes the settings reader: a file, a section and a key, a buffer size and
// a code page, all drawn from the input.
//
// Input: byte 0 picks the code page (low nibble) and adds 256 to the buffer
// size (bit 4); byte 1 is the buffer size less one; then the section name and
// the key, each ended by a zero byte; the rest is the file.
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
    FuzzWriteFile("T.INI", pKeyEnd + 1, (size_t)(pEnd - pKeyEnd - 1));

    FuzzResetMachine(bMode & 0x0F);
    FuzzBuffer buffer = FuzzBufferNew(dwSize);
    DWORD dwResult = ReadIniValue("T.INI", strSection.c_str(), strKey.c_str(), buffer.lpData, dwSize);
    FuzzCheckValue(buffer.lpData, dwSize, dwResult);
    // A value is found only under a key that names one.
    if (dwResult)
        FUZZ_CHECK(!strKey.empty());
    FuzzBufferFree(&buffer);
    return 0;
}
