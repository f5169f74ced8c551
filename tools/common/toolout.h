// Output of the console tools that serve package builders (kstscan,
// kstcheck): one line of text with the bytes a terminal or a pipeline could
// trip over written as escapes.
#ifndef KST_TOOLOUT_H
#define KST_TOOLOUT_H

#include <string>

#include "platform/platform.h"

// strText as one line: a backslash as \\, any byte below 0x20 and 0x7F as
// \xHH (with bNamedControls, a tab, line feed and carriage return as \t, \n
// and \r instead). Other bytes stay as they are: text in the ANSI code page
// of the moment, whose double-byte characters stay whole (their trail byte
// may be a backslash); a lead byte before a control byte is a byte alone.
std::string EscapeToolText(const std::string& strText, BOOL bNamedControls);

#endif
