// kstcheck's findings: each of a kind with a stable code and level (the one
// table, g_aFindingKinds), written at the end as text, one a line,
// LEVEL<TAB>AREA<TAB>CODE<TAB>TEXT, or as one JSON object; and the pieces
// of text they are made of. Used by the checks and by main.
#ifndef KST_FINDINGS_H
#define KST_FINDINGS_H

#include <string>

#include "platform/platform.h"

enum { LEVEL_OK, LEVEL_NOTE, LEVEL_WARNING, LEVEL_ERROR };
enum { AREA_SETTINGS, AREA_PROBE, AREA_IMAGE, AREA_FLASHER, AREA_LAUNCHER, AREA_COUNT };

// The kinds of finding, in the order of g_aFindingKinds.
enum {
    FK_SETTINGS_MISSING,
    FK_SETTINGS_UNREADABLE,
    FK_UTF8_MARK,
    FK_UTF16,
    FK_UTF8_NO_MARK,
    FK_HIGH_BYTES,
    FK_CR_LINE_END,
    FK_BEFORE_HEADER,
    FK_SECTION_CASE,
    FK_SECTION_AGAIN,
    FK_KEY_CASE,
    FK_KEY_AGAIN,
    FK_LONG_LINE,
    FK_ZERO_BYTE,
    FK_END_BYTE,
    FK_BACKUP_OUTSIDE,
    FK_BACKUP_PACKAGE_FILE,
    FK_BACKUP_LAUNCHER,
    FK_BACKUP_DIRECTORY,
    FK_BACKUP_SHORT_NAME,
    FK_CASE_DIFFERS,
    FK_PROBE_MISSING,
    FK_PROBE_NOT_PROGRAM,
    FK_BV_LEFTOVER,
    FK_BV_UNDELETABLE,
    FK_MACHINE_UNKNOWN,
    FK_PROGRAM_CUT,
    FK_IMAGE_OUTSIDE,
    FK_DOTS_ELEMENT,
    FK_IMAGE_MISSING,
    FK_IMAGE_NO_VERSION,
    FK_IMAGE_LATER_MARKER,
    FK_COMMAND_EMPTY,
    FK_FLASHER_OUTSIDE,
    FK_FLASHER_MISSING,
    FK_FLASHER_NOT_PROGRAM,
    FK_FLASHER_BLANKS,
    FK_FLASHER_BATCH,
    FK_NO_DIALOGS,
    FK_RESOURCES_UNREADABLE,
    FK_DIALOG_UNREADABLE,
    FK_MANY_DIALOGS,
    FK_NO_BUTTON,
    FK_BUTTON_DISABLED,
    FK_TITLE_NOT_TEXT,
    FK_NO_CAPTION,
    FK_OWN_CLASS,
    FK_LAUNCHER_MISSING,
    FK_LAUNCHER_NOT_PROGRAM,
    FK_COUNT
};
struct FINDINGKIND {
    LPCSTR lpCode;     // stable, for --suppress and pipelines
    int nLevel;
    LPCSTR lpMeaning;  // one line, for --help and the README
};
extern const FINDINGKIND g_aFindingKinds[FK_COUNT];
// The kind of a code, or -1.
int FindFindingKind(const std::string& strCode);

// Records one finding of kind nKind (its level is the kind's). All are
// written at the end, area by area. nLine: the line of the settings file
// it is about, or 0; lpFile: the file it is about when it is not the
// area's own (NULL: the settings file, the probe, the image, the flasher
// or the launcher).
void Report(int nKind, int nArea, const std::string& strText, UINT nLine = 0, LPCSTR lpFile = NULL);
// Records what was found in order (an "ok" line, no finding).
void ReportOk(int nArea, const std::string& strText);
// The flasher's file name, for the findings about it.
void SetFlasherFile(const std::string& strName);

// How the findings are written and judged.
enum { FORMAT_TEXT, FORMAT_JSON };
struct OUTPUTOPTIONS {
    int nFormat;
    int nFailOn;      // the lowest level that fails the run
    BOOL bQuiet;      // findings only, no "ok" lines
    BOOL abSuppressed[FK_COUNT];
};
extern OUTPUTOPTIONS g_output;

// Writes the findings to standard output, the suppressed left out, and
// forgets them; returns TRUE when any is at g_output.nFailOn or above.
// bComplete: FALSE when the checks stopped within (JSON tells so).
BOOL WriteFindings(BOOL bComplete);

std::string Format(const char* lpFormat, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// strText in double quotes.
std::string Quoted(const std::string& strText);
// How the launcher stops: "[-33] Load KESTROM.INI fail.\n...".
std::string LauncherStop(int nStage, int nCode);

// A note that strName was found as strFound, a name that differs from it in
// letter case only (on hosts other than Windows); nothing when strFound is
// empty.
void NoteCaseDiffers(int nArea, const std::string& strName, const std::string& strFound);

#endif
