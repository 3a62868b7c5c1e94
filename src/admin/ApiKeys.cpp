#include "admin/ApiKeys.h"

#include "core/Database.h"
#include "core/Dialect.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>

#include <array>

namespace tallyvo {

QString ApiKeys::checkName(const QString& name)
{
    const QList<uint> chars = name.toUcs4();
    if (chars.isEmpty())
        return tr("The key's name must not be empty.");
    if (chars.size() > longestName)
        return tr("The key's name is longer than %1 characters.").arg(longestName);
    for (const uint c : chars) {
        if (!QChar::isPrint(char32_t(c)))
            return tr("The key's name may hold printable characters only.");
    }
    if (name.trimmed() != name)
        return tr("The key's name must not begin or end with a space.");
    return QString();
}

bool ApiKeys::wellFormed(const QString& key)
{
    if (key.size() != length || !key.startsWith(prefix()))
        return false;
    for (qsizetype i = prefix().size(); i < key.size(); ++i) {
        const char16_t u = key[i].unicode();
        const bool ok = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9')
                        || u == u'-' || u == u'_';
        if (!ok)
            return false;
    }
    return true;
}

QString ApiKeys::hashOf(const QString& key)
{
    return QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString ApiKeys::add(const Database& db, const QString& name)
{
    const QString bad = checkName(name);
    if (!bad.isEmpty())
        throw Refused(Refused::Reason::BadName, bad);
    std::array<quint32, randomBytes / sizeof(quint32)> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), randomBytes);
    const QString key =
        prefix()
        + QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    const QString created = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    // The unique rule decides a name two stations add at once; no check before it could.
    try {
        db.run(QStringLiteral("INSERT INTO tblApiKey (name, keyHash, created) VALUES (?, ?, ?)"),
               {name, hashOf(key), created});
    } catch (const DbError& e) {
        if (Dialect::isUniqueViolation(e.text())
            && db.scalar(QStringLiteral("SELECT count(*) FROM tblApiKey WHERE name=?"), {name}).toInt() > 0)
            throw Refused(Refused::Reason::NameTaken, tr("A key named '%1' exists already.").arg(name));
        throw;
    }
    return key;
}

QList<ApiKeys::Entry> ApiKeys::list(const Database& db)
{
    QList<Entry> entries;
    QSqlQuery q = db.run(QStringLiteral("SELECT name, created FROM tblApiKey ORDER BY name"));
    while (q.next())
        entries.append({q.value(0).toString(), q.value(1).toString()});
    return entries;
}

bool ApiKeys::remove(const Database& db, const QString& name)
{
    return db.run(QStringLiteral("DELETE FROM tblApiKey WHERE name=?"), {name}).numRowsAffected() > 0;
}

std::optional<QString> ApiKeys::verify(const Database& db, const QString& key)
{
    if (!wellFormed(key))
        return std::nullopt;
    const QVariant name = db.scalar(QStringLiteral("SELECT name FROM tblApiKey WHERE keyHash=?"), {hashOf(key)});
    if (!name.isValid() || name.isNull())
        return std::nullopt;
    return name.toString();
}

} // namespace tallyvo
