#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include "ui/notice_relay.h"

class QMessageBox;
class QWidget;

namespace pictrim::ui {

// Notices as QMessageBox owned by a widget; widgets live on the GUI thread
// only, and the relay brings a worker's notice there.
class QtNoticeOwner : public QObject, public NoticeRelay {
    Q_OBJECT

public:
    explicit QtNoticeOwner(QWidget* owner);
    ~QtNoticeOwner() override;
    Q_DISABLE_COPY_MOVE(QtNoticeOwner)

private:
    bool OnDialogThread() const override;
    bool PostToDialogThread(std::function<void()> task) override;
    NoticeAnswer ShowBox(const Notice& notice) override;
    void CloseOpenBoxes() override;

    QPointer<QWidget> m_owner;
    QList<QPointer<QMessageBox>> m_open;  // GUI thread only
};

}  // namespace pictrim::ui
