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
