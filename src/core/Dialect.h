#pragma once

#include "core/DbUrl.h"

#include <QString>

namespace tallyvo {

// The few places where SQLite and PostgreSQL need different SQL. Everything else is written once.
class Dialect {
public:
    explicit Dialect(Engine engine)
        : m_engine(engine)
    {
    }
    Engine engine() const { return m_engine; }

    // Column definition of an automatic integer key.
    QString autoKey() const;
    // Column type of a single-precision coordinate.
    QString realType() const;
    // Takes the lock that serialises schema upgrades between stations; run inside the upgrade
    // transaction (empty on SQLite, whose write transaction already excludes other writers).
    QString migrationLock() const;
    // Starts a transaction that writes: SQLite takes the write lock at once so that two stations
    // do not both read and then collide on the upgrade.
    QString beginWrite() const;
    // Run first inside a write transaction that checks rows of `table` and then changes them on the
    // strength of that check (never the last user): PostgreSQL locks the table against other
    // writers until the end of the transaction, so two stations cannot both pass the check. Empty
    // on SQLite, whose write transaction already excludes other writers.
    QString lockForCheck(const QString& table) const;

    // Whole minutes from time a to time b, both text 'HH:mm:ss', counted as minute boundaries
    // crossed (10:05:59 to 10:06:00 is 1). NULL when either is empty.
    static QString minutesBetween(const QString& a, const QString& b);

    // True when the error text says a unique rule refused the row.
    static bool isUniqueViolation(const QString& errorText);

private:
    Engine m_engine;
};

} // namespace tallyvo
