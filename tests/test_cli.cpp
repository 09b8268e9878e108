#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <filesystem>

#include "bmp_fixture.h"
#include "platform/terminal_notices.h"
#include "pictrim_version.h"

extern char** environ;

namespace pictrim {
namespace {

using platform::NoticeAnswer;
using platform::TerminalNotices;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    const auto bytes = test::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

// Starts pictrim-cli with stdin from /dev/null, so never on a terminal, and
// its output in the folder's "stdout" and "stderr" files.
pid_t SpawnCli(const test::TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), PICTRIM_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

Outcome RunCli(const test::TempDir& dir, std::vector<std::string> args) {
    Outcome outcome;
    const pid_t pid = SpawnCli(dir, std::move(args));
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid) outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = Slurp(dir / "stdout");
    outcome.err = Slurp(dir / "stderr");
    std::filesystem::remove(dir / "stdout");
    std::filesystem::remove(dir / "stderr");
    return outcome;
}

TEST(Cli, UsageErrorsExitWithTwo) {
    test::TempDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"a.bmp", "b.bmp"},
        {"a.bmp", "b.bmp", "75%"},
        {"a.bmp", "b.bmp", "150"},
        {"a.bmp", "b.bmp", "50%", "extra"},
        {"--bogus", "a.bmp", "b.bmp", "50%"},
        {"--yes", "--no", "a.bmp", "b.bmp", "50%"},
    };
    for (const auto& args : cases) {
        const Outcome o = RunCli(dir, args);
        EXPECT_EQ(o.status, 2) << testing::PrintToString(args);
        EXPECT_NE(o.err.find("Usage: pictrim-cli"), std::string::npos);
        EXPECT_TRUE(o.out.empty());
    }
}

TEST(Cli, HelpAndVersion) {
    test::TempDir dir;
    const Outcome help = RunCli(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: pictrim-cli", 0), 0u);
    const Outcome version = RunCli(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("pictrim-cli ") + kVersionString + "\n");
    EXPECT_EQ(std::string(kVersionString), "0.1.7.2");
}

TEST(Cli, ConvertsAndReportsOnTheRightStreams) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(40, 20, 1)));
    for (const std::string ratio : {"5%", "10", "20%", "25", "33%", "50", "200%"}) {
        const Outcome o = RunCli(dir, {"--yes", dir / "src.bmp", dir / "dst.bmp", ratio});
        EXPECT_EQ(o.status, 0) << ratio << ": " << o.err;
        EXPECT_EQ(o.out, "Pictrim: 完了しました。\n") << ratio;
    }
    EXPECT_EQ(test::U32At(test::ReadFileBytes(dir / "dst.bmp"), 18), 80u);  // the last one, 200 %

    const Outcome missing = RunCli(dir, {dir / "none.bmp", dir / "new.bmp", "50%"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_EQ(missing.err, "Pictrim: " + (dir / "none.bmp") + " - ファイルが開けません。\n");
}

TEST(Cli, OverwriteQuestionWithoutATerminal) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(8, 8, 1)));
    const std::vector<std::uint8_t> old{'k', 'e', 'e', 'p'};
    test::WriteFileBytes(dir / "dst.bmp", old);
    const std::string prompt = "Pictrim: " + (dir / "dst.bmp") + " は既に存在します。上書きしますか？\n";

    const Outcome unanswered = RunCli(dir, {dir / "src.bmp", dir / "dst.bmp", "50%"});
    EXPECT_EQ(unanswered.status, 1);
    EXPECT_EQ(unanswered.err.rfind(prompt, 0), 0u);
    EXPECT_NE(unanswered.err.find("--yes"), std::string::npos);
    const Outcome no = RunCli(dir, {"--no", dir / "src.bmp", dir / "dst.bmp", "50%"});
    EXPECT_EQ(no.status, 1);
    EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp"), old);

    const Outcome yes = RunCli(dir, {"--yes", dir / "src.bmp", dir / "dst.bmp", "50%"});
    EXPECT_EQ(yes.status, 0);
    EXPECT_EQ(yes.out, "Pictrim: 完了しました。\n");
    EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp").size(), 54u + 4 * 12);
}

TEST(Cli, QuestionAskedOnATerminalIsAnsweredFromIt) {
    const platform::Notice question{"x.bmp は既に存在します。上書きしますか？", "Pictrim", platform::NoticeButtons::YesNo,
                                    platform::NoticeIcon::Exclamation, platform::NoticeKind::Question};
    struct Case {
        const char* typed;
        NoticeAnswer expected;
    };
    for (const Case c : {Case{"y\n", NoticeAnswer::Yes}, Case{"  Yes\n", NoticeAnswer::Yes}, Case{"n\n", NoticeAnswer::No},
                         Case{"\n", NoticeAnswer::No}, Case{"", NoticeAnswer::No}}) {
        std::string typed = c.typed;
        std::FILE* in = ::fmemopen(typed.data(), typed.size() + 1, "r");
        if (typed.empty()) in = std::fopen("/dev/null", "r");
        char* errText = nullptr;
        std::size_t errSize = 0;
        std::FILE* err = ::open_memstream(&errText, &errSize);
        TerminalNotices notices(TerminalNotices::PresetAnswer::No, in, stdout, err, true);
        EXPECT_EQ(notices.ShowNotice(question), c.expected) << testing::PrintToString(c.typed);
        std::fclose(err);
        EXPECT_EQ(std::string(errText), "Pictrim: x.bmp は既に存在します。上書きしますか？ [y/N] ");
        std::free(errText);
        std::fclose(in);
    }
}

TEST(Cli, KilledAtAnyMomentLeavesTheOldFileOrTheCompleteNewOne) {
    test::TempDir work, out;
    test::WriteFileBytes(work / "src.bmp", test::EncodeBmp(test::RandomPicture(2000, 1500, 5)));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCli(work, {work / "src.bmp", out / "complete.bmp", "200%"}).status, 0);
    const auto took = std::chrono::steady_clock::now() - started;
    const auto complete = test::ReadFileBytes(out / "complete.bmp");
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};

    std::mt19937 rng(20261206);
    int keptOld = 0;
    for (int run = 0; run < 24; ++run) {
        test::WriteFileBytes(out / "dst.bmp", old);
        const pid_t pid = SpawnCli(work, {"--yes", work / "src.bmp", out / "dst.bmp", "200%"});
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(took * std::uniform_real_distribution<double>(0.0, 1.2)(rng));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const auto now = test::ReadFileBytes(out / "dst.bmp");
        EXPECT_TRUE(now == old || now == complete) << "run " << run << ": " << now.size() << " bytes";
        keptOld += now == old;
        EXPECT_EQ(out.Names(), (std::vector<std::string>{"complete.bmp", "dst.bmp"})) << "run " << run;
    }
    RecordProperty("KilledBeforeTheEnd", keptOld);
}

}  // namespace
}  // namespace pictrim
