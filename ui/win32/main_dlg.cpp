#include "main_dlg.h"

#include "engine/ratio.h"
#include "ui/win32/file_dialog.h"
#include "platform/win32/wide_path.h"
#include "resource.h"

namespace pictrim {

namespace {


std::string FieldText(HWND field) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(field)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(field, text.data(), static_cast<int>(text.size()))));
    return platform::Utf8(text);
}

}  // namespace

CMainDlg::CMainDlg(HWND parent) : m_hParent(parent) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    m_hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    m_hIconSmall = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

CMainDlg::~CMainDlg() {
    if (m_hWnd != nullptr && IsWindow(m_hWnd)) {
        m_logic.StopRunningJobs();
        DestroyWindow(m_hWnd);
    }
    if (m_hIcon != nullptr) DestroyIcon(m_hIcon);
    if (m_hIconSmall != nullptr) DestroyIcon(m_hIconSmall);
}

INT_PTR CMainDlg::DoModal() {
    m_bModal = true;
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), m_hParent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

HWND CMainDlg::Create() {
    m_bModal = false;
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), m_hParent, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMainDlg::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        reinterpret_cast<CMainDlg*>(lParam)->m_hWnd = hWnd;
    }
    auto* self = reinterpret_cast<CMainDlg*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CMainDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        OnClose();
        return TRUE;
    case WM_SETCURSOR:
        if (!OnSetCursor(reinterpret_cast<HWND>(wParam), static_cast<short>(LOWORD(lParam)))) return FALSE;
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case ui::WindowNotices::kShowNoticeMessage:
        m_notices.ShowPending();
        return TRUE;
    case ui::PostedWindow::kEnableMessage:
        // The job's own enabling of Execute at its end means "the job is
        // over": the rule decides on the fields as they are then.
        if (wParam != FALSE) m_logic.OnJobEnded();
        return TRUE;
    case WM_NCDESTROY:
        m_hWnd = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

void CMainDlg::DoDataExchange() {
    m_cbRatio = GetDlgItem(m_hWnd, IDC_RATIO);
    m_btnExecute = GetDlgItem(m_hWnd, IDC_EXECUTE);
    m_editDst.SubclassWindow(GetDlgItem(m_hWnd, IDC_DST_EDIT));
    m_editSrc.SubclassWindow(GetDlgItem(m_hWnd, IDC_SRC_EDIT));
    SendMessageW(m_editSrc.m_hWnd, EM_LIMITTEXT, DialogLogic::kMaxPathChars, 0);
    SendMessageW(m_editDst.m_hWnd, EM_LIMITTEXT, DialogLogic::kMaxPathChars, 0);
}

BOOL CMainDlg::OnInitDialog() {
    m_notices.SetOwner(m_hWnd);
    m_executeWindow.SetOwner(m_hWnd);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (int i = 0; i < IDS_RATIO_COUNT; ++i) {
        wchar_t text[16] = L"";
        LoadStringW(instance, IDS_RATIO_FIRST + i, text, 16);
        SendMessageW(GetDlgItem(m_hWnd, IDC_RATIO), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    DoDataExchange();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconSmall));
    SendMessageW(m_cbRatio, CB_SETCURSEL, kDefaultRatioIndex, 0);
    for (int i = 0; i < IDS_RATIO_COUNT && i < static_cast<int>(RatioList.size()); ++i)
        SendMessageW(m_cbRatio, CB_SETITEMDATA, i, RatioList[i].percent);
    if (!m_strSourceFile.empty()) SetWindowTextW(m_editSrc.m_hWnd, m_strSourceFile.c_str());
    return TRUE;  // the focus goes to the first tab stop, the source field
}

void CMainDlg::OnCommand(int id, int code) {
    switch (id) {
    case IDC_SRC_BROWSE:
        if (code == BN_CLICKED) OnBrowseSrc();
        break;
    case IDC_EXIT:
        if (code == BN_CLICKED) OnExit();
        break;
    case IDC_DST_BROWSE:
        if (code == BN_CLICKED) OnBrowseDst();
        break;
    case IDC_EXECUTE:
        if (code == BN_CLICKED) OnExecute();
        break;
    case IDC_SRC_EDIT:
        if (code == EN_CHANGE) OnChangeSrc();
        break;
    case IDC_DST_EDIT:
        if (code == EN_CHANGE) OnChangeDst();
        break;
    case IDCANCEL:  // Esc
        OnClose();
        break;
    default:  // Enter with Execute disabled comes as IDOK: nothing to do
        break;
    }
}

void CMainDlg::OnChangeSrc() { m_logic.OnChangeSrc(FieldText(m_editSrc.m_hWnd)); }

void CMainDlg::OnChangeDst() { m_logic.OnChangeDst(FieldText(m_editDst.m_hWnd)); }


void CMainDlg::SetExecuteEnabled(bool enable) { EnableWindow(m_btnExecute, enable ? TRUE : FALSE); }

bool CMainDlg::BrowseForBitmap(std::string& path) {
    const std::optional<std::string> chosen = ui::ChooseBitmap(m_hWnd, path);
    if (!chosen) return false;
    path = *chosen;
    return true;
}

void CMainDlg::OnBrowseSrc() {
    std::string path = DialogLogic::PathInField(FieldText(m_editSrc.m_hWnd));
    if (BrowseForBitmap(path)) SetWindowTextW(m_editSrc.m_hWnd, platform::Wide(path).c_str());
}

void CMainDlg::OnBrowseDst() {
    // The source's name is proposed: the destination usually sits beside it.
    std::string path = DialogLogic::PathInField(FieldText(m_editSrc.m_hWnd));
    if (BrowseForBitmap(path)) SetWindowTextW(m_editDst.m_hWnd, platform::Wide(path).c_str());
}

void CMainDlg::OpenSourceFile(const std::wstring& path) {
    m_strSourceFile = path;
    if (m_hWnd != nullptr) SetWindowTextW(m_editSrc.m_hWnd, path.c_str());
}

JobParams CMainDlg::GatherJobParams() {
    const int index = static_cast<int>(SendMessageW(m_cbRatio, CB_GETCURSEL, 0, 0));
    return m_logic.GatherJobParams(index, static_cast<std::int32_t>(SendMessageW(m_cbRatio, CB_GETITEMDATA, index, 0)));
}

void CMainDlg::OnExecute() {
    const JobParams params = GatherJobParams();
    m_logic.OnExecute(params.ratioIndex, params.percent);
}

void CMainDlg::ShowBusy(bool busy) {
    // The focus would stay on the disabled button, where no key reaches
    // anything; the source field is where work goes on.
    if (busy && GetFocus() == m_btnExecute) {
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_editSrc.m_hWnd), TRUE);
    }
    m_bBusy = busy;
    // The cursor changes now, not at the next move of the mouse.
    POINT at;
    if (GetCursorPos(&at)) {
        HWND under = WindowFromPoint(at);
        if (under == m_hWnd || IsChild(m_hWnd, under)) {
            const LRESULT hit = SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y));
            SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(hit, WM_MOUSEMOVE));
        }
    }
}

bool CMainDlg::OnSetCursor(HWND hit, int hitTest) {
    // Over the dialog and its controls only: the notices and the file
    // dialog are windows of their own and keep the ordinary arrow.
    if (!m_bBusy || hitTest != HTCLIENT || (hit != m_hWnd && !IsChild(m_hWnd, hit))) return false;
    SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
    return true;
}

void CMainDlg::DismissNotices() { m_notices.DismissAll(); }

bool CMainDlg::HasRunningJob() const { return m_logic.HasRunningJob(); }

void CMainDlg::OnExit() {
    m_logic.StopRunningJobs();
    m_nExitCode = DialogLogic::kExitCode;
    PostQuitMessage(DialogLogic::kExitCode);
    End(DialogLogic::kExitCode);
}

void CMainDlg::OnClose() {
    m_logic.StopRunningJobs();
    End(IDCANCEL);
}

void CMainDlg::End(int code) {
    if (m_hWnd == nullptr) return;
    if (m_bModal) {
        EndDialog(m_hWnd, code);
    } else {
        DestroyWindow(m_hWnd);
    }
}

}  // namespace pictrim
