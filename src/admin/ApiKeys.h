#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <optional>
#include <stdexcept>

namespace tallyvo {

class Database;

// Keys that let another program issue tokens through the web station's API (sent as
// "Authorization: Bearer KEY"). A key is 32 bytes from the system's cryptographic random source in
// base64url after the prefix "tvk_", so it is recognisable in a script or a leaked log. It is
// shown once, when it is made; the database keeps only its SHA-256, which is enough for a key of
// that entropy and lets a key be looked up by its hash.
class ApiKeys {
    Q_DECLARE_TR_FUNCTIONS(ApiKeys)

public:
    static constexpr int randomBytes = 32;
    static constexpr int longestName = 64;
    static QString prefix() { return QStringLiteral("tvk_"); }
    // Characters of a key: the prefix and the bytes in base64url without padding.
    static constexpr int length = 4 + (randomBytes * 4 + 2) / 3;

    // Why a key was not added; what() is the message for the administrator.
    struct Refused : std::runtime_error {
        enum class Reason { BadName, NameTaken };
        Refused(Reason r, const QString& why)
            : std::runtime_error(why.toStdString())
            , reason(r)
        {
        }
        Reason reason;
    };

    struct Entry {
        QString name;
        QString created; // "yyyy-MM-dd HH:mm:ss", the adding station's local time
    };

    // Why a name cannot name a key ("" when it can): 1 to 64 printable characters, no space at
    // either end.
    static QString checkName(const QString& name);
    // Makes a key named `name` and returns it: the only time it can be seen. Throws Refused for a
    // bad or taken name, DbError when the database refuses.
    static QString add(const Database& db, const QString& name);
    // Every key's name and creation time, by name. Throws DbError.
    static QList<Entry> list(const Database& db);
    // False when no key has that name. Throws DbError.
    static bool remove(const Database& db, const QString& name);
    // The name of the key; nullopt for an unknown key, and for text without a key's shape, which
    // is never looked up. Throws DbError.
    static std::optional<QString> verify(const Database& db, const QString& key);

    // Whether text has a key's shape.
    static bool wellFormed(const QString& key);
    // What the database keeps of a key: SHA-256, lower-case hex.
    static QString hashOf(const QString& key);
};

} // namespace tallyvo
