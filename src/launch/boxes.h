// The message boxes of the launch sequence.
#ifndef KST_BOXES_H
#define KST_BOXES_H

#include "platform/platform.h"

// Shows the message of a stage and code (no owner window) and returns the
// button pressed; 0 when the table holds no such message.
int ShowResultMessage(int nStage, int nCode);

// The confirmation text, composed into a MESSAGE_SIZE buffer from the two
// versions, and its box; returns the button pressed.
int ShowConfirmation(LPCSTR lpMachineVersion, LPCSTR lpImageVersion);

#endif
