#include "core/Passwords.h"

#include "core/DbError.h"

#include <sodium.h>

namespace tallyvo::Passwords {

namespace {

void initSodium()
{
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw DbError(QStringLiteral("The password library could not start."));
}

} // namespace

bool isHash(const QString& stored)
{
    return stored.startsWith(QLatin1String("$argon2"));
}

QString hash(const QString& password)
{
    initSodium();
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, utf8.constData(), static_cast<unsigned long long>(utf8.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        throw DbError(QStringLiteral("Not enough memory to protect the password."));
    return QString::fromLatin1(out);
}

Check verify(const QString& stored, const QString& password)
{
    if (!isHash(stored)) {
        // A plain-text password from an older database: compare, then the caller rehashes.
        return !stored.isEmpty() && stored == password ? Check::MatchNeedsRehash : Check::NoMatch;
    }
    initSodium();
    const QByteArray s = stored.toLatin1();
    const QByteArray utf8 = password.toUtf8();
    if (crypto_pwhash_str_verify(s.constData(), utf8.constData(), static_cast<unsigned long long>(utf8.size()))
        != 0)
        return Check::NoMatch;
    return crypto_pwhash_str_needs_rehash(s.constData(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                          crypto_pwhash_MEMLIMIT_INTERACTIVE)
               == 0
        ? Check::Match
        : Check::MatchNeedsRehash;
}

} // namespace tallyvo::Passwords
