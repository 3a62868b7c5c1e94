#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QPixmap>
#include <QString>

#include <memory>
#include <vector>

namespace tallyvo {

// How a cell's picture fills the cell: stretched to it, or at its own size from the top-left
// corner and cut off at the cell's edges.
enum class GridPictureFit { Stretch, Clip };

// A cell's text and look. Unset values (empty name, size 0, invalid colours, no alignment) mean
// "as the grid".
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

    int gridRows() const { return m_rows; }
    int gridCols() const { return m_cols; }
    void setGridRows(int rows);
    void setGridCols(int cols);

    bool contains(int row, int col) const;
    // Text and look of a cell; a cell outside the grid reads empty.
    GridCell cell(int row, int col) const;
    const QString& text(int row, int col) const;
    // False when the cell is outside the grid or already holds the text.
    bool setText(int row, int col, const QString& text);
    // The cell's own look, made on first use (its text field is not used); nullptr outside.
    GridCell* editLook(int row, int col);
    void cellChanged(int row, int col);
    void allChanged();
    // Changes between these are announced once, when the outermost batch ends.
    void beginBatch();
    void endBatch();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // Most cells of a big grid are text only: the look is kept apart, for the cells that have one.
    struct Slot {
        QString text;
        std::unique_ptr<GridCell> look;
    };
    size_t at(int row, int col) const { return size_t(row) * size_t(m_cols) + size_t(col); }

    std::vector<Slot> m_slots; // row by row
    int m_rows = 1;
    int m_cols = 0;
    int m_batch = 0;
    bool m_batchChanged = false;
};

} // namespace tallyvo
