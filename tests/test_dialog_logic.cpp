// The dialog's logic that both widget sets share, driven through fakes of
// the widgets, the notices and the Execute button.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "bmp_fixture.h"
#include "platform/path_checks.h"
#include "platform/utf8_path.h"
#include "ui/dialog_logic.h"

namespace pictrim {
namespace {

namespace fs = std::filesystem;
using platform::Notice, platform::NoticeAnswer, platform::NoticeButtons;

class FakeWidgets;

// The job's side: notices it shows (a question waits for Answer or for
// the dialog's dismissal).
class FakeJobSide : public platform::NoticeOwner, public platform::Window {
public:
    NoticeAnswer ShowNotice(const Notice& notice) override {
        std::unique_lock lock(m_mutex);
        m_texts.push_back(notice.text);
        m_changed.notify_all();
        if (notice.buttons == NoticeButtons::Ok) return NoticeAnswer::Ok;
        m_changed.wait(lock, [&] { return m_answer || m_dismissed; });
        return m_dismissed ? NoticeAnswer::No : *m_answer;
    }
    void EnableWindow(bool) override {}
    void Answer(NoticeAnswer answer) {
        std::lock_guard lock(m_mutex);
        m_answer = answer;
        m_changed.notify_all();
    }
    void Dismiss() {
        std::lock_guard lock(m_mutex);
        m_dismissed = true;
        m_changed.notify_all();
    }
    void WaitForNotices(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_texts.size() >= count; });
    }
    std::vector<std::string> Texts() {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_texts;
    std::optional<NoticeAnswer> m_answer;
    bool m_dismissed = false;
};

class FakeWidgets : public DialogWidgets {
public:
    explicit FakeWidgets(FakeJobSide& job) : m_job(job) {}
    void SetExecuteEnabled(bool enable) override { executeEnabled = enable; }
    void ShowBusy(bool isBusy) override { busy = isBusy; }
    void DismissNotices() override { m_job.Dismiss(); }
    bool executeEnabled = false;
    bool busy = false;

private:
    FakeJobSide& m_job;
};

class DialogLogicTest : public testing::Test {
protected:
    std::string Path(const std::string& name) { return platform::Utf8Of(dir.path() / platform::PathFromUtf8(name)); }
    // A name in double quotes stands for its path in them, as Explorer's
    // "Copy as path" gives it; `bare`: the path alone.
    std::string Field(const std::string& name, bool bare = false) {
        const bool quoted = name.size() > 1 && name[0] == '"';
        const std::string path = name.empty() ? name : Path(quoted ? name.substr(1, name.size() - 2) : name);
        return quoted && !bare ? '"' + path + '"' : path;
    }
    void SetPaths(const std::string& src, const std::string& dst) {
        logic.OnChangeSrc(Field(src));
        logic.OnChangeDst(Field(dst));
    }

    test::TempDir dir;
    FakeJobSide job;
    FakeWidgets widgets{job};
    DialogLogic logic{widgets, job, job};
};

TEST_F(DialogLogicTest, ExecuteIsOfferedForAnExistingSourceAndADestinationThatIsNotIt) {
    fs::create_directory(dir.path() / "sub");
    for (const char* name : {"a.bmp", "sub/other.bmp", "写真.bmp"}) test::WriteFileBytes(Path(name), test::kOld);
    fs::create_hard_link(dir.path() / "a.bmp", dir.path() / "hard.bmp");
    struct Row {
        const char* src;
        const char* dst;
        bool enabled;
    };
    std::vector<Row> rows = {
        {"", "new.bmp", false},
        {"a.bmp", "", false},
        {"\"missing.bmp\"", "new.bmp", false},
        {"sub", "new.bmp", true},  // the job tells what is wrong with a folder
        {"a.bmp", "\"a.bmp\"", false},
        {"a.bmp", "sub/../a.bmp", false},
        {"a.bmp", "hard.bmp", false},
        {"\"a.bmp\"", "\"new.bmp\"", true},
        {"a.bmp", "sub/other.bmp", true},
        {"写真.bmp", "写真.bmp", false},
        {"写真.bmp", "小さい写真.bmp", true},
        {"a.bmp", "no/such/folder.bmp", true},  // told by the job
    };
#ifdef _WIN32
    rows.push_back({"a.bmp", "A.BMP", false});
    rows.push_back({"a.bmp", "sub\\..\\a.bmp", false});
#else
    fs::create_symlink(dir.path() / "a.bmp", dir.path() / "link.bmp");
    rows.push_back({"a.bmp", "link.bmp", false});
    rows.push_back({"a.bmp", "A.BMP", true});
#endif
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.src) + " -> " + row.dst);
        SetPaths(row.src, row.dst);
        EXPECT_EQ(widgets.executeEnabled, row.enabled);
        // The job is given the paths without their quotes, absolute as the
        // system makes them (on Windows with "\" alone).
        EXPECT_EQ(logic.GatherJobParams(5, 50).srcPath, platform::AbsolutePath(Field(row.src, true)));
        EXPECT_EQ(logic.GatherJobParams(5, 50).dstPath, platform::AbsolutePath(Field(row.dst, true)));
        // Either field cleared turns it off at once.
        logic.OnChangeDst("");
        EXPECT_FALSE(widgets.executeEnabled);
    }
}

// The first dropped name, as either widget set hands it over, in UTF-8.
TEST(DialogLogicDrop, TakesANameEndingInBmpInAnyCase) {
    const std::pair<const char*, bool> rows[] = {
        {"/pics/Photo.BMP", true}, {"/写真/猫.bmp", true},    {"C:\\写真\\猫.Bmp", true}, {".bmp", true},
        {"/pics/a.bmp ", false},   {"/pics/a.bmp.txt", false}, {"/pics/a.txt", false},    {"bmp", false},
        {"", false},
    };
    for (const auto& [name, taken] : rows) EXPECT_EQ(DialogLogic::TakesDroppedName(name), taken) << name;
}

// Blanks around a quoted path come with a careless paste; a quote inside is
// no pair.
TEST(DialogLogicField, AQuotedPathIsThePathInside) {
    const std::pair<const char*, const char*> rows[] = {
        {" \"C:\\a b.bmp\"  ", "C:\\a b.bmp"}, {"\"a\"b.bmp\"", "\"a\"b.bmp\""}, {"a b.bmp ", "a b.bmp "}, {"\"", "\""}};
    for (const auto& [text, path] : rows) EXPECT_EQ(DialogLogic::PathInField(text), path) << text;
}

// Ending the dialog while the overwrite question is up, or while the
// conversion runs after Yes: the job stops, the destination is as it was
// or complete, and no temporary file stays.
TEST_F(DialogLogicTest, StoppingAJobLeavesTheDestinationAsItWasOrComplete) {
    test::WriteFileBytes(Path("big.bmp"), test::EncodeBmp(test::RandomPicture(2000, 1500, 3)));
    for (const bool answered : {false, true}) {
        SCOPED_TRACE(answered);
        test::WriteFileBytes(Path("out.bmp"), test::kOld);
        FakeJobSide side;
        FakeWidgets w{side};
        DialogLogic l{w, side, side};
        l.OnChangeSrc(Path("big.bmp"));
        l.OnChangeDst(Path("out.bmp"));
        ASSERT_TRUE(l.OnExecute(6, 200));
        side.WaitForNotices(1);
        if (answered) side.Answer(NoticeAnswer::Yes);
        l.StopRunningJobs();
        EXPECT_FALSE(l.HasRunningJob());
        EXPECT_FALSE(w.busy);
        EXPECT_TRUE(w.executeEnabled);
        const test::Bytes out = test::ReadFileBytes(Path("out.bmp"));
        EXPECT_TRUE(out == test::kOld || (answered && out.size() > 54 && test::U32At(out, 2) == out.size()));
        const std::vector<std::string> texts = side.Texts();
        EXPECT_EQ(texts.front(), Path("out.bmp") + " は既に存在します。上書きしますか？");
        EXPECT_LE(texts.size(), answered ? 2u : 1u);  // the completion, when it came first
        EXPECT_EQ(dir.Names(), (std::vector<std::string>{"big.bmp", "out.bmp"}));
    }
}

}  // namespace
}  // namespace pictrim
