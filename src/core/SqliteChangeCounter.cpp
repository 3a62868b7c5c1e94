#include "core/SqliteChangeCounter.h"

#include "core/Database.h"

#include <QSqlDriver>
#include <sqlite3.h>

namespace tallyvo {

SqliteChangeCounter::SqliteChangeCounter(const Database& db)
{
    const QVariant handle = db.engine() == Engine::Sqlite ? db.handle().driver()->handle() : QVariant();
    sqlite3* raw = handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
        ? *static_cast<sqlite3* const*>(handle.constData())
        : nullptr;
    if (!raw)
        throw DbError(QStringLiteral("The %1 is not open.").arg(db.url().describe()));
    if (sqlite3_prepare_v2(raw, "PRAGMA data_version", -1, &m_stmt, nullptr) != SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(raw));
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throw DbError(why);
    }
}

SqliteChangeCounter::~SqliteChangeCounter()
{
    sqlite3_finalize(m_stmt);
}

qint64 SqliteChangeCounter::read()
{
    const int rc = sqlite3_step(m_stmt);
    const qint64 version = rc == SQLITE_ROW ? sqlite3_column_int64(m_stmt, 0) : -1;
    // Resetting ends the read, so no snapshot is held between looks.
    const int reset = sqlite3_reset(m_stmt);
    if (rc != SQLITE_ROW)
        throw DbError(QString::fromUtf8(sqlite3_errstr(reset != SQLITE_OK ? reset : rc)));
    return version;
}

} // namespace tallyvo
