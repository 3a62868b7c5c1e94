#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace tallyvo {

class Clock;
class Database;

// Backup and restore of the database this station works on.
//
// Embedded (SQLite): the backup is a consistent snapshot taken with SQLite's online backup API on
// the station's own connection, so other stations go on writing meanwhile; it is checked and then
// moved into place as "data.mdb". A restore first checks that the file is a sound database of
// this program, keeps the current database as a safety copy beside it, and then copies the
// backup in with the same API inside one write transaction: other stations see the old data or
// the new, never a mixture.
//
// PostgreSQL: pg_dump writes the site's database in its custom format ("data.dump"); pg_restore
// brings it back into the same database in one transaction, after a safety dump.
//
// Every backup, safety copy and file in the making is the owner's alone (it holds the password
// hashes) and has a name no other run uses at the same moment; a safety copy never replaces
// another file.
namespace Backup {

enum class Status {
    Done,
    SameFolder,   // the backup would replace the database itself
    SameFile,     // restoring the database from itself
    NotADatabase, // the file is not a sound backup of this program; nothing was touched
    NoTools,      // pg_dump / pg_restore are not installed
    Busy,         // other stations held the tables longer than the restore waits; nothing changed
    Cancelled,    // stopped by the user; nothing changed
    NotUpgraded,  // the backup was restored, but bringing its schema up to date failed
    Failed,
};

struct Result {
    Status status = Status::Failed;
    QString message;    // what went wrong, in the words of the database or the tool
    QString path;       // the backup written, or the file restored
    QString safetyCopy; // the database as it was before a restore
};

// How a long backup or restore reports and is stopped. Both callbacks are called often from the
// caller's thread (a window keeps itself responsive in them); either may be empty.
struct Control {
    std::function<void(int percent)> progress;
    // True stops the work; a restore stopped this way has changed nothing.
    std::function<bool()> cancelled;
    // How long a restore waits for another station's open transaction to let go of a table,
    // and so also the longest that station's next statement waits behind the restore.
    int lockWaitMs = 5000;
};

// What a restore from a backup would take from the site as it is now.
struct Loss {
    qint64 tokens = 0; // today's tokens the database holds and the backup lacks
    qint64 calls = 0;  // the same for today's calls
    // Minutes since a station last wrote a token today, when that was in the last few minutes;
    // -1 otherwise.
    int minutesSinceWrite = -1;

    bool isEmpty() const { return tokens == 0 && calls == 0 && minutesSinceWrite < 0; }
    // Says it in words, for the question before a restore; "" when nothing is lost.
    QString text() const;
};

// The name a backup of this engine gets in its folder.
QString fileName(const Database& db);
// The folder that holds the embedded database file ("" on PostgreSQL).
QString databaseFolder(const Database& db);

Result backup(const Database& db, const QString& folder, const Control& control = {});

// A backup among others in one folder, for backups that run by themselves: written under a name
// of its own kind ("tallyvo-20261210T013000Z.mdb", UTC, never replacing a file), checked as
// check() does, and only then are the oldest files of that kind removed so that `keep` remain,
// the new one among them. A backup that fails or fails its check is removed and nothing else
// is; files of any other name, links and folders are never touched.
struct Rotation {
    Result backup;            // the new backup (its status says whether anything was removed)
    QStringList removed;      // older backups removed
    QStringList notRemoved;   // older backups that should have gone, each with why it could not
};
Rotation backupKeeping(const Database& db, const QString& folder, int keep, const Clock& clock,
                       const Control& control = {});
// Whether a file name is one backupKeeping() gives for this engine.
bool isKeptName(const Database& db, const QString& name);

// Checks a backup completely without touching the site's database: a regular file, a sound
// database or dump of this program, a schema version this program knows, and every table with
// the columns of that version. Done, or why not. With loss given, also says what a restore of it
// would take from the site today.
Result check(const Database& db, const QString& source, const Clock& clock, Loss* loss,
             const Control& control = {});

// Checks the backup as check() does, keeps a safety copy, replaces the data in one transaction
// and then brings the schema up to date, so a backup of an older version works at once.
Result restore(const Database& db, const QString& source, const Control& control = {});

// Whether a file is a database of this program; why not in *why.
bool isTallyvoDatabase(const QString& file, QString* why);

} // namespace Backup
} // namespace tallyvo
