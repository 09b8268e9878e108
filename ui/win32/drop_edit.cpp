#include "drop_edit.h"

#include <commctrl.h>

#include <cwchar>
#include <string>

#include "platform/win32/wide_path.h"
#include "ui/dialog_logic.h"

namespace pictrim {

namespace {
constexpr UINT_PTR kSubclassId = 1;
}

CDropEdit::~CDropEdit() {
    if (m_hWnd != nullptr && IsWindow(m_hWnd)) RemoveWindowSubclass(m_hWnd, WindowProc, kSubclassId);
}

bool CDropEdit::SubclassWindow(HWND edit) {
    if (!SetWindowSubclass(edit, WindowProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return false;
    m_hWnd = edit;
    return true;
}

LRESULT CALLBACK CDropEdit::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
    if (message == WM_DROPFILES) {
        reinterpret_cast<CDropEdit*>(self)->OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(hWnd, WindowProc, kSubclassId);
    return DefSubclassProc(hWnd, message, wParam, lParam);
}

void CDropEdit::OnDropFiles(HDROP drop) {
    DragAcceptFiles(m_hWnd, FALSE);  // one drop at a time
    const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    const SIZE_T needed = (SIZE_T{length} + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, needed);
    const SIZE_T actual = block != nullptr ? GlobalSize(block) : 0;
    if (actual < needed) {
        // Drops stay refused on this field from here on; typing and browsing
        // still work.
        wchar_t text[96];
        std::swprintf(text, sizeof text / sizeof text[0], L"メモリ不足です。\n%lu < %lu",
                      static_cast<unsigned long>(actual), static_cast<unsigned long>(needed));
        MessageBoxW(m_hWnd, text, L"エラー", MB_OK);
        if (block != nullptr) GlobalFree(block);
        DragFinish(drop);
        return;
    }
    auto* name = static_cast<wchar_t*>(GlobalLock(block));
    DragQueryFileW(drop, 0, name, length + 1);
    // As dropped, in its own letter case.
    if (DialogLogic::TakesDroppedName(platform::Utf8(name))) SetWindowTextW(m_hWnd, name);
    GlobalUnlock(block);
    GlobalFree(block);
    DragAcceptFiles(m_hWnd, TRUE);
    // The edit control does nothing with a drop; the drop's data is ours to free.
    DragFinish(drop);
}

}  // namespace pictrim
