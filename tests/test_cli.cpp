#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "bmp_fixture.h"
#include "pictrim_version.h"

namespace pictrim {
namespace {

using test::Bytes;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::StartsWith;

// Starts pictrim-cli with stdin from /dev/null (never a terminal) and its
// output in the folder's "stdout" and "stderr" files.
pid_t SpawnCli(const test::TempDir& dir, std::vector<std::string> args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "r", stdin) || !std::freopen((dir / "stdout").c_str(), "w", stdout) ||
            !std::freopen((dir / "stderr").c_str(), "w", stderr))
            ::_exit(126);
        args.insert(args.begin(), PICTRIM_CLI_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome RunCli(const test::TempDir& dir, std::vector<std::string> args) {
    Outcome o;
    const pid_t pid = SpawnCli(dir, std::move(args));
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) o.status = WEXITSTATUS(status);
    const Bytes out = test::ReadFileBytes(dir / "stdout"), err = test::ReadFileBytes(dir / "stderr");
    o.out.assign(out.begin(), out.end());
    o.err.assign(err.begin(), err.end());
    return o;
}

TEST(Cli, CommandLinesOutputsAndExitStatuses) {
    test::TempDir dir;
    const test::Picture picture = test::RandomPicture(40, 20, 1);
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(picture));
    test::WriteFileBytes(dir / "old.bmp", {'o', 'l', 'd'});
    const std::string src = dir / "src.bmp", dst = dir / "dst.bmp", old = dir / "old.bmp", none = dir / "none.bmp";
    const auto done = testing::Eq("Pictrim: 完了しました。\n");
    const auto usage = HasSubstr("Usage: pictrim-cli");
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
        const Outcome o = RunCli(dir, c.args);
        EXPECT_EQ(o.status, c.status);
        EXPECT_THAT(o.out, c.out);
        EXPECT_THAT(o.err, c.err);
    }
    EXPECT_TRUE(test::ReadFileBytes(dst) == test::ExpectedOutput(picture, 6));  // the last conversion, 200 %
    EXPECT_EQ(test::ReadFileBytes(old), (Bytes{'o', 'l', 'd'}));
}

TEST(Cli, KilledAtAnyMomentLeavesTheOldFileOrTheCompleteNewOne) {
    test::TempDir work, out;
    test::WriteFileBytes(work / "src.bmp", test::EncodeBmp(test::RandomPicture(2000, 1500, 5)));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCli(work, {work / "src.bmp", out / "complete.bmp", "200%"}).status, 0);
    const auto took = std::chrono::steady_clock::now() - started;
    const Bytes complete = test::ReadFileBytes(out / "complete.bmp"), old{'o', 'l', 'd'};
    std::mt19937 rng(20261206);
    for (int run = 0; run < 24; ++run) {
        test::WriteFileBytes(out / "dst.bmp", old);
        const pid_t pid = SpawnCli(work, {"--yes", work / "src.bmp", out / "dst.bmp", "200%"});
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(took * std::uniform_real_distribution<double>(0.0, 1.2)(rng));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const Bytes now = test::ReadFileBytes(out / "dst.bmp");
        EXPECT_TRUE(now == old || now == complete) << "run " << run << ": " << now.size() << " bytes";
        EXPECT_EQ(out.Names(), (std::vector<std::string>{"complete.bmp", "dst.bmp"})) << "run " << run;
    }
}

}  // namespace
}  // namespace pictrim
