/* A DLL planted beside a program, for the end-to-end test of the launcher's
 * DLL search: built as uxtheme.dll, the name of a DLL that the system's own
 * DLLs load by bare name to draw themed message boxes. When any process
 * loads it, it leaves PLANTED-<program name>.TXT beside itself, so a test
 * sees whose code it ran in. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    char szPath[MAX_PATH + 64];
    char szProgram[MAX_PATH];
    DWORD dwLength;
    DWORD dwStart;
    DWORD dwProgram;
    HANDLE hFile;

    (void)lpReserved;
    if (dwReason != DLL_PROCESS_ATTACH)
        return TRUE;
    dwProgram = GetModuleFileNameA(NULL, szProgram, MAX_PATH);
    if (dwProgram == 0 || dwProgram >= MAX_PATH)
        return TRUE;
    dwStart = dwProgram;
    while (dwStart > 0 && szProgram[dwStart - 1] != '\\')
        dwStart--;
    dwLength = GetModuleFileNameA(hInstance, szPath, MAX_PATH);
    if (dwLength == 0 || dwLength >= MAX_PATH)
        return TRUE;
    while (dwLength > 0 && szPath[dwLength - 1] != '\\')
        dwLength--;
    szPath[dwLength] = 0;
    lstrcatA(szPath, "PLANTED-");
    lstrcpynA(szPath + lstrlenA(szPath), szProgram + dwStart, 48);
    lstrcatA(szPath, ".TXT");
    hFile = CreateFileA(szPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
    return TRUE;
}
