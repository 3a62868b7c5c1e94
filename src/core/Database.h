#pragma once

#include "core/DbError.h"
#include "core/DbUrl.h"
#include "core/Dialect.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <optional>

struct sqlite3;
struct pg_conn;

namespace tallyvo {

// A statement that failed because the connection to the server went (a failover, a restarted
// server). The connection is made again at once where it can be, to whichever server the URL
// leads to. outcomeUnknown(): the statement was a change that may have been stored before the
// connection went, so it must not simply be run again.
class ConnectionLost : public DbError {
public:
    ConnectionLost(const QString& text, bool outcomeUnknown)
        : DbError(text)
        , m_unknown(outcomeUnknown)
    {
    }
    bool outcomeUnknown() const { return m_unknown; }

private:
    bool m_unknown;
};

// One named connection to the site's database. Every statement goes through run() with bound
// values; a refused statement throws DbError with the database's own text.
class Database {
public:
    explicit Database(DbUrl url);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens the connection, creating an embedded file that does not exist yet (owner only) unless
    // createMissing is false. On failure returns false and says why in *error, on one line,
    // naming the file or server.
    bool open(QString* error = nullptr, bool createMissing = true);
    // Whether the last open() created the embedded file.
    bool created() const { return m_created; }
    // SQLite's quick check of the whole file: nullopt when sound, else the first problem found.
    std::optional<QString> quickCheck() const;
    bool isOpen() const;
    void close();

    const DbUrl& url() const { return m_url; }
    Engine engine() const { return m_url.engine; }
    const Dialect& dialect() const { return m_dialect; }
    QSqlDatabase handle() const;
    // The client library's own connection under the driver, for the few places that read
    // through it directly; nullptr on the other engine or when the driver has none.
    sqlite3* sqliteHandle() const;
    pg_conn* postgresHandle() const;
    QString connectionName() const { return m_name; }

    // Runs one statement; '?' marks each bound value in order. The result is positioned before
    // its first row. When the server's connection is found lost, it is made again: a read (or
    // the start of a transaction) is then run once more, anything else throws ConnectionLost.
    QSqlQuery run(const QString& sql, const QVariantList& values = {}) const;
    // For statements run on handle() directly: when error came from a lost connection, makes it
    // again and throws ConnectionLost; otherwise returns.
    void checkLost(const QString& sql, const QSqlError& error) const;
    // Whether the connection is open, after trying a lost one again when it is time to.
    bool ensureOpen() const;
    // Counts the times the connection was made again: statements prepared on handle() before
    // are gone with the old one.
    int generation() const { return m_generation; }
    // Statements kept prepared on the client library's connection by their text, for
    // DirectRows; empty again whenever that connection is another.
    QHash<QString, QByteArray>& keptStatements() const;
    // Where the program says in one line that the connection was lost and made again (its
    // status bar, its log). One for the whole process.
    static void setReconnectNotice(std::function<void(const QString&)> notice);
    // What every connection to a server is given besides its URL's options: keepalives, so a
    // server that vanished is noticed within seconds.
    static QString keepAliveOptions();
    // First column of the first row; an invalid QVariant when there is no row.
    QVariant scalar(const QString& sql, const QVariantList& values = {}) const;
    // The first row of a statement run to its end (an INSERT/UPDATE ... RETURNING is reported
    // only once the database has taken the whole statement); nullopt when there is no row.
    std::optional<QVariantList> firstRow(const QString& sql, const QVariantList& values = {}) const;
    // Runs an INSERT ... RETURNING <key> to its end and gives the new key.
    qint64 insert(const QString& sql, const QVariantList& values = {}) const;
    // Column names of a table in their stored order (lower case on PostgreSQL).
    QStringList columns(const QString& table) const;
    bool hasTable(const QString& table) const;

    // The database's own words for an error, with its code.
    static QString errorText(const QSqlError& error);
    // Binds values by position; text is never bound as NULL (a null QString goes in as "") so
    // comparisons behave.
    static void bindAll(QSqlQuery& query, const QVariantList& values);
    // Steps a query past its last row and finishes it; throws DbError when any step failed.
    static void readToEnd(QSqlQuery& query);

private:
    // What a failed statement says; names the database when the connection is not open.
    QString failureText(const QSqlError& error) const;
    static bool createOwnerOnly(const QString& path, QString* why);
    // Whether the client library has found the server's connection broken.
    bool broken(const QSqlError& error) const;
    // Opens a lost connection again and says so through the notice; a sentence for the error.
    QString recover() const;
    [[noreturn]] void throwLost(const QString& sql, bool inTransaction, const QString& again) const;
    QSqlQuery exec(const QString& sql, const QVariantList& values, QSqlError* error) const;

    DbUrl m_url;
    Dialect m_dialect;
    QString m_name;
    bool m_created = false;
    mutable bool m_lost = false;            // lost and not yet made again
    mutable qint64 m_lastReopenMs = -1;     // when a lost connection was last tried again
    mutable bool m_inTransaction = false;   // between BEGIN and COMMIT/ROLLBACK
    mutable bool m_transactionLost = false; // lost inside a transaction the caller has not ended
    mutable int m_generation = 0;
    mutable QHash<QString, QByteArray> m_kept;
    mutable pg_conn* m_keptOn = nullptr;
    mutable int m_keptGeneration = 0;
    friend class Transaction;
};

// Rolls back unless committed. Nested use is not supported: keep transactions short.
class Transaction {
public:
    explicit Transaction(const Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    const Database& m_db;
    bool m_open = true;
};

} // namespace tallyvo
