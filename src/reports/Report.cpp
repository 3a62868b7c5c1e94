#include "reports/Report.h"

#include "core/Database.h"
#include "core/Dialect.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSqlQuery>
#include <algorithm>
#include <cmath>

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

QString reportSql(const ReportRequest& r)
{
    QString sql = QStringLiteral(
                      "SELECT tblTicket.tickAuto, tblDept.deptName, tblService.ServName, tblTicket.no_abr, "
                      "tblTicket.tickDate, tblCounter.username, tblTicket.attTime, tblTicket.finished, %1 "
                      "FROM ((tblTicket INNER JOIN tblService ON tblTicket.servAuto = tblService.servAuto) "
                      "INNER JOIN tblDept ON tblService.deptAuto = tblDept.deptAuto) ")
                      .arg(Dialect::minutesBetween(QStringLiteral("tblTicket.attTime"),
                                                   QStringLiteral("tblTicket.finished")));
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
        QSqlQuery q = db.run(reportSql(request), bindings(request));
        while (q.next()) {
            ReportRow row;
            row.key = text(q, 0);
            row.dept = text(q, 1);
            row.service = text(q, 2);
            row.token = text(q, 3);
            row.date = text(q, 4);
            row.counter = text(q, 5);
            row.from = text(q, 6);
            row.to = text(q, 7);
            row.duration = text(q, 8);
            result.rows.push_back(std::move(row));
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
