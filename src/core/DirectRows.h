#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct pg_result;

namespace tallyvo {

class Database;

// The rows of one reading statement straight from the client library's buffers: on PostgreSQL
// in one round trip (the query layer prepares, runs and frees a statement in three) and without a
// value object per cell. '?' marks each bound value in order, as with Database::run, and must
// not appear in the statement otherwise. A connection the query layer is still reading from, or
// one found broken, is left to the query layer, which knows how to make it again.
class DirectRows {
public:
    // Kept: a statement run again and again (a watch's read) is prepared once on the connection
    // and run by name after, which spares the server planning it each time.
    enum class Plan { Once, Kept };

    DirectRows(const Database& db, const QString& sql, const QVariantList& values = {},
               Plan plan = Plan::Once);
    // On a SQLite connection of the reader's own (a second reader of a long range).
    DirectRows(sqlite3* raw, const QString& sql, const QVariantList& values = {});
    ~DirectRows();
    DirectRows(const DirectRows&) = delete;
    DirectRows& operator=(const DirectRows&) = delete;

    bool next();
    bool isNull(int column) const;
    // Valid until the next call of next().
    QByteArrayView bytes(int column) const;
    QString text(int column) const { return QString::fromUtf8(bytes(column)); }
    // 0 for NULL and for text that is not a whole number.
    qint64 integer(int column) const;

    // The first column of the first row, or nullopt without a row or for NULL.
    static std::optional<qint64> integerOf(const Database& db, const QString& sql,
                                           const QVariantList& values = {}, Plan plan = Plan::Once);

private:
    void prepare(sqlite3* raw, const QString& sql, const QVariantList& values);
    void viaQueryLayer(const Database& db, const QString& sql, const QVariantList& values);

    sqlite3_stmt* m_stmt = nullptr;
    pg_result* m_result = nullptr;
    int m_rows = 0;
    int m_row = -1;
    std::optional<QSqlQuery> m_query;
    std::vector<QByteArray> m_cells; // the current row's, on the query layer
};

} // namespace tallyvo
