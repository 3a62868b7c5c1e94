#include "reports/ClearData.h"

#include "core/Database.h"

#include <QSqlQuery>

namespace tallyvo::ClearData {

int deleteTickets(const Database& db, const QStringList& keys)
{
    int deleted = 0;
    Transaction t(db);
    for (const QString& key : keys) {
        bool ok = false;
        const qint64 k = key.trimmed().toLongLong(&ok);
        if (!ok)
            continue;
        deleted += db.run(QStringLiteral("DELETE FROM tblTicket WHERE tickAuto=?"), {k}).numRowsAffected();
    }
    t.commit();
    return deleted;
}

int deleteCallsBefore(const Database& db, const QDate& day)
{
    return db.run(QStringLiteral("DELETE FROM tblCall WHERE tickDate < ?"), {day.toString(QStringLiteral("yyyy-MM-dd"))})
        .numRowsAffected();
}

} // namespace tallyvo::ClearData
