#include "design/NewsStore.h"

#include "core/Database.h"

#include <QSqlQuery>

namespace tallyvo {

namespace {

// LIKE pattern for "contains text": the escape character and both wildcards are escaped.
QString containsPattern(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('%');
    for (const QChar c : text) {
        if (c == u'!' || c == u'%' || c == u'_')
            out += QLatin1Char('!');
        out += c;
    }
    out += QLatin1Char('%');
    return out;
}

QVariantList rowValues(const NewsRecord& r)
{
    return {r.message,     r.rtf,        r.rtf,      r.active ? QStringLiteral("1") : QStringLiteral("0"),
            r.fontName,    r.fontSize,   r.fontColor, r.bold ? 1 : 0,
            r.italic ? 1 : 0, r.direction};
}

} // namespace

QString NewsStore::strip(const QString& text)
{
    QString out = text;
    out.remove(QLatin1Char('>')).remove(QLatin1Char('<')).remove(QLatin1Char('/'));
    return out;
}

QList<NewsListRow> NewsStore::list(bool activeOnly, const QString& search) const
{
    QString sql = QStringLiteral("SELECT scrollAuto, message, active, direction FROM tblscroll");
    QStringList where;
    QVariantList values;
    if (activeOnly)
        where << QStringLiteral("active='1'");
    if (!search.isEmpty()) {
        where << QStringLiteral("lower(message) LIKE lower(?) ESCAPE '!'");
        values << containsPattern(search);
    }
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY scrollAuto");

    QList<NewsListRow> out;
    QSqlQuery q = m_db.run(sql, values);
    while (q.next()) {
        out << NewsListRow{q.value(0).toLongLong(), q.value(1).toString(),
                           q.value(2).toString().trimmed() == QLatin1String("1"), q.value(3).toString()};
    }
    return out;
}

std::optional<NewsRecord> NewsStore::find(qint64 key) const
{
    QSqlQuery q = m_db.run(QStringLiteral("SELECT scrollAuto, message, msgrtf, active, fontname, fontsize, fontcolor, "
                                          "bold, italic, direction FROM tblscroll WHERE scrollAuto=?"),
                           {key});
    if (!q.next())
        return std::nullopt;
    NewsRecord r;
    r.key = q.value(0).toLongLong();
    r.message = q.value(1).toString();
    r.rtf = q.value(2).toString();
    r.active = q.value(3).toString().trimmed() == QLatin1String("1");
    r.fontName = q.value(4).toString();
    r.fontSize = q.value(5).toString();
    r.fontColor = q.value(6).toInt();
    r.bold = q.value(7).toInt() != 0;
    r.italic = q.value(8).toInt() != 0;
    r.direction = q.value(9).toString();
    return r;
}

qint64 NewsStore::insert(const NewsRecord& record) const
{
    return m_db.insert(QStringLiteral("INSERT INTO tblscroll (message, msgrtf, msgrtfcopy, active, fontname, fontsize, "
                                      "fontcolor, bold, italic, direction) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                      "RETURNING scrollAuto"),
                       rowValues(record));
}

bool NewsStore::update(const NewsRecord& record) const
{
    QVariantList values = rowValues(record);
    values << record.key;
    QSqlQuery q = m_db.run(QStringLiteral("UPDATE tblscroll SET message=?, msgrtf=?, msgrtfcopy=?, active=?, "
                                          "fontname=?, fontsize=?, fontcolor=?, bold=?, italic=?, direction=? "
                                          "WHERE scrollAuto=?"),
                           values);
    return q.numRowsAffected() > 0;
}

bool NewsStore::remove(qint64 key) const
{
    QSqlQuery q = m_db.run(QStringLiteral("DELETE FROM tblscroll WHERE scrollAuto=?"), {key});
    return q.numRowsAffected() > 0;
}

} // namespace tallyvo
