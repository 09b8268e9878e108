#pragma once

#include <QLineEdit>

#include "ui/qt/qt_notice_owner.h"

class QMimeData;

namespace pictrim {

// A path field that also takes one file dropped from the desktop: the first
// dropped local path, when it ends in ".bmp" in any letter case, becomes the
// field's text exactly as dropped, and the usual change signal tells the
// dialog. Any other drop leaves the field alone, without a notice.
class CDropEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit CDropEdit(QWidget* parent = nullptr);
    ~CDropEdit() override;
    Q_DISABLE_COPY_MOVE(CDropEdit)

    void OnDropFiles(const QMimeData* mime);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    ui::QtNoticeOwner m_notices{this};
};

}  // namespace pictrim
