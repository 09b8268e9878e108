#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "bmp_fixture.h"
#include "engine/bmp_layout.h"

namespace pictrim {
namespace {

using test::BmpOptions;
using test::EncodeBmp;
using test::U32At;

TEST(BmpLayout, RowStridePadsToFourBytes) {
    const std::array<std::uint64_t, 8> expected{4, 8, 12, 12, 16, 20, 24, 24};
    for (std::uint32_t w = 1; w <= 8; ++w) EXPECT_EQ(RowStride(w), expected[w - 1]) << "width " << w;
    EXPECT_EQ(ImageSize(5, 3), 48u);
}

TEST(BmpLayout, PixelRefAndAccessorsFollowTheRowStride) {
    EXPECT_EQ(PixelRef(2, 1, 5, 54), 76u);
    EXPECT_EQ(PixelRef(2, 1, 5, 0), 22u);
    std::array<std::uint8_t, 128> buffer{};
    PutChannel(2, 1, 5, 0, buffer.data(), 300);
    EXPECT_EQ(buffer[22], 44);  // only the low 8 bits are stored
    EXPECT_EQ(GetChannel(2, 1, 5, 0, buffer.data()), 44);
}

TEST(BmpLayout, SignatureNeedsBThenM) {
    const std::array<std::uint8_t, 2> bm{'B', 'M'}, bSmallM{'B', 'm'}, mb{'M', 'B'};
    EXPECT_TRUE(HasBitmapSignature(bm));
    EXPECT_FALSE(HasBitmapSignature(bSmallM));
    EXPECT_FALSE(HasBitmapSignature(mb));
    EXPECT_FALSE(HasBitmapSignature(std::span(bm).first(1)));
}

HeaderCheck Check(const std::vector<std::uint8_t>& file) {
    return CheckSourceHeader(std::span(file).first(std::min<std::size_t>(file.size(), 54)), file.size());
}

TEST(BmpLayout, AcceptsOrdinaryAndVariantHeaders) {
    const auto picture = test::RandomPicture(5, 3, 1);
    struct Case {
        const char* name;
        BmpOptions options;
        std::uint32_t offset;
    };
    const Case cases[] = {
        {"plain", {}, 54},
        {"v4 header", {.infoHeaderSize = 108}, 122},
        {"v5 header", {.infoHeaderSize = 124}, 138},
        {"palette", {.gapBytes = 1024}, 1078},
        {"top-down", {.topDown = true}, 54},
    };
    for (const Case& c : cases) {
        const HeaderCheck check = Check(EncodeBmp(picture, c.options));
        EXPECT_EQ(check.error, HeaderError::None) << c.name;
        EXPECT_EQ(check.layout.width, 5u) << c.name;
        EXPECT_EQ(check.layout.height, 3u) << c.name;
        EXPECT_EQ(check.layout.pixelOffset, c.offset) << c.name;
        EXPECT_EQ(check.layout.topDown, c.options.topDown) << c.name;
        EXPECT_EQ(check.layout.BytesUsed(), c.offset + 48u) << c.name;
    }
}

TEST(BmpLayout, RefusesMalformedHeaders) {
    const auto good = EncodeBmp(test::RandomPicture(5, 3, 2));
    auto with = [&](std::size_t at, std::uint32_t value) {
        auto file = good;
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        return file;
    };
    auto truncated = [&](std::size_t length) { return std::vector<std::uint8_t>(good.begin(), good.begin() + length); };
    auto bits = [&](std::uint16_t value) {
        auto file = good;
        file[28] = value & 0xFF;
        file[29] = value >> 8;
        return file;
    };
    auto core = [&](std::uint8_t bitsAt24) {
        auto file = with(14, 12);  // OS/2: the depth sits at bytes 24-25
        file[24] = bitsAt24;
        file[25] = 0;
        return file;
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> file;
        HeaderError expected;
    };
    const Case cases[] = {
        {"shorter than the headers", truncated(53), HeaderError::Truncated},
        {"last row cut short", truncated(good.size() - 1), HeaderError::Truncated},
        {"8 bits per pixel", bits(8), HeaderError::BadDepth},
        {"32 bits per pixel", bits(32), HeaderError::BadDepth},
        {"24-bit core header", core(24), HeaderError::BadInfoHeader},
        {"8-bit core header", core(8), HeaderError::BadDepth},
        {"RLE compression", with(30, 1), HeaderError::Compressed},
        {"bit fields", with(30, 3), HeaderError::Compressed},
        {"zero width", with(18, 0), HeaderError::EmptyImage},
        {"zero height", with(22, 0), HeaderError::EmptyImage},
        {"offset inside the headers", with(10, 53), HeaderError::BadPixelOffset},
        {"offset inside a v5 header", with(14, 124), HeaderError::BadPixelOffset},
        {"offset past the end", with(10, 1000), HeaderError::BadPixelOffset},
        {"width 2^31", with(18, 0x80000000u), HeaderError::TooLarge},
        {"height -2^31", with(22, 0x80000000u), HeaderError::TooLarge},
        {"pixel area over 4 GiB", with(18, 500000000), HeaderError::TooLarge},
        {"rows beyond the file", with(22, 4), HeaderError::Truncated},
        {"lying file size field is ignored", with(2, 7), HeaderError::None},
    };
    for (const Case& c : cases) EXPECT_EQ(Check(c.file).error, c.expected) << c.name;
}

TEST(BmpLayout, DestinationHeaderRewritesSizesOnly) {
    const auto source = EncodeBmp(test::RandomPicture(5, 3, 3));
    const HeaderCheck check = Check(source);
    std::vector<std::uint8_t> out(54);
    BuildDestinationHeader(std::span(source).first(54), check.layout, 10, 6, out);
    EXPECT_EQ(U32At(out, 2), 54u + 6 * 32);
    EXPECT_EQ(U32At(out, 18), 10u);
    EXPECT_EQ(U32At(out, 22), 6u);
    EXPECT_EQ(U32At(out, 34), 6u * 32);
    for (std::size_t i : {0, 1, 6, 7, 8, 9, 10, 14, 26, 27, 28, 29, 30, 38, 39, 42, 43, 46, 50})
        EXPECT_EQ(out[i], source[i]) << "byte " << i;
}

TEST(BmpLayout, DestinationHeaderDeclaresPlainLayoutForVariantSources) {
    for (const BmpOptions options : {BmpOptions{.infoHeaderSize = 124}, BmpOptions{.gapBytes = 1024},
                                     BmpOptions{.topDown = true}}) {
        const auto source = EncodeBmp(test::RandomPicture(4, 4, 4), options);
        const HeaderCheck check = Check(source);
        std::vector<std::uint8_t> out(54, 0xFF);
        BuildDestinationHeader(std::span(source).first(54), check.layout, 2, 2, out);
        EXPECT_EQ(U32At(out, 10), 54u);
        EXPECT_EQ(U32At(out, 14), 40u);
        EXPECT_EQ(static_cast<std::int32_t>(U32At(out, 22)), options.topDown ? -2 : 2);
        const bool moved = check.layout.pixelOffset != 54;
        EXPECT_EQ(U32At(out, 46), moved ? 0u : U32At(source, 46));
        EXPECT_EQ(U32At(out, 50), moved ? 0u : U32At(source, 50));
        EXPECT_EQ(U32At(out, 38), 2835u);  // resolution carried over
    }
}

}  // namespace
}  // namespace pictrim
