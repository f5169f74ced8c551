// Running the flasher and taking over its dialog while it flashes.
#ifndef KST_FLASHER_H
#define KST_FLASHER_H

#include "platform/platform.h"

#define FLASHER_LEFTOVER_FILE "WINKESTROM.GID"
#define BUSY_CAPTION "Please wait when flashing BIOS..."
#define IDC_FLASH_BIOS 101

// Starts the flasher with lpCmdLine as its whole command line, presses its
// Flash BIOS button with its window taken over, waits for its end and
// deletes its leftovers. 0, RC_FLASHER_START, RC_FLASHER_WINDOW or
// RC_FLASH_BUTTON.
int RunFlasher(LPCSTR lpCmdLine);

void SaveFlasherTitle();
void SetFlasherBusy(BOOL bEnable);
BOOL CALLBACK EnableControlProc(HWND hwnd, LPARAM lParam);

// The flasher window's handle, null until found, and its saved caption.
extern HWND g_hFlasherWnd;
extern char g_szFlasherTitle[520];

#endif
