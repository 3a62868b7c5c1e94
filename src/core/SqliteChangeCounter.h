#pragma once

#include <QtGlobal>

struct sqlite3_stmt;

namespace tallyvo {

class Database;

// Tells whether another connection has written to an embedded database file since the last
// look, for the price of one step of a statement prepared once (PRAGMA data_version) straight on
// the SQLite handle. Destroy it before the Database: the statement must be gone before the
// connection closes.
class SqliteChangeCounter {
public:
    // Throws DbError when the database is not an open SQLite one.
    explicit SqliteChangeCounter(const Database& db);
    ~SqliteChangeCounter();
    SqliteChangeCounter(const SqliteChangeCounter&) = delete;
    SqliteChangeCounter& operator=(const SqliteChangeCounter&) = delete;

    // The file's data version; it changes whenever another connection commits.
    qint64 read();

private:
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace tallyvo
