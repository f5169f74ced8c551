#include "toolout.h"

#include <cstdio>

#include "settings/codepage.h"

std::string EscapeToolText(const std::string& strText, BOOL bNamedControls)
{
    std::string strOut;
    for (size_t i = 0; i < strText.size(); i++) {
        char c = strText[i];
        BYTE b = (BYTE)c;
        if (IsLeadByteAcp(b) && i + 1 < strText.size() && (BYTE)strText[i + 1] >= 0x20 &&
            (BYTE)strText[i + 1] != 0x7F) {
            strOut += strText.substr(i, 2);
            i++;
        } else if (b == '\\') {
            strOut += "\\\\";
        } else if (bNamedControls && b == '\n') {
            strOut += "\\n";
        } else if (bNamedControls && b == '\r') {
            strOut += "\\r";
        } else if (bNamedControls && b == '\t') {
            strOut += "\\t";
        } else if (b < 0x20 || b == 0x7F) {
            char szEscape[8];
            snprintf(szEscape, sizeof szEscape, "\\x%02X", b);
            strOut += szEscape;
        } else {
            strOut += c;
        }
    }
    return strOut;
}

static void AppendUtf8(std::string* pstrOut, unsigned long uChar)
{
    if (uChar < 0x80) {
        pstrOut->push_back((char)uChar);
    } else if (uChar < 0x800) {
        pstrOut->push_back((char)(0xC0 | (uChar >> 6)));
        pstrOut->push_back((char)(0x80 | (uChar & 0x3F)));
    } else if (uChar < 0x10000) {
        pstrOut->push_back((char)(0xE0 | (uChar >> 12)));
        pstrOut->push_back((char)(0x80 | ((uChar >> 6) & 0x3F)));
        pstrOut->push_back((char)(0x80 | (uChar & 0x3F)));
    } else {
        pstrOut->push_back((char)(0xF0 | (uChar >> 18)));
        pstrOut->push_back((char)(0x80 | ((uChar >> 12) & 0x3F)));
        pstrOut->push_back((char)(0x80 | ((uChar >> 6) & 0x3F)));
        pstrOut->push_back((char)(0x80 | (uChar & 0x3F)));
    }
}

// UTF-16 text in UTF-8; FALSE for a lone surrogate or (with bNoControls) a
// control character.
static BOOL WideToUtf8Text(const std::u16string& strWide, std::string* pstrOut, BOOL bNoControls)
{
    std::string strOut;
    for (size_t i = 0; i < strWide.size(); i++) {
        unsigned long uChar = strWide[i];
        if (uChar >= 0xD800 && uChar <= 0xDBFF && i + 1 < strWide.size() && strWide[i + 1] >= 0xDC00 &&
            strWide[i + 1] <= 0xDFFF) {
            uChar = 0x10000 + ((uChar - 0xD800) << 10) + (strWide[i + 1] - 0xDC00);
            i++;
        } else if (uChar >= 0xD800 && uChar <= 0xDFFF) {
            return FALSE;
        }
        if (bNoControls && (uChar < 0x20 || (uChar >= 0x7F && uChar <= 0x9F)))
            return FALSE;
        AppendUtf8(&strOut, uChar);
    }
    *pstrOut += strOut;
    return TRUE;
}

std::string ToolTextUtf8(const std::string& strText, int nEscapes, CHARTOWIDE pfnCharToWide)
{
    std::string strOut;
    BOOL bJson = nEscapes == TOOLTEXT_JSON;
    for (size_t i = 0; i < strText.size();) {
        BYTE b = (BYTE)strText[i];
        if (b < 0x80) {
            if (bJson)
                strOut += (char)b;
            else
                strOut += EscapeToolText(strText.substr(i, 1), nEscapes == TOOLTEXT_NAMED);
            i++;
            continue;
        }
        size_t nBytes = IsLeadByteAcp(b) && i + 1 < strText.size() && (BYTE)strText[i + 1] >= 0x20 &&
                                (BYTE)strText[i + 1] != 0x7F
                            ? 2
                            : 1;
        std::u16string strWide;
        if (!pfnCharToWide(strText.data() + i, nBytes, &strWide) || strWide.empty() ||
            !WideToUtf8Text(strWide, &strOut, !bJson)) {
            for (size_t k = 0; bJson && k < nBytes; k++)
                strOut += "\xEF\xBF\xBD";
            for (size_t k = 0; !bJson && k < nBytes; k++) {
                char szEscape[8];
                snprintf(szEscape, sizeof szEscape, "\\x%02X", (BYTE)strText[i + k]);
                strOut += szEscape;
            }
        }
        i += nBytes;
    }
    return strOut;
}

std::string JsonString(const std::string& strUtf8)
{
    std::string strOut = "\"";
    for (char c : strUtf8) {
        BYTE b = (BYTE)c;
        if (c == '"' || c == '\\') {
            strOut += '\\';
            strOut += c;
        } else if (c == '\n') {
            strOut += "\\n";
        } else if (c == '\r') {
            strOut += "\\r";
        } else if (c == '\t') {
            strOut += "\\t";
        } else if (b < 0x20 || b == 0x7F) {
            char szEscape[8];
            snprintf(szEscape, sizeof szEscape, "\\u%04x", b);
            strOut += szEscape;
        } else {
            strOut += c;
        }
    }
    return strOut + "\"";
}

BOOL SystemCharToWide(const char* lpChar, size_t nBytes, std::u16string* pstrWide)
{
    pstrWide->clear();
#ifdef _WIN32
    wchar_t awc[4];
    int nUnits = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, lpChar, (int)nBytes, awc, 4);
    if (nUnits <= 0)
        return FALSE;
    pstrWide->assign(awc, awc + nUnits);
    return TRUE;
#else
    // Code page 1252: Latin-1 but for 0x80 to 0x9F.
    static const char16_t s_aHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                         0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    if (nBytes != 1)
        return FALSE;
    BYTE b = (BYTE)lpChar[0];
    char16_t c = b >= 0x80 && b < 0xA0 ? s_aHigh[b - 0x80] : (char16_t)b;
    if (!c)
        return FALSE;
    pstrWide->push_back(c);
    return TRUE;
#endif
}
