#pragma once

namespace pictrim::platform {

// A control that a worker thread may enable and disable; the implementation
// carries the change to the thread that owns the control.
class Window {
public:
    virtual ~Window() = default;
    virtual void EnableWindow(bool enable) = 0;
};

}  // namespace pictrim::platform
