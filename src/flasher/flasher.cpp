// Flasher takeover: not built yet; the flasher is never started.
#include "flasher/flasher.h"
#include "launch/results.h"

HWND g_hFlasherWnd = NULL;
char g_szFlasherTitle[520];

int RunFlasher(LPCSTR lpCmdLine)
{
    (void)lpCmdLine;
    return RC_FLASHER_START;
}
