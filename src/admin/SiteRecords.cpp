#include "admin/SiteRecords.h"

#include "core/Database.h"
#include "core/Passwords.h"

namespace tallyvo {

std::vector<QStringList> Videos::list(const Database& db)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT vidAuto, vidPath, vidDesc, active FROM tblVideo ORDER BY vidAuto"));
    std::vector<QStringList> out;
    while (q.next())
        out.push_back({q.value(0).toString(), q.value(2).toString(),
                       q.value(3).toString().trimmed() == QLatin1String("1") ? tr("Yes") : tr("No"), QString(),
                       q.value(1).toString()});
    return out;
}

QString Videos::fileFilter()
{
    return tr("Video Files (*.avi *.dat *.mpg *.wmv *.jpg *.mp4 *.mkv *.webm *.mov *.png *.jpeg)");
}

QString Videos::validate(const VideoRecord& rec)
{
    return rec.path.isEmpty() ? tr("Please select a video") : QString();
}

std::optional<VideoRecord> Videos::get(const Database& db, qint64 key)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT vidPath, vidDesc, active FROM tblVideo WHERE vidAuto=?"), {key});
    if (!q.next())
        return std::nullopt;
    return VideoRecord{q.value(0).toString(), q.value(1).toString(),
                       q.value(2).toString().trimmed() == QLatin1String("1")};
}

qint64 Videos::insert(const Database& db, const VideoRecord& rec)
{
    return db.insert(
        QStringLiteral("INSERT INTO tblVideo (vidPath, vidDesc, active) VALUES (?, ?, ?) RETURNING vidAuto"),
        {rec.path, rec.desc, rec.active ? QStringLiteral("1") : QStringLiteral("0")});
}

void Videos::update(const Database& db, qint64 key, const VideoRecord& rec)
{
    db.run(QStringLiteral("UPDATE tblVideo SET vidPath=?, vidDesc=?, active=? WHERE vidAuto=?"),
           {rec.path, rec.desc, rec.active ? QStringLiteral("1") : QStringLiteral("0"), key});
}

void Videos::remove(const Database& db, qint64 key)
{
    db.run(QStringLiteral("DELETE FROM tblVideo WHERE vidAuto=?"), {key});
}

QList<std::pair<qint64, QString>> Users::list(const Database& db)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT userAuto, username FROM tbluser ORDER BY userAuto"));
    QList<std::pair<qint64, QString>> out;
    while (q.next())
        out.append({q.value(0).toLongLong(), q.value(1).toString()});
    return out;
}

qint64 Users::keyOf(const Database& db, const QString& name)
{
    const QVariant key =
        db.scalar(QStringLiteral("SELECT userAuto FROM tbluser WHERE username=? ORDER BY userAuto LIMIT 1"), {name});
    return key.isValid() ? key.toLongLong() : 0;
}

QString Users::add(const Database& db, const QString& name, const QString& password, const QString& type)
{
    if (name.isEmpty() || type.isEmpty())
        return tr("Enter all Details") + QString(16, QLatin1Char(' '));
    // Hashing takes a noticeable moment: not while holding the table.
    const QString hash = Passwords::hash(password);
    // Names are stored in capitals, so the typed name in capitals finds any stored spelling;
    // UPPER() also catches older rows stored in small letters. The lock keeps two stations from
    // both finding the name free.
    const QString upper = name.toUpper();
    Transaction t(db);
    if (const QString lock = db.dialect().lockForCheck(QStringLiteral("tbluser")); !lock.isEmpty())
        db.run(lock);
    if (db.scalar(QStringLiteral("SELECT count(*) FROM tbluser WHERE username=? OR UPPER(username)=UPPER(?)"),
                  {upper, name})
            .toInt()
        > 0)
        return tr("Existing User, select another Name");
    db.run(QStringLiteral("INSERT INTO tbluser (username, password, usertype) VALUES (?, ?, ?)"),
           {upper, hash, type});
    t.commit();
    return QString();
}

namespace {

// Removes the user with that key unless it is the last one. A statement that counts and deletes
// at once is not enough: under READ COMMITTED two stations each still see the other's user and
// both delete. The count and the delete run in one transaction that holds the table.
bool removeUnlessLast(const Database& db, const QVariant& key)
{
    Transaction t(db);
    if (const QString lock = db.dialect().lockForCheck(QStringLiteral("tbluser")); !lock.isEmpty())
        db.run(lock);
    if (db.scalar(QStringLiteral("SELECT count(*) FROM tbluser")).toInt() <= 1)
        return false;
    const bool removed = db.run(QStringLiteral("DELETE FROM tbluser WHERE userAuto=?"), {key}).numRowsAffected() > 0;
    t.commit();
    return removed;
}

} // namespace

bool Users::remove(const Database& db, qint64 key)
{
    return removeUnlessLast(db, key);
}

Users::Removal Users::removeByName(const Database& db, const QString& name)
{
    const QVariant key = db.scalar(
        QStringLiteral("SELECT userAuto FROM tbluser WHERE UPPER(username)=UPPER(?) ORDER BY userAuto LIMIT 1"), {name});
    if (!key.isValid())
        return Removal::NoSuchUser;
    // Gone meanwhile through another station counts as not there, not as the last user.
    if (removeUnlessLast(db, key))
        return Removal::Removed;
    return db.scalar(QStringLiteral("SELECT count(*) FROM tbluser WHERE userAuto=?"), {key}).toInt() > 0
        ? Removal::LastUser
        : Removal::NoSuchUser;
}

bool Users::setPassword(const Database& db, const QString& name, const QString& password)
{
    return db.run(QStringLiteral("UPDATE tbluser SET password=? WHERE UPPER(username)=UPPER(?)"),
                  {Passwords::hash(password), name})
               .numRowsAffected()
        > 0;
}

std::optional<std::pair<QString, QString>> Company::get(const Database& db)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT compName, compAddress FROM tblComp WHERE compAuto=1"));
    if (!q.next())
        return std::nullopt;
    return std::pair{q.value(0).toString(), q.value(1).toString()};
}

QString Company::validate(const QString& name)
{
    return name.isEmpty() ? tr("Company Name should not be blank") : QString();
}

void Company::save(const Database& db, const QString& name, const QString& address)
{
    Transaction t(db);
    QSqlQuery q = db.run(QStringLiteral("UPDATE tblComp SET compName=?, compAddress=? WHERE compAuto=1"),
                         {name, address});
    if (q.numRowsAffected() == 0)
        db.run(QStringLiteral("INSERT INTO tblComp (compAuto, compName, compAddress) VALUES (1, ?, ?)"),
               {name, address});
    t.commit();
}

} // namespace tallyvo
