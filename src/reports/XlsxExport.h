#pragma once

#include "reports/SheetGrid.h"

#include <QDate>
#include <QString>
#include <QTime>
#include <optional>
#include <vector>

struct lxw_workbook;

namespace tallyvo {

class Prompt;

// Copies a grid into a new .xlsx workbook through libxlsxwriter: texts stay text (numbers too,
// so leading zeros survive), dates and times become real date cells, with the grid's colours,
// fonts and bold, merges of equal neighbouring header cells and fitted column widths.
// Zero-width columns and zero-height rows are left out.
namespace modExcel {

// Sheets hold at most this many visible columns of a grid.
inline constexpr int maxColumns = 254;
// Says, as filling the sheet would, that a grid of this many visible rows is longer than a sheet;
// false when it fits. A year of tokens is millions of rows: callers ask before copying cells.
bool tooManyRows(int visibleRows, Prompt& prompt);

// What may be at the path already: a regular, writable file that the new workbook replaces, or
// nothing (a name chosen to be new).
enum class Existing { Replace, Refuse };

// Writes one workbook with one sheet from grid to path: into a new file beside it, renamed onto
// path only once complete, so a failed export leaves whatever was there as it was. A link, folder,
// device, FIFO or read-only file at path is refused. Failures of the sheet are shown through
// prompt with the fixed texts, the line naming the failing step; a file that could not be written
// with one line saying why. False when no workbook was written.
bool exportToFile(const QString& path, const SheetGrid& grid, const QString& title, bool copyFormatting,
                  bool fitColumns, Prompt& prompt, Existing existing = Existing::Replace);

// Fills one new worksheet of workbook from grid; false when the sheet could not be filled.
bool Sheet2Excel(lxw_workbook* workbook, const SheetGrid& grid, const QString& title, bool copyFormatting,
                 bool fitColumns, Prompt& prompt);

// A worksheet name from a title: without \ / [ ] ? * : and double quotes, trimmed, at most 31
// characters.
QString cleanSheetName(const QString& title);

// The distinct colours a grid uses: its own four first, then those of its cells (never black
// or system colours), at most 56.
std::vector<int> buildPalette(const SheetGrid& grid);
void addPaletteColor(std::vector<int>& palette, int color);
// A system colour code (high bit set, its index in the low byte) as the RGB value a desktop
// shows by default; any other value comes back unchanged.
int translateColor(int color);

// True when the whole text reads as a number.
bool isNumberText(const QString& text);

// A text that reads as a day, a time of day or both.
struct DateValue {
    std::optional<QDate> date;
    std::optional<QTime> time;
    bool seconds = true; // the text had seconds
};
std::optional<DateValue> dateValue(const QString& text);

} // namespace modExcel
} // namespace tallyvo
