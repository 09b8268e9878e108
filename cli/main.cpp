// pictrim-cli: the conversion job without the dialog, for scripts and for
// machines without a display.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli_options.h"
#include "engine/exec_thread.h"
#include "pictrim_version.h"
#include "platform/terminal_notices.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitNotConverted = 1;
constexpr int kExitUsage = 2;

void PrintUsage(std::FILE* to) {
    std::fputs(
        "Usage: pictrim-cli [--yes|--no] SOURCE DESTINATION RATIO\n"
        "Resizes an uncompressed 24-bit BMP file.\n"
        "\n"
        "  RATIO     5%, 10%, 20%, 25%, 33%, 50% (box-average reduction) or 200%\n"
        "            (enlargement); the % sign may be left out\n"
        "  --yes     overwrite an existing DESTINATION without asking\n"
        "  --no      never overwrite an existing DESTINATION\n"
        "            (without either, the question is asked when stdin is a terminal\n"
        "            and declined otherwise)\n"
        "  --help    show this text\n"
        "  --version show the version\n"
        "\n"
        "Exit status: 0 converted, 1 refused, failed or declined, 2 usage error.\n",
        to);
}

// The command line has no Execute button to grey out.
class NoButton : public pictrim::platform::Window {
public:
    void EnableWindow(bool) override {}
};

}  // namespace

int main(int argc, char** argv) {
    using pictrim::cli::CliOptions;
    const CliOptions options = pictrim::cli::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (options.action) {
    case CliOptions::Action::Help:
        PrintUsage(stdout);
        return kExitConverted;
    case CliOptions::Action::Version:
        std::printf("pictrim-cli %s\n", pictrim::kVersionString);
        return kExitConverted;
    case CliOptions::Action::UsageError:
        std::fprintf(stderr, "pictrim-cli: %s\n", options.error.c_str());
        PrintUsage(stderr);
        return kExitUsage;
    case CliOptions::Action::Convert:
        break;
    }

    pictrim::platform::TerminalNotices notices(options.answer, stdin, stdout, stderr, ::isatty(STDIN_FILENO) == 1);
    NoButton button;
    auto* worker = new pictrim::CExecThread(
        {&notices, options.source, options.destination, &button, options.percent, options.ratioIndex});
    const auto lifetime = worker->Lifetime();
    if (!worker->CreateThread()) {
        delete worker;
        std::fprintf(stderr, "pictrim-cli: cannot start a worker thread\n");
        return kExitNotConverted;
    }
    worker->m_bAutoDelete = true;
    worker->ResumeThread();
    lifetime->WaitForEnd();
    return notices.CompletionShown() ? kExitConverted : kExitNotConverted;
}
