#pragma once

#include <QDate>
#include <QList>
#include <QTime>
#include <map>
#include <optional>

namespace tallyvo {

class Clock;
class Database;

// How long a waiting token of a service still waits before a counter calls it.
//
// The model: the service's counters work through its queue in number order, each taking on average
// m minutes per token, so c counters call a token every m / c minutes and a token with n tokens
// ahead of it is called after about (n + 1) * m / c minutes.
//   m is the mean time from call to finish of the service's last served tokens of today; c is the
//   number of counters that called one of its tokens in the last half hour (at least one).
//   When today has served too few of its tokens for a mean, m comes from the same weekday of the
//   weeks before (all their served tokens), and so does c when nobody called one of its tokens in
//   the last half hour (the counters that worked it at this time of day, on average over those days).
//   With neither, the estimate is unknown: a guess would be worse than saying nothing.
// Cancelled tokens and times that cannot be a service (none, negative, over six hours: a token
// left open) are not counted. A counter takes the next token when it presses Next, which also
// finishes its last one, so a service time is the counter's time per token, short pauses included.
class WaitEstimator {
public:
    // Served tokens today's mean is taken over, newest first, and the fewest it needs.
    static constexpr int recentServed = 20;
    static constexpr int fewestServed = 3;
    // How long a counter that called one of the service's tokens still counts as working it.
    static constexpr int counterWindowMinutes = 30;
    // How many weeks back the same weekday is looked for.
    static constexpr int historyWeeks = 8;

    struct Rate {
        enum class Source { Today, Weekday };
        double serviceMinutes = 0; // m
        double counters = 1;       // c
        Source source = Source::Today;
        double minutesPerToken() const { return serviceMinutes / counters; }
    };

    WaitEstimator(const Database& db, const Clock& clock);

    // The service's rate at this moment; nullopt when there is nothing to go on. Throws DbError.
    std::optional<Rate> rate(int serviceKey) const;
    // rate() of each service named, read together. Throws DbError.
    std::map<int, std::optional<Rate>> rates(const QList<int>& serviceKeys) const;

    // Minutes until a token with `ahead` tokens ahead of it in the service's queue today is
    // called (a new token: ahead is everything waiting). Rounded to whole minutes. Throws DbError.
    std::optional<int> minutes(int serviceKey, int ahead) const;

    // Waiting tokens of the same service and day that are called before the token (a lower
    // number); nullopt when the token does not exist or no longer waits. Throws DbError.
    std::optional<int> ahead(qint64 tokenKey) const;

    // minutes() for a stored token; nullopt also when it no longer waits or is not of today.
    std::optional<int> minutesFor(qint64 tokenKey) const;

    // minutes() at a rate already read: whoever estimates many tokens reads each service's rate
    // once. Whole minutes, the same rounding as minutes().
    static int minutesAt(const Rate& rate, int ahead);

private:
    struct Waiting {
        int serviceKey = 0;
        QString date;
        int ahead = 0;
    };
    std::optional<Waiting> waiting(qint64 tokenKey) const;

    const Database& m_db;
    const Clock& m_clock;
};

} // namespace tallyvo
