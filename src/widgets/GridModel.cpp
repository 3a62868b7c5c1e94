#include "GridModel.h"

namespace tallyvo {

GridModel::GridModel(QObject* parent)
    : QAbstractTableModel(parent) {
}

void GridModel::setRowSource(std::shared_ptr<const GridRowSource> source) {
    beginResetModel();
    m_source = std::move(source);
    m_own.clear();
    m_slots.resize(size_t(m_cols)); // the header row, which the source does not give
    m_rows = 1 + (m_source ? qMax(0, m_source->rowCount()) : 0);
    if (!m_source)
        m_slots.resize(size_t(m_rows) * size_t(m_cols));
    endResetModel();
}

void GridModel::sourceGrew() {
    if (!m_source)
        return;
    const int rows = 1 + qMax(0, m_source->rowCount());
    if (rows <= m_rows)
        return;
    beginInsertRows({}, m_rows - 1, rows - 2);
    m_rows = rows;
    endInsertRows();
}

void GridModel::dropSource() {
    if (m_source)
        setRowSource(nullptr);
}

const GridModel::Slot* GridModel::held(int row, int col) const {
    if (!m_source || row == 0)
        return &m_slots[at(row, col)];
    const auto own = m_own.find(at(row, col));
    return own == m_own.end() ? nullptr : &own->second.slot;
}

GridModel::Slot* GridModel::holdSlot(int row, int col) {
    if (!m_source || row == 0)
        return &m_slots[at(row, col)];
    return &m_own[at(row, col)].slot;
}

void GridModel::setGridRows(int rows) {
    rows = qMax(1, rows); // the header row is never removed
    if (m_source && rows != m_rows)
        dropSource();
    const int old = m_rows;
    if (rows > old) {
        beginInsertRows({}, old - 1, rows - 2);
        m_slots.resize(size_t(rows) * size_t(m_cols));
        m_rows = rows;
        endInsertRows();
    } else if (rows < old) {
        beginRemoveRows({}, rows - 1, old - 2);
        m_slots.resize(size_t(rows) * size_t(m_cols));
        m_rows = rows;
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
    const int slotRows = m_source ? 1 : m_rows;
    std::vector<Slot> cells(size_t(slotRows) * size_t(cols));
    const int kept = qMin(cols, m_cols);
    for (int r = 0; r < slotRows; ++r)
        for (int c = 0; c < kept; ++c)
            cells[size_t(r) * size_t(cols) + size_t(c)] = std::move(m_slots[at(r, c)]);
    m_slots = std::move(cells);
    std::unordered_map<size_t, Own> own;
    for (auto& [place, cell] : m_own) {
        const size_t r = place / size_t(m_cols), c = place % size_t(m_cols);
        if (c < size_t(cols))
            own.emplace(r * size_t(cols) + c, std::move(cell));
    }
    m_own = std::move(own);
    const bool grew = cols > m_cols;
    m_cols = cols;
    if (grew)
        endInsertColumns();
    else
        endRemoveColumns();
}

bool GridModel::contains(int row, int col) const {
    return row >= 0 && row < m_rows && col >= 0 && col < m_cols;
}

GridCell GridModel::cell(int row, int col) const {
    if (!contains(row, col))
        return {};
    const Slot* slot = held(row, col);
    GridCell cell = slot && slot->look ? *slot->look : GridCell();
    cell.text = text(row, col);
    return cell;
}

QString GridModel::text(int row, int col) const {
    if (!contains(row, col))
        return {};
    if (!m_source || row == 0)
        return m_slots[at(row, col)].text;
    const auto own = m_own.find(at(row, col));
    return own != m_own.end() && own->second.hasText ? own->second.slot.text : m_source->text(row - 1, col);
}

bool GridModel::setText(int row, int col, const QString& text) {
    if (!contains(row, col))
        return false;
    if (this->text(row, col) == text)
        return false;
    if (m_source && row > 0) {
        Own& own = m_own[at(row, col)];
        own.slot.text = text;
        own.hasText = true;
    } else {
        m_slots[at(row, col)].text = text;
    }
    if (m_batch > 0)
        m_batchChanged = true;
    else if (row == 0)
        emit headerDataChanged(Qt::Horizontal, col, col);
    else
        emit dataChanged(index(row - 1, col), index(row - 1, col), {Qt::DisplayRole});
    return true;
}

GridCell* GridModel::editLook(int row, int col) {
    if (!contains(row, col))
        return nullptr;
    std::unique_ptr<GridCell>& look = holdSlot(row, col)->look;
    if (!look)
        look = std::make_unique<GridCell>();
    return look.get();
}

void GridModel::cellChanged(int row, int col) {
    if (!contains(row, col))
        return;
    if (m_batch > 0) {
        m_batchChanged = true;
    } else if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, col, col);
    } else {
        // Only the look: views repaint, while screen readers, which read the text, are not
        // told of a change they would announce again.
        const QModelIndex at = index(row - 1, col);
        emit dataChanged(at, at, {Qt::FontRole, Qt::BackgroundRole, Qt::ForegroundRole, Qt::TextAlignmentRole,
                                  Qt::DecorationRole});
    }
}

void GridModel::allChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, m_cols - 1);
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, m_cols - 1));
}

void GridModel::beginBatch() {
    ++m_batch;
}

void GridModel::endBatch() {
    if (m_batch == 0 || --m_batch > 0 || !m_batchChanged)
        return;
    m_batchChanged = false;
    allChanged();
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
    return text(index.row() + 1, index.column());
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return text(0, section);
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace tallyvo
