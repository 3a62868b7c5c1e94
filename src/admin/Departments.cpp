#include "admin/Departments.h"

#include "core/Database.h"
#include "core/NumberText.h"
#include "core/modSub.h"

namespace tallyvo {

namespace {

QString flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

std::vector<QStringList> rowsOf(QSqlQuery q, int columns)
{
    std::vector<QStringList> out;
    while (q.next()) {
        QStringList row;
        for (int c = 0; c < columns; ++c)
            row << q.value(c).toString();
        out.push_back(row);
    }
    return out;
}

QStringList firstColumn(QSqlQuery q)
{
    QStringList out;
    while (q.next())
        out << q.value(0).toString();
    return out;
}

// A delete guarded by "nothing refers to it", in one statement; InUse when it deleted nothing
// because something does. A key that is already gone counts as deleted.
DeleteOutcome guardedDelete(const Database& db, const QString& sql, qint64 key, const QString& table,
                            const QString& column)
{
    QSqlQuery q = db.run(sql, {key, key});
    if (q.numRowsAffected() > 0)
        return DeleteOutcome::Deleted;
    return modSub::rowExists(db, table, column, key) ? DeleteOutcome::InUse : DeleteOutcome::Deleted;
}

} // namespace

std::vector<QStringList> Departments::list(const Database& db)
{
    return rowsOf(db.run(QStringLiteral("SELECT deptAuto, deptName, active FROM tblDept ORDER BY deptAuto")), 3);
}

QStringList Departments::activeNames(const Database& db)
{
    return firstColumn(db.run(QStringLiteral("SELECT deptName FROM tblDept WHERE active='1' ORDER BY deptAuto")));
}

QString Departments::validate(const DeptRecord& rec)
{
    return rec.name.isEmpty() ? tr("Department name should not be blank") : QString();
}

std::optional<DeptRecord> Departments::get(const Database& db, qint64 key)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT deptName, deptDesc, active FROM tblDept WHERE deptAuto=?"), {key});
    if (!q.next())
        return std::nullopt;
    return DeptRecord{q.value(0).toString(), q.value(1).toString(), q.value(2).toString().trimmed() == QLatin1String("1")};
}

qint64 Departments::insert(const Database& db, const DeptRecord& rec)
{
    return db.insert(
        QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES (?, ?, ?) RETURNING deptAuto"),
        {rec.name, rec.desc, flag(rec.active)});
}

void Departments::update(const Database& db, qint64 key, const DeptRecord& rec)
{
    db.run(QStringLiteral("UPDATE tblDept SET deptName=?, deptDesc=?, active=? WHERE deptAuto=?"),
           {rec.name, rec.desc, flag(rec.active), key});
}

DeleteOutcome Departments::remove(const Database& db, qint64 key)
{
    return guardedDelete(
        db,
        QStringLiteral("DELETE FROM tblDept WHERE deptAuto=? AND NOT EXISTS (SELECT 1 FROM tblService WHERE deptAuto=?)"),
        key, QStringLiteral("tblService"), QStringLiteral("deptAuto"));
}

std::vector<QStringList> Services::list(const Database& db)
{
    return rowsOf(db.run(QStringLiteral(
                      "SELECT tblService.servAuto, tblDept.deptName, tblService.ServName, tblService.startno, "
                      "tblService.endno, tblService.abrno, tblService.active FROM tblService "
                      "INNER JOIN tblDept ON tblService.deptAuto = tblDept.deptAuto ORDER BY tblService.servAuto")),
                  7);
}

namespace {

// NULL when no target was given, so that "none" is never mistaken for a target of 0 minutes.
QVariant targetValue(const ServiceRecord& rec)
{
    const std::optional<int> target = NumberText::wholeNumber(rec.slaMinutes);
    return target ? QVariant(*target) : QVariant(QMetaType(QMetaType::Int));
}

} // namespace

QStringList Services::activeNames(const Database& db)
{
    return firstColumn(db.run(QStringLiteral("SELECT ServName FROM tblService WHERE active='1' ORDER BY servAuto")));
}

QString Services::validate(const Database& db, const ServiceRecord& rec)
{
    // A prefix that reads as a number would run into the token number: "1" and 2 would be "12".
    if (NumberText::value(rec.abrno))
        return tr("Cannot Save. Prefix Should not be Number");
    // Token numbers are whole: a start or end of 1.5 could never be issued as such.
    const std::optional<int> start = NumberText::wholeNumber(rec.startno);
    if (!start)
        return tr("Cannot Save. Enter a valid Starting number");
    const std::optional<int> end = NumberText::wholeNumber(rec.endno);
    if (!end)
        return tr("Cannot Save. Enter a valid Ending number");
    if (*end <= *start)
        return tr("Please Check Starting and Ending Number");
    if (modSub::getDeptKey(db, rec.deptName) == 0)
        return tr("Select a department name");
    if (rec.name.isEmpty())
        return tr("Service name should not be blank");
    if (!rec.slaMinutes.trimmed().isEmpty()) {
        const std::optional<int> target = NumberText::wholeNumber(rec.slaMinutes);
        if (!target || *target < 1 || *target > longestTargetMinutes)
            return tr("Cannot Save. The target wait is whole minutes from 1 to %1, or empty for none")
                .arg(longestTargetMinutes);
    }
    return QString();
}

std::optional<ServiceRecord> Services::get(const Database& db, qint64 key)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT deptAuto, ServName, servdesc, active, startno, endno, abrno, "
                                        "slaMinutes FROM tblService WHERE servAuto=?"),
                         {key});
    if (!q.next())
        return std::nullopt;
    ServiceRecord rec;
    const int dept = q.value(0).toInt();
    rec.name = q.value(1).toString();
    rec.desc = q.value(2).toString();
    rec.active = q.value(3).toString().trimmed() == QLatin1String("1");
    rec.startno = q.value(4).toString();
    rec.endno = q.value(5).toString();
    rec.abrno = q.value(6).toString();
    rec.slaMinutes = q.value(7).isNull() ? QString() : QString::number(q.value(7).toInt());
    q.finish();
    rec.deptName = modSub::getDeptName(db, dept);
    return rec;
}

qint64 Services::insert(const Database& db, const ServiceRecord& rec)
{
    return db.insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, "
                                    "abrno, slaMinutes) VALUES (?, ?, ?, ?, ?, ?, ?, ?) RETURNING servAuto"),
                     {modSub::getDeptKey(db, rec.deptName), rec.name, rec.desc, flag(rec.active), rec.startno,
                      rec.endno, rec.abrno, targetValue(rec)});
}

void Services::update(const Database& db, qint64 key, const ServiceRecord& rec)
{
    db.run(QStringLiteral("UPDATE tblService SET deptAuto=?, ServName=?, servdesc=?, active=?, startno=?, endno=?, "
                          "abrno=?, slaMinutes=? WHERE servAuto=?"),
           {modSub::getDeptKey(db, rec.deptName), rec.name, rec.desc, flag(rec.active), rec.startno, rec.endno,
            rec.abrno, targetValue(rec), key});
}

DeleteOutcome Services::remove(const Database& db, qint64 key)
{
    return guardedDelete(
        db,
        QStringLiteral("DELETE FROM tblService WHERE servAuto=? AND NOT EXISTS (SELECT 1 FROM tblTicket WHERE servAuto=?)"),
        key, QStringLiteral("tblTicket"), QStringLiteral("servAuto"));
}

} // namespace tallyvo
