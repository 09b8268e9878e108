#include <gtest/gtest.h>

#include <vector>

#include "bmp_fixture.h"
#include "engine/bmp_layout.h"
#include "engine/enlarge_double.h"
#include "engine/ratio.h"
#include "engine/reduce_box.h"
#include "reference_resize.h"

namespace pictrim {
namespace {

using test::Picture;

constexpr std::uint8_t kSourcePad = 0xEE;

std::vector<std::uint8_t> PaddedRows(const Picture& p) {
    const std::size_t stride = RowStride(p.width);
    std::vector<std::uint8_t> rows(stride * p.height, kSourcePad);
    for (std::uint32_t y = 0; y < p.height; ++y)
        std::copy_n(p.bytes.begin() + std::size_t{y} * p.width * 3, std::size_t{p.width} * 3, rows.begin() + y * stride);
    return rows;
}

// Strips the padding again, checking that the kernel left it zero.
Picture Unpad(const std::vector<std::uint8_t>& rows, std::uint32_t width, std::uint32_t height) {
    const std::size_t stride = RowStride(width);
    Picture p{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3)};
    for (std::uint32_t y = 0; y < height; ++y) {
        std::copy_n(rows.begin() + y * stride, std::size_t{width} * 3, p.bytes.begin() + std::size_t{y} * width * 3);
        for (std::size_t k = std::size_t{width} * 3; k < stride; ++k) EXPECT_EQ(rows[y * stride + k], 0) << "row " << y;
    }
    return p;
}

Picture Reduce(const Picture& src, std::uint32_t step, std::stop_token stop = {}) {
    const ReduceGeometry g{step, src.width, src.height, src.width / step, src.height / step};
    const auto in = PaddedRows(src);
    std::vector<std::uint8_t> out(ImageSize(g.dstWidth, g.dstHeight));
    std::vector<std::uint32_t> work(ReduceWorkElements(g), 0xDEADBEEF);
    EXPECT_TRUE(ReduceBox(g, in.data(), out.data(), work.data(), 0, g.dstHeight, stop));
    return Unpad(out, g.dstWidth, g.dstHeight);
}

Picture Enlarge(const Picture& src) {
    const auto in = PaddedRows(src);
    std::vector<std::uint8_t> out(ImageSize(2 * src.width, 2 * src.height));
    EXPECT_TRUE(EnlargeDouble(in.data(), src.width, src.height, out.data(), 0, 2 * src.height, {}));
    return Unpad(out, 2 * src.width, 2 * src.height);
}

TEST(ReduceBox, MatchesReferenceForEveryStepAndAwkwardSizes) {
    std::uint32_t seed = 0;
    for (const std::uint32_t step : StepTable) {
        // Widths over every remainder mod 4 and mod the step; heights that
        // leave rows over.
        for (const std::uint32_t width : {step, step + 1, step + 2, step + 3, 2 * step + 5, 4 * step + 7, 101u}) {
            for (const std::uint32_t height : {step, step + 1, 3 * step + 2, 23u}) {
                if (height < step || width < step) continue;
                SCOPED_TRACE(testing::Message() << "step " << step << ", " << width << "x" << height);
                const Picture src = test::RandomPicture(width, height, ++seed);
                EXPECT_EQ(Reduce(src, step), test::ReferenceReduce(src, step));
            }
        }
    }
}

TEST(ReduceBox, AveragesRowAveragesRoundingDownEachTime) {
    // Channel 0 of a 2x2 block: 0 1 / 1 2. Row averages 0 and 1, then 0,
    // where the block's own mean rounded down would be 1.
    const Picture block = test::MakePicture(2, 2, [](auto x, auto y, int c) { return c == 0 ? x + y : 7; });
    EXPECT_EQ(Reduce(block, 2).bytes, (std::vector<std::uint8_t>{0, 7, 7}));

    // 20x20 with channel 0 = x + y: row averages 9 + y, sum 370, / 20 = 18.
    const Picture ramp = test::MakePicture(20, 20, [](auto x, auto y, int) { return x + y; });
    EXPECT_EQ(Reduce(ramp, 20).bytes, (std::vector<std::uint8_t>{18, 18, 18}));
}

TEST(ReduceBox, LeftoverColumnsAndRowsHaveNoInfluence) {
    // 7 wide, 5 high at 50 %: column 6 and stored row 4 are not used.
    Picture a = test::RandomPicture(7, 5, 11);
    Picture b = a;
    for (std::uint32_t y = 0; y < 5; ++y)
        for (int c = 0; c < 3; ++c) b.at(6, y, c) ^= 0xFF;
    for (std::uint32_t x = 0; x < 7; ++x)
        for (int c = 0; c < 3; ++c) b.at(x, 4, c) ^= 0xFF;
    EXPECT_EQ(Reduce(a, 2), Reduce(b, 2));
}

TEST(ReduceBox, FlatPictureStaysFlat) {
    const Picture flat = test::MakePicture(60, 40, [](auto, auto, int c) { return 10 * (c + 1); });
    for (const std::uint32_t step : StepTable) {
        const Picture out = Reduce(flat, step);
        EXPECT_EQ(out, test::MakePicture(60 / step, 40 / step, [](auto, auto, int c) { return 10 * (c + 1); }));
    }
}

TEST(ReduceBox, StopsWhenAsked) {
    std::stop_source source;
    source.request_stop();
    const ReduceGeometry g{2, 4, 4, 2, 2};
    std::vector<std::uint8_t> in(ImageSize(4, 4)), out(ImageSize(2, 2));
    std::vector<std::uint32_t> work(ReduceWorkElements(g));
    EXPECT_FALSE(ReduceBox(g, in.data(), out.data(), work.data(), 0, 2, source.get_token()));
}

TEST(EnlargeDouble, MatchesReferenceOverManySizes) {
    std::uint32_t seed = 100;
    for (std::uint32_t width = 1; width <= 9; ++width)
        for (std::uint32_t height = 1; height <= 6; ++height) {
            SCOPED_TRACE(testing::Message() << width << "x" << height);
            const Picture src = test::RandomPicture(width, height, ++seed);
            EXPECT_EQ(Enlarge(src), test::ReferenceEnlarge(src));
        }
    const Picture large = test::RandomPicture(67, 31, 7);
    EXPECT_EQ(Enlarge(large), test::ReferenceEnlarge(large));
}

TEST(EnlargeDouble, WorkedExampleRoundsDown) {
    // One channel: S = 10 20 / 30 41.
    const std::uint8_t s[2][2] = {{10, 20}, {30, 41}};
    const Picture src = test::MakePicture(2, 2, [&](auto x, auto y, int) { return s[y][x]; });
    const std::uint8_t expected[4][4] = {{10, 15, 20, 20}, {20, 25, 30, 30}, {30, 35, 41, 41}, {30, 35, 41, 41}};
    const Picture out = Enlarge(src);
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 4; ++x) EXPECT_EQ(out.at(x, y, 1), expected[y][x]) << x << "," << y;

    const Picture extremes = test::MakePicture(2, 2, [](auto x, auto y, int) { return (x == 1 && y == 1) ? 254 : 255; });
    EXPECT_EQ(Enlarge(extremes).at(1, 1, 0), 254);  // (255 + 255 + 255 + 254) / 4
    const Picture pair = test::MakePicture(2, 1, [](auto x, auto, int) { return x == 0 ? 0 : 255; });
    EXPECT_EQ(Enlarge(pair).at(1, 0, 2), 127);
}

TEST(EnlargeDouble, ChannelsStayApart) {
    const Picture src = test::MakePicture(3, 2, [](auto x, auto y, int c) { return c == 0 ? 255 : c == 1 ? 0 : x * 50 + y; });
    const Picture out = Enlarge(src);
    for (std::uint32_t y = 0; y < 4; ++y)
        for (std::uint32_t x = 0; x < 6; ++x) {
            EXPECT_EQ(out.at(x, y, 0), 255);
            EXPECT_EQ(out.at(x, y, 1), 0);
        }
}

TEST(Kernels, BandsGiveTheSameResultAsOnePass) {
    const Picture src = test::RandomPicture(45, 37, 5);
    const auto in = PaddedRows(src);
    const ReduceGeometry g{3, 45, 37, 15, 12};
    std::vector<std::uint8_t> whole(ImageSize(15, 12)), banded(whole.size());
    std::vector<std::uint32_t> work(ReduceWorkElements(g));
    ASSERT_TRUE(ReduceBox(g, in.data(), whole.data(), work.data(), 0, 12, {}));
    for (std::uint32_t first : {0u, 5u, 7u}) ASSERT_TRUE(ReduceBox(g, in.data(), banded.data(), work.data(), first, first == 0 ? 5 : first == 5 ? 7 : 12, {}));
    EXPECT_EQ(whole, banded);

    std::vector<std::uint8_t> big(ImageSize(90, 74)), bigBanded(big.size());
    ASSERT_TRUE(EnlargeDouble(in.data(), 45, 37, big.data(), 0, 74, {}));
    ASSERT_TRUE(EnlargeDouble(in.data(), 45, 37, bigBanded.data(), 0, 33, {}));
    ASSERT_TRUE(EnlargeDouble(in.data(), 45, 37, bigBanded.data(), 33, 74, {}));
    EXPECT_EQ(big, bigBanded);
}

}  // namespace
}  // namespace pictrim
