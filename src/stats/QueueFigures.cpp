#include "stats/QueueFigures.h"

#include "core/Database.h"
#include "core/DbError.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>

namespace tallyvo {

namespace {

const QString dateFormat = QStringLiteral("yyyy-MM-dd");
const QString allNames = QStringLiteral("All");

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

// One token as the database gives it; a NULL first call is empty.
struct Raw {
    int service = 0;
    QByteArrayView day, issued, firstCall, lastCall, finished, call, status;
    int counter = 0;
};

int wholeOf(QByteArrayView t)
{
    bool ok = false;
    const int v = t.toInt(&ok);
    return ok ? v : 0;
}

// Reads the rows of sql straight from the client library's buffers where the connection lets
// us (a year is millions of rows, and a value object per cell would cost most of the time),
// through the query layer otherwise.
template <typename Add> void readTokens(const Database& db, const QString& sql, const QVariantList& values, Add add)
{
    std::vector<QByteArray> bound;
    for (const QVariant& v : values)
        bound.push_back(v.toString().toUtf8());
    if (sqlite3* raw = db.engine() == Engine::Sqlite ? db.sqliteHandle() : nullptr) {
        sqlite3_stmt* stmt = nullptr;
        auto fail = [&] {
            const QString why = QString::fromUtf8(sqlite3_errmsg(raw));
            sqlite3_finalize(stmt);
            throw DbError(why);
        };
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(raw, text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK)
            fail();
        for (size_t i = 0; i < bound.size(); ++i)
            sqlite3_bind_text(stmt, int(i + 1), bound[i].constData(), int(bound[i].size()), SQLITE_STATIC);
        auto bytes = [&](int c) {
            const char* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
            return QByteArrayView(t, t ? sqlite3_column_bytes(stmt, c) : 0);
        };
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            add(Raw{int(sqlite3_column_int64(stmt, 0)), bytes(1), bytes(2), bytes(3), bytes(4), bytes(5), bytes(6),
                    bytes(7), int(sqlite3_column_int64(stmt, 8))});
        if (rc != SQLITE_DONE)
            fail();
        sqlite3_finalize(stmt);
        return;
    }
    PGconn* conn = db.engine() == Engine::Postgres ? db.postgresHandle() : nullptr;
    // Only an idle connection takes a statement of ours; a busy one stays with the query layer.
    if (conn && PQtransactionStatus(conn) != PQTRANS_ACTIVE && PQtransactionStatus(conn) != PQTRANS_UNKNOWN) {
        QByteArray text;
        int n = 0;
        for (const QChar c : sql)
            text += c == QLatin1Char('?') ? QByteArray("$") + QByteArray::number(++n) : QByteArray(1, char(c.unicode()));
        std::vector<const char*> params;
        for (const QByteArray& b : bound)
            params.push_back(b.constData());
        PGresult* res = PQexecParams(conn, text.constData(), int(params.size()), nullptr, params.data(), nullptr,
                                     nullptr, 0);
        if (PQresultStatus(res) != PGRES_TUPLES_OK) {
            const QString why = QString::fromUtf8(PQresultErrorMessage(res)).trimmed();
            PQclear(res);
            throw DbError(why.isEmpty() ? QString::fromUtf8(PQerrorMessage(conn)).trimmed() : why);
        }
        const int rows = PQntuples(res);
        auto bytes = [&](int i, int c) { return QByteArrayView(PQgetvalue(res, i, c), PQgetlength(res, i, c)); };
        for (int i = 0; i < rows; ++i)
            add(Raw{wholeOf(bytes(i, 0)), bytes(i, 1), bytes(i, 2), bytes(i, 3), bytes(i, 4), bytes(i, 5),
                    bytes(i, 6), bytes(i, 7), wholeOf(bytes(i, 8))});
        PQclear(res);
        return;
    }
    QSqlQuery q(db.handle());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw DbError(Database::errorText(q.lastError()));
    Database::bindAll(q, values);
    if (!q.exec())
        throw DbError(Database::errorText(q.lastError()));
    while (q.next()) {
        QByteArray cells[7];
        for (int c = 1; c <= 7; ++c)
            cells[c - 1] = q.value(c).toString().toUtf8();
        add(Raw{q.value(0).toInt(), cells[0], cells[1], cells[2], cells[3], cells[4], cells[5], cells[6],
                q.value(8).toInt()});
    }
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

QueueFigures::QueueFigures(const Database& db, const FigureRequest& request)
{
    // Services and counters are few: the filter is applied to them here, so that the tokens are
    // read from their table alone, without a join per row. Tokens whose service or department is
    // gone are left out, as the token reports leave them out.
    const bool all = request.name == allNames;
    QHash<int, qint32> serviceAt;
    {
        QSqlQuery q = db.run(QStringLiteral("SELECT s.servAuto, s.ServName, s.slaMinutes, d.deptName FROM tblService s "
                                            "INNER JOIN tblDept d ON s.deptAuto = d.deptAuto"));
        while (q.next()) {
            const QString name = q.value(1).toString();
            if (!all && request.scope == FigureRequest::Scope::Service && name != request.name)
                continue;
            if (!all && request.scope == FigureRequest::Scope::Department && q.value(3).toString() != request.name)
                continue;
            serviceAt.insert(q.value(0).toInt(), qint32(m_services.size()));
            Service s{name, std::nullopt};
            if (!q.value(2).isNull() && q.value(2).toInt() > 0)
                s.target = q.value(2).toInt();
            m_services.push_back(s);
        }
    }
    QHash<int, qint32> counterAt;
    {
        QSqlQuery q = db.run(QStringLiteral("SELECT cntAuto, contName FROM tblCounter"));
        while (q.next()) {
            counterAt.insert(q.value(0).toInt(), qint32(m_counters.size()));
            m_counters.push_back(q.value(1).toString());
        }
    }
    const bool byCounter = !all && request.scope == FigureRequest::Scope::Counter;

    const QString sql = QStringLiteral("SELECT servAuto, tickDate, tickTime, firstCall, attTime, finished, call, status, "
                                       "attended FROM tblTicket WHERE tickDate BETWEEN ? AND ?");
    const QVariantList values{request.from.toString(dateFormat), request.to.toString(dateFormat)};
    QHash<QString, qint32> dayAt;
    QByteArray lastDay;
    qint32 lastDayAt = -1;
    auto add = [&](const Raw& r) {
        Token t;
        t.service = serviceAt.value(r.service, -1);
        if (t.service < 0)
            return;
        if (r.day != QByteArrayView(lastDay)) {
            lastDay = r.day.toByteArray();
            const QString day = QString::fromUtf8(lastDay);
            auto it = dayAt.find(day);
            if (it == dayAt.end()) {
                it = dayAt.insert(day, qint32(m_days.size()));
                m_days.push_back(day);
            }
            lastDayAt = *it;
        }
        t.day = lastDayAt;
        t.issued = secondOfText(r.issued);
        t.lastCall = secondOfText(r.lastCall);
        t.firstCall = r.firstCall.isEmpty() ? t.lastCall : secondOfText(r.firstCall);
        t.finished = secondOfText(r.finished);
        t.calledNow = r.call == QByteArrayView("1");
        t.cancelled = r.status == QByteArrayView("Cancelled");
        t.counter = counterAt.value(r.counter, -1);
        if (byCounter && (t.counter < 0 || m_counters[size_t(t.counter)] != request.name))
            return;
        m_tokens.push_back(t);
    };
    readTokens(db, sql, values, add);
}

std::vector<QueueFigures::Waiting> QueueFigures::waiting() const
{
    // Per service and day: the waits of the called tokens, in one slot per pair.
    const size_t days = m_days.size();
    std::vector<std::pair<int, std::vector<int>>> groups(m_services.size() * days);
    std::vector<bool> used(groups.size(), false);
    for (const Token& t : m_tokens) {
        if (!t.called())
            continue;
        const size_t at = size_t(t.service) * days + size_t(t.day);
        used[at] = true;
        auto& g = groups[at];
        ++g.first;
        if (const int w = t.wait(); w >= 0)
            g.second.push_back(w);
    }
    std::vector<Waiting> rows;
    for (size_t at = 0; at < groups.size(); ++at) {
        if (!used[at])
            continue;
        auto& g = groups[at];
        Waiting w;
        w.service = m_services[at / days].name;
        w.date = m_days[at % days];
        w.called = g.first;
        std::vector<int>& waits = g.second;
        std::sort(waits.begin(), waits.end());
        w.timed = int(waits.size());
        qint64 sum = 0;
        for (const int m : waits) {
            sum += m;
            ++w.bands[size_t(band(m))];
        }
        w.average = tenths(sum, w.timed);
        w.median = nearestRank(waits, 50);
        w.p90 = nearestRank(waits, 90);
        w.longest = waits.empty() ? 0 : waits.back();
        rows.push_back(w);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Waiting& a, const Waiting& b) {
        return a.service != b.service ? a.service < b.service : a.date < b.date;
    });
    return rows;
}

std::vector<QueueFigures::Level> QueueFigures::levels() const
{
    struct Count {
        int issued = 0, served = 0, cancelled = 0, neverCalled = 0, timedServed = 0, within = 0;
    };
    const size_t days = m_days.size();
    std::vector<Count> groups(m_services.size() * days);
    for (const Token& t : m_tokens) {
        Count& c = groups[size_t(t.service) * days + size_t(t.day)];
        ++c.issued;
        if (t.cancelled)
            ++c.cancelled;
        if (!t.called())
            ++c.neverCalled;
        if (t.served()) {
            ++c.served;
            const std::optional<int> target = m_services[size_t(t.service)].target;
            // A served token whose wait cannot be told is not within the target.
            if (target && t.wait() >= 0 && t.wait() <= *target)
                ++c.within;
        }
    }
    std::vector<Level> rows;
    for (size_t at = 0; at < groups.size(); ++at) {
        const Count& c = groups[at];
        if (c.issued == 0)
            continue;
        const Service& service = m_services[at / days];
        Level l;
        l.service = service.name;
        l.date = m_days[at % days];
        l.issued = c.issued;
        l.served = c.served;
        l.cancelled = c.cancelled;
        l.neverCalled = c.neverCalled;
        l.target = service.target;
        if (l.target && c.served > 0)
            l.withinTarget = tenths(qint64(c.within) * 100, c.served);
        rows.push_back(l);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Level& a, const Level& b) {
        return a.service != b.service ? a.service < b.service : a.date < b.date;
    });
    return rows;
}

std::vector<QueueFigures::Hour> QueueFigures::hourly() const
{
    struct Count {
        int issued = 0, served = 0, timed = 0;
        qint64 waited = 0;
    };
    std::vector<int> weekdayOf(m_days.size());
    for (size_t i = 0; i < m_days.size(); ++i)
        weekdayOf[i] = QDate::fromString(m_days[i], dateFormat).dayOfWeek();
    std::array<std::array<Count, 24>, 8> cells{};
    for (const Token& t : m_tokens) {
        const int wd = weekdayOf[size_t(t.day)];
        if (wd < 1)
            continue;
        if (t.issued >= 0) {
            Count& c = cells[size_t(wd)][size_t(t.issued / 3600)];
            ++c.issued;
            if (const int w = t.wait(); w >= 0) {
                c.waited += w;
                ++c.timed;
            }
        }
        // Served in the hour its serving began.
        if (t.served() && t.lastCall >= 0)
            ++cells[size_t(wd)][size_t(t.lastCall / 3600)].served;
    }
    std::vector<Hour> rows;
    for (int wd = 1; wd <= 7; ++wd) {
        for (int h = 0; h < 24; ++h) {
            const Count& c = cells[size_t(wd)][size_t(h)];
            if (c.issued == 0 && c.served == 0)
                continue;
            Hour r;
            r.weekday = wd;
            r.hour = h;
            r.issued = c.issued;
            r.served = c.served;
            if (c.timed > 0)
                r.averageWait = tenths(c.waited, c.timed);
            rows.push_back(r);
        }
    }
    return rows;
}

std::vector<QueueFigures::CounterWork> QueueFigures::counters() const
{
    struct Day {
        int firstCall = -1, lastFinish = -1;
        qint64 serving = 0;
    };
    struct Count {
        int served = 0, timed = 0;
        qint64 minutes = 0;
        std::map<qint32, Day> days;
    };
    std::map<qint32, Count> work;
    for (const Token& t : m_tokens) {
        if (t.counter < 0 || !t.calledNow)
            continue;
        Count& c = work[t.counter];
        Day& d = c.days[t.day];
        // The working span runs from the counter's first call to its last finish, cancelled tokens
        // included: calling one that does not come is work too.
        if (t.lastCall >= 0 && (d.firstCall < 0 || t.lastCall < d.firstCall))
            d.firstCall = t.lastCall;
        if (t.finished >= 0)
            d.lastFinish = std::max(d.lastFinish, t.finished);
        if (!t.served())
            continue;
        ++c.served;
        if (t.lastCall >= 0 && t.finished >= t.lastCall) {
            c.minutes += minutesBetween(t.lastCall, t.finished);
            ++c.timed;
            d.serving += t.finished - t.lastCall;
        }
    }
    std::vector<CounterWork> rows;
    for (const auto& [counter, c] : work) {
        CounterWork r;
        r.counter = m_counters[size_t(counter)];
        r.served = c.served;
        if (c.timed > 0)
            r.averageService = tenths(c.minutes, c.timed);
        qint64 span = 0;
        qint64 serving = 0;
        for (const auto& [day, d] : c.days) {
            if (d.firstCall < 0 || d.lastFinish <= d.firstCall)
                continue;
            const qint64 s = d.lastFinish - d.firstCall;
            span += s;
            // Tokens called over one another cannot make a day more than full.
            serving += std::min(d.serving, s);
        }
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
