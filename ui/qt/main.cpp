#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#include "main_app.h"
#include "platform/standard_streams.h"
#include "pictrim_version.h"

pictrim::CMainApp theApp;

namespace {

// The program's options; ends the process for --help, --version and a wrong
// command line, as the parser does. Otherwise gives the optional FILE.
QString ReadCommandLine(const QCoreApplication& app) {
    QCoreApplication::setApplicationVersion(QString::fromLatin1(pictrim::kVersionString));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Resizes uncompressed 24-bit BMP images."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("BMP file to put in the source field."),
                                 QStringLiteral("[FILE]"));
    parser.process(app);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "%s: Unexpected argument '%s'.\n", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(files[1]));
        std::exit(EXIT_FAILURE);
    }
    return files.value(0);
}

// --help and --version are answered before the GUI application exists, so
// that they work without a display (ssh, CI). Everything else waits for it:
// it takes Qt's own options (-platform, -style, ...) off the command line.
void AnswerHelpAndVersion(int argc, char** argv) {
    QCoreApplication core(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    for (const QString& arg : args.mid(1)) {
        if (arg == QLatin1String("--")) break;
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help") || arg == QLatin1String("--help-all") ||
            arg == QLatin1String("-v") || arg == QLatin1String("--version")) {
            ReadCommandLine(core);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    pictrim::platform::KeepStandardStreamsOpen();
    AnswerHelpAndVersion(argc, argv);
    QApplication application(argc, argv);
    theApp.m_strSourceFile = ReadCommandLine(application);
    QApplication::setApplicationName(QStringLiteral("Pictrim"));
    QApplication::setDesktopFileName(QStringLiteral("pictrim"));
    theApp.InitInstance();
    return theApp.ExitCode();
}
