#include "bmp_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace pictrim::test {

namespace {
void Put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(v & 0xFF);
    b.push_back(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}
std::size_t PaddedRow(std::uint32_t width) { return (std::size_t{width} * 3 + 3) / 4 * 4; }
}  // namespace

Picture MakePicture(std::uint32_t width, std::uint32_t height,
                    const std::function<std::uint8_t(std::uint32_t, std::uint32_t, int)>& value) {
    Picture p{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3)};
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) p.at(x, y, c) = value(x, y, c);
    return p;
}

Picture RandomPicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Picture p{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3)};
    for (auto& b : p.bytes) b = static_cast<std::uint8_t>(rng());
    return p;
}

std::vector<std::uint8_t> EncodeBmp(const Picture& picture, const BmpOptions& o) {
    const std::size_t row = PaddedRow(picture.width);
    const std::uint32_t offset = 14 + o.infoHeaderSize + o.gapBytes;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(row * picture.height);
    std::vector<std::uint8_t> b;
    b.push_back('B');
    b.push_back('M');
    Put32(b, offset + imageSize);
    Put32(b, 0);
    Put32(b, offset);
    Put32(b, o.infoHeaderSize);
    Put32(b, picture.width);
    Put32(b, o.topDown ? 0u - picture.height : picture.height);
    Put16(b, 1);
    Put16(b, o.bitsPerPixel);
    Put32(b, o.compression);
    Put32(b, imageSize);
    Put32(b, 2835);
    Put32(b, 3780);
    Put32(b, o.gapBytes / 4);  // colours used: the "palette" in the gap
    Put32(b, 0);
    while (b.size() < offset) b.push_back(0x5A);
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const auto* start = picture.bytes.data() + std::size_t{y} * picture.width * 3;
        b.insert(b.end(), start, start + std::size_t{picture.width} * 3);
        b.insert(b.end(), row - std::size_t{picture.width} * 3, o.padByte);
    }
    return b;
}

std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

Picture DecodeBmp(const std::vector<std::uint8_t>& file) {
    Picture p;
    if (file.size() < 54) {
        ADD_FAILURE() << "file of " << file.size() << " bytes";
        return p;
    }
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(U32At(file, 10), 54u) << "pixel offset";
    EXPECT_EQ(U32At(file, 14), 40u) << "information header size";
    const std::uint32_t width = U32At(file, 18);
    const auto rawHeight = static_cast<std::int32_t>(U32At(file, 22));
    const std::uint32_t height = static_cast<std::uint32_t>(rawHeight < 0 ? -std::int64_t{rawHeight} : rawHeight);
    const std::size_t row = PaddedRow(width);
    EXPECT_EQ(U32At(file, 2), file.size()) << "file size field";
    EXPECT_EQ(U32At(file, 34), row * height) << "image size field";
    if (file.size() != 54 + row * height) {
        ADD_FAILURE() << "file length " << file.size() << " for " << width << "x" << height;
        return p;
    }
    p = Picture{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3)};
    for (std::uint32_t y = 0; y < height; ++y) {
        const auto* start = file.data() + 54 + y * row;
        std::copy_n(start, std::size_t{width} * 3, p.bytes.begin() + std::size_t{y} * width * 3);
        for (std::size_t k = std::size_t{width} * 3; k < row; ++k) EXPECT_EQ(start[k], 0) << "pad byte in row " << y;
    }
    return p;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pictrim-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::NamesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace pictrim::test
