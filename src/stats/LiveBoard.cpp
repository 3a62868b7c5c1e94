#include "stats/LiveBoard.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "stats/QueueFigures.h"
#include "stats/WaitEstimator.h"

#include <QHash>
#include <QJsonArray>
#include <QSqlQuery>

namespace tallyvo {

namespace {

const QString timeFormat = QStringLiteral("HH:mm:ss");

QJsonValue orNull(const std::optional<int>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

QJsonValue orNull(const std::optional<double>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

} // namespace

LiveBoard::LiveBoard(const Database& db, const Clock& clock)
    : m_db(db)
    , m_clock(clock)
{
}

LiveBoard::Snapshot LiveBoard::snapshot() const
{
    Snapshot board;
    board.date = m_clock.todayText();
    board.time = m_clock.now().toString(timeFormat);
    const int now = QueueFigures::secondOfDay(board.time);

    QHash<int, size_t> serviceAt;
    {
        QSqlQuery q = m_db.run(
            QStringLiteral("SELECT servAuto, ServName, slaMinutes FROM tblService WHERE active='1' ORDER BY ServName"));
        while (q.next()) {
            ServiceLine s;
            s.key = q.value(0).toInt();
            s.name = q.value(1).toString();
            if (!q.value(2).isNull() && q.value(2).toInt() > 0)
                s.target = q.value(2).toInt();
            serviceAt.insert(s.key, board.services.size());
            board.services.push_back(s);
        }
    }
    QHash<int, size_t> counterAt;
    {
        QSqlQuery q = m_db.run(QStringLiteral("SELECT c.cntAuto, c.contName, c.displayName, s.ServName FROM tblCounter c "
                                              "LEFT JOIN tblService s ON c.servAuto = s.servAuto WHERE c.active='1' "
                                              "ORDER BY c.contName"));
        while (q.next()) {
            CounterLine c;
            c.key = q.value(0).toInt();
            c.name = q.value(1).toString();
            c.displayName = q.value(2).toString();
            c.service = q.value(3).toString();
            counterAt.insert(c.key, board.counters.size());
            board.counters.push_back(c);
        }
    }

    // Today's tokens, once.
    struct Minutes {
        qint64 sum = 0;
        int count = 0;
    };
    std::vector<Minutes> service(board.services.size());
    std::vector<int> earliestWaiting(board.services.size(), -1);
    struct Hand {
        int calledAt = -1;
        qint64 key = 0;
        QString label;
        int lastFinish = -1;
    };
    std::vector<Hand> hands(board.counters.size());
    QSqlQuery q = m_db.run(QStringLiteral("SELECT tickAuto, servAuto, call, status, tickTime, attTime, finished, "
                                          "attended, no_abr FROM tblTicket WHERE tickDate=?"),
                           {board.date});
    while (q.next()) {
        const bool called = q.value(2).toString() == QLatin1String("1");
        const bool cancelled = q.value(3).toString() == QLatin1String("Cancelled");
        const int attTime = QueueFigures::secondOfDay(q.value(5).toString());
        const int finished = QueueFigures::secondOfDay(q.value(6).toString());
        if (const auto s = serviceAt.find(q.value(1).toInt()); s != serviceAt.end()) {
            ServiceLine& line = board.services[*s];
            if (!called) {
                ++line.waiting;
                const int issued = QueueFigures::secondOfDay(q.value(4).toString());
                int& earliest = earliestWaiting[*s];
                if (issued >= 0 && (earliest < 0 || issued < earliest))
                    earliest = issued;
            } else if (!cancelled) {
                ++line.servedToday;
                if (attTime >= 0 && finished >= attTime) {
                    service[*s].sum += QueueFigures::minutesBetween(attTime, finished);
                    ++service[*s].count;
                }
            }
        }
        if (!called)
            continue;
        if (const auto c = counterAt.find(q.value(7).toInt()); c != counterAt.end()) {
            Hand& h = hands[*c];
            h.lastFinish = std::max(h.lastFinish, finished);
            // The token in hand is the one called last and not finished yet.
            const qint64 key = q.value(0).toLongLong();
            if (finished < 0 && attTime >= 0 && (attTime > h.calledAt || (attTime == h.calledAt && key > h.key))) {
                h.calledAt = attTime;
                h.key = key;
                h.label = q.value(8).toString();
            }
        }
    }
    q.finish();

    const WaitEstimator estimator(m_db, m_clock);
    for (size_t i = 0; i < board.services.size(); ++i) {
        ServiceLine& line = board.services[i];
        if (earliestWaiting[i] >= 0 && now >= earliestWaiting[i])
            line.longestWait = QueueFigures::minutesBetween(earliestWaiting[i], now);
        if (service[i].count > 0)
            line.averageService = QueueFigures::tenths(service[i].sum, service[i].count);
        // A token taken now has everything waiting ahead of it.
        line.estimatedWait = estimator.minutes(line.key, line.waiting);
        line.pastTarget = line.target && line.longestWait && *line.longestWait > *line.target;
    }
    auto clock = [](int second) { return QTime::fromMSecsSinceStartOfDay(second * 1000).toString(timeFormat); };
    for (size_t i = 0; i < board.counters.size(); ++i) {
        CounterLine& c = board.counters[i];
        const Hand& h = hands[i];
        c.serving = h.calledAt >= 0;
        if (c.serving) {
            c.token = h.label;
            c.since = clock(h.calledAt);
        } else if (h.lastFinish >= 0) {
            c.since = clock(h.lastFinish);
        }
    }
    return board;
}

QJsonObject LiveBoard::Snapshot::toJson() const
{
    QJsonArray s;
    for (const ServiceLine& l : services)
        s.append(QJsonObject{{QStringLiteral("service"), l.name},
                             {QStringLiteral("waiting"), l.waiting},
                             {QStringLiteral("longestWait"), orNull(l.longestWait)},
                             {QStringLiteral("estimatedWait"), orNull(l.estimatedWait)},
                             {QStringLiteral("servedToday"), l.servedToday},
                             {QStringLiteral("averageService"), orNull(l.averageService)},
                             {QStringLiteral("targetMinutes"), orNull(l.target)},
                             {QStringLiteral("pastTarget"), l.pastTarget}});
    QJsonArray c;
    for (const CounterLine& l : counters)
        c.append(QJsonObject{{QStringLiteral("counter"), l.name},
                             {QStringLiteral("displayName"), l.displayName},
                             {QStringLiteral("service"), l.service},
                             {QStringLiteral("state"), l.serving ? QStringLiteral("serving") : QStringLiteral("idle")},
                             {QStringLiteral("token"), l.serving ? QJsonValue(l.token) : QJsonValue(QJsonValue::Null)},
                             {QStringLiteral("since"), l.since.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                          : QJsonValue(l.since)}});
    return QJsonObject{{QStringLiteral("date"), date}, {QStringLiteral("time"), time}, {QStringLiteral("services"), s},
                       {QStringLiteral("counters"), c}};
}

} // namespace tallyvo
