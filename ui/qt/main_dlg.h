#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <memory>
#include <vector>

#include "engine/job_params.h"
#include "platform/qt/file_chooser.h"
#include "platform/qt/qt_notice_owner.h"
#include "platform/qt/qt_window.h"
#include "platform/worker_thread.h"

class QComboBox;
class QPushButton;

namespace Ui {
class CMainDlg;
}

namespace pictrim {

class CDropEdit;

// The program's one window: two paths, a ratio, Execute. Execute is offered
// exactly when no job runs, both paths are given, the source exists and the
// destination is not the source itself however it is spelled. Each Execute
// starts a worker; closing the dialog stops running workers and waits for
// them, so that no destination is left half-written.
class CMainDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kExitCode = 16;

    // The chooser replaces the platform's file dialog (tests); null for the
    // real one.
    explicit CMainDlg(QWidget* parent = nullptr, platform::FileChooser* chooser = nullptr);
    ~CMainDlg() override;
    Q_DISABLE_COPY_MOVE(CMainDlg)

    JobParams GatherJobParams();
    bool BrowseForBitmap(QString& path);
    // The file the program was opened on, taken as if typed into the source field.
    void OpenSourceFile(const QString& path);
    void UpdateExecuteButton();
    bool HasRunningJob() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void DoDataExchange();
    void OnInitDialog();
    void ApplyTemplateMetrics();
    void OnBrowseSrc();
    void OnBrowseDst();
    void OnExecute();
    void OnExit();
    void OnChangeSrc();
    void OnChangeDst();
    void OnJobEnded();
    void StopRunningJobs();

    std::unique_ptr<Ui::CMainDlg> m_ui;
    // Lifetimes of the workers started here: a worker deletes itself when
    // its thread ends, so the dialog never holds the worker itself.
    std::vector<std::shared_ptr<platform::ThreadLifetime>> m_pThread;
    QComboBox* m_cbRatio = nullptr;
    QPushButton* m_btnExecute = nullptr;
    CDropEdit* m_editDst = nullptr;
    CDropEdit* m_editSrc = nullptr;
    QString m_strSrc;
    QString m_strDst;
    QIcon m_hIcon;
    // From the click on Execute to the job's end, whatever the fields do.
    bool m_bJobRunning = false;

    platform::QtNoticeOwner m_notices{this};
    std::unique_ptr<platform::QtWindow> m_executeWindow;
    platform::QtFileChooser m_platformChooser;
    platform::FileChooser* m_chooser;
};

}  // namespace pictrim
