#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace pictrim::ui {

// The system's file dialog in its open form, which also takes a name that
// does not exist yet: the destination is chosen with it too. `proposed`
// (UTF-8) is the name it starts with; none when cancelled.
std::optional<std::string> ChooseBitmap(HWND owner, const std::string& proposed);

}  // namespace pictrim::ui
