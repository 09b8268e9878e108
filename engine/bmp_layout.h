#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The one uncompressed 24-bit BMP layout that Pictrim reads and writes.
// Rows are stored in file order and each is padded to a multiple of 4 bytes;
// channels are named by their stored position c = 0, 1, 2 (blue, green, red).
namespace pictrim {

inline constexpr std::uint32_t kFileHeaderSize = 14;
inline constexpr std::uint32_t kInfoHeaderSize = 40;
inline constexpr std::uint32_t kHeaderBytes = kFileHeaderSize + kInfoHeaderSize;  // 54

// 3w + (w mod 4): the (w mod 4) pad bytes bring 3w up to a multiple of 4.
constexpr std::uint64_t RowStride(std::uint64_t w) { return 3 * w + (w % 4); }
constexpr std::uint64_t ImageSize(std::uint64_t w, std::uint64_t h) { return RowStride(w) * h; }

// Index of channel byte (x, y) in a buffer holding a w-wide image whose
// channel c starts at offset (54 + c in a whole-file buffer, c in bare rows).
constexpr std::size_t PixelRef(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::size_t offset) {
    return offset + 3 * std::size_t{x} + std::size_t{y} * static_cast<std::size_t>(RowStride(w));
}

inline std::uint8_t GetChannel(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::size_t offset,
                               const std::uint8_t* buffer) {
    return buffer[PixelRef(x, y, w, offset)];
}

inline void PutChannel(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::size_t offset, std::uint8_t* buffer,
                       int value) {
    buffer[PixelRef(x, y, w, offset)] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t at);
std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t at);
void WriteU32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value);

// The signature test: 'B' then 'M'.
bool HasBitmapSignature(std::span<const std::uint8_t> firstBytes);

enum class HeaderError {
    None,
    Truncated,        // shorter than the headers or than the rows they describe
    BadDepth,         // bits per pixel other than 24
    BadInfoHeader,    // information header under 40 bytes
    CoreHeader,       // the 12-byte OS/2 header: a valid file, not one of ours
    Compressed,       // compression other than none
    EmptyImage,       // width or height 0
    BadPixelOffset,   // rows said to start inside the headers or past the end
    TooLarge,         // a size that does not fit the format's 32-bit fields
};

struct SourceLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;     // magnitude; see topDown
    bool topDown = false;         // stored with a negative height
    std::uint16_t bitsPerPixel = 0;
    std::uint32_t pixelOffset = 0;
    std::uint32_t infoHeaderSize = 0;
    std::uint32_t imageSize = 0;  // ImageSize(width, height)

    // Bytes of the file that hold the headers and every pixel row.
    std::uint64_t BytesUsed() const { return std::uint64_t{pixelOffset} + imageSize; }
};

struct HeaderCheck {
    HeaderError error = HeaderError::None;
    SourceLayout layout;
};

// Checks the first 54 bytes of a file of fileLength bytes that passed the
// signature test. The depth is checked first, so that a file of another
// depth is named as such.
HeaderCheck CheckSourceHeader(std::span<const std::uint8_t> header, std::uint64_t fileLength);

// The destination's 54 bytes: the source's own, with the sizes rewritten and
// the rows declared to start right after a 40-byte information header.
void BuildDestinationHeader(std::span<const std::uint8_t> sourceHeader, const SourceLayout& source,
                            std::uint32_t dstWidth, std::uint32_t dstHeight, std::span<std::uint8_t> out);

}  // namespace pictrim
