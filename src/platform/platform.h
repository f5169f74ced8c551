// The one boundary between the launcher and the operating system.
//
// On Windows this is the real Win32 API. In the host build the same names
// are served by a small real layer for the console tools
// (host_platform.cpp) or, in the unit tests and fuzz targets, by a
// scriptable fake (tests/fake/), so that every stage can be exercised there.
// Code above this layer includes only this file.
#ifndef KST_PLATFORM_H
#define KST_PLATFORM_H

#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "platform/host_win32.h"
#endif

// Opens a file for reading in binary mode, read-only, letting other processes
// read and write it meanwhile. Returns NULL when it cannot be opened (also
// when the name is a directory).
FILE* OpenSharedRead(LPCSTR lpFileName);
// Closes a file that OpenSharedRead opened; NULL is left alone.
void CloseSharedRead(FILE* pFile);

// Ends the process abnormally, as after a failed assertion.
void AbortProcess();

// What a name in the current directory (or a path) is, by its attributes:
// a plain file, a directory, or nothing that can be found.
enum { FILE_KIND_NONE, FILE_KIND_PLAIN, FILE_KIND_DIRECTORY };
int GetFileKind(LPCSTR lpFileName);
// A plain file of that name is there (a directory of that name is not).
BOOL IsPlainFile(LPCSTR lpFileName);

#endif
