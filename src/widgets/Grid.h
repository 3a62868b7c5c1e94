#pragma once

#include "widgets/GridModel.h"

#include <QPointer>
#include <QTableView>

#include <concepts>
#include <functional>
#include <vector>

class QWindow;

namespace tallyvo {

class GridHeader;

// The table every list, report, console list, ticket choice and display token table is built on.
//
// Row 0 is the fixed header row and column 0 the fixed key column; both always exist and are
// drawn in the fixed colours. Row 0 stays in place while the other rows scroll. Windows make
// column 0 one twip wide so the record key it holds is present but not visible.
//
// Sizes are in twips, converted with this grid's own screen density. Per-cell look applies to
// the current cell (setRow/setCol, then set), or to the cell named by the (row, col) overloads,
// which leave the current cell alone. Out-of-range rows and columns are ignored by setters and
// read as empty or 0 by getters.
//
// A new grid has 2 rows and 2 columns with the current cell at (1, 1). Cell text keeps line
// breaks ("\r\n" or "\n"); a line too long for its cell ends in an ellipsis unless
// setWordWrap(true) wraps it.
//
// Users cannot edit cells. A click selects the whole row; dragging or Shift extends the
// selection from row() to selectedRow(). Use the clicked() and doubleClicked() signals declared
// here, not the QModelIndex ones of the base class.
class Grid : public QTableView {
    Q_OBJECT
public:
    using PictureFit = GridPictureFit;
    // When the selected rows are drawn highlighted. A display table that nobody clicks uses Never.
    enum class Highlight { Never, Always, WithFocus };

    explicit Grid(QWidget* parent = nullptr);
    ~Grid() override;

    // Shape: row 0 and column 0 always remain. Growing adds empty rows or columns at the end,
    // shrinking drops them from the end; setRows(1) leaves just the header, as every fill starts.
    int rows() const;
    void setRows(int rows);
    int cols() const;
    void setCols(int cols);
    static constexpr int fixedRows() { return 1; }
    static constexpr int fixedCols() { return 1; }

    // The data rows from a source instead of held cells (report windows: a year of tokens stays
    // the report's own rows); the header row, sizes, looks and selection work as with cells.
    // setRows with another count, as every fill starts, holds cells again. The rows take the
    // default height; the selection is kept where the rows still reach.
    void setRowSource(std::shared_ptr<const GridRowSource> source);
    const std::shared_ptr<const GridRowSource>& rowSource() const;
    // The source's rows grew at the end (a report still being read): the new rows are shown
    // without moving the view or the selection.
    void rowSourceGrew();

    QString textMatrix(int row, int col) const;
    void setTextMatrix(int row, int col, const QString& text);

    // Cells changed while a Batch lives reach the view together when the last one ends, so
    // filling a month of report rows costs about what storing their texts costs.
    class Batch {
    public:
        explicit Batch(Grid& grid);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        Grid& m_grid;
    };

    // Sizes in twips. A negative width or height returns the row or column to the default. A
    // row's height reads back as at least rowHeightMin(), which applies to every row, the
    // header and rows added later included.
    int colWidth(int col) const;
    void setColWidth(int col, int twips);
    int rowHeight(int row) const;
    void setRowHeight(int row, int twips);
    int rowHeightMin() const;
    void setRowHeightMin(int twips);

    // The current cell, which the per-cell look applies to. Setting the row also collapses the
    // selection to that row. Row 0 as the current row means nothing is selected.
    int row() const;
    void setRow(int row);
    int col() const;
    void setCol(int col);
    // The other end of the selection (equal to row() after a plain click); the row that click
    // and double-click handlers read.
    int selectedRow() const;
    void setSelectedRow(int row);
    // Column 0 of the selected row, trimmed; "" when the selected row is the header or holds no
    // key, which handlers treat as nothing selected.
    QString selectedKey() const;

    // The current cell's size in twips, for painting a picture to fit it.
    int cellWidth() const;
    int cellHeight() const;

    // Per-cell look of the current cell. Getters give what the cell shows: its own font values or
    // the grid's; colours are invalid when the cell uses the grid's colours.
    QString cellFontName() const { return cellFontName(m_row, m_col); }
    void setCellFontName(const QString& name) { setCellFontName(m_row, m_col, name); }
    qreal cellFontSize() const { return cellFontSize(m_row, m_col); }
    void setCellFontSize(qreal points) { setCellFontSize(m_row, m_col, points); }
    bool cellFontBold() const { return cellFontBold(m_row, m_col); }
    void setCellFontBold(bool bold) { setCellFontBold(m_row, m_col, bold); }
    QColor cellBackColor() const { return cellBackColor(m_row, m_col); }
    void setCellBackColor(const QColor& color) { setCellBackColor(m_row, m_col, color); }
    QColor cellForeColor() const { return cellForeColor(m_row, m_col); }
    void setCellForeColor(const QColor& color) { setCellForeColor(m_row, m_col, color); }
    Qt::Alignment cellAlignment() const { return cellAlignment(m_row, m_col); }
    void setCellAlignment(Qt::Alignment alignment) { setCellAlignment(m_row, m_col, alignment); }
    QPixmap cellPicture() const { return cellPicture(m_row, m_col); }
    // Drawn behind the text; a null pixmap removes it. Stretch fits the whole picture to the
    // cell; Clip draws it at its own size from the cell's top-left corner, for a picture already
    // painted to the cell's size on a larger canvas.
    void setCellPicture(const QPixmap& picture, PictureFit fit = PictureFit::Stretch) {
        setCellPicture(m_row, m_col, picture, fit);
    }

    // The same for a named cell, without moving the current cell.
    QString cellFontName(int row, int col) const;
    void setCellFontName(int row, int col, const QString& name);
    qreal cellFontSize(int row, int col) const;
    void setCellFontSize(int row, int col, qreal points);
    bool cellFontBold(int row, int col) const;
    void setCellFontBold(int row, int col, bool bold);
    QColor cellBackColor(int row, int col) const;
    void setCellBackColor(int row, int col, const QColor& color);
    QColor cellForeColor(int row, int col) const;
    void setCellForeColor(int row, int col, const QColor& color);
    Qt::Alignment cellAlignment(int row, int col) const;
    void setCellAlignment(int row, int col, Qt::Alignment alignment);
    QPixmap cellPicture(int row, int col) const;
    void setCellPicture(int row, int col, const QPixmap& picture, PictureFit fit = PictureFit::Stretch);

    // Stored colours are 0x00BBGGRR integers; convert them with colorFromBgr (BgrColor.h). QColor
    // would read a bare integer as 0xRRGGBB and show the wrong colour, so one does not compile.
    template <std::integral T> void setCellBackColor(T) = delete;
    template <std::integral T> void setCellForeColor(T) = delete;
    template <std::integral T> void setCellBackColor(int, int, T) = delete;
    template <std::integral T> void setCellForeColor(int, int, T) = delete;

    // Alignment of a column's cells that have none of their own. Without one, numbers are
    // right-aligned and other text left-aligned, both vertically centred.
    Qt::Alignment colAlignment(int col) const;
    void setColAlignment(int col, Qt::Alignment alignment);

    // Whole-grid look. Getters give the colour in use; an invalid colour restores the default.
    QColor backColor() const; // normal cells
    void setBackColor(const QColor& color);
    QColor backColorFixed() const; // header row and key column
    void setBackColorFixed(const QColor& color);
    QColor backColorBkg() const; // the empty area beside and below the cells
    void setBackColorBkg(const QColor& color);
    QColor foreColor() const;
    void setForeColor(const QColor& color);
    QColor foreColorFixed() const;
    void setForeColorFixed(const QColor& color);
    QColor gridColor() const;
    void setGridColor(const QColor& color);
    QColor gridColorFixed() const;
    void setGridColorFixed(const QColor& color);
    template <std::integral T> void setBackColor(T) = delete;
    template <std::integral T> void setBackColorFixed(T) = delete;
    template <std::integral T> void setBackColorBkg(T) = delete;
    template <std::integral T> void setForeColor(T) = delete;
    template <std::integral T> void setForeColorFixed(T) = delete;
    template <std::integral T> void setGridColor(T) = delete;
    template <std::integral T> void setGridColorFixed(T) = delete;

    // In pixels; 0 draws no lines.
    int gridLineWidth() const;
    void setGridLineWidth(int pixels);

    Highlight highlight() const;
    void setHighlight(Highlight highlight);

    // Merge flags, kept for the spreadsheet export; the grid itself draws every cell on its own.
    bool mergeCells() const;
    void setMergeCells(bool merge);
    bool mergeRow(int row) const;
    void setMergeRow(int row, bool merge);
    bool mergeCol(int col) const;
    void setMergeCol(int col, bool merge);

signals:
    // After row(), col() and selectedRow() are updated. Emitted for clicks on a cell or on the
    // header row; clicks on the empty area beside or below the cells are ignored. A click is a
    // press and a release on the same row; Space on the keyboard counts as a click on the
    // selected row.
    void clicked();
    // A double-click on a cell or the header, or Enter on a selected data row.
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    friend class GridHeader;
    friend class GridDelegate;

    void paintCell(QPainter* painter, const QRect& rect, int row, int col) const;
    bool isHighlighted(int row) const;
    QFont cellFont(const GridCell& cell) const;
    Qt::Alignment textAlignment(const GridCell& cell, int col) const;

    // Mouse and keyboard land here for data rows and the header alike.
    void pressCell(int row, int col, bool extend);
    void releaseCell(int row);
    void doubleClickCell(int row, int col);
    void moveSelection(int row, bool extend);
    void copySelection() const;

    void applySizes();
    void applyRowHeight(int row);
    void applyColWidth(int col);
    int defaultRowHeightPixels() const;
    int rowHeightPixels(int row) const;
    int colWidthPixels(int col) const;
    qreal dpiX() const;
    qreal dpiY() const;
    void watchScreen();

    void setCurrentCell(int row, int col);
    void syncSelection();
    void changeCell(int row, int col, const std::function<void(GridCell&)>& change);
    void lookChanged();
    void setLookColor(QColor& slot, const QColor& color);

    GridModel* m_model;
    GridHeader* m_header;

    // Explicit sizes in twips; -1 where the default applies.
    std::vector<int> m_rowTwips;
    std::vector<int> m_colTwips;
    std::vector<Qt::Alignment> m_colAlignment;
    std::vector<bool> m_mergeRow;
    std::vector<bool> m_mergeCol;
    int m_rowHeightMinTwips = 0;
    qreal m_appliedDpiX = 0;
    qreal m_appliedDpiY = 0;
    QPointer<QWindow> m_watchedWindow;

    int m_row = 1;
    int m_col = 1;
    int m_rowSel = 1;
    int m_pressRow = -1; // row of the left press still held, -1 when none

    QColor m_backColor;
    QColor m_backColorFixed;
    QColor m_backColorBkg;
    QColor m_foreColor;
    QColor m_foreColorFixed;
    QColor m_gridColor;
    QColor m_gridColorFixed;
    int m_gridLineWidth = 1;
    Highlight m_highlight = Highlight::Always;
    bool m_mergeCells = false;
};

} // namespace tallyvo
