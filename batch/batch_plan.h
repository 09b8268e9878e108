#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch_settings.h"
#include "platform/path_checks.h"

namespace pictrim::batch {

// A file found for a batch, before its destination is known.
struct Source {
    std::string path;      // absolute
    std::string relative;  // under the folder it was found in; the file name for a file named
    std::string refusal;   // why it cannot be a source; empty when it can
};

// One file of a batch and where its result goes.
struct Item {
    std::string source;
    std::string destination;
    std::string refusal;  // why it is not converted at all; empty: convert
    std::uint64_t bytes = 0;  // the source's size, for the progress
    std::optional<platform::FileIdentity> identity;  // the source's, when it could be looked at
};

// The files named, in the order given: a file as it is, whatever its name;
// a folder's .bmp files in any case by name, then with `recursive` its
// subfolders' (never through a link, a folder met twice refused). The
// folder `skip` (the target) is not walked: its results are not sources.
std::vector<Source> CollectSources(const std::vector<std::string>& names, bool recursive,
                                   const std::optional<std::string>& skip);

// Gives each source its destination: its name in the target folder (a
// walked folder's tree mirrored under it), the suffix before the extension.
// Two sources for one destination, a destination that is another source, or
// a source that is another's destination, are refused here, naming both,
// whatever the order in which the files would be done. Touches nothing.
std::vector<Item> PlanItems(const Settings& settings, const std::vector<Source>& sources);

// Both of the above.
std::vector<Item> PlanBatch(const Settings& settings, const std::vector<std::string>& names);

// The names in a --files0-from list, NUL-separated; "-" reads standard
// input. False when the list cannot be read.
bool ReadFiles0From(const std::string& listPath, std::vector<std::string>& names);

}  // namespace pictrim::batch
