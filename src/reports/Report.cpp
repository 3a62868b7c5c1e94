#include "reports/Report.h"

#include "core/Database.h"
#include "core/DirectRows.h"

#include <QCoreApplication>
#include <QLocale>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <memory>
#include <thread>
#include <cmath>
#include <cstring>

namespace tallyvo::Reports {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Reports", text);
}

const QString allNames = QStringLiteral("All");

// A NULL reads as "" whatever its column's type (PostgreSQL gives a typed NULL that would read "0").
QString text(const QSqlQuery& q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
}


// The few departments, services and counters, read once per report into the result's tables;
// the token query reads one table through one index and each row refers to its names by number.
struct Lookups {
    struct Entry {
        qint32 index = -1; // -1: no such key
        bool listed = false; // the filter lets it through (a service: and its department exists)
    };

    // Keys to entries: a table by key for the usual small keys, looked up on every row without
    // hashing, and a hash for the rest.
    class Table {
    public:
        void insert(qint64 key, Entry entry)
        {
            if (key >= 0 && key < kDense) {
                if (size_t(key) >= m_dense.size())
                    m_dense.resize(size_t(key) + 1);
                m_dense[size_t(key)] = entry;
            } else {
                m_sparse.insert(key, entry);
            }
        }
        const Entry* find(qint64 key) const
        {
            if (key >= 0 && key < kDense)
                return size_t(key) < m_dense.size() && m_dense[size_t(key)].index >= 0 ? &m_dense[size_t(key)] : nullptr;
            const auto e = m_sparse.constFind(key);
            return e == m_sparse.constEnd() ? nullptr : &e.value();
        }

    private:
        static constexpr qint64 kDense = 1 << 16;
        std::vector<Entry> m_dense;
        QHash<qint64, Entry> m_sparse;
    };
    Table services;
    Table counters;

    Lookups(const Database& db, const ReportRequest& r, ReportResult& result)
    {
        const bool all = r.filter == QLatin1String("All");
        QHash<qint64, QString> depts;
        QSqlQuery q = db.run(QStringLiteral("SELECT deptAuto, deptName FROM tblDept"));
        while (q.next())
            depts.insert(q.value(0).toLongLong(), text(q, 1));
        q = db.run(QStringLiteral("SELECT servAuto, deptAuto, ServName FROM tblService"));
        while (q.next()) {
            const auto dept = depts.constFind(q.value(1).toLongLong());
            if (dept == depts.constEnd() || q.isNull(1))
                continue; // a token of a service without its department is never listed
            const QString name = text(q, 2);
            bool listed = true;
            if (!all && r.kind == ReportKind::Department)
                listed = dept.value() == r.filter;
            else if (!all && (r.kind == ReportKind::Service || r.kind == ReportKind::Pending))
                listed = name == r.filter;
            services.insert(q.value(0).toLongLong(), {qint32(result.services.size()), listed});
            result.depts.push_back(dept.value());
            result.services.push_back(name);
        }
        q = db.run(QStringLiteral("SELECT cntAuto, username, contName FROM tblCounter"));
        while (q.next()) {
            counters.insert(q.value(0).toLongLong(), {qint32(result.counters.size()), all || text(q, 2) == r.filter});
            result.counters.push_back(text(q, 1));
        }
    }
};

// Turns the database's values of one token into a row of the result.
class RowBuilder {
public:
    RowBuilder(const Lookups& lookups, ReportKind kind, ReportResult& result)
        : m_lookups(lookups)
        , m_kind(kind)
        , m_result(result)
    {
    }

    // Texts are UTF-8 bytes as the client libraries hand them over. False when the token is not
    // listed: its service or department is gone, the filter leaves it out, or (counter report)
    // no existing counter called it.
    bool add(qint64 key, qint64 service, QByteArrayView token, QByteArrayView date, qint64 counter,
             QByteArrayView from, QByteArrayView to)
    {
        const Lookups::Entry* s = m_lookups.services.find(service);
        if (!s)
            return false;
        const Lookups::Entry* c = m_lookups.counters.find(counter);
        if (m_kind == ReportKind::Counter) {
            if (!c || !c->listed)
                return false;
        } else if (!s->listed) {
            return false;
        }
        // Labels are found by where they begin, counted in 32 bits; past that the report could
        // only show wrong labels (some hundred million rows, never seen).
        if (m_result.tokens.size() > std::numeric_limits<qint32>::max() - token.size())
            throw DbError(tr("The report has too many rows to show; choose fewer days."));
        ReportRow& row = m_result.rows.emplace_back();
        row.key = key;
        row.service = s->index;
        row.counter = c ? c->index : -1;
        row.tokenAt = qint32(m_result.tokens.size());
        m_result.tokens.append(token.data(), token.size());
        row.day = day(date);
        row.from = time(from);
        row.to = time(to);
        return true;
    }

private:
    qint32 day(QByteArrayView date)
    {
        // Rows come day after day: a day is looked up only when it changes.
        if (m_lastDay >= 0 && date == QByteArrayView(m_lastDayBytes))
            return m_lastDay;
        m_lastDayBytes = date.toByteArray();
        const QString text = QString::fromUtf8(date);
        auto known = m_days.constFind(text);
        if (known == m_days.constEnd()) {
            known = m_days.insert(text, qint32(m_result.days.size()));
            m_result.days.push_back(text);
        }
        m_lastDay = known.value();
        return m_lastDay;
    }

    qint32 time(QByteArrayView t)
    {
        if (t.isEmpty())
            return -1;
        if (t.size() == 8) {
            const auto* c = reinterpret_cast<const uchar*>(t.data());
            // Unsigned: a byte below '0' wraps round to a large value and fails the test too.
            const unsigned h1 = c[0] - 48u, h2 = c[1] - 48u, m1 = c[3] - 48u, m2 = c[4] - 48u, s1 = c[6] - 48u,
                           s2 = c[7] - 48u;
            if (c[2] == ':' && c[5] == ':' && h1 < 10 && h2 < 10 && m1 < 6 && m2 < 10 && s1 < 6 && s2 < 10) {
                const unsigned hour = h1 * 10 + h2;
                if (hour < 24)
                    return qint32((hour * 60 + m1 * 10 + m2) * 60 + s1 * 10 + s2);
            }
        }
        // An odd text is kept once however many rows have it: an older station's times may all
        // be odd.
        const QByteArray bytes = t.toByteArray();
        auto known = m_odd.constFind(bytes);
        if (known == m_odd.constEnd()) {
            m_result.texts.push_back(QString::fromUtf8(t));
            known = m_odd.insert(bytes, -2 - qint32(m_result.texts.size() - 1));
        }
        return known.value();
    }

    const Lookups& m_lookups;
    ReportKind m_kind;
    ReportResult& m_result;
    QHash<QString, qint32> m_days;
    QHash<QByteArray, qint32> m_odd;
    QByteArray m_lastDayBytes;
    qint32 m_lastDay = -1;
};

QString timeText(const ReportResult& result, qint32 t)
{
    if (t == -1)
        return QString();
    if (t < -1)
        return result.texts[size_t(-2 - t)];
    const char text[] = {char('0' + t / 36000),       char('0' + t / 3600 % 10), ':',
                         char('0' + t % 3600 / 600),  char('0' + t / 60 % 10),   ':',
                         char('0' + t % 60 / 10),     char('0' + t % 10)};
    return QString::fromLatin1(text, 8);
}

// A range of days as the query compares them: as text, from included; to included unless it is
// where another part of the range begins.
struct DayRange {
    QString from;
    QString to;
    bool toIncluded = true;
};

DayRange wholeRange(const ReportRequest& r)
{
    return {r.from.toString(QStringLiteral("yyyy-MM-dd")), r.to.toString(QStringLiteral("yyyy-MM-dd")), true};
}

// The token query; "?" marks its values, or the given literals where no values can be bound.
QString ticketSql(const ReportRequest& r, const DayRange& days, const QString& from = QStringLiteral("?"),
                  const QString& to = QStringLiteral("?"))
{
    QString sql = QStringLiteral("SELECT tickAuto, servAuto, no_abr, tickDate, attended, attTime, finished "
                                 "FROM tblTicket WHERE tickDate >= %1 AND tickDate %2 %3")
                      .arg(from, days.toIncluded ? QStringLiteral("<=") : QStringLiteral("<"), to);
    if (r.kind == ReportKind::Pending)
        sql += QStringLiteral(" AND call='0'");
    else if (!r.showAll)
        sql += QStringLiteral(" AND call='1'");
    return sql;
}

PGconn* idlePostgres(const Database& db)
{
    PGconn* conn = db.postgresHandle();
    // Only an idle connection takes a statement of ours; one busy with a query of the program
    // stays with the query layer.
    return conn && PQtransactionStatus(conn) != PQTRANS_ACTIVE && PQtransactionStatus(conn) != PQTRANS_UNKNOWN
        ? conn
        : nullptr;
}

// What the user is told of a failure while reading a report: the database's own words, or that
// memory ran out.
QString failureText(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const DbError& e) {
        return e.text();
    } catch (const std::bad_alloc&) {
        return tr("There is not enough memory for the report; choose fewer days.");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return tr("The report could not be read.");
    }
}

// The rows of a COPY in its text form, as the server sends them: fields split by tabs, a row
// ended by a newline, NULL written \N, and a backslash before a tab, newline, other control
// character or backslash within a value. Rows may come split over or packed into the pieces the
// client library hands over. (The server writes the text form faster than the binary one.)
class CopyRows {
public:
    static constexpr int kFields = 7;
    struct Field {
        QByteArrayView bytes;
        bool null = false;
    };

    // Takes the next piece; calls row(fields) for each whole row in it. False when a row has
    // another number of fields.
    template <class Row>
    bool feed(const char* data, qsizetype size, Row&& row)
    {
        if (m_pending.isEmpty()) {
            const qsizetype used = parse(data, size, row);
            if (used < 0)
                return false;
            m_pending.append(data + used, size - used);
            return true;
        }
        m_pending.append(data, size);
        const qsizetype used = parse(m_pending.constData(), m_pending.size(), row);
        if (used < 0)
            return false;
        m_pending.remove(0, used);
        return true;
    }
    // True when nothing was left over after the last whole row.
    bool complete() const { return m_pending.isEmpty(); }

    // A field's value: a whole number (0 for NULL or anything else) or its text without escapes.
    static qint64 number(const Field& f)
    {
        quint64 v = 0; // unsigned: 19 digits cannot overflow it
        qsizetype i = 0;
        const bool negative = !f.bytes.isEmpty() && f.bytes[0] == '-';
        if (negative)
            ++i;
        if (f.null || i == f.bytes.size() || f.bytes.size() - i > 19)
            return 0;
        for (; i < f.bytes.size(); ++i) {
            const unsigned digit = uchar(f.bytes[i]) - 48u;
            if (digit > 9)
                return 0;
            v = v * 10 + digit;
        }
        return negative ? -qint64(v) : qint64(v);
    }
    QByteArrayView text(const Field& f)
    {
        if (f.null)
            return {};
        if (!f.bytes.contains('\\'))
            return f.bytes;
        m_unescaped.clear();
        for (qsizetype i = 0; i < f.bytes.size(); ++i) {
            char c = f.bytes[i];
            if (c == '\\' && i + 1 < f.bytes.size()) {
                c = f.bytes[++i];
                switch (c) {
                case 'b': c = '\b'; break;
                case 'f': c = '\f'; break;
                case 'n': c = '\n'; break;
                case 'r': c = '\r'; break;
                case 't': c = '\t'; break;
                case 'v': c = '\v'; break;
                default: break; // a backslash or the delimiter stands for itself
                }
            }
            m_unescaped.append(c);
        }
        // Held until the next field is read; every field is turned into what it keeps at once.
        m_texts.push_back(m_unescaped);
        return m_texts.back();
    }
    // Forgets the unescaped texts of the row just read.
    void rowDone() { m_texts.clear(); }

private:
    template <class Row>
    qsizetype parse(const char* data, qsizetype size, Row& row)
    {
        qsizetype at = 0;
        Field fields[kFields];
        while (at < size) {
            const char* end = static_cast<const char*>(memchr(data + at, '\n', size_t(size - at)));
            if (!end)
                break;
            const qsizetype stop = end - data;
            int f = 0;
            qsizetype from = at;
            for (;;) {
                const char* tab = static_cast<const char*>(memchr(data + from, '\t', size_t(stop - from)));
                const qsizetype to = tab ? tab - data : stop;
                if (f == kFields)
                    return -1;
                const QByteArrayView bytes(data + from, to - from);
                fields[f++] = {bytes, bytes == QByteArrayView("\\N")};
                if (!tab)
                    break;
                from = to + 1;
            }
            if (f != kFields)
                return -1;
            row(fields);
            rowDone();
            at = stop + 1;
        }
        return at;
    }

    QByteArray m_pending;
    QByteArray m_unescaped;
    std::vector<QByteArray> m_texts;
};

// The tokens streamed from the server by a COPY and turned into rows as they arrive: the client
// library holds a row at a time, not the whole answer next to the rows made from it (on a busy
// site's year that was over a gigabyte).
void readPostgres(PGconn* conn, const ReportRequest& r, const DayRange& days, RowBuilder& build)
{
    auto literal = [conn](const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        char* quoted = PQescapeLiteral(conn, utf8.constData(), size_t(utf8.size()));
        if (!quoted)
            throw DbError(QString::fromUtf8(PQerrorMessage(conn)).trimmed());
        const QString result = QString::fromUtf8(quoted);
        PQfreemem(quoted);
        return result;
    };
    // COPY takes no bound values: the days go in as quoted literals.
    const QByteArray sql = QByteArrayLiteral("COPY (") +
        ticketSql(r, days, literal(days.from), literal(days.to)).toUtf8() + QByteArrayLiteral(") TO STDOUT");
    auto failure = [conn](PGresult* res) {
        const QString why = res ? QString::fromUtf8(PQresultErrorMessage(res)).trimmed() : QString();
        return why.isEmpty() ? QString::fromUtf8(PQerrorMessage(conn)).trimmed() : why;
    };
    PGresult* res = PQexec(conn, sql.constData());
    if (PQresultStatus(res) != PGRES_COPY_OUT) {
        const QString why = failure(res);
        PQclear(res);
        throw DbError(why);
    }
    PQclear(res);

    const QString unreadable = tr("The database sent the report's rows in a form this program does not read.");
    CopyRows rows;
    QString why;
    // The copy is read to its end whatever happens on the way, so the connection is left ready
    // for the station's next statement.
    char* piece = nullptr;
    int size = 0;
    while ((size = PQgetCopyData(conn, &piece, 0)) > 0) {
        if (why.isEmpty()) {
            try {
                if (!rows.feed(piece, size, [&](const CopyRows::Field* f) {
                        build.add(CopyRows::number(f[0]), CopyRows::number(f[1]), rows.text(f[2]), rows.text(f[3]),
                                  CopyRows::number(f[4]), rows.text(f[5]), rows.text(f[6]));
                    }))
                    why = unreadable;
            } catch (...) {
                why = failureText(std::current_exception());
            }
        }
        PQfreemem(piece);
    }
    if (size == -2 && why.isEmpty())
        why = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    while ((res = PQgetResult(conn))) {
        if (PQresultStatus(res) != PGRES_COMMAND_OK && why.isEmpty())
            why = failure(res);
        PQclear(res);
    }
    if (why.isEmpty() && !rows.complete())
        why = unreadable;
    if (!why.isEmpty())
        throw DbError(why);
}

void readSqlite(sqlite3* raw, const ReportRequest& r, const DayRange& days, RowBuilder& build)
{
    DirectRows rows(raw, ticketSql(r, days), {days.from, days.to});
    while (rows.next())
        build.add(rows.integer(0), rows.integer(1), rows.bytes(2), rows.bytes(3), rows.integer(4), rows.bytes(5),
                  rows.bytes(6));
}

// A second connection to the station's database, on which the later half of a long range is
// read while the station's own connection reads the first: a month of a busy site is read in
// about half the time on a machine with two cores or more.
class SideConnection {
public:
    SideConnection(const SideConnection&) = delete;
    SideConnection& operator=(const SideConnection&) = delete;
    ~SideConnection()
    {
        if (m_sqlite)
            sqlite3_close_v2(m_sqlite);
        if (m_cancel)
            PQfreeCancel(m_cancel);
        if (m_pg)
            PQfinish(m_pg);
    }

    // nullptr when reading in two parts would not pay or could not be done: the station's
    // connection is in a transaction (the side one would not see its changes), the machine has
    // one core, or the second connection does not open.
    static std::unique_ptr<SideConnection> open(sqlite3* raw, PGconn* conn)
    {
        if (QThread::idealThreadCount() < 2)
            return nullptr;
        auto side = std::unique_ptr<SideConnection>(new SideConnection);
        if (raw) {
            const char* file = sqlite3_db_filename(raw, "main");
            if (!sqlite3_get_autocommit(raw) || !file || !*file)
                return nullptr;
            if (sqlite3_open_v2(file, &side->m_sqlite, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
                SQLITE_OK)
                return nullptr;
            sqlite3_busy_timeout(side->m_sqlite, 10000);
            return side;
        }
        if (!conn || PQtransactionStatus(conn) != PQTRANS_IDLE)
            return nullptr;
        // The same server, database, role and options as the station's own connection.
        PQconninfoOption* options = PQconninfo(conn);
        if (!options)
            return nullptr;
        std::vector<const char*> keys, values;
        for (PQconninfoOption* o = options; o->keyword; ++o) {
            if (o->val && *o->val) {
                keys.push_back(o->keyword);
                values.push_back(o->val);
            }
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        side->m_pg = PQconnectdbParams(keys.data(), values.data(), 0);
        PQconninfoFree(options);
        // The station's connection asked for UTF-8 after it was made, which its options do not
        // carry: without this a server in another encoding would send the later part's labels
        // in that one.
        if (PQstatus(side->m_pg) != CONNECTION_OK || PQsetClientEncoding(side->m_pg, "UTF8") != 0)
            return nullptr;
        side->m_cancel = PQgetCancel(side->m_pg);
        return side;
    }

    // Asks the statement under way to stop; may be called from another thread than the reader's.
    void cancel()
    {
        if (m_sqlite) {
            sqlite3_interrupt(m_sqlite);
        } else if (m_cancel) {
            char why[256];
            PQcancel(m_cancel, why, int(sizeof why));
        }
    }

    void read(const ReportRequest& r, const DayRange& days, RowBuilder& build)
    {
        if (m_sqlite)
            readSqlite(m_sqlite, r, days, build);
        else
            readPostgres(m_pg, r, days, build);
    }

private:
    SideConnection() = default;
    sqlite3* m_sqlite = nullptr;
    PGconn* m_pg = nullptr;
    PGcancel* m_cancel = nullptr;
};

// Ranges shorter than this are read in one part: a second connection would cost more than it
// saves.
constexpr qint64 kSplitDays = 4;

// Appends the rows read for a later part of the range, with what they refer to.
void append(ReportResult& result, ReportResult&& later)
{
    if (result.tokens.size() > std::numeric_limits<qint32>::max() - later.tokens.size())
        throw DbError(tr("The report has too many rows to show; choose fewer days."));
    const auto days = qint32(result.days.size()), texts = qint32(result.texts.size()),
               tokens = qint32(result.tokens.size());
    auto shifted = [texts](qint32 t) { return t < -1 ? t - texts : t; };
    // Row by row into the first part's blocks, each of the later part's freed once copied: the
    // two parts never stand side by side with a joined copy of them.
    result.rows.take(std::move(later.rows), [&](ReportRow row) {
        row.day += days;
        row.tokenAt += tokens;
        row.from = shifted(row.from);
        row.to = shifted(row.to);
        return row;
    });
    result.days.insert(result.days.end(), later.days.begin(), later.days.end());
    result.texts.insert(result.texts.end(), later.texts.begin(), later.texts.end());
    result.tokens += later.tokens;
    later.tokens = QByteArray();
}

void setAverage(ReportResult& result, const ReportRequest& request)
{
    if (!request.showAll && !result.rows.empty())
        result.average = averageText(result.totalMinutes(), result.rows.size());
}

} // namespace

QString caption(ReportKind kind)
{
    switch (kind) {
    case ReportKind::Department:
        return tr("Report-Department Based");
    case ReportKind::Service:
        return tr("Report Service Based");
    case ReportKind::Counter:
        return tr("Report-Counter Based");
    case ReportKind::Pending:
        return tr("Pending Reports");
    }
    return QString();
}

QString filterLabel(ReportKind kind)
{
    switch (kind) {
    case ReportKind::Department:
        return tr("Select Department");
    case ReportKind::Counter:
        return tr("Select Counter");
    case ReportKind::Service:
    case ReportKind::Pending:
        return tr("Select Service");
    }
    return QString();
}

QString filterListSql(ReportKind kind)
{
    switch (kind) {
    case ReportKind::Department:
        return QStringLiteral("SELECT deptName FROM tblDept WHERE active='1'");
    case ReportKind::Counter:
        return QStringLiteral("SELECT contName FROM tblCounter WHERE active='1'");
    case ReportKind::Service:
    case ReportKind::Pending:
        return QStringLiteral("SELECT ServName FROM tblService WHERE active='1'");
    }
    return QString();
}

QStringList filterNames(const Database& db, ReportKind kind)
{
    QStringList names;
    QSqlQuery q = db.run(filterListSql(kind));
    while (q.next())
        names << q.value(0).toString();
    names << allNames;
    // The list keeps its entries in alphabetical order, as a sorted drop-down does, whatever the
    // database returned.
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names;
}

ReportResult run(const Database& db, const ReportRequest& request)
{
    ReportResult result;
    try {
        const Lookups lookups(db, request, result);
        RowBuilder build(lookups, request.kind, result);
        sqlite3* raw = db.sqliteHandle();
        PGconn* conn = raw ? nullptr : idlePostgres(db);
        const qint64 days = request.from.daysTo(request.to) + 1;
        std::unique_ptr<SideConnection> side =
            (raw || conn) && days >= kSplitDays ? SideConnection::open(raw, conn) : nullptr;
        if (side) {
            const QString middle = request.from.addDays(days / 2).toString(QStringLiteral("yyyy-MM-dd"));
            const DayRange whole = wholeRange(request);
            ReportResult later;
            QString laterError;
            std::thread reader([&] {
                try {
                    RowBuilder laterBuild(lookups, request.kind, later);
                    side->read(request, {middle, whole.to, true}, laterBuild);
                } catch (...) {
                    laterError = failureText(std::current_exception());
                }
            });
            try {
                if (raw)
                    readSqlite(raw, request, {whole.from, middle, false}, build);
                else
                    readPostgres(conn, request, {whole.from, middle, false}, build);
            } catch (...) {
                reader.join();
                throw;
            }
            reader.join();
            if (!laterError.isEmpty())
                throw DbError(laterError);
            append(result, std::move(later));
        } else if (raw) {
            readSqlite(raw, request, wholeRange(request), build);
        } else if (conn) {
            readPostgres(conn, request, wholeRange(request), build);
        } else {
            // Read as one result: a forward-only PostgreSQL query fetches row by row, a round of
            // the client library for every token, several times slower on a month of a busy site.
            QSqlQuery q(db.handle());
            q.setForwardOnly(false);
            const DayRange whole = wholeRange(request);
            if (!q.prepare(ticketSql(request, whole)))
                throw DbError(Database::errorText(q.lastError()));
            Database::bindAll(q, {whole.from, whole.to});
            if (!q.exec())
                throw DbError(Database::errorText(q.lastError()));
            while (q.next()) {
                const QByteArray token = text(q, 2).toUtf8(), date = text(q, 3).toUtf8(),
                                 from = text(q, 5).toUtf8(), to = text(q, 6).toUtf8();
                build.add(q.value(0).toLongLong(), q.value(1).toLongLong(), token, date, q.value(4).toLongLong(),
                          from, to);
            }
        }
    } catch (const DbError& e) {
        result = ReportResult();
        result.error = e.text();
        return result;
    } catch (const std::bad_alloc&) {
        // Told like a refusal rather than ending the program with the rows read so far.
        result = ReportResult();
        result.error = failureText(std::current_exception());
        return result;
    }
    setAverage(result, request);
    return result;
}

const std::vector<Column>& columns()
{
    static const std::vector<Column> all{
        {1, QString()},        {1200, tr("SN")},      {1900, tr("Dept.")}, {1900, tr("Service")},
        {1200, tr("Token")},   {1200, tr("Date")},    {1900, tr("Counter")}, {1200, tr("From")},
        {1200, tr("To")},      {1200, tr("Duration")}, {5000, QString()},
    };
    return all;
}

std::optional<int> minutesBetween(QStringView from, QStringView to)
{
    // Minute boundaries crossed: hours and minutes only, the seconds never count.
    auto minuteOfDay = [](QStringView t) -> std::optional<int> {
        if (t.size() < 5 || t[2] != QLatin1Char(':'))
            return std::nullopt;
        bool hOk = false, mOk = false;
        const int h = t.mid(0, 2).toInt(&hOk);
        const int m = t.mid(3, 2).toInt(&mOk);
        if (!hOk || !mOk)
            return std::nullopt;
        return h * 60 + m;
    };
    const std::optional<int> a = minuteOfDay(from), b = minuteOfDay(to);
    if (!a || !b)
        return std::nullopt;
    return *b - *a;
}

double leadingNumber(const QString& text)
{
    // Plain whole numbers, as the grid's durations are, need no number parser.
    if (!text.isEmpty() && text.size() <= 9) {
        int v = 0;
        bool digits = true;
        for (const QChar c : text) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                digits = false;
                break;
            }
            v = v * 10 + (c.unicode() - '0');
        }
        if (digits)
            return v;
    }
    // Blanks first, then an optional sign, digits with at most one decimal point, and an exponent
    // only when digits follow it; whatever comes after the number is ignored.
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    bool digits = false;
    bool point = false;
    while (i < n) {
        if (text[i].isDigit() && text[i].unicode() < 128) {
            digits = true;
        } else if (text[i] == QLatin1Char('.') && !point) {
            point = true;
        } else {
            break;
        }
        ++i;
    }
    if (!digits)
        return 0;
    qsizetype end = i;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            ++j;
        if (j < n && text[j].isDigit()) {
            while (j < n && text[j].isDigit())
                ++j;
            end = j;
        }
    }
    bool ok = false;
    const double v = QLocale::c().toDouble(QStringView(text).mid(start, end - start), &ok);
    return ok && std::isfinite(v) ? v : 0;
}

QString generalNumber(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

QString averageText(qint64 minutes, size_t rows)
{
    return tr("Average Time : ") + generalNumber(double(minutes) / double(rows));
}

std::optional<QString> averageLine(const QStringList& durations)
{
    if (durations.isEmpty())
        return std::nullopt;
    double sum = 0;
    for (const QString& d : durations)
        sum = std::nearbyint(sum + leadingNumber(d)); // a whole number after every step
    return tr("Average Time : ") + generalNumber(sum / double(durations.size()));
}

} // namespace tallyvo::Reports

namespace tallyvo {

struct ReportFill::Impl {
    ReportRequest request;
    std::function<void()> partReady;
    ReportResult names; // the departments, services and counters the rows refer to
    std::unique_ptr<Reports::Lookups> lookups;
    std::vector<Reports::DayRange> pieces;
    std::unique_ptr<Reports::SideConnection> sides[2];
    std::thread readers[2];

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<ReportResult>> ready; // by piece, until taken
    std::vector<qint64> minutes;                     // by piece: its rows' whole minutes added up
    qint64 minutesTaken = 0;
    QString error;
    bool stop = false;
    size_t next = 0; // the next piece to take
    bool namesGiven = false;

    // Reads pieces [first, end) in order on one connection.
    void read(Reports::SideConnection& side, size_t first, size_t end)
    {
        for (size_t i = first; i < end; ++i) {
            {
                const std::lock_guard lock(mutex);
                if (stop || !error.isEmpty())
                    return;
            }
            ReportResult part;
            QString why;
            qint64 sum = 0;
            try {
                Reports::RowBuilder build(*lookups, request.kind, part);
                side.read(request, pieces[i], build);
                // Added up here rather than on the window's thread once the last part is in.
                sum = part.totalMinutes();
            } catch (...) {
                why = Reports::failureText(std::current_exception());
            }
            {
                const std::lock_guard lock(mutex);
                if (stop)
                    return; // a cancelled statement's refusal is nobody's news
                if (why.isEmpty()) {
                    ready[i] = std::move(part);
                    minutes[i] = sum;
                } else if (error.isEmpty()) {
                    error = why;
                }
            }
            changed.notify_all();
            partReady();
            if (!why.isEmpty())
                return;
        }
    }
};

ReportFill::ReportFill(std::unique_ptr<Impl> impl)
    : m(std::move(impl))
{
}

ReportFill::~ReportFill()
{
    {
        const std::lock_guard lock(m->mutex);
        m->stop = true;
    }
    for (int i = 0; i < 2; ++i) {
        if (m->readers[i].joinable()) {
            m->sides[i]->cancel();
            m->readers[i].join();
        }
    }
}

std::unique_ptr<ReportFill> ReportFill::start(const Database& db, const ReportRequest& request,
                                              std::function<void()> partReady)
{
    const qint64 days = request.from.daysTo(request.to) + 1;
    if (days < Reports::kSplitDays)
        return nullptr;
    sqlite3* raw = db.sqliteHandle();
    PGconn* conn = raw ? nullptr : Reports::idlePostgres(db);
    if (!raw && !conn)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->request = request;
    impl->partReady = std::move(partReady);
    try {
        impl->lookups = std::make_unique<Reports::Lookups>(db, request, impl->names);
    } catch (const DbError&) {
        return nullptr; // run tells the refusal as it always has
    }
    for (auto& side : impl->sides) {
        side = Reports::SideConnection::open(raw, conn);
        if (!side)
            return nullptr;
    }
    // The halves run tells apart, each in pieces of a week, one statement each; the first piece
    // is the first day alone, so the window has rows to show at once. A week of a busy site is
    // about a hundred thousand rows, joined to the window's rows in a few milliseconds.
    const qint64 half = days / 2;
    constexpr qint64 step = 7;
    auto day = [&](qint64 n) { return request.from.addDays(n).toString(QStringLiteral("yyyy-MM-dd")); };
    size_t firstOfLater = 0;
    for (qint64 at = 0; at < days;) {
        if (at == half)
            firstOfLater = impl->pieces.size();
        const qint64 end = std::min(at < half ? half : days, at + (at == 0 ? 1 : step));
        impl->pieces.push_back({day(at), end == days ? day(days - 1) : day(end), end == days});
        at = end;
    }
    impl->ready.resize(impl->pieces.size());
    impl->minutes.resize(impl->pieces.size());
    Impl* state = impl.get();
    auto fill = std::unique_ptr<ReportFill>(new ReportFill(std::move(impl)));
    state->readers[0] = std::thread([state, firstOfLater] { state->read(*state->sides[0], 0, firstOfLater); });
    state->readers[1] = std::thread(
        [state, firstOfLater] { state->read(*state->sides[1], firstOfLater, state->pieces.size()); });
    return fill;
}

bool ReportFill::takeParts(ReportResult& result, bool wait, int most)
{
    std::unique_lock lock(m->mutex);
    try {
        if (!m->namesGiven) {
            m->namesGiven = true;
            result.depts = m->names.depts;
            result.services = m->names.services;
            result.counters = m->names.counters;
        }
        for (;;) {
            if (!m->error.isEmpty())
                break;
            for (int n = 0; m->next < m->ready.size() && m->ready[m->next] && (wait || n < most); ++n) {
                ReportResult part = std::move(*m->ready[m->next]);
                m->ready[m->next].reset();
                m->minutesTaken += m->minutes[m->next];
                ++m->next;
                lock.unlock();
                Reports::append(result, std::move(part));
                lock.lock();
            }
            if (m->next == m->ready.size()) {
                if (!m->request.showAll && !result.rows.empty())
                    result.average = Reports::averageText(m->minutesTaken, result.rows.size());
                return true;
            }
            if (!wait)
                return false;
            m->changed.wait(lock);
        }
    } catch (...) {
        if (!lock.owns_lock())
            lock.lock();
        if (m->error.isEmpty())
            m->error = Reports::failureText(std::current_exception());
    }
    result = ReportResult();
    result.error = m->error;
    return true;
}

bool ReportFill::partWaiting() const
{
    const std::lock_guard lock(m->mutex);
    return m->error.isEmpty() && m->next < m->ready.size() && m->ready[m->next];
}

int ReportFill::parts() const
{
    return int(m->pieces.size());
}

int ReportFill::taken() const
{
    const std::lock_guard lock(m->mutex);
    return int(m->next);
}

ReportRow* ReportRows::allocateBlock()
{
    void* block = mmap(nullptr, kBlockRows * sizeof(ReportRow), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    return static_cast<ReportRow*>(block);
}

void ReportRows::freeBlock(ReportRow* block)
{
    munmap(block, kBlockRows * sizeof(ReportRow));
}

void ReportRows::truncate(size_t n)
{
    if (n >= m_size)
        return;
    m_size = n;
    m_blocks.resize((n + kBlockRows - 1) / kBlockRows);
}

std::optional<size_t> ReportRows::indexOf(const ReportRow* row) const
{
    for (size_t b = 0; b < m_blocks.size(); ++b) {
        const ReportRow* first = m_blocks[b].get();
        // Compared as addresses: the row may lie in no block at all.
        const auto at = reinterpret_cast<quintptr>(row), begin = reinterpret_cast<quintptr>(first);
        if (at >= begin && at < begin + kBlockRows * sizeof(ReportRow)) {
            const size_t i = b * kBlockRows + (at - begin) / sizeof(ReportRow);
            return i < m_size ? std::optional<size_t>(i) : std::nullopt;
        }
    }
    return std::nullopt;
}

qint32 ReportResult::minutes(const ReportRow& row) const
{
    if (row.from >= 0 && row.to >= 0)
        return row.to / 60 - row.from / 60;
    if (row.from == -1 || row.to == -1)
        return ReportRow::kNoMinutes;
    const std::optional<int> m = Reports::minutesBetween(Reports::timeText(*this, row.from),
                                                         Reports::timeText(*this, row.to));
    return m ? *m : ReportRow::kNoMinutes;
}

qint64 ReportResult::totalMinutes() const
{
    qint64 sum = 0;
    for (const ReportRow& row : rows) {
        const qint32 m = minutes(row);
        sum += m == ReportRow::kNoMinutes ? 0 : m;
    }
    return sum;
}

QString ReportResult::text(const ReportRow& row, ReportColumn column) const
{
    const std::optional<size_t> i = rows.indexOf(&row);
    return i ? text(*i, column) : QString();
}

QString ReportResult::text(size_t i, ReportColumn column) const
{
    const ReportRow& row = rows[i];
    switch (column) {
    case ReportColumn::Key:
        return QString::number(row.key);
    case ReportColumn::Sn:
        return QString::number(i + 1);
    case ReportColumn::Dept:
        return depts[size_t(row.service)];
    case ReportColumn::Service:
        return services[size_t(row.service)];
    case ReportColumn::Token:
    {
        const qsizetype end = i + 1 < rows.size() ? rows[i + 1].tokenAt : tokens.size();
        return QString::fromUtf8(tokens.constData() + row.tokenAt, end - row.tokenAt);
    }
    case ReportColumn::Date:
        return days[size_t(row.day)];
    case ReportColumn::Counter:
        return row.counter < 0 ? QString() : counters[size_t(row.counter)];
    case ReportColumn::From:
        return Reports::timeText(*this, row.from);
    case ReportColumn::To:
        return Reports::timeText(*this, row.to);
    case ReportColumn::Duration:
    {
        const qint32 m = minutes(row);
        return m == ReportRow::kNoMinutes ? QString() : QString::number(m);
    }
    }
    return QString();
}

} // namespace tallyvo
