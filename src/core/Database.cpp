#include "core/Database.h"

#include "core/Paths.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>

#include <chrono>
#include <libpq-fe.h>

namespace tallyvo {

namespace {

QString nextConnectionName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("tallyvo-%1").arg(counter.fetchAndAddRelaxed(1));
}

std::function<void(const QString&)>& reconnectNotice()
{
    static std::function<void(const QString&)> notice;
    return notice;
}

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString firstWord(const QString& sql)
{
    return sql.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
}

// A statement that only reads, or that starts a transaction: run again on a new connection it
// does what it would have done on the old one.
bool repeatable(const QString& sql)
{
    const QString word = firstWord(sql);
    if (word == QLatin1String("BEGIN") || word == QLatin1String("START") || word == QLatin1String("SHOW"))
        return true;
    if (word != QLatin1String("SELECT"))
        return false;
    static const QRegularExpression writes(
        QStringLiteral("\\b(INSERT|UPDATE|DELETE|nextval|setval|pg_notify|pg_cancel_backend|FOR\\s+UPDATE|FOR\\s+SHARE)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    return !writes.match(sql).hasMatch();
}

// How long a station waits before it tries a lost server again, so that a window that runs many
// statements does not wait for every one of them.
constexpr qint64 reopenPauseMs = 1000;

} // namespace

void Database::setReconnectNotice(std::function<void(const QString&)> notice)
{
    reconnectNotice() = std::move(notice);
    // Statements prepared on a lost connection cannot be freed on the server, which freed them
    // with the session: the driver's warning for each says nothing the one line has not said.
    static QtMessageHandler next = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (type == QtWarningMsg && text.startsWith(QLatin1String("Unable to free statement:")))
                return;
            if (next)
                next(type, context, text);
        });
}

QString Database::errorText(const QSqlError& e)
{
    QString text = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    // PostgreSQL repeats the statement under its message ("LINE 1: ..." and a caret line): the
    // message is what the operator needs, on one line.
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        static const QRegularExpression echo(QStringLiteral("^(LINE \\d+:.*|\\^)$"));
        if (!t.isEmpty() && !echo.match(t).hasMatch())
            lines << t;
    }
    text = oneLine(lines.join(QLatin1Char(' ')));
    if (!e.nativeErrorCode().isEmpty() && !text.contains(e.nativeErrorCode()))
        text += QStringLiteral(" (%1)").arg(e.nativeErrorCode());
    return text;
}

void Database::readToEnd(QSqlQuery& q)
{
    // SQLite commits a statement of its own (and reports a full disk then) only at its last step;
    // PostgreSQL may send the error after the first rows.
    while (q.next()) {
    }
    const QSqlError e = q.lastError();
    q.finish();
    if (e.isValid())
        throw DbError(errorText(e));
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
    return QStringLiteral("The %1 is not connected.").arg(m_url.describe()) +
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
        // Several servers go to the client library as its lists of hosts and of ports.
        db.setHostName(m_url.hostList());
        db.setPort(m_url.otherHosts.isEmpty() ? m_url.port : -1);
        db.setDatabaseName(m_url.database);
        db.setUserName(m_url.user);
        db.setPassword(m_url.password);
        // A server that vanishes without closing the socket (a machine that died, a pulled
        // cable) fails the statement within seconds, not after the system's TCP timeout, so a
        // station finds the standby as soon as one is promoted.
        db.setConnectOptions(m_url.connectOptions() + QLatin1Char(';') + keepAliveOptions());
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

sqlite3* Database::sqliteHandle() const
{
    const QVariant h = engine() == Engine::Sqlite ? handle().driver()->handle() : QVariant();
    return h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0 ? *static_cast<sqlite3* const*>(h.constData())
                                                                 : nullptr;
}

pg_conn* Database::postgresHandle() const
{
    const QVariant h = engine() == Engine::Postgres ? handle().driver()->handle() : QVariant();
    // The driver names the handle by the struct behind libpq's PGconn typedef.
    return h.isValid() && (qstrcmp(h.typeName(), "pg_conn*") == 0 || qstrcmp(h.typeName(), "PGconn*") == 0)
        ? *static_cast<pg_conn* const*>(h.constData())
        : nullptr;
}

QHash<QString, QByteArray>& Database::keptStatements() const
{
    pg_conn* now = postgresHandle();
    if (now != m_keptOn || m_generation != m_keptGeneration) {
        m_kept.clear();
        m_keptOn = now;
        m_keptGeneration = m_generation;
    }
    return m_kept;
}

bool Database::open(QString* error, bool createMissing)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = oneLine(why);
        close();
        return false;
    };
    m_created = false;
    QSqlDatabase db = handle();
    if (!db.isValid())
        return fail(QStringLiteral("The database driver for the %1 is not installed.").arg(m_url.describe()));
    if (m_url.engine == Engine::Sqlite) {
        if (m_url.path.isEmpty())
            return fail(QStringLiteral("No database file is set."));
        // ":memory:" is SQLite's private database of one connection, never a file.
        if (m_url.path != QLatin1String(":memory:") && !QFileInfo::exists(m_url.path)) {
            if (!createMissing)
                return fail(QStringLiteral("The %1 does not exist.").arg(m_url.describe()));
            QString why;
            if (!createOwnerOnly(m_url.path, &why))
                return fail(QStringLiteral("The %1 cannot be created: %2").arg(m_url.describe(), why));
            m_created = true;
        }
    }
    if (!db.open())
        return fail(QStringLiteral("Cannot open the %1: %2").arg(m_url.describe(), errorText(db.lastError())));
    try {
        if (m_url.engine == Engine::Sqlite) {
            // A file that is not a database opens fine and fails on its first read: read now.
            run(QStringLiteral("PRAGMA schema_version")).next();
            run(QStringLiteral("PRAGMA journal_mode=WAL")).next();
            run(QStringLiteral("PRAGMA synchronous=NORMAL"));
        } else {
            // The program reports what fails itself; the server's notices and warnings ("there is
            // no transaction in progress") would only clutter a station's output.
            run(QStringLiteral("SET client_min_messages TO ERROR"));
        }
    } catch (const DbError& e) {
        return fail(QStringLiteral("The %1 cannot be used: %2").arg(m_url.describe(), e.text()));
    }
    return true;
}

bool Database::createOwnerOnly(const QString& path, QString* why)
{
    // The file holds the site's data and password hashes: folders made for it and the file itself
    // are the owner's alone. SQLite gives its -wal and -shm files the mode of the database file.
    const QString folder = QFileInfo(path).absolutePath();
    if (!Paths::makeOwnerFolders(folder)) {
        *why = QStringLiteral("the folder %1 cannot be created").arg(folder);
        return false;
    }
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly)) {
        if (f.exists())
            return true; // another station made it meanwhile
        *why = f.errorString();
        return false;
    }
    return true;
}

std::optional<QString> Database::quickCheck() const
{
    try {
        QSqlQuery q = run(QStringLiteral("PRAGMA quick_check"));
        QStringList problems;
        while (q.next()) {
            const QString line = q.value(0).toString();
            if (line != QLatin1String("ok"))
                problems << line;
        }
        const QSqlError e = q.lastError();
        if (e.isValid())
            problems << errorText(e);
        if (problems.isEmpty())
            return std::nullopt;
        // SQLite heads its findings with "*** in database main ***": the page is what matters.
        static const QRegularExpression heading(
            QStringLiteral("^\\*\\*\\* in database \\S+ \\*\\*\\*\\s*"));
        return oneLine(problems.first().remove(heading));
    } catch (const DbError& e) {
        return e.text();
    }
}

bool Database::isOpen() const
{
    return handle().isOpen();
}

void Database::close()
{
    m_kept.clear();
    QSqlDatabase db = handle();
    if (db.isOpen())
        db.close();
}

QString Database::keepAliveOptions()
{
    return QStringLiteral("keepalives=1;keepalives_idle=5;keepalives_interval=2;keepalives_count=3;tcp_user_timeout=10000");
}

QSqlQuery Database::exec(const QString& sql, const QVariantList& values, QSqlError* error) const
{
    *error = QSqlError();
    const QSqlDatabase db = handle();
    QSqlQuery q(db);
    // Checked here, so a statement on a closed connection is one error of ours and no driver
    // warning on the console.
    if (!db.isOpen()) {
        *error = QSqlError(QString(), QString(), QSqlError::ConnectionError);
        return q;
    }
    q.setForwardOnly(true);
    if (values.isEmpty()) {
        if (!q.exec(sql))
            *error = q.lastError();
        return q;
    }
    if (!q.prepare(sql)) {
        *error = q.lastError();
        return q;
    }
    bindAll(q, values);
    if (!q.exec())
        *error = q.lastError();
    return q;
}

QSqlQuery Database::run(const QString& sql, const QVariantList& values) const
{
    if (m_transactionLost) {
        // The server dropped the transaction with the connection: nothing is left to roll back,
        // and nothing more may run as if it were still open.
        if (firstWord(sql) == QLatin1String("ROLLBACK")) {
            m_transactionLost = false;
            return QSqlQuery(handle());
        }
        throw ConnectionLost(QStringLiteral("The connection to the %1 was lost in the middle of a change; the "
                                            "change was not stored.")
                                 .arg(m_url.describe()),
                             false);
    }
    ensureOpen();
    QSqlError error;
    QSqlQuery q = exec(sql, values, &error);
    if (!error.isValid())
        return q;
    if (!broken(error))
        throw DbError(failureText(error.type() == QSqlError::ConnectionError && error.text().isEmpty() ? QSqlError() : error));
    const bool inTransaction = m_inTransaction;
    const QString again = recover();
    if (!inTransaction && !m_lost && repeatable(sql)) {
        q = exec(sql, values, &error);
        if (!error.isValid())
            return q;
        if (!broken(error))
            throw DbError(failureText(error));
        throwLost(sql, inTransaction, recover());
    }
    throwLost(sql, inTransaction, again);
}

bool Database::ensureOpen() const
{
    if (m_lost && !handle().isOpen() && steadyMs() - m_lastReopenMs >= reopenPauseMs)
        recover();
    return handle().isOpen();
}

void Database::checkLost(const QString& sql, const QSqlError& error) const
{
    if (!broken(error))
        return;
    const bool inTransaction = m_inTransaction;
    throwLost(sql, inTransaction, recover());
}

bool Database::broken(const QSqlError& error) const
{
    if (m_url.engine != Engine::Postgres)
        return false;
    pg_conn* c = postgresHandle();
    if (c && PQstatus(c) == CONNECTION_BAD)
        return true;
    // The server ended the session (an administrator, a shutdown, a crash of another backend), or
    // the client library lost the socket: the connection is of no more use even where the
    // library has not marked it yet.
    const QString code = error.nativeErrorCode();
    if (code.startsWith(QLatin1String("57P0")) || code.startsWith(QLatin1String("08")))
        return true;
    const QString text = error.databaseText() + error.driverText();
    for (const char* lost : {"server closed the connection unexpectedly", "no connection to the server",
                             "could not receive data from server", "could not send data to server",
                             "terminating connection due to"})
        if (text.contains(QLatin1String(lost)))
            return true;
    return false;
}

QString Database::recover() const
{
    m_lastReopenMs = steadyMs();
    QSqlDatabase db = handle();
    db.close();
    ++m_generation;
    QString line;
    QString status;
    if (db.open()) {
        QSqlError ignored;
        // As open() does; a failure here shows at the next statement.
        exec(QStringLiteral("SET client_min_messages TO ERROR"), {}, &ignored);
        pg_conn* c = postgresHandle();
        const QString where = c ? QStringLiteral("%1:%2").arg(QString::fromUtf8(PQhost(c)), QString::fromUtf8(PQport(c)))
                                : m_url.hostAndPort();
        const bool wasDown = m_lost;
        m_lost = false;
        status = QStringLiteral("Connected again to %1.").arg(where);
        line = wasDown ? QStringLiteral("The %1 can be reached again, at %2.").arg(m_url.describe(), where)
                       : QStringLiteral("The connection to the %1 was lost; connected again to %2.")
                             .arg(m_url.describe(), where);
    } else {
        const QString why = errorText(db.lastError());
        status = QStringLiteral("It cannot be made again yet: %1").arg(why);
        // Said once when it goes, not at every try.
        if (!m_lost)
            line = QStringLiteral("The connection to the %1 was lost and cannot be made again yet: %2")
                       .arg(m_url.describe(), why);
        m_lost = true;
    }
    if (!line.isEmpty() && reconnectNotice())
        reconnectNotice()(oneLine(line));
    return status;
}

void Database::throwLost(const QString& sql, bool inTransaction, const QString& again) const
{
    const QString word = firstWord(sql);
    bool unknown = false;
    QString what;
    if (inTransaction) {
        // Until the caller ends the transaction, its other statements must not run without it.
        m_transactionLost = word != QLatin1String("ROLLBACK");
        unknown = word == QLatin1String("COMMIT") || word == QLatin1String("END");
        what = unknown ? QStringLiteral("while a change was being committed: it may or may not have been stored.")
                       : QStringLiteral("in the middle of a change; the change was not stored.");
    } else if (repeatable(sql)) {
        what = QStringLiteral("while reading.");
    } else {
        unknown = true;
        what = QStringLiteral("while a change was being stored: it may or may not have been stored.");
    }
    throw ConnectionLost(
        oneLine(QStringLiteral("The connection to the %1 was lost %2 %3").arg(m_url.describe(), what, again)), unknown);
}

QVariant Database::scalar(const QString& sql, const QVariantList& values) const
{
    QSqlQuery q = run(sql, values);
    if (!q.next()) {
        if (q.lastError().isValid())
            throw DbError(errorText(q.lastError()));
        return {};
    }
    return q.value(0);
}

std::optional<QVariantList> Database::firstRow(const QString& sql, const QVariantList& values) const
{
    QSqlQuery q = run(sql, values);
    std::optional<QVariantList> row;
    if (q.next()) {
        row.emplace();
        const int n = q.record().count();
        for (int i = 0; i < n; ++i)
            row->append(q.value(i));
    }
    readToEnd(q);
    return row;
}

qint64 Database::insert(const QString& sql, const QVariantList& values) const
{
    const std::optional<QVariantList> row = firstRow(sql, values);
    if (!row || row->isEmpty())
        throw DbError(QStringLiteral("The new row's key was not returned."));
    return row->first().toLongLong();
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
    m_db.m_inTransaction = true;
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
    m_db.m_inTransaction = false;
    m_db.m_transactionLost = false;
}

void Transaction::commit()
{
    m_db.run(QStringLiteral("COMMIT"));
    m_open = false;
    m_db.m_inTransaction = false;
}

} // namespace tallyvo
