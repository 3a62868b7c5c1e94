#include "reports/Report.h"

#include "core/Database.h"
#include "core/Dialect.h"

#include <QCoreApplication>
#include <QLocale>
#include <QHash>
#include <QSqlDriver>
#include <QSqlQuery>
#include <array>
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

// Names, days and durations repeat on every row: equal texts share one string instead of each
// row holding copies.
class RowBuilder {
public:
    const QString& shared(int column, const QString& text)
    {
        auto& seen = m_seen[size_t(column)];
        auto it = seen.find(text);
        if (it == seen.end())
            it = seen.insert(text, text);
        return it.value();
    }
    const QString& sharedUtf8(int column, const char* text, int bytes)
    {
        auto& seen = m_seenUtf8[size_t(column)];
        const QByteArray key = QByteArray::fromRawData(text, bytes);
        auto it = seen.find(key);
        if (it == seen.end())
            it = seen.insert(QByteArray(text, bytes), QString::fromUtf8(text, bytes));
        return it.value();
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

private:
    std::array<QHash<QString, QString>, 4> m_seen;
    std::array<QHash<QByteArray, QString>, 4> m_seenUtf8;
    std::array<QString, 1440> m_minutes;
};

void readSqlite(sqlite3* raw, const QString& sql, const QVariantList& values, std::vector<ReportRow>& rows,
                RowBuilder& build)
{
    sqlite3_stmt* stmt = nullptr;
    auto fail = [&] {
        const QString why = QString::fromUtf8(sqlite3_errmsg(raw));
        sqlite3_finalize(stmt);
        throw DbError(why);
    };
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(raw, text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK)
        fail();
    std::vector<QByteArray> bound;
    for (const QVariant& v : values)
        bound.push_back(v.toString().toUtf8());
    for (size_t i = 0; i < bound.size(); ++i)
        sqlite3_bind_text(stmt, int(i + 1), bound[i].constData(), int(bound[i].size()), SQLITE_STATIC);
    auto utf8 = [&](int c) {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)), sqlite3_column_bytes(stmt, c));
    };
    auto sharedText = [&](int slot, int c) -> const QString& {
        return build.sharedUtf8(slot, reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                sqlite3_column_bytes(stmt, c));
    };
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        ReportRow row;
        row.key = QString::number(sqlite3_column_int64(stmt, 0));
        row.dept = sharedText(0, 1);
        row.service = sharedText(1, 2);
        row.token = utf8(3);
        row.date = sharedText(2, 4);
        row.counter = sharedText(3, 5);
        row.from = utf8(6);
        row.to = utf8(7);
        row.duration = build.minutes(row.from, row.to);
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        fail();
    sqlite3_finalize(stmt);
}

// A NULL reads as "" whatever its column's type (PostgreSQL gives a typed NULL that would read "0").
QString text(const QSqlQuery& q, int column)
{
    const QVariant v = q.value(column);
    return v.isNull() ? QString() : v.toString();
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

QString reportSql(const ReportRequest& r, Engine engine)
{
    // The minutes are counted from the two times as each row is read (minutesBetween): the same
    // rule as the database's, at a fraction of the cost per row on a month of a busy site.
    QString sql = QStringLiteral(
        "SELECT tblTicket.tickAuto, tblDept.deptName, tblService.ServName, tblTicket.no_abr, "
        "tblTicket.tickDate, tblCounter.username, tblTicket.attTime, tblTicket.finished "
        "FROM ((tblTicket %1 tblService ON tblTicket.servAuto = tblService.servAuto) "
        "INNER JOIN tblDept ON tblService.deptAuto = tblDept.deptAuto) ")
                      .arg(Dialect(engine).innerJoinInOrder());
    // Only the counter report needs a counter that still exists.
    sql += r.kind == ReportKind::Counter ? QStringLiteral("INNER JOIN") : QStringLiteral("LEFT JOIN");
    sql += QStringLiteral(" tblCounter ON tblTicket.attended = tblCounter.cntAuto WHERE ");
    if (r.filter != allNames) {
        switch (r.kind) {
        case ReportKind::Department:
            sql += QStringLiteral("tblDept.deptName=? AND ");
            break;
        case ReportKind::Counter:
            sql += QStringLiteral("tblCounter.contName=? AND ");
            break;
        case ReportKind::Service:
        case ReportKind::Pending:
            sql += QStringLiteral("tblService.ServName=? AND ");
            break;
        }
    }
    // Days are text "yyyy-MM-dd", so the range compares as text and includes both ends.
    sql += QStringLiteral("tblTicket.tickDate BETWEEN ? AND ?");
    if (r.kind == ReportKind::Pending)
        sql += QStringLiteral(" AND tblTicket.call='0'");
    else if (!r.showAll)
        sql += QStringLiteral(" AND tblTicket.call='1'");
    return sql;
}

QVariantList bindings(const ReportRequest& r)
{
    QVariantList values;
    if (r.filter != allNames)
        values << r.filter;
    values << r.from.toString(QStringLiteral("yyyy-MM-dd")) << r.to.toString(QStringLiteral("yyyy-MM-dd"));
    return values;
}

ReportResult run(const Database& db, const ReportRequest& request)
{
    ReportResult result;
    try {
        const QString sql = reportSql(request, db.engine());
        const QVariantList values = bindings(request);
        RowBuilder build;
        if (sqlite3* raw = sqliteHandle(db)) {
            readSqlite(raw, sql, values, result.rows, build);
        } else {
            QSqlQuery q = db.run(sql, values);
            while (q.next()) {
                ReportRow row;
                row.key = text(q, 0);
                row.dept = build.shared(0, text(q, 1));
                row.service = build.shared(1, text(q, 2));
                row.token = text(q, 3);
                row.date = build.shared(2, text(q, 4));
                row.counter = build.shared(3, text(q, 5));
                row.from = text(q, 6);
                row.to = text(q, 7);
                row.duration = build.minutes(row.from, row.to);
                result.rows.push_back(std::move(row));
            }
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
