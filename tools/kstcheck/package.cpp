// The package's files as the launcher names them, and letter case, the same
// on every system; what differs between them is in package_win32.cpp and
// package_posix.cpp.
#include <cstring>
#include <vector>

#include "kstcheck.h"
#include "settings/codepage.h"
#include "settings/pathrule.h"

UINT g_uCodePage = 1252;

// The parts of a path between backslashes or slashes; a trail byte of a
// double-byte character is never taken for a backslash.
std::vector<std::string> SplitPath(LPCSTR lpName)
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

std::string FoldAscii(const std::string& strText)
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

std::vector<std::string> ResolvePackageName(LPCSTR lpName, bool* pbFolderOnly)
{
    std::vector<std::string> kept;
    std::vector<std::string> parts = SplitPath(lpName);
    *pbFolderOnly = parts.size() > 1 && parts.back().empty();
    for (size_t i = 0; i < parts.size(); i++) {
        std::string strPart = parts[i];
        if (strPart == "..") {
            if (!kept.empty() && kept.back() != "..")
                kept.pop_back();
            else
                kept.push_back("..");
            continue;
        }
        if (strPart == ".")
            continue;
        if (i + 1 < parts.size()) {
            // An inner element keeps its blanks and loses one trailing dot;
            // one of dots alone ("...") is a name as it stands.
            if (strPart.find_first_not_of('.') != std::string::npos && strPart.back() == '.')
                strPart.pop_back();
        } else {
            while (!strPart.empty() && (strPart.back() == '.' || strPart.back() == ' '))
                strPart.pop_back();
        }
        if (!strPart.empty())
            kept.push_back(strPart);
    }
    return kept;
}

BOOL HasShortNameShape(LPCSTR lpName)
{
    bool bFolderOnly;
    for (const std::string& strPart : ResolvePackageName(lpName, &bFolderOnly)) {
        LPCSTR p = strPart.c_str();
        for (int nChars = 0; *p && nChars < 8; nChars++, p = NextCharAcp(p))
            if (*p == '~' && p[1] >= '0' && p[1] <= '9' && nChars < 7)
                return TRUE;
    }
    return FALSE;
}

int PackageNameClass(LPCSTR lpName)
{
    switch (ClassifyName(lpName)) {
    case NAME_EMPTY:
        return PKGNAME_EMPTY;
    case NAME_ABSOLUTE:
        return PKGNAME_ABSOLUTE;
    case NAME_DRIVE:
        return PKGNAME_DRIVE;
    default:
        break;
    }
    bool bFolderOnly;
    std::vector<std::string> parts = ResolvePackageName(lpName, &bFolderOnly);
    if (!parts.empty() && parts[0] == "..")
        return PKGNAME_CLIMBS;
    for (const std::string& strPart : parts)
        if (strPart.find_first_not_of('.') == std::string::npos)
            return PKGNAME_DOTS;
    return PKGNAME_INSIDE;
}

const char* PackageNameProblem(int nPackageClass)
{
    switch (nPackageClass) {
    case PKGNAME_EMPTY:
        return PathProblem(NAME_EMPTY);
    case PKGNAME_ABSOLUTE:
        return PathProblem(NAME_ABSOLUTE);
    case PKGNAME_DRIVE:
        return PathProblem(NAME_DRIVE);
    case PKGNAME_CLIMBS:
        return PathProblem(NAME_CLIMBS);
    case PKGNAME_DOTS:
        return "holds an element of dots alone (\"...\"): Windows programs cannot make such a folder, and the "
               "launcher cannot open it";
    default:
        return PathProblem(NAME_INSIDE);
    }
}

// What two names of the package are compared by: the name Windows opens
// (the one resolver for every name), its short names expanded where the
// system has them, ASCII letter case folded. A name that leaves the
// package is compared as written.
static std::string ComparedName(LPCSTR lpName)
{
    int nClass = PackageNameClass(lpName);
    if (nClass != PKGNAME_INSIDE && nClass != PKGNAME_DOTS)
        return std::string("/") + FoldAscii(lpName);
    bool bFolderOnly;
    std::string strJoined;
    for (const std::string& strPart : ResolvePackageName(lpName, &bFolderOnly))
        strJoined += (strJoined.empty() ? "" : "\\") + strPart;
    // "X.ROM\" is no name of the file X.ROM.
    return FoldAscii(LongPackageName(strJoined)) + (bFolderOnly ? "\\" : "");
}

BOOL SamePackageName(LPCSTR lpName1, LPCSTR lpName2)
{
    return ComparedName(lpName1) == ComparedName(lpName2);
}

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
