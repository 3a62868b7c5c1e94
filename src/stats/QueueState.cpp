#include "stats/QueueState.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "core/WebKeyShape.h"
#include "stats/WaitEstimator.h"

#include <QJsonValue>

#include <map>

namespace tallyvo {

namespace {

// Token rows with everything their views need, where `where` holds; the last column is the minutes
// waited so far (bound first: now, now).
QString ticketSql(const QString& where)
{
    return QStringLiteral("SELECT t.tickAuto, t.servAuto, t.webKey, t.no_abr, t.tickDate, t.call, t.status, "
                          "t.attTime, t.finished, s.ServName, c.displayName, c.contName, "
                          "(SELECT max(feedSeq) FROM tblCall WHERE tblCall.tickAuto=t.tickAuto), %2 "
                          "FROM tblTicket t LEFT JOIN tblService s ON s.servAuto=t.servAuto "
                          "LEFT JOIN tblCounter c ON c.cntAuto=t.attended WHERE %1")
        .arg(where, Dialect::minutesBetween(QStringLiteral("t.tickTime"), QStringLiteral("CAST(? AS TEXT)")));
}

enum Col { Key, Service, WebKey, Label, Date, Call, Status, AttTime, Finished, ServName, Display, Name, Seq, Waited };

std::optional<int> optionalInt(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return std::nullopt;
    return v.toInt();
}

QJsonValue json(const std::optional<int>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

// Whether the token stands in its service's queue: Next takes it in number order.
bool inQueue(const QSqlQuery& q)
{
    return q.value(Call).toString() == QLatin1String("0");
}

// The view of the row q stands on, without place or estimate. `today` is the clock's date text.
TicketView viewOf(const QSqlQuery& q, const QString& today)
{
    TicketView v;
    v.key = q.value(Key).toLongLong();
    v.serviceKey = q.value(Service).toInt();
    v.webKey = q.value(WebKey).toString();
    v.label = q.value(Label).toString();
    v.date = q.value(Date).toString();
    v.service = q.value(ServName).toString();
    v.callSeq = q.value(Seq).toLongLong();
    const bool past = v.date < today;
    const QString status = q.value(Status).toString();
    QString counter = q.value(Display).toString();
    if (counter.trimmed().isEmpty())
        counter = q.value(Name).toString();
    if (inQueue(q)) {
        if (past) {
            // Its day is over and no counter called it: it never will be.
            v.state = TicketState::Cancelled;
        } else if (status == QLatin1String("Transferred")) {
            v.state = TicketState::Transferred;
            v.counter = counter;
        } else {
            v.state = TicketState::Waiting;
        }
        return v;
    }
    v.counter = counter;
    const QString called = q.value(AttTime).toString();
    const QString finished = q.value(Finished).toString();
    if (status == QLatin1String("Cancelled"))
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
    const QString now = clock.nowText();

    // First, so that a call made while the rest is read is newer than this and seen next time.
    state.m_lastCallSeq =
        db.scalar(QStringLiteral("SELECT coalesce(max(feedSeq), 0) FROM tblCall WHERE tickDate=?"), {today})
            .toLongLong();

    struct Queue {
        int waiting = 0;
        std::optional<int> longest;
    };
    std::map<int, Queue> queues;
    {
        QSqlQuery q = db.run(ticketSql(QStringLiteral("t.tickDate=? ORDER BY t.servAuto, t.tickNo")),
                             {now, now, today});
        while (q.next()) {
            const bool waits = inQueue(q);
            Queue& queue = queues[q.value(Service).toInt()];
            if (waits) {
                if (const std::optional<int> waited = optionalInt(q.value(Waited)))
                    queue.longest = std::max(queue.longest.value_or(0), std::max(*waited, 0));
            }
            if (!q.value(WebKey).toString().isEmpty()) {
                TicketView v = viewOf(q, today);
                if (waits)
                    v.ahead = queue.waiting;
                state.m_byWebKey.insert(v.webKey, state.m_tickets.size());
                state.m_tickets.push_back(std::move(v));
            }
            if (waits)
                ++queue.waiting;
        }
    }

    {
        QSqlQuery q = db.run(QStringLiteral("SELECT servAuto, ServName FROM tblService WHERE active='1' "
                                            "ORDER BY ServName, servAuto"));
        while (q.next()) {
            ServiceView s;
            s.key = q.value(0).toInt();
            s.name = q.value(1).toString();
            const auto queue = queues.find(s.key);
            if (queue != queues.end()) {
                s.waiting = queue->second.waiting;
                s.longestWaitMinutes = queue->second.longest;
            }
            state.m_services.append(s);
        }
    }

    // Each service's rate once, for the services that need one.
    const WaitEstimator estimator(db, clock);
    std::map<int, std::optional<WaitEstimator::Rate>> rates;
    auto rateOf = [&](int service) -> const std::optional<WaitEstimator::Rate>& {
        auto it = rates.find(service);
        if (it == rates.end())
            it = rates.emplace(service, estimator.rate(service)).first;
        return it->second;
    };
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
    const QString now = clock.nowText();
    QSqlQuery q = db.run(ticketSql(QStringLiteral("t.webKey=?")), {now, now, webKey});
    if (!q.next())
        return std::nullopt;
    TicketView v = viewOf(q, today);
    const bool queued = inQueue(q) && v.date == today;
    q.finish();
    if (queued) {
        // Counted as read() counts them: the waiting tokens of its service Next takes first.
        v.ahead = db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE call='0' AND tickDate=? AND "
                                           "servAuto=? AND tickNo<(SELECT tickNo FROM tblTicket WHERE tickAuto=?)"),
                            {today, v.serviceKey, v.key})
                      .toInt();
        if (const auto rate = WaitEstimator(db, clock).rate(v.serviceKey))
            v.estimateMinutes = WaitEstimator::minutesAt(*rate, *v.ahead);
    }
    return v;
}

} // namespace tallyvo
