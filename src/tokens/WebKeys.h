#pragma once

#include "tokens/TokenIssuer.h"

#include <QString>
#include <optional>

namespace tallyvo {

class Database;

// The key a visitor's phone names a token by (tblTicket.webKey). It is drawn from the system's
// cryptographic random source and owes nothing to the label, the number or the row key, so
// holding one ticket tells nothing about another. Tokens stored before keys existed have none.
namespace WebKeys {

// Random bytes behind each key: 128 bits, the least a key that guards a visitor's token may have.
inline constexpr int randomBytes = 16;
// Characters of a key: the bytes in base64url without padding, safe in a path as they are.
inline constexpr int length = 22;

QString make();
// Whether text has a key's shape; what does not is never looked up.
bool wellFormed(const QString& text);

// A token found by its key, of any day.
struct Found {
    StoredToken token;
    int serviceKey = 0; // servAuto
};

// The token holding the key; nullopt for an unknown or malformed key. Throws DbError.
std::optional<Found> find(const Database& db, const QString& key);

} // namespace WebKeys
} // namespace tallyvo
