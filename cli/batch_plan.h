#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli_options.h"
#include "platform/path_checks.h"

namespace pictrim::cli {

// One file of a batch and where its result goes.
struct BatchItem {
    std::string source;
    std::string destination;
    std::string refusal;  // why it is not converted at all; empty: convert
    std::uint64_t bytes = 0;  // the source's size, for the progress line
    std::optional<platform::FileIdentity> identity;  // the source's, when it could be looked at
};

// Lists the files a batch converts, in the order given (a folder's files by
// name), and gives each its destination: the source's name in the target
// folder (a walked folder's tree mirrored under it), with the suffix before
// the extension. Two sources for one destination, a destination that is
// another source, or a source that is another's destination, are refused
// here, naming both, whatever the order in which the files would be done.
// Touches nothing.
std::vector<BatchItem> PlanBatch(const CliOptions& options, const std::vector<std::string>& sources);

// The names in a --files0-from list, NUL-separated; "-" reads standard
// input. False when the list cannot be read.
bool ReadFiles0From(const std::string& listPath, std::vector<std::string>& names);

}  // namespace pictrim::cli
