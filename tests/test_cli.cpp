#include <gmock/gmock.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <tuple>

#include "bmp_fixture.h"
#include "pictrim_version.h"

namespace pictrim {
namespace {

using test::Bytes;
using testing::HasSubstr, testing::IsEmpty, testing::StartsWith;

// Runs pictrim-cli through the shell, after `prefix` (another command that
// runs it), with stdin from /dev/null: never a terminal. Returns the exit
// status, stdout and stderr.
std::tuple<int, std::string, std::string> RunCli(const test::TempDir& dir, const std::vector<std::string>& args,
                                                 const std::string& prefix = "") {
    std::string command = prefix + PICTRIM_CLI_PATH;
    for (const std::string& arg : args) command += " '" + arg + "'";
    const int status = std::system((command + " </dev/null >" + dir / "stdout" + " 2>" + dir / "stderr").c_str());
    const Bytes out = test::ReadFileBytes(dir / "stdout"), err = test::ReadFileBytes(dir / "stderr");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
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

TEST(Cli, KilledAtAnyMomentLeavesTheOldFileOrTheCompleteNewOne) {
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
        EXPECT_EQ(out.Names(), (std::vector<std::string>{"complete.bmp", "dst.bmp"})) << "run " << run;
    }
}

}  // namespace
}  // namespace pictrim
