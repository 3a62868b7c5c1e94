#include "display/ThemeData.h"

#include "core/Database.h"
#include "core/NumberText.h"

#include <QSqlRecord>
#include <cmath>

namespace tallyvo {

namespace {

// A field of the current row by name or position; invalid when the row has no such field.
QVariant field(const QSqlQuery& q, const char* name)
{
    const int i = q.record().indexOf(QLatin1String(name));
    return i < 0 ? QVariant() : q.value(i);
}

QVariant field(const QSqlQuery& q, int position)
{
    return position < q.record().count() ? q.value(position) : QVariant();
}

QString text(const QVariant& v)
{
    return v.isNull() ? QString() : v.toString();
}

std::optional<QString> optText(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return std::nullopt;
    return v.toString();
}

// Stored numbers read by the one rule every station uses.
constexpr auto number = &NumberText::stored;

std::optional<int> whole(const QVariant& v)
{
    const std::optional<double> d = number(v);
    if (!d || *d < -2147483648.0 || *d > 2147483647.0)
        return std::nullopt;
    return static_cast<int>(std::lround(*d));
}

// Flags written by the old editor may be -1 (its "true") or 1.
bool flag(const QVariant& v)
{
    const std::optional<int> n = whole(v);
    if (n)
        return *n != 0;
    return v.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

namespace ThemeLoader {

ThemeData loadTheme(const Database& db, int themeKey)
{
    ThemeData t;
    QSqlQuery q;
    try {
        q = db.run(QStringLiteral("SELECT * FROM tbltheme WHERE themeauto=?"), {themeKey});
    } catch (const DbError&) {
        return t;
    }
    if (!q.next())
        return t;
    t.found = true;
    t.themeName = text(field(q, "themename"));
    t.colums = whole(field(q, "colums"));
    t.rows = whole(field(q, "rows"));
    t.colwidth = optText(field(q, "colwidth"));
    t.rowheight = number(field(q, "rowheight"));
    t.logo = text(field(q, 6));
    t.displaytime = whole(field(q, "displaytime"));
    t.clockfile = text(field(q, 8));
    t.fonttime = text(field(q, "fonttime"));
    t.sizetime = number(field(q, "sizetime"));
    t.clrtime = whole(field(q, "clrtime"));
    t.backgroundclr = whole(field(q, "backgroundclr"));
    t.linecolor = whole(field(q, "linecolor"));
    t.altcolr = whole(field(q, "altcolr"));
    t.bgimage = text(field(q, "bgimage"));
    t.hdfont = text(field(q, "hdfont"));
    t.hdclrbg = whole(field(q, "hdclrbg"));
    t.hdfntclr = whole(field(q, "hdfntclr"));
    t.hdfntsize = number(field(q, "hdfntsize"));
    t.fntcrr = text(field(q, "fntcrr"));
    t.sizecrr = number(field(q, "sizecrr"));
    t.clrcrr = whole(field(q, "clrcrr"));
    t.fntval = text(field(q, "fntval"));
    t.sizeval = number(field(q, "sizeval"));
    t.clrval = whole(field(q, "clrval"));
    t.screenclr = whole(field(q, 29));
    t.linewidth = whole(field(q, 30));
    t.volume = whole(field(q, 33));
    t.enablemovie = whole(field(q, 34));
    t.ttlname = text(field(q, "ttlname"));
    t.ttlfont = text(field(q, "ttlfont"));
    t.ttlcolor = whole(field(q, "ttlcolor"));
    t.ttlsize = number(field(q, "ttlsize"));
    t.scroll = whole(field(q, "scroll"));
    t.tformat = text(field(q, "tformat"));
    t.enableH = whole(field(q, "enableH"));
    t.Column1 = text(field(q, "Column1"));
    t.Column2 = text(field(q, "Column2"));
    t.img1 = text(field(q, "img1"));
    t.img2 = text(field(q, "img2"));
    t.newsBG = whole(field(q, "newsBG"));
    return t;
}

std::optional<ThemePositions> loadPositions(const Database& db, int themeKey)
{
    QSqlQuery q;
    try {
        q = db.run(QStringLiteral("SELECT * FROM tblpos WHERE themeauto=?"), {themeKey});
    } catch (const DbError&) {
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    auto at = [&](int position) { return number(field(q, position)); };
    auto rectAt = [&](int first) {
        return ThemePositions::Rect{at(first), at(first + 1), at(first + 2), at(first + 3)};
    };
    ThemePositions p;
    p.logo = rectAt(2);
    p.time = rectAt(6);
    p.table = {number(field(q, "tblleft")), number(field(q, "tbltop")), number(field(q, "tblwidth")),
               number(field(q, "tblheight"))};
    p.video = {number(field(q, "videoleft")), number(field(q, "videotop")), number(field(q, "videowidth")),
               number(field(q, "videoheight"))};
    p.mewidth = number(field(q, "mewidth"));
    p.meheight = number(field(q, "meheight"));
    p.title = rectAt(22);
    p.newstop = at(27);
    p.newsheight = at(29);
    return p;
}

std::optional<QStringList> loadHeader(const Database& db, int themeKey)
{
    QSqlQuery q;
    try {
        q = db.run(QStringLiteral("SELECT * FROM tblheader WHERE themeauto=?"), {themeKey});
    } catch (const DbError&) {
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    QStringList captions;
    for (int i = 1; i < q.record().count(); ++i)
        captions << text(q.value(i));
    return captions;
}

QList<NewsMessage> loadNews(const Database& db, const QString& direction)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT * FROM tblscroll WHERE active='1' AND direction=? "
                                        "ORDER BY scrollAuto"),
                         {direction});
    QList<NewsMessage> out;
    while (q.next()) {
        NewsMessage m;
        m.text = text(field(q, 1));
        m.fontName = text(field(q, 5));
        m.fontSize = number(field(q, 6));
        m.color = whole(field(q, 7));
        m.bold = flag(field(q, 8));
        m.italic = flag(field(q, 9));
        out << m;
    }
    return out;
}

QStringList loadPlaylist(const Database& db)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT * FROM tblVideo WHERE active='1' ORDER BY vidAuto"));
    QStringList out;
    while (q.next())
        out << text(field(q, 1));
    return out;
}

} // namespace ThemeLoader

QPoint displayOrigin(const QString& screenMode, const QList<QRect>& screens, int primary)
{
    if (screens.isEmpty())
        return {0, 0};
    const int main = primary >= 0 && primary < screens.size() ? primary : 0;
    if (screenMode != QLatin1String("Single")) {
        for (int i = 0; i < screens.size(); ++i) {
            if (i != main)
                return screens.at(i).topLeft();
        }
    }
    return screens.at(main).topLeft();
}

} // namespace tallyvo
