#include "stats/WaitEstimator.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "core/DirectRows.h"

#include <QMap>
#include <QSet>
#include <QStringList>

#include <cmath>

namespace tallyvo {

namespace {

const QString timeFormat = QStringLiteral("HH:mm:ss");
const QString dateFormat = QStringLiteral("yyyy-MM-dd");

// Longer than this from call to finish is a token left open, not a service.
constexpr int longestServiceSeconds = 6 * 60 * 60;

// Minutes from a token's call to its finish; nullopt when the pair cannot be a service.
std::optional<double> serviceMinutes(const QString& called, const QString& finished)
{
    const QTime from = QTime::fromString(called, timeFormat);
    const QTime to = QTime::fromString(finished, timeFormat);
    if (!from.isValid() || !to.isValid())
        return std::nullopt;
    const int seconds = from.secsTo(to);
    if (seconds < 0 || seconds > longestServiceSeconds)
        return std::nullopt;
    return seconds / 60.0;
}

// The start of the window counters are counted in, as stored text; never before midnight.
QString windowStart(const QTime& now)
{
    const int secs = now.msecsSinceStartOfDay() / 1000 - WaitEstimator::counterWindowMinutes * 60;
    return QTime::fromMSecsSinceStartOfDay(std::max(secs, 0) * 1000).toString(timeFormat);
}

} // namespace

WaitEstimator::WaitEstimator(const Database& db, const Clock& clock)
    : m_db(db)
    , m_clock(clock)
{
}

std::optional<WaitEstimator::Rate> WaitEstimator::rate(int serviceKey) const
{
    return rates({serviceKey})[serviceKey];
}

std::map<int, std::optional<WaitEstimator::Rate>> WaitEstimator::rates(const QList<int>& serviceKeys) const
{
    std::map<int, std::optional<Rate>> out;
    if (serviceKeys.isEmpty())
        return out;
    const QString today = m_clock.todayText();
    const QTime now = m_clock.now();
    const QString from = windowStart(now);
    const QString until = now.toString(timeFormat);
    // Every service in each statement: a screen of many services costs a few round trips.
    auto marks = [](qsizetype n) {
        QStringList m;
        m.fill(QStringLiteral("?"), n);
        return m.join(QStringLiteral(", "));
    };
    QVariantList keys;
    for (const int k : serviceKeys)
        keys << k;

    // Today: the newest served tokens of each service, and who called its tokens lately.
    struct Today {
        double sum = 0;
        int served = 0;
        int counters = 0;
    };
    std::map<int, Today> todays;
    {
        DirectRows q(m_db,
                     QStringLiteral("SELECT servAuto, attTime, finished FROM (SELECT servAuto, attTime, finished, "
                                    "row_number() OVER (PARTITION BY servAuto ORDER BY finished DESC, tickAuto DESC) "
                                    "AS newest FROM tblTicket WHERE tickDate=? AND call='1' AND status='Finished' "
                                    "AND finished<>'' AND finished<=? AND servAuto IN (%1)) r WHERE newest<=%2")
                         .arg(marks(keys.size()))
                         .arg(recentServed),
                     QVariantList{today, until} + keys, DirectRows::Plan::Kept);
        while (q.next()) {
            if (const std::optional<double> m = serviceMinutes(q.text(1), q.text(2))) {
                Today& t = todays[int(q.integer(0))];
                t.sum += *m;
                ++t.served;
            }
        }
    }
    {
        DirectRows q(m_db,
                     QStringLiteral("SELECT servAuto, count(DISTINCT attended) FROM tblTicket WHERE tickDate=? "
                                    "AND call='1' AND attTime>=? AND attTime<=? AND servAuto IN (%1) GROUP BY servAuto")
                         .arg(marks(keys.size())),
                     QVariantList{today, from, until} + keys, DirectRows::Plan::Kept);
        while (q.next())
            todays[int(q.integer(0))].counters = int(q.integer(1));
    }
    QVariantList needHistory;
    for (const int k : serviceKeys) {
        const Today& t = todays[k];
        if (t.served >= fewestServed && t.counters > 0)
            out[k] = Rate{t.sum / t.served, double(t.counters), Rate::Source::Today};
        else
            needHistory << k;
    }
    if (needHistory.isEmpty())
        return out;

    // The same weekday of the weeks before: its mean service, and the counters that worked the
    // service around this time of day on the days it was open.
    QVariantList days;
    for (int week = 1; week <= historyWeeks; ++week)
        days << m_clock.today().addDays(-7 * week).toString(dateFormat);
    const QTime around = now.addSecs(counterWindowMinutes * 60);
    const QString to = around < now ? QStringLiteral("23:59:59") : around.toString(timeFormat);
    struct Past {
        double sum = 0;
        int served = 0;
        QMap<QString, QSet<qint64>> countersOn;
        QSet<QString> openDays;
    };
    std::map<int, Past> pasts;
    DirectRows q(m_db,
                 QStringLiteral("SELECT servAuto, tickDate, attTime, finished, attended FROM tblTicket WHERE "
                                "servAuto IN (%1) AND tickDate IN (%2) AND call='1' AND status='Finished'")
                     .arg(marks(needHistory.size()), marks(days.size())),
                 needHistory + days, DirectRows::Plan::Kept);
    while (q.next()) {
        Past& p = pasts[int(q.integer(0))];
        const QString day = q.text(1);
        const QString called = q.text(2);
        p.openDays.insert(day);
        if (const std::optional<double> m = serviceMinutes(called, q.text(3))) {
            p.sum += *m;
            ++p.served;
        }
        if (called >= from && called <= to)
            p.countersOn[day].insert(q.integer(4));
    }
    for (const QVariant& key : std::as_const(needHistory)) {
        const int k = key.toInt();
        const Today& t = todays[k];
        const Past& p = pasts[k];
        double pastCounters = 0;
        if (!p.openDays.isEmpty()) {
            int total = 0;
            for (const QSet<qint64>& c : p.countersOn)
                total += static_cast<int>(c.size());
            pastCounters = double(total) / double(p.openDays.size());
        }
        // Today's counters are what is known for sure; history fills in what today lacks.
        const double counters = t.counters > 0 ? t.counters : std::max(pastCounters, 1.0);
        if (t.served >= fewestServed)
            out[k] = Rate{t.sum / t.served, counters, Rate::Source::Today};
        else if (p.served >= fewestServed)
            out[k] = Rate{p.sum / p.served, counters, Rate::Source::Weekday};
        else
            out[k] = std::nullopt;
    }
    return out;
}

std::optional<int> WaitEstimator::minutes(int serviceKey, int ahead) const
{
    const std::optional<Rate> r = rate(serviceKey);
    if (!r)
        return std::nullopt;
    return minutesAt(*r, ahead);
}

int WaitEstimator::minutesAt(const Rate& rate, int ahead)
{
    return static_cast<int>(std::lround((std::max(ahead, 0) + 1) * rate.minutesPerToken()));
}

std::optional<WaitEstimator::Waiting> WaitEstimator::waiting(qint64 tokenKey) const
{
    const std::optional<QVariantList> token = m_db.firstRow(
        QStringLiteral("SELECT servAuto, tickDate, tickNo FROM tblTicket WHERE tickAuto=? AND call='0'"), {tokenKey});
    if (!token)
        return std::nullopt;
    Waiting w;
    w.serviceKey = token->value(0).toInt();
    w.date = token->value(1).toString();
    // Next takes the lowest number first, transferred tokens included.
    w.ahead = m_db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE call='0' AND tickDate=? AND servAuto=? "
                                         "AND tickNo<?"),
                          {w.date, w.serviceKey, token->value(2)})
                  .toInt();
    return w;
}

std::optional<int> WaitEstimator::ahead(qint64 tokenKey) const
{
    const std::optional<Waiting> w = waiting(tokenKey);
    if (!w)
        return std::nullopt;
    return w->ahead;
}

std::optional<int> WaitEstimator::minutesFor(qint64 tokenKey) const
{
    const std::optional<Waiting> w = waiting(tokenKey);
    if (!w || w->date != m_clock.todayText())
        return std::nullopt;
    return minutes(w->serviceKey, w->ahead);
}

} // namespace tallyvo
