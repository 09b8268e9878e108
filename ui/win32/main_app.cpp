#include "main_app.h"

#include <windows.h>
#include <commctrl.h>

#include "main_dlg.h"

namespace pictrim {

bool CMainApp::InitInstance() {
    // The system's visual styles for the dialog's controls (with the manifest).
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    CMainDlg dlg;
    if (!m_strSourceFile.empty()) dlg.OpenSourceFile(m_strSourceFile);
    dlg.DoModal();
    m_nExitCode = dlg.ExitCode();
    // Exit's quit request, when it is still queued, has been answered above.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    return false;
}

}  // namespace pictrim
