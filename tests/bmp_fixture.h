#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What the tests share: BMP files and the expected results, written from the
// file format alone so that they share nothing with the code under test;
// scratch folders; and a runner for one conversion job.
namespace pictrim::test {

using Bytes = std::vector<std::uint8_t>;

// What a destination holds before a job that must leave it alone.
inline const Bytes kOld{'o', 'l', 'd'};

// A picture as plain channel bytes, 3 per pixel, rows in stored order.
struct Picture {
    std::uint32_t width = 0, height = 0;
    Bytes bytes;
    std::uint8_t& at(std::uint32_t x, std::uint32_t y, int c) { return bytes[(std::size_t{y} * width + x) * 3 + c]; }
    std::uint8_t at(std::uint32_t x, std::uint32_t y, int c) const {
        return bytes[(std::size_t{y} * width + x) * 3 + c];
    }
    friend bool operator==(const Picture&, const Picture&) = default;
};

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

// By position in the ratio list (5, 10, 20, 25, 33, 50, 200 %): the
// reduction step (1 for the enlargement), and the exact file Pictrim writes,
// computed from the rules written out plainly (see bmp_fixture.cpp).
std::uint32_t ReductionStep(int ratioIndex);
Bytes ExpectedOutput(const Picture& src, int ratioIndex, bool topDown = false);

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
// The same for UTF-8 paths, as the program takes them.
Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::string operator/(const std::string& name) const;  // in UTF-8
    // Names in the folder (UTF-8), for spotting stray temporary files.
    std::vector<std::string> Names() const;

private:
    std::filesystem::path m_path;
};

// Runs one conversion job at a position of the ratio list (with the listed
// percent unless another is given) and returns the text of its outcome.
// Checks on the way that the job counts as busy, with Execute disabled, while
// any notice is up; that it tells exactly one outcome; and that it ends idle
// with Execute enabled again.
std::string RunJob(const std::string& src, const std::string& dst, int ratioIndex, int percent = 0);

}  // namespace pictrim::test
