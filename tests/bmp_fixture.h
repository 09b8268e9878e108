#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// BMP files for tests, written from the file format alone so that they share
// nothing with the code under test.
namespace pictrim::test {

using Bytes = std::vector<std::uint8_t>;

// A picture as plain channel bytes, 3 per pixel, rows in stored order.
struct Picture {
    std::uint32_t width = 0, height = 0;
    Bytes bytes;
    std::uint8_t& at(std::uint32_t x, std::uint32_t y, int c) { return bytes[(std::size_t{y} * width + x) * 3 + c]; }
    std::uint8_t at(std::uint32_t x, std::uint32_t y, int c) const { return bytes[(std::size_t{y} * width + x) * 3 + c]; }
    friend bool operator==(const Picture&, const Picture&) = default;
};

Picture Blank(std::uint32_t width, std::uint32_t height);
Picture RandomPicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed);

struct BmpOptions {
    bool topDown = false;
    std::uint32_t infoHeaderSize = 40;
    std::uint32_t gapBytes = 0;    // a palette or colour profile before the rows
    std::uint8_t padByte = 0xEE;   // what the row padding holds
};

Bytes EncodeBmp(const Picture& picture, const BmpOptions& options = {});
std::uint32_t U32At(const Bytes& bytes, std::size_t at);
void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value);

// The rules, written out plainly: averages of `step` pixels along each row,
// then of `step` of those down each column, each rounded down; and the
// enlargement's value of every new pixel.
Picture ReferenceReduce(const Picture& src, std::uint32_t step);
Picture ReferenceEnlarge(const Picture& src);

// By position in the ratio list (5, 10, 20, 25, 33, 50, 200 %): the
// reduction step (1 for the enlargement), and the exact file Pictrim writes.
std::uint32_t ReductionStep(int ratioIndex);
Bytes ExpectedOutput(const Picture& src, int ratioIndex, bool topDown = false);

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    // Names in the folder, for spotting stray temporary files.
    std::vector<std::string> Names() const;

private:
    std::filesystem::path m_path;
};

}  // namespace pictrim::test
