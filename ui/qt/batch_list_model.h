#pragma once

#include <QAbstractTableModel>

#include "ui/batch_logic.h"

namespace pictrim::ui {

// The batch window's list as Qt's views read it: every cell asked of the
// logic when shown, so that a list of 10,000 files costs only the rows on
// screen.
class BatchListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit BatchListModel(const BatchLogic& logic, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_logic(logic) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Reset();
    void Changed(std::size_t first, std::size_t last);

private:
    const BatchLogic& m_logic;
};

}  // namespace pictrim::ui
