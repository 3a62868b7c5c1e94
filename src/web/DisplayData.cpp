#include "web/DisplayData.h"

#include "core/Database.h"
#include "core/DirectRows.h"
#include "core/modSub.h"
#include "display/ThemeData.h"

#include <QJsonArray>
#include <QSqlQuery>
#include <algorithm>

namespace tallyvo {

QJsonObject WebCall::toJson() const {
    return {{QStringLiteral("seq"), seq},
            {QStringLiteral("label"), label},
            {QStringLiteral("counter"), counter},
            {QStringLiteral("note"), note},
            {QStringLiteral("service"), serviceName}};
}

bool WebCall::matches(const QStringList& services) const {
    return services.isEmpty() || (!serviceAbbr.isEmpty() && services.contains(serviceAbbr)) ||
           (!serviceName.isEmpty() && services.contains(serviceName));
}

namespace DisplayData {

QList<WebCall> callsAfter(const Database& db, const QString& day, qint64 after) {
    // Read at every call: kept prepared, and straight from the client library.
    DirectRows q(db,
                 QStringLiteral("SELECT c.feedSeq, c.callauto, c.no_abr, c.displayName, c.callNote, s.abrno, "
                                "s.ServName FROM tblCall c LEFT JOIN tblTicket t ON t.tickAuto=c.tickAuto "
                                "LEFT JOIN tblService s ON s.servAuto=t.servAuto "
                                "WHERE c.tickDate=? AND c.feedSeq>? ORDER BY c.feedSeq"),
                 {day, after}, DirectRows::Plan::Kept);
    QList<WebCall> out;
    while (q.next()) {
        WebCall c;
        c.seq = q.integer(0);
        c.callKey = q.integer(1);
        c.label = q.text(2);
        c.counter = q.text(3);
        c.note = q.text(4);
        c.serviceAbbr = q.text(5).trimmed();
        c.serviceName = q.text(6);
        out << c;
    }
    return out;
}

QString cssColor(const std::optional<int>& bgr) {
    if (!bgr || *bgr < 0 || *bgr > 0xFFFFFF)
        return {};
    const int v = *bgr;
    return QStringLiteral("#%1%2%3")
        .arg(v & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((v >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((v >> 16) & 0xFF, 2, 16, QLatin1Char('0'));
}

namespace {

QJsonValue size(const std::optional<double>& points) {
    return points && *points > 0 ? QJsonValue(*points) : QJsonValue();
}

QJsonObject font(const QString& name, const std::optional<double>& points, const std::optional<int>& color) {
    return {{QStringLiteral("family"), name},
            {QStringLiteral("size"), size(points)},
            {QStringLiteral("color"), cssColor(color)}};
}

} // namespace

QJsonObject theme(const Database& db, const QString& themeName) {
    constexpr int defaultRows = 12;
    const int key = modSub::getThemeKey(db, themeName);
    const ThemeData t = key != 0 ? ThemeLoader::loadTheme(db, key) : ThemeData{};
    QJsonObject o;
    o.insert(QStringLiteral("found"), t.found);
    o.insert(QStringLiteral("rows"), std::clamp(t.rows.value_or(defaultRows), 1, 99));

    // Captions as the desktop display sets them: the theme's own two, then its header row.
    QJsonArray captions{QString(), QString()};
    if (t.enableH == 1)
        captions = QJsonArray{t.Column1, t.Column2};
    if (t.found)
        if (const std::optional<QStringList> header = ThemeLoader::loadHeader(db, key))
            for (int i = 0; i < 2 && i < header->size(); ++i)
                captions[i] = header->at(i);
    o.insert(QStringLiteral("captions"), captions);

    QJsonObject header =
        font(t.enableH == 1 ? t.hdfont : QString(), t.enableH == 1 ? t.hdfntsize : std::nullopt,
             t.enableH == 1 ? t.hdfntclr : std::nullopt);
    header.insert(QStringLiteral("background"), cssColor(t.hdclrbg));
    o.insert(QStringLiteral("header"), header);
    o.insert(QStringLiteral("token"), font(t.fntcrr, t.sizecrr, t.clrcrr));
    o.insert(QStringLiteral("counter"), font(t.fntval, t.sizeval, t.clrval));
    o.insert(QStringLiteral("background"), cssColor(t.backgroundclr));
    o.insert(QStringLiteral("alternate"), cssColor(t.altcolr));
    o.insert(QStringLiteral("line"), cssColor(t.linecolor));
    o.insert(QStringLiteral("lineWidth"), t.linewidth ? std::clamp(*t.linewidth, 0, 50) : 1);
    o.insert(QStringLiteral("screen"), cssColor(t.screenclr));
    // Stored lengths are half of what the display shows, in twips (15 to a pixel).
    o.insert(QStringLiteral("rowHeightPx"),
             t.rowheight && *t.rowheight > 0 ? QJsonValue(*t.rowheight * 2 / 15) : QJsonValue());
    QJsonArray widths;
    if (t.colwidth)
        for (const QString& part : t.colwidth->split(QLatin1Char(';')).mid(0, 2)) {
            bool ok = false;
            const double w = part.trimmed().toDouble(&ok);
            widths.append(ok && w > 0 ? QJsonValue(w) : QJsonValue());
        }
    o.insert(QStringLiteral("columnWidths"), widths);
    QJsonObject title = font(t.ttlfont, t.ttlsize, t.ttlcolor);
    title.insert(QStringLiteral("text"), t.ttlname);
    title.insert(QStringLiteral("scroll"), t.scroll == 1);
    o.insert(QStringLiteral("title"), title);

    QJsonArray news;
    for (const QString& direction : {QStringLiteral("Left"), QStringLiteral("Right")})
        for (const NewsMessage& m : ThemeLoader::loadNews(db, direction)) {
            QJsonObject n = font(m.fontName, m.fontSize, m.color);
            n.insert(QStringLiteral("text"), m.text);
            n.insert(QStringLiteral("bold"), m.bold);
            n.insert(QStringLiteral("italic"), m.italic);
            n.insert(QStringLiteral("direction"), direction);
            news.append(n);
        }
    o.insert(QStringLiteral("news"), news);
    o.insert(QStringLiteral("newsBackground"), cssColor(t.newsBG));
    return o;
}

} // namespace DisplayData
} // namespace tallyvo
