#pragma once

#include <QString>
#include <optional>

namespace tallyvo {

class Database;

// Checks and changes the administrator and counter passwords. Passwords are stored as Argon2id
// hashes; a plain-text password left by an older database is accepted and replaced by its hash on
// the spot. User names are compared without regard to case (administrator names are stored in
// capitals). Every text is a bound value; a refused statement throws DbError.
namespace Credentials {

struct CounterLogin {
    int cntAuto = 0;
    int servAuto = 0;
};

// userAuto of the administrator user with that name and password.
std::optional<int> checkAdmin(const Database& db, const QString& user, const QString& password);
// The active counter called counterName whose operator is user with that password.
std::optional<CounterLogin> checkCounter(const Database& db, const QString& counterName, const QString& user,
                                         const QString& password);

// Store newPassword when oldPassword is the current one; false (nothing written) otherwise.
bool changeCounterPassword(const Database& db, int cntAuto, const QString& oldPassword,
                           const QString& newPassword);
bool changeAdminPassword(const Database& db, int userAuto, const QString& oldPassword,
                         const QString& newPassword);

} // namespace Credentials
} // namespace tallyvo
