#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QPixmap>
#include <QString>

#include <memory>
#include <unordered_map>
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

// Rows a grid shows without holding their cells: a year of a report is millions of rows, and a
// string per cell would cost gigabytes. The grid asks for a cell's text when it draws, reads or
// exports it. Rows and columns are the data rows from 0 and the grid's columns.
class GridRowSource {
public:
    virtual ~GridRowSource() = default;
    virtual int rowCount() const = 0;
    virtual QString text(int row, int col) const = 0;
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

    // The data rows come from the source instead of held cells; the header row stays. Texts and
    // looks set on a data row afterwards are kept apart, for those cells only. Any change of the
    // row count lets the source go and holds cells again, as every fill starts with the header.
    void setRowSource(std::shared_ptr<const GridRowSource> source);
    const std::shared_ptr<const GridRowSource>& rowSource() const { return m_source; }
    // The source has more rows than before, added after the ones it had: they are announced as
    // inserted, so the rows already shown keep their place, selection and looks.
    void sourceGrew();

    bool contains(int row, int col) const;
    // Text and look of a cell; a cell outside the grid reads empty.
    GridCell cell(int row, int col) const;
    QString text(int row, int col) const;
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
    // The held slot of a cell, nullptr for a data row of a source that has none of its own.
    const Slot* held(int row, int col) const;
    Slot* holdSlot(int row, int col);
    void dropSource();

    std::vector<Slot> m_slots; // row by row; with a source, the header row only
    std::shared_ptr<const GridRowSource> m_source;
    // With a source: the data-row cells given a text or look of their own, by at(); a text set
    // here stands for the source's, so it is told apart from none.
    struct Own {
        Slot slot;
        bool hasText = false;
    };
    std::unordered_map<size_t, Own> m_own;
    int m_rows = 1;
    int m_cols = 0;
    int m_batch = 0;
    bool m_batchChanged = false;
};

} // namespace tallyvo
