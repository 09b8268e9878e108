#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>

#include "ui/batch_logic.h"

class QDragEnterEvent;
class QDropEvent;

namespace Ui {
class CBatchDlg;
}

namespace pictrim {

namespace ui {
class BatchListModel;
}

// The window for many files at once: the list, where the results go, the
// ratio, 実行 and 中止 with the progress, and the summary at the end. Closing
// it stops a run between rows and waits for it.
class CBatchDlg : public QDialog, private BatchWidgets {
    Q_OBJECT

public:
    explicit CBatchDlg(QWidget* parent = nullptr);
    ~CBatchDlg() override;
    Q_DISABLE_COPY_MOVE(CBatchDlg)

    // Files and folders, as named on the command line or dropped.
    void AddPaths(const QStringList& paths);
    // Results into this folder rather than beside their sources.
    void SetTargetFolder(const QString& folder);
    void SetRatio(int index);
    void SetOverwrite(batch::Overwrite overwrite);
    // Presses 実行 as soon as the window shows, and closes it at the end
    // instead of showing the summary; ExitCode then tells how it went.
    void ExecuteWhenShown();
    // 0, or after ExecuteWhenShown 1 when a file was refused, failed or not done.
    int ExitCode() const { return m_exitCode; }

    BatchLogic& Logic() { return *m_logic; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void OnAddFiles();
    void OnAddFolder();
    void OnRemove();
    void OnBrowseFolder();
    void OnDestinationChanged();
    void OnExecute();
    void OnStop();
    void UpdateCommands();
    void ShowCount(std::size_t done, std::size_t files);
    void StopForClosing();

    void PostToUiThread(std::function<void()> task) override;
    void RowsChanged(std::size_t first, std::size_t last) override;
    void RowsReset() override;
    void ShowProgress(const BatchProgress& progress) override;
    void ShowRunning(bool running) override;
    batch::Events::Answer AskOverwrite(const std::string& text) override;
    void ShowSummary(const std::string& text) override;

    std::unique_ptr<Ui::CBatchDlg> m_ui;
    std::unique_ptr<BatchLogic> m_logic;
    ui::BatchListModel* m_model = nullptr;
    bool m_executeWhenShown = false;
    bool m_closeAtEnd = false;
    int m_exitCode = 0;
};

}  // namespace pictrim
