// kstscan [--format text|json] [--] IMAGE...
//
// For each image prints the BIOS version the launcher would show in its
// confirmation, or the launcher's own message when the image cannot be
// opened (-129) or holds no version (-65). Exits 0 when every image has a
// version, 1 when any has none, 2 when any cannot be read, 3 on a usage
// error.
//
// Output, one line per image on standard output, in UTF-8:
//   NAME: "VERS"
//   NAME: [-65] Get BIOS VERSION from BIOS ROM file fail!\nDownload the latest one and try again.
// The version is shown as the launcher shows it, up to its first zero byte.
// In the name, the version and the message, control bytes and the
// backslash are written as escapes (\x07, \\, the message's line feed as
// \n) so that nothing in an image or a file name can drive the terminal or
// make a line of its own; a double-byte character of the system's code page
// stays whole. With --format json: one object, an entry in "images" for
// each.
#include <cstdio>
#include <cstring>
#include <string>

#include "checks/checks.h"
#include "launch/messages.h"
#include "launch/settings.h"
#include "settings/codepage.h"
#include "toolout.h"
#include "launch/results.h"

enum { SCAN_VERSION, SCAN_NO_VERSION, SCAN_UNREADABLE };

static std::string Text(const std::string& strText, int nEscapes)
{
    return ToolTextUtf8(strText, nEscapes, SystemCharToWide);
}

// Scans one image and writes its line or its JSON entry; returns what it
// found. The launcher holds its ImageFile in 259 bytes, but a pipeline may
// name the image by a longer path of its own: any name is scanned.
static int ScanOne(LPCSTR lpName, BOOL bJson, std::string* pstrOut)
{
    char szVersion[BVSIZE + 1];
    int nCode = GetImageBiosVersionOf(lpName, szVersion, sizeof szVersion);
    if (nCode == RC_SUCCESS) {
        if (bJson)
            *pstrOut += "{\"file\": " + JsonString(Text(lpName, TOOLTEXT_JSON)) +
                        ", \"version\": " + JsonString(Text(szVersion, TOOLTEXT_JSON)) + "}";
        else
            *pstrOut += Text(lpName, TOOLTEXT_NAMED) + ": \"" + Text(szVersion, TOOLTEXT_HEX) + "\"\n";
        return SCAN_VERSION;
    }
    const RESULTMESSAGE* lpMessage = FindResultMessage(STAGE_IMAGE, nCode);
    std::string strMessage = lpMessage ? lpMessage->lpText : "unexpected result";
    char szCode[16];
    snprintf(szCode, sizeof szCode, "%d", nCode);
    if (bJson)
        *pstrOut += "{\"file\": " + JsonString(Text(lpName, TOOLTEXT_JSON)) + ", \"level\": \"error\", \"code\": \"" +
                    (nCode == RC_IMAGE_VERSION ? "image-no-version" : "image-missing") + "\", \"result\": " + szCode +
                    ", \"message\": " + JsonString(strMessage) + "}";
    else
        *pstrOut += Text(lpName, TOOLTEXT_NAMED) + ": [" + szCode + "] " + Text(strMessage, TOOLTEXT_NAMED) + "\n";
    return nCode == RC_IMAGE_VERSION ? SCAN_NO_VERSION : SCAN_UNREADABLE;
}

static void PrintUsage(FILE* pOut)
{
    fputs("usage: kstscan [OPTIONS] [--] IMAGE...\n"
          "Prints the BIOS version the launcher would show for each image.\n"
          "  --format text|json  one line per image (default), or one JSON object\n"
          "  --version, --help   the version, this text\n"
          "Exit code: 0, every image has a version; 1, one has none; 2, one cannot be read;\n"
          "3, bad usage.\n",
          pOut);
}

static int UsageError(const char* lpWhy, const std::string& strArg)
{
    fprintf(stderr, "kstscan: %s%s\n", lpWhy, Text(strArg, TOOLTEXT_NAMED).c_str());
    PrintUsage(stderr);
    return 3;
}

static int RunKstscan(int argc, char** argv);

int main(int argc, char** argv)
{
#ifdef _WIN32
    // The output is UTF-8: a console shows it as such while this runs.
    UINT uConsolePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    int nCode = RunKstscan(argc, argv);
    if (uConsolePage)
        SetConsoleOutputCP(uConsolePage);
    return nCode;
#else
    return RunKstscan(argc, argv);
#endif
}

static int RunKstscan(int argc, char** argv)
{
    // The launcher's own code page: the system's on Windows.
    InitCodePage();
    BOOL bJson = FALSE;
    int nFirst = 1;
    for (; nFirst < argc && argv[nFirst][0] == '-' && argv[nFirst][1]; nFirst++) {
        LPCSTR lpArg = argv[nFirst];
        if (strcmp(lpArg, "--") == 0) {
            nFirst++;
            break;
        }
        if (strcmp(lpArg, "--help") == 0 || strcmp(lpArg, "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        }
        if (strcmp(lpArg, "--version") == 0) {
            printf("kstscan %s\n", KST_TOOL_VERSION);
            return 0;
        }
        LPCSTR lpValue = NULL;
        if (strncmp(lpArg, "--format=", 9) == 0)
            lpValue = lpArg + 9;
        else if (strcmp(lpArg, "--format") == 0)
            lpValue = nFirst + 1 < argc ? argv[++nFirst] : "";
        if (!lpValue)
            return UsageError("unknown option ", lpArg);
        if (strcmp(lpValue, "json") != 0 && strcmp(lpValue, "text") != 0)
            return UsageError("unknown format (text or json): ", lpValue);
        bJson = strcmp(lpValue, "json") == 0;
    }
    if (nFirst >= argc)
        return UsageError("no image named", "");
    int nWorst = SCAN_VERSION;
    std::string strOut;
    if (bJson)
        strOut = std::string("{\"tool\": \"kstscan\", \"version\": \"") + KST_TOOL_VERSION + "\", \"images\": [";
    for (int i = nFirst; i < argc; i++) {
        if (bJson)
            strOut += i > nFirst ? ",\n  " : "\n  ";
        int nFound = ScanOne(argv[i], bJson, &strOut);
        if (nFound > nWorst)
            nWorst = nFound;
        if (!bJson) {
            fwrite(strOut.data(), 1, strOut.size(), stdout);
            strOut.clear();
        }
    }
    if (bJson) {
        strOut += "\n]}\n";
        fwrite(strOut.data(), 1, strOut.size(), stdout);
    }
    fflush(stdout);
    return nWorst;
}
