#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace tallyvo {

class Database;

// Creates the tables on a new database and brings an older one up to date: a version row and
// numbered steps, each in its own transaction, so a station never sees half an upgrade.
namespace Schema {

// The password of the first administrator ("ADMIN") of a new database.
inline const QString defaultAdminPassword = QStringLiteral("admin");

// Token table columns a theme can have header captions for: tblheader holds caption1 .. this
// many, and the display shows no more columns than this.
inline constexpr int headerCaptions = 59;

int latestVersion();
int version(const Database& db);
// Runs every step the database has not had yet, up to target (the latest when 0). Throws DbError.
void upgrade(const Database& db, int target = 0);
// Every shared table's columns (lower case, in stored order) as the schema of that version has
// them: what a backup of that version must hold. Empty for a version this program does not know.
QMap<QString, QStringList> columnsAt(int version);
// The shared tables, in the order the schema defines them.
QStringList tables();

} // namespace Schema
} // namespace tallyvo
