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
    // The site's web station ("https://queue.example.org"), the station's setting; "" for none.
    // Without it the ticket is printed as it always was.
    QString webAddress;
    QString webKey;                     // the token's key there; "" prints no QR code
    std::optional<int> estimateMinutes; // the expected wait, nullopt when unknown
};

// One printed line. The text starts at a column counted in the average character width of the
// line's own font (column 1 is the left edge), the way ticket printers lay out their text.
struct TicketLine {
    qreal pointSize = 10;
    bool bold = false;
    int column = 1;
    QString text;
    // Not "": the line is a QR code of this text instead (QrCode), centred on the paper.
    QString qrCode = {};
};

// The seventeen lines of a ticket, top to bottom. Bold starts at the token line and stays on.
// Every kind of printer prints these, so a ticket reads the same whichever printer a station has.
// With a web address, the token line is followed by the QR code of ticketLink() when the token
// has a web key, and by "About N min" when its wait is known.
QVector<TicketLine> ticketLines(const TicketText& ticket);

// How a ticket says the expected wait: "About N min".
QString estimateText(int minutes);

// A web station's address as stored: http or https, a host, an optional path, no query or
// fragment, blanks around and a trailing slash dropped ("https://queue.example.org/" gives
// "https://queue.example.org"). "" stays "" (no web station); nullopt when the text is not
// such an address.
std::optional<QString> webAddress(const QString& text);

// ADDRESS/t/WEBKEY: the token's page on the web station; "" when either is missing or the
// address is not one (a settings file edited by hand prints no code rather than a broken one).
QString ticketLink(const QString& address, const QString& webKey);

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
