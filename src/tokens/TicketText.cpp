#include "tokens/TicketText.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "tokens/TicketPrinter.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QDateTime>
#include <QLocale>

namespace tallyvo {

QVector<TicketLine> ticketLines(const TicketText& t)
{
    // Columns and sizes are the ticket's established look; staff and visitors know where to find
    // the number, so they stay as they are.
    return {
        {10, false, 1, {}},
        {10, false, 1, {}},
        {12, false, 3, t.company1},
        {12, false, 10, t.company2},
        {12, false, 1, {}},
        {10, false, 10, t.printedAt},
        {10, false, 5, t.serviceName},
        {10, false, 1, {}},
        {42, true, 3, t.label},
        {10, true, 3, {}},
        {10, true, 4, QCoreApplication::translate("frmTicket", "Now Serving : ") + t.nowServing},
        {10, true, 1, t.description + QLatin1Char(' ')},
        {10, true, 1, {}},
        {10, true, 4, QCoreApplication::translate("frmTicket", "Thank you for waiting")},
        {10, true, 1, {}},
        {10, true, 1, {}},
        {10, true, 1, {}},
    };
}

QString ticketTime(const QDate& day, const QTime& time)
{
    return QLocale::system().toString(QDateTime(day, time), QLocale::ShortFormat);
}

std::optional<std::pair<QString, QString>> companyLines(const Database& db)
{
    QSqlQuery q = db.run(QStringLiteral("SELECT compName, compAddress FROM tblComp WHERE compAuto=1"));
    if (!q.next())
        return std::nullopt;
    return std::pair{q.value(0).toString(), q.value(1).toString()};
}

TicketText ticketText(const TicketData& ticket, const QString& company1, const QString& company2, const Clock& clock)
{
    TicketText text;
    text.company1 = company1;
    text.company2 = company2;
    text.printedAt = ticketTime(clock.today(), clock.now());
    text.serviceName = ticket.serviceName;
    text.label = ticket.label;
    text.description = ticket.serviceDesc;
    return text;
}

} // namespace tallyvo
