#include "folder_dialog.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace pictrim::ui {

std::optional<std::wstring> ChooseFolder(HWND owner, const std::wstring& proposed) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
        return std::nullopt;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    // Folders only, and only those with a path: results are written there.
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    IShellItem* start = nullptr;
    if (!proposed.empty() && SUCCEEDED(SHCreateItemFromParsingName(proposed.c_str(), nullptr, IID_PPV_ARGS(&start)))) {
        dialog->SetFolder(start);
        start->Release();
    }
    std::optional<std::wstring> chosen;
    IShellItem* item = nullptr;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
        PWSTR path = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
            chosen = path;
            CoTaskMemFree(path);
        }
        item->Release();
    }
    dialog->Release();
    return chosen;
}

}  // namespace pictrim::ui
