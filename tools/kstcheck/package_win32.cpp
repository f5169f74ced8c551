// kstcheck on Windows: the system looks the package's files up, converts
// text and tells the code page.
#include <cstring>
#include <string>
#include <vector>

#include "kstcheck.h"

PKGFILE FindPackageFile(LPCSTR lpName)
{
    PKGFILE file;
    file.strPath = lpName;
    switch (GetFileKind(lpName)) {
    case FILE_KIND_PLAIN:
        file.nKind = PKG_FILE;
        break;
    case FILE_KIND_DIRECTORY:
        file.nKind = PKG_DIRECTORY;
        break;
    default:
        file.nKind = PKG_MISSING;
        break;
    }
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

// UTF-16 text in code page uCodePage; "?" for each unit when it cannot be
// converted at all.
static std::string WideToCodePage(UINT uCodePage, const wchar_t* lpWide, size_t nUnits)
{
    if (!nUnits)
        return std::string();
    int nLength = WideCharToMultiByte(uCodePage, 0, lpWide, (int)nUnits, NULL, 0, NULL, NULL);
    if (nLength <= 0)
        return std::string(nUnits, '?');
    std::string strText((size_t)nLength, '\0');
    WideCharToMultiByte(uCodePage, 0, lpWide, (int)nUnits, &strText[0], nLength, NULL, NULL);
    return strText;
}

std::string WideToAnsi(const std::u16string& strWide)
{
    std::vector<wchar_t> wide(strWide.begin(), strWide.end());
    return WideToCodePage(g_uCodePage, wide.data(), wide.size());
}

BOOL IsReadOnlyFile(const std::string& strPath)
{
    DWORD dwAttributes = GetFileAttributesA(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY);
}

long long FileTell(FILE* pFile)
{
    return _ftelli64(pFile);
}

BOOL FileSeek(FILE* pFile, long long llOffset, int nOrigin)
{
    return _fseeki64(pFile, llOffset, nOrigin) == 0;
}

static std::wstring Utf8ToWide(const std::string& strText)
{
    if (strText.empty())
        return std::wstring();
    int nLength = MultiByteToWideChar(CP_UTF8, 0, strText.data(), (int)strText.size(), NULL, 0);
    std::wstring strWide(nLength > 0 ? (size_t)nLength : 0, L'\0');
    if (nLength > 0)
        MultiByteToWideChar(CP_UTF8, 0, strText.data(), (int)strText.size(), &strWide[0], nLength);
    return strWide;
}

std::string WideToUtf8(const wchar_t* lpWide)
{
    int nLength = WideCharToMultiByte(CP_UTF8, 0, lpWide, -1, NULL, 0, NULL, NULL);
    if (nLength <= 1)
        return std::string();
    std::string strText((size_t)nLength, '\0');
    WideCharToMultiByte(CP_UTF8, 0, lpWide, -1, &strText[0], nLength, NULL, NULL);
    strText.resize((size_t)nLength - 1);
    return strText;
}

std::string LongPackageName(const std::string& strName)
{
    // The name as the A calls read it, then the system's long name of each
    // element that exists ("FLASHA~1.ROM" is "FLASHABL.ROM").
    std::wstring strWide;
    if (!strName.empty()) {
        int nLength = MultiByteToWideChar(CP_ACP, 0, strName.data(), (int)strName.size(), NULL, 0);
        if (nLength > 0) {
            strWide.resize((size_t)nLength);
            MultiByteToWideChar(CP_ACP, 0, strName.data(), (int)strName.size(), &strWide[0], nLength);
        }
    }
    if (!strWide.empty()) {
        DWORD dwLength = GetLongPathNameW(strWide.c_str(), NULL, 0);
        if (dwLength > 0) {
            std::vector<wchar_t> longName(dwLength + 1);
            DWORD dwDone = GetLongPathNameW(strWide.c_str(), longName.data(), dwLength + 1);
            if (dwDone > 0 && dwDone <= dwLength)
                strWide.assign(longName.data(), dwDone);
        }
    }
    return WideToUtf8(strWide.c_str());
}

BOOL HostKnowsShortNames()
{
    return TRUE;
}

int EnterDirectory(const std::string& strDir)
{
    std::wstring strWide = Utf8ToWide(strDir);
    DWORD dwAttributes = GetFileAttributesW(strWide.c_str());
    if (strWide.empty() || dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 1;
    return SetCurrentDirectoryW(strWide.c_str()) ? 0 : 2;
}

std::string ArgumentText(const std::string& strArg)
{
    std::wstring strWide = Utf8ToWide(strArg);
    return WideToCodePage(CP_ACP, strWide.data(), strWide.size());
}

UINT DefaultCodePage()
{
    return GetACP();
}

const char* DefaultCodePageText()
{
    return "the system's";
}
