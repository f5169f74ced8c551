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
    // Windows takes "." and ".." out of a name by its text alone: "sub\.."
    // leaves "sub" whether such a folder exists or not.
    std::vector<std::string> parts;
    for (const std::string& strPart : SplitPath(lpName)) {
        if (IsHerePart(strPart))
            continue;
        if (IsParentPart(strPart) && !parts.empty() && !IsParentPart(parts.back()))
            parts.pop_back();
        else
            parts.push_back(strPart);
    }
    std::string strPath = ".";
    std::string strShown;
    bool bCaseDiffers = false;
    for (const std::string& strPart : parts) {
        std::string strFound = "..";
        if (!IsParentPart(strPart)) {
            if (!FindPart(strPath, strPart, &strFound))
                return file;
            bCaseDiffers = bCaseDiffers || strFound != strPart;
        }
        strPath += "/" + strFound;
        strShown += (strShown.empty() ? "" : "\\") + strFound;
    }
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0)
        return file;
    file.nKind = S_ISDIR(st.st_mode) ? PKG_DIRECTORY : PKG_FILE;
    file.strPath = strPath.substr(2);
    if (file.strPath.empty())
        file.strPath = ".";
    if (bCaseDiffers)
        file.strFound = strShown;
    return file;
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
    iconv_t cd = iconv_open(lpTo, lpFrom);
    if (cd == (iconv_t)-1)
        return false;
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
    iconv_close(cd);
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

long long FileTell(FILE* pFile)
{
    return (long long)ftello(pFile);
}

BOOL FileSeek(FILE* pFile, long long llOffset, int nOrigin)
{
    return fseeko(pFile, (off_t)llOffset, nOrigin) == 0;
}

BOOL ChangeToDirectory(LPCSTR lpPath)
{
    return chdir(lpPath) == 0;
}

UINT DefaultCodePage()
{
    return DEFAULT_HOST_CODE_PAGE;
}

const char* DefaultCodePageText()
{
    return "1252";
}
