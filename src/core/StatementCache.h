#pragma once

#include <QHash>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <optional>

namespace tallyvo {

class Database;

// The statements a console runs at every call, each prepared once on the connection and run
// again with new values. A PostgreSQL statement prepared afresh costs three round trips (prepare,
// execute, free) where a kept one costs one. Results are always read to the end or finished at
// once: on SQLite an open read would hold a stale snapshot that a later write could not upgrade.
class StatementCache {
public:
    explicit StatementCache(const Database& db);

    // Runs a statement that changes rows; the number of rows it changed.
    int write(const QString& sql, const QVariantList& values);
    // The first row of a query (or of an UPDATE ... RETURNING); nullopt when there is none.
    std::optional<QVariantList> firstRow(const QString& sql, const QVariantList& values);

private:
    QSqlQuery& run(const QString& sql, const QVariantList& values);

    const Database& m_db;
    QHash<QString, QSqlQuery> m_queries;
    int m_generation = 0; // the connection's generation the statements were prepared on
};

} // namespace tallyvo
