#include "tokens/TicketText.h"

#include <QCoreApplication>
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

} // namespace tallyvo
