#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace pictrim::ui {

// The system's folder chooser, owned by the window, opened on the folder
// proposed when there is one; the folder chosen, absolute, or none when
// cancelled. COM must be initialised on the calling thread.
std::optional<std::wstring> ChooseFolder(HWND owner, const std::wstring& proposed);

}  // namespace pictrim::ui
