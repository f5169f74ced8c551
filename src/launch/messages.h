// Every message box the launcher shows, kept in one table.
#ifndef KST_MESSAGES_H
#define KST_MESSAGES_H

#include "platform/platform.h"

// The stage that shows a message; the same code can have a different text
// in different stages (-33 for the settings file and for the probe).
enum {
    STAGE_INIT,       // single-instance guard
    STAGE_HELP,       // empty tail
    STAGE_SETTINGS,   // settings file presence
    STAGE_POWER,      // AC prompt
    STAGE_MACHINE,    // machine version probe
    STAGE_IMAGE,      // image version scan
    STAGE_CONFIRM,    // confirmation prompt
    STAGE_FLASHER     // flasher takeover
};

struct RESULTMESSAGE {
    int nStage;
    int nCode;
    LPCSTR lpText;
    LPCSTR lpCaption;
    UINT uType;
};

// The table entry for a stage and code, or NULL when there is none.
const RESULTMESSAGE* FindResultMessage(int nStage, int nCode);

// Shows the message of a stage and code (no owner window) and returns the
// button pressed; 0 when the table holds no such message.
int ShowResultMessage(int nStage, int nCode);

// The confirmation text, composed into a 780-byte buffer from the two
// versions, and its box; returns the button pressed.
#define MESSAGE_SIZE 780
int ShowConfirmation(LPCSTR lpMachineVersion, LPCSTR lpImageVersion);

// A violated precondition: shows the condition captioned "Error" and stops
// the process abnormally.
void FailAssertion(LPCSTR lpCondition);

#endif
