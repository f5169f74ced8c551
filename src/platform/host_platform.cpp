// The platform of the console tools built for a host other than Windows:
// only what they use of the launcher's code, over the C library. Files are
// opened with stdio in binary mode, attributes come from stat, the system's
// ANSI code page is 1252 (a tool reads a package under another page by
// setting that page's lead bytes itself), and a failed assertion is written
// to standard error before the process stops.
#include "platform/platform.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#define HOST_CODE_PAGE 1252

FILE* OpenSharedRead(LPCSTR lpFileName)
{
    // Asks stat itself: the plain-file test lies above this layer.
    struct stat st;
    if (!lpFileName || (stat(lpFileName, &st) == 0 && S_ISDIR(st.st_mode)))
        return NULL;
    return fopen(lpFileName, "rb");
}

void CloseSharedRead(FILE* pFile)
{
    if (pFile)
        fclose(pFile);
}

void AbortProcess()
{
    fflush(stdout);
    abort();
}

DWORD GetFileAttributesA(LPCSTR lpFileName)
{
    struct stat st;
    if (!lpFileName || stat(lpFileName, &st) != 0)
        return INVALID_FILE_ATTRIBUTES;
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

UINT GetACP()
{
    return HOST_CODE_PAGE;
}

// The built-in double-byte pages need no answer from here; every other page
// a tool can be told is a single-byte one.
BOOL GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo)
{
    (void)CodePage;
    memset(lpCPInfo, 0, sizeof *lpCPInfo);
    lpCPInfo->MaxCharSize = 1;
    lpCPInfo->DefaultChar[0] = '?';
    return TRUE;
}

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    (void)hWnd;
    (void)uType;
    fflush(stdout);
    fprintf(stderr, "[%s] %s\n", lpCaption ? lpCaption : "", lpText ? lpText : "");
    return IDOK;
}
