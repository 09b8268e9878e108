#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/terminal_notices.h"

namespace pictrim::cli {

struct CliOptions {
    enum class Action { Convert, Help, Version, UsageError };
    Action action = Action::UsageError;
    platform::TerminalNotices::PresetAnswer answer = platform::TerminalNotices::PresetAnswer::None;
    std::string source;
    std::string destination;
    std::int32_t percent = 0;
    std::int32_t ratioIndex = -1;
    std::string error;  // why the command line was refused
};

CliOptions ParseCommandLine(const std::vector<std::string>& args);

// The ratio list's position for "50%" or "50"; -1 when it is not listed.
int RatioIndexFromText(const std::string& text);

}  // namespace pictrim::cli
