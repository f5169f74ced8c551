// The system's ANSI code page and its double-byte characters.
#ifndef KST_CODEPAGE_H
#define KST_CODEPAGE_H

#include "platform/platform.h"

// Reads the ANSI code page (GetACP) and its lead-byte ranges: the same as
// InitCodePageFor(GetACP()). Called once at start.
void InitCodePage();

// Sets the lead-byte ranges of code page uCodePage. The ranges of 932, 936,
// 949, 950 and 1361 are built in; any other double-byte code page gets the
// ranges the system reports for it (GetCPInfo); every other page has none.
void InitCodePageFor(UINT uCodePage);

// TRUE when b begins a double-byte character in the current code page.
BOOL IsLeadByteAcp(BYTE b);

// The character after the one at lpText: two bytes on for a lead byte whose
// trail byte is not the terminator, else one; lpText itself at the terminator.
LPCSTR NextCharAcp(LPCSTR lpText);

// The first (or last) character equal to c, which must be a single-byte
// character, stepping over double-byte characters as units; NULL if none.
LPCSTR FindCharAcp(LPCSTR lpText, char c);
LPCSTR FindLastCharAcp(LPCSTR lpText, char c);

#endif
