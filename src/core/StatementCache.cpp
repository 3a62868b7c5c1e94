#include "core/StatementCache.h"

#include "core/Database.h"

#include <QSqlError>
#include <QSqlRecord>

namespace tallyvo {

StatementCache::StatementCache(const Database& db)
    : m_db(db)
{
}

QSqlQuery& StatementCache::run(const QString& sql, const QVariantList& values)
{
    // Checked first, so a closed connection is one error of ours and no driver warning.
    if (!m_db.ensureOpen())
        throw DbError(QStringLiteral("The %1 is not connected.").arg(m_db.url().describe()));
    // Statements prepared on a connection that was since made again are gone with it.
    if (m_generation != m_db.generation()) {
        m_queries.clear();
        m_generation = m_db.generation();
    }
    auto it = m_queries.find(sql);
    if (it == m_queries.end()) {
        QSqlQuery q(m_db.handle());
        q.setForwardOnly(true);
        if (!q.prepare(sql)) {
            m_db.checkLost(sql, q.lastError());
            throw DbError(Database::errorText(q.lastError()));
        }
        it = m_queries.emplace(sql, std::move(q));
    }
    QSqlQuery& q = it.value();
    Database::bindAll(q, values);
    if (!q.exec()) {
        const QSqlError error = q.lastError();
        m_queries.erase(it);
        m_db.checkLost(sql, error);
        const QString why = Database::errorText(error);
        throw DbError(why);
    }
    return q;
}

int StatementCache::write(const QString& sql, const QVariantList& values)
{
    QSqlQuery& q = run(sql, values);
    const int rows = q.numRowsAffected();
    q.finish();
    return rows;
}

std::optional<QVariantList> StatementCache::firstRow(const QString& sql, const QVariantList& values)
{
    QSqlQuery& q = run(sql, values);
    std::optional<QVariantList> row;
    if (q.next()) {
        row.emplace();
        const int n = q.record().count();
        for (int i = 0; i < n; ++i)
            row->append(q.value(i));
    }
    // Read to the end: an UPDATE ... RETURNING on SQLite finishes its work, and reports a refused
    // write, only when stepped out.
    Database::readToEnd(q);
    return row;
}

} // namespace tallyvo
