#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pictrim {

struct RatioEntry {
    std::string_view text;
    std::int32_t percent;
};

// The ratio list in its order; the position travels to the job with the
// percent and picks the reduction step.
inline constexpr std::array<RatioEntry, 7> RatioList{{
    {"5%", 5}, {"10%", 10}, {"20%", 20}, {"25%", 25}, {"33%", 33}, {"50%", 50}, {"200%", 200},
}};
inline constexpr int kDefaultRatioIndex = 5;  // "50%"

// Reduction step by list position; the last entry enlarges instead.
inline constexpr std::array<std::uint32_t, 6> StepTable{20, 10, 5, 4, 3, 2};

// True for a percent and list position that name one entry of the list.
bool IsListedRatio(std::int32_t percent, std::int32_t index);

struct TargetDims {
    std::uint64_t width;
    std::uint64_t height;
};

// size x percent / 100, or / 99 when the percent is a multiple of 33 (so 33 %
// is exactly a third), rounded down. Computed in 64 bits: the 32-bit product
// of a wide source would wrap.
TargetDims TargetSize(std::uint32_t width, std::uint32_t height, std::int32_t percent);

}  // namespace pictrim
