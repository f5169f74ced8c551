// kstcheck on Windows: the system looks the package's files up, converts
// text and tells the code page.
#include <cstring>
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

long long FileTell(FILE* pFile)
{
    return _ftelli64(pFile);
}

BOOL FileSeek(FILE* pFile, long long llOffset, int nOrigin)
{
    return _fseeki64(pFile, llOffset, nOrigin) == 0;
}

BOOL ChangeToDirectory(LPCSTR lpPath)
{
    return SetCurrentDirectoryA(lpPath);
}

UINT DefaultCodePage()
{
    return GetACP();
}

const char* DefaultCodePageText()
{
    return "the system's";
}
