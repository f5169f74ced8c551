// The launch sequence and the settings it reads.
#ifndef KST_LOADER_H
#define KST_LOADER_H

#include "platform/platform.h"

#define SETTINGS_FILE "KESTROM.INI"
#define MUTEX_NAME "Global\\{7F795C97-E147-4d53-8E3D-E2C8DE9B9F4B}"
#define FIELD_SIZE 260    // file names, captions and version buffers
#define SETTINGS_READ_SIZE 256

// The flasher's settings that the launcher uses; filled once by
// LoadSettings, read-only afterwards.
struct LOADERSETTINGS {
    char Title[FIELD_SIZE];       // caption of the flasher's window
    char BackupFile[FIELD_SIZE];  // backup file the flasher leaves behind
    char ImageFile[FIELD_SIZE];   // image whose version is shown
};
extern LOADERSETTINGS LoaderSettings;

// Puts the defaults back ("Vesmar WinKestrom", "BIOS.BAK", "FLASHABL.ROM").
void ResetSettings();
// Reads Title (UI), BackupFile and ImageFile (Main) from KESTROM.INI in the
// current directory; a missing or empty value keeps its default.
void LoadSettings();
// The same three reads from another file (relative to the current
// directory); LoadSettings() is LoadSettingsFrom(SETTINGS_FILE).
void LoadSettingsFrom(LPCSTR lpFileName);

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
