#include "reports/Backup.h"

#include "core/Database.h"
#include "core/Schema.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <sqlite3.h>
#include <system_error>

namespace tallyvo::Backup {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Backup", text);
}

Result failed(Status status, const QString& message)
{
    Result r;
    r.status = status;
    r.message = message;
    return r;
}

// One sqlite3 connection of our own, closed on every way out.
struct RawDb {
    sqlite3* db = nullptr;
    ~RawDb() { sqlite3_close_v2(db); }
    QString error() const { return db ? QString::fromUtf8(sqlite3_errmsg(db)) : tr("out of memory"); }
};

// Copies every page of from into to in one step, waiting while another station writes.
bool copyPages(sqlite3* to, sqlite3* from, QString* why)
{
    sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
    if (!b) {
        *why = QString::fromUtf8(sqlite3_errmsg(to));
        return false;
    }
    int rc = SQLITE_OK;
    for (int attempt = 0; attempt < 200; ++attempt) {
        rc = sqlite3_backup_step(b, -1);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
            break;
        QThread::msleep(50);
    }
    const int finish = sqlite3_backup_finish(b);
    if (rc != SQLITE_DONE) {
        *why = QString::fromUtf8(sqlite3_errstr(rc != SQLITE_OK ? rc : finish));
        return false;
    }
    if (finish != SQLITE_OK) {
        *why = QString::fromUtf8(sqlite3_errmsg(to));
        return false;
    }
    return true;
}

// The first column of the first row of a statement; nullopt (with the reason) when it fails.
std::optional<QString> firstValue(sqlite3* db, const char* sql, QString* why)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        *why = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(stmt);
        return std::nullopt;
    }
    const int rc = sqlite3_step(stmt);
    std::optional<QString> value;
    if (rc == SQLITE_ROW)
        value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    else if (rc == SQLITE_DONE)
        value = QString();
    else
        *why = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    return value;
}

// Writes a consistent copy of db into file (replacing it), checked before it takes the name.
bool snapshot(const Database& db, const QString& file, QString* why)
{
    sqlite3* source = db.sqliteHandle();
    if (!source) {
        *why = tr("The embedded database %1 is not open.").arg(db.url().describe());
        return false;
    }
    const QString part = file + QStringLiteral(".part");
    QFile::remove(part);
    bool ok = false;
    {
        RawDb copy;
        if (sqlite3_open_v2(QFile::encodeName(part).constData(), &copy.db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            *why = copy.error();
        } else if (copyPages(copy.db, source, why)) {
            // One self-contained file: no write-ahead log beside it.
            firstValue(copy.db, "PRAGMA journal_mode=DELETE", why);
            const std::optional<QString> check = firstValue(copy.db, "PRAGMA integrity_check", why);
            if (check && *check == QLatin1String("ok"))
                ok = true;
            else if (check)
                *why = tr("The copy failed its integrity check: %1").arg(*check);
        }
    }
    if (ok) {
        std::error_code e;
        std::filesystem::rename(QFile::encodeName(part).toStdString(), QFile::encodeName(file).toStdString(), e);
        if (e) {
            *why = QString::fromLocal8Bit(e.message().c_str());
            ok = false;
        }
    }
    if (!ok)
        QFile::remove(part);
    return ok;
}

QString stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

bool sameFile(const QString& a, const QString& b)
{
    const QFileInfo fa(a), fb(b);
    if (fa.exists() && fb.exists())
        return fa.canonicalFilePath() == fb.canonicalFilePath();
    return QDir::cleanPath(fa.absoluteFilePath()) == QDir::cleanPath(fb.absoluteFilePath());
}

// ---- PostgreSQL -------------------------------------------------------------------------------

QString pgTool(const QString& name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    // Debian keeps the versioned client tools outside PATH when no wrapper is installed.
    QDir lib(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::sort(versions.begin(), versions.end(), [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& v : versions) {
        found = QStandardPaths::findExecutable(name, {lib.filePath(v + QStringLiteral("/bin"))});
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

struct ToolRun {
    bool ok = false;
    QString output;
    QString error;
};

ToolRun runTool(const QString& tool, const DbUrl& url, QStringList args)
{
    ToolRun r;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!url.password.isEmpty())
        env.insert(QStringLiteral("PGPASSWORD"), url.password);
    p.setProcessEnvironment(env);
    QStringList connection{QStringLiteral("--no-password"), QStringLiteral("-h"), url.host, QStringLiteral("-p"),
                           QString::number(url.port)};
    if (!url.user.isEmpty())
        connection << QStringLiteral("-U") << url.user;
    p.start(tool, connection + args);
    if (!p.waitForFinished(30 * 60 * 1000)) {
        p.kill();
        p.waitForFinished();
        r.error = tr("%1 did not finish: %2").arg(QFileInfo(tool).fileName(), p.errorString());
        return r;
    }
    r.output = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.error = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!r.ok && r.error.isEmpty())
        r.error = tr("%1 failed with exit code %2").arg(QFileInfo(tool).fileName()).arg(p.exitCode());
    return r;
}

Result noTools()
{
    return failed(Status::NoTools, tr("The PostgreSQL client tools (pg_dump and pg_restore) are not installed on "
                                      "this station. Install the postgresql-client package and try again."));
}

bool pgDump(const QString& tool, const DbUrl& url, const QString& file, QString* why)
{
    const QString part = file + QStringLiteral(".part");
    QFile::remove(part);
    const ToolRun r = runTool(tool, url, {QStringLiteral("-Fc"), QStringLiteral("-f"), part, url.database});
    if (!r.ok) {
        *why = r.error;
        QFile::remove(part);
        return false;
    }
    std::error_code e;
    std::filesystem::rename(QFile::encodeName(part).toStdString(), QFile::encodeName(file).toStdString(), e);
    if (e) {
        *why = QString::fromLocal8Bit(e.message().c_str());
        QFile::remove(part);
        return false;
    }
    return true;
}

Result pgBackup(const Database& db, const QString& folder)
{
    const QString tool = pgTool(QStringLiteral("pg_dump"));
    if (tool.isEmpty())
        return noTools();
    Result r;
    r.path = QDir(folder).filePath(fileName(db));
    if (!pgDump(tool, db.url(), r.path, &r.message))
        return failed(Status::Failed, r.message);
    r.status = Status::Done;
    return r;
}

Result pgRestore(const Database& db, const QString& source)
{
    const QString dump = pgTool(QStringLiteral("pg_dump"));
    const QString restoreTool = pgTool(QStringLiteral("pg_restore"));
    if (dump.isEmpty() || restoreTool.isEmpty())
        return noTools();
    // A dump of this program lists its tables; anything else is refused before anything changes.
    const ToolRun list = runTool(restoreTool, db.url(), {QStringLiteral("--list"), source});
    if (!list.ok)
        return failed(Status::NotADatabase, tr("%1 is not a backup of a Tallyvo database: %2").arg(source, list.error));
    for (const QString& table : Schema::tables()) {
        if (!list.output.contains(QStringLiteral(" TABLE public ") + table.toLower() + QLatin1Char(' ')))
            return failed(Status::NotADatabase,
                          tr("%1 is not a backup of a Tallyvo database: it has no table %2.").arg(source, table));
    }
    Result r;
    r.path = source;
    r.safetyCopy = QFileInfo(source).absoluteDir().filePath(
        QStringLiteral("%1-before-restore-%2.dump").arg(db.url().database, stamp()));
    if (!pgDump(dump, db.url(), r.safetyCopy, &r.message))
        return failed(Status::Failed, tr("No safety copy could be made, so nothing was restored: %1").arg(r.message));
    const ToolRun run = runTool(restoreTool, db.url(),
                                {QStringLiteral("--clean"), QStringLiteral("--if-exists"),
                                 QStringLiteral("--single-transaction"), QStringLiteral("--no-owner"),
                                 QStringLiteral("--no-privileges"), QStringLiteral("-d"), db.url().database, source});
    if (!run.ok) {
        r.status = Status::Failed;
        r.message = run.error;
        return r;
    }
    Schema::upgrade(db);
    r.status = Status::Done;
    return r;
}

} // namespace

QString fileName(const Database& db)
{
    return db.engine() == Engine::Sqlite ? QStringLiteral("data.mdb") : QStringLiteral("data.dump");
}

QString databaseFolder(const Database& db)
{
    return db.engine() == Engine::Sqlite ? QFileInfo(db.url().path).absolutePath() : QString();
}

bool isTallyvoDatabase(const QString& file, QString* why)
{
    if (!QFileInfo(file).isFile()) {
        *why = tr("%1 does not exist.").arg(file);
        return false;
    }
    RawDb src;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &src.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        *why = src.error();
        return false;
    }
    QString error;
    const std::optional<QString> check = firstValue(src.db, "PRAGMA integrity_check", &error);
    if (!check) {
        *why = error;
        return false;
    }
    if (*check != QLatin1String("ok")) {
        *why = tr("it failed its integrity check: %1").arg(*check);
        return false;
    }
    QStringList tables = Schema::tables();
    tables << QStringLiteral("tblversion");
    for (const QString& table : tables) {
        const QByteArray sql = "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='" + table.toUtf8() + "'";
        const std::optional<QString> n = firstValue(src.db, sql.constData(), &error);
        if (!n || *n != QLatin1String("1")) {
            *why = n ? tr("it has no table %1.").arg(table) : error;
            return false;
        }
    }
    const std::optional<QString> version = firstValue(src.db, "SELECT max(version) FROM tblversion", &error);
    if (!version || version->toInt() > Schema::latestVersion()) {
        *why = version ? tr("it was written by a newer version of the program (schema %1).").arg(*version) : error;
        return false;
    }
    return true;
}

Result backup(const Database& db, const QString& folder)
{
    if (!QFileInfo(folder).isDir())
        return failed(Status::Failed, tr("The folder %1 does not exist.").arg(folder));
    if (db.engine() == Engine::Postgres)
        return pgBackup(db, folder);
    Result r;
    r.path = QDir(folder).filePath(fileName(db));
    if (sameFile(r.path, db.url().path) || sameFile(folder, databaseFolder(db)))
        return failed(Status::SameFolder, QString());
    if (!snapshot(db, r.path, &r.message))
        return failed(Status::Failed, r.message);
    r.status = Status::Done;
    return r;
}

Result restore(const Database& db, const QString& source)
{
    if (db.engine() == Engine::Postgres)
        return pgRestore(db, source);
    if (sameFile(source, db.url().path))
        return failed(Status::SameFile, QString());
    QString why;
    if (!isTallyvoDatabase(source, &why))
        return failed(Status::NotADatabase, tr("%1 is not a Tallyvo database: %2 Nothing was changed.").arg(source, why));

    Result r;
    r.path = source;
    const QFileInfo current(db.url().path);
    r.safetyCopy = current.absoluteDir().filePath(
        QStringLiteral("%1-before-restore-%2.%3").arg(current.completeBaseName(), stamp(), current.suffix()));
    if (!snapshot(db, r.safetyCopy, &r.message))
        return failed(Status::Failed, tr("No safety copy could be made, so nothing was restored: %1").arg(r.message));

    RawDb src;
    if (sqlite3_open_v2(QFile::encodeName(source).constData(), &src.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return failed(Status::Failed, src.error());
    // The pages go into the station's own connection in one write transaction.
    if (!copyPages(db.sqliteHandle(), src.db, &r.message)) {
        r.status = Status::Failed;
        return r;
    }
    Schema::upgrade(db);
    r.status = Status::Done;
    return r;
}

} // namespace tallyvo::Backup
