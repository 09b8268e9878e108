#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

// Runs pictrim-cli with stdin from /dev/null, so never on a terminal.
Outcome RunCli(const test::TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), PICTRIM_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    Outcome outcome;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
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

}  // namespace
}  // namespace pictrim
