#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "terminal_notices.h"

namespace pictrim::cli {

struct CliOptions {
    // Convert: SOURCE DESTINATION RATIO. ConvertMany: SOURCE... RATIO into
    // a folder (-t) or under new names (--suffix).
    enum class Action { Convert, ConvertMany, Help, Version, UsageError };
    Action action = Action::UsageError;
    cli::TerminalNotices::PresetAnswer answer = cli::TerminalNotices::PresetAnswer::None;
    std::string source;
    std::string destination;
    std::int32_t percent = 0;
    std::int32_t ratioIndex = -1;
    bool preserveTimestamps = false;

    std::vector<std::string> sources;
    std::optional<std::string> targetDirectory;
    std::optional<std::string> suffix;
    std::optional<std::string> files0From;
    bool recursive = false;
    bool dryRun = false;
    bool quiet = false;
    unsigned jobs = 0;  // 0: one per core

    std::string error;  // why the command line was refused, in one line
};

CliOptions ParseCommandLine(const std::vector<std::string>& args);

// The ratio list's position for "50%" or "50"; -1 when it is not listed.
int RatioIndexFromText(const std::string& text);

}  // namespace pictrim::cli
