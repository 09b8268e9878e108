// What only Windows does to names and processes: UTF-16 names past 260
// characters, other spellings of one file, names that differ only in case,
// and a program ended from outside.
#include <gmock/gmock.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#include "bmp_fixture.h"
#include "cli_process.h"
#include "platform/utf8_path.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using platform::PathFromUtf8;
using test::Bytes;
using testing::HasSubstr;

std::string ShortName(const std::string& path) {
    const fs::path wide = PathFromUtf8(path);
    wchar_t shortName[MAX_PATH];
    const DWORD n = ::GetShortPathNameW(wide.c_str(), shortName, MAX_PATH);
    return n > 0 && n < MAX_PATH ? platform::Utf8Of(fs::path(shortName)) : std::string();
}

std::string Slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

TEST(Windows, LongJapaneseNamesAndOtherSpellingsOfTheSource) {
    test::TempDir dir;
    const test::Picture picture = test::RandomPicture(30, 20, 11);
    const Bytes bmp = test::EncodeBmp(picture);
    const std::string folder = dir / "写真";
    const std::string deep = folder + "\\" + std::string(120, 'd') + "\\" + std::string(120, 'e');
    fs::create_directories(PathFromUtf8(deep));
    const std::string src = folder + "\\元の写真 long name.bmp";
    test::WriteFileBytes(src, bmp);
    const std::string shortSrc = ShortName(src);
    ASSERT_FALSE(shortSrc.empty());
    ASSERT_NE(shortSrc, src);
    std::string upper = src;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
    const std::string done = "完了しました。";
    const auto refused = [](const std::string& dst) { return dst + " - ファイルが開けません。"; };
    const struct {
        const char* name;
        std::string src, dst, notice;
    } cases[] = {
        {"Japanese names", src, folder + "\\小さい写真.bmp", done},
        {"over 260 characters", src, deep + "\\" + std::string(100, 'f') + ".bmp", done},
        {"forward slashes", Slashed(src), Slashed(folder) + "/slashed.bmp", done},
        {"the \\\\?\\ prefix", "\\\\?\\" + src, "\\\\?\\" + folder + "\\prefixed.bmp", done},
        {"the source in capitals", src, upper, refused(upper)},
        {"the source by its short name", src, shortSrc, refused(shortSrc)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(test::RunJob(c.src, c.dst, 5), c.notice);
        if (c.notice == done) EXPECT_TRUE(test::ReadFileBytes(c.dst) == test::ExpectedOutput(picture, 5));
        EXPECT_TRUE(test::ReadFileBytes(src) == bmp);
    }
    for (const std::string& where : {folder, deep}) {
        for (const auto& entry : fs::directory_iterator(PathFromUtf8("\\\\?\\" + where))) {
            EXPECT_EQ(platform::Utf8Of(entry.path().filename()).rfind(".pictrim", 0), std::string::npos);
        }
    }
}

// NTFS takes Photo.bmp and photo.bmp for one name: the second result
// would replace the first.
TEST(Windows, BatchRefusesDestinationsThatDifferOnlyInCase) {
    test::TempDir dir;
    const test::Picture first = test::RandomPicture(20, 10, 1), second = test::RandomPicture(20, 10, 2);
    for (const char* folder : {"甲", "乙"}) fs::create_directory(PathFromUtf8(dir / folder));
    test::WriteFileBytes(dir / "甲/Photo.bmp", test::EncodeBmp(first));
    test::WriteFileBytes(dir / "乙/photo.bmp", test::EncodeBmp(second));
    const test::CliRun run =
        test::RunCliProcess(PICTRIM_CLI_PATH, {"-t", "出力", "甲/Photo.bmp", "乙/photo.bmp", "50"}, dir / "", dir / "");
    EXPECT_EQ(run.status, 1);
    // Redirected, the messages are UTF-8.
    EXPECT_EQ(run.out, "Pictrim: 甲/Photo.bmp -> 出力/Photo.bmp: 完了しました。\n");
    EXPECT_THAT(run.err, HasSubstr("Pictrim: 乙/photo.bmp: its destination 出力/photo.bmp is already that of 甲/Photo.bmp\n"));
    EXPECT_TRUE(test::ReadFileBytes(dir / "出力/Photo.bmp") == test::ExpectedOutput(first, 5));
    EXPECT_EQ(std::distance(fs::directory_iterator(PathFromUtf8(dir / "出力")), fs::directory_iterator()), 1);
}

// Killed at any moment: every destination is the old file or the complete
// new one, and no temporary file outlives the next run in the folder.
TEST(Windows, KilledBatchLeavesOldOrCompleteFilesOnly) {
    test::TempDir work, out;
    const test::Picture picture = test::RandomPicture(1500, 1000, 5);
    for (const char* name : {"1.bmp", "2.bmp", "3.bmp"}) test::WriteFileBytes(work / name, test::EncodeBmp(picture));
    const Bytes complete = test::ExpectedOutput(picture, 6);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(test::RunCliProcess(PICTRIM_CLI_PATH, {"-t", out / "", work / "1.bmp", "200"}, work / "").status, 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::mt19937 rng(20261207);
    for (int run = 0; run < 10; ++run) {
        for (const char* name : {"1.bmp", "2.bmp", "3.bmp"}) test::WriteFileBytes(out / name, test::kOld);
        const double seconds = took.count() * std::uniform_real_distribution<double>(0.0, 1.5)(rng);
        const test::CliRun result = test::RunCliProcess(
            PICTRIM_CLI_PATH, {"--yes", "-t", out / "", work / "1.bmp", work / "2.bmp", work / "3.bmp", "200"},
            work / "", "", seconds);
        SCOPED_TRACE(testing::Message() << "run " << run << ", status " << result.status << ": " << result.err);
        for (const char* name : {"1.bmp", "2.bmp", "3.bmp"}) {
            const Bytes now = test::ReadFileBytes(out / name);
            EXPECT_TRUE(now == test::kOld || now == complete) << name << ": " << now.size() << " bytes";
        }
    }
    ASSERT_EQ(test::RunCliProcess(PICTRIM_CLI_PATH, {"--yes", work / "1.bmp", out / "1.bmp", "200"}, work / "").status, 0);
    EXPECT_EQ(out.Names(), (std::vector<std::string>{"1.bmp", "2.bmp", "3.bmp"}));
}

}  // namespace
}  // namespace pictrim
