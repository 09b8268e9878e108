// The batch window's logic that both widget sets share, driven through a
// fake window whose user-interface thread is the test's own.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>

#include "bmp_fixture.h"
#include "ui/batch_logic.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using Answer = batch::Events::Answer;
using test::Bytes;

class FakeWindow : public BatchWidgets {
public:
    void PostToUiThread(std::function<void()> task) override {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        m_posted.notify_all();
    }
    void RowsChanged(std::size_t, std::size_t lastRow) override { EXPECT_LT(lastRow, logic->RowCount()); }
    void RowsReset() override {}
    void ShowProgress(const BatchProgress& progress) override {
        EXPECT_LE(progress.filesDone, progress.files);
        EXPECT_LE(progress.bytesDone, progress.bytesTotal);
        last = progress;
    }
    void ShowRunning(bool running) override {
        EXPECT_NE(running, shownRunning);
        shownRunning = running;
    }
    Answer AskOverwrite(const std::string& text) override {
        questions.push_back(text);
        if (stopOnQuestion) logic->Stop();
        return answer;
    }
    void ShowSummary(const std::string& text) override { summary = text; }

    // Runs the posted tasks, as a window's event loop would, until the summary.
    void RunUntilSummary() {
        while (summary.empty()) {
            std::unique_lock lock(m_mutex);
            m_posted.wait(lock, [&] { return !m_tasks.empty(); });
            auto task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
        }
    }

    BatchLogic* logic = nullptr;
    BatchProgress last;
    bool shownRunning = false;
    Answer answer = Answer::No;
    bool stopOnQuestion = false;
    std::vector<std::string> questions;
    std::string summary;

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_tasks;
};

class BatchLogicTest : public ::testing::Test {
protected:
    BatchLogicTest() { window.logic = &logic; }
    std::string Bmp(const std::string& name, std::uint32_t width = 40, std::uint32_t height = 30) {
        fs::create_directories(fs::path(dir / name).parent_path());
        test::WriteFileBytes(dir / name, test::EncodeBmp(test::RandomPicture(width, height, 7)));
        return dir / name;
    }
    std::string Names(BatchLogic::Column column) const {
        std::string names;
        for (std::size_t i = 0; i < logic.RowCount(); ++i) names += logic.Text(i, column) + "|";
        return names;
    }

    test::TempDir dir;
    FakeWindow window;
    BatchLogic logic{window};
};

TEST_F(BatchLogicTest, ListsAMixedSelectionWithSizesAndWhyAFileWillBeRefused) {
    Bmp("photos/b.BMP");
    Bmp("photos/a.bmp", 41, 31);
    Bmp("photos/deeper/c.bmp");
    test::WriteFileBytes(dir / "photos/notes.txt", Bytes{'x'});
    const std::string eight = dir / "eight.bmp";
    Bytes eightBits = test::EncodeBmp(test::RandomPicture(8, 8, 1));
    eightBits[28] = 8;  // bits per pixel
    test::WriteFileBytes(eight, eightBits);
    test::WriteFileBytes(dir / "text.bmp", Bytes{'h', 'i'});
    const std::string single = Bmp("single.bmp");

    EXPECT_EQ(logic.Add({dir / "photos", eight, dir / "text.bmp", single, single}), 5u);
    EXPECT_EQ(Names(BatchLogic::Column::Name), "a.bmp|b.BMP|eight.bmp|text.bmp|single.bmp|");
    EXPECT_EQ(Names(BatchLogic::Column::PixelSize), "41 x 31|40 x 30|||40 x 30|");
    EXPECT_EQ(Names(BatchLogic::Column::SizeAfter), "20 x 15|20 x 15|||20 x 15|");
    EXPECT_EQ(Names(BatchLogic::Column::State),
              "||8 color Bitmap - 非対応です。|Bitmapファイル以外には対応していません。||");
    EXPECT_EQ(logic.Add({dir / "photos"}), 0u) << "listed already";
    logic.SetRecursive(true);
    EXPECT_EQ(logic.Add({dir / "photos"}), 1u) << "the subfolder's file";
    logic.SetRatio(6);
    EXPECT_EQ(logic.Text(0, BatchLogic::Column::SizeAfter), "82 x 62");
    EXPECT_EQ(logic.Suffix(), "_200") << "the suffix follows the ratio";
    logic.Remove({2, 3, 3});
    EXPECT_EQ(Names(BatchLogic::Column::Name), "a.bmp|b.BMP|single.bmp|c.bmp|");
}

TEST_F(BatchLogicTest, RunsIntoAMissingFolderMirroringTheTreeAndSumsUp) {
    Bmp("photos/a.bmp");
    Bmp("photos/deeper/c.bmp");
    test::WriteFileBytes(dir / "text.bmp", Bytes{'h', 'i'});
    logic.SetRecursive(true);
    logic.Add({dir / "photos", dir / "text.bmp"});
    logic.SetIntoFolder(true);
    EXPECT_FALSE(logic.CanExecute()) << "no folder named yet";
    logic.SetFolder(dir / "out/small");
    ASSERT_TRUE(logic.Execute());
    EXPECT_FALSE(logic.CanExecute());
    window.RunUntilSummary();

    EXPECT_FALSE(window.shownRunning);
    EXPECT_EQ(window.summary, "完了しました。\n変換: 2 件\nスキップ: 0 件\n変換不可: 1 件\n失敗: 0 件");
    EXPECT_EQ(window.last.filesDone, 3u);
    EXPECT_EQ(window.last.bytesDone, window.last.bytesTotal);
    EXPECT_EQ(Names(BatchLogic::Column::State), "完了|完了|変換不可: Bitmapファイル以外には対応していません。|");
    EXPECT_TRUE(fs::exists(dir.path() / "out/small/a.bmp"));
    EXPECT_TRUE(fs::exists(dir.path() / "out/small/deeper/c.bmp"));
    EXPECT_TRUE(logic.CanExecute()) << "offered again";
}

// One question, answered for every existing destination; the files whose
// destination is new are converted either way.
TEST_F(BatchLogicTest, AllAndNoneAnswerEveryLaterQuestion) {
    for (const Answer answer : {Answer::All, Answer::None}) {
        SCOPED_TRACE(answer == Answer::All ? "all" : "none");
        test::TempDir out;
        BatchLogic run(window);
        window.logic = &run;
        window.questions.clear();
        window.summary.clear();
        window.answer = answer;
        std::vector<std::string> sources;
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) sources.push_back(Bmp(name));
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) test::WriteFileBytes(out / name, test::kOld);
        run.Add(sources);
        run.SetIntoFolder(true);
        run.SetFolder(out.path().string());
        run.SetJobs(2);
        ASSERT_TRUE(run.Execute());
        window.RunUntilSummary();
        EXPECT_EQ(window.questions.size(), 1u);
        EXPECT_EQ(run.Counts().converted, answer == Answer::All ? 4u : 1u);
        EXPECT_EQ(run.Counts().skipped, answer == Answer::All ? 0u : 3u);
        EXPECT_EQ(test::ReadFileBytes(out / "b.bmp") == test::kOld, answer == Answer::None);
    }
}

// 中止 while the first file's question is up: the question ends, the file
// and every later one are left as they were, and the summary says so.
TEST_F(BatchLogicTest, StopEndsTheRunWithTheRestUntouched) {
    std::vector<std::string> sources;
    for (char c = 'a'; c <= 't'; ++c) sources.push_back(Bmp(std::string(1, c) + ".bmp"));
    test::WriteFileBytes(dir / "a_50.bmp", test::kOld);
    logic.Add(sources);
    logic.SetJobs(1);
    window.stopOnQuestion = true;
    window.answer = Answer::Yes;
    ASSERT_TRUE(logic.Execute());
    window.RunUntilSummary();

    EXPECT_EQ(window.summary, "中止しました。\n変換: 0 件\nスキップ: 0 件\n変換不可: 0 件\n失敗: 0 件\n未処理: 20 件");
    EXPECT_EQ(test::ReadFileBytes(dir / "a_50.bmp"), test::kOld);
    EXPECT_FALSE(fs::exists(dir.path() / "b_50.bmp"));
    EXPECT_EQ(logic.Text(0, BatchLogic::Column::State), "") << "waiting again, not converting";
}

// Closing the window stops the run and waits for it, with no summary to hold
// the closing up, whether the run had ended by then or not.
TEST_F(BatchLogicTest, ClosingStopsWithoutASummary) {
    logic.Add({Bmp("a.bmp"), Bmp("b.bmp", 400, 300)});
    ASSERT_TRUE(logic.Execute());
    logic.StopAndWait();
    EXPECT_FALSE(logic.Running());
    EXPECT_EQ(window.summary, "");
}

}  // namespace
}  // namespace pictrim
