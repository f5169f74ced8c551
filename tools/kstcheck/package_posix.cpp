// kstcheck on other hosts: the package's files are looked up as Windows
// would (a backslash separates directories, letter case aside), text is
// converted with iconv, and the code page is 1252 unless told otherwise.
#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "kstcheck.h"
#include "settings/pathrule.h"

#define DEFAULT_HOST_CODE_PAGE 1252

// The entry of directory strDir named strPart, in letter case or not:
// the exact name when it exists, else the first (in byte order) that
// differs from it in letter case only.
static bool FindPart(const std::string& strDir, const std::string& strPart, std::string* pstrFound)
{
    struct stat st;
    std::string strExact = strDir + "/" + strPart;
    if (lstat(strExact.c_str(), &st) == 0) {
        *pstrFound = strPart;
        return true;
    }
    DIR* pDir = opendir(strDir.c_str());
    if (!pDir)
        return false;
    std::vector<std::string> matches;
    std::string strWanted = FoldAscii(strPart);
    while (struct dirent* pEntry = readdir(pDir))
        if (FoldAscii(pEntry->d_name) == strWanted)
            matches.push_back(pEntry->d_name);
    closedir(pDir);
    if (matches.empty())
        return false;
    *pstrFound = *std::min_element(matches.begin(), matches.end());
    return true;
}

PKGFILE FindPackageFile(LPCSTR lpName)
{
    PKGFILE file;
    file.nKind = PKG_MISSING;
    int nClass = ClassifyName(lpName);
    if (nClass == NAME_ABSOLUTE || nClass == NAME_DRIVE) {
        file.nKind = PKG_UNREACHABLE;
        return file;
    }
    // The name as Windows opens it: "sub\.." leaves "sub" whether such a
    // folder exists or not, and "X.ROM. " is "X.ROM".
    bool bFolderOnly;
    std::vector<std::string> parts = ResolvePackageName(lpName, &bFolderOnly);
    std::string strPath;
    std::string strShown;
    bool bCaseDiffers = false;
    for (const std::string& strPart : parts) {
        std::string strFound = "..";
        if (strPart != "..") {
            if (!FindPart(strPath.empty() ? "." : strPath, strPart, &strFound))
                return file;
            bCaseDiffers = bCaseDiffers || strFound != strPart;
        }
        strPath += (strPath.empty() ? "" : "/") + strFound;
        strShown += (strShown.empty() ? "" : "\\") + strFound;
    }
    if (strPath.empty())
        strPath = ".";
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0)
        return file;
    // A name that ends in a separator answers to a directory only; what is
    // neither a file nor a directory (a device, a pipe) is nothing a
    // package carries, and is never opened.
    if (S_ISDIR(st.st_mode))
        file.nKind = PKG_DIRECTORY;
    else if (bFolderOnly)
        return file;
    else
        file.nKind = S_ISREG(st.st_mode) ? PKG_FILE : PKG_UNREACHABLE;
    file.strPath = strPath;
    if (bCaseDiffers)
        file.strFound = strShown;
    return file;
}

std::string LongPackageName(const std::string& strName)
{
    return strName;
}

static std::string IconvName(UINT uCodePage)
{
    return uCodePage == 65001 ? std::string("UTF-8") : Format("CP%u", uCodePage);
}

// Converts with iconv; FALSE when the conversion is unknown or the text
// holds what the target cannot take (with bLossy, that becomes "?").
static bool Convert(const char* lpTo, const char* lpFrom, const char* pIn, size_t nIn, std::string* pstrOut,
                    size_t nUnit, bool bLossy)
{
    pstrOut->clear();
    // The findings convert a character at a time: the two conversions in
    // use are kept open.
    static struct {
        std::string strTo, strFrom;
        iconv_t cd;
    } s_aOpen[2] = {{"", "", (iconv_t)-1}, {"", "", (iconv_t)-1}};
    static int s_nNext;
    iconv_t cd = (iconv_t)-1;
    for (auto& open : s_aOpen)
        if (open.cd != (iconv_t)-1 && open.strTo == lpTo && open.strFrom == lpFrom)
            cd = open.cd;
    if (cd == (iconv_t)-1) {
        cd = iconv_open(lpTo, lpFrom);
        if (cd == (iconv_t)-1)
            return false;
        auto& slot = s_aOpen[s_nNext];
        s_nNext = 1 - s_nNext;
        if (slot.cd != (iconv_t)-1)
            iconv_close(slot.cd);
        slot.strTo = lpTo;
        slot.strFrom = lpFrom;
        slot.cd = cd;
    }
    iconv(cd, NULL, NULL, NULL, NULL);
    bool bOk = true;
    char* pSource = const_cast<char*>(pIn);
    while (nIn > 0) {
        char abOut[256];
        char* pOut = abOut;
        size_t nOut = sizeof abOut;
        size_t nDone = iconv(cd, &pSource, &nIn, &pOut, &nOut);
        pstrOut->append(abOut, (size_t)(pOut - abOut));
        if (nDone != (size_t)-1 || errno == E2BIG)
            continue;
        if (!bLossy) {
            bOk = false;
            break;
        }
        // A unit the target lacks, or a broken one: "?" in its place.
        pstrOut->push_back('?');
        size_t nSkip = nIn < nUnit ? nIn : nUnit;
        pSource += nSkip;
        nIn -= nSkip;
    }
    return bOk;
}

BOOL AnsiToWide(const std::string& strText, std::u16string* pstrWide)
{
    pstrWide->clear();
    std::string strOut;
    if (!Convert("UTF-16LE", IconvName(g_uCodePage).c_str(), strText.data(), strText.size(), &strOut, 1, false))
        return FALSE;
    for (size_t i = 0; i + 1 < strOut.size(); i += 2)
        pstrWide->push_back((char16_t)((BYTE)strOut[i] | ((BYTE)strOut[i + 1] << 8)));
    return TRUE;
}

std::string WideToAnsi(const std::u16string& strWide)
{
    std::string strIn;
    for (char16_t c : strWide) {
        strIn.push_back((char)(c & 0xFF));
        strIn.push_back((char)(c >> 8));
    }
    std::string strOut;
    if (!Convert(IconvName(g_uCodePage).c_str(), "UTF-16LE", strIn.data(), strIn.size(), &strOut, 2, true))
        return std::string(strWide.size(), '?');
    return strOut;
}

BOOL IsReadOnlyFile(const std::string& strPath)
{
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR);
}

long long FileTell(FILE* pFile)
{
    return (long long)ftello(pFile);
}

BOOL FileSeek(FILE* pFile, long long llOffset, int nOrigin)
{
    return fseeko(pFile, (off_t)llOffset, nOrigin) == 0;
}

BOOL HostKnowsShortNames()
{
    return FALSE;
}

int EnterDirectory(const std::string& strDir)
{
    struct stat st;
    if (stat(strDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return 1;
    return chdir(strDir.c_str()) == 0 ? 0 : 2;
}

std::string ArgumentText(const std::string& strArg)
{
    return strArg;
}

UINT DefaultCodePage()
{
    return DEFAULT_HOST_CODE_PAGE;
}

const char* DefaultCodePageText()
{
    return "1252";
}
