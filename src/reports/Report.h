#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <algorithm>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
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
// result and referred to here by number: a busy site's year is five million rows, and a string
// per value would cost most of the report's time and memory in allocating, sharing and freeing
// them. Read the values through ReportResult::text.
struct ReportRow {
    qint64 key = 0; // tickAuto
    // Where the token's label begins in ReportResult's tokens; it ends where the next row's begins.
    qint32 tokenAt = 0;
    qint32 service = -1; // in ReportResult's services (with its department)
    qint32 counter = -1; // in ReportResult's counters, -1 when none
    qint32 day = -1;     // in ReportResult's days
    // A time of day "HH:mm:ss" as its second of the day; -1 for none, below that an odd text
    // kept as it stands in ReportResult's texts.
    qint32 from = -1;
    qint32 to = -1;

    static constexpr qint32 kNoMinutes = std::numeric_limits<qint32>::min();
};
// Rows are made in place in raw blocks and never destroyed one by one.
static_assert(std::is_trivially_destructible_v<ReportRow> && std::is_trivially_copyable_v<ReportRow>);

// A report's rows in blocks of a fixed size: a long report grows without moving the rows it
// holds, and a part read on another connection is joined to it block by block, each block freed
// once copied, so the rows never need room twice.
class ReportRows {
public:
    static constexpr size_t kBlockRows = size_t(1) << 15;

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = ReportRow;
        using difference_type = std::ptrdiff_t;
        using pointer = const ReportRow*;
        using reference = const ReportRow&;

        const_iterator() = default;
        const_iterator(const ReportRows* rows, size_t at)
            : m_rows(rows)
            , m_at(at)
        {
        }
        const ReportRow& operator*() const { return (*m_rows)[m_at]; }
        const ReportRow* operator->() const { return &(*m_rows)[m_at]; }
        const_iterator& operator++()
        {
            ++m_at;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator was = *this;
            ++m_at;
            return was;
        }
        bool operator==(const const_iterator& other) const { return m_at == other.m_at; }

    private:
        const ReportRows* m_rows = nullptr;
        size_t m_at = 0;
    };

    ReportRows() = default;
    ReportRows(ReportRows&&) noexcept = default;
    ReportRows& operator=(ReportRows&&) noexcept = default;

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const ReportRow& operator[](size_t i) const { return m_blocks[i / kBlockRows].get()[i % kBlockRows]; }
    ReportRow& operator[](size_t i) { return m_blocks[i / kBlockRows].get()[i % kBlockRows]; }
    const ReportRow& back() const { return (*this)[m_size - 1]; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_size}; }

    ReportRow& emplace_back()
    {
        // A new block's memory is left as it comes: each row is made as it is added.
        if (m_size == m_blocks.size() * kBlockRows)
            m_blocks.emplace_back(allocateBlock());
        ReportRow* row = new (&(*this)[m_size]) ReportRow();
        ++m_size;
        return *row;
    }
    void push_back(const ReportRow& row) { emplace_back() = row; }
    // Keeps the first n rows (never more than there are).
    void truncate(size_t n);
    void clear()
    {
        m_blocks.clear();
        m_size = 0;
    }
    // Appends another part's rows, each changed by shift on the way, freeing the part's blocks
    // as they are copied.
    template <class Shift>
    void take(ReportRows&& part, Shift shift)
    {
        for (size_t b = 0; b < part.m_blocks.size(); ++b) {
            const size_t n = std::min(kBlockRows, part.m_size - b * kBlockRows);
            for (size_t i = 0; i < n; ++i)
                push_back(shift(part.m_blocks[b].get()[i]));
            part.m_blocks[b].reset();
        }
        part.clear();
    }
    // Where a row of these rows is, nullopt for a row held elsewhere.
    std::optional<size_t> indexOf(const ReportRow* row) const;

private:
    // Blocks are mapped from the system and given back to it when freed, whichever thread made
    // them: a part read on another thread, freed once joined, would otherwise stay with that
    // thread's heap and count twice in the program's memory.
    static ReportRow* allocateBlock();
    static void freeBlock(ReportRow* block);
    struct FreeBlock {
        void operator()(ReportRow* block) const { freeBlock(block); }
    };
    std::vector<std::unique_ptr<ReportRow, FreeBlock>> m_blocks;
    size_t m_size = 0;
};

struct ReportResult {
    ReportRows rows;
    // The database's own words when it refused the query; no rows then.
    QString error;
    // The average line as the window shows it after this fill ("" when there is none).
    QString average;

    // A value as the grid shows it ("" where the database has none); Sn is the row's place, from 1.
    QString text(size_t row, ReportColumn column) const;
    QString text(const ReportRow& row, ReportColumn column) const;
    // A row's whole minutes from From to To (minute boundaries crossed), kNoMinutes until finished.
    qint32 minutes(const ReportRow& row) const;
    // Every row's whole minutes added up, a token not finished counting 0.
    qint64 totalMinutes() const;

    // What the rows refer to.
    std::vector<QString> depts;    // per service
    std::vector<QString> services;
    std::vector<QString> counters; // user names
    std::vector<QString> days;
    std::vector<QString> texts;
    QByteArray tokens; // every row's label in UTF-8, one after the other
};

// A long range read in the background, in parts of a few days handed over in the order of the
// days, so a window shows the first days at once and stays usable while the rest is read. Two
// connections of its own read the two halves of the range side by side, as run does.
class ReportFill {
public:
    // Starts reading. nullptr when the request is better read at once with Reports::run: a range
    // of a few days, or no connections of its own to be had (the station's connection is in a
    // transaction or busy, the machine has one core, the database lives in memory, or the names
    // the rows refer to cannot be read). partReady is called on a reading thread each time a
    // part is ready; it may only pass the news on, to be taken on the caller's thread.
    static std::unique_ptr<ReportFill> start(const Database& db, const ReportRequest& request,
                                             std::function<void()> partReady);
    ReportFill(const ReportFill&) = delete;
    ReportFill& operator=(const ReportFill&) = delete;
    // Stops the reading, cancelling a statement under way, and waits for it.
    ~ReportFill();

    // Moves the parts read so far into result (begun empty), in order, at most `most` of them;
    // with wait, waits for all of them. True once the report is whole, with its average line as
    // run gives it, or has failed: then result holds no rows and the reason, as run's refusals do.
    bool takeParts(ReportResult& result, bool wait = false, int most = std::numeric_limits<int>::max());
    // True when the next part is read and waits to be taken.
    bool partWaiting() const;
    // Parts in all, and parts taken so far.
    int parts() const;
    int taken() const;

    struct Impl;

private:
    explicit ReportFill(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m;
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
// "Average Time : " and minutes over rows (at least one), as the average line shows them.
QString averageText(qint64 minutes, size_t rows);
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
