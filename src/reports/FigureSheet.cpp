#include "reports/FigureSheet.h"

namespace tallyvo {

int figureSheetRow(const FigureTable& table, int row)
{
    if (row < 0)
        return 0;
    if (size_t(row) >= table.rows.size())
        return int(table.rows.size()) + 2;
    return row + 1;
}

SheetGrid figureSheet(FigureKind kind, const FigureTable& table)
{
    const int cols = int(table.header.size()) + 1;
    const bool total = !table.total.isEmpty();
    const int rows = int(table.rows.size()) + 1 + (total ? 2 : 0);
    SheetGrid g = SheetGrid::sized(rows, cols);
    // Column 0 holds the keys in the windows' grids; figures have none.
    g.colWidth[0] = 0;
    for (int c = 1; c < cols; ++c) {
        g.colWidth[size_t(c)] = c == 1 ? 2000 : 1200;
        SheetCell& h = g.cell(0, c);
        h.text = table.header.value(c - 1);
        h.bold = true;
    }
    auto put = [&](int r, const QStringList& line, bool bold) {
        for (int c = 1; c < cols; ++c) {
            SheetCell& cell = g.cell(r, c);
            cell.text = line.value(c - 1);
            cell.number = c > 1;
            cell.bold = bold;
        }
    };
    for (size_t i = 0; i < table.rows.size(); ++i)
        put(int(i) + 1, table.rows[i], false);
    if (total)
        put(rows - 1, table.total, true);
    for (auto& line : g.cells)
        for (SheetCell& cell : line)
            cell.fontName = QStringLiteral("Arial");

    const FigureChart plan = FigureChart::of(kind, table);
    SheetChart chart;
    chart.kind = plan.kind == FigureChart::Kind::Line ? SheetChart::Kind::Line : SheetChart::Kind::Column;
    chart.title = plan.title;
    chart.valueTitle = plan.valueTitle;
    for (const FigureChart::Series& s : plan.series) {
        SheetChart::Series out;
        out.name = s.name;
        out.row1 = figureSheetRow(table, s.values.row1);
        out.row2 = figureSheetRow(table, s.values.row2);
        out.col1 = figureSheetCol(s.values.col1);
        out.col2 = figureSheetCol(s.values.col2);
        out.catRow1 = figureSheetRow(table, s.categories.row1);
        out.catRow2 = figureSheetRow(table, s.categories.row2);
        out.catCol1 = figureSheetCol(s.categories.col1);
        out.catCol2 = figureSheetCol(s.categories.col2);
        chart.series.push_back(out);
    }
    g.chart = chart;
    return g;
}

} // namespace tallyvo
