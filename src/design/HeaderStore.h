#pragma once

#include <QStringList>
#include <QVariant>
#include <optional>

namespace tallyvo {

class Database;

// The header captions of a theme's token table (tblheader): position i holds column i's caption,
// position 0 the theme key. The display prefers them to Column1 and Column2.
namespace HeaderStore {

// How many caption columns the table has.
int capacity(const Database& db);
// How many token table columns the theme shows for its stored column count (colums), as the
// display builds it: 2 when the count cannot be read, never more than the table holds captions for.
int columnsFor(const QVariant& colums, int capacity);
// Captions 1.. of the theme's first row; nullopt when it has none.
std::optional<QStringList> load(const Database& db, qint64 themeKey);
// Stores captions 1..n (n = captions.size(), at most capacity) in every row of the theme, or adds
// one row when it has none; captions beyond n stay as they were. Throws DbError.
void save(const Database& db, qint64 themeKey, const QStringList& captions);

} // namespace HeaderStore
} // namespace tallyvo
