#include <gtest/gtest.h>

#include <array>

#include "engine/bmp_layout.h"

namespace pictrim {
namespace {

// Headers, bad and good, are checked end to end: test_faults.cpp, test_conversion_job.cpp.
// Malformed headers are refused end to end: see test_faults.cpp.
TEST(BmpLayout, StrideAddressingAndAccessors) {
    const std::array<std::uint64_t, 8> strides{4, 8, 12, 12, 16, 20, 24, 24};
    for (std::uint32_t w = 1; w <= 8; ++w) EXPECT_EQ(RowStride(w), strides[w - 1]) << "width " << w;
    EXPECT_EQ(ImageSize(5, 3), 48u);
    EXPECT_EQ(PixelRef(2, 1, 5, 54), 76u);
    std::array<std::uint8_t, 32> buffer{};
    PutChannel(2, 1, 5, 0, buffer.data(), 300);
    EXPECT_EQ(buffer[22], 44);  // the low 8 bits
    EXPECT_EQ(GetChannel(2, 1, 5, 0, buffer.data()), 44);
}

}  // namespace
}  // namespace pictrim
