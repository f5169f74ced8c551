// The package's files as the launcher names them, and text conversion
// between the ANSI code page and the UTF-16 of program resources.
#include <cerrno>
#include <cstring>
#include <vector>

#include "kstcheck.h"
#include "settings/codepage.h"
#include "settings/pathrule.h"

#ifndef _WIN32
#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#endif

UINT g_uCodePage = 1252;

// The parts of a path between backslashes or slashes; a trail byte of a
// double-byte character is never taken for a backslash.
static std::vector<std::string> SplitPath(LPCSTR lpName)
{
    std::vector<std::string> parts(1);
    for (LPCSTR p = lpName; *p;) {
        LPCSTR lpNext = NextCharAcp(p);
        if (*p == '\\' || *p == '/')
            parts.emplace_back();
        else
            parts.back().append(p, (size_t)(lpNext - p));
        p = lpNext;
    }
    return parts;
}

// ".." and any other part made of dots and blanks alone with two dots or
// more, as the launcher counts them.
static bool IsParentPart(const std::string& strPart)
{
    return IsParentElement(strPart.data(), strPart.size()) != FALSE;
}

static bool IsHerePart(const std::string& strPart)
{
    return strPart.empty() || strPart == ".";
}

const char* PathProblem(int nClass)
{
    switch (nClass) {
    case NAME_EMPTY:
        return "is empty";
    case NAME_ABSOLUTE:
        return "is an absolute path";
    case NAME_DRIVE:
        return "names a drive";
    case NAME_COLON:
        return "holds a \":\", which names a stream of a file";
    case NAME_CLIMBS:
        return "climbs out of the package with \"..\"";
    default:
        return "lies in the package";
    }
}

BOOL LeavesPackage(int nClass)
{
    return nClass == NAME_ABSOLUTE || nClass == NAME_DRIVE || nClass == NAME_CLIMBS;
}

static std::string FoldAscii(const std::string& strText)
{
    std::string strFolded(strText);
    for (char& c : strFolded)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return strFolded;
}

BOOL EqualIgnoringAsciiCase(LPCSTR lpA, LPCSTR lpB)
{
    return FoldAscii(lpA) == FoldAscii(lpB);
}

// The parts of a name inside the package, "." and ".." resolved, letter
// case folded; one part "/.." when it leads out.
static std::string NormalName(LPCSTR lpName)
{
    if (ClassifyName(lpName) != NAME_INSIDE)
        return std::string("/") + FoldAscii(lpName);
    std::vector<std::string> kept;
    for (const std::string& strPart : SplitPath(lpName)) {
        if (IsHerePart(strPart))
            continue;
        if (IsParentPart(strPart))
            kept.pop_back();
        else
            kept.push_back(FoldAscii(strPart));
    }
    std::string strNormal;
    for (const std::string& strPart : kept)
        strNormal += "/" + strPart;
    return strNormal;
}

BOOL SamePackageName(LPCSTR lpName1, LPCSTR lpName2)
{
    return NormalName(lpName1) == NormalName(lpName2);
}

#ifdef _WIN32

PKGFILE FindPackageFile(LPCSTR lpName)
{
    PKGFILE file;
    file.strPath = lpName;
    DWORD dwAttributes = GetFileAttributesA(lpName);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        file.nKind = PKG_MISSING;
    else if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
        file.nKind = PKG_DIRECTORY;
    else
        file.nKind = PKG_FILE;
    return file;
}

BOOL AnsiToWide(const std::string& strText, std::u16string* pstrWide)
{
    pstrWide->clear();
    if (strText.empty())
        return TRUE;
    int nLength = MultiByteToWideChar(g_uCodePage, MB_ERR_INVALID_CHARS, strText.data(), (int)strText.size(), NULL, 0);
    if (nLength <= 0)
        return FALSE;
    std::vector<wchar_t> wide((size_t)nLength);
    MultiByteToWideChar(g_uCodePage, MB_ERR_INVALID_CHARS, strText.data(), (int)strText.size(), wide.data(), nLength);
    pstrWide->assign(wide.begin(), wide.end());
    return TRUE;
}

std::string WideToAnsi(const std::u16string& strWide)
{
    if (strWide.empty())
        return std::string();
    std::vector<wchar_t> wide(strWide.begin(), strWide.end());
    int nLength = WideCharToMultiByte(g_uCodePage, 0, wide.data(), (int)wide.size(), NULL, 0, NULL, NULL);
    if (nLength <= 0)
        return std::string(strWide.size(), '?');
    std::string strText((size_t)nLength, '\0');
    WideCharToMultiByte(g_uCodePage, 0, wide.data(), (int)wide.size(), &strText[0], nLength, NULL, NULL);
    return strText;
}

#else

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

#endif

static char16_t FoldWide(char16_t c)
{
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9) ||
        (c >= 0x410 && c <= 0x42F) || (c >= 0xFF21 && c <= 0xFF3A))
        return (char16_t)(c + 0x20);
    if (c >= 0x400 && c <= 0x40F)
        return (char16_t)(c + 0x50);
    if (c == 0x178)
        return 0xFF;
    return c;
}

BOOL EqualIgnoringCase(const std::u16string& strA, const std::u16string& strB)
{
    if (strA.size() != strB.size())
        return FALSE;
    for (size_t i = 0; i < strA.size(); i++)
        if (FoldWide(strA[i]) != FoldWide(strB[i]))
            return FALSE;
    return TRUE;
}
