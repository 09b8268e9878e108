#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/batch_logic.h"
#include "window_tasks.h"

namespace pictrim {

// The window for many files, from the template IDD_BATCH, on the shared
// batch logic: the files in a list (virtual: ten thousand rows cost what
// the visible ones do), where the results go, the ratio, what to do with
// existing files, progress, 実行 and 中止. Closing it stops a run between
// rows and waits for it, so that no destination is left half-written.
class CBatchDlg : private BatchWidgets {
public:
    CBatchDlg();
    ~CBatchDlg() override;
    CBatchDlg(const CBatchDlg&) = delete;
    CBatchDlg& operator=(const CBatchDlg&) = delete;

    // Files and folders for the list; before the window is shown or while it is.
    void AddPaths(const std::vector<std::wstring>& paths);
    // The modal run.
    INT_PTR DoModal();
    // The same window without a modal loop of its own, for a caller's loop.
    HWND Create();
    const BatchLogic& Logic() const { return m_logic; }

    HWND m_hWnd = nullptr;

private:
    static constexpr UINT kRunTasksMessage = WM_APP + 3;

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnCommand(int id, int code);
    bool OnNotify(NMHDR* header);
    void OnDropFiles(HDROP drop);
    void OnAddFiles();
    void OnAddFolder();
    void OnRemove();
    void OnBrowseFolder();
    void OnDestinationChanged(bool intoFolder);
    void OnRatioChanged();
    void OnClose();
    void UpdateCommands();
    void ShowCount(std::size_t done, std::size_t files);
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

    void PostToUiThread(std::function<void()> task) override;
    void RowsChanged(std::size_t first, std::size_t last) override;
    void RowsReset() override;
    void ShowProgress(const BatchProgress& progress) override;
    void ShowRunning(bool running) override;
    batch::Events::Answer AskOverwrite(const std::string& text) override;
    void ShowSummary(const std::string& text) override;

    bool m_bModal = false;
    HWND m_list = nullptr;
    HWND m_question = nullptr;  // the overwrite question while it is up
    HICON m_hIcon = nullptr;
    HICON m_hIconSmall = nullptr;
    std::vector<std::wstring> m_pending;  // paths given before the window exists
    mutable std::wstring m_cell;          // the text a list cell was last given
    ui::WindowTasks m_tasks{kRunTasksMessage};  // from the run's threads; dropped once the window is gone
    BatchLogic m_logic{*this};
};

}  // namespace pictrim
