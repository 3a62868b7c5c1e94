#include "GridModel.h"

namespace tallyvo {

GridModel::GridModel(QObject* parent)
    : QAbstractTableModel(parent) {
    m_cells.resize(1);
}

void GridModel::setGridRows(int rows) {
    rows = qMax(1, rows); // the header row is never removed
    const int old = gridRows();
    if (rows > old) {
        beginInsertRows({}, old - 1, rows - 2);
        m_cells.resize(size_t(rows), std::vector<GridCell>(size_t(m_cols)));
        endInsertRows();
    } else if (rows < old) {
        beginRemoveRows({}, rows - 1, old - 2);
        m_cells.resize(size_t(rows));
        endRemoveRows();
    }
}

void GridModel::setGridCols(int cols) {
    cols = qMax(1, cols); // the key column is never removed
    if (cols == m_cols)
        return;
    if (cols > m_cols)
        beginInsertColumns({}, m_cols, cols - 1);
    else
        beginRemoveColumns({}, cols, m_cols - 1);
    for (auto& row : m_cells)
        row.resize(size_t(cols));
    const bool grew = cols > m_cols;
    m_cols = cols;
    if (grew)
        endInsertColumns();
    else
        endRemoveColumns();
}

bool GridModel::contains(int row, int col) const {
    return row >= 0 && row < gridRows() && col >= 0 && col < m_cols;
}

const GridCell& GridModel::cell(int row, int col) const {
    static const GridCell empty;
    return contains(row, col) ? m_cells[size_t(row)][size_t(col)] : empty;
}

GridCell* GridModel::editCell(int row, int col) {
    return contains(row, col) ? &m_cells[size_t(row)][size_t(col)] : nullptr;
}

void GridModel::cellChanged(int row, int col) {
    if (!contains(row, col))
        return;
    if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, col, col);
    } else {
        const QModelIndex at = index(row - 1, col);
        emit dataChanged(at, at);
    }
}

void GridModel::allChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, m_cols - 1));
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : gridRows() - 1;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_cols;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return cell(index.row() + 1, index.column()).text;
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return cell(0, section).text;
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace tallyvo
