#pragma once

#include <windows.h>
#include <shellapi.h>

namespace pictrim {

// A path field that also takes one file dropped from Explorer: the first
// dropped name, when it ends in ".bmp" in any letter case, becomes the
// field's text exactly as dropped, and the edit control's EN_CHANGE tells
// the dialog. Any other drop leaves the field alone, without a notice.
// Drops are accepted through the template's WS_EX_ACCEPTFILES.
class CDropEdit {
public:
    CDropEdit() = default;
    ~CDropEdit();
    CDropEdit(const CDropEdit&) = delete;
    CDropEdit& operator=(const CDropEdit&) = delete;

    // Takes over an existing edit control's WM_DROPFILES.
    bool SubclassWindow(HWND edit);
    void OnDropFiles(HDROP drop);

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
};

}  // namespace pictrim
