#pragma once

#include <string>

namespace pictrim {

// The application: its life is the life of one modal dialog.
class CMainApp {
public:
    // Shows the main dialog modally; false, as there is nothing to run after it.
    bool InitInstance();
    // The process's exit status: the dialog's Exit button gives 16.
    int ExitCode() const { return m_nExitCode; }

    // The file named on the command line, for the source field; empty for none.
    std::wstring m_strSourceFile;

private:
    int m_nExitCode = 0;
};

}  // namespace pictrim
