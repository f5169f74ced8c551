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

// A composed message (the confirmation) holds at most this many bytes.
#define MESSAGE_SIZE 780

// A violated precondition: shows the condition captioned "Error" and stops
// the process abnormally.
void FailAssertion(LPCSTR lpCondition);

#endif
