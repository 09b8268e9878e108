#pragma once

#include <cstdint>
#include <string>

#include "bmp_layout.h"
#include "platform/notice.h"

// Every notice the conversion job can show, with its exact text.
namespace pictrim::notices {

inline constexpr const char* kCaption = "Pictrim";

platform::Notice OverwritePrompt(const std::string& path);
platform::Notice OpenFailure(const std::string& path);
platform::Notice NotBitmap();
platform::Notice UnsupportedDepth(unsigned bitsPerPixel);
platform::Notice NotYetAvailable();
platform::Notice Done();

// The source is unusable for a reason the header shows.
platform::Notice BadSource(HeaderError error, const SourceLayout& layout, const std::string& path);
platform::Notice TooSmallForRatio();
platform::Notice TooLarge(const std::string& path);
platform::Notice ReadFailure(const std::string& path);
platform::Notice WriteFailure(const std::string& path);
// A file appeared under the destination's name while the job ran.
platform::Notice NameTaken(const std::string& path);
platform::Notice OutOfMemory();

}  // namespace pictrim::notices
