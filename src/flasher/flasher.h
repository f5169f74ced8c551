// Running the flasher and taking over its dialog while it flashes.
#ifndef KST_FLASHER_H
#define KST_FLASHER_H

#include "launch/names.h"
#include "platform/platform.h"

#define FLASHER_WINDOW_CLASS "#32770"
#define IDC_FLASH_BIOS 101
#define FLASH_BUTTON_CLASS "Button"
#define FLASH_BUTTON_CAPTION "Flash BIOS"
#define SWITCHED_BUTTON_CLASS "Button"
#define SWITCHED_EDIT_CLASS "Edit"

// The window is searched at most FLASHER_SEARCH_LIMIT + 1 times, each search
// followed by a pause of FLASHER_SEARCH_PAUSE_MS: about five seconds (up to
// about eight where a pause lasts a 15.6 ms timer tick).
#define FLASHER_SEARCH_LIMIT 500
#define FLASHER_SEARCH_PAUSE_MS 10
// Windows of the flasher's class and caption looked at in one search, the
// flasher's own among them.
#define FLASHER_WALK_LIMIT 4096
#define FLASHER_EXIT_POLL_MS 100
// How long the flasher's dialog is judged in all, once found, before the
// button is given up: the first answer (it may still be reading the BIOS or
// loading its driver), any silence, and the time its button is not
// pressable. Time in which the flasher waits on its user (a box of its own
// shown, its dialog disabled) is not counted.
#define FLASHER_JUDGE_LIMIT_MS 60000
// Each check of the button waits this long for the flasher's answer; a
// slower answer breaks the button's run of being pressable.
#define FLASHER_CHECK_TIMEOUT_MS 250
// The button is pressed only once it has stayed pressable this long.
#define FLASHER_STABLE_MS 1000
// An enabled dialog whose button cannot be pressed is given this long in
// all, about as long as the window search; only time in which the flasher
// answered counts (not the time spent waiting for its answers).
#define FLASHER_BLOCKED_LIMIT_MS 5000

#define FLASHER_TITLE_SIZE 520
#define CLASS_NAME_SIZE 260

// Starts the flasher with lpCmdLine as its whole command line, presses its
// Flash BIOS button with its window taken over, waits for its end (every
// process it started) and deletes its leftovers. Only windows of the
// started process and of the processes it starts count; the dialog is the
// one of them, of the flasher's class and caption, that holds the button.
// It is shown once the flasher answers, locked against its user's clicks
// while it is judged, and its button is pressed only once it has stayed
// shown and enabled, in a shown and enabled dialog of a flasher that
// answers and shows no other window, for FLASHER_STABLE_MS. 0,
// RC_FLASHER_START, RC_FLASHER_WINDOW or RC_FLASH_BUTTON (no button, one
// that did not become pressable in time, a dialog that went away, or a
// flasher that did not answer); on the last two the flasher is left
// running, its dialog asked to show itself.
int RunFlasher(LPCSTR lpCmdLine);

// Keeps the flasher window's caption in g_szFlasherTitle.
void SaveFlasherTitle();
// FALSE: busy caption, then the buttons and edit boxes disabled.
// TRUE: saved caption back, then the buttons and edit boxes enabled.
// Does nothing while no flasher window is known.
void SetFlasherBusy(BOOL bEnable);
// Enumeration callback: enables (lParam nonzero) or disables a window of
// class exactly "Button" or "Edit"; FALSE only for a null window.
BOOL CALLBACK EnableControlProc(HWND hwnd, LPARAM lParam);

// The flasher window's handle, null until found, and its saved caption.
extern HWND g_hFlasherWnd;
extern char g_szFlasherTitle[FLASHER_TITLE_SIZE];

#endif
