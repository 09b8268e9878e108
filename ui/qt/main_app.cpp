#include "main_app.h"

#include <QFileInfo>

#include "batch_dlg.h"
#include "main_dlg.h"
#include "ui/qt/qt_translations.h"
#include "ui/qt/quit.h"
#include "ui/qt/template_font.h"

namespace pictrim {

bool CMainApp::OpensBatchWindow() const {
    if (m_files.size() > 1 || !m_targetFolder.isEmpty() || m_ratioIndex >= 0 || m_replace || m_execute) return true;
    return !m_files.isEmpty() && QFileInfo(m_files.front()).isDir();
}

bool CMainApp::InitInstance() {
    ui::MapTemplateFonts();
    ui::InstallQtJapanese();
    if (OpensBatchWindow()) {
        CBatchDlg batch;
        if (!m_targetFolder.isEmpty()) batch.SetTargetFolder(m_targetFolder);
        if (m_ratioIndex >= 0) batch.SetRatio(m_ratioIndex);
        if (m_replace) batch.SetOverwrite(batch::Overwrite::Yes);
        batch.AddPaths(m_files);
        if (m_execute) batch.ExecuteWhenShown();
        batch.exec();
        m_batchExitCode = batch.ExitCode();
        return false;
    }
    CMainDlg dlg;
    if (!m_files.isEmpty()) dlg.OpenSourceFile(m_files.front());
    dlg.exec();
    return false;
}

int CMainApp::ExitCode() const { return m_batchExitCode >= 0 ? m_batchExitCode : ui::QuitCode(); }

}  // namespace pictrim
