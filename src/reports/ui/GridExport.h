#pragma once

#include "reports/SheetGrid.h"

#include <QString>
#include <functional>

class QObject;

namespace tallyvo {

class Grid;
class Prompt;

namespace modExcel {

// A window whose workbook is more than its grids' cells (a chart beside them): "Send to Excel"
// writes its sheet instead.
class SheetSource {
public:
    virtual ~SheetSource() = default;
    virtual SheetGrid sheet() const = 0;
};

// Opens a written workbook with the desktop's program for it; false when none could.
using Opener = std::function<bool(const QString& path)>;
Opener desktopOpener();

// What the export reads of a grid, cell by cell.
SheetGrid sheetFromGrid(const Grid& grid);

// Where a new workbook for this title goes: the user's documents folder (the temporary folder
// when there is none), named after the cleaned title, never over an existing file.
QString workbookPath(const QString& title);

// Writes the grid into a new workbook and opens it. When nothing can open it, says where it was
// written. Gives the path written, "" when the export failed (already reported through prompt).
QString exportGrid(const Grid& grid, const QString& title, bool copyFormatting, bool fitColumns, Prompt& prompt,
                   const Opener& open = desktopOpener());

// Writes a sheet into a new workbook named after the title and opens it, as exportGrid does.
QString exportSheet(const SheetGrid& sheet, const QString& title, Prompt& prompt,
                    const Opener& open = desktopOpener());

// "Send to Excel": every grid of the window, with the window's caption as the title and both
// options on. "Error. Cannot Continue " when there is no such window.
void sendToExcel(QObject* reportWindow, Prompt& prompt, const Opener& open = desktopOpener());

} // namespace modExcel
} // namespace tallyvo
