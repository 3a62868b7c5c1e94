#pragma once

#include <QString>

namespace tallyvo {

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
namespace Backup {

enum class Status {
    Done,
    SameFolder,   // the backup would replace the database itself
    SameFile,     // restoring the database from itself
    NotADatabase, // the file is not a sound database of this program; nothing was touched
    NoTools,      // pg_dump / pg_restore are not installed
    Failed,
};

struct Result {
    Status status = Status::Failed;
    QString message;    // what went wrong, in the words of the database or the tool
    QString path;       // the backup written, or the file restored
    QString safetyCopy; // the database as it was before a restore
};

// The name a backup of this engine gets in its folder.
QString fileName(const Database& db);
// The folder that holds the embedded database file ("" on PostgreSQL).
QString databaseFolder(const Database& db);

Result backup(const Database& db, const QString& folder);
// Afterwards the schema is brought up to date, so a backup of an older version works at once.
Result restore(const Database& db, const QString& source);

// Whether a file is a database of this program; why not in *why.
bool isTallyvoDatabase(const QString& file, QString* why);

} // namespace Backup
} // namespace tallyvo
