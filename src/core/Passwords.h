#pragma once

#include <QString>

namespace tallyvo {

// Login passwords are kept as Argon2id hashes. A password stored in plain text by an older
// database still logs in once; the caller then stores the hash in its place.
namespace Passwords {

enum class Check { NoMatch, Match, MatchNeedsRehash };

QString hash(const QString& password);
Check verify(const QString& stored, const QString& password);
bool isHash(const QString& stored);

} // namespace Passwords
} // namespace tallyvo
