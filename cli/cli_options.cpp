#include "cli_options.h"

#include <getopt.h>

#include <charconv>

#include "engine/ratio.h"
#include "platform/utf8_path.h"

namespace pictrim::cli {

namespace {

using Preset = cli::TerminalNotices::PresetAnswer;

enum LongOnly { kYes = 256, kNo, kSuffix, kFiles0From, kHelp, kVersion };

const option kLongOptions[] = {
    {"yes", no_argument, nullptr, kYes},
    {"no", no_argument, nullptr, kNo},
    {"target-directory", required_argument, nullptr, 't'},
    {"suffix", required_argument, nullptr, kSuffix},
    {"recursive", no_argument, nullptr, 'R'},
    {"files0-from", required_argument, nullptr, kFiles0From},
    {"jobs", required_argument, nullptr, 'j'},
    {"preserve-timestamps", no_argument, nullptr, 'p'},
    {"dry-run", no_argument, nullptr, 'n'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

CliOptions Refuse(CliOptions options, std::string why) {
    options.action = CliOptions::Action::UsageError;
    options.error = std::move(why);
    return options;
}

bool SetAnswer(CliOptions& options, Preset answer) {
    if (options.answer != Preset::None && options.answer != answer) return false;
    options.answer = answer;
    return true;
}

}  // namespace

int RatioIndexFromText(const std::string& text) {
    const std::string withSign = !text.empty() && text.back() == '%' ? text : text + "%";
    for (std::size_t i = 0; i < RatioList.size(); ++i) {
        if (RatioList[i].text == withSign) return static_cast<int>(i);
    }
    return -1;
}

CliOptions ParseCommandLine(const std::vector<std::string>& args) {
    CliOptions options;
    // getopt wants a mutable argv; it permutes it so that options may
    // follow the operands, as in every GNU tool.
    std::vector<std::string> storage{"pictrim-cli"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    optind = 0;  // a fresh scan, also when called again (tests)
    opterr = 0;
    bool batchOnly = false;
    const auto offending = [&] {
        return optopt > 0 && optopt < 128 ? std::string{'-', static_cast<char>(optopt)} : std::string(argv[optind - 1]);
    };
    for (;;) {
        const int c = ::getopt_long(argc, argv.data(), ":yt:Rj:pnqh", kLongOptions, nullptr);
        if (c == -1) break;
        switch (c) {
        case 'y':
        case kYes:
            if (!SetAnswer(options, Preset::Yes)) return Refuse(options, "--yes and --no exclude each other");
            break;
        case kNo:
            if (!SetAnswer(options, Preset::No)) return Refuse(options, "--yes and --no exclude each other");
            break;
        case 't': options.targetDirectory = optarg; break;
        case kSuffix:
            options.suffix = optarg;
            if (options.suffix->find_first_of(platform::kPathSeparators) != std::string::npos) {
                return Refuse(options, std::string("--suffix may not contain '") + platform::kPathSeparators[0] + "'");
            }
            break;
        case 'R': options.recursive = batchOnly = true; break;
        case kFiles0From:
            options.files0From = optarg;
            batchOnly = true;
            break;
        case 'j': {
            const std::string text = optarg;
            unsigned jobs = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), jobs);
            if (ec != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > 256) {
                return Refuse(options, "--jobs takes a number from 1 to 256, not '" + text + "'");
            }
            options.jobs = jobs;
            batchOnly = true;
            break;
        }
        case 'p': options.preserveTimestamps = true; break;
        case 'n': options.dryRun = batchOnly = true; break;
        case 'q': options.quiet = batchOnly = true; break;
        case 'h':
        case kHelp: options.action = CliOptions::Action::Help; return options;
        case kVersion: options.action = CliOptions::Action::Version; return options;
        case ':': return Refuse(options, "option " + offending() + " needs a value");
        default: return Refuse(options, "unknown option " + offending());
        }
    }
    // getopt has moved the operands behind the options, in their order.
    const std::vector<std::string> operands(argv.begin() + optind, argv.end() - 1);
    const bool batch = options.targetDirectory || options.suffix;
    if (!batch && batchOnly) {
        return Refuse(options, "-R, -j, -n, -q and --files0-from need -t FOLDER or --suffix TEXT");
    }
    if (!batch && operands.size() != 3) return Refuse(options, "expected SOURCE DESTINATION RATIO");
    if (operands.empty()) return Refuse(options, "expected SOURCE... RATIO");
    const int index = RatioIndexFromText(operands.back());
    if (index < 0) {
        return Refuse(options, "RATIO must be one of 5%, 10%, 20%, 25%, 33%, 50%, 200%, not " + operands.back());
    }
    options.ratioIndex = index;
    options.percent = RatioList[index].percent;
    if (batch) {
        options.sources.assign(operands.begin(), operands.end() - 1);
        if (options.sources.empty() && !options.files0From) return Refuse(options, "no SOURCE given");
        if (options.targetDirectory && options.targetDirectory->empty()) return Refuse(options, "-t needs a folder name");
        options.action = CliOptions::Action::ConvertMany;
    } else {
        options.source = operands[0];
        options.destination = operands[1];
        options.action = CliOptions::Action::Convert;
    }
    return options;
}

}  // namespace pictrim::cli
