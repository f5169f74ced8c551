// What a file name stands for, from its attributes: the one test, over the
// platform's GetFileAttributesA, of whether a plain file is there.
#include "platform/platform.h"

int GetFileKind(LPCSTR lpFileName)
{
    DWORD dwAttributes = GetFileAttributesA(lpFileName);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return FILE_KIND_NONE;
    return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FILE_KIND_DIRECTORY : FILE_KIND_PLAIN;
}

BOOL IsPlainFile(LPCSTR lpFileName)
{
    return GetFileKind(lpFileName) == FILE_KIND_PLAIN;
}
