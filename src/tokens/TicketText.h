#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVector>
#include <functional>
#include <optional>
#include <utility>

namespace tallyvo {

class Clock;
class Database;
struct TicketData;

// What one paper ticket says, gathered before the printer is touched.
struct TicketText {
    QString company1;    // company name
    QString company2;    // company address
    QString printedAt;   // date and time, already formatted
    QString serviceName;
    QString label;       // the token label, e.g. "A7"
    QString nowServing;  // label the service called last today, "" when none
    QString description; // the service description
};

// One printed line. The text starts at a column counted in the average character width of the
// line's own font (column 1 is the left edge), the way ticket printers lay out their text.
struct TicketLine {
    qreal pointSize = 10;
    bool bold = false;
    int column = 1;
    QString text;
};

// The seventeen lines of a ticket, top to bottom. Bold starts at the token line and stays on.
// Every kind of printer prints these, so a ticket reads the same whichever printer a station has.
QVector<TicketLine> ticketLines(const TicketText& ticket);

// The lines a ticket line's text holds (an address typed on two lines), without blank ones.
QStringList ticketParagraphs(const QString& text);

// Breaks a ticket line into lines no wider than `width`, as `measure` counts width: first at the
// line breaks the text holds, then at blanks; a word wider than a whole line is cut where the
// line ends. Text that fits is kept as it is. Empty text gives no lines.
QStringList wrapTicketText(const QString& text, qreal width, const std::function<qreal(const QString&)>& measure);

// The date and time a ticket shows: the system's short date and time format.
QString ticketTime(const QDate& day, const QTime& time);

// The company name and address printed at the top of every ticket; nullopt when the site has
// none stored. Throws DbError when the database cannot be read.
std::optional<std::pair<QString, QString>> companyLines(const Database& db);

// A token's ticket as printed now by the clock. The "now serving" line is the caller's, which
// decides what a failed look-up of it means.
TicketText ticketText(const TicketData& ticket, const QString& company1, const QString& company2, const Clock& clock);

} // namespace tallyvo
