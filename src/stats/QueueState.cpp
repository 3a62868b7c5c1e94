#include "stats/QueueState.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "core/DirectRows.h"
#include "core/WebKeyShape.h"
#include "stats/WaitEstimator.h"

#include <QJsonValue>

#include <algorithm>
#include <map>
#include <tuple>

namespace tallyvo {

namespace {

// The columns of a token row, in this order, then what the statement adds.
enum Col { Key, Service, WebKey, Label, Date, Call, Status, AttTime, Finished, Attended, Seq };
enum TodayCol { TickTime = Seq + 1, TickNo };
enum OneCol { ServName = Seq + 1, Display, Name };

// Today's token rows with their latest call's place in the call feed, from one pass over today's
// calls (a token is called on its own day only). Bound: today, today. Names come from the small
// tables, read apart. Unsorted: the server's sort of a busy day cost more than the rest of the
// statement, and the queue order is put together here.
const QString todaySql = QStringLiteral(
    "SELECT t.tickAuto, t.servAuto, t.webKey, t.no_abr, t.tickDate, t.call, t.status, t.attTime, t.finished, "
    "t.attended, k.seq, t.tickTime, t.tickNo FROM tblTicket t LEFT JOIN (SELECT tickAuto, max(feedSeq) AS seq "
    "FROM tblCall WHERE tickDate=? GROUP BY tickAuto) k ON k.tickAuto=t.tickAuto WHERE t.tickDate=?");

// The minute of the day of a stored time ("HH:mm:ss"), as the reports count minutes: by the
// minute boundaries crossed. nullopt for a time without hours and minutes.
std::optional<int> minuteOfDay(QByteArrayView t)
{
    bool hoursOk = false;
    bool minutesOk = false;
    const int hours = t.size() >= 2 ? t.first(2).toInt(&hoursOk) : 0;
    const int minutes = t.size() >= 5 ? t.sliced(3, 2).toInt(&minutesOk) : 0;
    if (!hoursOk || !minutesOk)
        return std::nullopt;
    return hours * 60 + minutes;
}

// One token row by its web key, names included. Bound: the key.
QString oneSql()
{
    return QStringLiteral("SELECT t.tickAuto, t.servAuto, t.webKey, t.no_abr, t.tickDate, t.call, t.status, "
                          "t.attTime, t.finished, t.attended, "
                          "(SELECT max(feedSeq) FROM tblCall WHERE tblCall.tickAuto=t.tickAuto), "
                          "s.ServName, c.displayName, c.contName "
                          "FROM tblTicket t LEFT JOIN tblService s ON s.servAuto=t.servAuto "
                          "LEFT JOIN tblCounter c ON c.cntAuto=t.attended WHERE t.webKey=?");
}

QJsonValue json(const std::optional<int>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

// Whether the token stands in its service's queue: Next takes it in number order.
bool inQueue(const DirectRows& r)
{
    return r.bytes(Call) == "0";
}

// How a counter is named to a visitor: as the display shows it, or by its name when it has no
// display name.
QString counterName(const QString& display, const QString& name)
{
    return display.trimmed().isEmpty() ? name : display;
}

// The view of the row q stands on, without place or estimate. `today` is the clock's date text;
// `queued`: whether the row is in its service's queue.
TicketView viewOf(const DirectRows& q, bool queued, const QString& today, const QString& service,
                  const QString& counter)
{
    TicketView v;
    v.key = q.integer(Key);
    v.serviceKey = int(q.integer(Service));
    v.webKey = q.text(WebKey);
    v.label = q.text(Label);
    v.date = q.text(Date);
    v.service = service;
    v.callSeq = q.integer(Seq);
    const bool past = v.date < today;
    const QByteArrayView status = q.bytes(Status);
    if (queued) {
        if (past) {
            // Its day is over and no counter called it: it never will be.
            v.state = TicketState::Cancelled;
        } else if (status == "Transferred") {
            v.state = TicketState::Transferred;
            v.counter = counter;
        } else {
            v.state = TicketState::Waiting;
        }
        return v;
    }
    v.counter = counter;
    const QByteArrayView called = q.bytes(AttTime);
    const QByteArrayView finished = q.bytes(Finished);
    if (status == "Cancelled")
        v.state = TicketState::Cancelled;
    // A finish stamped before its latest call belongs to an earlier call: called again since.
    else if ((!finished.isEmpty() && finished >= called) || past)
        v.state = TicketState::Finished;
    else
        v.state = TicketState::Called;
    return v;
}

} // namespace

QString ticketStateName(TicketState s)
{
    switch (s) {
    case TicketState::Waiting:
        return QStringLiteral("waiting");
    case TicketState::Called:
        return QStringLiteral("called");
    case TicketState::Transferred:
        return QStringLiteral("transferred");
    case TicketState::Finished:
        return QStringLiteral("finished");
    case TicketState::Cancelled:
        return QStringLiteral("cancelled");
    }
    return QString();
}

QJsonObject TicketView::toJson() const
{
    return QJsonObject{{QStringLiteral("label"), label},
                       {QStringLiteral("service"), service},
                       {QStringLiteral("state"), ticketStateName(state)},
                       {QStringLiteral("ahead"), json(ahead)},
                       {QStringLiteral("estimateMinutes"), json(estimateMinutes)},
                       {QStringLiteral("counter"), counter}};
}

QJsonObject ServiceView::toJson() const
{
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("waiting"), waiting},
                       {QStringLiteral("longestWaitMinutes"), json(longestWaitMinutes)},
                       {QStringLiteral("estimateMinutes"), json(estimateMinutes)}};
}

QueueState QueueState::read(const Database& db, const Clock& clock)
{
    QueueState state;
    state.m_date = clock.today();
    const QString today = clock.todayText();
    const std::optional<int> nowMinute = minuteOfDay(clock.nowText().toUtf8());

    // First, so that a call made while the rest is read is newer than this and seen next time.
    state.m_lastCallSeq =
        DirectRows::integerOf(db, QStringLiteral("SELECT coalesce(max(feedSeq), 0) FROM tblCall WHERE tickDate=?"),
                              {today}, DirectRows::Plan::Kept)
            .value_or(0);

    // The names first: a handful of rows, looked up per token in memory instead of joined.
    QHash<int, QString> serviceNames;
    {
        QSqlQuery q = db.run(QStringLiteral("SELECT servAuto, ServName, active FROM tblService "
                                            "ORDER BY ServName, servAuto"));
        while (q.next()) {
            ServiceView s;
            s.key = q.value(0).toInt();
            s.name = q.value(1).toString();
            serviceNames.insert(s.key, s.name);
            if (q.value(2).toString() == QLatin1String("1"))
                state.m_services.append(s);
        }
    }
    QHash<int, QString> counterNames;
    {
        QSqlQuery q = db.run(QStringLiteral("SELECT cntAuto, displayName, contName FROM tblCounter"));
        while (q.next())
            counterNames.insert(q.value(0).toInt(), counterName(q.value(1).toString(), q.value(2).toString()));
    }

    struct Queue {
        int waiting = 0;
        std::optional<int> longest;
    };
    std::map<int, Queue> queues;
    // The waiting tokens in the order Next takes them: by service, then number.
    struct Waiter {
        int service;
        qint64 number;
        std::ptrdiff_t ticket; // into m_tickets, or -1 for a token without a web key
        bool operator<(const Waiter& o) const { return std::tie(service, number) < std::tie(o.service, o.number); }
    };
    std::vector<Waiter> waiters;
    {
        DirectRows q(db, todaySql, {today, today}, DirectRows::Plan::Kept);
        while (q.next()) {
            const bool waits = inQueue(q);
            const int service = int(q.integer(Service));
            Queue& queue = queues[service];
            std::ptrdiff_t ticket = -1;
            if (!q.bytes(WebKey).isEmpty()) {
                TicketView v = viewOf(q, waits, today, serviceNames.value(service),
                                      counterNames.value(int(q.integer(Attended))));
                ticket = std::ptrdiff_t(state.m_tickets.size());
                state.m_byWebKey.insert(v.webKey, state.m_tickets.size());
                state.m_tickets.push_back(std::move(v));
            }
            if (!waits)
                continue;
            ++queue.waiting;
            const std::optional<int> issued = minuteOfDay(q.bytes(TickTime));
            if (issued && nowMinute)
                queue.longest = std::max(queue.longest.value_or(0), std::max(*nowMinute - *issued, 0));
            waiters.push_back({service, q.integer(TickNo), ticket});
        }
    }
    std::sort(waiters.begin(), waiters.end());
    for (size_t i = 0, ahead = 0; i < waiters.size(); ++i) {
        ahead = i > 0 && waiters[i - 1].service == waiters[i].service ? ahead + 1 : 0;
        if (waiters[i].ticket >= 0)
            state.m_tickets[size_t(waiters[i].ticket)].ahead = int(ahead);
    }
    for (ServiceView& s : state.m_services) {
        const auto queue = queues.find(s.key);
        if (queue != queues.end()) {
            s.waiting = queue->second.waiting;
            s.longestWaitMinutes = queue->second.longest;
        }
    }

    // Each service's rate once, for the services that need one, read together.
    QList<int> rated;
    for (const ServiceView& s : std::as_const(state.m_services))
        rated << s.key;
    for (const auto& [service, queue] : queues)
        if (queue.waiting > 0 && !rated.contains(service))
            rated << service;
    std::map<int, std::optional<WaitEstimator::Rate>> rates = WaitEstimator(db, clock).rates(rated);
    auto rateOf = [&](int service) -> const std::optional<WaitEstimator::Rate>& { return rates[service]; };
    for (ServiceView& s : state.m_services) {
        if (const auto& rate = rateOf(s.key))
            s.estimateMinutes = WaitEstimator::minutesAt(*rate, s.waiting);
    }
    for (TicketView& t : state.m_tickets) {
        if (!t.ahead)
            continue;
        if (const auto& rate = rateOf(t.serviceKey))
            t.estimateMinutes = WaitEstimator::minutesAt(*rate, *t.ahead);
    }
    return state;
}

const TicketView* QueueState::ticket(const QString& webKey) const
{
    const auto it = m_byWebKey.constFind(webKey);
    return it == m_byWebKey.constEnd() ? nullptr : &m_tickets[*it];
}

std::optional<TicketView> QueueState::find(const Database& db, const Clock& clock, const QString& webKey)
{
    if (!WebKeys::wellFormed(webKey))
        return std::nullopt;
    const QString today = clock.todayText();
    std::optional<TicketView> found;
    bool queued = false;
    {
        DirectRows q(db, oneSql(), {webKey});
        if (!q.next())
            return std::nullopt;
        const bool waits = inQueue(q);
        found = viewOf(q, waits, today, q.text(ServName), counterName(q.text(Display), q.text(Name)));
        queued = waits && found->date == today;
    }
    TicketView& v = *found;
    if (queued) {
        // Counted as read() counts them: the waiting tokens of its service Next takes first.
        v.ahead = int(DirectRows::integerOf(db,
                                            QStringLiteral("SELECT count(*) FROM tblTicket WHERE call='0' AND "
                                                           "tickDate=? AND servAuto=? AND tickNo<(SELECT tickNo "
                                                           "FROM tblTicket WHERE tickAuto=?)"),
                                            {today, v.serviceKey, v.key})
                          .value_or(0));
        if (const auto rate = WaitEstimator(db, clock).rate(v.serviceKey))
            v.estimateMinutes = WaitEstimator::minutesAt(*rate, *v.ahead);
    }
    return v;
}

} // namespace tallyvo
