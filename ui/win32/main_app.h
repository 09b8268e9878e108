#pragma once

#include <string>
#include <vector>

namespace pictrim {

// The application: its life is the life of one modal window, the dialog
// or, for many files, the batch window.
class CMainApp {
public:
    // The paths the program was opened on, as given: one file is the
    // dialog's source; two or more, or any folder, are a batch.
    void TakePaths(const std::vector<std::wstring>& paths);
    // Shows the window modally; false, as there is nothing to run after it.
    bool InitInstance();
    // The process's exit status: the dialog's Exit button gives 16; the
    // batch window ends with 0.
    int ExitCode() const { return m_nExitCode; }

    // The file named on the command line, for the source field; empty for none.
    std::wstring m_strSourceFile;
    // The files and folders of a batch; empty for the dialog.
    std::vector<std::wstring> m_batchPaths;

private:
    int m_nExitCode = 0;
};

}  // namespace pictrim
