// The launcher's entry point.
#include "launch/loader.h"
#include "settings/codepage.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)nCmdShow;
    (void)lpCmdLine;
    // Before anything else can load a DLL.
    RestrictDllSearch();
    // The tail is cut from the process's command line here rather than taken
    // from the runtime, whose own cut does not step over double-byte
    // characters inside a quoted name.
    InitCodePage();
    return RunLauncher(GetCommandTail(GetCommandLineA()));
}
