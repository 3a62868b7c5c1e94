#include "reports/SheetGrid.h"

#include "reports/Report.h"

namespace tallyvo {

SheetGrid SheetGrid::sized(int rows, int cols)
{
    SheetGrid g;
    g.rows = rows;
    g.cols = cols;
    g.colWidth.assign(size_t(cols), 960);
    g.rowHeight.assign(size_t(rows), 240);
    g.cells.assign(size_t(rows), std::vector<SheetCell>(size_t(cols)));
    g.mergeRow.assign(size_t(rows), false);
    g.mergeCol.assign(size_t(cols), false);
    return g;
}

SheetGrid reportSheet(const ReportResult& result)
{
    const ReportRows& rows = result.rows;
    const auto& columns = Reports::columns();
    SheetGrid g = SheetGrid::sized(int(rows.size()) + 1, int(columns.size()));
    for (size_t c = 0; c < columns.size(); ++c) {
        g.colWidth[c] = columns[c].width;
        g.cells[0][c].text = columns[c].header;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        for (int c = int(ReportColumn::Key); c <= int(ReportColumn::Duration); ++c)
            g.cells[i + 1][size_t(c)].text = result.text(i, ReportColumn(c));
    }
    for (auto& line : g.cells)
        for (SheetCell& cell : line)
            cell.fontName = QStringLiteral("Arial");
    return g;
}

} // namespace tallyvo
