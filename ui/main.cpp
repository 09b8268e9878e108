#include <QApplication>

#include "main_app.h"

pictrim::CMainApp theApp;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pictrim"));
    QApplication::setDesktopFileName(QStringLiteral("pictrim"));
    theApp.InitInstance();
    return theApp.ExitCode();
}
