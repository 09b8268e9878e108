#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "bmp_fixture.h"
#include "engine/ratio.h"
#include "job_harness.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Picture;

const std::string kDone = "完了しました。";

TEST(ConversionJob, EverySizeAndLayoutIsConvertedByteExact) {
    struct Source {
        std::uint32_t w, h;
        test::BmpOptions layout = {};
        int onlyIndex = -1;  // a position in the ratio list; -1: at every ratio
    };
    std::vector<Source> sources;
    // Widths over every remainder mod 4 and mod each step, rows left over,
    // and pictures down to one pixel.
    for (const std::uint32_t w : {1u, 2u, 3u, 4u, 5u, 21u, 23u, 41u})
        for (const std::uint32_t h : {1u, 2u, 22u}) sources.push_back({w, h});
    sources.insert(sources.end(), {
        // Rows after a v5 header, after a palette, and stored top-down.
        {13, 9, {.infoHeaderSize = 124, .gapBytes = 12}},
        {13, 9, {.gapBytes = 1024}},
        {13, 9, {.topDown = true}},
        // Several bands. 300 wide at 33 % is 100 wide: a third exactly (a / 100 rule would give 99).
        {2001, 1503, {}, 5},
        {2003, 1507, {}, 0},
        {1201, 901, {}, 6},
        {300, 5, {}, 4},
    });
    test::TempDir dir;
    for (const Source& s : sources) {
        const Picture src = test::RandomPicture(s.w, s.h, 3 * s.w + s.h);
        test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(src, s.layout));
        for (int index = 0; index < static_cast<int>(RatioList.size()); ++index) {
            if (s.onlyIndex >= 0 && index != s.onlyIndex) continue;
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " " << s.layout.infoHeaderSize << "/"
                                            << s.layout.gapBytes << "/" << s.layout.topDown << " at "
                                            << RatioList[index].text);
            fs::remove(dir.path() / "dst.bmp");
            const bool fits = s.w >= test::ReductionStep(index) && s.h >= test::ReductionStep(index);
            EXPECT_EQ(test::RunJob(dir / "src.bmp", dir / "dst.bmp", index),
                      fits ? kDone : "画像が小さすぎて、この縮小率では変換できません。");
            if (fits) {
                EXPECT_TRUE(test::ReadFileBytes(dir / "dst.bmp") == test::ExpectedOutput(src, index, s.layout.topDown));
            }
        }
    }
}

// Worked by hand, these pin the reference rules that every conversion above is compared with.
TEST(ConversionJob, ReferenceRulesRoundDownAtEachStep) {
    const auto grey = [](std::uint32_t w, std::uint32_t h, const Bytes& values) {
        Picture p = test::Blank(w, h);
        for (std::size_t i = 0; i < p.bytes.size(); ++i) p.bytes[i] = values[i / 3];
        return p;
    };
    // Block 0 1 / 1 2: row averages 0 and 1, then 0 (the block's own mean is 1).
    EXPECT_EQ(test::ReferenceReduce(grey(2, 2, {0, 1, 1, 2}), 2), grey(1, 1, {0}));
    // S = 10 20 / 30 41 doubled; 25 = 101 / 4, 30 = 61 / 2, 35 = 71 / 2.
    EXPECT_EQ(test::ReferenceEnlarge(grey(2, 2, {10, 20, 30, 41})),
              grey(4, 4, {10, 15, 20, 20, 20, 25, 30, 30, 30, 35, 41, 41, 30, 35, 41, 41}));
}

TEST(ConversionJob, ReplacingKeepsTheModeAndWritesThroughSymbolicLinks) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(10, 10, 2)));
    test::WriteFileBytes(dir / "target.bmp", {'o', 'l', 'd'});
    ::chmod((dir / "target.bmp").c_str(), 0640);
    fs::create_symlink("target.bmp", dir.path() / "link.bmp");
    const mode_t mask = ::umask(077);
    EXPECT_EQ(test::RunJob(dir / "src.bmp", dir / "link.bmp", 5), kDone);
    EXPECT_EQ(test::RunJob(dir / "src.bmp", dir / "new.bmp", 5), kDone);
    ::umask(mask);
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.bmp"));
    EXPECT_EQ(test::ReadFileBytes(dir / "target.bmp").size(), 54u + 5 * 16);
    EXPECT_EQ(fs::status(dir.path() / "target.bmp").permissions(), fs::perms(0640));
    EXPECT_EQ(fs::status(dir.path() / "new.bmp").permissions(), fs::perms(0600));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"link.bmp", "new.bmp", "src.bmp", "target.bmp"}));
}

}  // namespace
}  // namespace pictrim
