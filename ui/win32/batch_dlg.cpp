#include "batch_dlg.h"

#include <commctrl.h>
#include <shellapi.h>

#include "engine/ratio.h"
#include "resource.h"
#include "ui/win32/folder_dialog.h"

namespace pictrim {

namespace {

constexpr int kExitCode = 16;

std::wstring FieldText(HWND field) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(field)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(field, text.data(), static_cast<int>(text.size()))));
    return text;
}

HICON LoadIconSized(int cx, int cy) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                         GetSystemMetrics(cx), GetSystemMetrics(cy), 0));
}

}  // namespace

CBatchDlg::~CBatchDlg() {
    if (m_hIcon != nullptr) DestroyIcon(m_hIcon);
    if (m_hIconSmall != nullptr) DestroyIcon(m_hIconSmall);
}

void CBatchDlg::AddPaths(const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) {
        const std::size_t slash = path.find_last_of(L"\\/");
        Row row;
        row.name = slash == std::wstring::npos ? path : path.substr(slash + 1);
        row.folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
        m_rows.push_back(row);
    }
    if (m_hWnd != nullptr) RefreshList();
}

INT_PTR CBatchDlg::DoModal() {
    m_hIcon = LoadIconSized(SM_CXICON, SM_CYICON);
    m_hIconSmall = LoadIconSized(SM_CXSMICON, SM_CYSMICON);
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_BATCH), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CBatchDlg::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        reinterpret_cast<CBatchDlg*>(lParam)->m_hWnd = hWnd;
    }
    auto* self = reinterpret_cast<CBatchDlg*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CBatchDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam)) ? TRUE : FALSE;
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return TRUE;
    case WM_CLOSE:
        OnClose();
        return TRUE;
    case WM_NCDESTROY:
        m_hWnd = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL CBatchDlg::OnInitDialog() {
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconSmall));
    m_list = GetDlgItem(m_hWnd, IDC_BATCH_LIST);
    ListView_SetExtendedListViewStyle(m_list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    struct Column {
        const wchar_t* title;
        int width;  // dialog units
    };
    static constexpr Column columns[] = {
        {L"名前", 80}, {L"フォルダー", 100}, {L"大きさ", 45}, {L"変換後", 45}, {L"状態", 70}};
    int index = 0;
    for (const Column& column : columns) {
        RECT width{0, 0, column.width, 0};
        MapDialogRect(m_hWnd, &width);
        LVCOLUMNW lvc{};
        lvc.mask = LVCF_TEXT | LVCF_WIDTH;
        lvc.pszText = const_cast<wchar_t*>(column.title);
        lvc.cx = width.right;
        ListView_InsertColumn(m_list, index++, &lvc);
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HWND ratio = GetDlgItem(m_hWnd, IDC_BATCH_RATIO);
    for (int i = 0; i < IDS_RATIO_COUNT; ++i) {
        wchar_t text[16] = L"";
        LoadStringW(instance, IDS_RATIO_FIRST + i, text, 16);
        SendMessageW(ratio, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendMessageW(ratio, CB_SETCURSEL, kDefaultRatioIndex, 0);
    HWND existing = GetDlgItem(m_hWnd, IDC_BATCH_EXISTING);
    for (const wchar_t* text : {L"確認する", L"上書きする", L"スキップする"}) {
        SendMessageW(existing, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendMessageW(existing, CB_SETCURSEL, 0, 0);
    CheckRadioButton(m_hWnd, IDC_BATCH_TO_FOLDER, IDC_BATCH_BESIDE, IDC_BATCH_TO_FOLDER);
    RefreshList();
    return TRUE;
}

void CBatchDlg::RefreshList() {
    ListView_SetItemCountEx(m_list, static_cast<int>(m_rows.size()), LVSICF_NOSCROLL);
    InvalidateRect(m_list, nullptr, FALSE);
    EnableWindow(GetDlgItem(m_hWnd, IDC_BATCH_EXECUTE), m_rows.empty() ? FALSE : TRUE);
}

bool CBatchDlg::OnNotify(NMHDR* header) {
    if (header->idFrom != IDC_BATCH_LIST || header->code != LVN_GETDISPINFOW) return false;
    auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
    const auto item = static_cast<std::size_t>(info->item.iItem);
    if ((info->item.mask & LVIF_TEXT) == 0 || item >= m_rows.size()) return true;
    const Row& row = m_rows[item];
    const std::wstring* texts[] = {&row.name, &row.folder, &row.pixels, &row.after, &row.state};
    const int column = info->item.iSubItem;
    if (column >= 0 && column < 5) lstrcpynW(info->item.pszText, texts[column]->c_str(), info->item.cchTextMax);
    return true;
}

void CBatchDlg::OnCommand(int id, int code) {
    switch (id) {
    case IDC_BATCH_BROWSE:
        if (code == BN_CLICKED) OnBrowse();
        break;
    case IDC_BATCH_REMOVE:
        if (code == BN_CLICKED) OnRemove();
        break;
    case IDC_BATCH_EXIT:
        if (code == BN_CLICKED) {
            m_nExitCode = kExitCode;
            EndDialog(m_hWnd, kExitCode);
        }
        break;
    case IDCANCEL:
        OnClose();
        break;
    default:
        break;
    }
}

void CBatchDlg::OnDropFiles(HDROP drop) {
    std::vector<std::wstring> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(DragQueryFileW(drop, i, nullptr, 0), L'\0');
        DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size() + 1));
        paths.push_back(path);
    }
    DragFinish(drop);
    AddPaths(paths);
}

void CBatchDlg::OnBrowse() {
    HWND field = GetDlgItem(m_hWnd, IDC_BATCH_FOLDER);
    if (const auto folder = ui::ChooseFolder(m_hWnd, FieldText(field))) {
        SetWindowTextW(field, folder->c_str());
        CheckRadioButton(m_hWnd, IDC_BATCH_TO_FOLDER, IDC_BATCH_BESIDE, IDC_BATCH_TO_FOLDER);
    }
}

void CBatchDlg::OnRemove() {
    // From the last selected up, so that the indexes still to go stay valid.
    std::vector<std::size_t> selected;
    for (int i = ListView_GetNextItem(m_list, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(m_list, i, LVNI_SELECTED)) {
        selected.push_back(static_cast<std::size_t>(i));
    }
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(*it));
    ListView_SetItemState(m_list, -1, 0, LVIS_SELECTED);
    RefreshList();
}

void CBatchDlg::OnClose() { EndDialog(m_hWnd, IDCANCEL); }

}  // namespace pictrim
