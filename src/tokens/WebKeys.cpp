#include "tokens/WebKeys.h"

#include "core/Database.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <array>

namespace tallyvo::WebKeys {

QString make()
{
    std::array<quint32, randomBytes / sizeof(quint32)> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), randomBytes);
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

std::optional<Found> find(const Database& db, const QString& key)
{
    if (!wellFormed(key))
        return std::nullopt;
    const std::optional<QVariantList> row = db.firstRow(
        QStringLiteral("SELECT tickAuto, tickNo, no_abr, tickDate, servAuto, webKey FROM tblTicket WHERE webKey=?"),
        {key});
    if (!row)
        return std::nullopt;
    Found f;
    f.token.key = row->value(0).toLongLong();
    f.token.number = row->value(1).toInt();
    f.token.label = row->value(2).toString();
    f.token.date = row->value(3).toString();
    f.serviceKey = row->value(4).toInt();
    f.token.webKey = row->value(5).toString();
    return f;
}

} // namespace tallyvo::WebKeys
