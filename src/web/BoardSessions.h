#pragma once

#include <QHash>
#include <QString>
#include <chrono>
#include <mutex>
#include <optional>

namespace tallyvo::web {

// Who is logged in to the supervisors' board, and who may try again. A session is a random
// 256-bit key in an HttpOnly cookie, kept only in the station's memory (a restarted station asks
// again); it ends after `idle` without a request and at the latest after `longest`. Failed
// logins are counted per client address and per user name: after `failuresAllowed` within
// `failureWindow`, further tries are refused until the window has passed, so passwords cannot be
// guessed at speed from one address or against one user. Safe from any thread.
class BoardSessions;

struct BoardPolicy {
    std::chrono::seconds idle{30 * 60};
    std::chrono::seconds longest{12 * 60 * 60};
    int failuresAllowed = 5;
    std::chrono::seconds failureWindow{15 * 60};
    int maxSessions = 1000; // the oldest ends when one more begins
};

class BoardSessions {
public:
    using Clock = std::chrono::steady_clock;

    using Policy = BoardPolicy;
    explicit BoardSessions(Policy policy = {})
        : m_policy(policy) {}

    // Whether a login may be tried now from that address for that user; otherwise the seconds
    // until it may.
    std::optional<int> refusedFor(const QString& peer, const QString& user,
                                  Clock::time_point now = Clock::now());
    void failed(const QString& peer, const QString& user, Clock::time_point now = Clock::now());
    // A new session for the user (after the password was right); its key for the cookie.
    QString begin(const QString& user, Clock::time_point now = Clock::now());
    // The user of a live session, and the session lives on; nullopt for none.
    std::optional<QString> user(const QString& key, Clock::time_point now = Clock::now());
    void end(const QString& key);

    // The session key in a Cookie header; "" when none.
    static QString keyFromCookies(const QString& cookieHeader);
    static constexpr const char* cookieName = "tallyvo_board";

private:
    struct Session {
        QString user;
        Clock::time_point started, seen;
    };
    struct Failures {
        int count = 0;
        Clock::time_point first;
    };
    bool tooMany(Failures& f, Clock::time_point now, int* wait) const;

    Policy m_policy;
    std::mutex m_mutex;
    QHash<QString, Session> m_sessions;
    QHash<QString, Failures> m_byPeer, m_byUser;
};

} // namespace tallyvo::web
