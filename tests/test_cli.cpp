#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "bmp_fixture.h"
#include "pictrim_version.h"

namespace pictrim {
namespace {

using test::Bytes;

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
    for (auto [name, text] : {std::pair{"stdout", &o.out}, std::pair{"stderr", &o.err}}) {
        const Bytes bytes = test::ReadFileBytes(dir / name);
        text->assign(bytes.begin(), bytes.end());
        std::filesystem::remove(dir / name);
    }
    return o;
}

TEST(Cli, CommandLinesAndExitStatuses) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(40, 20, 1)));
    const std::string src = dir / "src.bmp", dst = dir / "dst.bmp";
    const std::string done = "Pictrim: 完了しました。\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;  // "Usage": stdout empty, the usage on stderr
    };
    const Case cases[] = {
        {{}, 2, "Usage"},
        {{src, dst}, 2, "Usage"},
        {{src, dst, "75%"}, 2, "Usage"},
        {{"--bogus", src, dst, "50%"}, 2, "Usage"},
        {{"--yes", "--no", src, dst, "50%"}, 2, "Usage"},
        {{"--version"}, 0, std::string("pictrim-cli ") + kVersionString + "\n"},
        {{src, dst, "5"}, 0, done},
        {{"--yes", src, dst, "33%"}, 0, done},
        {{"--yes", src, dst, "200"}, 0, done},
        {{dir / "none.bmp", dir / "new.bmp", "50%"}, 1, ""},
    };
    for (const Case& c : cases) {
        const Outcome o = RunCli(dir, c.args);
        EXPECT_EQ(o.status, c.status) << testing::PrintToString(c.args) << o.err;
        if (c.out == "Usage") {
            EXPECT_TRUE(o.out.empty() && o.err.find("Try 'pictrim-cli --help'") != std::string::npos) << o.err;
        } else {
            EXPECT_EQ(o.out, c.out) << testing::PrintToString(c.args);
        }
    }
    EXPECT_EQ(test::U32At(test::ReadFileBytes(dst), 18), 80u);  // the last conversion, 200 %
    EXPECT_EQ(RunCli(dir, {dir / "none.bmp", dir / "new.bmp", "50%"}).err,
              "Pictrim: " + (dir / "none.bmp") + " - ファイルが開けません。\n");
    EXPECT_EQ(RunCli(dir, {"--help"}).out.rfind("Usage: pictrim-cli", 0), 0u);
}

TEST(Cli, OverwriteQuestion) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(8, 8, 1)));
    test::WriteFileBytes(dir / "dst.bmp", {'o', 'l', 'd'});
    const std::string prompt = "Pictrim: " + (dir / "dst.bmp") + " は既に存在します。上書きしますか？";
    // Without a terminal and without --yes, the question is declined and says how to answer it.
    for (const char* answer : {"", "--no"}) {
        std::vector<std::string> args{dir / "src.bmp", dir / "dst.bmp", "50%"};
        if (*answer) args.insert(args.begin(), answer);
        const Outcome o = RunCli(dir, args);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err.rfind(prompt + "\n", 0), 0u);
        EXPECT_NE(o.err.find(*answer ? "--no" : "--yes"), std::string::npos) << o.err;
        EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp"), (Bytes{'o', 'l', 'd'}));
    }
}

TEST(Cli, KilledAtAnyMomentLeavesTheOldFileOrTheCompleteNewOne) {
    test::TempDir work, out;
    test::WriteFileBytes(work / "src.bmp", test::EncodeBmp(test::RandomPicture(2000, 1500, 5)));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCli(work, {work / "src.bmp", out / "complete.bmp", "200%"}).status, 0);
    const auto took = std::chrono::steady_clock::now() - started;
    const Bytes complete = test::ReadFileBytes(out / "complete.bmp"), old{'o', 'l', 'd'};
    std::mt19937 rng(20261206);
    int keptOld = 0;
    for (int run = 0; run < 24; ++run) {
        test::WriteFileBytes(out / "dst.bmp", old);
        const pid_t pid = SpawnCli(work, {"--yes", work / "src.bmp", out / "dst.bmp", "200%"});
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(took * std::uniform_real_distribution<double>(0.0, 1.2)(rng));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const Bytes now = test::ReadFileBytes(out / "dst.bmp");
        EXPECT_TRUE(now == old || now == complete) << "run " << run << ": " << now.size() << " bytes";
        keptOld += now == old;
        EXPECT_EQ(out.Names(), (std::vector<std::string>{"complete.bmp", "dst.bmp"})) << "run " << run;
    }
    RecordProperty("KilledBeforeTheEnd", keptOld);
}

}  // namespace
}  // namespace pictrim
