#include "core/SqliteChangeCounter.h"

#include "core/Database.h"

#include <sqlite3.h>

namespace tallyvo {

SqliteChangeCounter::SqliteChangeCounter(const Database& db)
{
    sqlite3* raw = db.sqliteHandle();
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
