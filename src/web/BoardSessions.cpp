#include "web/BoardSessions.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <algorithm>

namespace tallyvo::web {

bool BoardSessions::tooMany(Failures& f, Clock::time_point now, int* wait) const {
    if (f.count > 0 && now - f.first >= m_policy.failureWindow)
        f = {};
    if (f.count < m_policy.failuresAllowed)
        return false;
    *wait = std::max<int>(
        1, int(std::chrono::duration_cast<std::chrono::seconds>(f.first + m_policy.failureWindow - now)
                   .count()));
    return true;
}

std::optional<int> BoardSessions::refusedFor(const QString& peer, const QString& user,
                                             Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    int wait = 0;
    const QString name = user.toUpper();
    if (auto it = m_byPeer.find(peer); it != m_byPeer.end() && tooMany(*it, now, &wait))
        return wait;
    if (auto it = m_byUser.find(name); it != m_byUser.end() && tooMany(*it, now, &wait))
        return wait;
    return std::nullopt;
}

void BoardSessions::failed(const QString& peer, const QString& user, Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    // Bounded: a flood of made-up names or addresses forgets the oldest counts, never grows.
    for (QHash<QString, Failures>* table : {&m_byPeer, &m_byUser})
        if (table->size() > 10000)
            table->clear();
    for (Failures* f : {&m_byPeer[peer], &m_byUser[user.toUpper()]}) {
        if (f->count == 0 || now - f->first >= m_policy.failureWindow)
            *f = {0, now};
        ++f->count;
    }
}

QString BoardSessions::begin(const QString& user, Clock::time_point now) {
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    const QString key =
        QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    std::lock_guard lock(m_mutex);
    if (m_sessions.size() >= m_policy.maxSessions) {
        auto oldest = std::min_element(m_sessions.begin(), m_sessions.end(),
                                       [](const Session& a, const Session& b) { return a.seen < b.seen; });
        m_sessions.erase(oldest);
    }
    m_sessions.insert(key, {user, now, now});
    m_byUser.remove(user.toUpper());
    return key;
}

std::optional<QString> BoardSessions::user(const QString& key, Clock::time_point now) {
    if (key.isEmpty())
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.find(key);
    if (it == m_sessions.end())
        return std::nullopt;
    if (now - it->seen >= m_policy.idle || now - it->started >= m_policy.longest) {
        m_sessions.erase(it);
        return std::nullopt;
    }
    it->seen = now;
    return it->user;
}

void BoardSessions::end(const QString& key) {
    std::lock_guard lock(m_mutex);
    m_sessions.remove(key);
}

QString BoardSessions::keyFromCookies(const QString& cookieHeader) {
    for (const QString& part : cookieHeader.split(QLatin1Char(';'))) {
        const QString p = part.trimmed();
        const int eq = p.indexOf(QLatin1Char('='));
        if (eq > 0 && p.left(eq) == QLatin1String(cookieName))
            return p.mid(eq + 1);
    }
    return {};
}

} // namespace tallyvo::web
