#pragma once

#include "core/DbUrl.h"
#include "display/CallRow.h"

#include <QObject>
#include <QString>
#include <memory>

class QThread;

namespace tallyvo {

class Clock;
class FeedWorker;
struct FeedCounters;

// How often the feed looks at the database, in milliseconds.
struct FeedTiming {
    // SQLite: the change check (PRAGMA data_version, nearly free while nothing is written).
    int checkMs = 10;
    // Both engines: a full look at tblCall even when nothing announced a change. On PostgreSQL,
    // where LISTEN/NOTIFY pushes every call, this is only a safety net.
    int safetyMs = 1000;
    // Reconnection attempts start at retryMinMs and back off to retryMaxMs.
    int retryMinMs = 250;
    int retryMaxMs = 3000;
};

// Counts of the statements the feed has sent, for measuring its cost.
struct FeedStats {
    quint64 statements = 0; // every statement, change checks included
    quint64 changeChecks = 0; // SQLite's PRAGMA data_version among them
    quint64 claims = 0;       // calls this display took
    quint64 reconnects = 0;   // successful connections after the first
};

// The display's view of tblCall. It runs on a thread of its own with its own connection, so a
// slow statement, a lost server or a reconnect never holds up the window that shows the calls.
//
// Once started it reads today's newest shown calls once (recentCalls), then takes today's newest
// unshown call (status '0') whenever one appears: PostgreSQL pushes new calls through the
// 'tallyvo_call' notification; SQLite is checked every few milliseconds. A call is taken only
// while its status is still '0' (the UPDATE that sets '1' must change exactly one row), so two
// displays on one database never both announce it. callClaimed is emitted for each call taken,
// newest first when several wait.
//
// A lost connection is retried in the background; calls made meanwhile keep status '0' and are
// taken when it returns. The clock is read on the feed's thread: it must be safe to read there.
class CallFeed : public QObject {
    Q_OBJECT
public:
    CallFeed(DbUrl url, const Clock& clock, QObject* parent = nullptr);
    ~CallFeed() override;
    CallFeed(const CallFeed&) = delete;
    CallFeed& operator=(const CallFeed&) = delete;

    void setTiming(const FeedTiming& timing); // before start()
    // Connects and begins; recentRows is how many of today's calls recentCalls brings.
    void start(int recentRows);
    // Looks for an unshown call now instead of at the next check.
    void pollNow();

    bool isConnected() const { return m_connected; }
    // Why the last connection attempt or statement failed ("" while all is well).
    QString lastError() const { return m_lastError; }
    FeedStats stats() const;

signals:
    // Today's newest calls already shown, at the first connection, newest first. Calls still
    // waiting follow as callClaimed, so none is listed twice.
    void recentCalls(const QList<tallyvo::CallRow>& rows);
    // A call this display has taken (its status is now '1').
    void callClaimed(const tallyvo::CallRow& call);
    void connectionChanged(bool connected);

private:
    void onConnectionChanged(bool connected, const QString& why);

    DbUrl m_url;
    const Clock& m_clock;
    FeedTiming m_timing;
    std::shared_ptr<FeedCounters> m_counters;
    QThread* m_thread = nullptr;
    FeedWorker* m_worker = nullptr;
    bool m_connected = false;
    QString m_lastError;
};

} // namespace tallyvo
