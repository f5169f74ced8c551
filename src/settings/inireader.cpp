#include "settings/inireader.h"

#include <cstring>

#include "settings/codepage.h"

BOOL IsWhiteByte(BYTE b)
{
    return (b >= 0x09 && b <= 0x0D) || b == 0x20;
}

void TrimLeft(LPSTR s)
{
    if (!s || !IsWhiteByte((BYTE)s[0]))
        return;
    LPCSTR p = s;
    while (*p && IsWhiteByte((BYTE)*p))
        p = NextCharAcp(p);
    memmove(s, p, strlen(p) + 1);
}

void TrimRight(LPSTR s)
{
    if (!s || !*s)
        return;
    LPSTR lpRun = NULL;
    for (LPSTR p = s; *p; p = (LPSTR)NextCharAcp(p)) {
        if (IsWhiteByte((BYTE)*p)) {
            if (!lpRun)
                lpRun = p;
        } else {
            lpRun = NULL;
        }
    }
    if (lpRun)
        *lpRun = 0;
}

void TrimString(LPSTR s)
{
    TrimLeft(s);
    TrimRight(s);
}

void BoundedCopy(LPSTR lpDest, LPCSTR lpSource, DWORD dwSize)
{
    DWORD i = 0;
    while (i < dwSize && lpSource[i]) {
        if (IsLeadByteAcp((BYTE)lpSource[i])) {
            if (i + 1 >= dwSize || !lpSource[i + 1])
                break;
            lpDest[i] = lpSource[i];
            lpDest[i + 1] = lpSource[i + 1];
            i += 2;
        } else {
            lpDest[i] = lpSource[i];
            i++;
        }
    }
    if (i < dwSize)
        memset(lpDest + i, 0, dwSize - i);
}

static int ReadTextByte(TEXTFILE* pText)
{
    if (pText->bEnded)
        return EOF;
    int c = getc(pText->pFile);
    if (c == 0x1A || c == EOF) {
        pText->bEnded = TRUE;
        return EOF;
    }
    if (c == '\r') {
        int cNext = getc(pText->pFile);
        if (cNext == '\n')
            return '\n';
        if (cNext != EOF)
            ungetc(cNext, pText->pFile);
    }
    return c;
}

DWORD ReadTextLine(TEXTFILE* pText, LPSTR lpLine, DWORD dwSize)
{
    DWORD dwLength = 0;
    while (dwLength + 1 < dwSize) {
        int c = ReadTextByte(pText);
        if (c == EOF)
            break;
        lpLine[dwLength++] = (char)c;
        if (c == '\n')
            break;
    }
    lpLine[dwLength] = 0;
    return dwLength;
}

void CutSectionName(LPSTR lpWork, LPSTR lpSection)
{
    LPSTR lpEnd = (LPSTR)FindLastCharAcp(lpWork, ']');
    if (!lpEnd)
        lpEnd = lpWork + strlen(lpWork) - 1;
    if (lpEnd > lpWork)
        *lpEnd = 0;
    else
        lpWork[1] = 0;
    BoundedCopy(lpSection, lpWork + 1, INI_LINE_SIZE);
    TrimString(lpSection);
}

void CutKeyValue(LPSTR lpWork, LPSTR lpKey, LPSTR lpValue)
{
    LPSTR lpEqual = (LPSTR)FindCharAcp(lpWork, '=');
    if (lpEqual) {
        *lpEqual = 0;
        BoundedCopy(lpValue, lpEqual + 1, INI_LINE_SIZE);
    } else {
        size_t nLength = strlen(lpWork);
        if (nLength > 0)
            lpWork[nLength - 1] = 0;
    }
    BoundedCopy(lpKey, lpWork, INI_LINE_SIZE);
    TrimString(lpKey);
    TrimString(lpValue);
}

DWORD ReadIniValue(LPCSTR lpFileName, LPCSTR lpSection, LPCSTR lpKey, LPSTR lpBuffer, DWORD dwSize)
{
    if (lpBuffer && dwSize)
        memset(lpBuffer, 0, dwSize);
    if (!lpFileName || !lpBuffer || dwSize == 0 || !lpSection || !lpKey || !*lpKey)
        return 0;

    TEXTFILE text;
    text.pFile = OpenSharedRead(lpFileName);
    text.bEnded = FALSE;
    if (!text.pFile)
        return 0;

    // One spare byte past each buffer keeps every piece terminated.
    char szLine[INI_LINE_SIZE + 1];
    char szWork[INI_LINE_SIZE + 1];
    char szSection[INI_LINE_SIZE + 1];
    char szKey[INI_LINE_SIZE + 1];
    char szValue[INI_LINE_SIZE + 1];
    BOOL bInSection = FALSE;
    DWORD dwResult = 0;

    memset(szLine, 0, sizeof szLine);
    while (ReadTextLine(&text, szLine, INI_LINE_SIZE)) {
        memset(szWork, 0, sizeof szWork);
        BoundedCopy(szWork, szLine, INI_LINE_SIZE);
        memset(szLine, 0, sizeof szLine);
        if (szWork[0] == ';')
            continue;
        if (szWork[0] == '[') {
            if (bInSection)
                break;
            memset(szSection, 0, sizeof szSection);
            CutSectionName(szWork, szSection);
            bInSection = strcmp(szSection, lpSection) == 0;
            continue;
        }
        if (!bInSection)
            continue;
        memset(szKey, 0, sizeof szKey);
        memset(szValue, 0, sizeof szValue);
        CutKeyValue(szWork, szKey, szValue);
        if (strcmp(szKey, lpKey) != 0)
            continue;
        // The value is cut to dwSize bytes, then trimmed again, so that what
        // is left in lpBuffer never reaches past dwSize, even unterminated.
        char szCut[INI_LINE_SIZE + 1];
        memset(szCut, 0, sizeof szCut);
        BoundedCopy(szCut, szValue, dwSize < INI_LINE_SIZE ? dwSize : INI_LINE_SIZE);
        TrimString(szCut);
        dwResult = (DWORD)strlen(szCut);
        if (dwResult > dwSize)
            dwResult = dwSize;
        memcpy(lpBuffer, szCut, dwResult);
        break;
    }
    CloseSharedRead(text.pFile);
    return dwResult;
}
