#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace tallyvo {

class Database;

// What the waiting, service-level, hourly and counter figures are computed over: an inclusive
// range of days and a filter naming a department, a service or a counter ("All" for everything).
struct FigureRequest {
    enum class Scope { Department, Service, Counter };
    QDate from;
    QDate to;
    Scope scope = Scope::Service;
    QString name = QStringLiteral("All");
};

enum class FigureKind { Waiting, Levels, Hourly, Counters };

// The figures as a table: the headers and one line of texts per row, as the grids, the command
// line and the workbooks show them. Numbers are plain decimal texts with a point. total is a
// summing line under the rows where the figures have one (empty otherwise).
struct FigureTable {
    QStringList header;
    std::vector<QStringList> rows;
    QStringList total;

    // Row -1 is the header, row rows.size() the total line.
    QString text(int row, int col) const;
};

// What a figure's chart shows, as ranges of its table's cells, so that every chart drawn from
// it (a window's, a workbook's) shows exactly the table's numbers.
struct FigureChart {
    struct Range {
        int row1 = 0, col1 = 0, row2 = 0, col2 = 0;
    };
    struct Series {
        QString name;
        Range values;
        Range categories;
    };
    enum class Kind { Column, Line };
    Kind kind = Kind::Column;
    QString title;
    QString valueTitle;
    std::vector<Series> series;

    static FigureChart of(FigureKind kind, const FigureTable& table);
    // A range's texts in order, row by row; categories of several columns are joined by a blank.
    static QStringList texts(const FigureTable& table, const Range& range);
    // A range's values; an empty cell is nullopt (a gap).
    static std::vector<std::optional<double>> values(const FigureTable& table, const Range& range);
};

// The waiting of people and how the counters worked, from the tokens of a range of days.
//
// The waiting minutes of a token run from its issue (tickTime) to its first call, counted as
// minute boundaries crossed, like service minutes; rows stored before the first call was kept
// use their attTime. A token was called when its call is '1' or it has a first call (a token
// transferred and not called again was called once, it is not "never called"); cancelled tokens
// waited too, so they count in the waiting figures but are not served. Medians and 90th
// percentiles are nearest-rank; averages and percents are rounded to one decimal.
//
// Each kind of figures reads the columns it needs of the range's tokens once and counts them as
// they arrive, without keeping them. A long range is read in slices of days at once, each on a
// connection of its own (a year is millions of tokens); the slices' days never overlap, so their
// counts add up to what one reading would give.
class QueueFigures {
public:
    // The waiting bands of the histogram, in whole minutes, each up to and including its top.
    static constexpr std::array<int, 5> bandTops{5, 10, 20, 30, 60};
    static constexpr int bandCount = int(bandTops.size()) + 1;

    struct Waiting {
        QString service;
        QString date;
        int called = 0;
        double average = 0; // over the tokens with a waiting time
        int median = 0;
        int p90 = 0;
        int longest = 0;
        int timed = 0; // tokens with a waiting time
        std::array<int, bandCount> bands{};
    };
    struct Level {
        QString service;
        QString date;
        int issued = 0;
        int served = 0;
        int cancelled = 0;
        int neverCalled = 0;
        std::optional<int> target;         // minutes
        std::optional<double> withinTarget; // percent of served; none without target or served
    };
    struct Hour {
        int weekday = 1; // 1 Monday .. 7 Sunday
        int hour = 0;
        int issued = 0;
        int served = 0;
        std::optional<double> averageWait; // of the tokens issued in that hour
    };
    struct CounterWork {
        QString counter;
        int served = 0;
        std::optional<double> averageService; // whole minutes per finished served token
        std::optional<double> servingShare;   // percent of first call to last finish, per day
    };

    // Looks up the services and counters the request covers; each kind of figures reads the
    // tokens when asked. db must outlive the object. readers is how many connections may read
    // at once (0: as the range and the machine allow). Throws DbError, as the figures do.
    QueueFigures(const Database& db, const FigureRequest& request, int readers = 0);
    ~QueueFigures();

    std::vector<Waiting> waiting() const;
    std::vector<Level> levels() const;
    std::vector<Hour> hourly() const;
    std::vector<CounterWork> counters() const;
    FigureTable table(FigureKind kind) const;
    // The header of a kind of figures, without rows.
    static FigureTable emptyTable(FigureKind kind);
    // The window caption and workbook title of a kind of figures.
    static QString caption(FigureKind kind);

    static FigureTable table(const std::vector<Waiting>& rows);
    static FigureTable table(const std::vector<Level>& rows);
    static FigureTable table(const std::vector<Hour>& rows);
    static FigureTable table(const std::vector<CounterWork>& rows);

    // Helpers the figures are made of, for whoever shows the same numbers.
    // Minute boundaries crossed from one second of the day to another (10:05:59 to 10:06:01 is 1).
    static int minutesBetween(int fromSecond, int toSecond) { return toSecond / 60 - fromSecond / 60; }
    // "HH:mm:ss" as its second of the day; -1 for anything else.
    static int secondOfDay(QStringView text);
    // The value at rank ceil(p/100 * n) of an ascending list (nearest rank); 0 for none.
    static int nearestRank(const std::vector<int>& sorted, int percent);
    // sum / count rounded half up to one decimal, without binary fractions getting in the way.
    static double tenths(qint64 sum, qint64 count);
    static QString number(double value) { return QString::number(value, 'f', 1); }
    static QString weekdayName(int weekday);
    static int band(int minutes);

private:
    struct Names;
    struct Tally;
    Tally read(FigureKind kind) const;

    const Database* m_db;
    FigureRequest m_request;
    int m_readers;
    std::shared_ptr<const Names> m_names;
};

} // namespace tallyvo
