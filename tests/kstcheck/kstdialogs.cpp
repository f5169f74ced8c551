// A Windows program with dialog resources for kstcheck's test (kstcheck
// only reads it): shows dialog 100 until Flash BIOS or Exit is pressed.
#include <windows.h>

static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM)
{
    if (uMsg == WM_COMMAND && (LOWORD(wParam) == 101 || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
    }
    return uMsg == WM_INITDIALOG;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    return (int)DialogBoxParamA(hInstance, MAKEINTRESOURCEA(100), NULL, DialogProc, 0);
}
