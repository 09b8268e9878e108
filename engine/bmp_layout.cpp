#include "bmp_layout.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace pictrim {

namespace {
constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();

// Header field positions.
constexpr std::size_t kFileSizeAt = 2;
constexpr std::size_t kPixelOffsetAt = 10;
constexpr std::size_t kInfoSizeAt = 14;
constexpr std::size_t kWidthAt = 18;
constexpr std::size_t kHeightAt = 22;
constexpr std::size_t kBitsAt = 28;
constexpr std::size_t kCoreBitsAt = 24;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::size_t kCompressionAt = 30;
constexpr std::size_t kImageSizeAt = 34;
constexpr std::size_t kColoursUsedAt = 46;
}  // namespace

std::uint16_t ReadU16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t ReadU32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) | (std::uint32_t{b[at + 2]} << 16) |
           (std::uint32_t{b[at + 3]} << 24);
}

void WriteU32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool HasBitmapSignature(std::span<const std::uint8_t> firstBytes) {
    return firstBytes.size() >= 2 && firstBytes[0] == 0x42 && firstBytes[1] == 0x4D;
}

HeaderCheck CheckSourceHeader(std::span<const std::uint8_t> header, std::uint64_t fileLength) {
    HeaderCheck result;
    if (header.size() < kHeaderBytes || fileLength < kHeaderBytes) {
        result.error = HeaderError::Truncated;
        return result;
    }
    SourceLayout& s = result.layout;
    s.pixelOffset = ReadU32(header, kPixelOffsetAt);
    s.infoHeaderSize = ReadU32(header, kInfoSizeAt);
    // The 12-byte OS/2 core header keeps its depth elsewhere; reading it from
    // there names the depth of such a file rightly in the refusal.
    s.bitsPerPixel = ReadU16(header, s.infoHeaderSize == kCoreHeaderSize ? kCoreBitsAt : kBitsAt);
    s.width = ReadU32(header, kWidthAt);
    const std::uint32_t rawHeight = ReadU32(header, kHeightAt);
    // A negative height marks rows stored top row first.
    s.topDown = (rawHeight & 0x80000000u) != 0;
    s.height = s.topDown ? static_cast<std::uint32_t>(0u - rawHeight) : rawHeight;

    const auto fail = [&](HeaderError e) {
        result.error = e;
        return result;
    };
    if (s.bitsPerPixel != 24) return fail(HeaderError::BadDepth);
    if (s.infoHeaderSize == kCoreHeaderSize) return fail(HeaderError::CoreHeader);
    if (s.infoHeaderSize < kInfoHeaderSize) return fail(HeaderError::BadInfoHeader);
    if (ReadU32(header, kCompressionAt) != 0) return fail(HeaderError::Compressed);
    if (s.width == 0 || s.height == 0) return fail(HeaderError::EmptyImage);
    // A height of -2^31 has no positive magnitude in 32 bits.
    if (s.topDown && s.height == 0x80000000u) return fail(HeaderError::TooLarge);
    if (s.pixelOffset < kFileHeaderSize + std::uint64_t{s.infoHeaderSize} || s.pixelOffset > fileLength) {
        return fail(HeaderError::BadPixelOffset);
    }
    const std::uint64_t imageSize = ImageSize(s.width, s.height);
    if (imageSize > kMax32) return fail(HeaderError::TooLarge);
    s.imageSize = static_cast<std::uint32_t>(imageSize);
    if (s.BytesUsed() > fileLength) return fail(HeaderError::Truncated);
    return result;
}

void BuildDestinationHeader(std::span<const std::uint8_t> sourceHeader, const SourceLayout& source,
                            std::uint32_t dstWidth, std::uint32_t dstHeight, std::span<std::uint8_t> out) {
    std::copy_n(sourceHeader.begin(), kHeaderBytes, out.begin());
    const auto imageSize = static_cast<std::uint32_t>(ImageSize(dstWidth, dstHeight));
    WriteU32(out, kFileSizeAt, kHeaderBytes + imageSize);
    WriteU32(out, kWidthAt, dstWidth);
    // Same orientation as the source: rows keep their stored order.
    WriteU32(out, kHeightAt, source.topDown ? 0u - dstHeight : dstHeight);
    WriteU32(out, kImageSizeAt, imageSize);
    // The destination's rows follow a plain 40-byte information header.
    WriteU32(out, kPixelOffsetAt, kHeaderBytes);
    WriteU32(out, kInfoSizeAt, kInfoHeaderSize);
    if (source.pixelOffset != kHeaderBytes) {
        // Colour counts describe a palette that is not carried over.
        std::fill_n(out.begin() + kColoursUsedAt, 8, std::uint8_t{0});
    }
}

}  // namespace pictrim
