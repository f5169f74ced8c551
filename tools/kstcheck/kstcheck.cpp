// kstcheck [OPTIONS] [DIR] [-- FLASHER COMMAND LINE]
//
// Checks an update package (the launcher's directory: KESTROM.INI,
// BIOSVER.EXE, the image, the flasher and KSTGATE.exe) the way the launcher
// will see it, without running or flashing anything. One finding a line on
// standard output, LEVEL<TAB>AREA<TAB>CODE<TAB>TEXT, area by area (or one
// JSON object with --format json):
//   LEVEL  ok, note, warning or error
//   AREA   settings, probe, image, flasher or launcher
//   CODE   the finding's kind (g_aFindingKinds), "-" on an ok line
//   TEXT   one line of UTF-8: a backslash as \\, a line feed as \n, a tab
//          as \t, other control bytes, and bytes that are no character of
//          the code page, as \xHH
// An error is a fault the launcher stops on or that costs a file (its code
// and message are named); a warning, something it reads or does otherwise
// than the package's author may have meant. Exit code 0 without findings
// at the --fail-on level or above (default error), 1 with any, 2 when the
// package cannot be checked (no such directory, an internal error), 3 on a
// usage error.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "findings.h"
#include "kstcheck.h"
#include "settings/codepage.h"
#include "toolout.h"

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
          "  --code-page N       read it as under ANSI code page N: 874, 1250 to 1258, or\n"
          "                      the double-byte pages 932, 936, 949, 950, 1361 (default: ",
          pOut);
    fputs(DefaultCodePageText(), pOut);
    fputs(")\n"
          "  --format text|json  one finding a line (default), or one JSON object\n"
          "  --fail-on LEVEL     exit 1 on a finding of LEVEL or above: error (default),\n"
          "                      warning or note\n"
          "  --strict            the same as --fail-on warning\n"
          "  --suppress CODE,... report no finding of these codes (repeatable)\n"
          "  -q, --quiet         findings only, no ok lines\n"
          "  --version, --help   the version, this text\n"
          "The flasher command line is one argument, the launcher's whole command-line tail\n"
          "(default: " DEFAULT_FLASHER_COMMAND ").\n"
          "Output: one line each, LEVEL<TAB>AREA<TAB>CODE<TAB>TEXT, in UTF-8. Exit code: 0,\n"
          "no finding at the --fail-on level; 1, such findings; 2, the package could not be\n"
          "checked; 3, bad usage.\n"
          "Codes:\n",
          pOut);
    static const char* const s_aLevels[] = {"ok", "note", "warning", "error"};
    for (const FINDINGKIND& kind : g_aFindingKinds)
        fprintf(pOut, "  %-21s %-8s %s\n", kind.lpCode, s_aLevels[kind.nLevel], kind.lpMeaning);
}

static int UsageError(const std::string& strWhy)
{
    fprintf(stderr,
            "kstcheck: %s\n"
            "usage: kstcheck [OPTIONS] [DIR] [-- FLASHER COMMAND LINE]   (--help tells more)\n",
            strWhy.c_str());
    return 3;
}

// The checks and their findings; 2 with a message on standard error when
// they fail within (the findings made until then are written first).
static int CheckPackage(LPCSTR lpCommandLine)
{
    try {
        CheckSettings();
        CheckProbe();
        CheckImage();
        std::string strFlasher;
        CheckFlasher(lpCommandLine, &strFlasher);
        CheckBackupFile(strFlasher.empty() ? NULL : strFlasher.c_str());
        CheckLauncher();
    } catch (const std::exception& e) {
        WriteFindings(FALSE);
        fprintf(stderr, "kstcheck: internal error: %s\n", e.what());
        return 2;
    } catch (...) {
        WriteFindings(FALSE);
        fputs("kstcheck: internal error\n", stderr);
        return 2;
    }
    return WriteFindings(TRUE) ? 1 : 0;
}

// The value of option lpName in args[*pi]: after "=" in the same argument,
// or the next argument; NULL when it is not that option.
static const char* OptionValue(const std::vector<std::string>& args, size_t* pi, LPCSTR lpName)
{
    LPCSTR lpArg = args[*pi].c_str();
    size_t nName = strlen(lpName);
    if (strncmp(lpArg, lpName, nName) != 0)
        return NULL;
    if (lpArg[nName] == '=')
        return lpArg + nName + 1;
    if (lpArg[nName])
        return NULL;
    return *pi + 1 < args.size() ? args[++*pi].c_str() : "";
}

int RunKstcheck(const std::vector<std::string>& args)
{
    const std::string* pDir = NULL;
    std::string strCommandLine = DEFAULT_FLASHER_COMMAND;
    BOOL bCodePageGiven = FALSE;
    UINT uCodePage = 0;
    memset(&g_output, 0, sizeof g_output);
    g_output.nFormat = FORMAT_TEXT;
    g_output.nFailOn = LEVEL_ERROR;
    size_t nArgs = args.size();
    for (size_t i = 0; i < nArgs; i++) {
        LPCSTR lpArg = args[i].c_str();
        LPCSTR lpValue;
        if (strcmp(lpArg, "--") == 0) {
            if (nArgs - i != 2)
                return UsageError("the flasher command line after -- must be one argument (quote it)");
            strCommandLine = ArgumentText(args[++i]);
        } else if (strcmp(lpArg, "--strict") == 0) {
            g_output.nFailOn = LEVEL_WARNING;
        } else if (strcmp(lpArg, "-q") == 0 || strcmp(lpArg, "--quiet") == 0) {
            g_output.bQuiet = TRUE;
        } else if (strcmp(lpArg, "--help") == 0 || strcmp(lpArg, "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        } else if (strcmp(lpArg, "--version") == 0) {
            printf("kstcheck %s\n", KST_TOOL_VERSION);
            return 0;
        } else if ((lpValue = OptionValue(args, &i, "--code-page")) != NULL) {
            size_t nDigits = strspn(lpValue, "0123456789");
            uCodePage = nDigits > 0 && nDigits <= 5 && !lpValue[nDigits] ? (UINT)atoi(lpValue) : 0;
            if (!IsKnownCodePage(uCodePage))
                return UsageError(Format("unknown code page \"%s\"", ArgumentText(lpValue).c_str()));
            bCodePageGiven = TRUE;
        } else if ((lpValue = OptionValue(args, &i, "--format")) != NULL) {
            if (strcmp(lpValue, "text") == 0)
                g_output.nFormat = FORMAT_TEXT;
            else if (strcmp(lpValue, "json") == 0)
                g_output.nFormat = FORMAT_JSON;
            else
                return UsageError(Format("unknown format \"%s\" (text or json)", ArgumentText(lpValue).c_str()));
        } else if ((lpValue = OptionValue(args, &i, "--fail-on")) != NULL) {
            if (strcmp(lpValue, "error") == 0)
                g_output.nFailOn = LEVEL_ERROR;
            else if (strcmp(lpValue, "warning") == 0)
                g_output.nFailOn = LEVEL_WARNING;
            else if (strcmp(lpValue, "note") == 0)
                g_output.nFailOn = LEVEL_NOTE;
            else
                return UsageError(
                    Format("unknown level \"%s\" (error, warning or note)", ArgumentText(lpValue).c_str()));
        } else if ((lpValue = OptionValue(args, &i, "--suppress")) != NULL) {
            std::string strCodes = lpValue;
            size_t nStart = 0;
            for (;;) {
                size_t nComma = strCodes.find(',', nStart);
                std::string strCode = strCodes.substr(nStart, nComma == std::string::npos ? nComma : nComma - nStart);
                int nKind = FindFindingKind(strCode);
                if (nKind < 0)
                    return UsageError(Format("unknown code \"%s\" (--help lists them)", ArgumentText(strCode).c_str()));
                g_output.abSuppressed[nKind] = TRUE;
                if (nComma == std::string::npos)
                    break;
                nStart = nComma + 1;
            }
        } else if (lpArg[0] == '-' && lpArg[1]) {
            return UsageError(Format("unknown option \"%s\"", ArgumentText(lpArg).c_str()));
        } else if (pDir) {
            return UsageError(Format("more than one directory (\"%s\", \"%s\")", ArgumentText(*pDir).c_str(),
                                     ArgumentText(lpArg).c_str()));
        } else {
            pDir = &args[i];
        }
    }
    if (pDir) {
        // The package cannot be checked: not a usage error.
        int nWhy = EnterDirectory(*pDir);
        if (nWhy != 0) {
            fprintf(stderr, nWhy == 1 ? "kstcheck: \"%s\" is not a directory\n" : "kstcheck: cannot enter \"%s\"\n",
                    ArgumentText(*pDir).c_str());
            return 2;
        }
    }

    // The launcher takes its lead bytes from the system's code page; the
    // package may be meant for another.
    g_uCodePage = bCodePageGiven ? uCodePage : DefaultCodePage();
    InitCodePageFor(g_uCodePage);
    return CheckPackage(strCommandLine.c_str());
}

#ifndef KSTCHECK_NO_MAIN
#ifdef _WIN32
// The arguments come as UTF-16, so that a package in a folder named in any
// letters can be checked.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++)
        args.push_back(WideToUtf8(argv[i]));
    // The output is UTF-8: a console shows it as such while this runs.
    UINT uConsolePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    int nCode = RunKstcheck(args);
    if (uConsolePage)
        SetConsoleOutputCP(uConsolePage);
    return nCode;
}
#else
int main(int argc, char** argv)
{
    return RunKstcheck(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
#endif
