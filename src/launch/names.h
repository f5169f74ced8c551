// The fixed names of the launcher's files, objects and windows, compiled in;
// the package checker names them from here too.
#ifndef KST_NAMES_H
#define KST_NAMES_H

#define SETTINGS_FILE "KESTROM.INI"
#define MUTEX_NAME "Global\\{7F795C97-E147-4d53-8E3D-E2C8DE9B9F4B}"

// The probe and its answer file, in the settings dialect: section BV, key BV.
#define PROBE_PROGRAM "BIOSVER.EXE"
#define PROBE_ANSWER_FILE "BV"
#define PROBE_SECTION "BV"
#define PROBE_KEY "BV"

// The file the flasher leaves behind, deleted with the backup file.
#define FLASHER_LEFTOVER_FILE "WINKESTROM.GID"
#define BUSY_CAPTION "Please wait when flashing BIOS..."

// The settings' defaults.
#define DEFAULT_TITLE "Vesmar WinKestrom"
#define DEFAULT_BACKUP_FILE "BIOS.BAK"
#define DEFAULT_IMAGE_FILE "FLASHABL.ROM"

#endif
