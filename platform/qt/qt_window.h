#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/window.h"

namespace pictrim::platform {

// Enables or disables a widget from any thread: the change runs on the
// widget's own thread, and is dropped if the widget is gone by then.
class QtWindow : public Window {
public:
    explicit QtWindow(QWidget* widget) : m_widget(widget) {}
    void EnableWindow(bool enable) override;

private:
    QPointer<QWidget> m_widget;
};

}  // namespace pictrim::platform
