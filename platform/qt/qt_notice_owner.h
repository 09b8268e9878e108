#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <mutex>

#include "platform/notice.h"

class QMessageBox;
class QWidget;

namespace pictrim::platform {

// Notices as modal message boxes owned by a widget. Widgets live on the GUI
// thread only, so a worker's notice is handed to that thread and the worker
// waits for the answer; the GUI thread stays free to repaint meanwhile.
class QtNoticeOwner : public QObject, public NoticeOwner {
    Q_OBJECT

public:
    explicit QtNoticeOwner(QWidget* owner);
    ~QtNoticeOwner() override;
    Q_DISABLE_COPY_MOVE(QtNoticeOwner)

    NoticeAnswer ShowNotice(const Notice& notice) override;

    // Closes open notices and answers waiting and later ones at once (No or
    // OK), so that nothing keeps a worker from ending. GUI thread only.
    void DismissAll();

private:
    NoticeAnswer ShowHere(const Notice& notice);

    QPointer<QWidget> m_owner;
    QList<QPointer<QMessageBox>> m_open;  // GUI thread only
    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_dismissed = false;
};

}  // namespace pictrim::platform
