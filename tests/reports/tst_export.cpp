#include "TestSupport.h"

#include "reports/XlsxExport.h"
#include "reports/ui/GridExport.h"
#include "widgets/BgrColor.h"
#include "widgets/Grid.h"

#include <QApplication>
#include <algorithm>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace tallyvo;

namespace {

// Reads a workbook back with openpyxl: the sheet's name and size, each cell's value, type, number
// format, font and fill, the merged ranges and the column widths.
const char* readBack = R"(
import json, sys, openpyxl, datetime
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb.worksheets[0]
cells = {}
for row in ws.iter_rows():
    for c in row:
        v = c.value
        kind = type(v).__name__
        if isinstance(v, (datetime.datetime, datetime.date, datetime.time)):
            v = v.isoformat()
        cells[c.coordinate] = {"v": v, "t": kind, "fmt": c.number_format, "bold": bool(c.font.b),
                               "font": c.font.name, "size": c.font.sz,
                               "color": c.font.color.rgb if c.font.color is not None and c.font.color.type == "rgb" else None,
                               "fill": c.fill.fgColor.rgb if c.fill.fill_type == "solid" else None}
widths = {k: d.width for k, d in ws.column_dimensions.items() if d.width}
print(json.dumps({"sheets": len(wb.worksheets), "title": ws.title, "maxRow": ws.max_row, "maxCol": ws.max_column,
                  "cells": cells, "merged": sorted(str(r) for r in ws.merged_cells.ranges), "widths": widths}))
)";

QJsonObject readWorkbook(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(readBack), path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qWarning("openpyxl: %s", p.readAllStandardError().constData());
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

QJsonObject cellAt(const QJsonObject& book, const char* address)
{
    return book[QLatin1String("cells")].toObject()[QLatin1String(address)].toObject();
}

// A report-like grid: a header row merged over "Time", a hidden column and a hidden row, numbers,
// a day, times, a coloured and a bold cell.
void fillSample(Grid& g)
{
    g.setCols(7);
    g.setRows(5);
    const char* header[] = {"", "SN", "Token", "Date", "Time", "Time", "Hidden"};
    for (int c = 0; c < 7; ++c)
        g.setTextMatrix(0, c, QLatin1String(header[c]));
    g.setColWidth(0, 1);
    g.setColWidth(6, 0);
    g.setMergeRow(0, true);
    const char* rows[][7] = {{"11", "1", "007", "2026-03-14", "10:05:00", "10:06:01", "x"},
                             {"12", "2", "A2", "2026-03-15", "11:00:00", "", "x"},
                             {"13", "3", "gone", "2026-03-16", "", "", "x"},
                             {"14", "4", "B1", "14-03-2026", "9:30", "2026-03-14 10:05:00", "x"}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 7; ++c)
            g.setTextMatrix(r + 1, c, QLatin1String(rows[r][c]));
    g.setRowHeight(3, 0);
    g.setCellBackColor(1, 2, colorFromBgr(0x0000FF)); // red
    g.setCellForeColor(1, 2, colorFromBgr(0xFF0000)); // blue
    g.setCellFontBold(1, 1, true);
    g.setCellFontName(2, 2, QStringLiteral("Courier New"));
    g.setCellFontSize(2, 2, 14);
}

} // namespace

class tst_export : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void gridArrivesInTheWorkbook();
    void sheetNameIsCleaned_data();
    void sheetNameIsCleaned();
    void widestGridIs254Columns_data();
    void widestGridIs254Columns();
    void longestGridIsRefusedBeforeCopying();
    void workbookKeptWhenNothingOpensIt();
    void failedExportKeepsWhatWasThere_data();
    void failedExportKeepsWhatWasThere();
    void workbookReplacedOnlyWhenComplete();
    void paletteKeepsDistinctColoursUpTo56();
    void textsThatAreNumbersOrDates_data();
    void textsThatAreNumbersOrDates();

private:
    QTemporaryDir m_home;
    QString m_opened;
    modExcel::Opener opener()
    {
        return [this](const QString& path) {
            m_opened = path;
            return true;
        };
    }
};

void tst_export::init()
{
    // Workbooks go to a documents folder of the test's own, emptied before each test.
    QStandardPaths::setTestModeEnabled(true);
    QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).removeRecursively();
    m_opened.clear();
}

void tst_export::gridArrivesInTheWorkbook()
{
    Grid g;
    fillSample(g);
    test::ScriptedPrompt prompt;
    const QString path = modExcel::exportGrid(g, QStringLiteral("Report-Counter Based"), true, true, prompt, opener());
    QVERIFY2(!path.isEmpty(), qPrintable(prompt.messages.join(QLatin1Char('\n'))));
    QCOMPARE(m_opened, path);
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("Report-Counter Based.xlsx"));
    QVERIFY(prompt.messages.isEmpty());

    const QJsonObject book = readWorkbook(path);
    QCOMPARE(book[QLatin1String("sheets")].toInt(), 1);
    QCOMPARE(book[QLatin1String("title")].toString(), QStringLiteral("Report-Counter Based"));
    // The 1-twip key column stays; the zero-width column and the zero-height row are left out.
    QCOMPARE(book[QLatin1String("maxCol")].toInt(), 6);
    QCOMPARE(book[QLatin1String("maxRow")].toInt(), 4);
    QCOMPARE(cellAt(book, "B1")[QLatin1String("v")].toString(), QStringLiteral("SN"));
    // Numbers stay text, leading zeros included.
    QCOMPARE(cellAt(book, "B2")[QLatin1String("t")].toString(), QStringLiteral("str"));
    QCOMPARE(cellAt(book, "B2")[QLatin1String("v")].toString(), QStringLiteral("1"));
    QCOMPARE(cellAt(book, "C2")[QLatin1String("v")].toString(), QStringLiteral("007"));
    QCOMPARE(cellAt(book, "A2")[QLatin1String("v")].toString(), QStringLiteral("11"));
    // Days and times are date cells.
    QCOMPARE(cellAt(book, "D2")[QLatin1String("t")].toString(), QStringLiteral("datetime"));
    QCOMPARE(cellAt(book, "D2")[QLatin1String("v")].toString(), QStringLiteral("2026-03-14T00:00:00"));
    QCOMPARE(cellAt(book, "D2")[QLatin1String("fmt")].toString(), QStringLiteral("yyyy-mm-dd"));
    QCOMPARE(cellAt(book, "E2")[QLatin1String("v")].toString(), QStringLiteral("10:05:00"));
    QCOMPARE(cellAt(book, "F2")[QLatin1String("fmt")].toString(), QStringLiteral("hh:mm:ss"));
    // The hidden row (3) is gone: its successor moved up.
    QCOMPARE(cellAt(book, "C4")[QLatin1String("v")].toString(), QStringLiteral("B1"));
    QCOMPARE(cellAt(book, "D4")[QLatin1String("v")].toString(), QStringLiteral("2026-03-14T00:00:00"));
    QCOMPARE(cellAt(book, "E4")[QLatin1String("v")].toString(), QStringLiteral("09:30:00"));
    QCOMPARE(cellAt(book, "F4")[QLatin1String("v")].toString(), QStringLiteral("2026-03-14T10:05:00"));
    // An empty cell stays empty.
    QVERIFY(cellAt(book, "F3")[QLatin1String("v")].isNull());

    // Colours, fonts and bold of the cells; the header in the grid's fixed colour.
    QCOMPARE(cellAt(book, "C2")[QLatin1String("fill")].toString(), QStringLiteral("FFFF0000"));
    QCOMPARE(cellAt(book, "C2")[QLatin1String("color")].toString(), QStringLiteral("FF0000FF"));
    QVERIFY(cellAt(book, "B2")[QLatin1String("bold")].toBool());
    QVERIFY(!cellAt(book, "C2")[QLatin1String("bold")].toBool());
    QCOMPARE(cellAt(book, "C3")[QLatin1String("font")].toString(), QStringLiteral("Courier New"));
    QCOMPARE(cellAt(book, "C3")[QLatin1String("size")].toDouble(), 14.0);
    const QString fixed = QStringLiteral("FF") + g.backColorFixed().name().mid(1).toUpper();
    QCOMPARE(cellAt(book, "B1")[QLatin1String("fill")].toString(), fixed);
    QCOMPARE(cellAt(book, "A3")[QLatin1String("fill")].toString(), fixed);
    QVERIFY(cellAt(book, "B2")[QLatin1String("fill")].isNull());

    // Equal neighbouring header cells are merged.
    QCOMPARE(book[QLatin1String("merged")].toArray().toVariantList(), QVariantList{QStringLiteral("E1:F1")});
    // Columns fitted to their contents: the day is wider than the SN.
    const QJsonObject widths = book[QLatin1String("widths")].toObject();
    QVERIFY(widths[QLatin1String("D")].toDouble() > widths[QLatin1String("B")].toDouble());
    QVERIFY(widths[QLatin1String("F")].toDouble() > widths[QLatin1String("D")].toDouble());

    // A second export of the same title is a new file.
    const QString second = modExcel::exportGrid(g, QStringLiteral("Report-Counter Based"), true, true, prompt, opener());
    QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("Report-Counter Based (2).xlsx"));
}

void tst_export::sheetNameIsCleaned_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("sheet");
    QTest::newRow("kept") << "Report-Counter Based" << "Report-Counter Based";
    QTest::newRow("forbidden characters") << " Tokens: 14/03 [all] *?\\\"x\" " << "Tokens 1403 all x";
    QTest::newRow("40 characters cut to 31") << "Report-Department Based for March 2026" << "Report-Department Based for Mar";
}

void tst_export::sheetNameIsCleaned()
{
    QFETCH(QString, title);
    QFETCH(QString, sheet);
    QCOMPARE(modExcel::cleanSheetName(title), sheet);
    SheetGrid g = SheetGrid::sized(2, 2);
    g.cell(1, 1).text = QStringLiteral("x");
    test::ScriptedPrompt prompt;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("book.xlsx"));
    QVERIFY(modExcel::exportToFile(path, g, title, true, true, prompt));
    QCOMPARE(readWorkbook(path)[QLatin1String("title")].toString(), sheet);
}

void tst_export::widestGridIs254Columns_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("written");
    QTest::newRow("254") << 254 << true;
    QTest::newRow("255") << 255 << false;
    QTest::newRow("256 with two hidden") << 256 << true;
}

void tst_export::widestGridIs254Columns()
{
    QFETCH(int, columns);
    QFETCH(bool, written);
    Grid g;
    g.setCols(columns);
    g.setRows(2);
    for (int c = 0; c < columns; ++c)
        g.setTextMatrix(1, c, QString::number(c));
    if (columns == 256) {
        g.setColWidth(3, 0);
        g.setColWidth(9, 0);
    }
    test::ScriptedPrompt prompt;
    const QString target = modExcel::workbookPath(QStringLiteral("Wide"));
    const QString path = modExcel::exportGrid(g, QStringLiteral("Wide"), true, true, prompt, opener());
    QCOMPARE(!path.isEmpty(), written);
    if (written) {
        QVERIFY(prompt.messages.isEmpty());
        QCOMPARE(readWorkbook(path)[QLatin1String("maxCol")].toInt(), 254);
    } else {
        QCOMPARE(prompt.messages, QStringList{QStringLiteral("Sheet2Excel: 255 columns specified.\r\n"
                                                             "The maximum number of colums Excel can handle is 255")});
        QVERIFY(m_opened.isEmpty());
        QVERIFY(!QFileInfo::exists(target));
    }
}

namespace {

// Rows enough for more than a sheet, made only when read.
class EndlessRows final : public GridRowSource {
public:
    int rowCount() const override { return 1048576; }
    QString text(int row, int col) const override
    {
        ++asked;
        return QString::number(row * 10 + col);
    }
    mutable qint64 asked = 0;
};

} // namespace

// One row past a sheet's last: the same refusal the sheet gives, without a cell read or a file.
void tst_export::longestGridIsRefusedBeforeCopying()
{
    Grid g;
    g.setCols(3);
    g.setRows(1);
    auto rows = std::make_shared<EndlessRows>();
    g.setRowSource(rows);
    QCOMPARE(g.rows(), 1048577);
    test::ScriptedPrompt prompt;
    const QString target = modExcel::workbookPath(QStringLiteral("Long"));
    QCOMPARE(modExcel::exportGrid(g, QStringLiteral("Long"), true, true, prompt, opener()), QString());
    QCOMPARE(prompt.messages.size(), 1);
    QVERIFY2(prompt.messages[0].startsWith(QStringLiteral("Error: ")) &&
                 prompt.messages[0].contains(QStringLiteral(" on line: 4\n")) &&
                 prompt.messages[0].endsWith(QStringLiteral("in procedure Sheet2Excel of Form modFlexExcel")),
             qPrintable(prompt.messages[0]));
    QCOMPARE(rows->asked, 0);
    QVERIFY(m_opened.isEmpty());
    QVERIFY(!QFileInfo::exists(target));

    // The same refusal as a sheet of that shape gets from the workbook itself.
    test::ScriptedPrompt direct;
    SheetGrid shape;
    shape.rows = 1048577;
    shape.cols = 1;
    shape.rowHeight.assign(size_t(shape.rows), 240);
    QTemporaryDir dir;
    QVERIFY(!modExcel::exportToFile(dir.filePath(QStringLiteral("long.xlsx")), shape, QStringLiteral("Long"), true,
                                    true, direct));
    QCOMPARE(direct.messages, prompt.messages);
}

void tst_export::workbookKeptWhenNothingOpensIt()
{
    Grid g;
    fillSample(g);
    test::ScriptedPrompt prompt;
    const QString path = modExcel::exportGrid(g, QStringLiteral("Pending Reports"), true, true, prompt,
                                              [](const QString&) { return false; });
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(prompt.messages.size(), 1);
    QVERIFY2(prompt.messages[0].contains(QDir::toNativeSeparators(path)), qPrintable(prompt.messages[0]));
}

void tst_export::failedExportKeepsWhatWasThere_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("says");
    QTest::newRow("read-only workbook") << QStringLiteral("readonly") << QStringLiteral("read-only");
    QTest::newRow("symbolic link to a workbook") << QStringLiteral("link") << QStringLiteral("symbolic link");
    QTest::newRow("dangling symbolic link") << QStringLiteral("dangling") << QStringLiteral("symbolic link");
    QTest::newRow("FIFO") << QStringLiteral("fifo") << QStringLiteral("not a regular file");
    QTest::newRow("device") << QStringLiteral("device") << QStringLiteral("not a regular file");
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("folder");
    QTest::newRow("no such folder") << QStringLiteral("nofolder") << QStringLiteral("No such file");
    QTest::newRow("grid too wide, over a workbook") << QStringLiteral("wide") << QStringLiteral("255");
}

void tst_export::failedExportKeepsWhatWasThere()
{
    QFETCH(QString, kind);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString old = dir.filePath(QStringLiteral("old.xlsx"));
    SheetGrid g = SheetGrid::sized(2, 2);
    g.cell(1, 1).text = QStringLiteral("new");
    test::ScriptedPrompt prompt;
    SheetGrid first = SheetGrid::sized(2, 2);
    first.cell(1, 1).text = QStringLiteral("old");
    QVERIFY(modExcel::exportToFile(old, first, QStringLiteral("Old"), true, true, prompt));
    QFile oldFile(old);
    QVERIFY(oldFile.open(QIODevice::ReadOnly));
    const QByteArray oldBytes = oldFile.readAll();
    oldFile.close();

    QString target = dir.filePath(QStringLiteral("target.xlsx"));
    if (kind == QLatin1String("readonly")) {
        QVERIFY(QFile::copy(old, target));
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    } else if (kind == QLatin1String("link")) {
        QVERIFY(QFile::link(old, target));
    } else if (kind == QLatin1String("dangling")) {
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere.xlsx")), target));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
    } else if (kind == QLatin1String("device")) {
        target = QStringLiteral("/dev/null");
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("target.xlsx")));
    } else if (kind == QLatin1String("nofolder")) {
        target = dir.filePath(QStringLiteral("gone/target.xlsx"));
    } else if (kind == QLatin1String("wide")) {
        target = old;
        g = SheetGrid::sized(2, 255);
    }
    struct stat before {};
    const bool existed = ::lstat(QFile::encodeName(target).constData(), &before) == 0;
    const QStringList filesBefore = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                              QDir::NoDotAndDotDot);

    prompt.messages.clear();
    QVERIFY(!modExcel::exportToFile(target, g, QStringLiteral("New"), true, true, prompt));
    QCOMPARE(prompt.messages.size(), 1);
    QVERIFY2(prompt.messages[0].contains(says), qPrintable(prompt.messages[0]));
    if (kind != QLatin1String("wide")) {
        // The cause on one line, naming the file.
        QVERIFY2(!prompt.messages[0].contains(QLatin1Char('\n')), qPrintable(prompt.messages[0]));
        QVERIFY2(prompt.messages[0].contains(target), qPrintable(prompt.messages[0]));
    }

    // Whatever was there is still there, the same kind of thing with the same content; nothing
    // of this run is left beside it.
    struct stat after {};
    QCOMPARE(::lstat(QFile::encodeName(target).constData(), &after) == 0, existed);
    if (existed) {
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_size, before.st_size);
    }
    QVERIFY(QFileInfo::exists(QStringLiteral("/dev/null")));
    QVERIFY(oldFile.open(QIODevice::ReadOnly));
    QCOMPARE(oldFile.readAll(), oldBytes);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             filesBefore);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("elsewhere.xlsx"))));
}

void tst_export::workbookReplacedOnlyWhenComplete()
{
    // A workbook the user keeps group-readable is replaced by a complete new one with that mode.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("week.xlsx"));
    test::ScriptedPrompt prompt;
    SheetGrid g = SheetGrid::sized(2, 2);
    g.cell(1, 1).text = QStringLiteral("old");
    QVERIFY(modExcel::exportToFile(path, g, QStringLiteral("Week"), true, true, prompt));
    // A new one gets the usual mode of a new file, not the owner-only mode of its making.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0666 & ~mask);
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0640), 0);

    g.cell(1, 1).text = QStringLiteral("new");
    QVERIFY(modExcel::exportToFile(path, g, QStringLiteral("Week"), true, true, prompt));
    QVERIFY2(prompt.messages.isEmpty(), qPrintable(prompt.messages.join(QLatin1Char('\n'))));
    QCOMPARE(cellAt(readWorkbook(path), "B2")[QLatin1String("v")].toString(), QStringLiteral("new"));
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0640));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("week.xlsx")});

    // The window never replaces: a name taken meanwhile is refused, the file there kept.
    QVERIFY(!modExcel::exportToFile(path, g, QStringLiteral("Week"), true, true, prompt, modExcel::Existing::Refuse));
    QCOMPARE(prompt.messages.size(), 1);
    QCOMPARE(cellAt(readWorkbook(path), "B2")[QLatin1String("v")].toString(), QStringLiteral("new"));
}

void tst_export::paletteKeepsDistinctColoursUpTo56()
{
    SheetGrid g = SheetGrid::sized(31, 3);
    // 60 distinct cell colours besides the grid's own four; black and "as the grid" never count.
    for (int r = 1; r < 31; ++r) {
        g.cell(r, 1).back = 0x010101 * r;
        g.cell(r, 2).fore = 0x000100 * r + 0x50;
    }
    g.cell(1, 1).fore = 0;
    const std::vector<int> palette = modExcel::buildPalette(g);
    QCOMPARE(int(palette.size()), 56);
    // The grid's white, light grey and black (text and header text alike), then the cells' colours.
    QCOMPARE(palette[0], 0xFFFFFF);
    QCOMPARE(palette[3], 0x010101);
    QCOMPARE(palette[4], 0x000150);
    QCOMPARE(int(std::count(palette.begin(), palette.end(), 0)), 1); // the grid's black text, once
    // A system colour becomes the desktop's colour for it; others stay as they are.
    QCOMPARE(modExcel::translateColor(int(0x80000005u)), 0xFFFFFF);
    QCOMPARE(modExcel::translateColor(int(0x800000FFu)), int(0x800000FFu));
    QCOMPARE(modExcel::translateColor(0x123456), 0x123456);
}

void tst_export::textsThatAreNumbersOrDates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("number");
    QTest::addColumn<bool>("date");
    QTest::newRow("whole") << "42" << true << false;
    QTest::newRow("decimal, negative") << "-7.5" << true << false;
    QTest::newRow("leading zeros") << "007" << true << false;
    QTest::newRow("label") << "A7" << false << false;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("day") << "2026-03-14" << false << true;
    QTest::newRow("day as shown") << "14-03-2026" << false << true;
    QTest::newRow("time") << "23:59:59" << false << true;
    QTest::newRow("no such day") << "2026-02-30" << false << false;
    QTest::newRow("average line") << "Average Time : 7.5" << false << false;
}

void tst_export::textsThatAreNumbersOrDates()
{
    QFETCH(QString, text);
    QFETCH(bool, number);
    QFETCH(bool, date);
    QCOMPARE(modExcel::isNumberText(text), number);
    QCOMPARE(modExcel::dateValue(text).has_value(), date);
}

TALLYVO_TEST_MAIN(tst_export)
#include "tst_export.moc"
