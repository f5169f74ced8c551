// kstcheck: checks an update package the way the launcher will see it.
// The package's files and text as its checks see them, and the checks; the
// findings they report are in findings.h.
#ifndef KST_KSTCHECK_H
#define KST_KSTCHECK_H

#include <string>

#include <vector>

#include "findings.h"
#include "platform/platform.h"

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

// Where a package name leads as Windows opens it (ResolvePackageName), for
// the names the launcher opens (the image, the flasher): inside the package
// (a ":" further on names a stream of a file there), empty, absolute, on a
// drive, above the package, or through an element of dots alone ("..."),
// which Windows programs cannot make and the launcher cannot open.
enum { PKGNAME_INSIDE, PKGNAME_EMPTY, PKGNAME_ABSOLUTE, PKGNAME_DRIVE, PKGNAME_CLIMBS, PKGNAME_DOTS };
int PackageNameClass(LPCSTR lpName);
// The class in words: "is an absolute path", "climbs out of the package
// with \"..\"" ...
const char* PackageNameProblem(int nPackageClass);

enum {
    PKG_MISSING,    // no such file
    PKG_FILE,
    PKG_DIRECTORY,
    PKG_UNREACHABLE // a name this host cannot look up (a drive or another machine, a device)
};
// The launcher's own file, which a package carries beside the others.
#define LAUNCHER_PROGRAM "KSTGATE.exe"
struct PKGFILE {
    int nKind;
    std::string strPath;   // the name to open it by on this system
    std::string strFound;  // the name as found, when it differs in letter case
};
// TRUE when both names lead to the same file of the package as Windows
// opens them (letter case, "." and "..", trailing dots and blanks, and on
// Windows short names aside).
BOOL SamePackageName(LPCSTR lpName1, LPCSTR lpName2);

// The elements of a package name as Windows opens it: "\" and "/" both
// separate; only an element that is exactly "." or ".." is relative: "."
// (and an empty one) is the folder it stands in, ".." takes the element
// before it away by the text alone (those that climb above the package
// stay in front as ".."); an inner element keeps its blanks and loses one
// trailing dot, unless it is made of dots alone ("..." is a name); the last
// one, when the name does not end in a separator, loses all its trailing
// dots and blanks. *pbFolderOnly: the name ends in a separator, so only a
// directory answers to it.
std::vector<std::string> ResolvePackageName(LPCSTR lpName, bool* pbFolderOnly);

// TRUE when an element of lpName, resolved, could be a short name: a "~"
// and a digit after it within its first eight characters ("WINFLA~1.EXE").
BOOL HasShortNameShape(LPCSTR lpName);

// The parts of a path between backslashes or slashes, a trail byte of a
// double-byte character never taken for a backslash; text with its ASCII
// letters in lower case.
std::vector<std::string> SplitPath(LPCSTR lpName);
std::string FoldAscii(const std::string& strText);

// ---- what differs between the systems it runs on ----------------------------
// (package_win32.cpp on Windows, package_posix.cpp elsewhere)

// Looks a file of the package up by the name the launcher would use. On
// Windows the system does that. On other hosts a backslash separates
// directories as on Windows, and a name that does not exist as written
// matches one that differs from it in letter case only, as on Windows.
PKGFILE FindPackageFile(LPCSTR lpName);

// TRUE for a file the system marks read-only (on Windows its attribute,
// elsewhere no write permission for its owner), which a program cannot
// delete.
BOOL IsReadOnlyFile(const std::string& strPath);

// 64-bit positions in a file.
long long FileTell(FILE* pFile);
BOOL FileSeek(FILE* pFile, long long llOffset, int nOrigin);

// A resolved package name (elements joined by backslashes), as names are
// compared: on Windows its short names expanded and in UTF-8, elsewhere as
// it stands.
std::string LongPackageName(const std::string& strName);
// TRUE where LongPackageName expands short names (Windows); elsewhere a
// name of that shape may stand for any file of the package.
BOOL HostKnowsShortNames();

// Makes the directory strDir (an argument as main passes it on: on Windows
// in UTF-8) the current one: 0, or 1 when it is no directory, 2 when it
// cannot be entered.
int EnterDirectory(const std::string& strDir);
// An argument as the launcher and the findings see it: ANSI text of the
// system's code page (on Windows, the arguments come as UTF-16 and are
// kept in UTF-8 until then; letters the code page lacks become "?").
std::string ArgumentText(const std::string& strArg);

#ifdef _WIN32
// UTF-16 text (an argument) in UTF-8.
std::string WideToUtf8(const wchar_t* lpWide);
#endif

// The code page a package is read under unless another is given, and its
// name in the usage text ("the system's", "1252").
UINT DefaultCodePage();
const char* DefaultCodePageText();

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
// After the other checks: a BackupFile that leads out of the package, that
// names one of its files or the launcher (an error, by any spelling that
// leads there), or a directory (lpFlasher: the flasher's file name, or
// NULL).
void CheckBackupFile(LPCSTR lpFlasher);
// The probe, and the answer file BV found in the package.
void CheckProbe();
// The launcher itself, which the package carries.
void CheckLauncher();
void CheckImage();
// lpCommandLine: the command line the launcher would pass on. Leaves the
// flasher's file name (as looked for) in *pstrFlasher, empty when none.
void CheckFlasher(LPCSTR lpCommandLine, std::string* pstrFlasher);

// The whole run on the arguments (the program's name left out): the
// findings on standard output, usage errors on standard error; the exit
// code, 0, 1, 2 or 3.
int RunKstcheck(const std::vector<std::string>& args);

#endif
