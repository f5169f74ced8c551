// The launch sequence; the settings it reads are in launch/settings.h.
#ifndef KST_LOADER_H
#define KST_LOADER_H

#include "launch/settings.h"
#include "platform/platform.h"

// Restricts the DLL search of this process to the system directory, so that
// a DLL planted beside the launcher (a download folder) never loads, not
// even when a system DLL loads it by bare name. Uses
// SetDefaultDllDirectories where KERNEL32 has it; elsewhere (Windows Vista,
// 7 without its update) takes the current directory out of the search with
// SetDllDirectoryA(""), the most those systems offer.
void RestrictDllSearch();

// The command line less the launcher's own name and the blanks and control
// bytes after it.
LPCSTR GetCommandTail(LPCSTR lpCommandLine);

// Makes the directory of the launcher's own file the current directory;
// FALSE when its path cannot be read or the directory cannot be made
// current (a path too long for the system's current directory, a folder
// removed meanwhile).
BOOL SetWorkDirToExeDir();

// The whole sequence for a given tail; returns the result code.
int RunLauncher(LPCSTR lpCmdLine);

#ifndef _WIN32
// The entry point, called by the tests of the host build.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
#endif

#endif
