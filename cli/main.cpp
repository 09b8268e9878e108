// pictrim-cli: the conversion job without the dialog, for scripts, for
// machines without a display, and for many files at once.
#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "batch_console.h"
#include "batch/batch_plan.h"
#include "batch/batch_run.h"
#include "cli_options.h"
#include "engine/exec_thread.h"
#include "pictrim_version.h"
#include "platform/open_failures.h"
#include "platform/path_checks.h"
#include "platform/replacement_file.h"
#include "platform/command_line.h"
#include "platform/standard_streams.h"
#include "platform/stop_signals.h"
#include "terminal_notices.h"
#include "platform/utf8_path.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitNotConverted = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

using pictrim::batch::Item;
using pictrim::cli::CliOptions;
using Preset = pictrim::cli::TerminalNotices::PresetAnswer;
using pictrim::platform::Print;

void PrintUsage() {
    Print(stdout, "%s",
        "Usage: pictrim-cli [OPTIONS] SOURCE DESTINATION RATIO\n"
        "  or:  pictrim-cli [OPTIONS] -t FOLDER SOURCE... RATIO\n"
        "  or:  pictrim-cli [OPTIONS] --suffix TEXT SOURCE... RATIO\n"
        "Resizes uncompressed 24-bit BMP files. Each destination is either left as it\n"
        "was or replaced by the complete result, also across a crash or power cut.\n"
        "\n"
        "  RATIO  5%, 10%, 20%, 25%, 33%, 50% (box-average reduction) or 200%\n"
        "         (enlargement); the % sign may be left out\n"
        "\n"
        "The second and third forms convert many files: a SOURCE that is a folder\n"
        "gives the .bmp files in it; a file named is converted whatever its name.\n"
        "  -t, --target-directory FOLDER  write each result into FOLDER under its\n"
        "                           source's name (FOLDER is made when missing)\n"
        "      --suffix TEXT        put TEXT before the extension (a.bmp -> a_small.bmp\n"
        "                           for _small); without -t, beside the source\n"
        "  -R, --recursive          take subfolders too; their tree is mirrored under -t\n"
        "      --files0-from FILE   read more SOURCE names, NUL-separated, from FILE\n"
        "                           (- for standard input), e.g. from find -print0\n"
        "  -j, --jobs N             convert N files at once (default: one per core)\n"
        "  -n, --dry-run            print what would be done, touching nothing\n"
        "  -q, --quiet              print only failures and the summary\n"
        "\n"
        "Every form:\n"
        "  -y, --yes                replace existing destinations without asking\n"
        "      --no                 never replace an existing destination (skip it)\n"
        "                           (with neither, each is asked about when standard\n"
        "                           input is a terminal, and kept otherwise)\n"
        "  -p, --preserve-timestamps  give each result its source's modification time\n"
        "      --help               show this text\n"
        "      --version            show the version\n"
        "\n"
#ifdef _WIN32
        "Ctrl-C, Ctrl-Break and closing the console window stop the work between\n"
        "rows: finished files are kept, the others left as they were.\n"
#else
        "Ctrl-C (SIGINT), SIGTERM and SIGHUP stop the work between rows: finished\n"
        "files are kept, the others left as they were. SIGPIPE and SIGXFSZ are\n"
        "ignored: a write to a closed pipe or past ulimit -f fails and is told.\n"
        "A signal ignored when the program starts (nohup, a script's &) stays so.\n"
#endif
        "\n"
        "Exit status: 0 every file converted (or skipped by the overwrite answer),\n"
        "1 a file refused, failed or declined, or standard output not writable,\n"
        "2 usage error, 130 interrupted.\n");
}

int ConvertOne(const CliOptions& options, pictrim::platform::StopSignals& signals) {
    using pictrim::platform::IsTerminal;
    pictrim::cli::TerminalNotices notices(options.answer, stdin, stdout, stderr,
                                               {IsTerminal(stdin), IsTerminal(stdout), IsTerminal(stderr)});
    // Absolute before the job derives the destination's folder from it: on
    // Windows "R:name" is in drive R's current folder, not in this one.
    using pictrim::platform::AbsolutePath;
    auto* worker = new pictrim::CExecThread({&notices, AbsolutePath(options.source), AbsolutePath(options.destination),
                                             nullptr, options.percent, options.ratioIndex, options.preserveTimestamps,
                                             nullptr});
    const auto lifetime = worker->Lifetime();
    if (!worker->CreateThread()) {
        delete worker;
        Print(stderr, "pictrim-cli: cannot start a worker thread\n");
        return kExitNotConverted;
    }
    signals.OnStop([lifetime, &notices] {
        lifetime->RequestStop();
        notices.Cancel();
    });
    worker->m_bAutoDelete = true;
    worker->ResumeThread();
    lifetime->WaitForEnd();
    signals.OnStop([] {});  // too late to stop anything: only noted
    // A stop that came too late to keep the old file is no interruption:
    // the new one is in place, and the status says so.
    if (notices.CompletionShown()) return kExitConverted;
    return signals.Received() ? kExitInterrupted : kExitNotConverted;
}

pictrim::batch::Settings BatchSettings(const CliOptions& options) {
    using pictrim::batch::Overwrite;
    pictrim::batch::Settings settings;
    settings.targetFolder = options.targetDirectory;
    settings.suffix = options.suffix;
    settings.recursive = options.recursive;
    settings.jobs = options.jobs;
    settings.percent = options.percent;
    settings.ratioIndex = options.ratioIndex;
    settings.keepTimes = options.preserveTimestamps;
    settings.overwrite = options.answer == Preset::Yes ? Overwrite::Yes
                         : options.answer == Preset::No ? Overwrite::No
                                                        : Overwrite::Ask;
    return settings;
}

// What a run would do, by the same look at each destination as the run's
// own, folders it would make included: nothing is read or written.
int DryRun(const CliOptions& options, const std::vector<Item>& items) {
    using Destination = pictrim::platform::ReplacementFile;
    using State = Destination::State;
    const bool terminal = pictrim::platform::IsTerminal(stdout);
    const auto print = [terminal](const std::string& line) {
        Print(stdout, "%s\n", (terminal ? pictrim::cli::ShownOnTerminal(line) : line).c_str());
    };
    std::size_t convert = 0, skip = 0, refuse = 0;
    for (const Item& item : items) {
        if (!item.refusal.empty()) {
            print(item.source + ": refused: " + item.refusal);
            ++refuse;
            continue;
        }
        State state = Destination::Examine(item.destination, pictrim::platform::IdentityOf(item.source)).state;
        if (state == State::FolderUnusable) {
            // The run makes the folders a destination needs.
            if (Destination::CanMakeIn(pictrim::platform::FolderOf(item.destination))) state = State::Absent;
        }
        const char* what = "";
        if (state == State::Unusable || state == State::SameAsSource || state == State::FolderUnusable) {
            what = ": refused: the destination cannot be written";
            ++refuse;
        } else if (state == State::Replaceable && options.answer != Preset::Yes) {
            const bool ask = options.answer == Preset::None && pictrim::platform::IsTerminal(stdin);
            what = ask ? " (exists: would be asked about)" : " (exists: would be skipped)";
            ask ? ++convert : ++skip;
        } else {
            what = state == State::Replaceable ? " (exists: would be replaced)" : "";
            ++convert;
        }
        print(item.source + " -> " + item.destination + what);
    }
    Print(stderr, "pictrim-cli: dry run: %zu to convert, %zu to skip, %zu refused\n", convert, skip, refuse);
    return refuse == 0 ? kExitConverted : kExitNotConverted;
}

int ConvertMany(const CliOptions& options, pictrim::platform::StopSignals& signals) {
    using pictrim::platform::AbsolutePath;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> sources = options.sources;
    std::vector<Item> items;
    try {
        const std::string list = options.files0From.value_or("-") == "-" ? "-" : AbsolutePath(*options.files0From);
        if (options.files0From && !pictrim::batch::ReadFiles0From(list, sources)) {
            Print(stderr, "pictrim-cli: cannot read %s\n", list.c_str());
            return kExitNotConverted;
        }
        items = pictrim::batch::PlanBatch(BatchSettings(options), sources);
    } catch (const std::bad_alloc&) {  // a list without end (/dev/zero), or more names than memory
        Print(stderr, "pictrim-cli: not enough memory for the list of files\n");
        return kExitNotConverted;
    }
    if (options.dryRun) return DryRun(options, items);

    pictrim::cli::BatchConsole console(options, items.size());
    pictrim::batch::Runner run(BatchSettings(options), items, console);
    signals.OnStop([&run] { run.Stop(); });
    const pictrim::batch::Counts counts = run.Run();
    signals.OnStop([] {});  // too late to stop anything: only noted

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char summary[256];
    std::snprintf(summary, sizeof summary, "pictrim-cli: %zu converted, %zu skipped, %zu refused, %zu failed in %.2f s",
                  counts.converted, counts.skipped, counts.refused, counts.failed, seconds);
    std::string line = summary;
    if (pictrim::platform::DescriptorsRanShort()) line += "; too many open files (fewer -j, or a higher ulimit -n)";
    if (signals.Received()) line += "; interrupted, " + std::to_string(counts.notDone) + " not done";
    console.Summary(line);
    if (signals.Received()) return kExitInterrupted;
    return counts.Complete() ? kExitConverted : kExitNotConverted;
}

// A result that could not be printed (a full disk, a closed pipe) is a
// failure like any other: a script must not take silence for success.
int CheckedStatus(int status) {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
    Print(stderr, "pictrim-cli: cannot write to standard output\n");
    return status == kExitConverted ? kExitNotConverted : status;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that went away (`| head`) makes writes fail, which the exit
    // status reports, instead of killing the run in the middle of a file.
    pictrim::platform::KeepStandardStreamsOpen();
    // Before any thread: every thread started later inherits it.
    pictrim::platform::StopSignals signals;
    const CliOptions options = pictrim::cli::ParseCommandLine(pictrim::platform::CommandLineArguments(argc, argv));
    switch (options.action) {
    case CliOptions::Action::Help:
        PrintUsage();
        return CheckedStatus(kExitConverted);
    case CliOptions::Action::Version:
        Print(stdout, "pictrim-cli %s\n", pictrim::kVersionString);
        return CheckedStatus(kExitConverted);
    case CliOptions::Action::UsageError:
        Print(stderr, "pictrim-cli: %s\nTry 'pictrim-cli --help' for more information.\n", options.error.c_str());
        return kExitUsage;
    case CliOptions::Action::Convert: return CheckedStatus(ConvertOne(options, signals));
    case CliOptions::Action::ConvertMany: return CheckedStatus(ConvertMany(options, signals));
    }
    return kExitUsage;
}
