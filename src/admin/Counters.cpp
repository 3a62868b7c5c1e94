#include "admin/Counters.h"

#include "core/Database.h"
#include "core/Passwords.h"
#include "core/modSub.h"

namespace tallyvo {

std::vector<QStringList> Counters::list(const Database& db)
{
    QSqlQuery q = db.run(QStringLiteral(
        "SELECT tblCounter.cntAuto, tblDept.deptName, tblService.ServName, tblCounter.contName, tblCounter.active "
        "FROM (tblCounter INNER JOIN tblService ON tblCounter.servAuto = tblService.servAuto) "
        "INNER JOIN tblDept ON tblService.deptAuto = tblDept.deptAuto "
        "ORDER BY tblCounter.contName ASC, tblCounter.cntAuto ASC"));
    std::vector<QStringList> out;
    while (q.next())
        out.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                       q.value(4).toString()});
    return out;
}

QString Counters::validate(const Database& db, const CounterRecord& rec)
{
    if (rec.password != rec.password2)
        return tr("Passwords should be same ");
    if (modSub::getServiceKey(db, rec.serviceName) == 0)
        return tr("Select a valid service");
    if (rec.name.isEmpty())
        return tr("Counter Name should not be blank");
    if (rec.userName.isEmpty())
        return tr("User Name should not be blank");
    return QString();
}

std::optional<CounterRecord> Counters::get(const Database& db, qint64 key)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT servAuto, contName, displayName, username, active FROM tblCounter "
                                        "WHERE cntAuto=?"),
                         {key});
    if (!q.next())
        return std::nullopt;
    CounterRecord rec;
    const int service = q.value(0).toInt();
    rec.name = q.value(1).toString();
    rec.displayName = q.value(2).toString();
    rec.userName = q.value(3).toString();
    rec.active = q.value(4).toString().trimmed() == QLatin1String("1");
    q.finish();
    // Also for an inactive service, which the window's choices do not offer.
    rec.serviceName = modSub::getServiceName(db, service);
    return rec;
}

qint64 Counters::insert(const Database& db, const CounterRecord& rec)
{
    return db.insert(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, active) "
                                    "VALUES (?, ?, ?, ?, ?, ?) RETURNING cntAuto"),
                     {modSub::getServiceKey(db, rec.serviceName), rec.name, rec.displayName, rec.userName,
                      Passwords::hash(rec.password), rec.active ? QStringLiteral("1") : QStringLiteral("0")});
}

void Counters::update(const Database& db, qint64 key, const CounterRecord& rec)
{
    const int service = modSub::getServiceKey(db, rec.serviceName);
    const QString active = rec.active ? QStringLiteral("1") : QStringLiteral("0");
    if (rec.password.isEmpty()) {
        db.run(QStringLiteral("UPDATE tblCounter SET servAuto=?, contName=?, displayName=?, username=?, active=? "
                              "WHERE cntAuto=?"),
               {service, rec.name, rec.displayName, rec.userName, active, key});
        return;
    }
    db.run(QStringLiteral("UPDATE tblCounter SET servAuto=?, contName=?, displayName=?, username=?, pass=?, "
                          "active=? WHERE cntAuto=?"),
           {service, rec.name, rec.displayName, rec.userName, Passwords::hash(rec.password), active, key});
}

DeleteOutcome Counters::remove(const Database& db, qint64 key)
{
    QSqlQuery q = db.run(QStringLiteral("DELETE FROM tblCounter WHERE cntAuto=? AND NOT EXISTS "
                                        "(SELECT 1 FROM tblTicket WHERE attended=?)"),
                         {key, key});
    if (q.numRowsAffected() > 0)
        return DeleteOutcome::Deleted;
    return modSub::rowExists(db, QStringLiteral("tblTicket"), QStringLiteral("attended"), key) ? DeleteOutcome::InUse
                                                                                             : DeleteOutcome::Deleted;
}

} // namespace tallyvo
