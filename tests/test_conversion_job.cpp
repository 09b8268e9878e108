#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#include "bmp_fixture.h"
#include "engine/kernel_path.h"
#include "engine/ratio.h"
#include "platform/source_file.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;

// Every destination is an existing file's symbolic link: the job must write
// the linked file, keep its mode and leave no other file behind.
TEST(ConversionJob, EverySizeAndLayoutIsConvertedByteExact) {
    struct Source {
        std::uint32_t w, h;
        test::BmpOptions layout = {};
        int onlyIndex = -1;  // a position in the ratio list; -1: at every ratio
    };
    std::vector<Source> sources = {
        // Rows after a v5 header, after a palette, and stored top-down.
        {13, 9, {.infoHeaderSize = 124, .gapBytes = 12}}, {13, 9, {.gapBytes = 1024}}, {13, 9, {.topDown = true}},
        // Several bands. 300 wide at 33 % is 100 wide: a third exactly (a / 100 rule would give 99).
        {2001, 1503, {}, 5}, {2003, 1507, {}, 0}, {1201, 901, {}, 6}, {300, 5, {}, 4},
        // Rows too wide for one band: worked in tiles of columns, the last one narrower.
        {700003, 3, {}, 5}, {100007, 41, {}, 0}, {400001, 3, {}, 6},
    };
    // Widths over every remainder mod 4 and mod each step, rows left over,
    // and pictures down to one pixel.
    for (const std::uint32_t w : {1u, 2u, 3u, 4u, 5u, 21u, 23u, 41u})
        for (const std::uint32_t h : {1u, 2u, 22u}) sources.push_back({w, h});
    // A name at the file system's 255-byte limit is replaced too, at the end:
    // the temporary file's name does not grow with it.
    const std::string longName = std::string(251, 'n') + ".bmp";
    test::TempDir dir;
    test::WriteFileBytes(dir / "target.bmp", test::kOld);
#ifdef _WIN32
    const std::string dst = dir / "target.bmp";  // links need a privilege there
    std::vector<std::string> names = {longName, "src.bmp", "target.bmp"};
#else
    ::chmod((dir / "target.bmp").c_str(), 0640);
    fs::create_symlink("target.bmp", dir.path() / "dst.bmp");
    const std::string dst = dir / "dst.bmp";
    std::vector<std::string> names = {"dst.bmp", longName, "src.bmp", "target.bmp"};
#endif
    // On every path the kernels can take here.
    for (const KernelPath path : {KernelPath::Scalar, KernelPath::Ssse3, KernelPath::Avx2}) {
        if (path > BestKernelPath()) continue;
        UseKernelPathForTesting(path);
        for (const Source& s : sources) {
            const test::Picture src = test::RandomPicture(s.w, s.h, 3 * s.w + s.h);
            test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(src, s.layout));
            for (int index = 0; index < static_cast<int>(RatioList.size()); ++index) {
                if (s.onlyIndex >= 0 && index != s.onlyIndex) continue;
                SCOPED_TRACE(testing::Message() << KernelPathName(path) << " " << s.w << "x" << s.h << " row "
                                                << &s - sources.data() << " at " << index);
                const bool fits = s.w >= test::ReductionStep(index) && s.h >= test::ReductionStep(index);
                EXPECT_EQ(test::RunJob(dir / "src.bmp", dst, index),
                          fits ? "完了しました。" : "画像が小さすぎて、この縮小率では変換できません。");
                const test::Bytes written = test::ReadFileBytes(dir / "target.bmp");
                EXPECT_TRUE(!fits || written == test::ExpectedOutput(src, index, s.layout.topDown));
#ifndef _WIN32
                EXPECT_TRUE(fs::is_symlink(dir.path() / "dst.bmp"));
                EXPECT_EQ(fs::status(dir.path() / "target.bmp").permissions(), fs::perms(0640));
#endif
            }
        }
    }
    UseKernelPathForTesting(std::nullopt);
    test::WriteFileBytes(dir / longName, test::kOld);
    EXPECT_EQ(test::RunJob(dir / "src.bmp", dir / longName, 5), "完了しました。");
    EXPECT_EQ(dir.Names(), names);
}

// A file that appears under a new destination's name while the job runs
// belongs to somebody who was never asked: it stays, the result is dropped.
TEST(ConversionJob, ANameTakenMeanwhileIsNeverReplaced) {
    for (const int atRead : {1, 3}) {  // before the destination is opened; before the result is put in place
        SCOPED_TRACE(atRead);
        test::TempDir dir;
        test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(40, 30, 1)));
        platform::SetBeforeReadHookForTesting([&dir, atRead, reads = 0]() mutable {
            if (++reads == atRead) test::WriteFileBytes(dir / "dst.bmp", test::kOld);
        });
        EXPECT_EQ(test::RunJob(dir / "src.bmp", dir / "dst.bmp", 5),
                  dir / "dst.bmp" + " - 変換中に同じ名前のファイルが作られたため、保存しませんでした。");
        platform::SetBeforeReadHookForTesting({});
        EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp"), test::kOld);
        EXPECT_EQ(dir.Names(), (std::vector<std::string>{"dst.bmp", "src.bmp"}));
    }
}

}  // namespace
}  // namespace pictrim
