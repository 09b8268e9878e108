// What only Windows does to names and processes: UTF-16 names past 260
// characters, other spellings of one file, names that differ only in case,
// and a program ended from outside.
#include <gmock/gmock.h>
#include <process.h>
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
        if (c.notice == done) {
            EXPECT_TRUE(test::ReadFileBytes(c.dst) == test::ExpectedOutput(picture, 5));
        }
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
    // Redirected, the messages are UTF-8, the paths absolute, with "\\" only.
    EXPECT_EQ(run.out, "Pictrim: " + dir / "甲\\Photo.bmp -> " + dir / "出力\\Photo.bmp: 完了しました。\n");
    EXPECT_THAT(run.err, HasSubstr(": its destination " + dir / "出力\\photo.bmp is already that of " + dir / "甲\\Photo.bmp\n"));
    EXPECT_TRUE(test::ReadFileBytes(dir / "出力/Photo.bmp") == test::ExpectedOutput(first, 5));
    EXPECT_EQ(std::distance(fs::directory_iterator(PathFromUtf8(dir / "出力")), fs::directory_iterator()), 1);
}

// Wine's name for a file on the Unix side ("/tmp/x"); empty on Windows.
std::string UnixName(const std::string& path) {
    using Call = char*(CDECL*)(const wchar_t*);
    // Through void(*)(): the one function type a FARPROC converts from without a warning.
    const auto call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    char* name = call ? call(PathFromUtf8(path).c_str()) : nullptr;
    const std::string unix = name ? name : "";
    if (name) ::HeapFree(::GetProcessHeap(), 0, name);
    return unix;
}

// A drive-relative name ("R:pic.bmp", "R:") is in that drive's current
// folder, whatever folder the program runs in, and a drive's root ends in
// its one "\" in both spellings. The test's own drive: a free letter mapped
// to a fresh folder (as subst does); Wine maps none, and there it is C:,
// whose root is the prefix's own, and the program runs on Z:.
TEST(Windows, DriveRelativePathsAndDriveRoots) {
    test::TempDir dir, work;
    for (const char* folder : {"sub", "cwd"}) fs::create_directories(PathFromUtf8(dir / folder));
    wchar_t letter[] = L"Y:";
    while (letter[0] > L'D' && (::GetLogicalDrives() >> (letter[0] - L'A') & 1) != 0) --letter[0];
    const bool mapped = UnixName(dir / "").empty() && ::DefineDosDeviceW(0, letter, PathFromUtf8(dir / "").c_str()) &&
                        ::GetFileAttributesW((std::wstring(letter) + L"\\sub").c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!mapped) ::DefineDosDeviceW(DDD_REMOVE_DEFINITION, letter, nullptr);
    const std::string d = mapped ? platform::Utf8Of(letter) : "C:", current = mapped ? d + "\\sub" : dir / "sub";
    const std::string root = mapped ? dir / "" : "C:\\", r = "\\\\?\\" + d + "\\";
    std::string cwd = mapped ? dir / "cwd" : "Z:" + UnixName(dir / "cwd");
    std::replace(cwd.begin(), cwd.end(), '/', '\\');
    if (cwd == "Z:") GTEST_SKIP() << "neither a drive of the test's own nor Wine's Z:";
    ::SetEnvironmentVariableW(PathFromUtf8("=" + d).c_str(), PathFromUtf8(current).c_str());
    const test::Picture picture = test::RandomPicture(40, 20, 8);
    const std::string tag = "pictrim-" + std::to_string(::GetCurrentProcessId()), done = ": 完了しました。\n";
    const std::string k = work / "keep.bmp", p = dir / "sub\\pic.bmp", c = current + "\\";
    for (const std::string& at : {p, k, root + tag + ".bmp"}) test::WriteFileBytes(at, test::EncodeBmp(picture));
    const struct {
        std::vector<std::string> args;
        std::string out, result;
    } cases[] = {
        {{"--suffix", "_half", d + "pic.bmp", "50"}, c + "pic.bmp -> " + c + "pic_half.bmp" + done, dir / "sub\\pic_half.bmp"},
        {{"-t", d, Slashed(k), "50"}, k + " -> " + c + "keep.bmp" + done, dir / "sub\\keep.bmp"},
        {{"-t", "out", d, "50"}, c + "pic.bmp -> " + cwd + "\\out\\pic.bmp" + done, dir / "cwd\\out\\pic.bmp"},
        {{k, d + "\\" + tag + "-1.bmp", "50"}, done, root + tag + "-1.bmp"},
        {{k, r + tag + "-2.bmp", "50"}, done, root + tag + "-2.bmp"},
        {{"--suffix", "_q", r + tag + ".bmp", "50"}, r + tag + ".bmp -> " + r + tag + "_q.bmp" + done, root + tag + "_q.bmp"},
        {{"-t", r, Slashed(p), "50"}, p + " -> " + r + "pic.bmp" + done, root + "pic.bmp"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        const test::CliRun run = test::RunCliProcess(PICTRIM_CLI_PATH, row.args, work / "", cwd);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_THAT(run.out, HasSubstr(row.out));
        EXPECT_TRUE(test::ReadFileBytes(row.result) == test::ExpectedOutput(picture, 5));
        if (!mapped) fs::remove(PathFromUtf8(row.result));
    }
    mapped ? ::DefineDosDeviceW(DDD_REMOVE_DEFINITION, letter, nullptr) : fs::remove(PathFromUtf8(root + tag + ".bmp"));
}

// A list with a byte-order mark and a name in Shift-JIS, a folder deeper
// than 260 characters and a link back to its parent: the name is refused,
// the rest converts once, and nothing aborts.
TEST(Windows, ListsAndWalksThatWindowsMakesHard) {
    test::TempDir dir;
    const std::string deep = dir / "tree\\" + std::string(250, 'g');
    fs::create_directories(PathFromUtf8(deep));
    const test::Picture picture = test::RandomPicture(40, 20, 9);
    test::WriteFileBytes(deep + "\\a.bmp", test::EncodeBmp(picture));
    const std::string list = "\xEF\xBB\xBF" + dir / "tree" + '\0' + "\x94L.bmp" + '\0';
    test::WriteFileBytes(dir / "list", Bytes(list.begin(), list.end()));
    // Windows makes a link in developer mode only; Wine 8 makes none (and
    // says it did), but starts Unix programs, and does not wait for them.
    const std::wstring link = PathFromUtf8(dir / "tree\\up").wstring();
    const std::string unixTree = UnixName(dir / "tree");
    ::CreateSymbolicLinkW(link.c_str(), L"..", SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if (!unixTree.empty() && ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ::_wspawnl(_P_WAIT, L"/bin/ln", L"ln", L"-s", L"..", PathFromUtf8(unixTree + "/up").c_str(), nullptr);
        for (int i = 0; i < 6000 && ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(10);
        ASSERT_NE(::GetFileAttributesW(link.c_str()), INVALID_FILE_ATTRIBUTES) << "no link made";
    }
    const test::CliRun run =
        test::RunCliProcess(PICTRIM_CLI_PATH, {"-R", "-t", "out", "--files0-from", "list", "50"}, dir / "", dir / "");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("Pictrim: \\x94L.bmp: a file name that is not UTF-8\n"));
    EXPECT_THAT(run.err, HasSubstr("1 converted, 0 skipped, 1 refused, 0 failed"));
    EXPECT_TRUE(test::ReadFileBytes(dir / "out\\" + std::string(250, 'g') + "\\a.bmp") == test::ExpectedOutput(picture, 5));
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
