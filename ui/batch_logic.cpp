#include "batch_logic.h"

#include <algorithm>
#include <chrono>
#include <array>
#include <condition_variable>
#include <optional>
#include <system_error>

#include "batch/batch_run.h"
#include "engine/bmp_layout.h"
#include "engine/job_notices.h"
#include "engine/ratio.h"
#include "platform/open_failures.h"
#include "platform/path_checks.h"
#include "platform/source_file.h"
#include "platform/utf8_path.h"

namespace pictrim {

namespace {

using State = BatchRow::State;
using Answer = batch::Events::Answer;
constexpr auto kPace = std::chrono::milliseconds(40);

// A question handed to the user-interface thread; the job waits for it.
struct Question {
    std::string text;
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<Answer> answer;
};

// The size the header declares, or why the job will refuse the file, in
// the words the job would use.
void Inspect(BatchRow& row) {
    const std::string& path = row.source.path;
    platform::SourceFile file;
    std::array<std::uint8_t, 54> header{};
    if (const platform::Error error = file.Open(path)) {
        row.reason = notices::OpenFailure(path).text;
        return;
    }
    const auto length = file.Length();
    const auto read = file.ReadAt(header.data(), header.size(), 0);
    if (!length || !read) {
        row.reason = notices::ReadFailure(path).text;
        return;
    }
    if (*read < 2 || !HasBitmapSignature({header.data(), 2})) {
        row.reason = notices::NotBitmap().text;
        return;
    }
    const HeaderCheck check = CheckSourceHeader({header.data(), *read}, *length);
    if (check.error != HeaderError::None) {
        row.reason = notices::BadSource(check.error, check.layout, path).text;
        return;
    }
    row.width = check.layout.width;
    row.height = check.layout.height;
}

std::string Dimensions(std::uint64_t width, std::uint64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string SuffixFor(int ratioIndex) {
    std::string suffix(1, '_');
    suffix += std::to_string(RatioList[static_cast<std::size_t>(ratioIndex)].percent);
    return suffix;
}

}  // namespace

// The run's events, gathered under a lock from the run's threads and handed
// to the user-interface thread by a pacer 25 times a second, one task at
// a time: however fast files finish, the window gets at most one task
// waiting, and a job never waits for the window except on a question. A
// task posted as soon as the last one ran would keep the window busy: a
// widget set's queue hands out posted tasks before the user's input.
class BatchLogic::Run final : public batch::Events {
public:
    struct Change {
        std::size_t row;
        State state;
        std::string reason;
    };

    Run(BatchLogic& logic, const batch::Settings& settings, std::vector<batch::Item> planned)
        : items(std::move(planned)), runner(settings, items, *this), m_logic(logic), m_alive(logic.m_alive) {
        for (const batch::Item& item : items) progress.bytesTotal += item.bytes;
        progress.files = items.size();
    }

    void Started(const batch::Item& item) override { Tell({Index(item), State::Converting, {}}); }
    void Processed(const batch::Item& item) override {
        std::lock_guard lock(mutex);
        progress.bytesDone += item.bytes;
        ++progress.filesDone;
        dirty = true;
    }
    void Finished(const batch::Item& item, batch::Outcome outcome, const std::string& reason,
                  batch::SkipCause) override {
        State state = State::Waiting;
        switch (outcome) {
        case batch::Outcome::Converted: state = State::Done; break;
        case batch::Outcome::Skipped: state = State::Skipped; break;
        case batch::Outcome::Refused: state = State::Refused; break;
        case batch::Outcome::Failed: state = State::Failed; break;
        case batch::Outcome::NotDone: break;
        }
        Tell({Index(item), state, reason});
    }
    Answer AskOverwrite(const batch::Item&, const std::string& text) override {
        auto question = std::make_shared<Question>();
        question->text = text;
        {
            std::lock_guard lock(mutex);
            if (cancelled) return Answer::Cancelled;
            m_question = question;
        }
        m_logic.m_widgets.PostToUiThread([alive = std::weak_ptr(m_alive), question] {
            const auto logic = alive.lock();
            std::optional<Answer> answer = Answer::Cancelled;
            bool open = false;
            {
                std::lock_guard lock(question->mutex);
                open = logic && !question->answer;
            }
            if (open) answer = (*logic)->m_widgets.AskOverwrite(question->text);
            std::lock_guard lock(question->mutex);
            if (!question->answer) question->answer = answer;
            question->answered.notify_all();
        });
        std::unique_lock lock(question->mutex);
        question->answered.wait(lock, [&] { return question->answer.has_value(); });
        return *question->answer;
    }
    void CancelQuestions() override {
        std::shared_ptr<Question> question;
        {
            std::lock_guard lock(mutex);
            cancelled = true;
            question.swap(m_question);
        }
        if (!question) return;
        std::lock_guard lock(question->mutex);
        if (!question->answer) question->answer = Answer::Cancelled;
        question->answered.notify_all();
    }
    void Ended(const batch::Counts& ended) override {
        std::lock_guard lock(mutex);
        counts = ended;
        end = true;
        PostFlush();
        paced.notify_all();
    }

    // Hands what has gathered to the window every kPace until the end.
    void Pace() {
        std::unique_lock lock(mutex);
        while (!end) {
            paced.wait_for(lock, kPace);
            if (dirty) PostFlush();
        }
    }

    std::vector<batch::Item> items;
    batch::Runner runner;
    std::thread thread;
    std::thread pacer;
    bool stopped = false;  // user-interface thread only

    std::mutex mutex;  // what follows
    std::vector<Change> changes;
    BatchProgress progress;
    batch::Counts counts;
    bool end = false;
    bool posted = false;
    bool dirty = false;  // something to show since the last task
    std::condition_variable paced;
    bool cancelled = false;

private:
    std::size_t Index(const batch::Item& item) const { return static_cast<std::size_t>(&item - items.data()); }
    void Tell(Change change) {
        std::lock_guard lock(mutex);
        changes.push_back(std::move(change));
        dirty = true;
    }
    void PostFlush() {  // mutex held
        if (posted) return;
        posted = true;
        dirty = false;
        m_logic.m_widgets.PostToUiThread([alive = std::weak_ptr(m_alive)] {
            if (const auto logic = alive.lock()) (*logic)->Flush();
        });
    }

    BatchLogic& m_logic;
    std::shared_ptr<BatchLogic*> m_alive;
    std::shared_ptr<Question> m_question;  // the one being asked
};

BatchLogic::BatchLogic(BatchWidgets& widgets)
    : m_widgets(widgets), m_alive(std::make_shared<BatchLogic*>(this)) {
    m_settings.ratioIndex = kDefaultRatioIndex;
    m_settings.percent = RatioList[kDefaultRatioIndex].percent;
}

BatchLogic::~BatchLogic() {
    StopAndWait();
    m_alive.reset();  // tasks still posted find nothing to do
}

const char* BatchLogic::ColumnTitle(Column column) {
    switch (column) {
    case Column::Name: return "ファイル名";
    case Column::Folder: return "フォルダー";
    case Column::PixelSize: return "サイズ";
    case Column::SizeAfter: return "変換後のサイズ";
    case Column::State: return "状態";
    }
    return "";
}

std::size_t BatchLogic::Add(const std::vector<std::string>& paths) {
    if (Running()) return 0;
    std::optional<std::string> target;
    if (m_intoFolder && !m_folder.empty()) target = platform::AbsolutePath(m_folder);
    const std::size_t before = m_rows.size();
    for (batch::Source& source : batch::CollectSources(paths, m_settings.recursive, target)) {
        if (!m_listed.insert(source.path).second) continue;
        BatchRow row;
        row.source = std::move(source);
        if (row.source.refusal.empty()) {
            Inspect(row);
        } else {
            row.reason = row.source.refusal;
        }
        m_rows.push_back(std::move(row));
    }
    if (m_rows.size() != before) m_widgets.RowsReset();
    return m_rows.size() - before;
}

void BatchLogic::Remove(std::vector<std::size_t> rows) {
    if (Running() || rows.empty()) return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (*it >= m_rows.size()) continue;
        m_listed.erase(m_rows[*it].source.path);
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(*it));
    }
    m_widgets.RowsReset();
}

std::string BatchLogic::Text(std::size_t index, Column column) const {
    const BatchRow& row = m_rows[index];
    switch (column) {
    case Column::Name: return platform::NameOf(row.source.path);
    case Column::Folder: return platform::FolderOf(row.source.path);
    case Column::PixelSize: return row.width == 0 ? std::string() : Dimensions(row.width, row.height);
    case Column::SizeAfter: {
        if (row.width == 0) return {};
        const TargetDims size = TargetSize(row.width, row.height, m_settings.percent);
        return size.width == 0 || size.height == 0 ? std::string("小さすぎます") : Dimensions(size.width, size.height);
    }
    case Column::State: break;
    }
    const char* word = "";
    switch (row.state) {
    case State::Waiting: return row.reason;  // empty, or why the run will refuse it
    case State::Converting: return "変換中";
    case State::Done: return "完了";
    case State::Skipped: return "スキップ";
    case State::Refused: word = "変換不可"; break;
    case State::Failed: word = "失敗"; break;
    }
    return row.reason.empty() ? word : std::string(word) + ": " + row.reason;
}

void BatchLogic::SetIntoFolder(bool intoFolder) { m_intoFolder = intoFolder; }
void BatchLogic::SetFolder(std::string folder) { m_folder = std::move(folder); }

void BatchLogic::SetSuffix(std::string suffix) {
    m_suffixSet = suffix != SuffixFor(m_settings.ratioIndex);
    m_suffix = std::move(suffix);
}

void BatchLogic::SetRatio(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= RatioList.size()) return;
    m_settings.ratioIndex = index;
    m_settings.percent = RatioList[static_cast<std::size_t>(index)].percent;
    if (!m_suffixSet) m_suffix = SuffixFor(index);
    if (!m_rows.empty()) m_widgets.RowsChanged(0, m_rows.size() - 1);  // the sizes after it
}

bool BatchLogic::CanExecute() const {
    return !Running() && !m_rows.empty() && !(m_intoFolder ? m_folder : m_suffix).empty();
}

bool BatchLogic::Execute() {
    if (!CanExecute()) return false;
    batch::Settings settings = m_settings;
    if (m_intoFolder) {
        settings.targetFolder = m_folder;
    } else {
        settings.suffix = m_suffix;
    }
    std::vector<batch::Source> sources;
    sources.reserve(m_rows.size());
    for (const BatchRow& row : m_rows) sources.push_back(row.source);
    auto run = std::make_unique<Run>(*this, settings, batch::PlanItems(settings, sources));
    // Copied before the run's threads start: from then on it is theirs, under its lock.
    const BatchProgress progress = run->progress;
    try {
        run->pacer = std::thread([runPtr = run.get()] { runPtr->Pace(); });
    } catch (const std::system_error&) {
        return false;
    }
    try {
        run->thread = std::thread([runPtr = run.get()] { runPtr->runner.Run(); });
    } catch (const std::system_error&) {
        {
            std::lock_guard lock(run->mutex);
            run->end = true;
        }
        run->paced.notify_all();
        run->pacer.join();
        return false;
    }
    m_progress = progress;
    m_run = std::move(run);
    for (BatchRow& row : m_rows) row.state = State::Waiting;
    m_widgets.ShowRunning(true);
    m_widgets.RowsChanged(0, m_rows.size() - 1);
    m_widgets.ShowProgress(m_progress);
    return true;
}

void BatchLogic::Stop() {
    if (!m_run) return;
    m_run->stopped = true;
    m_run->runner.Stop();
}

void BatchLogic::StopAndWait() {
    if (!m_run) return;
    Stop();
    m_run->thread.join();
    // The window is going: a summary now would hold its close up.
    Flush(false);
    if (m_run) Finish(false);
}

void BatchLogic::Flush(bool tell) {
    if (!m_run) return;
    std::vector<Run::Change> changes;
    bool end = false;
    {
        std::lock_guard lock(m_run->mutex);
        changes.swap(m_run->changes);
        m_progress = m_run->progress;
        end = m_run->end;
        m_run->posted = false;
    }
    std::size_t first = m_rows.size(), last = 0;
    for (Run::Change& change : changes) {
        BatchRow& row = m_rows[change.row];
        row.state = change.state;
        if (change.state != State::Converting) row.reason = std::move(change.reason);
        first = std::min(first, change.row);
        last = std::max(last, change.row);
    }
    if (first <= last) m_widgets.RowsChanged(first, last);
    m_widgets.ShowProgress(m_progress);
    if (end) Finish(tell);
}

void BatchLogic::Finish(bool tell) {
    if (m_run->thread.joinable()) m_run->thread.join();
    if (m_run->pacer.joinable()) m_run->pacer.join();
    m_counts = m_run->counts;
    const bool stopped = m_run->stopped;
    m_run.reset();
    // A file stopped in the middle is as it was: not done, waiting again.
    for (BatchRow& row : m_rows) {
        if (row.state == State::Converting) row.state = State::Waiting;
    }
    if (!m_rows.empty()) m_widgets.RowsChanged(0, m_rows.size() - 1);
    m_widgets.ShowRunning(false);
    if (tell) m_widgets.ShowSummary(SummaryText(m_counts, stopped));
}

std::string BatchLogic::CountText(std::size_t done, std::size_t files) const {
    const std::string all = std::to_string(files) + " ファイル";
    return Running() || done != 0 ? std::to_string(done) + " / " + all : all;
}

std::string BatchLogic::SummaryText(const batch::Counts& counts, bool stopped) {
    const auto line = [](const char* what, std::size_t n) { return std::string(what) + ": " + std::to_string(n) + " 件\n"; };
    std::string text = stopped ? "中止しました。\n" : "完了しました。\n";
    text += line("変換", counts.converted) + line("スキップ", counts.skipped) + line("変換不可", counts.refused) +
            line("失敗", counts.failed);
    if (counts.notDone != 0) text += line("未処理", counts.notDone);
    if (platform::DescriptorsRanShort()) text += "同時に開けるファイルの数が足りませんでした。\n";
    text.pop_back();
    return text;
}

}  // namespace pictrim
