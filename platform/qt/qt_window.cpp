#include "qt_window.h"

#include <QMetaObject>

namespace pictrim::platform {

void QtWindow::EnableWindow(bool enable) {
    QWidget* widget = m_widget.data();
    if (widget == nullptr) return;
    QMetaObject::invokeMethod(widget, [widget, enable] { widget->setEnabled(enable); }, Qt::AutoConnection);
}

}  // namespace pictrim::platform
