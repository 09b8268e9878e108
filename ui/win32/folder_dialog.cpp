#include "folder_dialog.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace pictrim::ui {

namespace {

// An item's file-system path; empty for one without (a phone's files).
std::wstring PathOf(IShellItem* item) {
    std::wstring result;
    PWSTR path = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        result = path;
        CoTaskMemFree(path);
    }
    return result;
}

IFileOpenDialog* OpenDialog(const std::wstring& title, FILEOPENDIALOGOPTIONS add) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
        return nullptr;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    // Only what has a path: files are read and written there.
    dialog->SetOptions(options | FOS_FORCEFILESYSTEM | add);
    dialog->SetTitle(title.c_str());
    return dialog;
}

}  // namespace

std::optional<std::wstring> ChooseFolder(HWND owner, const std::wstring& title, const std::wstring& proposed) {
    IFileOpenDialog* dialog = OpenDialog(title, FOS_PICKFOLDERS);
    if (dialog == nullptr) return std::nullopt;
    IShellItem* start = nullptr;
    if (!proposed.empty() && SUCCEEDED(SHCreateItemFromParsingName(proposed.c_str(), nullptr, IID_PPV_ARGS(&start)))) {
        dialog->SetFolder(start);
        start->Release();
    }
    std::optional<std::wstring> chosen;
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
        const std::wstring path = PathOf(item);
        if (!path.empty()) chosen = path;
        item->Release();
    }
    dialog->Release();
    return chosen;
}

std::vector<std::wstring> ChooseBitmaps(HWND owner, const std::wstring& title) {
    std::vector<std::wstring> chosen;
    IFileOpenDialog* dialog = OpenDialog(title, FOS_ALLOWMULTISELECT | FOS_FILEMUSTEXIST);
    if (dialog == nullptr) return chosen;
    const COMDLG_FILTERSPEC types[] = {{L"ﾋﾞｯﾄﾏｯﾌﾟﾌｧｲﾙ (*.bmp)", L"*.bmp"}, {L"すべてのファイル (*.*)", L"*.*"}};
    dialog->SetFileTypes(2, types);
    IShellItemArray* items = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResults(&items))) {
        DWORD count = 0;
        items->GetCount(&count);
        for (DWORD i = 0; i < count; ++i) {
            IShellItem* item = nullptr;
            if (FAILED(items->GetItemAt(i, &item))) continue;
            const std::wstring path = PathOf(item);
            if (!path.empty()) chosen.push_back(path);
            item->Release();
        }
        items->Release();
    }
    dialog->Release();
    return chosen;
}

}  // namespace pictrim::ui
