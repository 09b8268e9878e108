#pragma once

#include <windows.h>

#include <string>

#include "drop_edit.h"
#include "engine/job_params.h"
#include "ui/win32/posted_window.h"
#include "ui/win32/window_notices.h"
#include "ui/dialog_logic.h"

namespace pictrim {

// The program's one window, from the template IDD_MAIN: two paths, a
// ratio, Execute. Execute is offered exactly when no job runs, both paths
// are given, the source exists and the destination is not the source
// itself however it is spelled. Each Execute starts a worker; every way of
// ending the dialog stops running workers and waits for them, so that no
// destination is left half-written.
class CMainDlg : private DialogWidgets {
public:

    explicit CMainDlg(HWND parent = nullptr);
    ~CMainDlg() override;
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    // The modal run; the code it ended with (16 from Exit).
    INT_PTR DoModal();
    // The same dialog without a modal loop of its own, for a caller's loop.
    HWND Create();
    // The file the program was opened on, taken as if typed into the
    // source field; before the dialog is shown or while it is.
    void OpenSourceFile(const std::wstring& path);

    JobParams GatherJobParams();
    bool BrowseForBitmap(std::string& path);
    bool HasRunningJob() const;
    // The code the dialog ended with: 16 from Exit, 0 otherwise.
    int ExitCode() const { return m_nExitCode; }

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void DoDataExchange();
    BOOL OnInitDialog();
    void OnCommand(int id, int code);
    void OnBrowseSrc();
    void OnBrowseDst();
    void OnExecute();
    void OnExit();
    void OnChangeSrc();
    void OnChangeDst();
    void OnClose();
    bool OnSetCursor(HWND hit, int hitTest);
    void End(int code);

    void SetExecuteEnabled(bool enable) override;
    void ShowBusy(bool busy) override;
    void DismissNotices() override;

    HWND m_hParent;
    HWND m_cbRatio = nullptr;
    HWND m_btnExecute = nullptr;
    CDropEdit m_editDst;
    CDropEdit m_editSrc;
    HICON m_hIcon = nullptr;
    HICON m_hIconSmall = nullptr;
    std::wstring m_strSourceFile;
    bool m_bModal = false;
    bool m_bBusy = false;
    int m_nExitCode = 0;

    ui::WindowNotices m_notices;
    ui::PostedWindow m_executeWindow;
    DialogLogic m_logic{*this, m_notices, m_executeWindow};
};

}  // namespace pictrim
