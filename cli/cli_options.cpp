#include "cli_options.h"

#include "engine/ratio.h"

namespace pictrim::cli {

int RatioIndexFromText(const std::string& text) {
    const std::string withSign = !text.empty() && text.back() == '%' ? text : text + "%";
    for (std::size_t i = 0; i < RatioList.size(); ++i) {
        if (RatioList[i].text == withSign) return static_cast<int>(i);
    }
    return -1;
}

CliOptions ParseCommandLine(const std::vector<std::string>& args) {
    CliOptions options;
    using Preset = platform::TerminalNotices::PresetAnswer;
    std::vector<std::string> operands;
    bool operandsOnly = false;
    for (const std::string& arg : args) {
        if (operandsOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            operands.push_back(arg);
        } else if (arg == "--") {
            operandsOnly = true;
        } else if (arg == "--help" || arg == "-h") {
            options.action = CliOptions::Action::Help;
            return options;
        } else if (arg == "--version") {
            options.action = CliOptions::Action::Version;
            return options;
        } else if (arg == "--yes" || arg == "-y" || arg == "--no" || arg == "-n") {
            const Preset answer = (arg == "--yes" || arg == "-y") ? Preset::Yes : Preset::No;
            if (options.answer != Preset::None && options.answer != answer) {
                options.error = "--yes and --no exclude each other";
                return options;
            }
            options.answer = answer;
        } else {
            options.error = "unknown option " + arg;
            return options;
        }
    }
    if (operands.size() != 3) {
        options.error = "expected SOURCE DESTINATION RATIO";
        return options;
    }
    const int index = RatioIndexFromText(operands[2]);
    if (index < 0) {
        options.error = "RATIO must be one of 5%, 10%, 20%, 25%, 33%, 50%, 200%, not " + operands[2];
        return options;
    }
    options.action = CliOptions::Action::Convert;
    options.source = operands[0];
    options.destination = operands[1];
    options.ratioIndex = index;
    options.percent = RatioList[index].percent;
    return options;
}

}  // namespace pictrim::cli
