#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

namespace pictrim::test {

// Watches for modal message boxes, records them and answers them, so that a
// test can drive the dialog through its notices.
class ModalAnswerer : public QObject {
public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };
    // Decides the button to press; may also act on the dialog instead (then
    // return NoButton and the box is left to whatever closes it).
    using Policy = std::function<QMessageBox::StandardButton(const Seen&)>;

    explicit ModalAnswerer(Policy policy = {}) : m_policy(std::move(policy)) {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::Poll);
        m_timer.start(5);
    }

    std::vector<Seen> seen;

private:
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box == m_current.data()) return;
        m_current = box;
        const Seen s{box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
        seen.push_back(s);
        QMessageBox::StandardButton answer = m_policy ? m_policy(s) : QMessageBox::NoButton;
        if (answer == QMessageBox::NoButton && !m_policy)
            answer = s.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
        if (answer != QMessageBox::NoButton && box->button(answer) != nullptr) box->button(answer)->click();
    }

    Policy m_policy;
    QTimer m_timer;
    QPointer<QMessageBox> m_current;  // a later box may reuse the address
};

}  // namespace pictrim::test
