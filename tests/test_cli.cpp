#include <gmock/gmock.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <random>
#include <tuple>

#include "bmp_fixture.h"
#include "cli_process.h"
#include "pictrim_version.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using testing::HasSubstr, testing::IsEmpty, testing::StartsWith;

// Runs pictrim-cli through the shell, in folder `cwd` and after `prefix`
// (another command that runs it), with stdin from /dev/null: never a
// terminal. Returns the exit status, stdout and stderr.
std::tuple<int, std::string, std::string> RunCli(const test::TempDir& dir, const std::vector<std::string>& args,
                                                 const std::string& prefix = "", const std::string& cwd = "") {
#ifdef _WIN32
    if (!prefix.empty()) ADD_FAILURE() << "no shell to run " << prefix;
    const test::CliRun run = test::RunCliProcess(PICTRIM_CLI_PATH, args, dir / "", cwd);
    return {run.status, run.out, run.err};
#else
    std::string command = (cwd.empty() ? "" : "cd '" + cwd + "' && ") + prefix + PICTRIM_CLI_PATH;
    for (const std::string& arg : args) command += " '" + arg + "'";
    const int status = std::system((command + " </dev/null >" + dir / "stdout" + " 2>" + dir / "stderr").c_str());
    const Bytes out = test::ReadFileBytes(dir / "stdout"), err = test::ReadFileBytes(dir / "stderr");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
#endif
}

// Runs the program without /proc, where it cannot make unnamed temporary
// files and falls back to named ones (as root, in a mount namespace).
const std::string kNoProc = "unshare -m sh -c 'mount -t tmpfs none /proc && exec \"$0\" \"$@\"' ";
bool CanHideProc() {
#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
    return false;  // the sanitizers read their options and threads from /proc; Windows has none
#else
    return std::system("unshare -m true 2>/dev/null") == 0;
#endif
}

TEST(Cli, CommandLinesOutputsAndExitStatuses) {
    test::TempDir dir;
    const test::Picture picture = test::RandomPicture(40, 20, 1);
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(picture));
    test::WriteFileBytes(dir / "old.bmp", test::kOld);
    const std::string src = dir / "src.bmp", dst = dir / "dst.bmp", old = dir / "old.bmp", none = dir / "none.bmp";
    const auto done = testing::Eq("Pictrim: 完了しました。\n");
    const auto usage = HasSubstr("Try 'pictrim-cli --help'");
    const std::string question = "Pictrim: " + old + " は既に存在します。上書きしますか？\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        testing::Matcher<std::string> out, err;
    };
    const Case cases[] = {
        {{}, 2, IsEmpty(), usage},
        {{src, dst}, 2, IsEmpty(), usage},
        {{src, dst, "75%"}, 2, IsEmpty(), usage},
        {{"--bogus", src, dst, "50%"}, 2, IsEmpty(), usage},
        {{"--yes", "--no", src, dst, "50%"}, 2, IsEmpty(), usage},
        {{"--help"}, 0, StartsWith("Usage: pictrim-cli"), IsEmpty()},
        {{"--version"}, 0, std::string("pictrim-cli ") + kVersionString + "\n", IsEmpty()},
        {{src, dst, "5"}, 0, done, IsEmpty()},
        {{"--yes", src, dst, "33%"}, 0, done, testing::_},
        {{"--yes", src, dst, "200"}, 0, done, testing::_},
        {{none, dir / "new.bmp", "50%"}, 1, IsEmpty(), "Pictrim: " + none + " - ファイルが開けません。\n"},
        // Without a terminal the overwrite question is declined, and the notice says how to answer it.
        {{src, old, "50%"}, 1, IsEmpty(), AllOf(StartsWith(question), HasSubstr("--yes"))},
        {{"--no", src, old, "50%"}, 1, IsEmpty(), AllOf(StartsWith(question), HasSubstr("--no"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto [status, out, err] = RunCli(dir, c.args);
        EXPECT_EQ(status, c.status);
        EXPECT_THAT(out, c.out);
        EXPECT_THAT(err, c.err);
    }
    EXPECT_TRUE(test::ReadFileBytes(dst) == test::ExpectedOutput(picture, 6));  // the last conversion, 200 %
    EXPECT_EQ(test::ReadFileBytes(old), test::kOld);
}

// The batch form, run after run on one folder tree. A folder gives its .bmp
// files (any case), with -R its subfolders' too, mirrored under -t; a link to
// a folder is not walked; a named file converts whatever its name.
TEST(Cli, Batches) {
    test::TempDir dir;
    const fs::path root = dir.path();
    fs::create_directories(root / "photos/sub");
#ifndef _WIN32  // links need a privilege there
    fs::create_directory_symlink("..", root / "photos/sub/loop");
#endif
    const test::Picture picture = test::RandomPicture(40, 20, 2);
    for (const char* name : {"photos/a.bmp", "photos/B.BMP", "photos/sub/c.bmp", "photos/pic.dat"})
        test::WriteFileBytes(root / name, test::EncodeBmp(picture));
    test::WriteFileBytes(root / "photos/notes.txt", test::kOld);
    test::WriteFileBytes(root / "list", {'p', 'h', 'o', 't', 'o', 's', '/', 'a', '.', 'b', 'm', 'p', 0});
    const auto converted = [](const char* src, const char* dst) {
        return HasSubstr(std::string("Pictrim: photos/") + src + " -> " + dst + ": 完了しました。\n");
    };
    const auto summary = [](const char* counts) { return HasSubstr(std::string("pictrim-cli: ") + counts + " in "); };
    struct Case {
        std::vector<std::string> args;
        int status;
        testing::Matcher<std::string> out, err;
    };
    const Case cases[] = {
        {{"-t", "out", "photos", "50%"}, 0, AllOf(converted("a.bmp", "out/a.bmp"), converted("B.BMP", "out/B.BMP")),
         summary("2 converted, 0 skipped, 0 refused, 0 failed")},
        {{"-R", "-t", "out", "photos", "photos/pic.dat", "50%"}, 0, converted("sub/c.bmp", "out/sub/c.bmp"),
         AllOf(HasSubstr("photos/a.bmp: skipped: out/a.bmp exists"), summary("2 converted, 2 skipped, 0 refused, 0 failed"))},
        {{"-R", "-t", "out", "photos", "50%"}, 0, IsEmpty(), summary("0 converted, 3 skipped, 0 refused, 0 failed")},
        {{"-q", "--yes", "-t", "out", "photos", "50%"}, 0, IsEmpty(), summary("2 converted, 0 skipped, 0 refused, 0 failed")},
        {{"-n", "-R", "-t", "none", "photos", "50"}, 0, HasSubstr("photos/sub/c.bmp -> none/sub/c.bmp\n"),
         HasSubstr("dry run: 3 to convert")},
        {{"--suffix", "_s", "photos/a.bmp", "photos/notes.txt", "./photos/a.bmp", "50"}, 1,
         converted("a.bmp", "photos/a_s.bmp"),
         AllOf(HasSubstr("photos/notes.txt: Bitmapファイル以外には対応していません。"),
               HasSubstr("./photos/a.bmp: its destination ./photos/a_s.bmp is already that of photos/a.bmp"),
               summary("1 converted, 0 skipped, 2 refused, 0 failed"))},
        {{"--suffix", "_s", "photos/a.bmp", "photos/a_s.bmp", "50"}, 1, converted("a_s.bmp", "photos/a_s_s.bmp"),
         HasSubstr("photos/a.bmp: its destination photos/a_s.bmp is another source, photos/a_s.bmp")},
        {{"--files0-from", "list", "-p", "-t", "dated", "50"}, 0, converted("a.bmp", "dated/a.bmp"), testing::_},
        {{"-R", "a", "b", "50"}, 2, IsEmpty(), HasSubstr("need -t FOLDER or --suffix TEXT")},
        {{"--files0-from", "photos", "-t", "x", "50"}, 1, IsEmpty(), HasSubstr("cannot read photos")},
        // A target folder inside the walked tree: its results never become sources.
        {{"-R", "-t", "photos/sub/out", "photos/sub", "50"}, 0, testing::_, summary("1 converted, 0 skipped, 0 refused, 0 failed")},
        {{"-R", "-t", "photos/sub/out", "photos/sub", "50"}, 0, IsEmpty(), summary("0 converted, 1 skipped, 0 refused, 0 failed")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto [status, out, err] = RunCli(dir, c.args, "", root.string());
        EXPECT_EQ(status, c.status);
        EXPECT_THAT(out, c.out);
        EXPECT_THAT(err, c.err);
    }
    EXPECT_TRUE(test::ReadFileBytes(root / "out/sub/c.bmp") == test::ExpectedOutput(picture, 5));
    EXPECT_FALSE(fs::exists(root / "out/sub/loop") || fs::exists(root / "out/notes.txt") || fs::exists(root / "none"));
    EXPECT_EQ(fs::last_write_time(root / "dated/a.bmp"), fs::last_write_time(root / "photos/a.bmp"));
    // Where no unnamed temporary file can be made, a new file still gets the umask's mode.
    if (CanHideProc()) {
        RunCli(dir, {"photos/a.bmp", "private.bmp", "50"}, "umask 077 && " + kNoProc, root.string());
        EXPECT_EQ(fs::status(root / "private.bmp").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
}

// Ctrl-C in the middle of a batch, also where the folder takes no unnamed
// temporary files (no /proc: named ones): finished files stay complete, the
// others are not there, nothing else is left, and the status says so.
TEST(Cli, InterruptedBatchLeavesFinishedFilesOnly) {
#ifdef _WIN32
    GTEST_SKIP() << "sent by coreutils' timeout; Windows' Ctrl-Break is tested in test_windows.cpp";
#endif
    test::TempDir work;
    const test::Picture picture = test::RandomPicture(1500, 1000, 7);
    for (const char* name : {"1.bmp", "2.bmp", "3.bmp", "4.bmp"}) test::WriteFileBytes(work / name, test::EncodeBmp(picture));
    const Bytes complete = test::ExpectedOutput(picture, 6);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(std::get<0>(RunCli(work, {"-t", work / "whole", work.path().string(), "200%"})), 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::mt19937 rng(20261207);
    for (int run = 0; run < 8; ++run) {
        test::TempDir out;
        const double seconds = 0.01 + took.count() * std::uniform_real_distribution<double>(0.0, 0.9)(rng);
        const std::string prefix = "timeout --preserve-status -s INT " + std::to_string(seconds) + " " +
                                   (run % 2 && CanHideProc() ? kNoProc : "");
        const auto [status, stdoutText, err] = RunCli(work, {"-t", out.path().string(), work / "1.bmp", work / "2.bmp",
                                                             work / "3.bmp", work / "4.bmp", "200%"}, prefix);
        SCOPED_TRACE(testing::Message() << "run " << run << ": " << err);
        EXPECT_TRUE(status == 0 || (status == 130 && err.find("; interrupted, ") != std::string::npos));
        for (const std::string& name : out.Names()) {
            EXPECT_TRUE(name.size() == 5 && test::ReadFileBytes(out / name) == complete) << name;
        }
    }
}

TEST(Cli, KilledAtAnyMomentLeavesTheOldFileOrTheCompleteNewOne) {
#ifdef _WIN32
    GTEST_SKIP() << "sent by coreutils' timeout; Windows' TerminateProcess is tested in test_windows.cpp";
#endif
    test::TempDir work, out;
    test::WriteFileBytes(work / "src.bmp", test::EncodeBmp(test::RandomPicture(2000, 1500, 5)));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(std::get<0>(RunCli(work, {work / "src.bmp", out / "complete.bmp", "200%"})), 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const Bytes complete = test::ReadFileBytes(out / "complete.bmp");
    std::mt19937 rng(20261206);
    for (int run = 0; run < 24; ++run) {
        test::WriteFileBytes(out / "dst.bmp", test::kOld);
        const double seconds = 0.001 + took.count() * std::uniform_real_distribution<double>(0.0, 1.2)(rng);
        const std::string killer = "timeout -s KILL " + std::to_string(seconds) + " ";
        RunCli(work, {"--yes", work / "src.bmp", out / "dst.bmp", "200%"}, killer);
        const Bytes now = test::ReadFileBytes(out / "dst.bmp");
        EXPECT_TRUE(now == test::kOld || now == complete) << "run " << run << ": " << now.size() << " bytes";
    }
    // A kill between naming the new file and renaming it over the old one
    // leaves the named file; the next run in the folder takes it away, but
    // not a file of somebody else's that only looks like one.
    const std::string lookalike = ".pictrim-0000000000000001-01234567";
    test::WriteFileBytes(out / lookalike, test::kOld);
    ASSERT_EQ(std::get<0>(RunCli(work, {"--yes", work / "src.bmp", out / "dst.bmp", "200%"})), 0);
    EXPECT_EQ(out.Names(), (std::vector<std::string>{lookalike, "complete.bmp", "dst.bmp"}));
}

}  // namespace
}  // namespace pictrim
