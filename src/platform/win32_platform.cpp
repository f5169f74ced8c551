// The few platform helpers that Win32 does not offer under one call.
#include "platform/platform.h"

#include <share.h>

FILE* OpenSharedRead(LPCSTR lpFileName)
{
    DWORD dwAttributes = GetFileAttributesA(lpFileName);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return NULL;
    return _fsopen(lpFileName, "rb", _SH_DENYNO);
}

void CloseSharedRead(FILE* pFile)
{
    if (pFile)
        fclose(pFile);
}

void AbortProcess()
{
    // Like abort(), but without the C runtime's own message and without
    // running any exit handler.
    TerminateProcess(GetCurrentProcess(), 3);
}
