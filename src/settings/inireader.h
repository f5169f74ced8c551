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

// A file read the way the C runtime's text mode reads it on Windows, so both
// builds see the same lines: CR LF reads as LF, a lone CR stays, and a byte
// 0x1A ends the data. pFile is opened in binary mode (OpenSharedRead) and
// bEnded starts FALSE; the caller closes pFile (CloseSharedRead).
struct TEXTFILE {
    FILE* pFile;
    BOOL bEnded;
};

// Reads the next piece of a line as fgets does: up to dwSize - 1 bytes,
// through the first line feed, terminated. Returns the number of bytes read,
// zero bytes among them included; 0 when no byte was left.
DWORD ReadTextLine(TEXTFILE* pText, LPSTR lpLine, DWORD dwSize);

// The two cuts of a line the reader makes, in place on a working copy of the
// line (a bounded copy of INI_LINE_SIZE bytes), into buffers of
// INI_LINE_SIZE + 1 bytes that are zero-filled before; what they receive is
// trimmed. A header line: the section name is the text after the "[" up to
// the last "]", or without a "]" up to the line's last byte. A key line: the
// key and the value are the text before and after the first "="; without a
// "=", the key is the line less its last byte and the value stays empty.
void CutSectionName(LPSTR lpWork, LPSTR lpSection);
void CutKeyValue(LPSTR lpWork, LPSTR lpKey, LPSTR lpValue);

#endif
