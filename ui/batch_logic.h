#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch_events.h"
#include "batch/batch_plan.h"
#include "batch/batch_settings.h"

namespace pictrim {

// One file of the batch window's list.
struct BatchRow {
    enum class State { Waiting, Converting, Done, Skipped, Refused, Failed };

    batch::Source source;  // its path, its place under a folder added, or why it is no source
    std::uint32_t width = 0, height = 0;  // 0 while unknown
    State state = State::Waiting;
    // Why the file is refused or failed; before a run, why it will be (not a
    // 24-bit BMP), the state staying Waiting: the run has the last word.
    std::string reason;
};

struct BatchProgress {
    std::uint64_t bytesDone = 0, bytesTotal = 0;
    std::size_t filesDone = 0, files = 0;
};

// What the batch window's logic asks of the widget set's window. Called on
// the user-interface thread only, except PostToUiThread.
class BatchWidgets {
public:
    virtual ~BatchWidgets() = default;
    // From any thread: runs the task later on the user-interface thread,
    // never inside this call.
    virtual void PostToUiThread(std::function<void()> task) = 0;
    // Rows first..last (inclusive) show another state.
    virtual void RowsChanged(std::size_t first, std::size_t last) = 0;
    // Rows were added or removed: the list is to be read again.
    virtual void RowsReset() = 0;
    virtual void ShowProgress(const BatchProgress& progress) = 0;
    // A run starts or ends: 実行 off and 中止 on while it runs, the
    // settings and the list's editing off; CanExecute decides 実行 after.
    virtual void ShowRunning(bool running) = 0;
    // The overwrite question as a modal box with はい, いいえ, すべてはい and
    // すべていいえ. Closing the box answers No.
    virtual batch::Events::Answer AskOverwrite(const std::string& text) = 0;
    // The end's notice, with the counts.
    virtual void ShowSummary(const std::string& text) = 0;
};

// The batch window without any widget set: the list of files, where the
// results go, the run on threads of its own and its events handed to the
// user-interface thread in batches, so that neither waits for the other.
// Paths are UTF-8.
class BatchLogic {
public:
    enum class Column { Name, Folder, PixelSize, SizeAfter, State };
    static constexpr int kColumns = 5;
    // The column headings, in Column's order.
    static const char* ColumnTitle(Column column);

    explicit BatchLogic(BatchWidgets& widgets);
    // Stops a run and waits for its end.
    ~BatchLogic();
    BatchLogic(const BatchLogic&) = delete;
    BatchLogic& operator=(const BatchLogic&) = delete;

    // Files and folders, as named on the command line or dropped: a file as
    // it is, a folder's .bmp files in any case (its subfolders' too when
    // Recursive), each with its size and, when it is not a BMP of 24 bits,
    // why. A path already listed is not listed again. Returns how many rows
    // were added. Not while a run runs.
    std::size_t Add(const std::vector<std::string>& paths);
    // Removes the rows at these positions. Not while a run runs.
    void Remove(std::vector<std::size_t> rows);

    std::size_t RowCount() const { return m_rows.size(); }
    const BatchRow& Row(std::size_t row) const { return m_rows[row]; }
    std::string Text(std::size_t row, Column column) const;

    // Where results go: into a folder (made when missing), or beside each
    // source with a suffix before the extension. The suffix follows the
    // ratio ("_50" at 50 %) until it is set here.
    void SetIntoFolder(bool intoFolder);
    void SetFolder(std::string folder);
    void SetSuffix(std::string suffix);
    // The ratio list's position (same list as the dialog's).
    void SetRatio(int index);
    void SetRecursive(bool recursive) { m_settings.recursive = recursive; }
    void SetOverwrite(batch::Overwrite overwrite) { m_settings.overwrite = overwrite; }
    void SetKeepTimes(bool keep) { m_settings.keepTimes = keep; }
    void SetJobs(unsigned jobs) { m_settings.jobs = jobs; }
    bool IntoFolder() const { return m_intoFolder; }
    const std::string& Folder() const { return m_folder; }
    const std::string& Suffix() const { return m_suffix; }
    int Ratio() const { return m_settings.ratioIndex; }
    const batch::Settings& Settings() const { return m_settings; }

    // 実行 is offered when files are listed, no run runs, and the results
    // have somewhere to go (a folder named, or a suffix).
    bool CanExecute() const;
    // Starts the run. False when it cannot start; nothing changed then.
    bool Execute();
    // 中止, or the window closing: no new file is started, the running ones
    // stop between rows, their destinations as they were; finished files
    // stay. The summary follows when the run has ended.
    void Stop();
    // Stop, then waits for the run's end; for a window that closes.
    void StopAndWait();
    bool Running() const { return m_run != nullptr; }
    // The last run's counts, once it has ended.
    const batch::Counts& Counts() const { return m_counts; }
    const BatchProgress& Progress() const { return m_progress; }

    // The summary's text for these counts.
    static std::string SummaryText(const batch::Counts& counts, bool stopped);
    // The label beside the progress bar: files done of all while a run runs
    // or after one, the files listed before.
    std::string CountText(std::size_t done, std::size_t files) const;

private:
    class Run;
    // User-interface thread: applies what the run told; at its end, the
    // summary is shown when `tell`.
    void Flush(bool tell = true);
    void Finish(bool tell);   // user-interface thread: the run has ended

    BatchWidgets& m_widgets;
    std::vector<BatchRow> m_rows;
    std::set<std::string> m_listed;
    batch::Settings m_settings;
    bool m_intoFolder = false;
    std::string m_folder;
    std::string m_suffix = "_50";
    bool m_suffixSet = false;
    std::unique_ptr<Run> m_run;
    batch::Counts m_counts;
    BatchProgress m_progress;
    std::shared_ptr<BatchLogic*> m_alive;  // posted tasks check it: the logic may be gone
};

}  // namespace pictrim
