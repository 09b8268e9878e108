#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace pictrim {

// The window for many files, from the template IDD_BATCH: the files in a
// list (virtual, so that ten thousand rows cost what the visible ones
// do), where the results go, the ratio, what to do with existing files,
// progress, 実行 and 中止.
class CBatchDlg {
public:
    CBatchDlg() = default;
    ~CBatchDlg();
    CBatchDlg(const CBatchDlg&) = delete;
    CBatchDlg& operator=(const CBatchDlg&) = delete;

    // Files and folders for the list, absolute; before the window is shown
    // or while it is.
    void AddPaths(const std::vector<std::wstring>& paths);
    INT_PTR DoModal();
    // The code the window ended with: 16 from 終了, 0 otherwise.
    int ExitCode() const { return m_nExitCode; }

    HWND m_hWnd = nullptr;

private:
    struct Row {
        std::wstring name, folder, pixels, after, state;
    };

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnCommand(int id, int code);
    bool OnNotify(NMHDR* header);
    void OnDropFiles(HDROP drop);
    void OnBrowse();
    void OnRemove();
    void OnClose();
    void RefreshList();

    HWND m_list = nullptr;
    HICON m_hIcon = nullptr;
    HICON m_hIconSmall = nullptr;
    std::vector<std::wstring> m_pending;
    std::vector<Row> m_rows;
    int m_nExitCode = 0;
};

}  // namespace pictrim
