#pragma once

#include "reports/SheetGrid.h"
#include "stats/QueueFigures.h"

namespace tallyvo {

// A table of figures as a workbook sheet: its rows under the header, numbers as numbers, the
// total line (if any) under a blank row, and the figure's chart beside it.
SheetGrid figureSheet(FigureKind kind, const FigureTable& table);

// Where a cell of the table lands in figureSheet's grid (row -1 is the header, row rows.size()
// the total line).
int figureSheetRow(const FigureTable& table, int row);
inline int figureSheetCol(int col) { return col + 1; }

} // namespace tallyvo
