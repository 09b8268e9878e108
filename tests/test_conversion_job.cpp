#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "bmp_fixture.h"
#include "child_job.h"
#include "engine/exec_thread.h"
#include "engine/ratio.h"
#include "fake_notices.h"
#include "platform/zeroed_block.h"
#include "reference_resize.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using platform::NoticeAnswer;
using test::FakeButton;
using test::FakeNotices;
using test::Picture;
using Texts = std::vector<std::string>;

const std::string kDone = "完了しました。";
const std::vector<std::uint8_t> kOldContent{'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};

std::string OpenFailure(const std::string& path) { return path + " - ファイルが開けません。"; }

struct JobRun {
    FakeNotices notices;
    FakeButton button;
};

void RunJob(JobRun& run, const std::string& src, const std::string& dst, std::int32_t percent, std::int32_t index) {
    CExecThread job({&run.notices, src, dst, &run.button, percent, index});
    job.ConversionJob();
    EXPECT_EQ(job.m_bBusy, 0);
    EXPECT_TRUE(run.button.enabled);
}

void RunJob(JobRun& run, const std::string& src, const std::string& dst, int index) {
    RunJob(run, src, dst, RatioList[index].percent, index);
}

Picture Expected(const Picture& src, int index) {
    return index == kEnlargeRatioIndex ? test::ReferenceEnlarge(src) : test::ReferenceReduce(src, StepTable[index]);
}

TEST(ConversionJob, ConvertsAtEveryRatioAndKeepsBusyUntilTheLastNotice) {
    test::TempDir dir;
    const Picture src = test::RandomPicture(41, 23, 9);
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(src));
    for (int index = 0; index < static_cast<int>(RatioList.size()); ++index) {
        SCOPED_TRACE(RatioList[index].text);
        const std::string dst = dir / ("out" + std::to_string(index) + ".bmp");
        JobRun run;
        CExecThread job({&run.notices, dir / "src.bmp", dst, &run.button, RatioList[index].percent, index});
        bool checkedWhileShown = false;
        run.notices.onShow = [&] {
            // The done notice comes for a complete file, while still busy.
            EXPECT_EQ(job.m_bBusy, 1);
            EXPECT_FALSE(run.button.enabled);
            EXPECT_EQ(test::DecodeBmp(test::ReadFileBytes(dst)), Expected(src, index));
            checkedWhileShown = true;
        };
        job.ConversionJob();
        EXPECT_TRUE(checkedWhileShown);
        EXPECT_EQ(run.notices.Texts(), Texts{kDone});
        EXPECT_EQ(run.notices.shown[0].kind, platform::NoticeKind::Completion);
        EXPECT_EQ(run.notices.shown[0].caption, "Pictrim");
        EXPECT_EQ(job.m_bBusy, 0);
        EXPECT_TRUE(run.button.enabled);
        EXPECT_EQ(run.button.changes, 2);
    }
}

TEST(ConversionJob, LargePicturesGoThroughSeveralBandsUnchanged) {
    // Several MiB of rows: read, converted and written a band at a time,
    // with band edges that fall on no multiple of the step.
    test::TempDir dir;
    struct Case {
        std::uint32_t w, h;
        int index;
    };
    for (const Case c : {Case{2001, 1503, 5}, Case{1999, 1601, 4}, Case{2003, 1507, 0}, Case{1201, 901, 6}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " at " << RatioList[c.index].text);
        const Picture src = test::RandomPicture(c.w, c.h, c.w + c.h);
        test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(src, {.gapBytes = 68}));
        JobRun run;
        RunJob(run, dir / "src.bmp", dir / "dst.bmp", c.index);
        EXPECT_EQ(run.notices.Texts().back(), kDone);
        EXPECT_TRUE(test::DecodeBmp(test::ReadFileBytes(dir / "dst.bmp")) == Expected(src, c.index));
    }
}

TEST(ConversionJob, TargetSizesOfTheWorkedExamples) {
    test::TempDir dir;
    struct Case {
        std::uint32_t w, h;
        int index;
        std::uint32_t outW, outH;
    };
    for (const Case c : {Case{100, 60, 4, 33, 20}, Case{999, 4, 3, 249, 1}, Case{5, 3, 6, 10, 6}, Case{300, 3, 4, 100, 1},
                         Case{1, 1, 6, 2, 2}, Case{1, 7, 6, 2, 14}}) {
        test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(c.w, c.h, c.w)));
        JobRun run;
        RunJob(run, dir / "src.bmp", dir / "dst.bmp", c.index);
        const auto out = test::ReadFileBytes(dir / "dst.bmp");
        EXPECT_EQ(test::U32At(out, 18), c.outW) << c.w << "x" << c.h;
        EXPECT_EQ(test::U32At(out, 22), c.outH) << c.w << "x" << c.h;
        EXPECT_EQ(out.size(), 54 + ((3 * c.outW + 3) / 4 * 4) * c.outH);
        fs::remove(dir / "dst.bmp");
    }
}

TEST(ConversionJob, ReadsRowsFromThePixelOffsetAndKeepsOrientation) {
    test::TempDir dir;
    const Picture src = test::RandomPicture(13, 9, 21);
    struct Case {
        const char* name;
        test::BmpOptions options;
    };
    const Case cases[] = {{"v4 header", {.infoHeaderSize = 108}},
                          {"v5 header with profile", {.infoHeaderSize = 124, .gapBytes = 12}},
                          {"palette", {.gapBytes = 1024}},
                          {"top-down", {.topDown = true}}};
    for (const Case& c : cases) {
        for (const int index : {5, 6}) {
            SCOPED_TRACE(testing::Message() << c.name << " at " << RatioList[index].text);
            test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(src, c.options));
            JobRun run;
            RunJob(run, dir / "src.bmp", dir / "dst.bmp", index);
            const auto out = test::ReadFileBytes(dir / "dst.bmp");
            EXPECT_EQ(test::DecodeBmp(out), Expected(src, index));
            EXPECT_EQ(static_cast<std::int32_t>(test::U32At(out, 22)) < 0, c.options.topDown);
            fs::remove(dir / "dst.bmp");
        }
    }
}

TEST(ConversionJob, OverwritePromptDecidesWhetherTheDestinationIsTouched) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(8, 8, 1)));
    test::WriteFileBytes(dir / "dst.bmp", kOldContent);

    JobRun declined;
    declined.notices.answers = {NoticeAnswer::No};
    RunJob(declined, dir / "missing.bmp", dir / "dst.bmp", 5);  // the source is never opened
    EXPECT_EQ(declined.notices.Texts(), Texts{dir / "dst.bmp" + " は既に存在します。上書きしますか？"});
    EXPECT_EQ(declined.notices.shown[0].buttons, platform::NoticeButtons::YesNo);
    EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp"), kOldContent);

    JobRun accepted;
    RunJob(accepted, dir / "src.bmp", dir / "dst.bmp", 5);
    EXPECT_EQ(accepted.notices.Texts().back(), kDone);
    EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp").size(), 54u + 4 * 12);
}

std::vector<std::uint8_t> Patched(std::vector<std::uint8_t> file, std::size_t at, std::uint32_t value, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return file;
}

TEST(ConversionJob, RefusalsLeaveTheDestinationAsItWas) {
    test::TempDir dir;
    const auto good = test::EncodeBmp(test::RandomPicture(19, 30, 4));
    const std::string src = dir / "src.bmp";
    const std::string broken = src + " - Bitmapファイルが壊れています。";
    struct Case {
        const char* name;
        std::optional<std::vector<std::uint8_t>> source;  // none: no file
        std::int32_t percent, index;
        std::string notice;
    };
    const std::vector<Case> cases = {
        {"missing source", std::nullopt, 50, 5, OpenFailure(src)},
        {"empty file", std::vector<std::uint8_t>{}, 50, 5, "Bitmapファイル以外には対応していません。"},
        {"one byte", std::vector<std::uint8_t>{'B'}, 50, 5, "Bitmapファイル以外には対応していません。"},
        {"MB signature", Patched(good, 0, 'M' | ('B' << 8), 2), 50, 5, "Bitmapファイル以外には対応していません。"},
        {"8 bits per pixel", Patched(good, 28, 8, 2), 50, 5, "8 color Bitmap - 非対応です。"},
        {"headers only", std::vector<std::uint8_t>(good.begin(), good.begin() + 54), 50, 5, broken},
        {"shorter than the headers", std::vector<std::uint8_t>(good.begin(), good.begin() + 40), 50, 5, broken},
        {"compressed", Patched(good, 30, 1), 50, 5, "圧縮されたBitmap - 非対応です。"},
        {"zero width", Patched(good, 18, 0), 50, 5, broken},
        {"offset past the end", Patched(good, 10, 1u << 20), 50, 5, broken},
        {"huge dimensions", Patched(Patched(good, 18, 70000), 22, 70000), 50, 5, src + " - 画像が大きすぎて変換できません。"},
        {"too narrow for 5 %", good, 5, 0, "画像が小さすぎて、この縮小率では変換できません。"},
        {"percent not offered", good, 75, 5, "まだ出来てないっすよ。(^^;"},
        {"150 percent", good, 150, 6, "まだ出来てないっすよ。(^^;"},
        {"index out of range", good, 200, 7, "まだ出来てないっすよ。(^^;"},
        {"index and percent disagree", good, 50, 6, "まだ出来てないっすよ。(^^;"},
    };
    for (const bool destinationExists : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (destinationExists ? ", replacing" : ", new destination"));
            fs::remove_all(dir.path());
            fs::create_directory(dir.path());
            if (c.source) test::WriteFileBytes(src, *c.source);
            if (destinationExists) test::WriteFileBytes(dir / "dst.bmp", kOldContent);
            const auto before = dir.Names();
            JobRun run;
            RunJob(run, src, dir / "dst.bmp", c.percent, c.index);
            ASSERT_FALSE(run.notices.shown.empty());
            EXPECT_EQ(run.notices.Texts().back(), c.notice);
            EXPECT_EQ(run.notices.shown.back().kind, platform::NoticeKind::Failure);
            EXPECT_EQ(dir.Names(), before);
            if (destinationExists) {
                EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp"), kOldContent);
            }
        }
    }
}

TEST(ConversionJob, DestinationThatIsTheSourceFailsToOpen) {
    test::TempDir dir;
    const auto source = test::EncodeBmp(test::RandomPicture(10, 10, 2));
    test::WriteFileBytes(dir / "src.bmp", source);
    fs::create_directory(dir.path() / "sub");
    fs::create_symlink(dir.path() / "src.bmp", dir.path() / "link.bmp");
    fs::create_hard_link(dir.path() / "src.bmp", dir.path() / "hard.bmp");
    for (const std::string& dst : {dir / "link.bmp", dir / "hard.bmp", dir / "sub/../src.bmp", dir / "./src.bmp"}) {
        SCOPED_TRACE(dst);
        JobRun run;
        RunJob(run, dir / "src.bmp", dst, 5);
        EXPECT_EQ(run.notices.Texts().back(), OpenFailure(dst));
        EXPECT_EQ(test::ReadFileBytes(dir / "src.bmp"), source);
    }
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.bmp"));
    EXPECT_EQ(dir.Names(), (Texts{"hard.bmp", "link.bmp", "src.bmp", "sub"}));
}

TEST(ConversionJob, DestinationsThatCannotBeWrittenFailToOpen) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(10, 10, 2)));
    fs::create_directory(dir.path() / "folder.bmp");
    fs::create_symlink(dir.path() / "nowhere.bmp", dir.path() / "dangling.bmp");
    ASSERT_EQ(::mkfifo((dir / "fifo.bmp").c_str(), 0600), 0);
    for (const std::string& dst : {dir / "folder.bmp", dir / "dangling.bmp", dir / "fifo.bmp", dir / "no/such/dir.bmp",
                                  std::string("/dev/null")}) {
        SCOPED_TRACE(dst);
        JobRun run;
        RunJob(run, dir / "src.bmp", dst, 5);
        EXPECT_EQ(run.notices.Texts().back(), OpenFailure(dst));
    }
    EXPECT_EQ(dir.Names(), (Texts{"dangling.bmp", "fifo.bmp", "folder.bmp", "src.bmp"}));
}

TEST(ConversionJob, ReplacingKeepsModeAndWritesThroughSymbolicLinks) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(10, 10, 2)));
    test::WriteFileBytes(dir / "target.bmp", kOldContent);
    ::chmod((dir / "target.bmp").c_str(), 0640);
    fs::create_symlink("target.bmp", dir.path() / "link.bmp");
    JobRun run;
    RunJob(run, dir / "src.bmp", dir / "link.bmp", 5);
    EXPECT_EQ(run.notices.Texts().back(), kDone);
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.bmp"));
    EXPECT_EQ(test::ReadFileBytes(dir / "target.bmp").size(), 54u + 5 * 16);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "target.bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.Names(), (Texts{"link.bmp", "src.bmp", "target.bmp"}));
}

TEST(ConversionJob, NewDestinationGetsTheUsualMode) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(4, 4, 2)));
    const mode_t mask = ::umask(027);
    JobRun run;
    RunJob(run, dir / "src.bmp", dir / "dst.bmp", 5);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "dst.bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// As on a full disk: files may not grow past `limit` bytes.
Texts RunWithFileSizeLimit(const std::string& src, const std::string& dst, int index, rlim_t limit) {
    return test::RunJobInChild(
        [limit] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit rl{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &rl);
        },
        src, dst, index);
}

TEST(ConversionJob, FullDiskLeavesNoPartialFile) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(200, 100, 3)));
    const std::string failure = dir / "dst.bmp" + " - ファイルに書き込めません。";

    EXPECT_EQ(RunWithFileSizeLimit(dir / "src.bmp", dir / "dst.bmp", 6, 4096), Texts{failure});
    EXPECT_EQ(dir.Names(), Texts{"src.bmp"});

    test::WriteFileBytes(dir / "dst.bmp", kOldContent);
    EXPECT_EQ(RunWithFileSizeLimit(dir / "src.bmp", dir / "dst.bmp", 6, 4096).back(), failure);
    EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp"), kOldContent);
    EXPECT_EQ(dir.Names(), (Texts{"dst.bmp", "src.bmp"}));
}

TEST(ConversionJob, MemoryShortageIsToldAndEverythingReleased) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(100, 100, 3)));
    test::WriteFileBytes(dir / "dst.bmp", kOldContent);
    platform::SetAllocationCeilingForTesting(1000);
    JobRun run;
    RunJob(run, dir / "src.bmp", dir / "dst.bmp", 6);
    platform::SetAllocationCeilingForTesting(0);
    EXPECT_EQ(run.notices.Texts().back(), "メモリが足りません。");
    EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp"), kOldContent);
}

TEST(ConversionJob, StopRequestEndsQuietlyWithoutTouchingTheDestination) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(64, 64, 3)));
    test::WriteFileBytes(dir / "dst.bmp", kOldContent);
    JobRun run;
    CExecThread job({&run.notices, dir / "src.bmp", dir / "dst.bmp", &run.button, 200, 6});
    run.notices.onShow = [&] { job.Lifetime()->RequestStop(); };  // closed while the prompt is up
    job.ConversionJob();
    EXPECT_EQ(run.notices.shown.size(), 1u);  // the prompt, and nothing after it
    EXPECT_EQ(test::ReadFileBytes(dir / "dst.bmp"), kOldContent);
    EXPECT_TRUE(run.button.enabled);
    EXPECT_EQ(dir.Names(), (Texts{"dst.bmp", "src.bmp"}));
}

TEST(ConversionJob, RunsOnItsOwnThreadAndDeletesItself) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "src.bmp", test::EncodeBmp(test::RandomPicture(30, 30, 3)));
    JobRun run;
    auto* worker = new CExecThread({&run.notices, dir / "src.bmp", dir / "dst.bmp", &run.button, 10, 1});
    const auto lifetime = worker->Lifetime();
    ASSERT_TRUE(worker->CreateThread());
    worker->m_bAutoDelete = true;
    EXPECT_FALSE(lifetime->HasEnded());  // suspended until resumed
    worker->ResumeThread();
    lifetime->WaitForEnd();  // the sanitizers see a leak or a double delete
    EXPECT_EQ(run.notices.Texts(), Texts{kDone});
    EXPECT_TRUE(run.button.enabled);
}

TEST(ConversionJob, WorkerDeletedWhileSuspendedNeverRuns) {
    JobRun run;
    auto* worker = new CExecThread({&run.notices, "/nonexistent/src.bmp", "/nonexistent/dst.bmp", &run.button, 50, 5});
    const auto lifetime = worker->Lifetime();
    ASSERT_TRUE(worker->CreateThread());
    delete worker;
    lifetime->WaitForEnd();
    EXPECT_TRUE(run.notices.shown.empty());
    EXPECT_EQ(run.button.changes, 0);
}

}  // namespace
}  // namespace pictrim
