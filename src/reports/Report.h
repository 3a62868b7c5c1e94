#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <limits>
#include <optional>
#include <vector>

namespace tallyvo {

class Database;

// The four token reports differ only in what they filter by and in two pieces of their query.
enum class ReportKind { Department, Service, Counter, Pending };

// What a report window asks for: the filter text ("All" for every name), an inclusive range of
// days and "Show All" (waiting tokens too).
struct ReportRequest {
    ReportKind kind = ReportKind::Department;
    QString filter;
    QDate from;
    QDate to;
    bool showAll = false;
};

// The grid's columns as the report windows number them.
enum class ReportColumn { Key, Sn, Dept, Service, Token, Date, Counter, From, To, Duration };

// One listed token. The names, days and times a report repeats on every row are kept once in the
// result and referred to here by number: a month of a busy site is 400,000 rows, and a string per
// value would cost most of the report's time in allocating, sharing and freeing them. Read the
// values through ReportResult::text.
struct ReportRow {
    qint64 key = 0; // tickAuto
    // The token's label, in ReportResult's tokens.
    qint32 tokenAt = 0;
    qint32 tokenSize = 0;
    qint32 service = -1; // in ReportResult's services (with its department)
    qint32 counter = -1; // in ReportResult's counters, -1 when none
    qint32 day = -1;     // in ReportResult's days
    // A time of day "HH:mm:ss" as its second of the day; -1 for none, below that an odd text
    // kept as it stands in ReportResult's texts.
    qint32 from = -1;
    qint32 to = -1;
    qint32 minutes = kNoMinutes; // whole minutes, kNoMinutes until finished

    static constexpr qint32 kNoMinutes = std::numeric_limits<qint32>::min();
};

struct ReportResult {
    std::vector<ReportRow> rows;
    // The database's own words when it refused the query; no rows then.
    QString error;
    // The average line as the window shows it after this fill ("" when there is none).
    QString average;

    // A value as the grid shows it ("" where the database has none); Sn is the row's place, from 1.
    QString text(size_t row, ReportColumn column) const;
    QString text(const ReportRow& row, ReportColumn column) const { return text(size_t(&row - rows.data()), column); }

    // What the rows refer to.
    std::vector<QString> depts;    // per service
    std::vector<QString> services;
    std::vector<QString> counters; // user names
    std::vector<QString> days;
    std::vector<QString> texts;
    QString tokens; // every row's label, one after the other
};

namespace Reports {

// Window caption, filter caption and the query that fills the filter list (active names).
QString caption(ReportKind kind);
QString filterLabel(ReportKind kind);
QString filterListSql(ReportKind kind);
// The filter's names for the list: the active names and "All", sorted as the list shows them.
QStringList filterNames(const Database& db, ReportKind kind);

// Runs the report: the tokens of the days (called ones, waiting ones for the pending report, all
// with "Show All") whose service and department exist, that the filter names, with the counter's
// user name (the counter report: only tokens called by an existing counter). Rows come in the
// order the database gives them. A refused statement gives its text in error and no rows, never
// an exception.
ReportResult run(const Database& db, const ReportRequest& request);

// The grid's 11 columns: width in twips and header caption.
struct Column {
    int width;
    QString header;
};
const std::vector<Column>& columns();

// "Average Time : " and the mean of the durations over every listed row (an empty or non-numeric
// duration counts 0). nullopt when there are no rows to divide by.
std::optional<QString> averageLine(const QStringList& durations);
// Whole minutes from one time of day ("HH:mm:ss") to another, as minute boundaries crossed:
// 10:05:59 to 10:06:01 is 1, 10:05:00 to 10:05:59 is 0. nullopt when either time is missing.
std::optional<int> minutesBetween(QStringView from, QStringView to);
// The leading number of a text as a lenient numeric parse reads it: "12abc" 12, "abc" 0.
double leadingNumber(const QString& text);
// Shortest general form with at most 15 significant digits and the station's decimal separator:
// 22/3 is 7.33333333333333, 7.5 stays 7.5, 10.0 is 10.
QString generalNumber(double value);

} // namespace Reports
} // namespace tallyvo
