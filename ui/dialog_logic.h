#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job_params.h"
#include "platform/notice.h"
#include "platform/window.h"
#include "platform/worker_thread.h"

namespace pictrim {

// What the dialog's logic asks of the widget set's dialog. Called on the
// user-interface thread only.
class DialogWidgets {
public:
    virtual ~DialogWidgets() = default;
    virtual void SetExecuteEnabled(bool enable) = 0;
    // The busy cursor over the dialog while a job runs. Turned on before
    // Execute is disabled, so that the widget set can first move the
    // keyboard focus off it (the next tab stop would be Exit, where an
    // Enter meant for nothing would end the program and drop the job).
    virtual void ShowBusy(bool busy) = 0;
    // Closes open notices and answers waiting and later ones at once (No or
    // OK), so that nothing keeps a worker from ending.
    virtual void DismissNotices() = 0;
};

// The dialog without any widget set: the two paths as last read from their
// fields, the Execute rule, the gathering of JobParams and the workers.
// Execute is offered exactly when no job runs, both paths are given, the
// source exists and the destination is not the source itself however it
// is spelled. Paths are UTF-8.
class DialogLogic {
public:
    // The program's exit status when the user leaves through Exit.
    static constexpr int kExitCode = 16;
    // The most characters typed or pasted into a path field; a path set by
    // the program (browsed, dropped) is taken whole.
    static constexpr int kMaxPathChars = 512;

    // Whether a drop puts this name into a path field: only the first dropped
    // name counts, and only when it ends in ".bmp" in any letter case.
    static bool TakesDroppedName(std::string_view firstDropped);

    // `notices` owns the job's notices; the job enables and disables
    // `executeButton` from its own thread, and the widget set calls
    // OnJobEnded on the user-interface thread when the job enables it.
    DialogLogic(DialogWidgets& widgets, platform::NoticeOwner& notices, platform::Window& executeButton);
    ~DialogLogic();
    DialogLogic(const DialogLogic&) = delete;
    DialogLogic& operator=(const DialogLogic&) = delete;

    // A field's text, as typed, pasted or dropped. One path in a pair of
    // double quotes (Explorer's "Copy as path") is taken as that path.
    void OnChangeSrc(std::string text);
    void OnChangeDst(std::string text);
    const std::string& Source() const { return m_strSrc; }
    const std::string& Destination() const { return m_strDst; }

    // The path a field's text stands for: itself, or the one path in a pair
    // of double quotes.
    static std::string PathInField(const std::string& text);
    // Whether the two paths qualify, job or no job.
    static bool PathsQualify(const std::string& src, const std::string& dst);

    // The ratio list's selected index and that entry's percent.
    JobParams GatherJobParams(int ratioIndex, std::int32_t percent) const;
    // Starts one conversion on a worker of its own. False when the system
    // gives no thread; the user has then been told.
    bool OnExecute(int ratioIndex, std::int32_t percent);
    // The job's end, as the job's enabling of Execute reports it.
    void OnJobEnded();

    bool HasRunningJob() const;
    // Stops every running job between rows and waits for it, leaving its
    // destination as it was. For every way the dialog ends.
    void StopRunningJobs();

private:
    void UpdateExecuteButton();

    DialogWidgets& m_widgets;
    platform::NoticeOwner& m_notices;
    platform::Window& m_executeButton;
    std::string m_strSrc;
    std::string m_strDst;
    // From the click on Execute to the job's end, whatever the fields do.
    bool m_bJobRunning = false;
    // Lifetimes of the workers started here: a worker deletes itself when
    // its thread ends, so the dialog never holds the worker itself.
    std::vector<std::shared_ptr<platform::ThreadLifetime>> m_pThread;
};

}  // namespace pictrim
