#include "core/modSub.h"

#include "core/Database.h"
#include "core/Session.h"

#include <QRegularExpression>

namespace tallyvo::modSub {

namespace {

QSqlQuery first(const Database& db, const QString& sql, const QVariant& value)
{
    QSqlQuery q = db.run(sql, {value});
    q.next();
    return q;
}

int keyOf(const Database& db, const QString& sql, const QString& name)
{
    QSqlQuery q = first(db, sql, name);
    return q.isValid() ? q.value(0).toInt() : 0;
}

QString textOf(const Database& db, const QString& sql, qint64 key)
{
    QSqlQuery q = first(db, sql, key);
    return q.isValid() ? q.value(0).toString() : QString();
}

} // namespace

int getDeptKey(const Database& db, const QString& name)
{
    return keyOf(db, QStringLiteral("SELECT deptAuto FROM tblDept WHERE deptName=? ORDER BY deptAuto"), name);
}

QString getDeptName(const Database& db, int key)
{
    return textOf(db, QStringLiteral("SELECT deptName FROM tblDept WHERE deptAuto=?"), key);
}

QString getCounterName(const Database& db, Session& session, int key)
{
    QSqlQuery q = first(db, QStringLiteral("SELECT contName, displayName FROM tblCounter WHERE cntAuto=?"), key);
    if (!q.isValid()) {
        session.counterDisplayName.clear();
        return QString();
    }
    session.counterDisplayName = q.value(1).toString();
    return q.value(0).toString();
}

int getCounterKey(const Database& db, const QString& name)
{
    return keyOf(db, QStringLiteral("SELECT cntAuto FROM tblCounter WHERE contName=? ORDER BY cntAuto"), name);
}

int getServiceKey(const Database& db, const QString& name)
{
    return keyOf(db, QStringLiteral("SELECT servAuto FROM tblService WHERE ServName=? ORDER BY servAuto"), name);
}

QString getServiceName(const Database& db, int key)
{
    return textOf(db, QStringLiteral("SELECT ServName FROM tblService WHERE servAuto=?"), key);
}

QString getTokenLabel(const Database& db, qint64 key)
{
    return textOf(db, QStringLiteral("SELECT no_abr FROM tblTicket WHERE tickAuto=?"), key);
}

int getThemeKey(const Database& db, const QString& name)
{
    return keyOf(db, QStringLiteral("SELECT themeauto FROM tbltheme WHERE themename=? ORDER BY themeauto"), name);
}

bool rowExists(const Database& db, const QString& table, const QString& column, qint64 key)
{
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!plainName.match(table).hasMatch() || !plainName.match(column).hasMatch())
        throw DbError(QStringLiteral("Not a table or column name: %1.%2").arg(table, column));
    QSqlQuery q = db.run(QStringLiteral("SELECT 1 FROM %1 WHERE %2=? LIMIT 1").arg(table, column), {key});
    return q.next();
}

} // namespace tallyvo::modSub
