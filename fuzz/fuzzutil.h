// Shared pieces of the fuzz targets: a private scratch directory for the
// files the product reads, code page selection, guarded output buffers, the
// checks every settings value must pass, and the comparison of the settings
// reader with the reference reader of the tests.
#ifndef KST_FUZZUTIL_H
#define KST_FUZZUTIL_H

#include <sanitizer/asan_interface.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "fake_platform.h"
#include "refreader.h"
#include "settings/codepage.h"
#include "settings/inireader.h"

// Any broken invariant is a crash, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                          \
    do {                                                                          \
        if (!(cond)) {                                                            \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            __builtin_trap();                                                     \
        }                                                                         \
    } while (0)

// The scratch directory: a fresh directory under $KST_FUZZ_TMP (default
// /dev/shm, else /tmp) that becomes the current directory, so that the
// product's relative file names land there. Removed at a normal exit.
inline std::string g_strFuzzDir;
inline std::vector<std::string> g_fuzzFiles;

inline void FuzzRemoveScratch()
{
    if (g_strFuzzDir.empty())
        return;
    for (const std::string& strName : g_fuzzFiles)
        unlink((g_strFuzzDir + "/" + strName).c_str());
    rmdir(g_strFuzzDir.c_str());
}

// Names every file the target may leave behind, for the clean-up.
inline void FuzzEnterScratch(std::initializer_list<const char*> files)
{
    const char* lpBase = getenv("KST_FUZZ_TMP");
    struct stat st;
    if (!lpBase || !*lpBase)
        lpBase = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string strTemplate = std::string(lpBase) + "/kstfuzz.XXXXXX";
    std::vector<char> name(strTemplate.begin(), strTemplate.end());
    name.push_back(0);
    if (!mkdtemp(name.data()) || chdir(name.data()) != 0) {
        perror("fuzz scratch directory");
        abort();
    }
    g_strFuzzDir = name.data();
    for (const char* lpName : files)
        g_fuzzFiles.push_back(lpName);
    atexit(FuzzRemoveScratch);
}

inline void FuzzWriteFile(const char* lpName, const uint8_t* pData, size_t nSize)
{
    FILE* pFile = fopen(lpName, "wb");
    if (!pFile || (nSize && fwrite(pData, 1, nSize, pFile) != nSize) || fclose(pFile) != 0) {
        perror(lpName);
        abort();
    }
}

// The ANSI code pages a selector byte chooses from: one single-byte page,
// the built-in double-byte pages, and one double-byte page whose lead bytes
// come from the system (GetCPInfo) only.
inline const UINT g_auFuzzCodePages[] = {1252, 932, 936, 949, 950, 1361, 20932};
#define FUZZ_CODE_PAGES (sizeof g_auFuzzCodePages / sizeof g_auFuzzCodePages[0])

// A fresh fake machine with the code page chosen by bSelector.
inline void FuzzResetMachine(uint8_t bSelector)
{
    FakeReset();
    UINT uAcp = g_auFuzzCodePages[bSelector % FUZZ_CODE_PAGES];
    if (uAcp == 20932) {
        static const BYTE abRanges[] = {0x8E, 0x8E, 0xA1, 0xFE, 0};
        FakeSetCodePage(uAcp, 2, abRanges);
    } else {
        FakeSetCodePage(uAcp);
    }
    InitCodePage();
}

// The lead bytes of the code page chosen by bSelector, as the reference
// knows them: its own tables for the built-in pages, the ranges given to the
// fake system above for the other one. The product's own table is never
// asked, so that a wrong one cannot hide.
inline const RefLeadTable& FuzzLeadTable(uint8_t bSelector)
{
    static const RefLeadTable aTables[] = {
        RefBuiltInTable(1252), RefBuiltInTable(932),  RefBuiltInTable(936),
        RefBuiltInTable(949),  RefBuiltInTable(950),  RefBuiltInTable(1361),
        RefRangeTable({{0x8E, 0x8E}, {0xA1, 0xFE}}),
    };
    static_assert(sizeof aTables / sizeof aTables[0] == FUZZ_CODE_PAGES, "one table per code page");
    return aTables[bSelector % FUZZ_CODE_PAGES];
}

// An output buffer of dwSize bytes, filled with a pattern, followed by guard
// bytes that ASan poisons: any read or write past dwSize is reported at once,
// and the guard pattern is checked again afterwards.
#define FUZZ_GUARD 32
#define FUZZ_FILL 0xA5
#define FUZZ_GUARD_FILL 0x5A

struct FuzzBuffer {
    char* lpData;
    DWORD dwSize;
};

inline FuzzBuffer FuzzBufferNew(DWORD dwSize)
{
    FuzzBuffer buffer;
    buffer.dwSize = dwSize;
    buffer.lpData = (char*)malloc(dwSize + FUZZ_GUARD);
    memset(buffer.lpData, FUZZ_FILL, dwSize);
    memset(buffer.lpData + dwSize, FUZZ_GUARD_FILL, FUZZ_GUARD);
    ASAN_POISON_MEMORY_REGION(buffer.lpData + dwSize, FUZZ_GUARD);
    return buffer;
}

inline void FuzzBufferFree(FuzzBuffer* pBuffer)
{
    ASAN_UNPOISON_MEMORY_REGION(pBuffer->lpData + pBuffer->dwSize, FUZZ_GUARD);
    for (DWORD i = 0; i < FUZZ_GUARD; i++)
        FUZZ_CHECK((BYTE)pBuffer->lpData[pBuffer->dwSize + i] == FUZZ_GUARD_FILL);
    free(pBuffer->lpData);
    pBuffer->lpData = NULL;
}

// Length of the text in a buffer of dwSize bytes: up to its first zero byte,
// or dwSize when there is none.
inline DWORD FuzzTextLength(const char* lpData, DWORD dwSize)
{
    DWORD n = 0;
    while (n < dwSize && lpData[n])
        n++;
    return n;
}

// Checks a value that the settings reader left in lpData (dwSize bytes) with
// the result dwResult: the result is the length of the text, everything after
// it is zero, and the text is trimmed. Under a double-byte code page a lead
// byte and the byte after it are one character, so a whitespace byte that is
// a trail byte is part of a character and may end the value; a lead byte
// without its trail byte never does.
inline void FuzzCheckValue(const char* lpData, DWORD dwSize, DWORD dwResult, const RefLeadTable& lead)
{
    FUZZ_CHECK(dwResult <= dwSize);
    FUZZ_CHECK(dwResult == FuzzTextLength(lpData, dwSize));
    for (DWORD i = dwResult; i < dwSize; i++)
        FUZZ_CHECK(lpData[i] == 0);
    if (dwResult == 0)
        return;
    FUZZ_CHECK(!IsWhiteByte((BYTE)lpData[0]));
    DWORD dwLast = 0;
    for (DWORD i = 0; i < dwResult;) {
        dwLast = i;
        if (lead[(BYTE)lpData[i]]) {
            FUZZ_CHECK(i + 1 < dwResult);  // no split character at the end
            i += 2;
        } else {
            i++;
        }
    }
    FUZZ_CHECK(lead[(BYTE)lpData[dwLast]] || !IsWhiteByte((BYTE)lpData[dwLast]));
}

inline void FuzzDumpBytes(const char* lpLabel, const std::string& strBytes)
{
    fprintf(stderr, "%s (%zu bytes):", lpLabel, strBytes.size());
    for (unsigned char c : strBytes)
        fprintf(stderr, " %02X", c);
    fprintf(stderr, "\n");
}

// The buffer sizes every lookup of the comparison is made with: one byte,
// the probe's four and five, and around the settings buffer.
inline const DWORD g_adwFuzzSizes[] = {1, 4, 5, 255, 256, 260};

// Compares the product's reader with the reference on the file lpFileName,
// which holds strFile: for every code page, every (section, key) pair of
// names and the names that the file itself holds (a few of them), the value
// left in the buffer and the result must be the same, and the value must
// pass FuzzCheckValue. A name under which the reference finds a value is
// looked up with every buffer size above and dwExtraSize (0: none); one
// without a value, where the size can only change how much is zero-filled,
// with the largest size only, which keeps the target fast enough to be
// worth running.
inline void FuzzCompareWithReference(const char* lpFileName, const std::string& strFile,
                                     const std::vector<std::pair<std::string, std::string>>& names,
                                     DWORD dwExtraSize)
{
    const size_t nDrawnLimit = 3;
    for (uint8_t bPage = 0; bPage < FUZZ_CODE_PAGES; bPage++) {
        FuzzResetMachine(bPage);
        const RefLeadTable& lead = FuzzLeadTable(bPage);
        RefIniLines lines = RefParseIni(strFile, lead);
        std::vector<std::pair<std::string, std::string>> all = names;
        size_t nDrawn = 0;
        for (const auto& name : RefNamesIn(lines)) {
            if (nDrawn == nDrawnLimit)
                break;
            if (std::find(all.begin(), all.end(), name) == all.end()) {
                all.push_back(name);
                nDrawn++;
            }
        }
        std::vector<DWORD> sizes(std::begin(g_adwFuzzSizes), std::end(g_adwFuzzSizes));
        if (dwExtraSize && std::find(sizes.begin(), sizes.end(), dwExtraSize) == sizes.end())
            sizes.push_back(dwExtraSize);
        const std::vector<DWORD> largest = {std::end(g_adwFuzzSizes)[-1]};
        for (const auto& name : all) {
            bool bFound = RefLookup(lines, name.first, name.second, largest[0], lead).dwResult != 0;
            for (DWORD dwSize : bFound ? sizes : largest) {
                FuzzBuffer buffer = FuzzBufferNew(dwSize);
                DWORD dwResult = ReadIniValue(lpFileName, name.first.c_str(), name.second.c_str(), buffer.lpData,
                                              dwSize);
                RefValue expected = RefLookup(lines, name.first, name.second, dwSize, lead);
                std::string strGot(buffer.lpData, dwSize);
                if (dwResult != expected.dwResult || strGot != expected.strBuffer) {
                    fprintf(stderr, "reader differs from the reference: code page %u, size %u, result %u, "
                            "expected %u\n", g_auFuzzCodePages[bPage], dwSize, dwResult, expected.dwResult);
                    FuzzDumpBytes("section", name.first);
                    FuzzDumpBytes("key", name.second);
                    FuzzDumpBytes("got", strGot);
                    FuzzDumpBytes("expected", expected.strBuffer);
                    __builtin_trap();
                }
                FuzzCheckValue(buffer.lpData, dwSize, dwResult, lead);
                FuzzBufferFree(&buffer);
            }
        }
    }
}

// The names the launcher itself looks up.
inline const std::vector<std::pair<std::string, std::string>>& FuzzLauncherNames()
{
    static const std::vector<std::pair<std::string, std::string>> names = {
        {"UI", "Title"}, {"Main", "BackupFile"}, {"Main", "ImageFile"}, {"BV", "BV"}};
    return names;
}

#endif
