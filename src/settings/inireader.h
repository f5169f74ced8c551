// Reader for the small INI dialect of the flasher's settings file and of the
// probe's answer file, and the whitespace trimming it uses.
#ifndef KST_INIREADER_H
#define KST_INIREADER_H

#include "platform/platform.h"

// Size of a settings-file line buffer and of each piece cut from it.
#define INI_LINE_SIZE 256

// Looks up lpKey in section lpSection of lpFileName (relative to the current
// directory) and leaves its trimmed value in lpBuffer, of which at most
// dwSize bytes are read or written. Returns the length of the value left
// there (at most dwSize), or 0 for an empty value, a missing key, section or
// file, or a bad argument; lpBuffer is then zero-filled.
DWORD ReadIniValue(LPCSTR lpFileName, LPCSTR lpSection, LPCSTR lpKey, LPSTR lpBuffer, DWORD dwSize);

// Whitespace: the bytes 0x09 to 0x0D and 0x20.
BOOL IsWhiteByte(BYTE b);

// In-place trimming of a terminated string; a null pointer is left alone.
void TrimString(LPSTR s);
void TrimLeft(LPSTR s);
void TrimRight(LPSTR s);

// Copies at most dwSize bytes of the terminated string lpSource into lpDest,
// stops at its terminator and zero-fills the rest of the dwSize bytes. A lead
// byte that would be the last of the dwSize bytes, or whose trail byte is the
// terminator, is written as a zero byte. When lpSource holds dwSize bytes or
// more, the copy carries no terminator of its own.
void BoundedCopy(LPSTR lpDest, LPCSTR lpSource, DWORD dwSize);

#endif
