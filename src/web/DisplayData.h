#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace tallyvo {

class Database;

// One call or recall as the browser display takes it: the feed's place (tblCall.feedSeq, which a
// recall moves to the end of the feed), the label and the counter text of the token table.
struct WebCall {
    qint64 seq = 0;
    qint64 callKey = 0;  // callauto
    QString label;       // no_abr
    QString counter;     // the counter's display name as the call stored it
    QString note;        // callNote: a second line under the counter, or ""
    QString serviceAbbr; // the token's service: its abbreviation (abrno) and name, for ?services=
    QString serviceName;

    QJsonObject toJson() const; // {"seq","label","counter","note","service"}
    // Whether the call belongs to one of the services named (abbreviation or name); an empty
    // list takes every call.
    bool matches(const QStringList& services) const;
};

namespace DisplayData {

// The day's calls after the feed place `after`, in feed order. Throws DbError.
QList<WebCall> callsAfter(const Database& db, const QString& day, qint64 after);

// What the browser display draws, from the theme named (the setting every display station
// reads): table rows, captions, colours as CSS, fonts, the title and the scroll news. A theme
// that does not exist gives the display's default look. Throws DbError.
QJsonObject theme(const Database& db, const QString& themeName);

// A stored 0x00BBGGRR colour as CSS "#rrggbb"; "" for none or an impossible value.
QString cssColor(const std::optional<int>& bgr);

} // namespace DisplayData
} // namespace tallyvo
