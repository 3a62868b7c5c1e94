#include "reports/XlsxExport.h"

#include "core/Prompt.h"
#include "core/SafeFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QScopeGuard>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <iterator>
#include <xlsxwriter.h>

namespace tallyvo::modExcel {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("modExcel", text);
}

lxw_color_t rgbFromBgr(int bgr)
{
    const auto v = static_cast<unsigned>(bgr);
    return ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
}

// What one cell of the sheet looks like; equal looks share one workbook format.
struct Look {
    int fore = -1;
    int back = -1;
    bool bold = false;
    QString fontName;
    double fontSize = 0;
    QString numFormat;
    bool vcenter = false;
    bool formatted = false; // font values are the grid's; otherwise the workbook's defaults

    QString key() const
    {
        return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
            .arg(fore)
            .arg(back)
            .arg(int(bold))
            .arg(fontName)
            .arg(fontSize)
            .arg(numFormat)
            .arg(int(vcenter))
            .arg(int(formatted));
    }
};

class Formats {
public:
    explicit Formats(lxw_workbook* workbook)
        : m_workbook(workbook)
    {
    }

    lxw_format* get(const Look& look)
    {
        if (!look.formatted && look.numFormat.isEmpty() && !look.vcenter)
            return nullptr;
        const QString key = look.key();
        auto it = m_formats.find(key);
        if (it != m_formats.end())
            return it.value();
        lxw_format* f = workbook_add_format(m_workbook);
        if (look.formatted) {
            if (look.fore >= 0)
                format_set_font_color(f, rgbFromBgr(look.fore));
            if (look.back >= 0) {
                format_set_pattern(f, LXW_PATTERN_SOLID);
                format_set_bg_color(f, rgbFromBgr(look.back));
            }
            if (look.bold)
                format_set_bold(f);
            if (!look.fontName.isEmpty())
                format_set_font_name(f, look.fontName.toUtf8().constData());
            if (look.fontSize > 0)
                format_set_font_size(f, look.fontSize);
        }
        if (!look.numFormat.isEmpty())
            format_set_num_format(f, look.numFormat.toUtf8().constData());
        if (look.vcenter)
            format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
        m_formats.insert(key, f);
        return f;
    }

private:
    lxw_workbook* m_workbook;
    QHash<QString, lxw_format*> m_formats;
};

// Excel counts days from 1899-12-30 (for days after February 1900) and times as parts of a day.
std::optional<double> serialOf(const DateValue& v)
{
    double serial = 0;
    if (v.date) {
        if (*v.date < QDate(1900, 3, 1) || v.date->year() > 9999)
            return std::nullopt;
        serial = double(QDate(1899, 12, 30).daysTo(*v.date));
    }
    if (v.time)
        serial += v.time->msecsSinceStartOfDay() / 86400000.0;
    return serial;
}

QString numFormatOf(const DateValue& v)
{
    const QString time = v.seconds ? QStringLiteral("hh:mm:ss") : QStringLiteral("hh:mm");
    if (v.date && v.time)
        return QStringLiteral("yyyy-mm-dd ") + time;
    return v.date ? QStringLiteral("yyyy-mm-dd") : time;
}

// How wide a cell's text shows, in characters of the workbook's default font.
double shownWidth(const QString& text, const std::optional<DateValue>& date, double fontSize, bool bold)
{
    qsizetype chars = text.size();
    if (date)
        chars = numFormatOf(*date).size();
    if (chars == 0)
        return 0;
    double width = double(chars) * (fontSize > 0 ? fontSize : 11.0) / 11.0;
    if (bold)
        width *= 1.1;
    return width + 1.0;
}

void reportSheetError(Prompt& prompt, int number, int line, const QString& description)
{
    prompt.message(tr("Error: ") + QString::number(number) + tr(" on line: ") + QString::number(line) +
                   QLatin1Char('\n') + tr("Description: ") + description + QLatin1Char('\n') +
                   tr("in procedure Sheet2Excel of Form modFlexExcel"));
}

} // namespace

bool tooManyRows(int visibleRows, Prompt& prompt)
{
    if (visibleRows <= int(LXW_ROW_MAX))
        return false;
    reportSheetError(prompt, LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE, 4,
                     QString::fromUtf8(lxw_strerror(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE)));
    return true;
}

QString cleanSheetName(const QString& title)
{
    QString name = title;
    for (const QChar c : {QLatin1Char('\\'), QLatin1Char('/'), QLatin1Char('['), QLatin1Char(']'), QLatin1Char('?'),
                          QLatin1Char('*'), QLatin1Char(':'), QLatin1Char('"')})
        name.remove(c);
    return name.trimmed().left(31);
}

int translateColor(int color)
{
    // The desktop's default system colours, as 0x00BBGGRR, by system colour index.
    static const int systemColors[] = {
        0xC8C8C8, 0x000000, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000, 0x000000,
        0x000000, 0xB4B4B4, 0xFCF7F4, 0xABABAB, 0xD77800, 0xFFFFFF, 0xF0F0F0, 0xA0A0A0, 0x6D6D6D,
        0x000000, 0x000000, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000, 0xE1FFFF,
    };
    const auto v = static_cast<unsigned>(color);
    if ((v & 0x80000000u) == 0)
        return color;
    const unsigned index = v & 0x7FFFFFFFu;
    if (index < std::size(systemColors))
        return systemColors[index];
    return color;
}

void addPaletteColor(std::vector<int>& palette, int color)
{
    if (std::find(palette.begin(), palette.end(), color) == palette.end())
        palette.push_back(color);
}

std::vector<int> buildPalette(const SheetGrid& grid)
{
    std::vector<int> palette;
    addPaletteColor(palette, translateColor(grid.backColor));
    addPaletteColor(palette, translateColor(grid.backColorFixed));
    addPaletteColor(palette, translateColor(grid.foreColor));
    addPaletteColor(palette, translateColor(grid.foreColorFixed));
    for (int r = grid.fixedRows; r < grid.rows; ++r) {
        for (int c = grid.fixedCols; c < grid.cols; ++c) {
            const SheetCell& cell = grid.cell(r, c);
            if (cell.fore != grid.foreColor && cell.fore > 0)
                addPaletteColor(palette, translateColor(cell.fore));
            if (cell.back != grid.backColor && cell.back > 0)
                addPaletteColor(palette, translateColor(cell.back));
        }
    }
    if (palette.size() > 56)
        palette.resize(56);
    return palette;
}

bool isNumberText(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    double v = QLocale::c().toDouble(t, &ok);
    if (!ok)
        v = QLocale().toDouble(t, &ok);
    return ok && std::isfinite(v);
}

std::optional<DateValue> dateValue(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    const QLocale c = QLocale::c();
    static const char* const dates[] = {"yyyy-MM-dd", "dd-MM-yyyy", "dd/MM/yyyy", "yyyy/MM/dd", "dd-MMM-yyyy",
                                        "d-MMM-yyyy", "dd MMM yyyy"};
    static const char* const timesWithSeconds[] = {"HH:mm:ss", "H:mm:ss", "hh:mm:ss AP", "h:mm:ss AP"};
    static const char* const timesWithout[] = {"HH:mm", "H:mm", "hh:mm AP", "h:mm AP"};

    auto readTime = [&](const QString& part, bool* seconds) -> std::optional<QTime> {
        for (const char* f : timesWithSeconds) {
            const QTime v = c.toTime(part, QLatin1String(f));
            if (v.isValid()) {
                *seconds = true;
                return v;
            }
        }
        for (const char* f : timesWithout) {
            const QTime v = c.toTime(part, QLatin1String(f));
            if (v.isValid()) {
                *seconds = false;
                return v;
            }
        }
        return std::nullopt;
    };
    auto readDate = [&](const QString& part) -> std::optional<QDate> {
        for (const char* f : dates) {
            const QDate v = c.toDate(part, QLatin1String(f));
            if (v.isValid())
                return v;
        }
        return std::nullopt;
    };

    DateValue value;
    if (auto d = readDate(t)) {
        value.date = d;
        return value;
    }
    if (auto tm = readTime(t, &value.seconds)) {
        value.time = tm;
        return value;
    }
    // A day followed by a time of day.
    const qsizetype blank = t.indexOf(QLatin1Char(' '));
    if (blank > 0) {
        for (qsizetype split = blank; split > 0; split = t.indexOf(QLatin1Char(' '), split + 1)) {
            auto d = readDate(t.left(split));
            auto tm = d ? readTime(t.mid(split + 1).trimmed(), &value.seconds) : std::nullopt;
            if (d && tm) {
                value.date = d;
                value.time = tm;
                return value;
            }
        }
    }
    return std::nullopt;
}

bool Sheet2Excel(lxw_workbook* workbook, const SheetGrid& grid, const QString& title, bool copyFormatting,
                 bool fitColumns, Prompt& prompt)
{
    int line = 1;
    // 2: the sheet's name; a name the workbook refuses leaves its default one.
    line = 2;
    QByteArray name;
    if (!title.isEmpty()) {
        name = cleanSheetName(title).toUtf8();
        if (name.isEmpty() || workbook_validate_sheet_name(workbook, name.constData()) != LXW_NO_ERROR)
            name.clear();
    }
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, name.isEmpty() ? nullptr : name.constData());
    if (!sheet) {
        reportSheetError(prompt, LXW_ERROR_MEMORY_MALLOC_FAILED, line,
                         QString::fromUtf8(lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED)));
        return false;
    }

    // 3: what is visible.
    line = 3;
    auto width = [&](int c) { return size_t(c) < grid.colWidth.size() ? grid.colWidth[size_t(c)] : 960; };
    auto height = [&](int r) { return size_t(r) < grid.rowHeight.size() ? grid.rowHeight[size_t(r)] : 240; };
    std::vector<int> sheetCol(size_t(grid.cols), -1);
    std::vector<int> sheetRow(size_t(grid.rows), -1);
    int visibleCols = 0;
    int visibleFixedCols = 0;
    for (int c = 0; c < grid.cols; ++c) {
        if (width(c) > 0) {
            sheetCol[size_t(c)] = visibleCols++;
            if (c < grid.fixedCols)
                ++visibleFixedCols;
        }
    }
    int visibleRows = 0;
    for (int r = 0; r < grid.rows; ++r)
        if (height(r) > 0)
            sheetRow[size_t(r)] = visibleRows++;

    // 4: the widest grid a sheet takes.
    line = 4;
    if (visibleCols > maxColumns) {
        prompt.message(tr("Sheet2Excel: ") + QString::number(visibleCols) + tr(" columns specified.") +
                       QStringLiteral("\r\n") + tr("The maximum number of colums Excel can handle is 255"));
        return false;
    }
    if (tooManyRows(visibleRows, prompt))
        return false;

    // Merged ranges (9, 10): runs of equal neighbouring cells, each run one range (two
    // overlapping ranges would make the file unreadable).
    struct Range {
        int r1, c1, r2, c2;
        bool vcenter;
    };
    std::vector<Range> merges;
    std::vector<std::vector<int>> mergedInto; // per sheet cell: index of its range, -1
    if (copyFormatting) {
        auto flag = [](const std::vector<bool>& flags, int i) { return size_t(i) < flags.size() && flags[size_t(i)]; };
        for (int r = 0; r < grid.fixedRows && r < grid.rows; ++r) {
            if (height(r) <= 0 || !flag(grid.mergeRow, r))
                continue;
            int c = grid.fixedCols;
            while (c < grid.cols - 1) {
                int end = c;
                while (end < grid.cols - 1 && width(end) > 0 && width(end + 1) > 0 &&
                       grid.cell(r, end).text == grid.cell(r, end + 1).text)
                    ++end;
                if (end > c)
                    merges.push_back({sheetRow[size_t(r)], sheetCol[size_t(c)], sheetRow[size_t(r)],
                                      sheetCol[size_t(end)], false});
                c = end + 1;
            }
        }
        for (int c = 0; c < grid.fixedCols && c < grid.cols; ++c) {
            if (width(c) <= 0 || !flag(grid.mergeCol, c))
                continue;
            int r = grid.fixedRows;
            while (r < grid.rows - 1) {
                int end = r;
                while (end < grid.rows - 1 && height(end) > 0 && height(end + 1) > 0 &&
                       grid.cell(end, c).text == grid.cell(end + 1, c).text)
                    ++end;
                if (end > r)
                    merges.push_back({sheetRow[size_t(r)], sheetCol[size_t(c)], sheetRow[size_t(end)],
                                      sheetCol[size_t(c)], true});
                r = end + 1;
            }
        }
        if (!merges.empty()) {
            mergedInto.assign(size_t(visibleRows), std::vector<int>(size_t(visibleCols), -1));
            for (size_t i = 0; i < merges.size(); ++i)
                for (int r = merges[i].r1; r <= merges[i].r2; ++r)
                    for (int c = merges[i].c1; c <= merges[i].c2; ++c)
                        mergedInto[size_t(r)][size_t(c)] = int(i);
        }
    }

    // 5, 6, 8: values, and the look of each cell when formatting is copied.
    line = 6;
    Formats formats(workbook);
    std::vector<double> fitted(size_t(visibleCols), 0);
    for (int r = 0; r < grid.rows; ++r) {
        const int sr = sheetRow[size_t(r)];
        if (sr < 0)
            continue;
        for (int c = 0; c < grid.cols; ++c) {
            const int sc = sheetCol[size_t(c)];
            if (sc < 0)
                continue;
            const SheetCell& cell = grid.cell(r, c);
            const QString& text = cell.text;
            // Numbers stay text; anything else that reads as a day or time becomes one.
            std::optional<DateValue> date;
            std::optional<double> serial;
            if (!isNumberText(text)) {
                date = dateValue(text);
                if (date)
                    serial = serialOf(*date);
                if (!serial)
                    date.reset();
            }

            if (!serial && cell.number) {
                bool ok = false;
                const double value = text.toDouble(&ok);
                if (ok)
                    serial = value;
            }

            Look look;
            if (date)
                look.numFormat = numFormatOf(*date);
            if (copyFormatting) {
                const bool fixed = r < grid.fixedRows || c < grid.fixedCols;
                look.formatted = true;
                if (fixed)
                    look.back = translateColor(grid.backColorFixed);
                else if (cell.back != grid.backColor && cell.back > 0)
                    look.back = translateColor(cell.back);
                if (cell.fore > 0)
                    look.fore = translateColor(cell.fore);
                look.bold = cell.bold;
                look.fontName = cell.fontName;
                look.fontSize = cell.fontSize;
            }

            const int merged = mergedInto.empty() ? -1 : mergedInto[size_t(sr)][size_t(sc)];
            if (merged >= 0) {
                const Range& m = merges[size_t(merged)];
                look.vcenter = m.vcenter;
                if (m.r1 != sr || m.c1 != sc)
                    continue; // written with its range
                lxw_error e =
                    worksheet_merge_range(sheet, lxw_row_t(m.r1), lxw_col_t(m.c1), lxw_row_t(m.r2), lxw_col_t(m.c2),
                                          text.toUtf8().constData(), formats.get(look));
                if (e == LXW_NO_ERROR && serial)
                    e = worksheet_write_number(sheet, lxw_row_t(sr), lxw_col_t(sc), *serial, formats.get(look));
                if (e != LXW_NO_ERROR) {
                    reportSheetError(prompt, int(e), 9, QString::fromUtf8(lxw_strerror(e)));
                    return false;
                }
                continue;
            }

            lxw_format* format = formats.get(look);
            lxw_error e = serial ? worksheet_write_number(sheet, lxw_row_t(sr), lxw_col_t(sc), *serial, format)
                                 : worksheet_write_string(sheet, lxw_row_t(sr), lxw_col_t(sc),
                                                          text.toUtf8().constData(), format);
            if (e != LXW_NO_ERROR) {
                reportSheetError(prompt, int(e), line, QString::fromUtf8(lxw_strerror(e)));
                return false;
            }
            fitted[size_t(sc)] = std::max(fitted[size_t(sc)], shownWidth(text, date, cell.fontSize, cell.bold));
        }
    }

    // 12: the chart, beside the grid.
    line = 12;
    if (grid.chart && !grid.chart->series.empty()) {
        const SheetChart& look = *grid.chart;
        lxw_chart* chart =
            workbook_add_chart(workbook, look.kind == SheetChart::Kind::Line ? LXW_CHART_LINE : LXW_CHART_COLUMN);
        if (!chart) {
            reportSheetError(prompt, LXW_ERROR_MEMORY_MALLOC_FAILED, line,
                             QString::fromUtf8(lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED)));
            return false;
        }
        auto at = [](const std::vector<int>& map, int i) { return i >= 0 && size_t(i) < map.size() ? map[size_t(i)] : -1; };
        const char* sheetName = sheet->name;
        for (const SheetChart::Series& s : look.series) {
            const int r1 = at(sheetRow, s.row1), r2 = at(sheetRow, s.row2);
            const int c1 = at(sheetCol, s.col1), c2 = at(sheetCol, s.col2);
            const int k1 = at(sheetRow, s.catRow1), k2 = at(sheetRow, s.catRow2);
            const int l1 = at(sheetCol, s.catCol1), l2 = at(sheetCol, s.catCol2);
            if (r1 < 0 || r2 < r1 || c1 < 0 || c2 < c1)
                continue;
            lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
            if (k1 >= 0 && k2 >= k1 && l1 >= 0 && l2 >= l1)
                chart_series_set_categories(series, sheetName, lxw_row_t(k1), lxw_col_t(l1), lxw_row_t(k2),
                                            lxw_col_t(l2));
            chart_series_set_values(series, sheetName, lxw_row_t(r1), lxw_col_t(c1), lxw_row_t(r2), lxw_col_t(c2));
            chart_series_set_name(series, s.name.toUtf8().constData());
        }
        if (!look.title.isEmpty())
            chart_title_set_name(chart, look.title.toUtf8().constData());
        if (!look.valueTitle.isEmpty())
            chart_axis_set_name(chart->y_axis, look.valueTitle.toUtf8().constData());
        lxw_chart_options placing{};
        placing.x_scale = 1.6;
        placing.y_scale = 1.4;
        const lxw_error e = worksheet_insert_chart_opt(sheet, 1, lxw_col_t(visibleCols + 1), chart, &placing);
        if (e != LXW_NO_ERROR) {
            reportSheetError(prompt, int(e), line, QString::fromUtf8(lxw_strerror(e)));
            return false;
        }
    }

    // 7, 11: fitted widths; without formatting only the fixed columns are fitted.
    line = 11;
    if (fitColumns) {
        const int last = copyFormatting ? visibleCols : visibleFixedCols;
        for (int sc = 0; sc < last; ++sc) {
            if (fitted[size_t(sc)] <= 0)
                continue;
            const lxw_error e =
                worksheet_set_column(sheet, lxw_col_t(sc), lxw_col_t(sc), std::min(fitted[size_t(sc)], 255.0), nullptr);
            if (e != LXW_NO_ERROR) {
                reportSheetError(prompt, int(e), line, QString::fromUtf8(lxw_strerror(e)));
                return false;
            }
        }
    }
    return true;
}

namespace {

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Why a workbook may not be put at path; "" when it may. *mode is the mode to give it: that of the
// file it replaces, else what a new file of this user gets.
QString refusalOf(const QByteArray& path, Existing existing, mode_t* mode)
{
    struct stat st {};
    if (lstat(path.constData(), &st) != 0)
        return errno == ENOENT ? QString() : systemError(errno);
    if (S_ISLNK(st.st_mode))
        return tr("it is a symbolic link");
    if (S_ISDIR(st.st_mode))
        return tr("it is a folder");
    if (!S_ISREG(st.st_mode))
        return tr("it is not a regular file");
    if (existing == Existing::Refuse)
        return tr("a file of that name exists");
    // The new workbook is renamed into place, which the old file's own mode would not stop: one
    // marked read-only stays as it is, also for root.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.constData(), W_OK) != 0)
        return tr("it is read-only");
    *mode = st.st_mode & 07777;
    return QString();
}

mode_t newFileMode()
{
    // umask() can only be read by setting it; nothing else here creates files meanwhile.
    const mode_t mask = umask(0077);
    umask(mask);
    return 0666 & ~mask;
}

// libxlsxwriter prints its own "[ERROR]" lines on stderr; the caller says once, on its own terms,
// why the workbook was not written.
class QuietStderr {
public:
    QuietStderr()
    {
        std::fflush(stderr);
        m_saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (m_saved >= 0 && null >= 0)
            dup2(null, STDERR_FILENO);
        if (null >= 0)
            close(null);
    }
    ~QuietStderr()
    {
        std::fflush(stderr);
        if (m_saved >= 0) {
            dup2(m_saved, STDERR_FILENO);
            close(m_saved);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int m_saved = -1;
};

} // namespace

bool exportToFile(const QString& path, const SheetGrid& grid, const QString& title, bool copyFormatting,
                  bool fitColumns, Prompt& prompt, Existing existing)
{
    auto notWritten = [&](const QString& why) {
        prompt.message(tr("The workbook %1 was not written: %2").arg(QDir::toNativeSeparators(path), why));
        return false;
    };
    const QByteArray target = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    mode_t mode = newFileMode();
    if (const QString refusal = refusalOf(target, existing, &mode); !refusal.isEmpty())
        return notWritten(refusal);
    // The temporary file is gone before anything is said about a failure.
    bool filled = true;
    const QString why = [&]() -> QString {
        const QFileInfo info(path);
        QString error;
        const QString temp = SafeFile::createTemp(info.absolutePath(), info.fileName(), &error);
        if (temp.isEmpty())
            return error;
        // Made by this run, so removed by it on every way out unless it took the target's name.
        bool kept = false;
        const auto removeTemp = qScopeGuard([&] {
            if (!kept)
                QFile::remove(temp);
        });
        // 4: a new workbook.
        lxw_workbook* workbook = workbook_new(QFile::encodeName(temp).constData());
        if (!workbook)
            return tr("not enough memory");
        // 5 has no counterpart: cells of an .xlsx carry their own RGB colours, so every colour of
        // the grid arrives exactly, without a workbook palette of 56 entries to map them onto.
        // 6: the one sheet.
        filled = Sheet2Excel(workbook, grid, title, copyFormatting, fitColumns, prompt);
        // 8: the file is written when the workbook is released.
        lxw_error e = LXW_NO_ERROR;
        int closeErrno = 0;
        {
            const QuietStderr quiet;
            errno = 0;
            e = workbook_close(workbook);
            closeErrno = errno;
        }
        if (!filled)
            return QString();
        if (e != LXW_NO_ERROR)
            return QString::fromUtf8(lxw_strerror(e)) +
                (closeErrno != 0 ? QStringLiteral(" (%1)").arg(systemError(closeErrno)) : QString());
        // Whatever came to the target meanwhile is judged again right before it is replaced.
        if (QString refusal = refusalOf(target, existing, &mode); !refusal.isEmpty())
            return refusal;
        if (::chmod(QFile::encodeName(temp).constData(), mode) != 0)
            return systemError(errno);
        const QString targetPath = info.absoluteFilePath();
        if (existing == Existing::Refuse) {
            const SafeFile::Claim claimed = SafeFile::claim(temp, targetPath, &error);
            kept = claimed == SafeFile::Claim::Done;
            return claimed == SafeFile::Claim::Taken ? tr("a file of that name exists") : error;
        }
        kept = SafeFile::replace(temp, targetPath, &error);
        return error;
    }();
    if (!filled)
        return false;
    if (!why.isEmpty())
        return notWritten(why);
    return true;
}

} // namespace tallyvo::modExcel
