#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "bmp_fixture.h"
#include "engine/ratio.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
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
        {2001, 1503, {}, 5}, {2003, 1507, {}, 0}, {1201, 901, {}, 6}, {300, 5, {}, 4},
    });
    test::TempDir dir;
    for (const Source& s : sources) {
        const Picture src = test::RandomPicture(s.w, s.h, 3 * s.w + s.h);
        test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(src, s.layout));
        for (int index = 0; index < static_cast<int>(RatioList.size()); ++index) {
            if (s.onlyIndex >= 0 && index != s.onlyIndex) continue;
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " " << s.layout.infoHeaderSize << "/"
                                            << s.layout.gapBytes << "/" << s.layout.topDown << " at " << index);
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

TEST(ConversionJob, ReplacingKeepsTheModeAndWritesThroughSymbolicLinks) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(10, 10, 2)));
    test::WriteFileBytes(dir / "target.bmp", test::kOld);
    ::chmod((dir / "target.bmp").c_str(), 0640);
    fs::create_symlink("target.bmp", dir.path() / "link.bmp");
    EXPECT_EQ(test::RunJob(dir / "src.bmp", dir / "link.bmp", 5), kDone);
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.bmp"));
    EXPECT_EQ(test::ReadFileBytes(dir / "target.bmp").size(), 54u + 5 * 16);
    EXPECT_EQ(fs::status(dir.path() / "target.bmp").permissions(), fs::perms(0640));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"link.bmp", "src.bmp", "target.bmp"}));
}

}  // namespace
}  // namespace pictrim
