#pragma once

#include <QHash>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

namespace tallyvo::web {

// So many actions per minute for each name: a burst of `perMinute`, then one every 60/perMinute
// seconds (a token bucket). Safe from any thread.
class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    explicit RateLimiter(int perMinute)
        : m_perMinute(perMinute < 1 ? 1 : perMinute) {}

    // True when the name may act now (and counts it); otherwise false, and *retrySeconds says
    // when it may again.
    bool take(const QString& name, int* retrySeconds, Clock::time_point now = Clock::now()) {
        std::lock_guard lock(m_mutex);
        Bucket& b = m_buckets[name];
        if (b.stamp == Clock::time_point{})
            b = {double(m_perMinute), now};
        const double perSecond = m_perMinute / 60.0;
        b.tokens = std::min<double>(
            m_perMinute, b.tokens + std::chrono::duration<double>(now - b.stamp).count() * perSecond);
        b.stamp = now;
        if (b.tokens >= 1) {
            b.tokens -= 1;
            return true;
        }
        if (retrySeconds)
            *retrySeconds = std::max(1, int(std::ceil((1 - b.tokens) / perSecond)));
        return false;
    }

private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point stamp{};
    };
    int m_perMinute;
    std::mutex m_mutex;
    QHash<QString, Bucket> m_buckets; // one per API key name: a handful
};

} // namespace tallyvo::web
