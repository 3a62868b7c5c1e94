#include "stats/QueueFigures.h"

#include "core/Database.h"
#include "core/DirectRows.h"
#include "core/DbError.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

namespace tallyvo {

namespace {

const QString dateFormat = QStringLiteral("yyyy-MM-dd");
const QString allNames = QStringLiteral("All");

// A range of at least this many days is read in slices at once.
constexpr qint64 sliceDays = 7;
constexpr int mostReaders = 4;

QString decimal(const std::optional<double>& value)
{
    return value ? QueueFigures::number(*value) : QString();
}

int code(QChar c)
{
    return c.unicode();
}

int code(char c)
{
    return static_cast<unsigned char>(c);
}

template <typename View> int secondOf(View t)
{
    if (t.size() != 8 || code(t[2]) != ':' || code(t[5]) != ':')
        return -1;
    auto two = [&](int at) {
        const int a = code(t[at]) - '0';
        const int b = code(t[at + 1]) - '0';
        return a >= 0 && a <= 9 && b >= 0 && b <= 9 ? a * 10 + b : -1;
    };
    const int h = two(0);
    const int m = two(3);
    const int s = two(6);
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59)
        return -1;
    return h * 3600 + m * 60 + s;
}

int secondOfText(QByteArrayView t)
{
    return secondOf(t);
}

int wholeOf(QByteArrayView t)
{
    bool ok = false;
    const int v = t.toInt(&ok);
    return ok ? v : 0;
}

// The columns a kind of figures reads, in this order; each kind leaves out what it does not use,
// so that the server has less to send. "called" is the first call, or attTime where the row has
// none. The first is the service and two flags in one number (four times servAuto, plus 1 for
// call '1' and 2 for status "Cancelled"): every cell costs the server time to send, more than
// the sum costs it.
enum Column { ServiceCol, DayCol, IssuedCol, CalledCol, AttTimeCol, FinishedCol, CounterCol, Columns };
constexpr qint64 calledNowFlag = 1;
constexpr qint64 cancelledFlag = 2;
constexpr qint64 flagBits = 3;

const char* const columnSql[Columns] = {
    "CAST(servAuto AS BIGINT) * 4 + CASE WHEN call = '1' THEN 1 ELSE 0 END + "
    "CASE WHEN status = 'Cancelled' THEN 2 ELSE 0 END",
    "tickDate",
    "tickTime",
    "CASE WHEN firstCall IS NULL OR firstCall = '' THEN attTime ELSE firstCall END",
    "attTime",
    "finished",
    "attended",
};

// One token as the database gives it; NULL is empty.
struct Raw {
    QByteArrayView cell[Columns];
};

// A token's values for the figures.
struct Token {
    qint32 service = 0; // index into the services
    qint32 counter = -1; // index into the counters
    qint32 issued = -1; // seconds of the day, -1 for none
    qint32 firstCall = -1;
    qint32 lastCall = -1;
    qint32 finished = -1;
    bool calledNow = false; // call '1'
    bool cancelled = false;
    qint32 wait() const
    {
        return issued >= 0 && firstCall >= issued ? QueueFigures::minutesBetween(issued, firstCall) : -1;
    }
    bool called() const { return calledNow || firstCall >= 0; }
    bool served() const { return calledNow && !cancelled; }
};

// One slice of the range: its first day and the text bound after its last ("" for the range's
// own last day, included).
struct Slice {
    QByteArray from;
    QByteArray before;
    QByteArray to;
};

} // namespace

struct QueueFigures::Names {
    struct Service {
        QString name;
        std::optional<int> target;
    };
    std::vector<Service> services;
    std::vector<QString> counters;
    QHash<int, qint32> serviceAt;
    QHash<int, qint32> counterAt;
    std::vector<bool> counterTaken; // by counter index: the filter keeps its tokens
    bool allServices = true;        // every service's tokens, none left out by the filter
    bool byCounter = false;
    std::vector<int> serviceIds; // when not all
    std::vector<int> counterIds; // when by counter
};

// What one reading of days counts, for one kind of figures. The days of two tallies never
// overlap, so they join by putting their days side by side and adding the hours.
struct QueueFigures::Tally {
    struct DayGroup { // a service's day
        int issued = 0, called = 0, cancelled = 0, neverCalled = 0, served = 0, within = 0;
        std::vector<int> waits; // tokens per whole minute of waiting, of the called ones
    };
    struct HourCount {
        qint64 issued = 0, served = 0, timed = 0, waited = 0;
    };
    struct CounterDay {
        bool worked = false;
        int firstCall = -1, lastFinish = -1;
        qint64 served = 0, timed = 0, minutes = 0, serving = 0;
    };

    FigureKind kind = FigureKind::Waiting;
    const Names* names = nullptr;
    std::vector<QString> days;
    std::vector<int> weekdays;
    std::vector<std::vector<DayGroup>> groups;        // [day][service]
    std::vector<std::vector<CounterDay>> counterDays; // [day][counter]
    std::array<std::array<HourCount, 24>, 8> hours{};

    // Where the reader's day was met last, so that a run of one day's tokens looks it up once.
    QByteArray lastDay;
    int lastDayAt = -1;
    QHash<QByteArray, int> dayAt;

    int day(QByteArrayView text)
    {
        if (lastDayAt >= 0 && text == QByteArrayView(lastDay))
            return lastDayAt;
        lastDay = text.toByteArray();
        auto it = dayAt.find(lastDay);
        if (it == dayAt.end()) {
            const QString name = QString::fromUtf8(lastDay);
            it = dayAt.insert(lastDay, int(days.size()));
            days.push_back(name);
            weekdays.push_back(QDate::fromString(name, dateFormat).dayOfWeek());
            if (kind == FigureKind::Waiting || kind == FigureKind::Levels)
                groups.emplace_back(names->services.size());
            if (kind == FigureKind::Counters)
                counterDays.emplace_back(names->counters.size());
        }
        lastDayAt = *it;
        return lastDayAt;
    }

    void add(const Raw& r)
    {
        add(r, r.cell[ServiceCol].toLongLong(), wholeOf(r.cell[CounterCol]));
    }

    // A row whose numbers were read already.
    void add(const Raw& r, qint64 serviceAndFlags, int counterId)
    {
        Token t;
        const qint64 flags = serviceAndFlags & flagBits;
        t.service = names->serviceAt.value(int((serviceAndFlags - flags) / 4), -1);
        if (t.service < 0)
            return;
        t.counter = names->counterAt.value(counterId, -1);
        if (names->byCounter && (t.counter < 0 || !names->counterTaken[size_t(t.counter)]))
            return;
        const int d = day(r.cell[DayCol]);
        t.issued = secondOfText(r.cell[IssuedCol]);
        t.firstCall = secondOfText(r.cell[CalledCol]);
        t.lastCall = secondOfText(r.cell[AttTimeCol]);
        t.finished = secondOfText(r.cell[FinishedCol]);
        t.calledNow = (flags & calledNowFlag) != 0;
        t.cancelled = (flags & cancelledFlag) != 0;
        add(t, d);
    }

    void add(const Token& t, int d)
    {
        switch (kind) {
        case FigureKind::Waiting:
        case FigureKind::Levels: {
            DayGroup& g = groups[size_t(d)][size_t(t.service)];
            const int w = t.wait();
            ++g.issued;
            if (t.cancelled)
                ++g.cancelled;
            if (!t.called()) {
                ++g.neverCalled;
            } else {
                ++g.called;
                if (w >= 0) {
                    if (g.waits.size() <= size_t(w))
                        g.waits.resize(size_t(w) + 1, 0);
                    ++g.waits[size_t(w)];
                }
            }
            if (t.served()) {
                ++g.served;
                const std::optional<int> target = names->services[size_t(t.service)].target;
                // A served token whose wait cannot be told is not within the target.
                if (target && w >= 0 && w <= *target)
                    ++g.within;
            }
            break;
        }
        case FigureKind::Hourly: {
            const int wd = weekdays[size_t(d)];
            if (wd < 1)
                break;
            if (t.issued >= 0) {
                HourCount& c = hours[size_t(wd)][size_t(t.issued / 3600)];
                ++c.issued;
                if (const int w = t.wait(); w >= 0) {
                    c.waited += w;
                    ++c.timed;
                }
            }
            // Served in the hour its serving began.
            if (t.served() && t.lastCall >= 0)
                ++hours[size_t(wd)][size_t(t.lastCall / 3600)].served;
            break;
        }
        case FigureKind::Counters: {
            if (t.counter < 0 || !t.calledNow)
                break;
            CounterDay& c = counterDays[size_t(d)][size_t(t.counter)];
            c.worked = true;
            // The working span runs from the counter's first call to its last finish, cancelled
            // tokens included: calling one that does not come is work too.
            if (t.lastCall >= 0 && (c.firstCall < 0 || t.lastCall < c.firstCall))
                c.firstCall = t.lastCall;
            if (t.finished >= 0)
                c.lastFinish = std::max(c.lastFinish, t.finished);
            if (!t.served())
                break;
            ++c.served;
            if (t.lastCall >= 0 && t.finished >= t.lastCall) {
                c.minutes += minutesBetween(t.lastCall, t.finished);
                ++c.timed;
                c.serving += t.finished - t.lastCall;
            }
            break;
        }
        }
    }

    void join(Tally&& other)
    {
        for (auto& name : other.days)
            days.push_back(std::move(name));
        weekdays.insert(weekdays.end(), other.weekdays.begin(), other.weekdays.end());
        for (auto& g : other.groups)
            groups.push_back(std::move(g));
        for (auto& c : other.counterDays)
            counterDays.push_back(std::move(c));
        for (size_t wd = 0; wd < hours.size(); ++wd) {
            for (size_t h = 0; h < 24; ++h) {
                hours[wd][h].issued += other.hours[wd][h].issued;
                hours[wd][h].served += other.hours[wd][h].served;
                hours[wd][h].timed += other.hours[wd][h].timed;
                hours[wd][h].waited += other.hours[wd][h].waited;
            }
        }
    }
};

namespace {

// The columns a kind reads and the condition its rows meet besides the days.
struct Reading {
    bool columns[Columns] = {};
    QString where;

    QString select() const
    {
        QStringList parts;
        for (int c = 0; c < Columns; ++c)
            if (columns[c])
                parts << QString::fromLatin1(columnSql[c]);
        return QStringLiteral("SELECT ") + parts.join(QStringLiteral(", ")) + QStringLiteral(" FROM tblTicket WHERE ");
    }
};

QString idList(const std::vector<int>& ids)
{
    QStringList parts;
    for (const int id : ids)
        parts << QString::number(id);
    return parts.join(QLatin1Char(','));
}

// Reads a slice through SQLite's own calls, straight from its buffers: a year is millions of
// rows, and a value object per cell would cost most of the time.
template <typename Tally> void readSqlite(sqlite3* raw, const Reading& reading, const Slice& slice, Tally& tally)
{
    const QString sql = reading.select() + reading.where +
        (slice.before.isEmpty() ? QStringLiteral("tickDate >= ? AND tickDate <= ?")
                                : QStringLiteral("tickDate >= ? AND tickDate < ?"));
    const QByteArray& end = slice.before.isEmpty() ? slice.to : slice.before;
    DirectRows rows(raw, sql, {QString::fromUtf8(slice.from), QString::fromUtf8(end)});
    int at[Columns];
    int n = 0;
    for (int c = 0; c < Columns; ++c)
        at[c] = reading.columns[c] ? n++ : -1;
    Raw r;
    while (rows.next()) {
        for (int c = 0; c < Columns; ++c) {
            if (at[c] < 0 || c == ServiceCol || c == CounterCol)
                continue;
            r.cell[c] = rows.bytes(at[c]);
        }
        tally.add(r, rows.integer(at[ServiceCol]), at[CounterCol] < 0 ? 0 : int(rows.integer(at[CounterCol])));
    }
}

QString postgresError(PGconn* conn, PGresult* res)
{
    QString why = res ? QString::fromUtf8(PQresultErrorMessage(res)).trimmed() : QString();
    if (why.isEmpty())
        why = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    return why;
}

// One field of a line of COPY's text form, its escapes undone into spare when it has any; a
// NULL is empty.
QByteArrayView copyField(const char* begin, const char* end, std::string& spare)
{
    const QByteArrayView text(begin, end - begin);
    if (text == QByteArrayView("\\N"))
        return {};
    if (!text.contains('\\'))
        return text;
    spare.clear();
    for (const char* p = begin; p < end; ++p) {
        if (*p != '\\' || p + 1 == end) {
            spare += *p;
            continue;
        }
        const char c = *++p;
        switch (c) {
        case 'b': spare += '\b'; break;
        case 'f': spare += '\f'; break;
        case 'n': spare += '\n'; break;
        case 'r': spare += '\r'; break;
        case 't': spare += '\t'; break;
        case 'v': spare += '\v'; break;
        case 'x': {
            int v = 0, digits = 0;
            while (digits < 2 && p + 1 < end && std::isxdigit(static_cast<unsigned char>(p[1]))) {
                const char h = *++p;
                v = v * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
                ++digits;
            }
            spare += digits ? char(v) : 'x';
            break;
        }
        default:
            if (c >= '0' && c <= '7') {
                int v = c - '0', digits = 1;
                while (digits < 3 && p + 1 < end && p[1] >= '0' && p[1] <= '7') {
                    v = v * 8 + (*++p - '0');
                    ++digits;
                }
                spare += char(v);
            } else {
                spare += c;
            }
        }
    }
    return QByteArrayView(spare.data(), qsizetype(spare.size()));
}

// Reads a slice through libpq as COPY's text lines, one at a time: the rows are not gathered
// into one result first, which for a year would be millions of cells held at once.
template <typename Tally> void readPostgres(PGconn* conn, const Reading& reading, const Slice& slice, Tally& tally)
{
    // The days are dates of our own making and the lists numbers: nothing of a user's goes into
    // the statement.
    const QString from = QString::fromLatin1(slice.from);
    const QString days = slice.before.isEmpty()
        ? QStringLiteral("tickDate >= '%1' AND tickDate <= '%2'").arg(from, QString::fromLatin1(slice.to))
        : QStringLiteral("tickDate >= '%1' AND tickDate < '%2'").arg(from, QString::fromLatin1(slice.before));
    const QByteArray sql =
        (QStringLiteral("COPY (") + reading.select() + reading.where + days + QStringLiteral(") TO STDOUT")).toUtf8();
    PGresult* res = PQexec(conn, sql.constData());
    if (PQresultStatus(res) != PGRES_COPY_OUT) {
        const QString why = postgresError(conn, res);
        PQclear(res);
        throw DbError(why);
    }
    PQclear(res);
    int at[Columns];
    int n = 0;
    for (int c = 0; c < Columns; ++c)
        at[c] = reading.columns[c] ? n++ : -1;
    std::vector<int> columnOf(size_t(n), 0);
    for (int c = 0; c < Columns; ++c)
        if (at[c] >= 0)
            columnOf[size_t(at[c])] = c;
    std::string spare[Columns];
    Raw r;
    char* line = nullptr;
    int size;
    while ((size = PQgetCopyData(conn, &line, 0)) > 0) {
        const char* p = line;
        const char* end = line + size;
        if (end > p && end[-1] == '\n')
            --end;
        for (int f = 0; f < n; ++f) {
            const char* stop = static_cast<const char*>(std::memchr(p, '\t', size_t(end - p)));
            if (!stop || f == n - 1)
                stop = end;
            const int c = columnOf[size_t(f)];
            r.cell[c] = copyField(p, stop, spare[c]);
            p = stop < end ? stop + 1 : end;
        }
        tally.add(r);
        PQfreemem(line);
    }
    QString why;
    if (size == -2)
        why = postgresError(conn, nullptr);
    while ((res = PQgetResult(conn))) {
        if (why.isEmpty() && PQresultStatus(res) != PGRES_COMMAND_OK)
            why = postgresError(conn, res);
        PQclear(res);
    }
    if (!why.isEmpty())
        throw DbError(why);
}

// Reads through the query layer, for a connection our own calls cannot take now.
template <typename Tally> void readQuery(const Database& db, const Reading& reading, const Slice& slice, Tally& tally)
{
    QSqlQuery q(db.handle());
    q.setForwardOnly(true);
    if (!q.prepare(reading.select() + reading.where + QStringLiteral("tickDate BETWEEN ? AND ?")))
        throw DbError(Database::errorText(q.lastError()));
    Database::bindAll(q, {QString::fromLatin1(slice.from), QString::fromLatin1(slice.to)});
    if (!q.exec())
        throw DbError(Database::errorText(q.lastError()));
    int at[Columns];
    int n = 0;
    for (int c = 0; c < Columns; ++c)
        at[c] = reading.columns[c] ? n++ : -1;
    QByteArray cells[Columns];
    Raw r;
    while (q.next()) {
        for (int c = 0; c < Columns; ++c) {
            if (at[c] < 0)
                continue;
            cells[c] = q.value(at[c]).toString().toUtf8();
            r.cell[c] = cells[c];
        }
        tally.add(r);
    }
}

// A second connection to the same database for one slice, or none when it cannot be had or
// would not see what the station's connection sees (a transaction of its own in progress).
class SideReader {
public:
    SideReader() = default;
    SideReader(const SideReader&) = delete;
    SideReader& operator=(const SideReader&) = delete;
    ~SideReader()
    {
        if (m_sqlite)
            sqlite3_close_v2(m_sqlite);
        if (m_pg)
            PQfinish(m_pg);
    }

    bool open(sqlite3* raw, PGconn* conn)
    {
        if (raw) {
            const char* file = sqlite3_db_filename(raw, "main");
            if (!sqlite3_get_autocommit(raw) || !file || !*file)
                return false;
            if (sqlite3_open_v2(file, &m_sqlite, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
                return false;
            sqlite3_busy_timeout(m_sqlite, 10000);
            return true;
        }
        if (!conn || PQtransactionStatus(conn) != PQTRANS_IDLE)
            return false;
        // The same server, database, role and options as the station's own connection.
        PQconninfoOption* options = PQconninfo(conn);
        if (!options)
            return false;
        std::vector<const char*> keys, values;
        for (PQconninfoOption* o = options; o->keyword; ++o) {
            if (o->val && *o->val && qstrcmp(o->keyword, "client_encoding") != 0) {
                keys.push_back(o->keyword);
                values.push_back(o->val);
            }
        }
        keys.push_back("client_encoding");
        values.push_back("UTF8");
        keys.push_back(nullptr);
        values.push_back(nullptr);
        m_pg = PQconnectdbParams(keys.data(), values.data(), 0);
        PQconninfoFree(options);
        return PQstatus(m_pg) == CONNECTION_OK;
    }

    template <typename Tally> void read(const Reading& reading, const Slice& slice, Tally& tally) const
    {
        if (m_sqlite)
            readSqlite(m_sqlite, reading, slice, tally);
        else
            readPostgres(m_pg, reading, slice, tally);
    }

private:
    sqlite3* m_sqlite = nullptr;
    PGconn* m_pg = nullptr;
};

// The value at a nearest rank of the minutes counted in waits (tokens per minute).
int rankOf(const std::vector<int>& waits, qint64 count, int percent)
{
    if (count <= 0)
        return 0;
    const qint64 rank = std::min(count, std::max<qint64>(1, (qint64(percent) * count + 99) / 100));
    qint64 seen = 0;
    for (size_t m = 0; m < waits.size(); ++m) {
        seen += waits[m];
        if (seen >= rank)
            return int(m);
    }
    return 0;
}

} // namespace

int QueueFigures::secondOfDay(QStringView t)
{
    return secondOf(t);
}

int QueueFigures::nearestRank(const std::vector<int>& sorted, int percent)
{
    if (sorted.empty())
        return 0;
    const size_t n = sorted.size();
    // ceil(percent * n / 100) in whole numbers, at least the first.
    const size_t rank = std::max<size_t>(1, (size_t(percent) * n + 99) / 100);
    return sorted[std::min(rank, n) - 1];
}

double QueueFigures::tenths(qint64 sum, qint64 count)
{
    if (count <= 0)
        return 0;
    // round(10 * sum / count), half up, for the non-negative figures these are.
    const qint64 t = (20 * sum + count) / (2 * count);
    return double(t) / 10.0;
}

QString QueueFigures::weekdayName(int weekday)
{
    static const char* const names[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    return weekday >= 1 && weekday <= 7 ? QString::fromLatin1(names[weekday - 1]) : QString();
}

int QueueFigures::band(int minutes)
{
    for (int i = 0; i < int(bandTops.size()); ++i)
        if (minutes <= bandTops[size_t(i)])
            return i;
    return int(bandTops.size());
}

QueueFigures::QueueFigures(const Database& db, const FigureRequest& request, int readers)
    : m_db(&db)
    , m_request(request)
    , m_readers(readers)
{
    // Services and counters are few: the filter is applied to them here, so that the tokens are
    // read from their table alone, without a join per row. Tokens whose service or department is
    // gone are left out, as the token reports leave them out.
    auto names = std::make_shared<Names>();
    const bool all = request.name == allNames;
    {
        QSqlQuery q = db.run(QStringLiteral("SELECT s.servAuto, s.ServName, s.slaMinutes, d.deptName FROM tblService s "
                                            "INNER JOIN tblDept d ON s.deptAuto = d.deptAuto"));
        while (q.next()) {
            const QString name = q.value(1).toString();
            if (!all && request.scope == FigureRequest::Scope::Service && name != request.name)
                continue;
            if (!all && request.scope == FigureRequest::Scope::Department && q.value(3).toString() != request.name)
                continue;
            names->serviceAt.insert(q.value(0).toInt(), qint32(names->services.size()));
            names->serviceIds.push_back(q.value(0).toInt());
            Names::Service s{name, std::nullopt};
            if (!q.value(2).isNull() && q.value(2).toInt() > 0)
                s.target = q.value(2).toInt();
            names->services.push_back(s);
        }
    }
    names->allServices = all || request.scope == FigureRequest::Scope::Counter;
    names->byCounter = !all && request.scope == FigureRequest::Scope::Counter;
    {
        QSqlQuery q = db.run(QStringLiteral("SELECT cntAuto, contName FROM tblCounter"));
        while (q.next()) {
            const QString name = q.value(1).toString();
            const bool taken = !names->byCounter || name == request.name;
            names->counterAt.insert(q.value(0).toInt(), qint32(names->counters.size()));
            names->counters.push_back(name);
            names->counterTaken.push_back(taken);
            if (names->byCounter && taken)
                names->counterIds.push_back(q.value(0).toInt());
        }
    }
    m_names = std::move(names);
}

QueueFigures::~QueueFigures() = default;

QueueFigures::Tally QueueFigures::read(FigureKind kind) const
{
    const Names& names = *m_names;
    Tally whole;
    whole.kind = kind;
    whole.names = &names;
    if (m_request.from > m_request.to || (names.byCounter && names.counterIds.empty()) ||
        (!names.allServices && names.serviceIds.empty()))
        return whole;

    Reading reading;
    for (const Column c : {ServiceCol, DayCol})
        reading.columns[c] = true;
    if (names.byCounter)
        reading.columns[CounterCol] = true;
    switch (kind) {
    case FigureKind::Waiting:
    case FigureKind::Levels:
        for (const Column c : {IssuedCol, CalledCol})
            reading.columns[c] = true;
        break;
    case FigureKind::Hourly:
        for (const Column c : {IssuedCol, CalledCol, AttTimeCol})
            reading.columns[c] = true;
        break;
    case FigureKind::Counters:
        // Only tokens in a counter's hand now count for it.
        for (const Column c : {AttTimeCol, FinishedCol, CounterCol})
            reading.columns[c] = true;
        reading.where = QStringLiteral("call = '1' AND ");
        break;
    }
    if (!names.allServices)
        reading.where += QStringLiteral("servAuto IN (%1) AND ").arg(idList(names.serviceIds));
    if (names.byCounter)
        reading.where += QStringLiteral("attended IN (%1) AND ").arg(idList(names.counterIds));

    sqlite3* raw = m_db->engine() == Engine::Sqlite ? m_db->sqliteHandle() : nullptr;
    PGconn* conn = m_db->engine() == Engine::Postgres ? m_db->postgresHandle() : nullptr;
    // Only a connection that is not in the middle of a statement takes one of ours.
    if (conn && (PQtransactionStatus(conn) == PQTRANS_ACTIVE || PQtransactionStatus(conn) == PQTRANS_UNKNOWN))
        conn = nullptr;
    const QByteArray from = m_request.from.toString(dateFormat).toLatin1();
    const QByteArray to = m_request.to.toString(dateFormat).toLatin1();
    if (!raw && !conn) {
        readQuery(*m_db, reading, Slice{from, QByteArray(), to}, whole);
        return whole;
    }

    // Slices of about equal days, each on a connection of its own; the first on the station's.
    const qint64 days = m_request.from.daysTo(m_request.to) + 1;
    int wanted = m_readers;
    if (wanted <= 0)
        wanted = days < sliceDays ? 1 : std::clamp(QThread::idealThreadCount(), 1, mostReaders);
    wanted = int(std::min<qint64>(wanted, days));
    std::vector<std::unique_ptr<SideReader>> sides;
    for (int i = 1; i < wanted; ++i) {
        auto side = std::make_unique<SideReader>();
        if (!side->open(raw, conn))
            break;
        sides.push_back(std::move(side));
    }
    const int count = int(sides.size()) + 1;
    std::vector<Slice> slices;
    for (int i = 0; i < count; ++i) {
        const QDate first = m_request.from.addDays(days * i / count);
        const QDate next = m_request.from.addDays(days * (i + 1) / count);
        slices.push_back(Slice{i == 0 ? from : first.toString(dateFormat).toLatin1(),
                               i == count - 1 ? QByteArray() : next.toString(dateFormat).toLatin1(), to});
    }
    std::vector<Tally> parts(size_t(count - 1));
    std::vector<std::string> errors(size_t(count - 1));
    std::vector<std::thread> threads;
    for (int i = 1; i < count; ++i) {
        Tally& part = parts[size_t(i - 1)];
        part.kind = kind;
        part.names = &names;
        threads.emplace_back([&, i] {
            try {
                sides[size_t(i - 1)]->read(reading, slices[size_t(i)], parts[size_t(i - 1)]);
            } catch (const DbError& e) {
                errors[size_t(i - 1)] = e.text().toStdString();
                if (errors[size_t(i - 1)].empty())
                    errors[size_t(i - 1)] = "error";
            } catch (const std::exception& e) {
                errors[size_t(i - 1)] = e.what();
            }
        });
    }
    QString failure;
    try {
        if (raw)
            readSqlite(raw, reading, slices[0], whole);
        else
            readPostgres(conn, reading, slices[0], whole);
    } catch (const DbError& e) {
        failure = e.text();
    } catch (...) {
        // The slices' threads use what this frame holds: they end before it does.
        for (std::thread& t : threads)
            t.join();
        throw;
    }
    for (std::thread& t : threads)
        t.join();
    for (const std::string& e : errors)
        if (failure.isEmpty() && !e.empty())
            failure = QString::fromStdString(e);
    if (!failure.isEmpty())
        throw DbError(failure);
    for (Tally& part : parts)
        whole.join(std::move(part));
    return whole;
}

std::vector<QueueFigures::Waiting> QueueFigures::waiting() const
{
    const Tally tally = read(FigureKind::Waiting);
    std::vector<Waiting> rows;
    for (size_t s = 0; s < m_names->services.size(); ++s) {
        for (size_t d = 0; d < tally.days.size(); ++d) {
            const Tally::DayGroup& g = tally.groups[d][s];
            if (g.called == 0)
                continue;
            Waiting w;
            w.service = m_names->services[s].name;
            w.date = tally.days[d];
            w.called = g.called;
            qint64 sum = 0;
            qint64 timed = 0;
            for (size_t m = 0; m < g.waits.size(); ++m) {
                const int n = g.waits[m];
                if (n == 0)
                    continue;
                timed += n;
                sum += qint64(m) * n;
                w.bands[size_t(band(int(m)))] += n;
                w.longest = int(m);
            }
            w.timed = int(timed);
            w.average = tenths(sum, timed);
            w.median = rankOf(g.waits, timed, 50);
            w.p90 = rankOf(g.waits, timed, 90);
            rows.push_back(w);
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Waiting& a, const Waiting& b) {
        return a.service != b.service ? a.service < b.service : a.date < b.date;
    });
    return rows;
}

std::vector<QueueFigures::Level> QueueFigures::levels() const
{
    const Tally tally = read(FigureKind::Levels);
    std::vector<Level> rows;
    for (size_t s = 0; s < m_names->services.size(); ++s) {
        const Names::Service& service = m_names->services[s];
        for (size_t d = 0; d < tally.days.size(); ++d) {
            const Tally::DayGroup& c = tally.groups[d][s];
            if (c.issued == 0)
                continue;
            Level l;
            l.service = service.name;
            l.date = tally.days[d];
            l.issued = c.issued;
            l.served = c.served;
            l.cancelled = c.cancelled;
            l.neverCalled = c.neverCalled;
            l.target = service.target;
            if (l.target && c.served > 0)
                l.withinTarget = tenths(qint64(c.within) * 100, c.served);
            rows.push_back(l);
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Level& a, const Level& b) {
        return a.service != b.service ? a.service < b.service : a.date < b.date;
    });
    return rows;
}

std::vector<QueueFigures::Hour> QueueFigures::hourly() const
{
    const Tally tally = read(FigureKind::Hourly);
    std::vector<Hour> rows;
    for (int wd = 1; wd <= 7; ++wd) {
        for (int h = 0; h < 24; ++h) {
            const Tally::HourCount& c = tally.hours[size_t(wd)][size_t(h)];
            if (c.issued == 0 && c.served == 0)
                continue;
            Hour r;
            r.weekday = wd;
            r.hour = h;
            r.issued = int(c.issued);
            r.served = int(c.served);
            if (c.timed > 0)
                r.averageWait = tenths(c.waited, c.timed);
            rows.push_back(r);
        }
    }
    return rows;
}

std::vector<QueueFigures::CounterWork> QueueFigures::counters() const
{
    const Tally tally = read(FigureKind::Counters);
    std::vector<CounterWork> rows;
    for (size_t counter = 0; counter < m_names->counters.size(); ++counter) {
        bool worked = false;
        qint64 served = 0, timed = 0, minutes = 0, span = 0, serving = 0;
        for (const auto& day : tally.counterDays) {
            const Tally::CounterDay& d = day[counter];
            if (!d.worked)
                continue;
            worked = true;
            served += d.served;
            timed += d.timed;
            minutes += d.minutes;
            if (d.firstCall < 0 || d.lastFinish <= d.firstCall)
                continue;
            const qint64 s = d.lastFinish - d.firstCall;
            span += s;
            // Tokens called over one another cannot make a day more than full.
            serving += std::min(d.serving, s);
        }
        if (!worked)
            continue;
        CounterWork r;
        r.counter = m_names->counters[counter];
        r.served = int(served);
        if (timed > 0)
            r.averageService = tenths(minutes, timed);
        if (span > 0)
            r.servingShare = tenths(serving * 100, span);
        rows.push_back(r);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const CounterWork& a, const CounterWork& b) { return a.counter < b.counter; });
    return rows;
}

FigureTable QueueFigures::table(const std::vector<Waiting>& rows)
{
    FigureTable t;
    t.header = QStringList{QStringLiteral("Service"), QStringLiteral("Date"),   QStringLiteral("Called"),
                           QStringLiteral("Average"), QStringLiteral("Median"), QStringLiteral("P90"),
                           QStringLiteral("Longest")};
    int low = 0;
    for (const int top : bandTops) {
        t.header << QStringLiteral("%1-%2").arg(low).arg(top);
        low = top;
    }
    t.header << QStringLiteral("Over %1").arg(low);
    std::vector<qint64> sums(size_t(2 + bandCount), 0);
    for (const Waiting& w : rows) {
        sums[0] += w.called;
        for (int b = 0; b < bandCount; ++b)
            sums[size_t(1 + b)] += w.bands[size_t(b)];
        const bool timed = w.timed > 0;
        QStringList line{w.service,
                         w.date,
                         QString::number(w.called),
                         timed ? number(w.average) : QString(),
                         timed ? QString::number(w.median) : QString(),
                         timed ? QString::number(w.p90) : QString(),
                         timed ? QString::number(w.longest) : QString()};
        for (const int b : w.bands)
            line << QString::number(b);
        t.rows.push_back(line);
    }
    // Every row's bands together: the histogram of the range.
    t.total = QStringList{QStringLiteral("Total"), QString(), QString::number(sums[0]), QString(), QString(),
                          QString(), QString()};
    for (int b = 0; b < bandCount; ++b)
        t.total << QString::number(sums[size_t(1 + b)]);
    return t;
}

FigureTable QueueFigures::table(const std::vector<Level>& rows)
{
    FigureTable t;
    t.header = QStringList{QStringLiteral("Service"),   QStringLiteral("Date"),         QStringLiteral("Issued"),
                           QStringLiteral("Served"),    QStringLiteral("Cancelled"),    QStringLiteral("Never called"),
                           QStringLiteral("Within target %")};
    for (const Level& l : rows)
        t.rows.push_back({l.service, l.date, QString::number(l.issued), QString::number(l.served),
                          QString::number(l.cancelled), QString::number(l.neverCalled), decimal(l.withinTarget)});
    return t;
}

FigureTable QueueFigures::table(const std::vector<Hour>& rows)
{
    FigureTable t;
    t.header = QStringList{QStringLiteral("Weekday"), QStringLiteral("Hour"), QStringLiteral("Issued"),
                           QStringLiteral("Served"), QStringLiteral("Average waiting")};
    for (const Hour& h : rows)
        t.rows.push_back({weekdayName(h.weekday), QStringLiteral("%1:00").arg(h.hour, 2, 10, QLatin1Char('0')),
                          QString::number(h.issued), QString::number(h.served), decimal(h.averageWait)});
    return t;
}

FigureTable QueueFigures::table(const std::vector<CounterWork>& rows)
{
    FigureTable t;
    t.header = QStringList{QStringLiteral("Counter"), QStringLiteral("Served"), QStringLiteral("Average service"),
                           QStringLiteral("Serving share %")};
    for (const CounterWork& c : rows)
        t.rows.push_back({c.counter, QString::number(c.served), decimal(c.averageService), decimal(c.servingShare)});
    return t;
}

FigureTable QueueFigures::table(FigureKind kind) const
{
    switch (kind) {
    case FigureKind::Waiting:
        return table(waiting());
    case FigureKind::Levels:
        return table(levels());
    case FigureKind::Hourly:
        return table(hourly());
    case FigureKind::Counters:
        break;
    }
    return table(counters());
}

FigureTable QueueFigures::emptyTable(FigureKind kind)
{
    FigureTable t;
    switch (kind) {
    case FigureKind::Waiting:
        t = table(std::vector<Waiting>{});
        t.total.clear();
        break;
    case FigureKind::Levels:
        t = table(std::vector<Level>{});
        break;
    case FigureKind::Hourly:
        t = table(std::vector<Hour>{});
        break;
    case FigureKind::Counters:
        t = table(std::vector<CounterWork>{});
        break;
    }
    return t;
}

QString QueueFigures::caption(FigureKind kind)
{
    switch (kind) {
    case FigureKind::Waiting:
        return QStringLiteral("Waiting Times");
    case FigureKind::Levels:
        return QStringLiteral("Service Levels");
    case FigureKind::Hourly:
        return QStringLiteral("Hourly Load");
    case FigureKind::Counters:
        break;
    }
    return QStringLiteral("Counter Productivity");
}

QString FigureTable::text(int row, int col) const
{
    const QStringList* line = row < 0                  ? &header
                              : size_t(row) < rows.size() ? &rows[size_t(row)]
                              : size_t(row) == rows.size() ? &total
                                                          : nullptr;
    return line ? line->value(col) : QString();
}

FigureChart FigureChart::of(FigureKind kind, const FigureTable& table)
{
    FigureChart c;
    const int last = int(table.rows.size()) - 1;
    switch (kind) {
    case FigureKind::Waiting: {
        // The histogram: the total line's bands against their headers.
        c.title = QStringLiteral("Waiting minutes");
        c.valueTitle = QStringLiteral("Tokens");
        const int first = 7;
        const int end = int(table.header.size()) - 1;
        const int totalRow = int(table.rows.size());
        c.series.push_back({QStringLiteral("Tokens"), {totalRow, first, totalRow, end}, {-1, first, -1, end}});
        break;
    }
    case FigureKind::Levels: {
        // One line per service over its days; the rows of a service follow one another.
        c.kind = Kind::Line;
        c.title = QStringLiteral("Within target %");
        c.valueTitle = QStringLiteral("%");
        int start = 0;
        for (int r = 0; r <= last; ++r) {
            if (r == last || table.rows[size_t(r + 1)].value(0) != table.rows[size_t(r)].value(0)) {
                c.series.push_back({table.rows[size_t(r)].value(0), {start, 6, r, 6}, {start, 1, r, 1}});
                start = r + 1;
            }
        }
        break;
    }
    case FigureKind::Hourly:
        c.title = QStringLiteral("Tokens by hour");
        c.valueTitle = QStringLiteral("Tokens");
        if (last >= 0) {
            c.series.push_back({QStringLiteral("Issued"), {0, 2, last, 2}, {0, 0, last, 1}});
            c.series.push_back({QStringLiteral("Served"), {0, 3, last, 3}, {0, 0, last, 1}});
        }
        break;
    case FigureKind::Counters:
        c.title = QStringLiteral("Tokens served");
        c.valueTitle = QStringLiteral("Tokens");
        if (last >= 0)
            c.series.push_back({QStringLiteral("Served"), {0, 1, last, 1}, {0, 0, last, 0}});
        break;
    }
    return c;
}

QStringList FigureChart::texts(const FigureTable& table, const Range& range)
{
    QStringList out;
    const bool alongRow = range.row1 == range.row2 && range.col2 > range.col1 && range.row1 < 0;
    if (alongRow) {
        for (int col = range.col1; col <= range.col2; ++col)
            out << table.text(range.row1, col);
        return out;
    }
    for (int row = range.row1; row <= range.row2; ++row) {
        QStringList parts;
        for (int col = range.col1; col <= range.col2; ++col)
            parts << table.text(row, col);
        out << parts.join(QLatin1Char(' '));
    }
    return out;
}

std::vector<std::optional<double>> FigureChart::values(const FigureTable& table, const Range& range)
{
    std::vector<std::optional<double>> out;
    for (int row = range.row1; row <= range.row2; ++row) {
        for (int col = range.col1; col <= range.col2; ++col) {
            bool ok = false;
            const double v = table.text(row, col).toDouble(&ok);
            out.push_back(ok ? std::optional<double>(v) : std::nullopt);
        }
    }
    return out;
}

} // namespace tallyvo
