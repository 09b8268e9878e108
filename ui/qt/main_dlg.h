#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <memory>

#include "engine/job_params.h"
#include "ui/qt/file_chooser.h"
#include "ui/qt/qt_notice_owner.h"
#include "ui/qt/qt_window.h"
#include "ui/dialog_logic.h"

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
class CMainDlg : public QDialog, private DialogWidgets {
    Q_OBJECT

public:
    // The chooser replaces the platform's file dialog (tests); null for the
    // real one.
    explicit CMainDlg(QWidget* parent = nullptr, ui::FileChooser* chooser = nullptr);
    ~CMainDlg() override;
    Q_DISABLE_COPY_MOVE(CMainDlg)

    bool BrowseForBitmap(QString& path);
    // The file the program was opened on, taken as if typed into the source field.
    void OpenSourceFile(const QString& path);
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
    void StopRunningJobs();
    void SetExecuteEnabled(bool enable) override;
    void ShowBusy(bool busy) override;
    void DismissNotices() override;

    std::unique_ptr<Ui::CMainDlg> m_ui;
    QComboBox* m_cbRatio = nullptr;
    QPushButton* m_btnExecute = nullptr;
    CDropEdit* m_editDst = nullptr;
    CDropEdit* m_editSrc = nullptr;
    QIcon m_hIcon;

    ui::QtNoticeOwner m_notices{this};
    std::unique_ptr<ui::QtWindow> m_executeWindow;
    ui::QtFileChooser m_platformChooser;
    ui::FileChooser* m_chooser;
    std::unique_ptr<DialogLogic> m_logic;
};

}  // namespace pictrim
