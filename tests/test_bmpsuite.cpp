// The public BMP Suite, read from beside the project when it is there.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "bmp_fixture.h"
#include "engine/exec_thread.h"
#include "engine/ratio.h"
#include "fake_notices.h"
#include "reference_resize.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;

const fs::path kSuite = PICTRIM_BMPSUITE_DIR;
const std::set<std::string> kConvertible = {"g/rgb24.bmp", "g/rgb24pal.bmp", "q/rgb24largepal.bmp", "q/rgb24prof.bmp",
                                            "q/rgb24lprof.bmp"};

std::vector<std::string> SuiteFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kSuite / folder))
        if (entry.path().extension() == ".bmp") names.push_back(folder + "/" + entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The pixels as the format describes them, read without the engine.
test::Picture PixelsOf(const std::vector<std::uint8_t>& file) {
    const std::uint32_t offset = test::U32At(file, 10), width = test::U32At(file, 18), height = test::U32At(file, 22);
    const std::size_t stride = (std::size_t{width} * 3 + 3) / 4 * 4;
    return test::MakePicture(width, height, [&](auto x, auto y, int c) { return file[offset + y * stride + 3 * x + c]; });
}

class BmpSuite : public testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(kSuite / "g")) GTEST_SKIP() << "no BMP Suite at " << kSuite;
    }

    std::vector<platform::Notice> Convert(const std::string& name, const std::string& dst, int index) {
        test::FakeNotices notices;
        test::FakeButton button;
        CExecThread job({&notices, (kSuite / name).string(), dst, &button, RatioList[index].percent, index});
        job.ConversionJob();
        return notices.shown;
    }

    test::TempDir m_dir;
};

TEST_F(BmpSuite, TwentyFourBitFilesConvertAtEveryRatio) {
    for (const std::string& name : kConvertible) {
        const test::Picture source = PixelsOf(test::ReadFileBytes(kSuite / name));
        for (int index = 0; index < static_cast<int>(RatioList.size()); ++index) {
            SCOPED_TRACE(name + " at " + std::string(RatioList[index].text));
            const std::string dst = m_dir / "out.bmp";
            const auto shown = Convert(name, dst, index);
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].kind, platform::NoticeKind::Completion);
            const test::Picture expected = index == kEnlargeRatioIndex ? test::ReferenceEnlarge(source)
                                                                       : test::ReferenceReduce(source, StepTable[index]);
            EXPECT_EQ(test::DecodeBmp(test::ReadFileBytes(dst)), expected);
            fs::remove(dst);
        }
    }
}

TEST_F(BmpSuite, EveryOtherFileIsRefusedWithoutAnOutput) {
    std::vector<std::string> names = SuiteFiles("b");
    for (const auto& folder : {"g", "q"})
        for (const auto& name : SuiteFiles(folder))
            if (!kConvertible.contains(name)) names.push_back(name);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const auto shown = Convert(name, m_dir / "out.bmp", 5);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].kind, platform::NoticeKind::Failure);
        EXPECT_TRUE(m_dir.Names().empty());
        if (name[0] != 'b') {
            // Good and questionable files are all of other depths: say which.
            const auto file = test::ReadFileBytes(kSuite / name);
            const bool core = test::U32At(file, 14) == 12;
            const unsigned bits = file[core ? 24 : 28] | (file[core ? 25 : 29] << 8);
            EXPECT_EQ(shown[0].text, std::to_string(bits) + " color Bitmap - 非対応です。");
        }
    }
}

}  // namespace
}  // namespace pictrim
