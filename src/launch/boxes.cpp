// The launch sequence's message boxes, composed from the message table.
#include "launch/boxes.h"

#include "launch/messages.h"
#include "launch/results.h"

int ShowResultMessage(int nStage, int nCode)
{
    const RESULTMESSAGE* lpMessage = FindResultMessage(nStage, nCode);
    if (!lpMessage)
        return 0;
    return MessageBoxA(NULL, lpMessage->lpText, lpMessage->lpCaption, lpMessage->uType);
}

int ShowConfirmation(LPCSTR lpMachineVersion, LPCSTR lpImageVersion)
{
    const RESULTMESSAGE* lpMessage = FindResultMessage(STAGE_CONFIRM, RC_SUCCESS);
    char szMessage[MESSAGE_SIZE] = {0};
    wsprintfA(szMessage, lpMessage->lpText, lpMachineVersion, lpImageVersion);
    return MessageBoxA(NULL, szMessage, lpMessage->lpCaption, lpMessage->uType);
}
