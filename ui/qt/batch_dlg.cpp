#include "batch_dlg.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "batch_list_model.h"
#include "engine/ratio.h"
#include "ui_batch_dlg.h"

namespace pictrim {

namespace {

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The local files of a drop; a drop from elsewhere (a web page) brings none.
QStringList DroppedPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr) return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths.append(url.toLocalFile());
    }
    return paths;
}

}  // namespace

CBatchDlg::CBatchDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CBatchDlg>()), m_logic(std::make_unique<BatchLogic>(static_cast<BatchWidgets&>(*this))) {
    m_ui->setupUi(this);
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) icon.addFile(QStringLiteral(":/icons/pictrim-%1.png").arg(size));
    setWindowIcon(icon);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);

    m_model = new ui::BatchListModel(*m_logic, this);
    QTreeView* list = m_ui->IDC_BATCH_LIST;
    list->setModel(m_model);
    // Fixed widths: measuring 10,000 rows' texts would freeze the window.
    const QFontMetrics fm(font());
    const int unit = fm.horizontalAdvance(QLatin1Char('0'));
    QHeaderView* header = list->header();
    header->setStretchLastSection(true);
    header->resizeSection(0, 24 * unit);
    header->resizeSection(1, 30 * unit);
    header->resizeSection(2, 12 * unit);
    header->resizeSection(3, 14 * unit);
    resize(110 * unit, 48 * fm.height());

    m_ui->IDC_BATCH_RATIO->setCurrentIndex(kDefaultRatioIndex);
    m_ui->IDC_BATCH_BESIDE->setChecked(true);
    m_ui->IDC_BATCH_SUFFIX->setText(QString::fromStdString(m_logic->Suffix()));
    OnDestinationChanged();

    connect(m_ui->IDC_BATCH_ADD_FILES, &QPushButton::clicked, this, &CBatchDlg::OnAddFiles);
    connect(m_ui->IDC_BATCH_ADD_FOLDER, &QPushButton::clicked, this, &CBatchDlg::OnAddFolder);
    connect(m_ui->IDC_BATCH_REMOVE, &QPushButton::clicked, this, &CBatchDlg::OnRemove);
    connect(m_ui->IDC_BATCH_FOLDER_BROWSE, &QPushButton::clicked, this, &CBatchDlg::OnBrowseFolder);
    connect(m_ui->IDC_BATCH_EXECUTE, &QPushButton::clicked, this, &CBatchDlg::OnExecute);
    connect(m_ui->IDC_BATCH_STOP, &QPushButton::clicked, this, &CBatchDlg::OnStop);
    connect(m_ui->IDC_BATCH_CLOSE, &QPushButton::clicked, this, &QDialog::close);
    connect(m_ui->IDC_BATCH_RECURSIVE, &QCheckBox::toggled, this, [this](bool on) { m_logic->SetRecursive(on); });
    connect(m_ui->IDC_BATCH_KEEP_TIMES, &QCheckBox::toggled, this, [this](bool on) { m_logic->SetKeepTimes(on); });
    connect(m_ui->IDC_BATCH_OVERWRITE, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_logic->SetOverwrite(index == 1 ? batch::Overwrite::Yes : index == 2 ? batch::Overwrite::No : batch::Overwrite::Ask);
    });
    connect(m_ui->IDC_BATCH_RATIO, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_logic->SetRatio(index);
        const QSignalBlocker block(m_ui->IDC_BATCH_SUFFIX);  // the logic's own choice, not the user's
        m_ui->IDC_BATCH_SUFFIX->setText(QString::fromStdString(m_logic->Suffix()));
        UpdateCommands();
    });
    connect(m_ui->IDC_BATCH_SUFFIX, &QLineEdit::textEdited, this, &CBatchDlg::OnDestinationChanged);
    connect(m_ui->IDC_BATCH_FOLDER, &QLineEdit::textChanged, this, &CBatchDlg::OnDestinationChanged);
    connect(m_ui->IDC_BATCH_BESIDE, &QRadioButton::toggled, this, &CBatchDlg::OnDestinationChanged);
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CBatchDlg::UpdateCommands);
    ShowCount(0, 0);
    UpdateCommands();
}

CBatchDlg::~CBatchDlg() {
    m_logic->StopAndWait();
    // The list reads the logic, which goes before the widgets do.
    m_ui->IDC_BATCH_LIST->setModel(nullptr);
}

void CBatchDlg::AddPaths(const QStringList& paths) {
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(paths.size()));
    // Absolute, so that the folder column says where each file is.
    for (const QString& path : paths) names.push_back(LocalPath(path.isEmpty() ? path : QFileInfo(path).absoluteFilePath()));
    m_logic->Add(names);
    ShowCount(0, m_logic->RowCount());
    UpdateCommands();
}

void CBatchDlg::SetTargetFolder(const QString& folder) {
    m_ui->IDC_BATCH_FOLDER->setText(folder);
    m_ui->IDC_BATCH_INTO_FOLDER->setChecked(true);
}

void CBatchDlg::SetRatio(int index) { m_ui->IDC_BATCH_RATIO->setCurrentIndex(index); }

void CBatchDlg::SetOverwrite(batch::Overwrite overwrite) {
    m_ui->IDC_BATCH_OVERWRITE->setCurrentIndex(overwrite == batch::Overwrite::Yes ? 1 : overwrite == batch::Overwrite::No ? 2 : 0);
}

void CBatchDlg::ExecuteWhenShown() { m_executeWhenShown = true; }

void CBatchDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_executeWhenShown) return;
    m_executeWhenShown = false;
    QTimer::singleShot(0, this, [this] {
        m_closeAtEnd = true;
        OnExecute();
        if (!m_logic->Running()) {
            m_exitCode = 1;
            close();
        }
    });
}

void CBatchDlg::OnAddFiles() {
    const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("ファイルを追加"), QString(),
                                                            QStringLiteral("Bitmap (*.bmp *.BMP);;すべてのファイル (*)"));
    if (!files.isEmpty()) AddPaths(files);
}

void CBatchDlg::OnAddFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("フォルダーを追加"));
    if (!folder.isEmpty()) AddPaths({folder});
}

void CBatchDlg::OnRemove() {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : m_ui->IDC_BATCH_LIST->selectionModel()->selectedRows()) {
        rows.push_back(static_cast<std::size_t>(index.row()));
    }
    m_logic->Remove(rows);
    ShowCount(0, m_logic->RowCount());
    UpdateCommands();
}

void CBatchDlg::OnBrowseFolder() {
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("保存先フォルダー"), m_ui->IDC_BATCH_FOLDER->text());
    if (folder.isEmpty()) return;
    SetTargetFolder(QDir::toNativeSeparators(folder));
}

void CBatchDlg::OnDestinationChanged() {
    const bool intoFolder = !m_ui->IDC_BATCH_BESIDE->isChecked();
    m_logic->SetIntoFolder(intoFolder);
    m_logic->SetFolder(LocalPath(m_ui->IDC_BATCH_FOLDER->text()));
    m_logic->SetSuffix(LocalPath(m_ui->IDC_BATCH_SUFFIX->text()));
    m_ui->IDC_BATCH_SUFFIX->setEnabled(!intoFolder);
    m_ui->IDC_BATCH_FOLDER->setEnabled(intoFolder);
    m_ui->IDC_BATCH_FOLDER_BROWSE->setEnabled(intoFolder);
    UpdateCommands();
}

void CBatchDlg::OnExecute() {
    if (!m_logic->Execute()) UpdateCommands();
}

void CBatchDlg::OnStop() { m_logic->Stop(); }

void CBatchDlg::UpdateCommands() {
    const bool running = m_logic->Running();
    m_ui->IDC_BATCH_EXECUTE->setEnabled(m_logic->CanExecute());
    m_ui->IDC_BATCH_STOP->setEnabled(running);
    m_ui->IDC_BATCH_REMOVE->setEnabled(!running && m_ui->IDC_BATCH_LIST->selectionModel()->hasSelection());
}

void CBatchDlg::ShowCount(std::size_t done, std::size_t files) {
    m_ui->IDC_BATCH_COUNT->setText(QString::fromStdString(m_logic->CountText(done, files)));
}

void CBatchDlg::closeEvent(QCloseEvent* event) {
    StopForClosing();
    QDialog::closeEvent(event);
}

void CBatchDlg::reject() {
    StopForClosing();
    QDialog::reject();
}

// No summary: the window is going. Closed in the middle of a run started by
// ExecuteWhenShown, the exit status still tells how it went.
void CBatchDlg::StopForClosing() {
    const bool running = m_logic->Running();
    m_logic->StopAndWait();
    if (running && m_closeAtEnd) m_exitCode = m_logic->Counts().Complete() ? 0 : 1;
}

void CBatchDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_logic->Running() && !DroppedPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CBatchDlg::dropEvent(QDropEvent* event) {
    const QStringList paths = DroppedPaths(event->mimeData());
    if (m_logic->Running() || paths.isEmpty()) return;
    AddPaths(paths);
    event->acceptProposedAction();
}

void CBatchDlg::PostToUiThread(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void CBatchDlg::RowsChanged(std::size_t first, std::size_t last) { m_model->Changed(first, last); }

void CBatchDlg::RowsReset() { m_model->Reset(); }

void CBatchDlg::ShowProgress(const BatchProgress& progress) {
    const auto permille = progress.bytesTotal == 0 ? (progress.files == 0 ? 0 : progress.filesDone * 1000 / progress.files)
                                                   : progress.bytesDone * 1000 / progress.bytesTotal;
    m_ui->IDC_BATCH_PROGRESS->setValue(static_cast<int>(permille));
    ShowCount(progress.filesDone, progress.files);
}

void CBatchDlg::ShowRunning(bool running) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             m_ui->IDC_BATCH_ADD_FILES, m_ui->IDC_BATCH_ADD_FOLDER, m_ui->IDC_BATCH_RECURSIVE, m_ui->destGroup,
             m_ui->IDC_BATCH_RATIO, m_ui->IDC_BATCH_OVERWRITE, m_ui->IDC_BATCH_KEEP_TIMES}) {
        control->setEnabled(!running);
    }
    setAcceptDrops(!running);
    UpdateCommands();
    // Execute goes off under the keyboard: the list takes it, not Stop, where
    // a second Enter meant for Execute would stop the run it just started,
    // nor Close; Execute gets it back at the end.
    QTreeView* list = m_ui->IDC_BATCH_LIST;
    if (running && (m_ui->IDC_BATCH_EXECUTE->hasFocus() || !focusWidget() || !focusWidget()->isEnabled())) {
        list->setFocus();
    }
    if (!running && (list->hasFocus() || m_ui->IDC_BATCH_STOP->hasFocus())) m_ui->IDC_BATCH_EXECUTE->setFocus();
}

batch::Events::Answer CBatchDlg::AskOverwrite(const std::string& text) {
    using Answer = batch::Events::Answer;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Pictrim"), QString::fromStdString(text), QMessageBox::NoButton,
                    this);
    QPushButton* yes = box.addButton(QStringLiteral("はい"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ"), QMessageBox::NoRole);
    QPushButton* all = box.addButton(QStringLiteral("すべてはい"), QMessageBox::YesRole);
    QPushButton* none = box.addButton(QStringLiteral("すべていいえ"), QMessageBox::NoRole);
    for (QPushButton* button : {yes, no, all, none}) button->setAccessibleName(button->text());
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    const QAbstractButton* clicked = box.clickedButton();
    return clicked == yes ? Answer::Yes : clicked == all ? Answer::All : clicked == none ? Answer::None : Answer::No;
}

void CBatchDlg::ShowSummary(const std::string& text) {
    const bool complete = m_logic->Counts().Complete();
    if (m_closeAtEnd) {
        m_exitCode = complete ? 0 : 1;
        close();
        return;
    }
    QMessageBox box(complete ? QMessageBox::Information : QMessageBox::Warning, QStringLiteral("Pictrim"),
                    QString::fromStdString(text), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("summary"));
    box.exec();
}

}  // namespace pictrim
