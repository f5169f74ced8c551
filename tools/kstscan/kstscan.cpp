// kstscan IMAGE...
//
// For each image prints the BIOS version the launcher would show in its
// confirmation, or the launcher's own message when the image cannot be
// opened (-129) or holds no version (-65). Exits 0 when every image has a
// version, 1 when any has not, 2 on a usage error.
//
// Output, one report per image on standard output:
//   NAME: "VERS"
//   NAME: [-65] Get BIOS VERSION from BIOS ROM file fail!
//   Download the latest one and try again.
// The version is shown as the launcher shows it, up to its first zero byte;
// control bytes and the backslash are written as escapes (\x07, \\) so that
// nothing in an image can drive the terminal, and a double-byte character
// of the system's code page stays whole.
#include <cstdio>
#include <cstring>

#include "checks/checks.h"
#include "launch/messages.h"
#include "launch/settings.h"
#include "settings/codepage.h"
#include "toolout.h"
#include "launch/results.h"

static void PrintVersion(LPCSTR lpVersion)
{
    printf("\"%s\"\n", EscapeToolText(lpVersion, FALSE).c_str());
}

// Scans one image; TRUE when it has a version.
static BOOL ScanOne(LPCSTR lpName)
{
    if (strlen(lpName) >= sizeof LoaderSettings.ImageFile) {
        // The launcher could never name this file; do not scan a shortened name.
        printf("%s: name longer than %u bytes\n", lpName, (unsigned)(sizeof LoaderSettings.ImageFile - 1));
        return FALSE;
    }
    char szVersion[BVSIZE + 1];
    int nCode = GetImageBiosVersionOf(lpName, szVersion, sizeof szVersion);
    printf("%s: ", lpName);
    if (nCode == RC_SUCCESS) {
        PrintVersion(szVersion);
        return TRUE;
    }
    const RESULTMESSAGE* lpMessage = FindResultMessage(STAGE_IMAGE, nCode);
    printf("[%d] %s\n", nCode, lpMessage ? lpMessage->lpText : "unexpected result");
    return FALSE;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fputs("usage: kstscan IMAGE...\n"
              "Prints the BIOS version the launcher would show for each image.\n",
              stderr);
        return 2;
    }
    // The launcher's own code page: the system's on Windows.
    InitCodePage();
    BOOL bAllFound = TRUE;
    for (int i = 1; i < argc; i++)
        if (!ScanOne(argv[i]))
            bAllFound = FALSE;
    fflush(stdout);
    return bAllFound ? 0 : 1;
}
