#include "core/Database.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>

namespace tallyvo {

namespace {

QString nextConnectionName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("tallyvo-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

QString Database::errorText(const QSqlError& e)
{
    QString text = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    if (!e.nativeErrorCode().isEmpty() && !text.contains(e.nativeErrorCode()))
        text += QStringLiteral(" (%1)").arg(e.nativeErrorCode());
    return text.trimmed();
}

void Database::bindAll(QSqlQuery& q, const QVariantList& values)
{
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QVariant& v = values[i];
        if (v.typeId() == QMetaType::QString && v.toString().isNull())
            q.bindValue(static_cast<int>(i), QStringLiteral(""));
        else
            q.bindValue(static_cast<int>(i), v);
    }
}

QString Database::failureText(const QSqlError& error) const
{
    const QString text = errorText(error);
    if (!text.isEmpty() && handle().isOpen())
        return text;
    return QStringLiteral("The database %1 is not connected.").arg(m_url.describe()) +
        (text.isEmpty() ? QString() : QLatin1Char(' ') + text);
}

Database::Database(DbUrl url)
    : m_url(std::move(url))
    , m_dialect(m_url.engine)
    , m_name(nextConnectionName())
{
    QSqlDatabase db = QSqlDatabase::addDatabase(
        m_url.engine == Engine::Sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), m_name);
    if (m_url.engine == Engine::Sqlite) {
        db.setDatabaseName(m_url.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        db.setHostName(m_url.host);
        db.setPort(m_url.port);
        db.setDatabaseName(m_url.database);
        db.setUserName(m_url.user);
        db.setPassword(m_url.password);
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    }
}

Database::~Database()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase Database::handle() const
{
    return QSqlDatabase::database(m_name, false);
}

bool Database::open(QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        close();
        return false;
    };
    QSqlDatabase db = handle();
    if (!db.isValid())
        return fail(QStringLiteral("The database driver for %1 is not installed.").arg(m_url.describe()));
    if (m_url.engine == Engine::Sqlite) {
        if (m_url.path.isEmpty())
            return fail(QStringLiteral("No database file is set."));
        const QFileInfo file(m_url.path);
        if (!QDir().mkpath(file.absolutePath()))
            return fail(QStringLiteral("The folder of the database file %1 cannot be created.").arg(m_url.path));
    }
    if (!db.open())
        return fail(QStringLiteral("Cannot open the database %1: %2").arg(m_url.describe(), errorText(db.lastError())));
    try {
        if (m_url.engine == Engine::Sqlite) {
            // A file that is not a database opens fine and fails on its first read: read now.
            run(QStringLiteral("PRAGMA schema_version")).next();
            run(QStringLiteral("PRAGMA journal_mode=WAL")).next();
            run(QStringLiteral("PRAGMA synchronous=NORMAL"));
        } else {
            run(QStringLiteral("SET client_min_messages TO WARNING"));
        }
    } catch (const DbError& e) {
        return fail(QStringLiteral("The database file %1 cannot be used: %2").arg(m_url.describe(), e.text()));
    }
    return true;
}

bool Database::isOpen() const
{
    return handle().isOpen();
}

void Database::close()
{
    QSqlDatabase db = handle();
    if (db.isOpen())
        db.close();
}

QSqlQuery Database::run(const QString& sql, const QVariantList& values) const
{
    QSqlQuery q(handle());
    q.setForwardOnly(true);
    if (values.isEmpty()) {
        if (!q.exec(sql))
            throw DbError(failureText(q.lastError()));
        return q;
    }
    if (!q.prepare(sql))
        throw DbError(failureText(q.lastError()));
    bindAll(q, values);
    if (!q.exec())
        throw DbError(failureText(q.lastError()));
    return q;
}

QVariant Database::scalar(const QString& sql, const QVariantList& values) const
{
    QSqlQuery q = run(sql, values);
    if (!q.next())
        return {};
    return q.value(0);
}

qint64 Database::insert(const QString& sql, const QVariantList& values) const
{
    QSqlQuery q = run(sql, values);
    if (!q.next())
        throw DbError(QStringLiteral("The new row's key was not returned."));
    return q.value(0).toLongLong();
}

QStringList Database::columns(const QString& table) const
{
    QStringList names;
    const QSqlRecord rec = handle().record(m_url.engine == Engine::Postgres ? table.toLower() : table);
    for (int i = 0; i < rec.count(); ++i)
        names << rec.fieldName(i);
    return names;
}

bool Database::hasTable(const QString& table) const
{
    const QStringList tables = handle().tables();
    return tables.contains(table, Qt::CaseInsensitive);
}

Transaction::Transaction(const Database& db)
    : m_db(db)
{
    m_db.run(m_db.dialect().beginWrite());
}

Transaction::~Transaction()
{
    if (!m_open)
        return;
    try {
        m_db.run(QStringLiteral("ROLLBACK"));
    } catch (const DbError&) {
        // The connection is gone; the server has dropped the transaction with it.
    }
}

void Transaction::commit()
{
    m_db.run(QStringLiteral("COMMIT"));
    m_open = false;
}

} // namespace tallyvo
