// A second reader of the settings dialect, for the tests and fuzz targets
// only: never linked into the launcher.
//
// It is written to be easy to check by eye, not to be fast: it takes the
// whole file at once, applies the text-mode rules to all of it, cuts it into
// the 255-byte pieces the launcher reads, and walks those pieces with plain
// strings. Its lead-byte tables are its own, written out from the list of
// double-byte code pages, so that a wrong table in the launcher shows up as
// a difference instead of being shared by both sides.
#ifndef KST_REFREADER_H
#define KST_REFREADER_H

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Which bytes begin a double-byte character; all false for a single-byte
// code page.
typedef std::array<bool, 256> RefLeadTable;

// Lead bytes from (first, last) ranges, as a system reports them.
RefLeadTable RefRangeTable(const std::vector<std::pair<uint8_t, uint8_t>>& ranges);

// The lead bytes of the code pages whose ranges are fixed: 932, 936, 949, 950
// and 1361. Any other page number gives the single-byte table.
RefLeadTable RefBuiltInTable(unsigned uCodePage);
bool RefIsBuiltIn(unsigned uCodePage);

// What a lookup leaves behind: every one of the dwSize bytes of the caller's
// buffer, and the result.
struct RefValue {
    std::string strBuffer;
    uint32_t dwResult;
};

// Looks up key strKey in section strSection of a file holding strFile, with a
// buffer of dwSize bytes. Section and key are C strings: anything from a zero
// byte on is not part of them.
RefValue RefReadIni(const std::string& strFile, const std::string& strSection, const std::string& strKey,
                    uint32_t dwSize, const RefLeadTable& lead);

// The same in two steps, for many lookups in one file under one code page:
// the file cut into lines and judged once, then each lookup walks the lines.
struct RefLine {
    enum { COMMENT, HEADER, KEY_LINE } kind;
    std::string strName;   // HEADER: the section name
    std::string strKey;    // KEY_LINE
    std::string strValue;  // KEY_LINE
};
typedef std::vector<RefLine> RefIniLines;
RefIniLines RefParseIni(const std::string& strFile, const RefLeadTable& lead);
RefValue RefLookup(const RefIniLines& lines, const std::string& strSection, const std::string& strKey,
                   uint32_t dwSize, const RefLeadTable& lead);

// The same for a file on disk; a file that cannot be read finds nothing.
RefValue RefReadIniFile(const char* lpFileName, const std::string& strSection, const std::string& strKey,
                        uint32_t dwSize, const RefLeadTable& lead);

// Every (section, key) pair that a lookup could reach in strFile, in file
// order: the key of each key line after a header, with that header's name.
std::vector<std::pair<std::string, std::string>> RefNamesIn(const RefIniLines& lines);

#endif
