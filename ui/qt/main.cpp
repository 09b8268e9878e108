#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#include "engine/ratio.h"
#include "main_app.h"
#include "platform/standard_streams.h"
#include "pictrim_version.h"

pictrim::CMainApp theApp;

namespace {

// The ratio list's position for "50%" or "50"; -1 when it is not listed.
int RatioIndex(QString text) {
    if (!text.endsWith(QLatin1Char('%'))) text += QLatin1Char('%');
    for (std::size_t i = 0; i < pictrim::RatioList.size(); ++i) {
        if (text == QLatin1String(pictrim::RatioList[i].text.data(), static_cast<qsizetype>(pictrim::RatioList[i].text.size())))
            return static_cast<int>(i);
    }
    return -1;
}

[[noreturn]] void Refuse(const QString& why) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(why));
    std::exit(EXIT_FAILURE);
}

// The program's options; ends the process for --help, --version and a wrong
// command line, as the parser does. Otherwise gives the files and the batch
// window's options to the application.
void ReadCommandLine(const QCoreApplication& app, pictrim::CMainApp* into) {
    QCoreApplication::setApplicationVersion(QString::fromLatin1(pictrim::kVersionString));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Resizes uncompressed 24-bit BMP images.\n"
        "With one FILE or none, the dialog for one file opens (FILE in its source field).\n"
        "With two or more, or a folder, the batch window opens with every file listed\n"
        "(a folder gives the .bmp files in it)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption target({QStringLiteral("t"), QStringLiteral("target-directory")},
                                    QStringLiteral("Batch window: results into FOLDER (made when missing)."),
                                    QStringLiteral("FOLDER"));
    const QCommandLineOption ratio(QStringLiteral("ratio"),
                                   QStringLiteral("Batch window: the ratio, 5%, 10%, 20%, 25%, 33%, 50% or 200%."),
                                   QStringLiteral("RATIO"));
    const QCommandLineOption execute(QStringLiteral("execute"),
                                     QStringLiteral("Batch window: press Execute at once and close the window at the "
                                                    "end instead of showing the summary; exit status 0 when every "
                                                    "file was converted or skipped, 1 otherwise."));
    const QCommandLineOption yes({QStringLiteral("y"), QStringLiteral("yes")},
                                 QStringLiteral("Batch window: replace existing destinations without asking."));
    parser.addOptions({target, ratio, yes, execute});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("BMP files or folders."),
                                 QStringLiteral("[FILE...]"));
    parser.process(app);
    if (into == nullptr) return;
    into->m_files = parser.positionalArguments();
    into->m_targetFolder = parser.value(target);
    into->m_execute = parser.isSet(execute);
    into->m_replace = parser.isSet(yes);
    if (parser.isSet(ratio)) {
        into->m_ratioIndex = RatioIndex(parser.value(ratio));
        if (into->m_ratioIndex < 0) Refuse(QStringLiteral("Unknown ratio '%1'.").arg(parser.value(ratio)));
    }
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
            ReadCommandLine(core, nullptr);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    pictrim::platform::KeepStandardStreamsOpen();
    AnswerHelpAndVersion(argc, argv);
    QApplication application(argc, argv);
    ReadCommandLine(application, &theApp);
    QApplication::setApplicationName(QStringLiteral("Pictrim"));
    QApplication::setDesktopFileName(QStringLiteral("pictrim"));
    theApp.InitInstance();
    return theApp.ExitCode();
}
