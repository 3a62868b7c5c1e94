#pragma once

#include <QDate>
#include <QStringList>

namespace tallyvo {

class Database;

// Removing old rows. Tokens and call records are cleared separately: deleting tokens leaves
// their call records, and deleting call records leaves the tokens (and so the reports).
namespace ClearData {

// Deletes the tokens with these keys (empty keys are skipped) in one transaction; how many rows
// went. A key another station has deleted meanwhile simply counts nothing.
int deleteTickets(const Database& db, const QStringList& keys);

// Deletes the call records of the days before this one; how many rows went. The day itself and
// later days stay, so today's display feed is untouched.
int deleteCallsBefore(const Database& db, const QDate& day);

} // namespace ClearData
} // namespace tallyvo
