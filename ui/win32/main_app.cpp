#include "main_app.h"

#include <windows.h>
#include <commctrl.h>

#include "batch_dlg.h"
#include "main_dlg.h"

namespace pictrim {

void CMainApp::TakePaths(const std::vector<std::wstring>& paths) {
    m_strSourceFile.clear();
    m_batchPaths.clear();
    if (paths.empty()) return;
    const auto isFolder = [](const std::wstring& path) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    };
    if (paths.size() == 1 && !isFolder(paths[0])) {
        m_strSourceFile = paths[0];
    } else {
        m_batchPaths = paths;
    }
}

bool CMainApp::InitInstance() {
    // The system's visual styles for the controls (with the manifest).
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!m_batchPaths.empty()) {
        CBatchDlg batch;
        batch.AddPaths(m_batchPaths);
        batch.DoModal();
    } else {
        CMainDlg dlg;
        if (!m_strSourceFile.empty()) dlg.OpenSourceFile(m_strSourceFile);
        dlg.DoModal();
        m_nExitCode = dlg.ExitCode();
    }
    // Exit's quit request, when it is still queued, has been answered above.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    return false;
}

}  // namespace pictrim
