#include "file_chooser.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QMimeDatabase>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTreeView>

#include <algorithm>

namespace pictrim::ui {

namespace {

// The columns of the file dialog's detail view.
enum Column { kName, kSize, kType, kDate };

// Qt writes the file list's sizes and dates in the process's locale (from
// LANG and LC_*); these are written in the application's, the one the rest
// of the dialog speaks.
class ApplicationLocaleFiles : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role == Qt::DisplayRole && files != nullptr) {
            const QModelIndex source = mapToSource(index);
            if (index.column() == kDate) return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
            if (index.column() == kSize && !files->isDir(source)) return QLocale().formattedDataSize(files->size(source));
        }
        return QIdentityProxyModel::data(index, role);
    }
};

// Widens the size, type and date columns to their longest likely texts
// (Qt's defaults clip "Windows BMP 画像" and sizes in KiB), and the dialog so
// that all of them show beside the name. Done when the dialog is first
// shown, laid out but not yet on the screen.
class ReadableColumns : public QObject {
public:
    ReadableColumns(QFileDialog* dialog, QTreeView* view) : QObject(dialog), m_dialog(dialog), m_view(view) {
        dialog->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_dialog && event->type() == QEvent::Show) {
            m_dialog->removeEventFilter(this);
            Widen();
        }
        return false;
    }

private:
    void Widen() {
        const QLocale locale;
        const QStringList samples[] = {
            {},
            {locale.formattedDataSize(qint64{1023} * 1024 * 1024 + 1013 * 1024)},  // 1,023.99 MiB
            {QMimeDatabase().mimeTypeForName(QStringLiteral("image/bmp")).comment(),
             QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms")},
            {locale.toString(QDateTime(QDate(2026, 12, 28), QTime(23, 58)), QLocale::ShortFormat)},
        };
        QHeaderView* header = m_view->header();
        const QFontMetrics text(m_view->font());
        const QFontMetrics title(header->font());
        // An item's text is inset by the focus frame's margin on each side;
        // a title by the header's margins and the sort arrow.
        const int itemMargin = 2 * (m_view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_view) + 1);
        const int titleMargin = 4 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) +
                                header->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header);
        const int slack = text.horizontalAdvance(QLatin1Char('0'));
        int wanted = header->sectionSize(kName);
        for (const int column : {kSize, kType, kDate}) {
            const QString name = m_view->model()->headerData(column, Qt::Horizontal).toString();
            int width = title.horizontalAdvance(name) + titleMargin;
            for (const QString& sample : samples[column])
                width = std::max(width, text.horizontalAdvance(sample) + itemMargin);
            width += slack;
            header->resizeSection(column, std::max(header->sectionSize(column), width));
            wanted += header->sectionSize(column);
        }
        wanted += m_view->verticalScrollBar()->sizeHint().width() + 2 * m_view->frameWidth();
        // On a small screen (or a large scale) the name column gives way
        // first, down to a short name, rather than the dialog run off the screen.
        if (const QScreen* screen = m_dialog->screen()) {
            const int fits = screen->availableGeometry().width() - (m_dialog->frameGeometry().width() - m_view->width());
            const int shortName = text.horizontalAdvance(QString(16, QLatin1Char('w')));
            const int spare = std::min(wanted - fits, header->sectionSize(kName) - shortName);
            if (spare > 0) {
                header->resizeSection(kName, header->sectionSize(kName) - spare);
                wanted -= spare;
            }
            wanted = std::min(wanted, fits);
        }
        const int missing = wanted - m_view->width();
        if (missing > 0) m_dialog->resize(m_dialog->width() + missing, m_dialog->height());
    }

    QFileDialog* m_dialog;
    QTreeView* m_view;
};

}  // namespace

std::optional<QString> QtFileChooser::ChooseBitmap(QWidget* owner, const QString& proposed) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    dialog.setNameFilter(QStringLiteral("ﾋﾞｯﾄﾏｯﾌﾟﾌｧｲﾙ (*.bmp)"));
    // Only Qt's own dialog has a file list of ours to fix; the platform's
    // native one, where there is one, speaks for itself.
    if (auto* view = dialog.findChild<QTreeView*>()) {
        dialog.setProxyModel(new ApplicationLocaleFiles(&dialog));
        new ReadableColumns(&dialog, view);
    }
    if (!proposed.isEmpty()) {
        const QFileInfo info(proposed);
        if (info.isDir()) {
            dialog.setDirectory(info.absoluteFilePath());
        } else {
            dialog.setDirectory(info.absolutePath());
            dialog.selectFile(info.fileName());
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

}  // namespace pictrim::ui
