#include "qt_notice_owner.h"

#include <QMessageBox>
#include <QThread>
#include <QWidget>

#include <memory>
#include <optional>

namespace pictrim::platform {

namespace {

NoticeAnswer Unanswered(const Notice& notice) {
    return notice.buttons == NoticeButtons::YesNo ? NoticeAnswer::No : NoticeAnswer::Ok;
}

}  // namespace

QtNoticeOwner::QtNoticeOwner(QWidget* owner) : m_owner(owner) {}

QtNoticeOwner::~QtNoticeOwner() = default;

NoticeAnswer QtNoticeOwner::ShowNotice(const Notice& notice) {
    if (QThread::currentThread() == thread()) return ShowHere(notice);

    struct Pending {
        std::optional<NoticeAnswer> answer;
    };
    auto pending = std::make_shared<Pending>();
    {
        std::lock_guard lock(m_mutex);
        if (m_dismissed) return Unanswered(notice);
    }
    QMetaObject::invokeMethod(
        this,
        [this, pending, notice] {
            const NoticeAnswer answer = ShowHere(notice);
            {
                std::lock_guard lock(m_mutex);
                pending->answer = answer;
            }
            m_answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_answered.wait(lock, [&] { return pending->answer.has_value() || m_dismissed; });
    return pending->answer.value_or(Unanswered(notice));
}

NoticeAnswer QtNoticeOwner::ShowHere(const Notice& notice) {
    {
        std::lock_guard lock(m_mutex);
        if (m_dismissed) return Unanswered(notice);
    }
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

void QtNoticeOwner::DismissAll() {
    {
        std::lock_guard lock(m_mutex);
        m_dismissed = true;
    }
    m_answered.notify_all();
    for (const QPointer<QMessageBox>& box : m_open) {
        if (box) box->done(QMessageBox::No);
    }
}

}  // namespace pictrim::platform
