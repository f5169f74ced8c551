// The settings record and its loading from KESTROM.INI.
#include "launch/settings.h"

#include <cstring>

#include "settings/inireader.h"

// Filled by LoadSettings; each field's default stands in g_aSettingKeys alone.
LOADERSETTINGS LoaderSettings;

const SETTINGKEY g_aSettingKeys[SETTING_KEY_COUNT] = {
    {"UI", "Title", offsetof(LOADERSETTINGS, Title), DEFAULT_TITLE},
    {"Main", "BackupFile", offsetof(LOADERSETTINGS, BackupFile), DEFAULT_BACKUP_FILE},
    {"Main", "ImageFile", offsetof(LOADERSETTINGS, ImageFile), DEFAULT_IMAGE_FILE},
};

LPSTR SettingField(const SETTINGKEY* lpKey)
{
    return (LPSTR)&LoaderSettings + lpKey->nFieldOffset;
}

void ResetSettings()
{
    for (const SETTINGKEY& key : g_aSettingKeys)
        BoundedCopy(SettingField(&key), key.lpDefault, FIELD_SIZE);
}

void LoadSettingsFrom(LPCSTR lpFileName)
{
    for (const SETTINGKEY& key : g_aSettingKeys) {
        char szValue[SETTINGS_READ_SIZE + 1];
        memset(szValue, 0, sizeof szValue);
        // A missing or empty value, or an unreadable file: the key's default.
        if (ReadIniValue(lpFileName, key.lpSection, key.lpKey, szValue, SETTINGS_READ_SIZE))
            BoundedCopy(SettingField(&key), szValue, FIELD_SIZE);
        else
            BoundedCopy(SettingField(&key), key.lpDefault, FIELD_SIZE);
    }
}

void LoadSettings()
{
    LoadSettingsFrom(SETTINGS_FILE);
}
