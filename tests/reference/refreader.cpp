#include "refreader.h"

#include <algorithm>
#include <cstdio>

namespace {

// Longest piece of a line read at once, and the size of every working copy.
const size_t kPiece = 255;
const size_t kWork = 256;

bool IsWhite(uint8_t b)
{
    return b == ' ' || (b >= 0x09 && b <= 0x0D);
}

// Width of the character at offset i of s: two bytes for a lead byte that
// has a byte after it, else one.
size_t Width(const std::string& s, size_t i, const RefLeadTable& lead)
{
    return lead[(uint8_t)s[i]] && i + 1 < s.size() ? 2 : 1;
}

// Anything from the first zero byte on is not part of a C string.
std::string CString(const std::string& s)
{
    return s.substr(0, s.find('\0'));
}

// The bytes that a copy of at most n bytes of s keeps before its first zero
// byte: whole characters only, and no lead byte without its trail byte.
std::string Bounded(const std::string& s, size_t n, const RefLeadTable& lead)
{
    size_t i = 0;
    while (i < s.size() && i < n) {
        if (lead[(uint8_t)s[i]]) {
            if (i + 1 >= s.size() || i + 1 >= n)
                break;
            i += 2;
        } else {
            i += 1;
        }
    }
    return s.substr(0, i);
}

// Whitespace off both ends. At the front the whitespace bytes are dropped;
// at the end, the last run of whitespace characters, where a trail byte is
// never a character of its own.
std::string Trim(const std::string& s, const RefLeadTable& lead)
{
    size_t nFirst = 0;
    while (nFirst < s.size() && IsWhite((uint8_t)s[nFirst]))
        nFirst += Width(s, nFirst, lead);
    std::string t = s.substr(std::min(nFirst, s.size()));

    size_t nRun = std::string::npos;
    for (size_t i = 0; i < t.size(); i += Width(t, i, lead)) {
        if (!IsWhite((uint8_t)t[i]))
            nRun = std::string::npos;
        else if (nRun == std::string::npos)
            nRun = i;
    }
    return nRun == std::string::npos ? t : t.substr(0, nRun);
}

// Offset of the first (or last) character equal to c, or npos.
size_t FindChar(const std::string& s, char c, bool bLast, const RefLeadTable& lead)
{
    size_t nFound = std::string::npos;
    for (size_t i = 0; i < s.size(); i += Width(s, i, lead)) {
        if (s[i] == c) {
            nFound = i;
            if (!bLast)
                break;
        }
    }
    return nFound;
}

// The file as text mode reads it: nothing from the first 0x1A on, and each
// CR LF pair as one LF; any other CR stays.
std::string TextMode(const std::string& strFile)
{
    std::string strData = strFile.substr(0, strFile.find('\x1A'));
    std::string strText;
    for (size_t i = 0; i < strData.size(); i++)
        if (!(strData[i] == '\r' && i + 1 < strData.size() && strData[i + 1] == '\n'))
            strText += strData[i];
    return strText;
}

// Each physical line (with its LF) in pieces of at most 255 bytes.
std::vector<std::string> Pieces(const std::string& strText)
{
    std::vector<std::string> pieces;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('\n', nStart);
        nEnd = nEnd == std::string::npos ? strText.size() : nEnd + 1;
        for (size_t n = nStart; n < nEnd; n += kPiece)
            pieces.push_back(strText.substr(n, std::min(kPiece, nEnd - n)));
        nStart = nEnd;
    }
    return pieces;
}

// A piece as the reader sees it: up to its first zero byte, as a working
// copy, then judged by its first byte.
RefLine Judge(const std::string& strPiece, const RefLeadTable& lead)
{
    std::string s = Bounded(CString(strPiece), kWork, lead);
    RefLine line;
    if (!s.empty() && s[0] == ';') {
        line.kind = RefLine::COMMENT;
        return line;
    }
    if (!s.empty() && s[0] == '[') {
        // Up to the last "]"; without one, up to the line's last byte.
        line.kind = RefLine::HEADER;
        size_t nEnd = FindChar(s, ']', true, lead);
        if (nEnd == std::string::npos)
            nEnd = s.size() - 1;
        std::string strName = nEnd > 1 ? s.substr(1, nEnd - 1) : std::string();
        line.strName = Trim(Bounded(strName, kWork, lead), lead);
        return line;
    }
    // Before the first "=" and after it; without one, the whole line but its
    // last byte is the key.
    line.kind = RefLine::KEY_LINE;
    size_t nEqual = FindChar(s, '=', false, lead);
    std::string strKey, strValue;
    if (nEqual != std::string::npos) {
        strKey = s.substr(0, nEqual);
        strValue = s.substr(nEqual + 1);
    } else if (!s.empty()) {
        strKey = s.substr(0, s.size() - 1);
    }
    line.strKey = Trim(Bounded(strKey, kWork, lead), lead);
    line.strValue = Trim(Bounded(strValue, kWork, lead), lead);
    return line;
}

}  // namespace

RefLeadTable RefRangeTable(const std::vector<std::pair<uint8_t, uint8_t>>& ranges)
{
    RefLeadTable lead{};
    for (const auto& range : ranges)
        for (unsigned b = range.first; b <= range.second; b++)
            lead[b] = true;
    return lead;
}

bool RefIsBuiltIn(unsigned uCodePage)
{
    return uCodePage == 932 || uCodePage == 936 || uCodePage == 949 || uCodePage == 950 || uCodePage == 1361;
}

RefLeadTable RefBuiltInTable(unsigned uCodePage)
{
    switch (uCodePage) {
    case 932:
        return RefRangeTable({{0x81, 0x9F}, {0xE0, 0xFC}});
    case 936:
    case 949:
    case 950:
        return RefRangeTable({{0x81, 0xFE}});
    case 1361:
        return RefRangeTable({{0x81, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}});
    default:
        return RefLeadTable{};
    }
}

RefIniLines RefParseIni(const std::string& strFile, const RefLeadTable& lead)
{
    RefIniLines lines;
    for (const std::string& strPiece : Pieces(TextMode(strFile)))
        lines.push_back(Judge(strPiece, lead));
    return lines;
}

RefValue RefLookup(const RefIniLines& lines, const std::string& strSection, const std::string& strKey,
                   uint32_t dwSize, const RefLeadTable& lead)
{
    RefValue value{std::string(dwSize, '\0'), 0};
    std::string strWantedSection = CString(strSection);
    std::string strWantedKey = CString(strKey);
    if (dwSize == 0 || strWantedKey.empty())
        return value;
    bool bInSection = false;
    for (const RefLine& line : lines) {
        if (line.kind == RefLine::COMMENT)
            continue;
        if (line.kind == RefLine::HEADER) {
            // The wanted section ends at the next header, whatever its name.
            if (bInSection)
                return value;
            bInSection = line.strName == strWantedSection;
            continue;
        }
        if (!bInSection || line.strKey != strWantedKey)
            continue;
        std::string strCut = Trim(Bounded(line.strValue, dwSize, lead), lead);
        value.strBuffer.replace(0, strCut.size(), strCut);
        value.dwResult = (uint32_t)strCut.size();
        return value;
    }
    return value;
}

RefValue RefReadIni(const std::string& strFile, const std::string& strSection, const std::string& strKey,
                    uint32_t dwSize, const RefLeadTable& lead)
{
    return RefLookup(RefParseIni(strFile, lead), strSection, strKey, dwSize, lead);
}

RefValue RefReadIniFile(const char* lpFileName, const std::string& strSection, const std::string& strKey,
                        uint32_t dwSize, const RefLeadTable& lead)
{
    std::string strFile;
    if (FILE* pFile = fopen(lpFileName, "rb")) {
        char abChunk[4096];
        size_t n;
        while ((n = fread(abChunk, 1, sizeof abChunk, pFile)) > 0)
            strFile.append(abChunk, n);
        fclose(pFile);
    }
    return RefReadIni(strFile, strSection, strKey, dwSize, lead);
}

std::vector<std::pair<std::string, std::string>> RefNamesIn(const RefIniLines& lines)
{
    std::vector<std::pair<std::string, std::string>> names;
    bool bHeaderSeen = false;
    std::string strSection;
    for (const RefLine& line : lines) {
        if (line.kind == RefLine::HEADER) {
            bHeaderSeen = true;
            strSection = line.strName;
        } else if (line.kind == RefLine::KEY_LINE && bHeaderSeen && !line.strKey.empty()) {
            names.emplace_back(strSection, line.strKey);
        }
    }
    return names;
}
