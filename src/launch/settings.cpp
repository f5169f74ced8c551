// The settings record and its loading from KESTROM.INI.
#include "launch/settings.h"

#include <cstring>

#include "settings/inireader.h"

LOADERSETTINGS LoaderSettings = {DEFAULT_TITLE, DEFAULT_BACKUP_FILE, DEFAULT_IMAGE_FILE};

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
    for (const SETTINGKEY& key : g_aSettingKeys) {
        memset(SettingField(&key), 0, FIELD_SIZE);
        strcpy(SettingField(&key), key.lpDefault);
    }
}

void LoadSettingsFrom(LPCSTR lpFileName)
{
    for (const SETTINGKEY& key : g_aSettingKeys) {
        char szValue[SETTINGS_READ_SIZE + 1];
        memset(szValue, 0, sizeof szValue);
        if (ReadIniValue(lpFileName, key.lpSection, key.lpKey, szValue, SETTINGS_READ_SIZE))
            BoundedCopy(SettingField(&key), szValue, FIELD_SIZE);
    }
}

void LoadSettings()
{
    LoadSettingsFrom(SETTINGS_FILE);
}
