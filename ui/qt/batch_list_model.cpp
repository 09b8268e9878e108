#include "batch_list_model.h"

#include <QDir>

namespace pictrim::ui {

int BatchListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_logic.RowCount());
}

int BatchListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : BatchLogic::kColumns; }

QVariant BatchListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= m_logic.RowCount()) return {};
    const auto column = static_cast<BatchLogic::Column>(index.column());
    if (role == Qt::TextAlignmentRole) {
        const bool size = column == BatchLogic::Column::PixelSize || column == BatchLogic::Column::SizeAfter;
        return size ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const QString text = QString::fromUtf8(m_logic.Text(static_cast<std::size_t>(index.row()), column));
    return column == BatchLogic::Column::Folder ? QDir::toNativeSeparators(text) : text;
}

QVariant BatchListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return QString::fromUtf8(BatchLogic::ColumnTitle(static_cast<BatchLogic::Column>(section)));
}

void BatchListModel::Reset() {
    beginResetModel();
    endResetModel();
}

void BatchListModel::Changed(std::size_t first, std::size_t last) {
    emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(last), BatchLogic::kColumns - 1));
}

}  // namespace pictrim::ui
