#include "batch_dlg.h"

#include <commctrl.h>

#include <utility>

#include "engine/ratio.h"
#include "platform/win32/wide_path.h"
#include "resource.h"
#include "ui/win32/folder_dialog.h"

namespace pictrim {

namespace {

using Answer = batch::Events::Answer;
constexpr int kProgressSteps = 1000;
constexpr int kAnswerAll = 100, kAnswerNone = 101;

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

CBatchDlg::CBatchDlg() {
    // The template's controls, its list and progress bar among them, are
    // registered here, whoever shows the window.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    m_hIcon = LoadIconSized(SM_CXICON, SM_CYICON);
    m_hIconSmall = LoadIconSized(SM_CXSMICON, SM_CYSMICON);
}

CBatchDlg::~CBatchDlg() {
    m_logic.StopAndWait();
    if (m_hWnd != nullptr && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    if (m_hIcon != nullptr) DestroyIcon(m_hIcon);
    if (m_hIconSmall != nullptr) DestroyIcon(m_hIconSmall);
}

void CBatchDlg::AddPaths(const std::vector<std::wstring>& paths) {
    if (m_hWnd == nullptr) {
        m_pending.insert(m_pending.end(), paths.begin(), paths.end());
        return;
    }
    std::vector<std::string> names;
    names.reserve(paths.size());
    // Absolute by the system's rules before anything is derived from them.
    for (const std::wstring& path : paths) {
        const std::wstring full = platform::FullPath(platform::Utf8(path));
        names.push_back(platform::Utf8(full.empty() ? path : full));
    }
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));  // a folder of thousands is looked at here
    m_logic.Add(names);
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    RowsReset();
}

INT_PTR CBatchDlg::DoModal() {
    m_bModal = true;
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_BATCH), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

HWND CBatchDlg::Create() {
    m_bModal = false;
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_BATCH), nullptr, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CBatchDlg::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CBatchDlg*>(lParam);
        self->m_hWnd = hWnd;
        self->m_tasks.SetWindow(hWnd);
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
    case kRunTasksMessage:
        m_tasks.RunPending();
        return TRUE;
    case WM_CLOSE:
        OnClose();
        return TRUE;
    case WM_NCDESTROY:
        m_tasks.SetWindow(nullptr);  // the window is gone, and its logic with it
        m_hWnd = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL CBatchDlg::OnInitDialog() {
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconSmall));
    m_list = Item(IDC_BATCH_LIST);
    ListView_SetExtendedListViewStyle(m_list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    // Fixed widths, in dialog units: measuring ten thousand texts would
    // hold the window up.
    static constexpr int widths[BatchLogic::kColumns] = {70, 90, 40, 40, 90};
    for (int column = 0; column < BatchLogic::kColumns; ++column) {
        RECT width{0, 0, widths[column], 0};
        MapDialogRect(m_hWnd, &width);
        std::wstring title = platform::Wide(BatchLogic::ColumnTitle(static_cast<BatchLogic::Column>(column)));
        LVCOLUMNW lvc{};
        lvc.mask = LVCF_TEXT | LVCF_WIDTH;
        lvc.pszText = title.data();
        lvc.cx = width.right;
        ListView_InsertColumn(m_list, column, &lvc);
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (int i = 0; i < IDS_RATIO_COUNT; ++i) {
        wchar_t text[16] = L"";
        LoadStringW(instance, IDS_RATIO_FIRST + i, text, 16);
        SendDlgItemMessageW(m_hWnd, IDC_BATCH_RATIO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendDlgItemMessageW(m_hWnd, IDC_BATCH_RATIO, CB_SETCURSEL, static_cast<WPARAM>(m_logic.Ratio()), 0);
    // In the order of batch::Overwrite's Ask, Yes, No.
    for (const wchar_t* text : {L"確認する", L"上書きする", L"スキップする"}) {
        SendDlgItemMessageW(m_hWnd, IDC_BATCH_OVERWRITE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendDlgItemMessageW(m_hWnd, IDC_BATCH_OVERWRITE, CB_SETCURSEL, 0, 0);
    SendDlgItemMessageW(m_hWnd, IDC_BATCH_PROGRESS, PBM_SETRANGE32, 0, kProgressSteps);
    SendDlgItemMessageW(m_hWnd, IDC_BATCH_FOLDER, EM_LIMITTEXT, 32767, 0);
    SetDlgItemTextW(m_hWnd, IDC_BATCH_SUFFIX, platform::Wide(m_logic.Suffix()).c_str());
    OnDestinationChanged(m_logic.IntoFolder());
    AddPaths(std::exchange(m_pending, {}));
    RowsReset();
    return TRUE;
}

void CBatchDlg::OnCommand(int id, int code) {
    switch (id) {
    case IDC_BATCH_ADD_FILES:
        if (code == BN_CLICKED) OnAddFiles();
        break;
    case IDC_BATCH_ADD_FOLDER:
        if (code == BN_CLICKED) OnAddFolder();
        break;
    case IDC_BATCH_REMOVE:
        if (code == BN_CLICKED) OnRemove();
        break;
    case IDC_BATCH_RECURSIVE:
        if (code == BN_CLICKED) m_logic.SetRecursive(IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED);
        break;
    case IDC_BATCH_BESIDE:
    case IDC_BATCH_INTO_FOLDER:
        if (code == BN_CLICKED) OnDestinationChanged(id == IDC_BATCH_INTO_FOLDER);
        break;
    case IDC_BATCH_SUFFIX:
        if (code == EN_CHANGE) {
            m_logic.SetSuffix(platform::Utf8(FieldText(Item(id))));
            UpdateCommands();
        }
        break;
    case IDC_BATCH_FOLDER:
        if (code == EN_CHANGE) {
            m_logic.SetFolder(platform::Utf8(FieldText(Item(id))));
            UpdateCommands();
        }
        break;
    case IDC_BATCH_FOLDER_BROWSE:
        if (code == BN_CLICKED) OnBrowseFolder();
        break;
    case IDC_BATCH_RATIO:
        if (code == CBN_SELCHANGE) OnRatioChanged();
        break;
    case IDC_BATCH_OVERWRITE:
        if (code == CBN_SELCHANGE) {
            const auto index = SendDlgItemMessageW(m_hWnd, id, CB_GETCURSEL, 0, 0);
            m_logic.SetOverwrite(index == 1 ? batch::Overwrite::Yes
                                 : index == 2 ? batch::Overwrite::No
                                              : batch::Overwrite::Ask);
        }
        break;
    case IDC_BATCH_KEEP_TIMES:
        if (code == BN_CLICKED) m_logic.SetKeepTimes(IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED);
        break;
    case IDC_BATCH_EXECUTE:
        if (code == BN_CLICKED && !m_logic.Execute()) UpdateCommands();
        break;
    case IDC_BATCH_STOP:
        if (code == BN_CLICKED) m_logic.Stop();
        break;
    case IDC_BATCH_CLOSE:
    case IDCANCEL:  // Esc
        OnClose();
        break;
    default:  // Enter with 実行 off comes as IDOK: nothing to do
        break;
    }
}

bool CBatchDlg::OnNotify(NMHDR* header) {
    if (header->idFrom != IDC_BATCH_LIST) return false;
    if (header->code == LVN_ITEMCHANGED) {
        UpdateCommands();
        return true;
    }
    if (header->code == LVN_ODSTATECHANGED) {
        UpdateCommands();
        return true;
    }
    if (header->code != LVN_GETDISPINFOW) return false;
    auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
    const auto row = static_cast<std::size_t>(info->item.iItem);
    if ((info->item.mask & LVIF_TEXT) == 0 || row >= m_logic.RowCount() || info->item.iSubItem < 0 ||
        info->item.iSubItem >= BatchLogic::kColumns) {
        return true;
    }
    // The list copies the text before it asks for another.
    m_cell = platform::Wide(m_logic.Text(row, static_cast<BatchLogic::Column>(info->item.iSubItem)));
    info->item.pszText = m_cell.data();
    return true;
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
    if (!m_logic.Running()) AddPaths(paths);
}

void CBatchDlg::OnAddFiles() { AddPaths(ui::ChooseBitmaps(m_hWnd, L"ファイルを追加")); }

void CBatchDlg::OnAddFolder() {
    if (const auto folder = ui::ChooseFolder(m_hWnd, L"フォルダーを追加", {})) AddPaths({*folder});
}

void CBatchDlg::OnRemove() {
    std::vector<std::size_t> rows;
    for (int i = ListView_GetNextItem(m_list, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(m_list, i, LVNI_SELECTED)) {
        rows.push_back(static_cast<std::size_t>(i));
    }
    ListView_SetItemState(m_list, -1, 0, LVIS_SELECTED);
    m_logic.Remove(rows);
    RowsReset();
}

void CBatchDlg::OnBrowseFolder() {
    if (const auto folder = ui::ChooseFolder(m_hWnd, L"保存先フォルダー", FieldText(Item(IDC_BATCH_FOLDER)))) {
        SetDlgItemTextW(m_hWnd, IDC_BATCH_FOLDER, folder->c_str());
    }
}

void CBatchDlg::OnDestinationChanged(bool intoFolder) {
    CheckRadioButton(m_hWnd, IDC_BATCH_BESIDE, IDC_BATCH_INTO_FOLDER,
                     intoFolder ? IDC_BATCH_INTO_FOLDER : IDC_BATCH_BESIDE);
    m_logic.SetIntoFolder(intoFolder);
    EnableWindow(Item(IDC_BATCH_SUFFIX), !intoFolder);
    EnableWindow(Item(IDC_BATCH_FOLDER), intoFolder);
    EnableWindow(Item(IDC_BATCH_FOLDER_BROWSE), intoFolder);
    UpdateCommands();
}

void CBatchDlg::OnRatioChanged() {
    const auto index = SendDlgItemMessageW(m_hWnd, IDC_BATCH_RATIO, CB_GETCURSEL, 0, 0);
    m_logic.SetRatio(static_cast<int>(index));
    // The suffix follows the ratio until the user sets one: the logic's
    // choice shown, and told back to it as it is.
    const std::wstring suffix = platform::Wide(m_logic.Suffix());
    if (FieldText(Item(IDC_BATCH_SUFFIX)) != suffix) SetDlgItemTextW(m_hWnd, IDC_BATCH_SUFFIX, suffix.c_str());
    UpdateCommands();
}

void CBatchDlg::OnClose() {
    // The question, when it is up, goes unanswered: the run stops anyway.
    if (m_question != nullptr) SendMessageW(m_question, TDM_CLICK_BUTTON, IDCANCEL, 0);
    m_logic.StopAndWait();
    if (m_hWnd == nullptr) return;
    if (m_bModal) {
        EndDialog(m_hWnd, IDCANCEL);
    } else {
        DestroyWindow(m_hWnd);
    }
}

void CBatchDlg::UpdateCommands() {
    const bool running = m_logic.Running();
    EnableWindow(Item(IDC_BATCH_EXECUTE), m_logic.CanExecute());
    EnableWindow(Item(IDC_BATCH_STOP), running);
    EnableWindow(Item(IDC_BATCH_REMOVE), !running && ListView_GetSelectedCount(m_list) > 0);
}

void CBatchDlg::ShowCount(std::size_t done, std::size_t files) {
    SetDlgItemTextW(m_hWnd, IDC_BATCH_COUNT, platform::Wide(m_logic.CountText(done, files)).c_str());
}

void CBatchDlg::PostToUiThread(std::function<void()> task) { m_tasks.Post(std::move(task)); }

void CBatchDlg::RowsChanged(std::size_t first, std::size_t last) {
    ListView_RedrawItems(m_list, static_cast<int>(first), static_cast<int>(last));
}

void CBatchDlg::RowsReset() {
    if (m_hWnd == nullptr) return;
    ListView_SetItemCountEx(m_list, static_cast<int>(m_logic.RowCount()), LVSICF_NOSCROLL);
    InvalidateRect(m_list, nullptr, FALSE);
    ShowCount(0, m_logic.RowCount());
    UpdateCommands();
}

void CBatchDlg::ShowProgress(const BatchProgress& progress) {
    const std::uint64_t step =
        progress.bytesTotal != 0 ? progress.bytesDone * kProgressSteps / progress.bytesTotal
        : progress.files != 0    ? progress.filesDone * kProgressSteps / progress.files
                                 : 0;
    SendDlgItemMessageW(m_hWnd, IDC_BATCH_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(step), 0);
    ShowCount(progress.filesDone, progress.files);
}

void CBatchDlg::ShowRunning(bool running) {
    for (const int id : {IDC_BATCH_ADD_FILES, IDC_BATCH_ADD_FOLDER, IDC_BATCH_RECURSIVE, IDC_BATCH_BESIDE,
                         IDC_BATCH_INTO_FOLDER, IDC_BATCH_RATIO, IDC_BATCH_OVERWRITE, IDC_BATCH_KEEP_TIMES}) {
        EnableWindow(Item(id), !running);
    }
    const bool intoFolder = m_logic.IntoFolder();
    EnableWindow(Item(IDC_BATCH_SUFFIX), !running && !intoFolder);
    EnableWindow(Item(IDC_BATCH_FOLDER), !running && intoFolder);
    EnableWindow(Item(IDC_BATCH_FOLDER_BROWSE), !running && intoFolder);
    DragAcceptFiles(m_hWnd, running ? FALSE : TRUE);
    const HWND focus = GetFocus();
    UpdateCommands();
    // 実行 goes off under the keyboard: the list takes the focus, not 中止, a
    // focused button being what Enter presses (a second Enter meant for 実行
    // would stop the run it just started); 実行 gets it back at the end.
    if (running && (focus == Item(IDC_BATCH_EXECUTE) || focus == nullptr || !IsWindowEnabled(focus))) {
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_BATCH_LIST)), TRUE);
    }
    if (!running && (focus == Item(IDC_BATCH_LIST) || focus == Item(IDC_BATCH_STOP))) {
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_BATCH_EXECUTE)), TRUE);
    }
}

Answer CBatchDlg::AskOverwrite(const std::string& text) {
    const std::wstring content = platform::Wide(text);
    const TASKDIALOG_BUTTON buttons[] = {
        {IDYES, L"はい"}, {IDNO, L"いいえ"}, {kAnswerAll, L"すべてはい"}, {kAnswerNone, L"すべていいえ"}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = m_hWnd;
    // Esc and the close box answer いいえ, as closing the box does.
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.pszWindowTitle = L"Pictrim";
    config.pszMainIcon = TD_WARNING_ICON;
    config.pszContent = content.c_str();
    config.cButtons = 4;
    config.pButtons = buttons;
    config.nDefaultButton = IDYES;
    config.pfCallback = [](HWND box, UINT notification, WPARAM, LPARAM, LONG_PTR self) -> HRESULT {
        if (notification == TDN_CREATED) reinterpret_cast<CBatchDlg*>(self)->m_question = box;
        if (notification == TDN_DESTROYED) reinterpret_cast<CBatchDlg*>(self)->m_question = nullptr;
        return S_OK;
    };
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(this);
    int pressed = IDCANCEL;
    if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr))) return Answer::No;
    switch (pressed) {
    case IDYES: return Answer::Yes;
    case kAnswerAll: return Answer::All;
    case kAnswerNone: return Answer::None;
    default: return Answer::No;
    }
}

void CBatchDlg::ShowSummary(const std::string& text) {
    const UINT icon = m_logic.Counts().Complete() ? MB_ICONINFORMATION : MB_ICONEXCLAMATION;
    MessageBoxW(m_hWnd, platform::Wide(text).c_str(), L"Pictrim", icon);
}

}  // namespace pictrim
