#pragma once

#include "core/WebKeyShape.h"
#include "tokens/TokenIssuer.h"

#include <QString>
#include <optional>

namespace tallyvo {

class Database;

// The key a visitor's phone names a token by (tblTicket.webKey). It is drawn from the system's
// cryptographic random source and owes nothing to the label, the number or the row key, so
// holding one ticket tells nothing about another. Tokens stored before keys existed have none.
namespace WebKeys {

// randomBytes, length and wellFormed() come from core/WebKeyShape.h.
QString make();

// A token found by its key, of any day.
struct Found {
    StoredToken token;
    int serviceKey = 0; // servAuto
};

// The token holding the key; nullopt for an unknown or malformed key. Throws DbError.
std::optional<Found> find(const Database& db, const QString& key);

} // namespace WebKeys
} // namespace tallyvo
