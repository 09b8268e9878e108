#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/notice.h"

namespace pictrim::ui {

using platform::Notice;
using platform::NoticeAnswer;
using platform::NoticeButtons;
using platform::NoticeIcon;

// Notices as modal boxes of a dialog, whichever thread tells them. A box
// belongs to the dialog's thread, so a worker's notice is handed to that
// thread and the worker waits for the answer; the dialog stays live
// meanwhile. A widget set supplies the hand-over and the box itself.
class NoticeRelay : public platform::NoticeOwner {
public:
    NoticeRelay() = default;
    NoticeRelay(const NoticeRelay&) = delete;
    NoticeRelay& operator=(const NoticeRelay&) = delete;

    NoticeAnswer ShowNotice(const Notice& notice) final;

    // Closes open notices and answers waiting and later ones at once (No or
    // OK), so that nothing keeps a worker from ending. Dialog's thread only.
    void DismissAll();

protected:
    ~NoticeRelay() override = default;

    virtual bool OnDialogThread() const = 0;
    // Runs the task later on the dialog's thread; false when it cannot.
    virtual bool PostToDialogThread(std::function<void()> task) = 0;
    // Shows the notice as a modal box and waits for its answer.
    virtual NoticeAnswer ShowBox(const Notice& notice) = 0;
    // Ends every box ShowBox has open, and drops tasks not yet run.
    virtual void CloseOpenBoxes() = 0;

private:
    NoticeAnswer ShowHere(const Notice& notice);

    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_dismissed = false;
};

}  // namespace pictrim::ui
