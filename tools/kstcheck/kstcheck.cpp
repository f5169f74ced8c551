// kstcheck [OPTIONS] [DIR] [-- FLASHER COMMAND LINE]
//
// Checks an update package (the launcher's directory: KESTROM.INI,
// BIOSVER.EXE, the image and the flasher) the way the launcher will see it,
// without running or flashing anything. One finding a line on standard
// output, LEVEL<TAB>AREA<TAB>TEXT, area by area:
//   LEVEL  ok, note, warning or error
//   AREA   settings, probe, image or flasher
//   TEXT   one line: a backslash as \\, a line feed as \n, a tab as \t,
//          other control bytes as \xHH
// An error is a fault the launcher stops on (its code and message are
// named); a warning, something it reads or does otherwise than the
// package's author may have meant. Exit code 0 without errors, 1 with any
// (with --strict, warnings count as errors), 2 on a usage error.
#include <cstdlib>
#include <cstring>

#include "findings.h"
#include "kstcheck.h"
#include "settings/codepage.h"

#define DEFAULT_FLASHER_COMMAND "WINKESTROM.EXE"

// ---- the command line ----------------------------------------------------------

static const UINT g_auSingleBytePages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
static const UINT g_auDoubleBytePages[] = {932, 936, 949, 950, 1361};

static BOOL IsKnownCodePage(UINT uCodePage)
{
    for (UINT u : g_auSingleBytePages)
        if (u == uCodePage)
            return TRUE;
    for (UINT u : g_auDoubleBytePages)
        if (u == uCodePage)
            return TRUE;
    return FALSE;
}

static void PrintUsage(FILE* pOut)
{
    fputs("usage: kstcheck [OPTIONS] [DIR] [-- FLASHER COMMAND LINE]\n"
          "Checks the update package in DIR (default: the current directory) the way the\n"
          "launcher will see it, without running or flashing anything.\n"
          "  --code-page N  read it as under ANSI code page N: 874, 1250 to 1258, or one of\n"
          "                 the double-byte pages 932, 936, 949, 950, 1361 (default: ",
          pOut);
    fputs(DefaultCodePageText(), pOut);
    fputs(")\n"
          "  --strict       warnings count as errors\n"
          "  --help         this text\n"
          "The flasher command line is one argument, the launcher's whole command-line tail\n"
          "(default: " DEFAULT_FLASHER_COMMAND ").\n"
          "Output: one finding a line, LEVEL<TAB>AREA<TAB>TEXT. Exit code: 0 without\n"
          "errors, 1 with errors, 2 on a usage error.\n",
          pOut);
}

static int UsageError(const std::string& strWhy)
{
    fprintf(stderr,
            "kstcheck: %s\n"
            "usage: kstcheck [OPTIONS] [DIR] [-- FLASHER COMMAND LINE]   (--help tells more)\n",
            strWhy.c_str());
    return 2;
}

int main(int argc, char** argv)
{
    LPCSTR lpDir = NULL;
    LPCSTR lpCommandLine = DEFAULT_FLASHER_COMMAND;
    BOOL bStrict = FALSE;
    BOOL bCodePageGiven = FALSE;
    UINT uCodePage = 0;
    for (int i = 1; i < argc; i++) {
        LPCSTR lpArg = argv[i];
        if (strcmp(lpArg, "--") == 0) {
            if (argc - i != 2)
                return UsageError("the flasher command line after -- must be one argument (quote it)");
            lpCommandLine = argv[++i];
        } else if (strcmp(lpArg, "--strict") == 0) {
            bStrict = TRUE;
        } else if (strcmp(lpArg, "--help") == 0 || strcmp(lpArg, "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        } else if (strcmp(lpArg, "--code-page") == 0 || strncmp(lpArg, "--code-page=", 12) == 0) {
            LPCSTR lpValue = lpArg[11] == '=' ? lpArg + 12 : (i + 1 < argc ? argv[++i] : "");
            size_t nDigits = strspn(lpValue, "0123456789");
            uCodePage = nDigits > 0 && nDigits <= 5 && !lpValue[nDigits] ? (UINT)atoi(lpValue) : 0;
            if (!IsKnownCodePage(uCodePage))
                return UsageError(Format("unknown code page \"%s\"", lpValue));
            bCodePageGiven = TRUE;
        } else if (lpArg[0] == '-' && lpArg[1]) {
            return UsageError(Format("unknown option \"%s\"", lpArg));
        } else if (lpDir) {
            return UsageError(Format("more than one directory (\"%s\", \"%s\")", lpDir, lpArg));
        } else {
            lpDir = lpArg;
        }
    }
    if (lpDir) {
        if (GetFileKind(lpDir) != FILE_KIND_DIRECTORY)
            return UsageError(Format("\"%s\" is not a directory", lpDir));
        if (!ChangeToDirectory(lpDir))
            return UsageError(Format("cannot enter \"%s\"", lpDir));
    }

    // The launcher takes its lead bytes from the system's code page; the
    // package may be meant for another.
    g_uCodePage = bCodePageGiven ? uCodePage : DefaultCodePage();
    InitCodePageFor(g_uCodePage);

    CheckSettings();
    CheckProbe();
    CheckImage();
    std::string strFlasher;
    CheckFlasher(lpCommandLine, &strFlasher);
    CheckBackupFile(strFlasher.empty() ? NULL : strFlasher.c_str());

    int nHighest = WriteFindings();
    if (nHighest == LEVEL_ERROR || (bStrict && nHighest == LEVEL_WARNING))
        return 1;
    return 0;
}
