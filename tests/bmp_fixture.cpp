#include "bmp_fixture.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>

#include "engine/exec_thread.h"
#include "engine/ratio.h"
#include "platform/utf8_path.h"

namespace pictrim::test {

std::uint32_t U32At(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

void PutU32(Bytes& b, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes EncodeBmp(const Picture& picture, const BmpOptions& o) {
    const std::size_t row = (std::size_t{picture.width} * 3 + 3) / 4 * 4;
    const std::uint32_t offset = 14 + o.infoHeaderSize + o.gapBytes;
    const auto imageSize = static_cast<std::uint32_t>(row * picture.height);
    Bytes b(offset, 0x5A);
    b[0] = 'B';
    b[1] = 'M';
    const std::pair<std::size_t, std::uint32_t> fields[] = {
        {2, offset + imageSize}, {6, 0}, {10, offset}, {14, o.infoHeaderSize}, {18, picture.width},
        {22, o.topDown ? 0u - picture.height : picture.height}, {26, 1 | (24u << 16)}, {30, 0}, {34, imageSize},
        {38, 2835}, {42, 3780}, {46, o.gapBytes / 4}, {50, 0}};
    for (const auto& [at, value] : fields) PutU32(b, at, value);
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const auto* start = picture.bytes.data() + std::size_t{y} * picture.width * 3;
        b.insert(b.end(), start, start + std::size_t{picture.width} * 3);
        b.insert(b.end(), row - std::size_t{picture.width} * 3, o.padByte);
    }
    return b;
}

namespace {

Picture Blank(std::uint32_t width, std::uint32_t height) {
    return {width, height, Bytes(std::size_t{width} * height * 3)};
}

// The rules, written out plainly: averages of `step` pixels along each row,
// then of `step` of those down each column, each rounded down; and the
// enlargement's value of every new pixel.
Picture ReferenceReduce(const Picture& src, std::uint32_t step) {
    Picture out = Blank(src.width / step, src.height / step);
    for (std::uint32_t j = 0; j < out.height; ++j)
        for (std::uint32_t i = 0; i < out.width; ++i)
            for (int c = 0; c < 3; ++c) {
                unsigned column = 0;  // the block's row averages, each rounded down
                for (std::uint32_t y = j * step; y < (j + 1) * step; ++y) {
                    unsigned row = 0;
                    for (std::uint32_t x = i * step; x < (i + 1) * step; ++x) row += src.at(x, y, c);
                    column += row / step;
                }
                out.at(i, j, c) = static_cast<std::uint8_t>(column / step);
            }
    return out;
}

Picture ReferenceEnlarge(const Picture& src) {
    // Each new pixel averages the source pixels around it (one, two or four),
    // rounding down; past the last column or row there is no neighbour, so
    // the last new column and row repeat the ones before them. Summing a
    // 2 x 2 block in which a missing neighbour repeats the pixel gives the
    // same averages.
    Picture P = Blank(2 * src.width, 2 * src.height);
    for (std::uint32_t Y = 0; Y < P.height; ++Y)
        for (std::uint32_t X = 0; X < P.width; ++X)
            for (int c = 0; c < 3; ++c) {
                const std::uint32_t x = X / 2, y = Y / 2;
                const std::uint32_t x1 = std::min(x + X % 2, src.width - 1), y1 = std::min(y + Y % 2, src.height - 1);
                const unsigned sum = src.at(x, y, c) + src.at(x1, y, c) + src.at(x, y1, c) + src.at(x1, y1, c);
                P.at(X, Y, c) = static_cast<std::uint8_t>(sum / 4);
            }
    return P;
}

// The job's owner window: records every notice, answers Yes to every
// question, and stands in for the Execute button.
class FakeOwner : public platform::NoticeOwner, public platform::Window {
public:
    platform::NoticeAnswer ShowNotice(const platform::Notice& notice) override {
        shown.push_back(notice);
        onShow();
        return notice.buttons == platform::NoticeButtons::YesNo ? platform::NoticeAnswer::Yes
                                                                : platform::NoticeAnswer::Ok;
    }
    void EnableWindow(bool enable) override { enabled = enable; }
    std::vector<platform::Notice> shown;
    std::function<void()> onShow;  // runs while the notice is "on screen"
    bool enabled = true;
};

}  // namespace

Picture RandomPicture(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Picture p = Blank(width, height);
    for (auto& b : p.bytes) b = static_cast<std::uint8_t>(rng());
    return p;
}

std::uint32_t ReductionStep(int ratioIndex) {
    constexpr std::uint32_t kSteps[] = {20, 10, 5, 4, 3, 2, 1};  // 200 %: no reduction
    return kSteps[ratioIndex];
}

Bytes ExpectedOutput(const Picture& src, int ratioIndex, bool topDown) {
    const std::uint32_t step = ReductionStep(ratioIndex);
    const Picture out = step == 1 ? ReferenceEnlarge(src) : ReferenceReduce(src, step);
    return EncodeBmp(out, {.topDown = topDown, .padByte = 0});
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFileBytes(const std::string& path) { return ReadFileBytes(platform::PathFromUtf8(path)); }
void WriteFileBytes(const std::string& path, const Bytes& bytes) { WriteFileBytes(platform::PathFromUtf8(path), bytes); }

TempDir::TempDir() {
#ifdef _WIN32
    std::random_device random;
    for (int attempt = 0; attempt < 16 && m_path.empty(); ++attempt) {
        const auto name = "pictrim-test-" + std::to_string(random()) + std::to_string(random());
        if (std::filesystem::create_directory(std::filesystem::temp_directory_path() / name)) {
            m_path = std::filesystem::temp_directory_path() / name;
        }
    }
    if (m_path.empty()) throw std::runtime_error("no temporary folder");
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "pictrim-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
#endif
}

std::string TempDir::operator/(const std::string& name) const {
    return platform::Utf8Of(m_path / platform::PathFromUtf8(name));
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path)) names.push_back(platform::Utf8Of(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

std::string RunJob(const std::string& src, const std::string& dst, int index, int percent) {
    FakeOwner owner;
    CExecThread job({&owner, src, dst, &owner, percent != 0 ? percent : RatioList[index].percent, index});
    owner.onShow = [&] {
        EXPECT_EQ(job.m_bBusy, 1);
        EXPECT_FALSE(owner.enabled);
    };
    job.ConversionJob();
    EXPECT_EQ(job.m_bBusy, 0);
    EXPECT_TRUE(owner.enabled);
    const auto isOutcome = [](const platform::Notice& n) { return n.kind != platform::NoticeKind::Question; };
    EXPECT_EQ(std::count_if(owner.shown.begin(), owner.shown.end(), isOutcome), 1);
    return owner.shown.empty() ? "(no notice)" : owner.shown.back().text;
}

}  // namespace pictrim::test
