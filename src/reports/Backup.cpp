#include "reports/Backup.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "core/SafeFile.h"
#include "core/Schema.h"
#include "reports/PgTools.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QThread>
#include <QUuid>
#include <algorithm>
#include <optional>
#include <sqlite3.h>

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

bool stopped(const Control& control)
{
    return control.cancelled && control.cancelled();
}

QString nothingChanged()
{
    return tr("Stopped: nothing was changed.");
}

// A restore is done once the restored data has the schema of this program; when bringing it up
// to date fails, the data is restored all the same and the result says so.
Result upgraded(const Database& db, Result r)
{
    try {
        Schema::upgrade(db);
        r.status = Status::Done;
    } catch (const DbError& e) {
        r.status = Status::NotUpgraded;
        r.message = e.text();
    }
    return r;
}

// What a backup holds, read from the file alone.
struct Contents {
    int version = 0;
    QMap<QString, QStringList> columns; // lower-case table name -> lower-case columns in order
    qint64 tokensToday = 0;
    qint64 callsToday = 0;
};

// The reason a backup does not fit this program's schema, or "".
QString misfit(const Contents& c)
{
    if (c.version < 1)
        return tr("it holds no schema version.");
    if (c.version > Schema::latestVersion())
        return tr("it was written by a newer version of the program (schema %1).").arg(c.version);
    const QMap<QString, QStringList> want = Schema::columnsAt(c.version);
    for (auto it = want.begin(); it != want.end(); ++it) {
        if (!c.columns.contains(it.key()))
            return tr("it has no table %1.").arg(it.key());
        const QStringList& have = c.columns[it.key()];
        if (have != it.value())
            return tr("its table %1 has the columns (%2) where schema %3 has (%4).")
                .arg(it.key(), have.join(QStringLiteral(", ")))
                .arg(c.version)
                .arg(it.value().join(QStringLiteral(", ")));
    }
    return QString();
}

QString busyText(int lockWaitMs)
{
    return tr("Other stations are working on the database: it stayed locked for more than %1 s, so nothing "
              "was restored. Try again when the stations are idle.")
        .arg(lockWaitMs / 1000.0);
}

// ---- SQLite ----------------------------------------------------------------------------------

// One sqlite3 connection of our own, closed on every way out.
struct RawDb {
    sqlite3* db = nullptr;
    ~RawDb() { sqlite3_close_v2(db); }
    QString error() const { return db ? QString::fromUtf8(sqlite3_errmsg(db)) : tr("out of memory"); }
};

// Copies every page of from into to in one step, waiting a while as long as another station
// holds the database; *busy when it held it for longer.
bool copyPages(sqlite3* to, sqlite3* from, const Control& control, QString* why, bool* busy = nullptr)
{
    sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
    if (!b) {
        *why = QString::fromUtf8(sqlite3_errmsg(to));
        return false;
    }
    int rc = SQLITE_OK;
    const int attempts = std::max(1, control.lockWaitMs / 50);
    for (int attempt = 0; attempt < attempts && !stopped(control); ++attempt) {
        rc = sqlite3_backup_step(b, -1);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
            break;
        if (control.progress)
            control.progress(0);
        QThread::msleep(50);
    }
    // Finishing before the last page leaves the destination as it was.
    const int finish = sqlite3_backup_finish(b);
    if (rc != SQLITE_DONE) {
        *why = stopped(control) ? nothingChanged() : QString::fromUtf8(sqlite3_errstr(rc != SQLITE_OK ? rc : finish));
        if (busy)
            *busy = rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
        return false;
    }
    if (finish != SQLITE_OK) {
        *why = QString::fromUtf8(sqlite3_errmsg(to));
        return false;
    }
    return true;
}

// The rows of a statement, each as its columns' texts; nullopt (with the reason) when it fails.
std::optional<QList<QStringList>> rows(sqlite3* db, const QString& sql, const QStringList& values, QString* why)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK) {
        *why = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(stmt);
        return std::nullopt;
    }
    for (int i = 0; i < values.size(); ++i) {
        const QByteArray v = values[i].toUtf8();
        sqlite3_bind_text(stmt, i + 1, v.constData(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    QList<QStringList> out;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c)
            row << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)));
        out << row;
    }
    if (rc != SQLITE_DONE)
        *why = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return out;
}

std::optional<QString> firstValue(sqlite3* db, const QString& sql, QString* why, const QStringList& values = {})
{
    const std::optional<QList<QStringList>> r = rows(db, sql, values, why);
    if (!r)
        return std::nullopt;
    return r->isEmpty() || r->first().isEmpty() ? QString() : r->first().first();
}

// Reads what an embedded backup holds; nullopt with the reason when it is no sound database.
std::optional<Contents> sqliteContents(const QString& file, const QString& today, QString* why)
{
    if (!SafeFile::isRegularFile(file, why))
        return std::nullopt;
    RawDb src;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &src.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        *why = src.error();
        return std::nullopt;
    }
    const std::optional<QString> check = firstValue(src.db, QStringLiteral("PRAGMA integrity_check"), why);
    if (!check)
        return std::nullopt;
    if (*check != QLatin1String("ok")) {
        *why = tr("it failed its integrity check: %1").arg(*check);
        return std::nullopt;
    }
    Contents c;
    const std::optional<QList<QStringList>> tables =
        rows(src.db, QStringLiteral("SELECT name FROM sqlite_master WHERE type='table'"), {}, why);
    if (!tables)
        return std::nullopt;
    for (const QStringList& t : *tables) {
        const std::optional<QList<QStringList>> info =
            rows(src.db, QStringLiteral("SELECT name FROM pragma_table_info(?)"), {t.first()}, why);
        if (!info)
            return std::nullopt;
        QStringList names;
        for (const QStringList& col : *info)
            names << col.first().toLower();
        c.columns.insert(t.first().toLower(), names);
    }
    if (!c.columns.contains(QStringLiteral("tblversion"))) {
        *why = tr("it has no table %1.").arg(QStringLiteral("tblversion"));
        return std::nullopt;
    }
    const std::optional<QString> version = firstValue(src.db, QStringLiteral("SELECT max(version) FROM tblversion"), why);
    if (!version)
        return std::nullopt;
    c.version = version->toInt();
    if (const QString wrong = misfit(c); !wrong.isEmpty()) {
        *why = wrong;
        return std::nullopt;
    }
    const std::optional<QString> tokens =
        firstValue(src.db, QStringLiteral("SELECT count(*) FROM tblTicket WHERE tickDate=?"), why, {today});
    const std::optional<QString> calls =
        tokens ? firstValue(src.db, QStringLiteral("SELECT count(*) FROM tblCall WHERE tickDate=?"), why, {today})
               : std::nullopt;
    if (!calls)
        return std::nullopt;
    c.tokensToday = tokens->toLongLong();
    c.callsToday = calls->toLongLong();
    return c;
}

// Writes a consistent copy of db into a new file of its own in folder; its path, or "" with why.
QString snapshot(const Database& db, const QString& folder, const QString& name, const Control& control, QString* why)
{
    sqlite3* source = db.sqliteHandle();
    if (!source) {
        *why = tr("The embedded database %1 is not open.").arg(db.url().describe());
        return QString();
    }
    const QString part = SafeFile::createTemp(folder, name, why);
    if (part.isEmpty())
        return QString();
    bool ok = false;
    {
        RawDb copy;
        // The empty file made above keeps its owner-only mode: SQLite takes an empty file as a
        // new database.
        if (sqlite3_open_v2(QFile::encodeName(part).constData(), &copy.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            *why = copy.error();
        } else if (copyPages(copy.db, source, control, why)) {
            // One self-contained file: no write-ahead log beside it.
            firstValue(copy.db, QStringLiteral("PRAGMA journal_mode=DELETE"), why);
            const std::optional<QString> check = firstValue(copy.db, QStringLiteral("PRAGMA integrity_check"), why);
            if (check && *check == QLatin1String("ok"))
                ok = true;
            else if (check)
                *why = tr("The copy failed its integrity check: %1").arg(*check);
        }
    }
    if (!ok) {
        QFile::remove(part);
        return QString();
    }
    return part;
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

Result noTools()
{
    return failed(Status::NoTools, tr("The PostgreSQL client tools (pg_dump and pg_restore) are not installed on "
                                      "this station. Install the postgresql-client package and try again."));
}

// Dumps the site's database into a new owner-only file in folder; its path, or "" with why.
QString pgDump(const QString& tool, const DbUrl& url, const QString& folder, const QString& name,
               const Control& control, QString* why)
{
    const QString part = SafeFile::createTemp(folder, name, why);
    if (part.isEmpty())
        return QString();
    // pg_dump writes into the file made above, which keeps its owner-only mode.
    PgTools::Job job(tool, {QStringLiteral("-Fc"), QStringLiteral("--verbose"),
                            QStringLiteral("--lock-wait-timeout=%1").arg(control.lockWaitMs), QStringLiteral("-f"),
                            part, url.database});
    job.server = &url;
    job.expectedSteps = 4 * static_cast<int>(Schema::tables().size()) + 20;
    const PgTools::Run r = PgTools::run(job, control);
    if (!r.ok) {
        *why = r.error;
        QFile::remove(part);
        return QString();
    }
    return part;
}

// "CREATE TABLE public.tblticket (" ... ");" in a schema script: every table's columns.
void readCreateTables(const QByteArray& script, QMap<QString, QStringList>* columns)
{
    static const QRegularExpression head(QStringLiteral("^CREATE TABLE (?:\"?public\"?\\.)?\"?([^\" (]+)\"? \\($"));
    QString table;
    for (const QByteArray& raw : script.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (table.isEmpty()) {
            const QRegularExpressionMatch m = head.match(line);
            if (m.hasMatch()) {
                table = m.captured(1).toLower();
                (*columns)[table];
            }
            continue;
        }
        if (line.startsWith(QLatin1Char(')'))) {
            table.clear();
            continue;
        }
        QString name = line.trimmed();
        if (name.startsWith(QLatin1String("CONSTRAINT ")))
            continue;
        if (name.startsWith(QLatin1Char('"')))
            name = name.mid(1, name.indexOf(QLatin1Char('"'), 1) - 1);
        else
            name = name.section(QLatin1Char(' '), 0, 0);
        (*columns)[table] << name.toLower();
    }
}

// Hands each line of the named tables' data in a dump (COPY blocks) to onLine, without a server.
bool readRows(const QString& restoreTool, const QString& file, const QStringList& tables,
              const std::function<void(const QByteArray&)>& onLine, const Control& control, QString* why)
{
    QStringList args{QStringLiteral("--data-only")};
    for (const QString& table : tables)
        args << QStringLiteral("-t") << table;
    args << QStringLiteral("-f") << QStringLiteral("-") << file;
    const PgTools::Run run = PgTools::run(PgTools::Job(restoreTool, args, onLine), control);
    if (!run.ok)
        *why = run.error;
    return run.ok;
}

// Reads what a dump holds without restoring it anywhere; nullopt with the reason when it is no
// dump of this program. Counting today's rows reads the dump's whole data, so only when asked.
std::optional<Contents> pgContents(const QString& restoreTool, const QString& file, const QString& today,
                                   bool countToday, const Control& control, QString* why)
{
    if (!SafeFile::isRegularFile(file, why))
        return std::nullopt;
    QByteArray script;
    auto collect = [&script](const QByteArray& line) { script += line; };
    const PgTools::Run schema = PgTools::run(
        PgTools::Job(restoreTool, {QStringLiteral("--schema-only"), QStringLiteral("-f"), QStringLiteral("-"), file}, collect),
        control);
    if (!schema.ok) {
        *why = schema.error;
        return std::nullopt;
    }
    Contents c;
    readCreateTables(script, &c.columns);
    if (!c.columns.contains(QStringLiteral("tblversion"))) {
        *why = tr("it has no table %1.").arg(QStringLiteral("tblversion"));
        return std::nullopt;
    }
    // The version rows: "COPY public.tblversion (version) FROM stdin;", numbers, "\.".
    bool inData = false;
    auto version = [&](const QByteArray& line) {
        if (line.startsWith("COPY "))
            inData = true;
        else if (line.startsWith("\\."))
            inData = false;
        else if (inData)
            c.version = std::max(c.version, line.trimmed().toInt());
    };
    if (!readRows(restoreTool, file, {QStringLiteral("tblversion")}, version, control, why))
        return std::nullopt;
    if (const QString wrong = misfit(c); !wrong.isEmpty()) {
        *why = wrong;
        return std::nullopt;
    }
    if (!countToday)
        return c;
    // Today's rows of the two tables, by the position of tickdate in each COPY's column list.
    qint64* counter = nullptr;
    int dateColumn = -1;
    const QByteArray day = today.toUtf8();
    auto count = [&](const QByteArray& line) {
        if (line.startsWith("COPY ")) {
            const QByteArray table = line.mid(5, line.indexOf(' ', 5) - 5).toLower();
            counter = table.endsWith("tblticket") ? &c.tokensToday : table.endsWith("tblcall") ? &c.callsToday : nullptr;
            const QList<QByteArray> names = line.mid(line.indexOf('(') + 1, line.indexOf(')') - line.indexOf('(') - 1).split(',');
            dateColumn = -1;
            for (int i = 0; i < names.size(); ++i)
                if (names[i].trimmed().toLower() == "tickdate")
                    dateColumn = i;
        } else if (line.startsWith("\\.")) {
            counter = nullptr;
        } else if (counter && dateColumn >= 0) {
            if (line.split('\t').value(dateColumn).trimmed() == day)
                ++*counter;
        }
    };
    if (!readRows(restoreTool, file, {QStringLiteral("tblticket"), QStringLiteral("tblcall")}, count, control, why))
        return std::nullopt;
    return c;
}

Result pgRestore(const Database& db, const QString& source, const Control& control)
{
    const QString dump = PgTools::find(QStringLiteral("pg_dump"));
    const QString restoreTool = PgTools::find(QStringLiteral("pg_restore"));
    if (dump.isEmpty() || restoreTool.isEmpty())
        return noTools();
    QString why;
    if (!pgContents(restoreTool, source, QString(), false, control, &why)) {
        if (stopped(control))
            return failed(Status::Cancelled, nothingChanged());
        return failed(Status::NotADatabase, tr("%1 is not a backup of a Tallyvo database: %2 Nothing was changed.")
                                                .arg(QDir::toNativeSeparators(source), why));
    }
    Result r;
    r.path = source;
    const QString folder = QFileInfo(source).absolutePath();
    const QString part = pgDump(dump, db.url(), folder, db.url().database + QStringLiteral(".dump"), control, &why);
    if (part.isEmpty()) {
        if (stopped(control))
            return failed(Status::Cancelled, nothingChanged());
        return failed(Status::Failed, tr("No safety copy could be made, so nothing was restored: %1").arg(why));
    }
    r.safetyCopy = SafeFile::publishNew(
        part, QDir(folder).filePath(QStringLiteral("%1-before-restore-%2.dump").arg(db.url().database, stamp())), &why);
    if (r.safetyCopy.isEmpty()) {
        QFile::remove(part);
        return failed(Status::Failed, tr("No safety copy could be made, so nothing was restored: %1").arg(why));
    }

    // The items pg_restore will work through, for its progress.
    int items = 0;
    PgTools::run(PgTools::Job(restoreTool, {QStringLiteral("--list"), source},
                              [&items](const QByteArray& line) {
                                  if (!line.startsWith(';'))
                                      ++items;
                              }),
                 control);
    // pg_restore sets lock_timeout to 0 in its session, whatever it is given: the station
    // watches the tool's session instead and cancels a statement that waits too long behind
    // another station's transaction. The single transaction then leaves everything as it was.
    PgTools::Job job(restoreTool,
                     {QStringLiteral("--clean"), QStringLiteral("--if-exists"), QStringLiteral("--single-transaction"),
                      QStringLiteral("--no-owner"), QStringLiteral("--no-privileges"), QStringLiteral("--verbose"),
                      QStringLiteral("-d"), db.url().database, source});
    job.server = &db.url();
    job.expectedSteps = std::max(items, 1) * 2;
    job.applicationName = QStringLiteral("tallyvo-restore-%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(16));
    QElapsedTimer waiting;
    job.lockWatch = [&]() {
        try {
            const QVariant pid = db.scalar(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name=? "
                                                          "AND wait_event_type='Lock'"),
                                           {job.applicationName});
            if (!pid.isValid()) {
                waiting.invalidate();
                return false;
            }
            if (!waiting.isValid())
                waiting.start();
            if (waiting.elapsed() < control.lockWaitMs)
                return false;
            db.run(QStringLiteral("SELECT pg_cancel_backend(?)"), {pid});
            return true;
        } catch (const DbError&) {
            return false; // the tool's own error will say what is wrong
        }
    };
    const PgTools::Run run = PgTools::run(job, control);
    if (!run.ok) {
        r.status = run.cancelled ? Status::Cancelled : run.lockTimeout ? Status::Busy : Status::Failed;
        r.message = run.lockTimeout ? busyText(control.lockWaitMs) : run.error;
        return r;
    }
    return upgraded(db, r);
}

// Today's tokens and calls the site holds, and how long ago a station last wrote a token.
Loss lossAgainst(const Database& db, const Contents& backup, const Clock& clock)
{
    Loss loss;
    const QString today = clock.todayText();
    const qint64 tokens =
        db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE tickDate=?"), {today}).toLongLong();
    const qint64 calls = db.scalar(QStringLiteral("SELECT count(*) FROM tblCall WHERE tickDate=?"), {today}).toLongLong();
    loss.tokens = std::max<qint64>(0, tokens - backup.tokensToday);
    loss.calls = std::max<qint64>(0, calls - backup.callsToday);
    const std::optional<QVariantList> last = db.firstRow(
        QStringLiteral("SELECT max(tickTime), max(attTime), max(finished) FROM tblTicket WHERE tickDate=?"), {today});
    QTime latest;
    for (const QVariant& v : last.value_or(QVariantList())) {
        const QTime t = QTime::fromString(v.toString(), QStringLiteral("HH:mm:ss"));
        if (t.isValid() && (!latest.isValid() || t > latest))
            latest = t;
    }
    // Writes in the last quarter of an hour mean the site is at work now.
    if (latest.isValid()) {
        const int seconds = latest.secsTo(clock.now());
        if (seconds >= -60 && seconds < 15 * 60)
            loss.minutesSinceWrite = std::max(0, seconds / 60);
    }
    return loss;
}

// Writes a backup of db into folder as name: replacing a file of that name, or, with keepOthers,
// under the first free name beside it.
Result backupAs(const Database& db, const QString& folder, const QString& name, bool keepOthers,
                const Control& control)
{
    if (!QFileInfo(folder).isDir())
        return failed(Status::Failed, tr("The folder %1 does not exist.").arg(folder));
    Result r;
    r.path = QDir(folder).filePath(name);
    if (db.engine() == Engine::Sqlite && (sameFile(r.path, db.url().path) || sameFile(folder, databaseFolder(db))))
        return failed(Status::SameFolder, QString());
    QString part;
    if (db.engine() == Engine::Postgres) {
        const QString dump = PgTools::find(QStringLiteral("pg_dump"));
        const QString restoreTool = PgTools::find(QStringLiteral("pg_restore"));
        if (dump.isEmpty() || restoreTool.isEmpty())
            return noTools();
        part = pgDump(dump, db.url(), folder, name, control, &r.message);
        if (!part.isEmpty()) {
            // A dump that pg_restore cannot read is no backup.
            const PgTools::Run list = PgTools::run(PgTools::Job(restoreTool, {QStringLiteral("--list"), part}), control);
            if (!list.ok) {
                QFile::remove(part);
                return failed(list.cancelled ? Status::Cancelled : Status::Failed, list.error);
            }
        }
    } else {
        part = snapshot(db, folder, name, control, &r.message);
    }
    if (part.isEmpty())
        return failed(stopped(control) ? Status::Cancelled : Status::Failed, r.message);
    if (keepOthers) {
        r.path = SafeFile::publishNew(part, r.path, &r.message);
        if (r.path.isEmpty()) {
            QFile::remove(part);
            return failed(Status::Failed, r.message);
        }
    } else if (!SafeFile::replace(part, r.path, &r.message)) {
        QFile::remove(part);
        return failed(Status::Failed, r.message);
    }
    r.status = Status::Done;
    return r;
}

// The place of a kept backup's name among the others (its time, then the number a second backup
// of the same second got); nullopt for any other name.
std::optional<std::pair<QString, int>> keptOrder(const Database& db, const QString& name)
{
    static const QRegularExpression kept(
        QStringLiteral("^tallyvo-([0-9]{8}T[0-9]{6}Z)(?:-([0-9]{1,3}))?\\.([a-z]+)$"));
    const QRegularExpressionMatch m = kept.match(name);
    if (!m.hasMatch() || m.captured(3) != QFileInfo(fileName(db)).suffix())
        return std::nullopt;
    return std::make_pair(m.captured(1), m.captured(2).isEmpty() ? 1 : m.captured(2).toInt());
}

} // namespace

QString Loss::text() const
{
    QStringList parts;
    if (tokens > 0 || calls > 0)
        parts << tr("The backup lacks %1 of today's tokens and %2 of today's calls that the database holds now: "
                    "they will be lost, and their numbers will be issued again.")
                     .arg(tokens)
                     .arg(calls);
    if (minutesSinceWrite == 0)
        parts << tr("Stations wrote to the database less than a minute ago: they are working now, and what they "
                    "write until the restore is lost too.");
    else if (minutesSinceWrite == 1)
        parts << tr("Stations wrote to the database a minute ago: they may be working now, and what they write "
                    "until the restore is lost too.");
    else if (minutesSinceWrite > 1)
        parts << tr("Stations wrote to the database %1 minutes ago: they may be working now, and what they write "
                    "until the restore is lost too.")
                     .arg(minutesSinceWrite);
    return parts.join(QLatin1Char(' '));
}

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
    return sqliteContents(file, QString(), why).has_value();
}

Result backup(const Database& db, const QString& folder, const Control& control)
{
    return backupAs(db, folder, fileName(db), false, control);
}

bool isKeptName(const Database& db, const QString& name)
{
    return keptOrder(db, name).has_value();
}

Rotation backupKeeping(const Database& db, const QString& folder, int keep, const Clock& clock, const Control& control)
{
    Rotation out;
    const QString suffix = QFileInfo(fileName(db)).suffix();
    const QString name = QStringLiteral("tallyvo-%1.%2")
                             .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")), suffix);
    out.backup = backupAs(db, folder, name, true, control);
    if (out.backup.status != Status::Done)
        return out;
    const Result checked = check(db, out.backup.path, clock, nullptr, control);
    if (checked.status != Status::Done) {
        // A backup that cannot be restored must not count as one of the kept, or the next run
        // would remove a good one in its favour.
        QFile::remove(out.backup.path);
        out.backup.status = checked.status == Status::Cancelled ? Status::Cancelled : Status::Failed;
        out.backup.message = tr("The new backup failed its check, so no older backup was removed: %1")
                                 .arg(checked.message);
        return out;
    }
    QList<QPair<std::pair<QString, int>, QString>> older;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const std::optional<std::pair<QString, int>> order = keptOrder(db, entry.fileName());
        if (!order || sameFile(entry.absoluteFilePath(), out.backup.path))
            continue;
        QString notRegular;
        if (entry.isSymLink() || !SafeFile::isRegularFile(entry.absoluteFilePath(), &notRegular))
            continue;
        older.append({*order, entry.absoluteFilePath()});
    }
    // Newest first; the new backup is one of the kept.
    std::sort(older.begin(), older.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (qsizetype i = std::max(0, keep - 1); i < older.size(); ++i) {
        QFile f(older[i].second);
        if (f.remove())
            out.removed << older[i].second;
        else
            out.notRemoved << tr("%1: %2").arg(QDir::toNativeSeparators(older[i].second), f.errorString());
    }
    return out;
}

Result check(const Database& db, const QString& source, const Clock& clock, Loss* loss, const Control& control)
{
    if (db.engine() == Engine::Sqlite && sameFile(source, db.url().path))
        return failed(Status::SameFile, QString());
    QString why;
    std::optional<Contents> contents;
    if (db.engine() == Engine::Postgres) {
        const QString restoreTool = PgTools::find(QStringLiteral("pg_restore"));
        if (restoreTool.isEmpty())
            return noTools();
        contents = pgContents(restoreTool, source, clock.todayText(), loss != nullptr, control, &why);
    } else {
        contents = sqliteContents(source, clock.todayText(), &why);
    }
    if (!contents) {
        if (stopped(control))
            return failed(Status::Cancelled, nothingChanged());
        return failed(Status::NotADatabase, tr("%1 is not a backup of a Tallyvo database: %2 Nothing was changed.")
                                                .arg(QDir::toNativeSeparators(source), why));
    }
    if (loss)
        *loss = lossAgainst(db, *contents, clock);
    Result r;
    r.status = Status::Done;
    r.path = source;
    return r;
}

Result restore(const Database& db, const QString& source, const Control& control)
{
    if (db.engine() == Engine::Postgres)
        return pgRestore(db, source, control);
    if (sameFile(source, db.url().path))
        return failed(Status::SameFile, QString());
    QString why;
    if (!sqliteContents(source, QString(), &why))
        return failed(Status::NotADatabase, tr("%1 is not a backup of a Tallyvo database: %2 Nothing was changed.")
                                                .arg(QDir::toNativeSeparators(source), why));

    Result r;
    r.path = source;
    const QFileInfo current(db.url().path);
    const QString part = snapshot(db, current.absolutePath(), current.fileName(), control, &r.message);
    if (part.isEmpty()) {
        if (stopped(control))
            return failed(Status::Cancelled, nothingChanged());
        return failed(Status::Failed, tr("No safety copy could be made, so nothing was restored: %1").arg(r.message));
    }
    r.safetyCopy = SafeFile::publishNew(
        part,
        current.absoluteDir().filePath(
            QStringLiteral("%1-before-restore-%2.%3").arg(current.completeBaseName(), stamp(), current.suffix())),
        &r.message);
    if (r.safetyCopy.isEmpty()) {
        QFile::remove(part);
        return failed(Status::Failed, tr("No safety copy could be made, so nothing was restored: %1").arg(r.message));
    }

    RawDb src;
    if (sqlite3_open_v2(QFile::encodeName(source).constData(), &src.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return failed(Status::Failed, src.error());
    // The pages go into the station's own connection in one write transaction.
    bool busy = false;
    if (!copyPages(db.sqliteHandle(), src.db, control, &r.message, &busy)) {
        r.status = stopped(control) ? Status::Cancelled : busy ? Status::Busy : Status::Failed;
        if (busy)
            r.message = busyText(control.lockWaitMs);
        return r;
    }
    return upgraded(db, r);
}

} // namespace tallyvo::Backup
