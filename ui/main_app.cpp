#include "main_app.h"

#include "main_dlg.h"
#include "platform/qt/quit.h"
#include "platform/qt/template_font.h"

namespace pictrim {

bool CMainApp::InitInstance() {
    platform::MapTemplateFonts();
    CMainDlg dlg;
    dlg.exec();
    return false;
}

int CMainApp::ExitCode() const { return platform::QuitCode(); }

}  // namespace pictrim
