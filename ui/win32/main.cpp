#include <windows.h>
#include <shellapi.h>

#include "main_app.h"

pictrim::CMainApp theApp;

// pictrim.exe [FILE]: FILE goes into the source field, as "Open with" and a
// file dropped on the program's icon give it.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        if (argc > 1) theApp.m_strSourceFile = argv[1];
        LocalFree(argv);
    }
    theApp.InitInstance();
    return theApp.ExitCode();
}
