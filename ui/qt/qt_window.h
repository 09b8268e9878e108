#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

#include "platform/window.h"

namespace pictrim::ui {

// Carries a worker's enabling and disabling of a control to the control's
// own thread, where `apply` decides what it means (by default the widget is
// enabled or disabled as asked). Dropped if the widget is gone by then.
class QtWindow : public platform::Window {
public:
    explicit QtWindow(QWidget* widget, std::function<void(bool)> apply = {});
    void EnableWindow(bool enable) override;

private:
    QPointer<QWidget> m_widget;
    std::function<void(bool)> m_apply;
};

}  // namespace pictrim::ui
