// kstcheck: checks an update package the way the launcher will see it.
// The pieces shared by its parts.
#ifndef KST_KSTCHECK_H
#define KST_KSTCHECK_H

#include <string>

#include "platform/platform.h"

// ---- findings --------------------------------------------------------------

enum { LEVEL_OK, LEVEL_NOTE, LEVEL_WARNING, LEVEL_ERROR };
enum { AREA_SETTINGS, AREA_PROBE, AREA_IMAGE, AREA_FLASHER, AREA_COUNT };

// Records one finding. All are written at the end, area by area, each as
// LEVEL<TAB>AREA<TAB>TEXT with the bytes of TEXT escaped as EscapeToolText
// does, with named tabs, line feeds and carriage returns.
void Report(int nLevel, int nArea, const std::string& strText);
// Writes the findings to standard output; returns the highest level.
int WriteFindings();

std::string Format(const char* lpFormat, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// strText in double quotes.
std::string Quoted(const std::string& strText);
// How the launcher stops: "[-33] Load KESTROM.INI fail.\n...".
std::string LauncherStop(int nStage, int nCode);

// ---- the package's files -----------------------------------------------------

// The ANSI code page the package is read under.
extern UINT g_uCodePage;

// Where a file name leads, as the launcher uses it (relative to its own
// directory, which is the package directory): the launcher's own classes
// (ClassifyName, NAME_INSIDE ...), in words: "is an absolute path", "names a
// drive", "climbs out of the package with \"..\"" ...
const char* PathProblem(int nClass);
// TRUE for a name that leaves the package: absolute, on a drive, or
// climbing out of it. A name with a ":" further on (a file's stream) stays
// in the package.
BOOL LeavesPackage(int nClass);

enum {
    PKG_MISSING,    // no such file
    PKG_FILE,
    PKG_DIRECTORY,
    PKG_UNREACHABLE // a name this host cannot look up (a drive or another machine)
};
struct PKGFILE {
    int nKind;
    std::string strPath;   // the name to open it by on this system
    std::string strFound;  // the name as found, when it differs in letter case
};
// Looks a file of the package up by the name the launcher would use. On
// Windows the system does that. On other hosts a backslash separates
// directories as on Windows, and a name that does not exist as written
// matches one that differs from it in letter case only, as on Windows.
PKGFILE FindPackageFile(LPCSTR lpName);
// TRUE when both names lead to the same file of the package (letter case,
// "." and ".." aside).
BOOL SamePackageName(LPCSTR lpName1, LPCSTR lpName2);

// 64-bit positions in a file.
long long FileTell(FILE* pFile);
BOOL FileSeek(FILE* pFile, long long llOffset, int nOrigin);

// ---- text --------------------------------------------------------------------

// ANSI text of g_uCodePage to UTF-16; FALSE when it is not valid text there.
BOOL AnsiToWide(const std::string& strText, std::u16string* pstrWide);
// UTF-16 to ANSI text of g_uCodePage; what it lacks becomes "?".
std::string WideToAnsi(const std::u16string& strWide);
// Equal when letter case is ignored (ASCII, Latin-1, Greek, Cyrillic and
// the full-width Latin letters).
BOOL EqualIgnoringCase(const std::u16string& strA, const std::u16string& strB);
// Equal when the letter case of ASCII letters is ignored.
BOOL EqualIgnoringAsciiCase(LPCSTR lpA, LPCSTR lpB);

// ---- the four checks ---------------------------------------------------------

// The settings file: fills LoaderSettings as the launcher does and reports
// the values and what the file holds that the launcher reads otherwise than
// its writer may have meant.
void CheckSettings();
// After the other checks: a BackupFile that leads out of the package, or
// that names one of its files (lpFlasher: the flasher's file name, or NULL).
void CheckBackupFile(LPCSTR lpFlasher);
void CheckProbe();
void CheckImage();
// lpCommandLine: the command line the launcher would pass on. Leaves the
// flasher's file name (as looked for) in *pstrFlasher, empty when none.
void CheckFlasher(LPCSTR lpCommandLine, std::string* pstrFlasher);

#endif
