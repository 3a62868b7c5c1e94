#include "reports/Report.h"

#include "core/Database.h"

#include <QCoreApplication>
#include <QLocale>
#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <array>
#include <cstdlib>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <algorithm>
#include <cmath>

namespace tallyvo::Reports {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Reports", text);
}

const QString allNames = QStringLiteral("All");

sqlite3* sqliteHandle(const Database& db)
{
    const QVariant handle = db.engine() == Engine::Sqlite ? db.handle().driver()->handle() : QVariant();
    return handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
        ? *static_cast<sqlite3* const*>(handle.constData())
        : nullptr;
}

// A NULL reads as "" whatever its column's type (PostgreSQL gives a typed NULL that would read "0").
QString text(const QSqlQuery& q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
}


// The few departments, services and counters, read once per report. Each listed token takes its
// names from here, so rows share them instead of each holding copies, and the token query reads
// one table through one index.
struct Lookups {
    struct Service {
        QString dept;
        QString name;
        bool listed = false; // its department exists and the filter lets it through
    };
    QHash<qint64, Service> services;
    QHash<qint64, QString> counters; // user names
    QHash<qint64, bool> counterListed;

    Lookups(const Database& db, const ReportRequest& r)
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
            Service s{dept.value(), text(q, 2), true};
            if (!all && r.kind == ReportKind::Department)
                s.listed = s.dept == r.filter;
            else if (!all && (r.kind == ReportKind::Service || r.kind == ReportKind::Pending))
                s.listed = s.name == r.filter;
            services.insert(q.value(0).toLongLong(), s);
        }
        q = db.run(QStringLiteral("SELECT cntAuto, username, contName FROM tblCounter"));
        while (q.next()) {
            counters.insert(q.value(0).toLongLong(), text(q, 1));
            counterListed.insert(q.value(0).toLongLong(), all || text(q, 2) == r.filter);
        }
    }
};

// Days and durations repeat on every row: equal texts share one string.
class RowBuilder {
public:
    RowBuilder(const Lookups& lookups, ReportKind kind)
        : m_lookups(lookups)
        , m_kind(kind)
    {
    }

    // False when the token is not listed: its service or department is gone, the filter leaves
    // it out, or (counter report) no existing counter called it.
    bool add(std::vector<ReportRow>& rows, qint64 key, qint64 service, QString token, const QString& date,
             qint64 counter, QString from, QString to)
    {
        const auto s = m_lookups.services.constFind(service);
        if (s == m_lookups.services.constEnd())
            return false;
        const auto c = m_lookups.counters.constFind(counter);
        if (m_kind == ReportKind::Counter) {
            if (c == m_lookups.counters.constEnd() || !m_lookups.counterListed.value(counter))
                return false;
        } else if (!s->listed) {
            return false;
        }
        ReportRow row;
        row.key = key;
        row.dept = s->dept;
        row.service = s->name;
        row.token = std::move(token);
        row.date = day(date);
        if (c != m_lookups.counters.constEnd())
            row.counter = c.value();
        row.from = std::move(from);
        row.to = std::move(to);
        row.duration = minutes(row.from, row.to);
        rows.push_back(std::move(row));
        return true;
    }

private:
    QString day(const QString& date)
    {
        if (m_lastDay != date)
            m_lastDay = date;
        return m_lastDay;
    }
    QString minutes(const QString& from, const QString& to)
    {
        const std::optional<int> m = minutesBetween(from, to);
        if (!m)
            return QString();
        if (*m >= 0 && *m < 1440) {
            QString& cached = m_minutes[size_t(*m)];
            if (cached.isNull())
                cached = QString::number(*m);
            return cached;
        }
        return QString::number(*m);
    }

public:
    // A time of day "HH:mm:ss" as a shared string: a day has only 86400 of them.
    QString time(const char* text, int bytes)
    {
        if (bytes == 8 && text[2] == ':' && text[5] == ':') {
            int v[6];
            bool digits = true;
            const int at[] = {0, 1, 3, 4, 6, 7};
            for (int i = 0; i < 6; ++i) {
                v[i] = text[at[i]] - '0';
                digits = digits && v[i] >= 0 && v[i] <= 9;
            }
            const int second = ((v[0] * 10 + v[1]) * 60 + v[2] * 10 + v[3]) * 60 + v[4] * 10 + v[5];
            if (digits && second < 86400) {
                if (m_times.empty())
                    m_times.resize(86400);
                QString& shared = m_times[size_t(second)];
                if (shared.isNull())
                    shared = QString::fromLatin1(text, bytes);
                return shared;
            }
        }
        return QString::fromUtf8(text, bytes);
    }

private:
    const Lookups& m_lookups;
    ReportKind m_kind;
    std::vector<QString> m_times;
    QString m_lastDay;
    std::array<QString, 1440> m_minutes;
};

// The token query; "?" marks its values, or "$1", "$2" for the PostgreSQL client library.
QString ticketSql(const ReportRequest& r, bool numbered = false)
{
    // Days are text "yyyy-MM-dd", so the range compares as text and includes both ends.
    QString sql = QStringLiteral("SELECT tickAuto, servAuto, no_abr, tickDate, attended, attTime, finished "
                                 "FROM tblTicket WHERE tickDate BETWEEN %1 AND %2")
                      .arg(numbered ? QStringLiteral("$1") : QStringLiteral("?"),
                           numbered ? QStringLiteral("$2") : QStringLiteral("?"));
    if (r.kind == ReportKind::Pending)
        sql += QStringLiteral(" AND call='0'");
    else if (!r.showAll)
        sql += QStringLiteral(" AND call='1'");
    return sql;
}

QStringList ticketBindings(const ReportRequest& r)
{
    return {r.from.toString(QStringLiteral("yyyy-MM-dd")), r.to.toString(QStringLiteral("yyyy-MM-dd"))};
}

PGconn* postgresHandle(const Database& db)
{
    const QVariant handle = db.engine() == Engine::Postgres ? db.handle().driver()->handle() : QVariant();
    PGconn* conn = handle.isValid() && qstrcmp(handle.typeName(), "PGconn*") == 0
        ? *static_cast<PGconn* const*>(handle.constData())
        : nullptr;
    // Only an idle connection takes a statement of ours; one busy with a query of the program
    // stays with the query layer.
    return conn && PQtransactionStatus(conn) != PQTRANS_ACTIVE && PQtransactionStatus(conn) != PQTRANS_UNKNOWN
        ? conn
        : nullptr;
}

// The whole result in one answer of the server, read straight from the client library's buffers.
void readPostgres(PGconn* conn, const ReportRequest& r, std::vector<ReportRow>& rows, RowBuilder& build)
{
    const QByteArray sql = ticketSql(r, true).toUtf8();
    const QStringList values = ticketBindings(r);
    const QByteArray from = values[0].toUtf8(), to = values[1].toUtf8();
    const char* params[] = {from.constData(), to.constData()};
    PGresult* res = PQexecParams(conn, sql.constData(), 2, nullptr, params, nullptr, nullptr, 0);
    if (PQresultStatus(res) != PGRES_TUPLES_OK) {
        const QString why = QString::fromUtf8(PQresultErrorMessage(res)).trimmed();
        PQclear(res);
        throw DbError(why.isEmpty() ? QString::fromUtf8(PQerrorMessage(conn)).trimmed() : why);
    }
    const int n = PQntuples(res);
    rows.reserve(rows.size() + size_t(n));
    QString day;
    for (int i = 0; i < n; ++i) {
        const char* date = PQgetvalue(res, i, 3);
        const int dateBytes = PQgetlength(res, i, 3);
        if (day != QLatin1String(date, dateBytes))
            day = QString::fromUtf8(date, dateBytes);
        build.add(rows, std::strtoll(PQgetvalue(res, i, 0), nullptr, 10), std::strtoll(PQgetvalue(res, i, 1), nullptr, 10),
                  QString::fromUtf8(PQgetvalue(res, i, 2), PQgetlength(res, i, 2)), day,
                  std::strtoll(PQgetvalue(res, i, 4), nullptr, 10), build.time(PQgetvalue(res, i, 5), PQgetlength(res, i, 5)),
                  build.time(PQgetvalue(res, i, 6), PQgetlength(res, i, 6)));
    }
    PQclear(res);
}

void readSqlite(sqlite3* raw, const ReportRequest& r, std::vector<ReportRow>& rows, RowBuilder& build)
{
    sqlite3_stmt* stmt = nullptr;
    auto fail = [&] {
        const QString why = QString::fromUtf8(sqlite3_errmsg(raw));
        sqlite3_finalize(stmt);
        throw DbError(why);
    };
    const QByteArray sql = ticketSql(r).toUtf8();
    if (sqlite3_prepare_v2(raw, sql.constData(), int(sql.size()), &stmt, nullptr) != SQLITE_OK)
        fail();
    const QStringList values = ticketBindings(r);
    std::vector<QByteArray> bound;
    for (const QString& v : values)
        bound.push_back(v.toUtf8());
    for (size_t i = 0; i < bound.size(); ++i)
        sqlite3_bind_text(stmt, int(i + 1), bound[i].constData(), int(bound[i].size()), SQLITE_STATIC);
    auto utf8 = [&](int c) {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)), sqlite3_column_bytes(stmt, c));
    };
    QString day;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        // Rows come day after day: a day's text is decoded only when it changes.
        const QLatin1String date(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)), sqlite3_column_bytes(stmt, 3));
        if (day != date)
            day = utf8(3);
        auto timeOf = [&](int c) {
            return build.time(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)), sqlite3_column_bytes(stmt, c));
        };
        build.add(rows, sqlite3_column_int64(stmt, 0), sqlite3_column_int64(stmt, 1), utf8(2), day,
                  sqlite3_column_int64(stmt, 4), timeOf(5), timeOf(6));
    }
    if (rc != SQLITE_DONE)
        fail();
    sqlite3_finalize(stmt);
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
        const Lookups lookups(db, request);
        RowBuilder build(lookups, request.kind);
        if (sqlite3* raw = sqliteHandle(db)) {
            readSqlite(raw, request, result.rows, build);
        } else if (PGconn* conn = postgresHandle(db)) {
            readPostgres(conn, request, result.rows, build);
        } else {
            // Read as one result: a forward-only PostgreSQL query fetches row by row, a round of
            // the client library for every token, several times slower on a month of a busy site.
            QSqlQuery q(db.handle());
            q.setForwardOnly(false);
            if (!q.prepare(ticketSql(request)))
                throw DbError(Database::errorText(q.lastError()));
            QVariantList values;
            for (const QString& v : ticketBindings(request))
                values << v;
            Database::bindAll(q, values);
            if (!q.exec())
                throw DbError(Database::errorText(q.lastError()));
            while (q.next())
                build.add(result.rows, q.value(0).toLongLong(), q.value(1).toLongLong(), text(q, 2),
                          text(q, 3), q.value(4).toLongLong(), text(q, 5), text(q, 6));
        }
    } catch (const DbError& e) {
        result.rows.clear();
        result.error = e.text();
        return result;
    }
    if (!request.showAll) {
        QStringList durations;
        durations.reserve(qsizetype(result.rows.size()));
        for (const ReportRow& row : result.rows)
            durations << row.duration;
        result.average = averageLine(durations).value_or(QString());
    }
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
