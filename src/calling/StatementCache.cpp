#include "calling/StatementCache.h"

#include "core/Database.h"

#include <QSqlError>
#include <QSqlRecord>

namespace tallyvo {

namespace {

QString errorText(const QSqlError& e)
{
    QString text = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    if (!e.nativeErrorCode().isEmpty() && !text.contains(e.nativeErrorCode()))
        text += QStringLiteral(" (%1)").arg(e.nativeErrorCode());
    return text.trimmed();
}

} // namespace

StatementCache::StatementCache(const Database& db)
    : m_db(db)
{
}

QSqlQuery& StatementCache::run(const QString& sql, const QVariantList& values)
{
    auto it = m_queries.find(sql);
    if (it == m_queries.end()) {
        QSqlQuery q(m_db.handle());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            throw DbError(errorText(q.lastError()));
        it = m_queries.emplace(sql, std::move(q));
    }
    QSqlQuery& q = it.value();
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QVariant& v = values[i];
        // As everywhere: text is never bound as NULL.
        if (v.typeId() == QMetaType::QString && v.toString().isNull())
            q.bindValue(static_cast<int>(i), QStringLiteral(""));
        else
            q.bindValue(static_cast<int>(i), v);
    }
    if (!q.exec())
        throw DbError(errorText(q.lastError()));
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
    if (!q.next()) {
        q.finish();
        return std::nullopt;
    }
    QVariantList row;
    const int n = q.record().count();
    for (int i = 0; i < n; ++i)
        row << q.value(i);
    // Read to the end: an UPDATE ... RETURNING on SQLite finishes its work only when stepped out.
    while (q.next()) {
    }
    q.finish();
    return row;
}

} // namespace tallyvo
