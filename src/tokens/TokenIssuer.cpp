#include "tokens/TokenIssuer.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "core/NumberText.h"
#include "core/Session.h"
#include "stats/WaitEstimator.h"
#include "tokens/WebKeys.h"

#include <QUuid>
#include <cmath>
#include <exception>
#include <limits>

namespace tallyvo {

namespace {

// Two stations that read the same highest number both try to store the next one; the loser
// reads again. Each round stores somebody's token, so this is only reached by a storm of stations.
constexpr int maxStoreAttempts = 200;
// Connections lost in one issue before it gives up: a failover costs one, a server that keeps
// dropping its connections is reported.
constexpr int maxLostConnections = 3;

} // namespace

QString IssueResult::message() const
{
    switch (status) {
    case Status::Issued:
        return QString();
    case Status::Limit:
        return tr("Limit");
    case Status::Failed:
        return error;
    case Status::PrintFailed:
        return tr("Token %1 is stored, but its ticket was not printed: %2").arg(token.label, error);
    }
    return QString();
}

TokenIssuer::TokenIssuer(const Database& db, const Clock& clock, const Session& session, TicketPrinter& printer)
    : m_db(db)
    , m_clock(clock)
    , m_session(session)
    , m_printer(printer)
{
}

void TokenIssuer::setIssueDate(const QDate& date)
{
    m_issueDate = date;
}

QDate TokenIssuer::issueDate() const
{
    return m_issueDate.isValid() ? m_issueDate : m_clock.today();
}

QString TokenIssuer::issueDateText() const
{
    return issueDate().toString(QStringLiteral("yyyy-MM-dd"));
}

QString TokenIssuer::tokenLabel(const QString& prefix, int number)
{
    return prefix + QString::number(number);
}

int TokenIssuer::numberOf(const QString& text)
{
    // The service window accepts a start or end by this same rule, so "300.0" or "1e1" stored
    // there count as 300 and 10 here rather than as 0.
    const std::optional<double> v = NumberText::value(text);
    if (!v || std::trunc(*v) != *v)
        return 0;
    if (*v > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (*v < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(*v);
}

int TokenIssuer::getToken(int serviceKey) const
{
    const QVariant highest = m_db.scalar(
        QStringLiteral("SELECT max(tickNo) FROM tblTicket WHERE servAuto=? AND tickDate=?"),
        {serviceKey, issueDateText()});
    if (highest.isValid() && !highest.isNull())
        return highest.toInt() + 1;
    const QVariant start = m_db.scalar(QStringLiteral("SELECT startno FROM tblService WHERE servAuto=?"), {serviceKey});
    return start.isValid() ? numberOf(start.toString()) : 0;
}

std::optional<StoredToken> TokenIssuer::addRc(int serviceKey, const QString& prefix, int number, int lastNumber,
                                              const QString& requestKey)
{
    // Choosing the number and storing it is one statement: no other station can store between
    // the two. Where two statements still meet (PostgreSQL reads before it writes), the unique
    // index refuses the second and it runs again on the new highest number.
    static const QString sql = QStringLiteral(
        "INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, webKey, requestKey) "
        "SELECT CAST(? AS INTEGER), t.num, CAST(? AS TEXT), CAST(? AS TEXT), '0', "
        "CAST(? AS TEXT) || CAST(t.num AS TEXT), 0, CAST(? AS TEXT), CAST(? AS TEXT) "
        "FROM (SELECT coalesce(max(tickNo) + 1, CAST(? AS INTEGER)) AS num "
        "FROM tblTicket WHERE servAuto=? AND tickDate=?) t "
        "WHERE t.num <= CAST(? AS INTEGER) "
        "RETURNING tickAuto, tickNo, no_abr");
    const QString date = issueDateText();
    for (int attempt = 1;; ++attempt) {
        // A fresh key on every attempt: should a key ever meet another, the unique rule refuses it
        // like a number taken and the next attempt draws again.
        const QString webKey = WebKeys::make();
        if (m_storeHook)
            m_storeHook(StoreMoment::Before);
        try {
            // Run to its end: the token counts as stored only once the database has taken the
            // whole statement and its commit, not when the RETURNING row arrives.
            const std::optional<QVariantList> row = m_db.firstRow(
                sql, {serviceKey, date, m_clock.nowText(), prefix, webKey,
                      // No key is NULL, which the unique rule never compares.
                      requestKey.isEmpty() ? QVariant(QMetaType::fromType<int>()) : QVariant(requestKey), number,
                      serviceKey, date, lastNumber});
            if (row && m_storeHook)
                m_storeHook(StoreMoment::Stored);
            if (!row)
                return std::nullopt;
            StoredToken token;
            token.key = row->value(0).toLongLong();
            token.number = row->value(1).toInt();
            token.label = row->value(2).toString();
            token.date = date;
            token.webKey = webKey;
            return token;
        } catch (const DbError& e) {
            if (!Dialect::isUniqueViolation(e.text()) || attempt >= maxStoreAttempts)
                throw;
        }
    }
}

IssueResult TokenIssuer::getEnd(int serviceKey, const QString& serviceName, int number)
{
    return store(serviceKey, serviceName, number, true);
}

IssueResult TokenIssuer::issue(int serviceKey, const QString& serviceName)
{
    // getToken's number is worked out by the storing statement itself: the highest + 1, or the
    // service's start number for the first token of the date.
    return store(serviceKey, serviceName, 0, false);
}

IssueResult TokenIssuer::store(int serviceKey, const QString& serviceName, int number, bool checkNumber)
{
    IssueResult result;
    QString description;
    try {
        QSqlQuery q = m_db.run(
            QStringLiteral("SELECT startno, endno, abrno, servdesc FROM tblService WHERE servAuto=?"), {serviceKey});
        if (!q.next()) {
            result.error = tr("The service no longer exists.");
            return result;
        }
        if (!checkNumber)
            number = numberOf(q.value(0).toString());
        const int last = numberOf(q.value(1).toString());
        const QString prefix = q.value(2).toString();
        description = q.value(3).toString();
        // An open read would make SQLite's insert below upgrade a stale snapshot and fail busy.
        q.finish();
        if (checkNumber && number > last) {
            result.status = IssueResult::Status::Limit;
            return result;
        }
        const std::optional<StoredToken> token = storeOnce(serviceKey, prefix, number, last);
        if (!token) {
            // Beyond the end number, also when another station took the last one meanwhile.
            result.status = IssueResult::Status::Limit;
            return result;
        }
        result.token = *token;
    } catch (const DbError& e) {
        result.error = e.text();
        return result;
    }
    m_issueDate = QDate();

    result.status = IssueResult::Status::Issued;
    // The ticket names the token's page by its web key and says the expected wait when it is
    // known; the printer shows both only where the station has a web address.
    std::optional<int> estimate;
    if (m_session.ticketCopies > 0) {
        try {
            estimate = WaitEstimator(m_db, m_clock).minutesFor(result.token.key);
        } catch (const DbError&) {
            // No estimate is better than no ticket.
        }
    }
    const TicketData ticket{result.token.label, serviceKey, serviceName, description, result.token.webKey, estimate};
    for (int copy = 0; copy < m_session.ticketCopies; ++copy) {
        QString why;
        try {
            if (m_printer.startPrint(ticket)) {
                ++result.copiesPrinted;
                continue;
            }
            why = m_printer.lastError();
        } catch (const std::exception& e) {
            why = QString::fromLocal8Bit(e.what());
        }
        // The token is stored whatever the printer does: the other copies are still tried.
        result.status = IssueResult::Status::PrintFailed;
        if (result.error.isEmpty())
            result.error = why.isEmpty() ? tr("The printer did not take the ticket.") : why;
    }
    return result;
}

std::optional<StoredToken> TokenIssuer::storeOnce(int serviceKey, const QString& prefix, int number, int lastNumber)
{
    if (m_pendingKey.isEmpty() || m_pendingService != serviceKey) {
        m_pendingKey = QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_pendingService = serviceKey;
    } else if (std::optional<StoredToken> stored = byRequestKey(m_pendingKey)) {
        // The try whose answer was lost stored it: this issue is that one again.
        m_pendingKey.clear();
        if (stored->date == issueDateText())
            return stored;
        m_pendingKey = QUuid::createUuid().toString(QUuid::WithoutBraces);
    }
    const QString requestKey = m_pendingKey;
    for (int lost = 1;; ++lost) {
        try {
            std::optional<StoredToken> token = addRc(serviceKey, prefix, number, lastNumber, requestKey);
            m_pendingKey.clear();
            return token;
        } catch (const ConnectionLost& e) {
            // The key stays pending until it is known what became of it.
            if (lost >= maxLostConnections)
                throw;
            // On the new connection (a failed one throws here): did the lost try store it?
            if (e.outcomeUnknown()) {
                if (std::optional<StoredToken> stored = byRequestKey(requestKey)) {
                    m_pendingKey.clear();
                    return stored;
                }
            }
        }
    }
}

std::optional<StoredToken> TokenIssuer::byRequestKey(const QString& requestKey) const
{
    if (m_storeHook)
        m_storeHook(StoreMoment::Lookup);
    const std::optional<QVariantList> row = m_db.firstRow(
        QStringLiteral("SELECT tickAuto, tickNo, no_abr, tickDate, webKey FROM tblTicket WHERE requestKey=?"),
        {requestKey});
    if (!row)
        return std::nullopt;
    StoredToken token;
    token.key = row->value(0).toLongLong();
    token.number = row->value(1).toInt();
    token.label = row->value(2).toString();
    token.date = row->value(3).toString();
    token.webKey = row->value(4).toString();
    return token;
}

QString TokenIssuer::getNowServing(int serviceKey) const
{
    const QVariant label = m_db.scalar(QStringLiteral("SELECT no_abr FROM tblTicket WHERE call='1' AND tickDate=? "
                                                      "AND servAuto=? ORDER BY tickAuto DESC LIMIT 1"),
                                       {m_clock.todayText(), serviceKey});
    return label.isValid() ? label.toString() : QString();
}

} // namespace tallyvo
