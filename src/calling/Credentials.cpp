#include "calling/Credentials.h"

#include "core/Database.h"
#include "core/Passwords.h"

namespace tallyvo::Credentials {

namespace {

// Which of the candidate rows (key, stored password) the password opens; an old plain-text
// password that matches is replaced by its hash.
std::optional<qint64> matchRow(const Database& db, QSqlQuery& rows, const QString& password,
                               const QString& rehashSql) {
    while (rows.next()) {
        const qint64 key = rows.value(0).toLongLong();
        const Passwords::Check check = Passwords::verify(rows.value(1).toString(), password);
        if (check == Passwords::Check::NoMatch)
            continue;
        if (check == Passwords::Check::MatchNeedsRehash) {
            try {
                db.run(rehashSql, {Passwords::hash(password), key});
            } catch (const DbError&) {
                // The password was right; the upgrade to a hash is tried again at the next login.
            }
        }
        return key;
    }
    return std::nullopt;
}

} // namespace

std::optional<int> checkAdmin(const Database& db, const QString& user, const QString& password) {
    QSqlQuery rows =
        db.run(QStringLiteral(
                   "SELECT userAuto, password FROM tbluser WHERE UPPER(username)=UPPER(?) ORDER BY userAuto"),
               {user});
    const auto key =
        matchRow(db, rows, password, QStringLiteral("UPDATE tbluser SET password=? WHERE userAuto=?"));
    if (!key)
        return std::nullopt;
    return static_cast<int>(*key);
}

std::optional<CounterLogin> checkCounter(const Database& db, const QString& counterName, const QString& user,
                                         const QString& password) {
    QSqlQuery rows = db.run(QStringLiteral("SELECT cntAuto, pass FROM tblCounter WHERE contName=? "
                                           "AND UPPER(username)=UPPER(?) AND active='1' ORDER BY cntAuto"),
                            {counterName, user});
    const auto key =
        matchRow(db, rows, password, QStringLiteral("UPDATE tblCounter SET pass=? WHERE cntAuto=?"));
    if (!key)
        return std::nullopt;
    CounterLogin login;
    login.cntAuto = static_cast<int>(*key);
    login.servAuto =
        db.scalar(QStringLiteral("SELECT servAuto FROM tblCounter WHERE cntAuto=?"), {*key}).toInt();
    return login;
}

bool changeCounterPassword(const Database& db, int cntAuto, const QString& oldPassword,
                           const QString& newPassword) {
    QSqlQuery rows =
        db.run(QStringLiteral("SELECT cntAuto, pass FROM tblCounter WHERE cntAuto=?"), {cntAuto});
    if (!rows.next() || Passwords::verify(rows.value(1).toString(), oldPassword) == Passwords::Check::NoMatch)
        return false;
    db.run(QStringLiteral("UPDATE tblCounter SET pass=? WHERE cntAuto=?"),
           {Passwords::hash(newPassword), cntAuto});
    return true;
}

bool changeAdminPassword(const Database& db, int userAuto, const QString& oldPassword,
                         const QString& newPassword) {
    QSqlQuery rows =
        db.run(QStringLiteral("SELECT userAuto, password FROM tbluser WHERE userAuto=?"), {userAuto});
    if (!rows.next() || Passwords::verify(rows.value(1).toString(), oldPassword) == Passwords::Check::NoMatch)
        return false;
    db.run(QStringLiteral("UPDATE tbluser SET password=? WHERE userAuto=?"),
           {Passwords::hash(newPassword), userAuto});
    return true;
}

} // namespace tallyvo::Credentials
