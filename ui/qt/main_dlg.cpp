#include "main_dlg.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QLayout>
#include <QPushButton>
#include <QValidator>

#include <algorithm>

#include "drop_edit.h"
#include "engine/ratio.h"
#include "ui/qt/quit.h"
#include "ui_main_dlg.h"

namespace pictrim {

namespace {

// Limits what is typed or pasted, as an edit control's text limit does;
// paths set by the program (browsed, dropped) are taken whole.
class MaxCharsValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return input.size() <= DialogLogic::kMaxPathChars ? Acceptable : Invalid;
    }
};

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

CMainDlg::CMainDlg(QWidget* parent, ui::FileChooser* chooser)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::CMainDlg>()),
      m_hIcon(),
      m_chooser(chooser != nullptr ? chooser : &m_platformChooser) {
    for (const int size : {16, 32, 48, 64}) m_hIcon.addFile(QStringLiteral(":/icons/pictrim-%1.png").arg(size));
    m_ui->setupUi(this);
    DoDataExchange();
    OnInitDialog();
}

CMainDlg::~CMainDlg() { m_logic->StopRunningJobs(); }

void CMainDlg::DoDataExchange() {
    m_cbRatio = m_ui->IDC_RATIO;
    m_btnExecute = m_ui->IDC_EXECUTE;
    m_editDst = m_ui->IDC_DST_EDIT;
    m_editSrc = m_ui->IDC_SRC_EDIT;
    // The job's own enabling of Execute at its end means "the job is over":
    // the dialog's rule decides on the fields as they are then.
    m_executeWindow = std::make_unique<ui::QtWindow>(m_btnExecute, [this](bool enable) {
        if (enable) m_logic->OnJobEnded();
    });
    m_logic = std::make_unique<DialogLogic>(static_cast<DialogWidgets&>(*this), m_notices, *m_executeWindow);
    m_editSrc->setText(QString());
    m_editDst->setText(QString());
    m_editSrc->setValidator(new MaxCharsValidator(m_editSrc));
    m_editDst->setValidator(new MaxCharsValidator(m_editDst));

    connect(m_ui->IDC_SRC_BROWSE, &QPushButton::clicked, this, &CMainDlg::OnBrowseSrc);
    connect(m_ui->IDC_EXIT, &QPushButton::clicked, this, &CMainDlg::OnExit);
    connect(m_ui->IDC_DST_BROWSE, &QPushButton::clicked, this, &CMainDlg::OnBrowseDst);
    connect(m_btnExecute, &QPushButton::clicked, this, &CMainDlg::OnExecute);
    connect(m_editSrc, &QLineEdit::textChanged, this, &CMainDlg::OnChangeSrc);
    connect(m_editDst, &QLineEdit::textChanged, this, &CMainDlg::OnChangeDst);
}

void CMainDlg::OnInitDialog() {
    setWindowIcon(m_hIcon);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    m_cbRatio->setCurrentIndex(kDefaultRatioIndex);
    for (int i = 0; i < m_cbRatio->count() && i < static_cast<int>(RatioList.size()); ++i)
        m_cbRatio->setItemData(i, RatioList[i].percent);
    ApplyTemplateMetrics();
    m_editSrc->setFocus();
}

// Sizes the controls in dialog units of the template's font, so that the
// arrangement holds at any font size or screen scale.
void CMainDlg::ApplyTemplateMetrics() {
    const QFontMetrics fm(font());
    const double unitX = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0 / 4.0;
    const double unitY = fm.height() / 8.0;
    const auto px = [](double units, double unit) { return static_cast<int>(units * unit + 0.5); };
    const int rowHeight = px(15, unitY);
    for (QWidget* edit : {static_cast<QWidget*>(m_editSrc), static_cast<QWidget*>(m_editDst)}) {
        edit->setMinimumSize(px(148, unitX), rowHeight);
    }
    for (QWidget* button : {m_ui->IDC_SRC_BROWSE, m_ui->IDC_DST_BROWSE}) {
        button->setMinimumSize(std::max(px(40, unitX), button->sizeHint().width()), rowHeight);
    }
    for (QWidget* button : {m_ui->IDC_EXECUTE, m_ui->IDC_EXIT}) {
        button->setMinimumSize(std::max(px(50, unitX), button->sizeHint().width()), rowHeight);
    }
    m_cbRatio->setMinimumWidth(std::max(px(30, unitX), m_cbRatio->sizeHint().width()));
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void CMainDlg::OnChangeSrc() { m_logic->OnChangeSrc(LocalPath(m_editSrc->text())); }

void CMainDlg::OnChangeDst() { m_logic->OnChangeDst(LocalPath(m_editDst->text())); }


void CMainDlg::SetExecuteEnabled(bool enable) { m_btnExecute->setEnabled(enable); }

bool CMainDlg::BrowseForBitmap(QString& path) {
    const std::optional<QString> chosen = m_chooser->ChooseBitmap(this, path);
    if (!chosen) return false;
    path = *chosen;
    return true;
}

void CMainDlg::OnBrowseSrc() {
    QString path = QFile::decodeName(DialogLogic::PathInField(LocalPath(m_editSrc->text())).c_str());
    if (BrowseForBitmap(path)) m_editSrc->setText(path);
}

void CMainDlg::OnBrowseDst() {
    // The source's name is proposed: the destination usually sits beside it.
    QString path = QFile::decodeName(DialogLogic::PathInField(LocalPath(m_editSrc->text())).c_str());
    if (BrowseForBitmap(path)) m_editDst->setText(path);
}

void CMainDlg::OpenSourceFile(const QString& path) { m_editSrc->setText(path); }

void CMainDlg::OnExecute() {
    const int index = m_cbRatio->currentIndex();
    m_logic->OnExecute(index, m_cbRatio->itemData(index).toInt());
}

void CMainDlg::ShowBusy(bool busy) {
    if (busy) {
        // Qt hands the focus of a disabled button to the next one, Exit.
        if (m_btnExecute->hasFocus()) m_editSrc->setFocus();
        // On the dialog alone: the notices and the file dialog are windows
        // of their own and keep the ordinary arrow.
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void CMainDlg::DismissNotices() { m_notices.DismissAll(); }

bool CMainDlg::HasRunningJob() const { return m_logic->HasRunningJob(); }

void CMainDlg::StopRunningJobs() { m_logic->StopRunningJobs(); }

void CMainDlg::OnExit() {
    StopRunningJobs();
    ui::PostQuitMessage(DialogLogic::kExitCode);
}

void CMainDlg::reject() {
    StopRunningJobs();
    QDialog::reject();
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    StopRunningJobs();
    QDialog::closeEvent(event);
}

}  // namespace pictrim
