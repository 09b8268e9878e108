#include "main_app.h"

#include "main_dlg.h"
#include "platform/qt/qt_translations.h"
#include "platform/qt/quit.h"
#include "platform/qt/template_font.h"

namespace pictrim {

bool CMainApp::InitInstance() {
    platform::MapTemplateFonts();
    platform::InstallQtJapanese();
    CMainDlg dlg;
    if (!m_strSourceFile.isEmpty()) dlg.OpenSourceFile(m_strSourceFile);
    dlg.exec();
    return false;
}

int CMainApp::ExitCode() const { return platform::QuitCode(); }

}  // namespace pictrim
