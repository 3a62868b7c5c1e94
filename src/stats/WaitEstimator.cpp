#include "stats/WaitEstimator.h"

#include "core/Clock.h"
#include "core/Database.h"

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
    const QString today = m_clock.todayText();
    const QTime now = m_clock.now();
    const QString from = windowStart(now);
    const QString until = now.toString(timeFormat);

    // Today: the newest served tokens, and who called the service's tokens lately.
    double sum = 0;
    int served = 0;
    {
        QSqlQuery q = m_db.run(QStringLiteral("SELECT attTime, finished FROM tblTicket WHERE tickDate=? AND servAuto=? "
                                              "AND call='1' AND status='Finished' AND finished<>'' AND finished<=? "
                                              "ORDER BY finished DESC LIMIT %1")
                                   .arg(recentServed),
                               {today, serviceKey, until});
        while (q.next()) {
            if (const std::optional<double> m = serviceMinutes(q.value(0).toString(), q.value(1).toString())) {
                sum += *m;
                ++served;
            }
        }
    }
    const int countersNow = m_db
                                .scalar(QStringLiteral("SELECT count(DISTINCT attended) FROM tblTicket WHERE tickDate=? "
                                                       "AND servAuto=? AND call='1' AND attTime>=? AND attTime<=?"),
                                        {today, serviceKey, from, until})
                                .toInt();
    if (served >= fewestServed && countersNow > 0)
        return Rate{sum / served, double(countersNow), Rate::Source::Today};

    // The same weekday of the weeks before: its mean service, and the counters that worked the
    // service around this time of day on the days it was open.
    QStringList days;
    QVariantList values{serviceKey};
    QString marks;
    for (int week = 1; week <= historyWeeks; ++week) {
        days << m_clock.today().addDays(-7 * week).toString(dateFormat);
        values << days.last();
        marks += marks.isEmpty() ? QStringLiteral("?") : QStringLiteral(", ?");
    }
    const QTime around = now.addSecs(counterWindowMinutes * 60);
    const QString to = around < now ? QStringLiteral("23:59:59") : around.toString(timeFormat);
    double pastSum = 0;
    int pastServed = 0;
    QMap<QString, QSet<qint64>> countersOn;
    QSet<QString> openDays;
    QSqlQuery q = m_db.run(QStringLiteral("SELECT tickDate, attTime, finished, attended FROM tblTicket WHERE servAuto=? "
                                          "AND tickDate IN (%1) AND call='1' AND status='Finished'")
                               .arg(marks),
                           values);
    while (q.next()) {
        const QString day = q.value(0).toString();
        const QString called = q.value(1).toString();
        openDays.insert(day);
        if (const std::optional<double> m = serviceMinutes(called, q.value(2).toString())) {
            pastSum += *m;
            ++pastServed;
        }
        if (called >= from && called <= to)
            countersOn[day].insert(q.value(3).toLongLong());
    }
    q.finish();
    double pastCounters = 0;
    if (!openDays.isEmpty()) {
        int total = 0;
        for (const QSet<qint64>& c : std::as_const(countersOn))
            total += static_cast<int>(c.size());
        pastCounters = double(total) / double(openDays.size());
    }

    // Today's counters are what is known for sure; history fills in what today lacks.
    const double counters = countersNow > 0 ? countersNow : std::max(pastCounters, 1.0);
    if (served >= fewestServed)
        return Rate{sum / served, counters, Rate::Source::Today};
    if (pastServed >= fewestServed)
        return Rate{pastSum / pastServed, counters, Rate::Source::Weekday};
    return std::nullopt;
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
