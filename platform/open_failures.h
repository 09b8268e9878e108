#pragma once

#include <cstddef>

namespace pictrim::platform {

// Whether any call of this process has failed for want of descriptors
// (an Error of kind OutOfDescriptors).
bool DescriptorsRanShort();
// How many files the process may hold open at once; 0 when the system sets
// no limit worth planning for.
std::size_t DescriptorLimit();

}  // namespace pictrim::platform
