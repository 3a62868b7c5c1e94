#include "design/HeaderStore.h"

#include "core/Database.h"
#include "design/ThemeRules.h"

#include <QRegularExpression>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>

namespace tallyvo::HeaderStore {

namespace {

// The caption columns' names, from the table itself: position i is caption i whatever a site
// has called it. Only plain names are spliced into the statement.
QStringList captionColumns(const Database& db)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    QStringList names = db.columns(QStringLiteral("tblheader"));
    if (!names.isEmpty())
        names.removeFirst();
    for (const QString& n : names) {
        if (!plain.match(n).hasMatch())
            throw DbError(QStringLiteral("tblheader has a column that cannot be written: %1").arg(n));
    }
    return names;
}

} // namespace

int capacity(const Database& db)
{
    return static_cast<int>(std::max<qsizetype>(db.columns(QStringLiteral("tblheader")).size() - 1, 0));
}

int columnsFor(const QVariant& colums, int capacity)
{
    const QString text = colums.toString();
    int n = 2;
    if (ThemeRules::isNumeric(text))
        n = static_cast<int>(std::lround(std::clamp(ThemeRules::leadingValue(text), 1.0, 1e6)));
    return std::clamp(n, 0, capacity);
}

std::optional<QStringList> load(const Database& db, qint64 themeKey)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT * FROM tblheader WHERE themeauto=?"), {themeKey});
    if (!q.next())
        return std::nullopt;
    QStringList captions;
    for (int i = 1; i < q.record().count(); ++i)
        captions << (q.value(i).isNull() ? QString() : q.value(i).toString());
    return captions;
}

void save(const Database& db, qint64 themeKey, const QStringList& captions)
{
    const QStringList names = captionColumns(db).mid(0, captions.size());
    if (names.isEmpty())
        return;
    const QStringList values = captions.mid(0, names.size());
    QVariantList bound;
    for (const QString& v : values)
        bound << v;

    Transaction t(db);
    QVariantList update = bound;
    update << themeKey;
    QSqlQuery q = db.run(QStringLiteral("UPDATE tblheader SET %1=? WHERE themeauto=?").arg(names.join(QStringLiteral("=?, "))),
                         update);
    if (q.numRowsAffected() <= 0) {
        QVariantList row{themeKey};
        row << bound;
        db.run(QStringLiteral("INSERT INTO tblheader (themeauto, %1) VALUES (?%2)")
                   .arg(names.join(QStringLiteral(", ")), QStringLiteral(",?").repeated(names.size())),
               row);
    }
    t.commit();
}

} // namespace tallyvo::HeaderStore
