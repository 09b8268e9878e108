#pragma once

#include <QString>
#include <QStringList>

namespace pictrim {

// The application: its life is the life of one modal window, the dialog
// for one file or the batch window for many.
class CMainApp {
public:
    // Shows the window modally; false, as there is nothing to run after it.
    bool InitInstance();
    // The process's exit status: the dialog's Exit button gives 16; the
    // batch window's is its own.
    int ExitCode() const;

    // Whether the command line asks for the batch window: two or more
    // paths, a folder, or one of its options.
    bool OpensBatchWindow() const;

    // The files named on the command line; one goes into the source field.
    QStringList m_files;
    // The batch window's options.
    QString m_targetFolder;
    int m_ratioIndex = -1;
    bool m_replace = false;
    bool m_execute = false;

private:
    int m_batchExitCode = -1;
};

}  // namespace pictrim
