// The public BMP Suite, read from beside the project when it is there.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "bmp_fixture.h"
#include "platform/utf8_path.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;

const fs::path kSuite = PICTRIM_BMPSUITE_DIR;

TEST(BmpSuite, TwentyFourBitFilesConvertAndEveryOtherFileIsRefused) {
    if (!fs::is_directory(kSuite / "g")) GTEST_SKIP() << "no BMP Suite at " << kSuite;
    const std::set<std::string> convertible = {"g/rgb24.bmp", "g/rgb24pal.bmp", "q/rgb24largepal.bmp",
                                               "q/rgb24prof.bmp", "q/rgb24lprof.bmp"};
    test::TempDir dir;
    for (const char* folder : {"b", "g", "q"}) {
        for (const auto& entry : fs::directory_iterator(kSuite / folder)) {
            const std::string name = std::string(folder) + "/" + entry.path().filename().string();
            SCOPED_TRACE(name);
            const test::Bytes file = test::ReadFileBytes(entry.path());
            if (!convertible.contains(name)) {
                // Good and questionable files are all of other depths: the notice says which.
                const std::size_t at = test::U32At(file, 14) == 12 ? 24 : 28;
                const std::string depth = std::to_string(file[at] | file[at + 1] << 8) + " color Bitmap - 非対応です。";
                const std::string told = test::RunJob(platform::Utf8Of(entry.path()), dir / "out.bmp", 5);
                EXPECT_TRUE(folder[0] == 'b' ? told != "完了しました。" : told == depth) << told;
                EXPECT_TRUE(dir.Names().empty());
                continue;
            }
            // The rows as the format lays them out, read here without the engine; the
            // result's resolution fields are the file's own, its rows exactly the rules'.
            const std::uint32_t offset = test::U32At(file, 10), w = test::U32At(file, 18), h = test::U32At(file, 22);
            test::Picture source{w, h, {}};
            for (std::uint32_t y = 0; y < h; ++y) {
                const auto row = file.begin() + offset + y * ((3 * w + 3) / 4 * 4);
                source.bytes.insert(source.bytes.end(), row, row + 3 * w);
            }
            for (int index = 0; index < 7; ++index) {
                EXPECT_EQ(test::RunJob(platform::Utf8Of(entry.path()), dir / "out.bmp", index), "完了しました。") << index;
                const test::Bytes expected = test::ExpectedOutput(source, index);
                const test::Bytes actual = test::ReadFileBytes(dir / "out.bmp");
                EXPECT_TRUE(std::equal(actual.begin() + 54, actual.end(), expected.begin() + 54, expected.end()));
                fs::remove(dir.path() / "out.bmp");
            }
        }
    }
}

}  // namespace
}  // namespace pictrim
