#include "design/ThemeStore.h"

#include "core/Database.h"

#include <QSqlRecord>
#include <array>

namespace tallyvo::ThemeStore {

namespace {

using F = Form;

Column text(const char* name, const char* initial = "")
{
    return {QLatin1String(name), F::Text, QString::fromLatin1(initial)};
}

Column colour(const char* name)
{
    return {QLatin1String(name), F::Colour, kInitialColour};
}

Column flag(const char* name, int initial)
{
    return {QLatin1String(name), F::Flag, initial};
}

const std::array<Column, 46>& table()
{
    static const std::array<Column, 46> all{
        text("themename"), text("colums", "2"), text("rows", "12"), text("colwidth"), text("rowheight", "500"),
        text("logo"), flag("displaytime", 1), text("clockfile"), text("fonttime", "Arial"),
        text("sizetime", "20"), colour("clrtime"), colour("backgroundclr"), colour("linecolor"),
        colour("altcolr"), text("bgimage"), text("hdfont", "Arial"), colour("hdclrbg"), colour("hdfntclr"),
        text("hdfntsize", "20"), text("fntcrr", "Arial"), text("sizecrr", "20"), colour("clrcrr"),
        colour("bgcrr"), text("fntval", "Arial"), text("sizeval", "20"), colour("clrval"), colour("bgval"),
        text("type", "Vertical"), colour("screenclr"), text("linewidth", "1"), text("videofile"),
        text("onlinevideo"), text("volume", "5"), flag("enablemovie", 1), text("ttlname"),
        text("ttlfont", "Arial"), colour("ttlcolor"), text("ttlsize", "20"),
        // By name.
        flag("scroll", 0), text("tformat", "dd-MMM-yyyy HH:mm"), flag("enableH", 0), text("Column1"),
        text("Column2"), text("img1"), text("img2"), colour("newsBG")};
    return all;
}

QString names(const QString& separator, const QString& suffix)
{
    QStringList out;
    for (const Column& c : table())
        out << c.name + suffix;
    return out.join(separator);
}

void checkCount(const QVariantList& values)
{
    if (values.size() != static_cast<qsizetype>(table().size()))
        throw DbError(QStringLiteral("A theme has %1 values, not %2.").arg(table().size()).arg(values.size()));
}

} // namespace

std::span<const Column> columns()
{
    return table();
}

int indexOf(const QString& name)
{
    for (size_t i = 0; i < table().size(); ++i) {
        if (table()[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

QVariantList initialValues()
{
    QVariantList out;
    for (const Column& c : table())
        out << c.initial;
    return out;
}

qint64 add(const Database& db, const QVariantList& values)
{
    checkCount(values);
    QStringList marks;
    for (qsizetype i = 0; i < values.size(); ++i)
        marks << QStringLiteral("?");
    Transaction t(db);
    const qint64 key = db.insert(QStringLiteral("INSERT INTO tbltheme (%1) VALUES (%2) RETURNING themeauto")
                                     .arg(names(QStringLiteral(", "), QString()), marks.join(QLatin1Char(','))),
                                 values);
    db.run(QStringLiteral("DELETE FROM tblpos WHERE themeauto=?"), {key});
    db.run(QStringLiteral("DELETE FROM tblheader WHERE themeauto=?"), {key});
    t.commit();
    return key;
}

bool update(const Database& db, qint64 key, const QVariantList& values)
{
    checkCount(values);
    QVariantList bound = values;
    bound << key;
    QSqlQuery q = db.run(QStringLiteral("UPDATE tbltheme SET %1 WHERE themeauto=?")
                             .arg(names(QStringLiteral(", "), QStringLiteral("=?"))),
                         bound);
    return q.numRowsAffected() > 0;
}

std::optional<QVariantList> load(const Database& db, qint64 key)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT * FROM tbltheme WHERE themeauto=?"), {key});
    if (!q.next())
        return std::nullopt;
    const QSqlRecord rec = q.record();
    QVariantList out;
    for (size_t i = 0; i < table().size(); ++i) {
        const int position = static_cast<int>(i) + 1;
        const int at = position <= kByPosition ? position : rec.indexOf(table()[i].name);
        out << (at >= 0 && at < rec.count() ? q.value(at) : QVariant());
    }
    return out;
}

void remove(const Database& db, qint64 key)
{
    db.run(QStringLiteral("DELETE FROM tbltheme WHERE themeauto=?"), {key});
}

QList<ListRow> list(const Database& db)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT themeauto, type, themename FROM tbltheme ORDER BY themeauto"));
    QList<ListRow> out;
    while (q.next())
        out << ListRow{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString()};
    return out;
}

} // namespace tallyvo::ThemeStore
