// Output of the console tools that serve package builders (kstscan,
// kstcheck): one line of text with the bytes a terminal or a pipeline could
// trip over written as escapes, in UTF-8, and the same text for JSON.
#ifndef KST_TOOLOUT_H
#define KST_TOOLOUT_H

#include <string>

#include "platform/platform.h"

// The tools' version, for --version.
#ifndef KST_TOOL_VERSION
#define KST_TOOL_VERSION "0"
#endif

// strText as one line: a backslash as \\, any byte below 0x20 and 0x7F as
// \xHH (with bNamedControls, a tab, line feed and carriage return as \t, \n
// and \r instead). Other bytes stay as they are: text in the ANSI code page
// of the moment, whose double-byte characters stay whole (their trail byte
// may be a backslash); a lead byte before a control byte is a byte alone.
std::string EscapeToolText(const std::string& strText, BOOL bNamedControls);

// Converts one character of ANSI text (one byte, or a lead byte and its
// trail byte) to UTF-16; FALSE when it is no character there.
typedef BOOL (*CHARTOWIDE)(const char* lpChar, size_t nBytes, std::u16string* pstrWide);

// How ToolTextUtf8 writes what it does not convert.
enum {
    TOOLTEXT_HEX,    // as EscapeToolText does, without named controls
    TOOLTEXT_NAMED,  // as EscapeToolText does, with named controls
    TOOLTEXT_JSON    // nothing escaped; a byte that is no character becomes U+FFFD
};
// strText in UTF-8, each character of the ANSI code page of the moment
// converted by pfnCharToWide. With TOOLTEXT_HEX and TOOLTEXT_NAMED, escaped
// as EscapeToolText does, and a byte that is no character there, or one
// that would become a control character (U+0080 to U+009F), is written as
// \xHH.
std::string ToolTextUtf8(const std::string& strText, int nEscapes, CHARTOWIDE pfnCharToWide);

// UTF-8 text as a JSON string, quotes included.
std::string JsonString(const std::string& strUtf8);

// A character of the system's ANSI code page to UTF-16: on Windows the
// system converts; elsewhere that page is 1252.
BOOL SystemCharToWide(const char* lpChar, size_t nBytes, std::u16string* pstrWide);

#endif
