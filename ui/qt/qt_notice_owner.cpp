#include "qt_notice_owner.h"

#include <QMessageBox>
#include <QThread>
#include <QWidget>

#include <utility>

namespace pictrim::ui {

QtNoticeOwner::QtNoticeOwner(QWidget* owner) : m_owner(owner) {}

QtNoticeOwner::~QtNoticeOwner() = default;

bool QtNoticeOwner::OnDialogThread() const { return QThread::currentThread() == thread(); }

bool QtNoticeOwner::PostToDialogThread(std::function<void()> task) {
    return QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

NoticeAnswer QtNoticeOwner::ShowBox(const Notice& notice) {
    const bool question = notice.buttons == NoticeButtons::YesNo;
    QMessageBox box(notice.icon == NoticeIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QString::fromStdString(notice.caption), QString::fromStdString(notice.text),
                    question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, m_owner);
    box.setDefaultButton(question ? QMessageBox::Yes : QMessageBox::Ok);
    // The owner may show the busy cursor while its job waits for this answer.
    box.setCursor(Qt::ArrowCursor);
    m_open.append(&box);
    const int result = box.exec();
    m_open.removeAll(&box);
    if (!question) return NoticeAnswer::Ok;
    return result == QMessageBox::Yes ? NoticeAnswer::Yes : NoticeAnswer::No;
}

void QtNoticeOwner::CloseOpenBoxes() {
    for (const QPointer<QMessageBox>& box : m_open) {
        if (box) box->done(QMessageBox::No);
    }
}

}  // namespace pictrim::ui
