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
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kstcheck.h"
#include "launch/loader.h"
#include "launch/messages.h"
#include "settings/codepage.h"
#include "toolout.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#define DEFAULT_FLASHER_COMMAND "WINKESTROM.EXE"
#define DEFAULT_HOST_CODE_PAGE 1252

struct FINDING {
    int nLevel;
    int nArea;
    std::string strText;
};
static std::vector<FINDING> g_findings;

void Report(int nLevel, int nArea, const std::string& strText)
{
    g_findings.push_back(FINDING{nLevel, nArea, strText});
}

int WriteFindings()
{
    static const char* const s_aLevels[] = {"ok", "note", "warning", "error"};
    static const char* const s_aAreas[] = {"settings", "probe", "image", "flasher"};
    int nHighest = LEVEL_OK;
    for (int nArea = 0; nArea < AREA_COUNT; nArea++) {
        for (const FINDING& finding : g_findings) {
            if (finding.nArea != nArea)
                continue;
            printf("%s\t%s\t%s\n", s_aLevels[finding.nLevel], s_aAreas[nArea], EscapeToolText(finding.strText, TRUE).c_str());
            if (finding.nLevel > nHighest)
                nHighest = finding.nLevel;
        }
    }
    fflush(stdout);
    return nHighest;
}

std::string Format(const char* lpFormat, ...)
{
    char szText[1024];
    va_list args;
    va_start(args, lpFormat);
    int nLength = vsnprintf(szText, sizeof szText, lpFormat, args);
    va_end(args);
    if (nLength < 0)
        return std::string();
    if ((size_t)nLength < sizeof szText)
        return std::string(szText, (size_t)nLength);
    std::string strText((size_t)nLength + 1, '\0');
    va_start(args, lpFormat);
    vsnprintf(&strText[0], strText.size(), lpFormat, args);
    va_end(args);
    strText.resize((size_t)nLength);
    return strText;
}

std::string Quoted(const std::string& strText)
{
    return "\"" + strText + "\"";
}

std::string LauncherStop(int nStage, int nCode)
{
    const RESULTMESSAGE* lpMessage = FindResultMessage(nStage, nCode);
    return Format("[%d] %s", nCode, lpMessage ? lpMessage->lpText : "");
}

long long FileTell(FILE* pFile)
{
#ifdef _WIN32
    return _ftelli64(pFile);
#else
    return (long long)ftello(pFile);
#endif
}

BOOL FileSeek(FILE* pFile, long long llOffset, int nOrigin)
{
#ifdef _WIN32
    return _fseeki64(pFile, llOffset, nOrigin) == 0;
#else
    return fseeko(pFile, (off_t)llOffset, nOrigin) == 0;
#endif
}

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
          "                 the double-byte pages 932, 936, 949, 950, 1361 (default: "
#ifdef _WIN32
          "the system's"
#else
          "1252"
#endif
          ")\n"
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

static BOOL IsDirectory(LPCSTR lpPath)
{
#ifdef _WIN32
    DWORD dwAttributes = GetFileAttributesA(lpPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat st;
    return stat(lpPath, &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

static BOOL ChangeToDirectory(LPCSTR lpPath)
{
#ifdef _WIN32
    return SetCurrentDirectoryA(lpPath);
#else
    return chdir(lpPath) == 0;
#endif
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
        if (!IsDirectory(lpDir))
            return UsageError(Format("\"%s\" is not a directory", lpDir));
        if (!ChangeToDirectory(lpDir))
            return UsageError(Format("cannot enter \"%s\"", lpDir));
    }

    // The launcher takes its lead bytes from the system's code page; the
    // package may be meant for another.
    if (bCodePageGiven) {
        g_uCodePage = uCodePage;
    } else {
#ifdef _WIN32
        g_uCodePage = GetACP();
#else
        g_uCodePage = DEFAULT_HOST_CODE_PAGE;
#endif
    }
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
