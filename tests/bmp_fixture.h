#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Building and reading BMP files in tests, written from the file format
// alone so that it shares nothing with the code under test.
namespace pictrim::test {

// A picture as plain channel bytes, 3 per pixel, rows in stored order.
struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> bytes;

    std::uint8_t& at(std::uint32_t x, std::uint32_t y, int c) { return bytes[(std::size_t{y} * width + x) * 3 + c]; }
    std::uint8_t at(std::uint32_t x, std::uint32_t y, int c) const {
        return bytes[(std::size_t{y} * width + x) * 3 + c];
    }
    friend bool operator==(const Picture&, const Picture&) = default;
};

Picture MakePicture(std::uint32_t width, std::uint32_t height,
                    const std::function<std::uint8_t(std::uint32_t, std::uint32_t, int)>& value);
Picture RandomPicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed);

struct BmpOptions {
    bool topDown = false;
    std::uint32_t infoHeaderSize = 40;
    std::uint32_t gapBytes = 0;  // a palette or colour profile before the rows
    std::uint16_t bitsPerPixel = 24;
    std::uint32_t compression = 0;
    std::uint8_t padByte = 0xEE;  // what the source's row padding holds
};

std::vector<std::uint8_t> EncodeBmp(const Picture& picture, const BmpOptions& options = {});

// Decodes a 24-bit file as written by Pictrim; fails the current test (and
// returns an empty picture) when the layout is off or a pad byte is not 0.
Picture DecodeBmp(const std::vector<std::uint8_t>& file);

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at);

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

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
    std::vector<std::string> Names() const { return NamesIn(m_path); }
    static std::vector<std::string> NamesIn(const std::filesystem::path& folder);

private:
    std::filesystem::path m_path;
};

}  // namespace pictrim::test
