#include "main_app.h"

#include "main_dlg.h"
#include "ui/qt/qt_translations.h"
#include "ui/qt/quit.h"
#include "ui/qt/template_font.h"

namespace pictrim {

bool CMainApp::InitInstance() {
    ui::MapTemplateFonts();
    ui::InstallQtJapanese();
    CMainDlg dlg;
    if (!m_strSourceFile.isEmpty()) dlg.OpenSourceFile(m_strSourceFile);
    dlg.exec();
    return false;
}

int CMainApp::ExitCode() const { return ui::QuitCode(); }

}  // namespace pictrim
