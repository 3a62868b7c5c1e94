#pragma once

#include <QDate>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>
#include <vector>

namespace tallyvo {

class Clock;
class Database;

// Where a token stands, as a visitor's phone shows it.
//   Waiting      not called yet (call '0'), in the queue of its service
//   Called       called to a counter and not finished yet; a recall keeps it here
//   Transferred  handed to another counter and not called again yet: still in the queue of its
//                service, which any counter of the service may call next
//   Finished     the counter moved on from it (its finish time is stamped after its latest call)
//   Cancelled    the counter marked it cancelled
// Queues are per day: a token of an earlier day that no counter called (waiting or transferred at
// the end of its day) will never be called, so it shows Cancelled, with no counter, place or
// estimate. A token of an earlier day that was called and never closed shows Finished: its day is
// over. A token issued for a later day shows Waiting with no place and no estimate yet.
enum class TicketState { Waiting, Called, Transferred, Finished, Cancelled };
QString ticketStateName(TicketState s); // "waiting", "called", "transferred", "finished", "cancelled"

struct TicketView {
    qint64 key = 0; // tickAuto
    int serviceKey = 0;
    QString webKey, label, service, date; // date "yyyy-MM-dd"
    TicketState state = TicketState::Waiting;
    // Tokens the counters will call before it, in the order Next takes them: today's waiting and
    // transferred tokens only (nullopt otherwise).
    std::optional<int> ahead;
    // Minutes until it is called, from the service's rate (WaitEstimator); the same tokens only,
    // nullopt when unknown.
    std::optional<int> estimateMinutes;
    // The counter it was called to (called, finished, cancelled) or transferred to: its display
    // name, or its name when that is empty; "" when none.
    QString counter;
    qint64 callSeq = 0; // tblCall.feedSeq of its latest call or recall (0 never called): a recall raises it
    QJsonObject toJson() const; // {"label","service","state","ahead","estimateMinutes","counter"}; null for unknown
};

struct ServiceView {
    int key = 0;
    QString name;
    int waiting = 0; // today's waiting and transferred tokens
    // Of the tokens waiting now, from issue to now: whole minutes as the reports count them
    // (minute boundaries crossed); nullopt when none waits.
    std::optional<int> longestWaitMinutes;
    std::optional<int> estimateMinutes; // for a token issued now (ahead = waiting)
    QJsonObject toJson() const;         // {"name","waiting","longestWaitMinutes","estimateMinutes"}
};

// The queues of today as one snapshot: what the web station shows visitors and supervisors.
class QueueState {
public:
    // Today's tokens of every service and the active services, read with a few statements (never
    // one per token; the wait rate once per service). Throws DbError.
    static QueueState read(const Database& db, const Clock& clock);

    const TicketView* ticket(const QString& webKey) const; // today's token with that key, or nullptr
    const std::vector<TicketView>& tickets() const { return m_tickets; } // today's tokens with a web key
    const QList<ServiceView>& services() const { return m_services; }   // active services, by name
    QDate date() const { return m_date; }
    qint64 lastCallSeq() const { return m_lastCallSeq; } // highest feedSeq of today's calls

    // One token by its key, of any day (tallyvoctl status, and keys not in today's state).
    // nullopt for an unknown or malformed key (a malformed one is never looked up). Throws DbError.
    static std::optional<TicketView> find(const Database& db, const Clock& clock, const QString& webKey);

private:
    std::vector<TicketView> m_tickets; // in no particular order
    QHash<QString, size_t> m_byWebKey; // index into m_tickets
    QList<ServiceView> m_services;
    QDate m_date;
    qint64 m_lastCallSeq = 0;
};

} // namespace tallyvo
