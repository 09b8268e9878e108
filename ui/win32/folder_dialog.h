#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace pictrim::ui {

// The system's folder chooser, owned by the window, opened on the folder
// proposed when there is one; the folder chosen, absolute, or none when
// cancelled. COM must be initialised on the calling thread.
std::optional<std::wstring> ChooseFolder(HWND owner, const std::wstring& title, const std::wstring& proposed);

// The system's file dialog for any number of BMP files; their paths,
// absolute, or none when cancelled.
std::vector<std::wstring> ChooseBitmaps(HWND owner, const std::wstring& title);

}  // namespace pictrim::ui
