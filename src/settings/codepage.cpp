#include "settings/codepage.h"

#include <cstring>

static BYTE g_abLeadByte[256];

static void SetLeadRange(unsigned nFirst, unsigned nLast)
{
    for (unsigned n = nFirst; n <= nLast && n < 256; n++)
        g_abLeadByte[n] = 1;
}

void InitCodePage()
{
    InitCodePageFor(GetACP());
}

void InitCodePageFor(UINT uCodePage)
{
    memset(g_abLeadByte, 0, sizeof g_abLeadByte);
    switch (uCodePage) {
    case 932:
        SetLeadRange(0x81, 0x9F);
        SetLeadRange(0xE0, 0xFC);
        return;
    case 936:
    case 949:
    case 950:
        SetLeadRange(0x81, 0xFE);
        return;
    case 1361:
        SetLeadRange(0x81, 0xD3);
        SetLeadRange(0xD8, 0xDE);
        SetLeadRange(0xE0, 0xF9);
        return;
    default:
        break;
    }
    CPINFO cpInfo;
    memset(&cpInfo, 0, sizeof cpInfo);
    if (!GetCPInfo(uCodePage, &cpInfo) || cpInfo.MaxCharSize <= 1)
        return;
    for (int i = 0; i + 1 < MAX_LEADBYTES && (cpInfo.LeadByte[i] || cpInfo.LeadByte[i + 1]); i += 2)
        SetLeadRange(cpInfo.LeadByte[i], cpInfo.LeadByte[i + 1]);
}

BOOL IsLeadByteAcp(BYTE b)
{
    return g_abLeadByte[b] ? TRUE : FALSE;
}

LPCSTR NextCharAcp(LPCSTR lpText)
{
    if (!*lpText)
        return lpText;
    if (IsLeadByteAcp((BYTE)lpText[0]) && lpText[1])
        return lpText + 2;
    return lpText + 1;
}

LPCSTR FindCharAcp(LPCSTR lpText, char c)
{
    for (LPCSTR p = lpText; *p; p = NextCharAcp(p))
        if (*p == c)
            return p;
    return NULL;
}

LPCSTR FindLastCharAcp(LPCSTR lpText, char c)
{
    LPCSTR lpFound = NULL;
    for (LPCSTR p = lpText; *p; p = NextCharAcp(p))
        if (*p == c)
            lpFound = p;
    return lpFound;
}
