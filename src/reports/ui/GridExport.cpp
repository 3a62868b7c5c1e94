#include "reports/ui/GridExport.h"

#include "core/Prompt.h"
#include "reports/XlsxExport.h"
#include "reports/ui/ReportWindow.h"
#include "widgets/BgrColor.h"
#include "widgets/Grid.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QUrl>

namespace tallyvo::modExcel {

Opener desktopOpener()
{
    return [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
}

SheetGrid sheetFromGrid(const Grid& grid)
{
    SheetGrid s = SheetGrid::sized(grid.rows(), grid.cols());
    s.fixedRows = Grid::fixedRows();
    s.fixedCols = Grid::fixedCols();
    s.backColor = bgrFromColor(grid.backColor());
    s.backColorFixed = bgrFromColor(grid.backColorFixed());
    s.foreColor = bgrFromColor(grid.foreColor());
    s.foreColorFixed = bgrFromColor(grid.foreColorFixed());
    for (int c = 0; c < s.cols; ++c) {
        s.colWidth[size_t(c)] = grid.colWidth(c);
        s.mergeCol[size_t(c)] = grid.mergeCol(c);
    }
    for (int r = 0; r < s.rows; ++r) {
        s.rowHeight[size_t(r)] = grid.rowHeight(r);
        s.mergeRow[size_t(r)] = grid.mergeRow(r);
        for (int c = 0; c < s.cols; ++c) {
            SheetCell& cell = s.cell(r, c);
            cell.text = grid.textMatrix(r, c);
            cell.fontName = grid.cellFontName(r, c);
            cell.fontSize = grid.cellFontSize(r, c);
            cell.bold = grid.cellFontBold(r, c);
            cell.back = bgrFromColor(grid.cellBackColor(r, c));
            cell.fore = bgrFromColor(grid.cellForeColor(r, c));
        }
    }
    return s;
}

QString workbookPath(const QString& title)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder) || !QFileInfo(folder).isWritable())
        folder = QDir::tempPath();
    QString base = cleanSheetName(title);
    if (base.isEmpty())
        base = QStringLiteral("Export");
    QString path = QDir(folder).filePath(base + QStringLiteral(".xlsx"));
    // A dangling link is a taken name too: writing through it would make a file elsewhere.
    auto taken = [](const QString& p) { return QFileInfo::exists(p) || QFileInfo(p).isSymLink(); };
    for (int n = 2; taken(path); ++n)
        path = QDir(folder).filePath(QStringLiteral("%1 (%2).xlsx").arg(base).arg(n));
    return path;
}

// Writes the sheet under a new name for the title and opens it; the path, "" when not written.
QString writeAndOpen(const SheetGrid& sheet, const QString& title, bool copyFormatting, bool fitColumns,
                     Prompt& prompt, const Opener& open);

QString exportGrid(const Grid& grid, const QString& title, bool copyFormatting, bool fitColumns, Prompt& prompt,
                   const Opener& open)
{
    // Refused before the cells are copied: a sheet of a year of tokens would take gigabytes only
    // to be refused after.
    int visibleRows = 0;
    for (int r = 0; r < grid.rows(); ++r)
        visibleRows += grid.rowHeight(r) > 0 ? 1 : 0;
    if (tooManyRows(visibleRows, prompt))
        return QString();
    return writeAndOpen(sheetFromGrid(grid), title, copyFormatting, fitColumns, prompt, open);
}

QString exportSheet(const SheetGrid& sheet, const QString& title, Prompt& prompt, const Opener& open)
{
    return writeAndOpen(sheet, title, true, true, prompt, open);
}

QString writeAndOpen(const SheetGrid& sheet, const QString& title, bool copyFormatting, bool fitColumns,
                     Prompt& prompt, const Opener& open)
{
    // The window shows its last state before the work starts.
    QCoreApplication::processEvents();
    const QString path = workbookPath(title);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const bool written = exportToFile(path, sheet, title, copyFormatting, fitColumns, prompt, Existing::Refuse);
    QGuiApplication::restoreOverrideCursor();
    if (!written)
        return QString();
    if (!open || !open(path))
        prompt.message(QCoreApplication::translate("modExcel",
                                                   "No program to open the workbook was found. It was written to:\n%1")
                           .arg(QDir::toNativeSeparators(path)));
    return path;
}

void sendToExcel(QObject* reportWindow, Prompt& prompt, const Opener& open)
{
    auto* window = qobject_cast<QWidget*>(reportWindow);
    if (const auto* source = dynamic_cast<const SheetSource*>(window)) {
        exportSheet(source->sheet(), window->windowTitle(), prompt, open);
        return;
    }
    // A report still being read is exported whole, never the part read so far.
    if (auto* report = qobject_cast<ReportWindow*>(window))
        report->finishFill();
    const QList<Grid*> grids = window ? window->findChildren<Grid*>() : QList<Grid*>();
    if (grids.isEmpty()) {
        prompt.message(QCoreApplication::translate("modExcel", "Error. Cannot Continue "));
        return;
    }
    for (Grid* grid : grids)
        exportGrid(*grid, window->windowTitle(), true, true, prompt, open);
}

} // namespace tallyvo::modExcel
