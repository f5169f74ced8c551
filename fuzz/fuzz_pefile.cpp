// Fuzzes kstcheck's reader of Windows program files: whatever the file
// holds, every read stays inside it, the walk ends, what it keeps stays
// within its limits, and a second read of the same file gives the same.
#include <cstdio>
#include <cstring>

#include "fuzzutil.h"
#include "pefile.h"

struct MEMORYFILE {
    const uint8_t* pData;
    size_t nSize;
    size_t nReads;
};

static bool ReadMemory(void* pContext, uint64_t qwOffset, void* pBuffer, size_t nSize)
{
    MEMORYFILE* pFile = (MEMORYFILE*)pContext;
    // The reader checks every offset itself before it reads.
    FUZZ_CHECK(qwOffset <= pFile->nSize && nSize <= pFile->nSize - qwOffset);
    pFile->nReads++;
    if (nSize)
        memcpy(pBuffer, pFile->pData + qwOffset, nSize);
    return true;
}

static bool Terminated(const char16_t* lpText, size_t nMax)
{
    for (size_t i = 0; i <= nMax; i++)
        if (!lpText[i])
            return true;
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static PEINFO s_first, s_second;
    MEMORYFILE file = {pData, nSize, 0};
    ReadPeInfo(ReadMemory, &file, nSize, &s_first);

    FUZZ_CHECK(s_first.nDialogsKept <= PE_MAX_DIALOGS);
    FUZZ_CHECK(s_first.nDialogsKept <= s_first.nDialogs);
    FUZZ_CHECK(s_first.nDialogs <= PE_MAX_RESOURCE_ENTRIES);
    if (s_first.nKind != PE_PROGRAM)
        FUZZ_CHECK(s_first.nDialogs == 0 && s_first.nResources == PE_RES_NONE);
    if (s_first.nResources == PE_RES_NONE)
        FUZZ_CHECK(s_first.nDialogs == 0);
    for (uint32_t i = 0; i < s_first.nDialogsKept; i++) {
        const PEDIALOG& dialog = s_first.aDialogs[i];
        FUZZ_CHECK(Terminated(dialog.szCaption, PE_MAX_CAPTION));
        FUZZ_CHECK(Terminated(dialog.szName, PE_MAX_NAME));
        FUZZ_CHECK(dialog.nControls <= 0xFFFF);
        FUZZ_CHECK(!dialog.bHasFlashButton || dialog.nControls > 0);
        if (dialog.bUnreadable)
            FUZZ_CHECK(dialog.nControls == 0 && !dialog.szCaption[0]);
    }
    // A bounded walk: the headers, every section header, and at most a
    // few reads per resource entry.
    size_t nSectionReads = nSize / 40 + 1;
    FUZZ_CHECK(file.nReads <= 8 + nSectionReads + 4 * (size_t)PE_MAX_RESOURCE_ENTRIES + 4 * PE_MAX_DIRECTORIES);

    MEMORYFILE again = {pData, nSize, 0};
    ReadPeInfo(ReadMemory, &again, nSize, &s_second);
    FUZZ_CHECK(memcmp(&s_first, &s_second, sizeof s_first) == 0);
    return 0;
}
