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
// (with --strict, warnings count as errors), 2 on a usage error or an
// internal one.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

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
          "errors, 1 with errors, 2 on a usage error or an internal one.\n",
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

// The checks and their findings; 2 with a message on standard error when
// they fail within (the findings made until then are written first).
static int CheckPackage(LPCSTR lpCommandLine, BOOL bStrict)
{
    try {
        CheckSettings();
        CheckProbe();
        CheckImage();
        std::string strFlasher;
        CheckFlasher(lpCommandLine, &strFlasher);
        CheckBackupFile(strFlasher.empty() ? NULL : strFlasher.c_str());
    } catch (const std::exception& e) {
        WriteFindings();
        fprintf(stderr, "kstcheck: internal error: %s\n", e.what());
        return 2;
    } catch (...) {
        WriteFindings();
        fputs("kstcheck: internal error\n", stderr);
        return 2;
    }
    int nHighest = WriteFindings();
    if (nHighest == LEVEL_ERROR || (bStrict && nHighest == LEVEL_WARNING))
        return 1;
    return 0;
}

int RunKstcheck(const std::vector<std::string>& args)
{
    const std::string* pDir = NULL;
    std::string strCommandLine = DEFAULT_FLASHER_COMMAND;
    BOOL bStrict = FALSE;
    BOOL bCodePageGiven = FALSE;
    UINT uCodePage = 0;
    size_t nArgs = args.size();
    for (size_t i = 0; i < nArgs; i++) {
        LPCSTR lpArg = args[i].c_str();
        if (strcmp(lpArg, "--") == 0) {
            if (nArgs - i != 2)
                return UsageError("the flasher command line after -- must be one argument (quote it)");
            strCommandLine = ArgumentText(args[++i]);
        } else if (strcmp(lpArg, "--strict") == 0) {
            bStrict = TRUE;
        } else if (strcmp(lpArg, "--help") == 0 || strcmp(lpArg, "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        } else if (strcmp(lpArg, "--code-page") == 0 || strncmp(lpArg, "--code-page=", 12) == 0) {
            LPCSTR lpValue = lpArg[11] == '=' ? lpArg + 12 : (i + 1 < nArgs ? args[++i].c_str() : "");
            size_t nDigits = strspn(lpValue, "0123456789");
            uCodePage = nDigits > 0 && nDigits <= 5 && !lpValue[nDigits] ? (UINT)atoi(lpValue) : 0;
            if (!IsKnownCodePage(uCodePage))
                return UsageError(Format("unknown code page \"%s\"", ArgumentText(lpValue).c_str()));
            bCodePageGiven = TRUE;
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
        int nWhy = EnterDirectory(*pDir);
        if (nWhy == 1)
            return UsageError(Format("\"%s\" is not a directory", ArgumentText(*pDir).c_str()));
        if (nWhy != 0)
            return UsageError(Format("cannot enter \"%s\"", ArgumentText(*pDir).c_str()));
    }

    // The launcher takes its lead bytes from the system's code page; the
    // package may be meant for another.
    g_uCodePage = bCodePageGiven ? uCodePage : DefaultCodePage();
    InitCodePageFor(g_uCodePage);
    return CheckPackage(strCommandLine.c_str(), bStrict);
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
    return RunKstcheck(args);
}
#else
int main(int argc, char** argv)
{
    return RunKstcheck(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
#endif
