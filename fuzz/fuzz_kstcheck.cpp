// Fuzzes kstcheck whole, over the real host layer, on a package folder made
// in a scratch directory from the input: a byte of options (bit 0:
// --strict; bits 1-3: a code page; bit 4: --format json; bit 5: --quiet;
// bit 6: --fail-on note; bit 7: two codes suppressed), then parts split at zero bytes: the
// settings file, the flasher command line, and up to eight names of entries
// ("\" and "/" separate folders; a name ending in one is a folder, any
// other a file holding a Windows program with dialogs and a version marker).
// It must never crash, and with well-formed arguments it ends with 0 or 1:
// 2 would be an internal error.
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kstcheck.h"

static std::string g_strRoot, g_strPackage, g_strContent;

static int RemoveEntry(const char* lpPath, const struct stat*, int, struct FTW*)
{
    return remove(lpPath);
}

static void WriteFile(const std::string& strPath, const std::string& strData)
{
    if (FILE* pFile = fopen(strPath.c_str(), "wb")) {
        fwrite(strData.data(), 1, strData.size(), pFile);
        fclose(pFile);
    }
}

// The entry's folders, then the entry; "", "." and ".." elements are left
// out, so that nothing lands outside the package.
static void MakeEntry(const std::string& strName)
{
    std::string strPath = g_strPackage, strElement;
    for (size_t i = 0; i <= strName.size(); i++) {
        if (i < strName.size() && strName[i] != '\\' && strName[i] != '/') {
            strElement += strName[i];
            continue;
        }
        if (!strElement.empty() && strElement != "." && strElement != "..") {
            strPath += "/" + strElement;
            if (i < strName.size())
                mkdir(strPath.c_str(), 0700);
            else
                WriteFile(strPath, g_strContent);
        }
        strElement.clear();
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* lpBase = getenv("KST_FUZZ_TMP");
    std::string strTemplate = std::string(lpBase && *lpBase ? lpBase : "/tmp") + "/kstfuzz.XXXXXX";
    FILE* pProgram = fopen(KST_FUZZ_SOURCE_DIR "/corpus/fuzz_pefile/x64-dialogs", "rb");
    if (!mkdtemp(&strTemplate[0]) || chdir(strTemplate.c_str()) != 0 || !pProgram || !freopen("/dev/null", "w", stdout)) {
        perror("fuzz_kstcheck");
        abort();
    }
    g_strRoot = strTemplate;
    g_strPackage = g_strRoot + "/package";
    atexit([] {
        nftw(g_strPackage.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
        rmdir(g_strRoot.c_str());
    });
    char abProgram[4096];
    g_strContent.assign(abProgram, fread(abProgram, 1, sizeof abProgram, pProgram));
    g_strContent += "1.07-0000-";
    fclose(pProgram);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const char* const s_aCodePages[] = {NULL, "1252", "932", "936", "949", "950", "1361", "1251"};
    if (nSize < 1)
        return 0;
    std::vector<std::string> parts(1);
    for (size_t i = 1; i < nSize && parts.size() <= 10; i++) {
        if (pData[i])
            parts.back() += (char)pData[i];
        else
            parts.emplace_back();
    }
    nftw(g_strPackage.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    mkdir(g_strPackage.c_str(), 0700);
    WriteFile(g_strPackage + "/KESTROM.INI", parts[0]);
    for (size_t i = 2; i < parts.size() && i < 10; i++)
        if (parts[i].size() <= 128)
            MakeEntry(parts[i]);

    std::vector<std::string> args;
    if (pData[0] & 1)
        args.push_back("--strict");
    if (const char* lpCodePage = s_aCodePages[(pData[0] >> 1) & 7])
        args.insert(args.end(), {"--code-page", lpCodePage});
    if (pData[0] & 0x10)
        args.push_back("--format=json");
    if (pData[0] & 0x20)
        args.push_back("-q");
    if (pData[0] & 0x40)
        args.insert(args.end(), {"--fail-on", "note"});
    if (pData[0] & 0x80)
        args.insert(args.end(), {"--suppress", "cr-line-end,backup-package-file"});
    args.push_back(g_strPackage);
    if (parts.size() > 1)
        args.insert(args.end(), {"--", parts[1]});
    int nCode = RunKstcheck(args);
    if ((nCode != 0 && nCode != 1) || chdir(g_strRoot.c_str()) != 0) {
        fprintf(stderr, "fuzz_kstcheck: exit code %d\n", nCode);
        __builtin_trap();
    }
    return 0;
}
