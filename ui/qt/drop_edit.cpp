#include "drop_edit.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include <cstring>

#include "platform/zeroed_block.h"
#include "ui/dialog_logic.h"

namespace pictrim {

CDropEdit::CDropEdit(QWidget* parent) : QLineEdit(parent) { setAcceptDrops(true); }

CDropEdit::~CDropEdit() = default;

namespace {

// Only file drops are ours; the line edit's own handling would insert the
// dragged URL or text into the field.
void AcceptFileDrops(QDropEvent* event, bool accepting) {
    if (accepting && event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

}  // namespace

void CDropEdit::dragEnterEvent(QDragEnterEvent* event) { AcceptFileDrops(event, acceptDrops()); }

void CDropEdit::dragMoveEvent(QDragMoveEvent* event) { AcceptFileDrops(event, acceptDrops()); }

void CDropEdit::dropEvent(QDropEvent* event) {
    AcceptFileDrops(event, acceptDrops());
    if (event->isAccepted()) OnDropFiles(event->mimeData());
}

void CDropEdit::OnDropFiles(const QMimeData* mime) {
    setAcceptDrops(false);  // one drop at a time

    const QList<QUrl> urls = mime->urls();
    const QString first = !urls.isEmpty() && urls.first().isLocalFile() ? urls.first().toLocalFile() : QString();
    const QByteArray encoded = QFile::encodeName(first);
    const std::size_t needed = static_cast<std::size_t>(encoded.size()) + 1;
    platform::ZeroedBlock block = platform::ZeroedBlock::Allocate(needed);
    if (block.size() < needed) {
        // Drops stay refused on this field from here on; typing and browsing
        // still work.
        const QString text = QStringLiteral("メモリ不足です。\n%1 < %2").arg(block.size()).arg(needed);
        m_notices.ShowNotice({text.toStdString(), "エラー", platform::NoticeButtons::Ok, platform::NoticeIcon::None,
                              platform::NoticeKind::Failure});
        return;
    }
    std::memcpy(block.data(), encoded.constData(), encoded.size());
    const QString name = QFile::decodeName(reinterpret_cast<const char*>(block.data()));
    if (DialogLogic::TakesDroppedName(name.toStdString())) setText(name);
    setAcceptDrops(true);
}

}  // namespace pictrim
