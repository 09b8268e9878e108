#include "qt_window.h"

#include <QMetaObject>

namespace pictrim::ui {

QtWindow::QtWindow(QWidget* widget, std::function<void(bool)> apply) : m_widget(widget), m_apply(std::move(apply)) {
    if (!m_apply) m_apply = [widget](bool enable) { widget->setEnabled(enable); };
}

void QtWindow::EnableWindow(bool enable) {
    QWidget* widget = m_widget.data();
    if (widget == nullptr) return;
    QMetaObject::invokeMethod(widget, [apply = m_apply, enable] { apply(enable); }, Qt::AutoConnection);
}

}  // namespace pictrim::ui
