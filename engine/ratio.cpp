#include "ratio.h"

namespace pictrim {

bool IsListedRatio(std::int32_t percent, std::int32_t index) {
    return index >= 0 && index < static_cast<std::int32_t>(RatioList.size()) &&
           RatioList[static_cast<std::size_t>(index)].percent == percent;
}

TargetDims TargetSize(std::uint32_t width, std::uint32_t height, std::int32_t percent) {
    const std::uint64_t divisor = percent % 33 == 0 ? 99 : 100;
    const auto p = static_cast<std::uint64_t>(percent < 0 ? 0 : percent);
    return {width * p / divisor, height * p / divisor};
}

}  // namespace pictrim
