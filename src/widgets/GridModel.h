#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QPixmap>
#include <QString>

#include <vector>

namespace tallyvo {

// How a cell's picture fills the cell: stretched to it, or at its own size from the top-left
// corner and cut off at the cell's edges.
enum class GridPictureFit { Stretch, Clip };

// What one cell holds beyond its text. Unset values (empty name, size 0, invalid colours, no
// alignment) mean "as the grid".
struct GridCell {
    QString text;
    QString fontName;
    qreal fontSize = 0;
    int bold = -1; // -1 as the grid, else 0 or 1
    QColor back;
    QColor fore;
    Qt::Alignment alignment;
    QPixmap picture;
    GridPictureFit pictureFit = GridPictureFit::Stretch;
};

// The grid's cells, row 0 included. Views see rows 1.. as their rows 0..; row 0 is offered as
// the horizontal header, so the header stays in place while the rows scroll.
class GridModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit GridModel(QObject* parent = nullptr);

    int gridRows() const { return int(m_cells.size()); }
    int gridCols() const { return m_cols; }
    void setGridRows(int rows);
    void setGridCols(int cols);

    bool contains(int row, int col) const;
    // A shared empty cell for addresses outside the grid, so readers need no checks.
    const GridCell& cell(int row, int col) const;
    // Null outside the grid. Call cellChanged after changing the cell.
    GridCell* editCell(int row, int col);
    void cellChanged(int row, int col);
    void allChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<std::vector<GridCell>> m_cells;
    int m_cols = 0;
};

} // namespace tallyvo
