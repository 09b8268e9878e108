#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "main_app.h"
#include "ui/win32/shell_selection.h"

pictrim::CMainApp theApp;

// pictrim.exe [FILE]: FILE goes into the source field, as "Open with" and a
// file dropped on the program's icon give it. pictrim.exe FILE FILE... or a
// folder (all that is dropped on the icon comes on one command line), and
// a selection Explorer hands over through the COM class (-Embedding), open
// the batch window with them instead.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::vector<std::wstring> args;
    int argc = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        args.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
        LocalFree(argv);
    }
    // Single-threaded: the windows, the folder dialog and the COM class
    // all live on this one thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (pictrim::ui::StartedByCom(args)) {
        args = pictrim::ui::ReceiveShellSelection();
        if (args.empty()) {
            if (SUCCEEDED(com)) CoUninitialize();
            return 0;
        }
    }
    theApp.TakePaths(args);
    theApp.InitInstance();
    if (SUCCEEDED(com)) CoUninitialize();
    return theApp.ExitCode();
}
