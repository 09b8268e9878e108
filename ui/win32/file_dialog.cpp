#include "file_dialog.h"

#include <cderr.h>
#include <commdlg.h>

#include <vector>

#include "platform/win32/wide_path.h"

namespace pictrim::ui {

std::optional<std::string> ChooseBitmap(HWND owner, const std::string& proposed) {
    // Room for any path Windows can name.
    std::vector<wchar_t> name(32768, L'\0');
    const auto ask = [&](const std::wstring& start) {
        std::fill(name.begin(), name.end(), L'\0');
        start.copy(name.data(), name.size() - 1);
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = owner;
        ofn.lpstrFilter = L"ﾋﾞｯﾄﾏｯﾌﾟﾌｧｲﾙ (*.bmp)\0*.bmp\0";
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = name.data();
        ofn.nMaxFile = static_cast<DWORD>(name.size());
        ofn.lpstrDefExt = L"bmp";
        // Neither "must exist" nor an overwrite prompt: a new name is fine.
        ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER;
        return GetOpenFileNameW(&ofn) != FALSE;
    };
    std::wstring start = platform::Wide(proposed);
    for (wchar_t& c : start) {
        if (c == L'/') c = L'\\';
    }
    if (ask(start)) return platform::Utf8(name.data());
    // A proposed name the dialog cannot start from (a character a file name
    // may not hold) would leave the user without a dialog: start empty.
    if (CommDlgExtendedError() == FNERR_INVALIDFILENAME && ask(std::wstring())) return platform::Utf8(name.data());
    return std::nullopt;
}

}  // namespace pictrim::ui
