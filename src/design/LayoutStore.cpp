#include "design/LayoutStore.h"

#include "core/Database.h"
#include "core/NumberText.h"

#include <QSqlRecord>

namespace tallyvo::LayoutStore {

namespace {

// Positions 2 to 29 of tblpos.
const QStringList& valueColumns()
{
    static const QStringList all{
        QStringLiteral("logoleft"),  QStringLiteral("logotop"),    QStringLiteral("logowidth"),
        QStringLiteral("logoheight"), QStringLiteral("timeleft"),  QStringLiteral("timetop"),
        QStringLiteral("timewidth"), QStringLiteral("timeheight"), QStringLiteral("tblleft"),
        QStringLiteral("tbltop"),    QStringLiteral("tblwidth"),   QStringLiteral("tblheight"),
        QStringLiteral("videoleft"), QStringLiteral("videotop"),   QStringLiteral("videowidth"),
        QStringLiteral("videoheight"), QStringLiteral("meleft"),   QStringLiteral("metop"),
        QStringLiteral("mewidth"),   QStringLiteral("meheight"),   QStringLiteral("ttlleft"),
        QStringLiteral("ttltop"),    QStringLiteral("ttlwidth"),   QStringLiteral("ttlheight"),
        QStringLiteral("newsleft"),  QStringLiteral("newstop"),    QStringLiteral("newswidth"),
        QStringLiteral("newsheight")};
    return all;
}

// Stored numbers read by the one rule every station uses.
constexpr auto number = &NumberText::stored;

QVariant single(double v)
{
    return static_cast<double>(static_cast<float>(v));
}

} // namespace

const std::array<RegionLook, kRegions>& regions()
{
    static const std::array<RegionLook, kRegions> all{{
        {Region::Title, QStringLiteral("Title"), QStringLiteral("lblTitle"), QRectF(240, 120, 4455, 255), 0x008080},
        {Region::Logo, QStringLiteral("Comp-Logo"), QStringLiteral("lblLogo"), QRectF(240, 360, 1935, 735),
         0xFF8080},
        {Region::Time, QStringLiteral("Time-Date"), QStringLiteral("lblTime"), QRectF(2760, 360, 1935, 735),
         0x0040C0},
        {Region::Table, QStringLiteral("Token Table"), QStringLiteral("lblTable"), QRectF(240, 1200, 4455, 2655),
         0xFF00FF},
        {Region::Video, QStringLiteral("Video"), QStringLiteral("lblVideo"), QRectF(240, 3840, 4455, 1935),
         0x808000},
        {Region::News, QStringLiteral("News"), QStringLiteral("lblNews"), QRectF(240, 5880, 4455, 255), 0xFFFF00},
    }};
    return all;
}

int firstPosition(Region region)
{
    switch (region) {
    case Region::Logo:
        return 2;
    case Region::Time:
        return 6;
    case Region::Table:
        return 10;
    case Region::Video:
        return 14;
    case Region::Title:
        return 22;
    case Region::News:
        return 26;
    }
    return 2;
}

std::optional<Stored> load(const Database& db, qint64 themeKey)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT * FROM tblpos WHERE themeauto=? ORDER BY posauto"), {themeKey});
    if (!q.next())
        return std::nullopt;
    const int count = q.record().count();
    auto at = [&](int position) { return position < count ? number(q.value(position)) : std::nullopt; };
    Stored s;
    for (const RegionLook& r : regions()) {
        const int first = firstPosition(r.region);
        s.regions[static_cast<size_t>(r.region)] = {at(first), at(first + 1), at(first + 2), at(first + 3)};
    }
    s.meleft = at(18);
    s.metop = at(19);
    s.mewidth = at(20);
    s.meheight = at(21);
    return s;
}

Saved save(const Database& db, qint64 themeKey, const Layout& layout)
{
    QVariantList values(28);
    for (const RegionLook& r : regions()) {
        const QRectF& rect = layout.regions[static_cast<size_t>(r.region)];
        const int first = firstPosition(r.region) - 2;
        values[first] = single(rect.left());
        values[first + 1] = single(rect.top());
        values[first + 2] = single(rect.width());
        values[first + 3] = single(rect.height());
    }
    values[16] = single(layout.window.left());
    values[17] = single(layout.window.top());
    values[18] = single(layout.window.width());
    values[19] = single(layout.window.height());

    Transaction t(db);
    QVariantList bound = values;
    bound << themeKey;
    QSqlQuery q = db.run(QStringLiteral("UPDATE tblpos SET %1=? WHERE themeauto=?")
                             .arg(valueColumns().join(QStringLiteral("=?, "))),
                         bound);
    Saved saved = Saved::Updated;
    if (q.numRowsAffected() <= 0) {
        QStringList marks(29, QStringLiteral("?"));
        QVariantList row{themeKey};
        row << values;
        db.run(QStringLiteral("INSERT INTO tblpos (themeauto, %1) VALUES (%2)")
                   .arg(valueColumns().join(QStringLiteral(", ")), marks.join(QLatin1Char(','))),
               row);
        saved = Saved::Added;
    }
    t.commit();
    return saved;
}

} // namespace tallyvo::LayoutStore
