// The one boundary between the launcher and the operating system.
//
// On Windows this is the real Win32 API. In the host build the same names
// are served by a scriptable fake (fake_platform.h), so that every stage can
// be exercised in unit tests. Code above this layer includes only this file.
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

#endif
