#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

namespace pictrim::test {

// Watches for modal message boxes, records them and presses the button the
// policy names (by default Yes, else OK; NoButton leaves the box alone).
class ModalAnswerer {
public:
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QStringList buttonTexts;
    };
    using Policy = std::function<QMessageBox::StandardButton(const Seen&)>;

    explicit ModalAnswerer(Policy policy = [](const Seen& s) {
        return s.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, policy] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box == m_current.data()) return;  // a later box may reuse the address
            m_current = box;
            QStringList texts;
            for (const QAbstractButton* button : box->buttons()) texts << button->text();
            texts.sort();
            seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(), texts});
            if (QAbstractButton* button = box->button(policy(seen.back()))) button->click();
        });
        m_timer.start(5);
    }

    std::vector<Seen> seen;

private:
    QTimer m_timer;
    QPointer<QMessageBox> m_current;
};

}  // namespace pictrim::test
