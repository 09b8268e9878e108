#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "bmp_fixture.h"
#include "engine/exec_thread.h"
#include "engine/ratio.h"
#include "fake_notices.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Picture;
using Texts = std::vector<std::string>;

const std::string kDone = "完了しました。";

Texts RunJob(const std::string& src, const std::string& dst, int index, test::FakeNotices notices = {}) {
    test::FakeButton button;
    CExecThread job({&notices, src, dst, &button, RatioList[index].percent, index});
    job.ConversionJob();
    EXPECT_EQ(job.m_bBusy, 0);
    EXPECT_TRUE(button.enabled);
    return notices.texts;
}

// The exact destination file for a source picture at a ratio.
Bytes Expected(const Picture& src, int index, bool topDown = false) {
    const Picture out =
        index == kEnlargeRatioIndex ? test::ReferenceEnlarge(src) : test::ReferenceReduce(src, StepTable[index]);
    return test::EncodeBmp(out, {.topDown = topDown, .padByte = 0});
}

TEST(ConversionJob, EverySizeAndLayoutAtEveryRatio) {
    test::TempDir dir;
    struct Source {
        std::uint32_t w, h;
        test::BmpOptions layout;
    };
    std::vector<Source> sources;
    // Widths over every remainder mod 4 and mod each step, rows left over,
    // and pictures down to one pixel.
    for (const std::uint32_t w : {1u, 2u, 3u, 4u, 5u, 21u, 23u, 41u})
        for (const std::uint32_t h : {1u, 2u, 22u}) sources.push_back({w, h, {}});
    for (const test::BmpOptions layout : {test::BmpOptions{.infoHeaderSize = 124, .gapBytes = 12},
                                          test::BmpOptions{.gapBytes = 1024}, test::BmpOptions{.topDown = true}})
        sources.push_back({13, 9, layout});
    for (const Source& s : sources) {
        const Picture src = test::RandomPicture(s.w, s.h, 3 * s.w + s.h);
        test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(src, s.layout));
        for (int index = 0; index < static_cast<int>(RatioList.size()); ++index) {
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " " << s.layout.infoHeaderSize << "/"
                                            << s.layout.gapBytes << "/" << s.layout.topDown << " at "
                                            << RatioList[index].text);
            fs::remove(dir.path() / "dst.bmp");
            const std::uint32_t step = index == kEnlargeRatioIndex ? 1 : StepTable[index];
            if (s.w < step || s.h < step) {
                EXPECT_EQ(RunJob(dir / "src.bmp", dir / "dst.bmp", index),
                          Texts{"画像が小さすぎて、この縮小率では変換できません。"});
                continue;
            }
            EXPECT_EQ(RunJob(dir / "src.bmp", dir / "dst.bmp", index), Texts{kDone});
            EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp"), Expected(src, index, s.layout.topDown));
        }
    }
}

TEST(ConversionJob, WorkedExamplesRoundDownAtEachStep) {
    test::TempDir dir;
    auto channel1 = [&](const Picture& src, int index) {
        test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(src));
        fs::remove(dir.path() / "dst.bmp");
        RunJob(dir / "src.bmp", dir / "dst.bmp", index);
        const Bytes out = test::ReadFileBytes(dir / "dst.bmp");
        const std::uint32_t w = test::U32At(out, 18), h = test::U32At(out, 22), stride = (3 * w + 3) / 4 * 4;
        Bytes values;
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) values.push_back(out[54 + y * stride + 3 * x + 1]);
        return values;
    };
    // Block 0 1 / 1 2: row averages 0 and 1, then 0 (the block's own mean is 1).
    EXPECT_EQ(channel1({2, 2, {0, 0, 0, 1, 1, 1, 1, 1, 1, 2, 2, 2}}, 5), Bytes{0});
    // 20 x 20 of x + y at 5 %: row averages 9 + y sum to 370, / 20 = 18.
    Picture ramp{20, 20, Bytes(1200)};
    for (std::uint32_t i = 0; i < 1200; ++i) ramp.bytes[i] = static_cast<std::uint8_t>(i / 3 % 20 + i / 60);
    EXPECT_EQ(channel1(ramp, 0), Bytes{18});
    // S = 10 20 / 30 41 doubled; 25 = 101 / 4, 30 = 61 / 2, 35 = 71 / 2.
    EXPECT_EQ(channel1({2, 2, {10, 10, 10, 20, 20, 20, 30, 30, 30, 41, 41, 41}}, 6),
              (Bytes{10, 15, 20, 20, 20, 25, 30, 30, 30, 35, 41, 41, 30, 35, 41, 41}));
}

TEST(ConversionJob, LargePicturesGoThroughSeveralBandsUnchanged) {
    test::TempDir dir;
    struct Case {
        std::uint32_t w, h;
        int index;
    };
    // 300 wide at 33 % is 100 wide: the third is exact (a / 100 rule would give 99).
    for (const Case c : {Case{2001, 1503, 5}, Case{2003, 1507, 0}, Case{1201, 901, 6}, Case{300, 5, 4}}) {
        const Picture src = test::RandomPicture(c.w, c.h, c.w + c.h);
        test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(src));
        fs::remove(dir.path() / "dst.bmp");
        EXPECT_EQ(RunJob(dir / "src.bmp", dir / "dst.bmp", c.index), Texts{kDone});
        EXPECT_TRUE(test::ReadFileBytes(dir / "dst.bmp") == Expected(src, c.index)) << c.w << "x" << c.h;
    }
}

TEST(ConversionJob, BusyAndExecuteDisabledUntilTheDoneNoticeIsDismissed) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(8, 8, 1)));
    test::FakeNotices notices;
    test::FakeButton button;
    CExecThread job({&notices, dir / "src.bmp", dir / "dst.bmp", &button, 50, 5});
    notices.onShow = [&] {
        EXPECT_EQ(job.m_bBusy, 1);
        EXPECT_FALSE(button.enabled);
        EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp").size(), 54u + 4 * 12);  // complete and in place
    };
    job.ConversionJob();
    EXPECT_EQ(notices.shown.at(0).kind, platform::NoticeKind::Completion);
    EXPECT_EQ(notices.shown.at(0).caption, "Pictrim");
    EXPECT_EQ(job.m_bBusy, 0);
    EXPECT_TRUE(button.enabled);
}

TEST(ConversionJob, ReplacingKeepsTheModeAndWritesThroughSymbolicLinks) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(10, 10, 2)));
    test::WriteFileBytes(dir / "target.bmp", {'o', 'l', 'd'});
    ::chmod((dir / "target.bmp").c_str(), 0640);
    fs::create_symlink("target.bmp", dir.path() / "link.bmp");
    const mode_t mask = ::umask(077);
    EXPECT_EQ(RunJob(dir / "src.bmp", dir / "link.bmp", 5).back(), kDone);
    EXPECT_EQ(RunJob(dir / "src.bmp", dir / "new.bmp", 5).back(), kDone);
    ::umask(mask);
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.bmp"));
    EXPECT_EQ(test::ReadFileBytes(dir / "target.bmp").size(), 54u + 5 * 16);
    EXPECT_EQ(fs::status(dir.path() / "target.bmp").permissions(), fs::perms(0640));
    EXPECT_EQ(fs::status(dir.path() / "new.bmp").permissions(), fs::perms(0600));
    EXPECT_EQ(dir.Names(), (Texts{"link.bmp", "new.bmp", "src.bmp", "target.bmp"}));
}

}  // namespace
}  // namespace pictrim
