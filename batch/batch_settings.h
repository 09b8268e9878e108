#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pictrim::batch {

// What an existing destination gets: a question, or a standing answer.
enum class Overwrite { Ask, Yes, No };

// How a batch is converted, whichever front end asks for it.
struct Settings {
    // Each result in this folder (made when missing) under its source's
    // name, a walked folder's tree mirrored under it; without one, beside
    // its source.
    std::optional<std::string> targetFolder;
    // Put before the extension: "a.bmp" -> "a_half.bmp" for "_half".
    std::optional<std::string> suffix;
    bool recursive = false;
    unsigned jobs = 0;  // files at once; 0: one per core
    std::int32_t percent = 50;
    std::int32_t ratioIndex = 5;
    bool keepTimes = false;  // each result gets its source's modification time
    Overwrite overwrite = Overwrite::Ask;
};

}  // namespace pictrim::batch
