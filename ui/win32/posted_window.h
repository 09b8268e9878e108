#pragma once

#include <windows.h>

#include "platform/window.h"

namespace pictrim::ui {

// A control that a worker enables and disables through a message posted to
// the window that owns it (wParam: TRUE to enable), where the owner decides
// what it means. Posting never waits, so a worker never waits for a
// window that is busy or gone.
class PostedWindow : public platform::Window {
public:
    static constexpr UINT kEnableMessage = WM_APP + 2;

    void SetOwner(HWND owner) { m_owner = owner; }
    void EnableWindow(bool enable) override {
        if (m_owner != nullptr) PostMessageW(m_owner, kEnableMessage, enable ? TRUE : FALSE, 0);
    }

private:
    HWND m_owner = nullptr;
};

}  // namespace pictrim::ui
