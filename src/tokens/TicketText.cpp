#include "tokens/TicketText.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "tokens/TicketPrinter.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

namespace tallyvo {

QVector<TicketLine> ticketLines(const TicketText& t)
{
    // Columns and sizes are the ticket's established look; staff and visitors know where to find
    // the number, so they stay as they are.
    QVector<TicketLine> lines{
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
    const std::optional<QString> address = webAddress(t.webAddress);
    if (!address || address->isEmpty())
        return lines;
    // Under the number, where the visitor looks first: the code to scan, then how long to wait.
    constexpr qsizetype kTokenLine = 8;
    qsizetype at = kTokenLine + 1;
    if (const QString link = ticketLink(*address, t.webKey); !link.isEmpty())
        lines.insert(at++, TicketLine{10, true, 1, {}, link});
    if (t.estimateMinutes && *t.estimateMinutes >= 0) {
        lines.insert(at, TicketLine{12, true, 4, estimateText(*t.estimateMinutes), {}});
    }
    return lines;
}

QString estimateText(int minutes)
{
    return QCoreApplication::translate("frmTicket", "About %1 min").arg(QLocale::system().toString(minutes));
}

std::optional<QString> webAddress(const QString& text)
{
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QString();
    while (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    // Checked on the text as typed: QUrl would quietly accept what a phone's browser would not.
    if (trimmed.contains(QLatin1Char('?')) || trimmed.contains(QLatin1Char('#'))
        || trimmed.contains(QRegularExpression(QStringLiteral("\\s"))))
        return std::nullopt;
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        || url.host().isEmpty() || !url.userInfo().isEmpty()
        || !trimmed.startsWith(scheme + QLatin1String("://"), Qt::CaseInsensitive))
        return std::nullopt;
    return trimmed;
}

QString ticketLink(const QString& address, const QString& webKey)
{
    const std::optional<QString> site = webAddress(address);
    const QString key = webKey.trimmed();
    if (!site || site->isEmpty() || key.isEmpty())
        return QString();
    return *site + QLatin1String("/t/") + QString::fromLatin1(QUrl::toPercentEncoding(key));
}

namespace {

// The longest start of `word` that fits, at least one character (a surrogate pair stays whole).
qsizetype fittingPrefix(const QString& word, qreal width, const std::function<qreal(const QString&)>& measure)
{
    qsizetype fit = 0;
    for (qsizetype n = 1; n <= word.size(); ++n) {
        if (n < word.size() && word.at(n - 1).isHighSurrogate() && word.at(n).isLowSurrogate())
            continue;
        if (fit > 0 && measure(word.left(n)) > width)
            break;
        fit = n;
    }
    return fit;
}

} // namespace

QStringList ticketParagraphs(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    QStringList paragraphs = text.split(lineBreak);
    paragraphs.removeIf([](const QString& p) { return p.trimmed().isEmpty(); });
    return paragraphs;
}

QStringList wrapTicketText(const QString& text, qreal width, const std::function<qreal(const QString&)>& measure)
{
    QStringList lines;
    for (const QString& paragraph : ticketParagraphs(text)) {
        if (measure(paragraph) <= width) {
            lines << paragraph;
            continue;
        }
        QString current;
        for (QString word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!current.isEmpty()) {
                const QString longer = current + QLatin1Char(' ') + word;
                if (measure(longer) <= width) {
                    current = longer;
                    continue;
                }
                lines << current;
            }
            while (measure(word) > width) {
                const qsizetype cut = fittingPrefix(word, width, measure);
                if (cut >= word.size())
                    break;
                lines << word.left(cut);
                word = word.mid(cut);
            }
            current = word;
        }
        if (!current.isEmpty())
            lines << current;
    }
    return lines;
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
    text.webKey = ticket.webKey;
    text.estimateMinutes = ticket.estimateMinutes;
    return text;
}

} // namespace tallyvo
