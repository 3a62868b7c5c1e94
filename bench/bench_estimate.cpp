// How close the wait estimate is to what really happens. Generates a busy day of one service in a
// temporary SQLite database (arrivals rising and falling through the day, service times with a
// long tail, a counter's lunch break) together with the same weekday of the weeks before, then
// replays the day event by event on a fake clock: each token is issued as a station issues it,
// estimated at that moment, and called and finished when the simulated counters do. Prints
// "name: value" lines; the figure that matters is mae_minutes, the mean absolute error of the
// estimate given at issue time against the wait that followed.
//
//   bench_estimate [--day N] [--counters C] [--history-weeks W]

#include "core/Clock.h"
#include "core/Database.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "stats/WaitEstimator.h"
#include "tokens/TokenIssuer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

using namespace tallyvo;

namespace {

class ReplayClock final : public Clock {
public:
    QDate today() const override { return day; }
    QTime now() const override { return QTime::fromMSecsSinceStartOfDay(seconds * 1000); }
    QDate day;
    int seconds = 0;
};

struct Token {
    int arrival = 0; // seconds since midnight
    int called = 0;
    int finished = 0;
    int counter = 0;
};

struct DayPlan {
    int counters = 4;
    int breakCounter = 2; // 1-based
    int breakFrom = 12 * 3600;
    int breakUntil = 12 * 3600 + 45 * 60;
};

// Visitors per minute through the day, from opening at 09:00 to closing at 17:00: a morning
// rush, a quiet lunch hour, a second rush in the afternoon.
double arrivalsPerMinute(int seconds)
{
    static const double byHour[] = {0.55, 0.95, 1.05, 0.65, 0.55, 1.0, 0.85, 0.45};
    const int hour = seconds / 3600 - 9;
    return hour >= 0 && hour < 8 ? byHour[hour] : 0.0;
}

// One day as it happens: arrivals by thinning a Poisson process, then counters serving them in
// number order, each taking the token that waited longest as soon as it is free and not on break.
std::vector<Token> simulate(std::mt19937_64& random, const DayPlan& plan)
{
    std::vector<Token> tokens;
    std::exponential_distribution<double> gap(1.0); // per minute at rate 1
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double peak = 1.5;
    double t = 9 * 60.0;
    for (;;) {
        t += gap(random) / peak;
        if (t >= 17 * 60.0)
            break;
        if (unit(random) <= arrivalsPerMinute(static_cast<int>(t * 60)) / peak)
            tokens.push_back(Token{static_cast<int>(t * 60), 0, 0, 0});
    }
    // Service times: lognormal, median about 4 minutes, a tail of long ones.
    std::lognormal_distribution<double> service(std::log(4.0), 0.55);
    std::vector<int> freeAt(static_cast<size_t>(plan.counters), 9 * 3600);
    for (Token& token : tokens) {
        int best = -1;
        int bestAt = 0;
        for (int c = 0; c < plan.counters; ++c) {
            int at = std::max(token.arrival, freeAt[static_cast<size_t>(c)]);
            if (c + 1 == plan.breakCounter && at >= plan.breakFrom && at < plan.breakUntil)
                at = plan.breakUntil;
            if (best < 0 || at < bestAt) {
                best = c;
                bestAt = at;
            }
        }
        token.counter = best + 1;
        token.called = bestAt;
        token.finished = bestAt + std::max(30, static_cast<int>(std::lround(service(random) * 60)));
        freeAt[static_cast<size_t>(best)] = token.finished;
    }
    return tokens;
}

QString timeText(int seconds)
{
    return QTime::fromMSecsSinceStartOfDay(seconds * 1000).toString(QStringLiteral("HH:mm:ss"));
}

void print(const char* name, double value)
{
    std::printf("%s: %.3f\n", name, value);
    std::fflush(stdout);
}

// Counters are tblCounter keys 1..n; the service is the first one made.
int makeSite(const Database& db, int counters)
{
    const int service = static_cast<int>(
        db.insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, abrno) "
                                 "VALUES (1, 'Counter service', '', '1', '1', '9999', 'A') RETURNING servAuto")));
    for (int c = 1; c <= counters; ++c)
        db.run(QStringLiteral("INSERT INTO tblCounter (cntAuto, servAuto, contName, displayName, active) "
                              "VALUES (?, ?, ?, ?, '1')"),
               {c, service, QStringLiteral("Desk %1").arg(c), QStringLiteral("Desk %1").arg(c)});
    return service;
}

void storeHistory(const Database& db, int service, const QDate& day, const std::vector<Token>& tokens)
{
    Transaction t(db);
    int number = 1;
    for (const Token& token : tokens) {
        db.run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, attended, "
                              "attTime, finished, status) VALUES (?, ?, ?, ?, '1', ?, ?, ?, ?, 'Finished')"),
               {service, number, day.toString(QStringLiteral("yyyy-MM-dd")), timeText(token.arrival),
                QStringLiteral("A%1").arg(number), token.counter, timeText(token.called), timeText(token.finished)});
        ++number;
    }
    t.commit();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    quint64 dayNumber = 1; // which generated day: the same number always makes the same day
    int historyWeeks = 4;
    DayPlan plan;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        bool ok = i + 1 < args.size();
        const QString value = ok ? args[i + 1] : QString();
        if (args[i] == QLatin1String("--day"))
            dayNumber = value.toULongLong(&ok);
        else if (args[i] == QLatin1String("--counters"))
            plan.counters = value.toInt(&ok);
        else if (args[i] == QLatin1String("--history-weeks"))
            historyWeeks = value.toInt(&ok);
        else
            ok = false;
        if (!ok || plan.counters < 1 || historyWeeks < 0 || historyWeeks > WaitEstimator::historyWeeks) {
            std::fprintf(stderr, "usage: bench_estimate [--day N] [--counters C (1 or more)] [--history-weeks W "
                                 "(0 to %d)]\n",
                         WaitEstimator::historyWeeks);
            return 2;
        }
        ++i;
    }

    QTemporaryDir dir;
    Database db(DbUrl::sqlite(dir.filePath(QStringLiteral("estimate.sqlite"))));
    QString error;
    if (!db.open(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    Schema::upgrade(db);
    const int service = makeSite(db, plan.counters);

    // Each day from its own stream: the replayed day is the same whatever history there is.
    ReplayClock clock;
    clock.day = QDate(2026, 3, 14);
    for (int week = 1; week <= historyWeeks; ++week) {
        std::mt19937_64 past(dayNumber + static_cast<quint64>(week) * 7919);
        storeHistory(db, service, clock.day.addDays(-7 * week), simulate(past, plan));
    }
    std::mt19937_64 random(dayNumber);
    const std::vector<Token> day = simulate(random, plan);

    // The day as a station sees it: every issue, call and finish in time order; at one second a
    // counter finishes before it calls, and a token is issued before it can be called.
    struct Event {
        int at;
        int order; // 0 finish, 1 issue, 2 call
        size_t token;
    };
    std::vector<Event> events;
    for (size_t i = 0; i < day.size(); ++i) {
        events.push_back({day[i].arrival, 1, i});
        events.push_back({day[i].called, 2, i});
        events.push_back({day[i].finished, 0, i});
    }
    std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.at != b.at ? a.at < b.at : a.order != b.order ? a.order < b.order : a.token < b.token;
    });

    Session session;
    session.ticketCopies = 0;
    NoTicketPrinter printer;
    TokenIssuer issuer(db, clock, session, printer);
    WaitEstimator estimator(db, clock);
    std::vector<qint64> keys(day.size(), 0);
    std::vector<std::optional<int>> estimates(day.size());
    std::vector<bool> fromToday(day.size(), false);
    QElapsedTimer timer;
    double estimateMs = 0;
    for (const Event& e : events) {
        clock.seconds = e.at;
        const Token& token = day[e.token];
        switch (e.order) {
        case 1: {
            const IssueResult r = issuer.issue(service, QStringLiteral("Counter service"));
            if (!r.stored()) {
                std::fprintf(stderr, "issue failed: %s\n", qPrintable(r.message()));
                return 1;
            }
            keys[e.token] = r.token.key;
            timer.start();
            estimates[e.token] = estimator.minutesFor(r.token.key);
            estimateMs += static_cast<double>(timer.nsecsElapsed()) / 1e6;
            const std::optional<WaitEstimator::Rate> rate = estimator.rate(service);
            fromToday[e.token] = rate && rate->source == WaitEstimator::Rate::Source::Today;
            break;
        }
        case 2:
            db.run(QStringLiteral("UPDATE tblTicket SET call='1', attended=?, attTime=?, status='Finished' "
                                  "WHERE tickAuto=?"),
                   {token.counter, clock.nowText(), keys[e.token]});
            break;
        default:
            db.run(QStringLiteral("UPDATE tblTicket SET finished=? WHERE tickAuto=?"),
                   {clock.nowText(), keys[e.token]});
            break;
        }
    }

    double waitSum = 0, absSum = 0, signedSum = 0, todaySum = 0, weekdaySum = 0, zeroSum = 0;
    int known = 0, today = 0, weekday = 0;
    std::vector<double> errors;
    for (size_t i = 0; i < day.size(); ++i) {
        const double wait = (day[i].called - day[i].arrival) / 60.0;
        waitSum += wait;
        if (!estimates[i])
            continue;
        const double miss = *estimates[i] - wait;
        ++known;
        absSum += std::abs(miss);
        signedSum += miss;
        zeroSum += wait;
        errors.push_back(std::abs(miss));
        (fromToday[i] ? todaySum : weekdaySum) += std::abs(miss);
        ++(fromToday[i] ? today : weekday);
    }
    std::sort(errors.begin(), errors.end());
    const auto n = static_cast<double>(day.size());
    int longest = 0;
    for (const Token& t : day)
        longest = std::max(longest, t.called - t.arrival);

    std::printf("day: %llu\n", static_cast<unsigned long long>(dayNumber));
    print("counters", plan.counters);
    print("history_weeks", historyWeeks);
    print("tokens", n);
    print("mean_wait_minutes", waitSum / n);
    print("longest_wait_minutes", longest / 60.0);
    print("estimated_tokens", known);
    print("unknown_tokens", n - known);
    print("mae_minutes", known ? absSum / known : std::nan(""));
    print("mae_today_minutes", today ? todaySum / today : std::nan(""));
    print("tokens_estimated_from_today", today);
    print("mae_weekday_minutes", weekday ? weekdaySum / weekday : std::nan(""));
    print("tokens_estimated_from_weekday", weekday);
    print("p90_abs_error_minutes", errors.empty() ? std::nan("") : errors[errors.size() * 9 / 10]);
    print("mean_signed_error_minutes", known ? signedSum / known : std::nan(""));
    // What saying "no wait" to every one of them would have scored: the figure to beat.
    print("mae_of_saying_zero_minutes", known ? zeroSum / known : std::nan(""));
    print("estimate_ms_mean", known ? estimateMs / n : std::nan(""));
    return 0;
}
