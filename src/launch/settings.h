// The flasher's settings that the launcher uses, read from KESTROM.INI:
// the record, its defaults and the one table of the keys that fill it.
#ifndef KST_SETTINGS_H
#define KST_SETTINGS_H

#include <cstddef>

#include "launch/names.h"
#include "platform/platform.h"

#define FIELD_SIZE 260    // file names, captions and version buffers
#define SETTINGS_READ_SIZE 256

// The flasher's settings that the launcher uses; filled once by
// LoadSettings (a key the file lacks gets its default from g_aSettingKeys),
// read-only afterwards. Until then it holds no values.
struct LOADERSETTINGS {
    char Title[FIELD_SIZE];       // caption of the flasher's window
    char BackupFile[FIELD_SIZE];  // backup file the flasher leaves behind
    char ImageFile[FIELD_SIZE];   // image whose version is shown
};
extern LOADERSETTINGS LoaderSettings;

// Each key of the settings file the launcher reads, in the order it reads
// them: its section, its name, the field it fills and that field's default.
struct SETTINGKEY {
    LPCSTR lpSection;
    LPCSTR lpKey;
    size_t nFieldOffset;  // offsetof(LOADERSETTINGS, ...)
    LPCSTR lpDefault;
};
#define SETTING_KEY_COUNT 3
extern const SETTINGKEY g_aSettingKeys[SETTING_KEY_COUNT];
// The field of LoaderSettings that a key fills.
LPSTR SettingField(const SETTINGKEY* lpKey);

// Writes every field's default from g_aSettingKeys ("Vesmar WinKestrom",
// "BIOS.BAK", "FLASHABL.ROM").
void ResetSettings();
// Reads Title (UI), BackupFile and ImageFile (Main) from KESTROM.INI in the
// current directory; a missing or empty value gives the key's default.
void LoadSettings();
// The same reads from another file (relative to the current directory);
// LoadSettings() is LoadSettingsFrom(SETTINGS_FILE).
void LoadSettingsFrom(LPCSTR lpFileName);

#endif
