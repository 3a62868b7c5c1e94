#pragma once

#include <QString>

namespace tallyvo {

class Database;
struct Session;

// Lookups between the names windows show and the keys they store. Each is one query with bound
// values, so names with apostrophes are found like any other. When several rows match, the
// first the database yields decides. A refused query throws DbError to the caller.
namespace modSub {

int getDeptKey(const Database& db, const QString& name);
QString getDeptName(const Database& db, int key);
// Also sets the session's counterDisplayName ("" when the counter is not found).
QString getCounterName(const Database& db, Session& session, int key);
int getCounterKey(const Database& db, const QString& name);
int getServiceKey(const Database& db, const QString& name);
QString getServiceName(const Database& db, int key);
QString getTokenLabel(const Database& db, qint64 key);
int getThemeKey(const Database& db, const QString& name);
// Whether any row of table has column = key (the guard before a delete). Table and column are
// names from the program, never from a user; anything but a plain name is refused.
bool rowExists(const Database& db, const QString& table, const QString& column, qint64 key);

} // namespace modSub
} // namespace tallyvo
