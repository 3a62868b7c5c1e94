#pragma once

#include <QString>
#include <optional>
#include <vector>

namespace tallyvo {

struct ReportResult;

// What the spreadsheet export reads of a grid: its cells with their look, sizes, the fixed
// (header) rows and columns and the merge flags. Windows copy their Grid into one; the command
// line builds one from report rows. Colours are 0x00BBGGRR integers; -1 means "as the grid".
struct SheetCell {
    QString text;
    QString fontName;
    double fontSize = 10;
    bool bold = false;
    int back = -1;
    int fore = -1;
    // Written as a number when the text reads as one, so that charts and sums can use it; other
    // texts stay text (leading zeros survive).
    bool number = false;
};

// A chart of some of a grid's cells, written as the spreadsheet's own chart beside the grid.
// Rows and columns are the grid's; each series takes its values from one range of cells and its
// categories from another.
struct SheetChart {
    enum class Kind { Column, Line };
    struct Series {
        QString name;
        int row1 = 1, col1 = 1, row2 = 1, col2 = 1;
        int catRow1 = 1, catCol1 = 1, catRow2 = 1, catCol2 = 1;
    };
    Kind kind = Kind::Column;
    QString title;
    QString valueTitle;
    std::vector<Series> series;
};

struct SheetGrid {
    int rows = 0;
    int cols = 0;
    int fixedRows = 1;
    int fixedCols = 1;
    std::vector<int> colWidth;  // twips; 0 hides the column
    std::vector<int> rowHeight; // twips; 0 hides the row
    std::vector<std::vector<SheetCell>> cells;
    std::vector<bool> mergeRow;
    std::vector<bool> mergeCol;
    int backColor = 0xFFFFFF;
    int backColorFixed = 0xF0F0F0;
    int foreColor = 0;
    int foreColorFixed = 0;
    std::optional<SheetChart> chart;

    // An empty grid of this shape, every row 240 twips high and every column 960 twips wide.
    static SheetGrid sized(int rows, int cols);
    const SheetCell& cell(int r, int c) const { return cells[size_t(r)][size_t(c)]; }
    SheetCell& cell(int r, int c) { return cells[size_t(r)][size_t(c)]; }
};

// A report grid as the report windows lay it out: the 11 columns with their widths and headers
// and one row per token (the position in column 1), in a plain look.
SheetGrid reportSheet(const ReportResult& result);

} // namespace tallyvo
