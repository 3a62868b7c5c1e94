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
    // Both engines: a look even when nothing announced a change, only a safety net: PostgreSQL
    // pushes every call through LISTEN/NOTIFY, and on SQLite the write-ahead log beside the file
    // is watched. On SQLite the look is a read of the change counter (PRAGMA data_version).
    int safetyMs = 1000;
    // SQLite where the database's folder cannot be watched: the change counter is read this often.
    int checkMs = 10;
    // Reconnection attempts start at retryMinMs and back off to retryMaxMs.
    int retryMinMs = 250;
    int retryMaxMs = 3000;
    // What a display has shown (status '1', its place) is written once no call has come for
    // markQuietMs, and at the latest markLatestMs after the first call not yet written: a write
    // takes the embedded database's write lock and wakes every other display, so it is kept out
    // of the moments when calls come. Closing the display, or its connection coming back, writes
    // at once.
    int markQuietMs = 200;
    int markLatestMs = 1000;
};

// Counts of what the feed has done, for measuring its cost.
struct FeedStats {
    quint64 statements = 0;   // every statement, change checks included
    quint64 changeChecks = 0; // SQLite's PRAGMA data_version among them
    quint64 calls = 0;        // calls handed to the display
    quint64 reconnects = 0;   // successful connections after the first
    quint64 wakeups = 0;      // notifications, log changes and safety looks the feed woke for
};

// The display's view of tblCall. It runs on a thread of its own with its own connection, so a
// slow statement, a lost server or a reconnect never holds up the window that shows the calls.
//
// Every new call and every recall has a place in the feed (tblCall.feedSeq, numbered by the
// database in commit order), and each display follows the feed on its own from its own place:
// any number of displays on one database each show every call, in order. Once started a display
// reads today's newest calls before its place once (recentCalls) and then hands over each call
// after it (callArrived). PostgreSQL pushes new calls through the 'tallyvo_call' notification;
// on SQLite a change of the write-ahead log wakes the feed, and the change counter says whether
// anything was committed. A slow safety look covers a notification that never came.
//
// The display's place is kept in tblDisplayFeed under displayId, written shortly after it has
// shown a call (markShown, see FeedTiming::markQuietMs), together with the call's status '1'. A display that runs again the same day
// goes on from there, so nothing is announced twice and nothing it had not shown is lost. One
// starting fresh takes the feed's end as its place and announces only calls that no display has
// shown yet (status '0').
//
// A lost connection is retried in the background; the calls of the outage are handed over when
// it returns. The clock is read on the feed's thread: it must be safe to read there.
class CallFeed : public QObject {
    Q_OBJECT
public:
    CallFeed(DbUrl url, QString displayId, const Clock& clock, QObject* parent = nullptr);
    ~CallFeed() override;
    CallFeed(const CallFeed&) = delete;
    CallFeed& operator=(const CallFeed&) = delete;

    void setTiming(const FeedTiming& timing); // before start()
    // Connects and begins; recentRows is how many of today's calls recentCalls brings.
    void start(int recentRows);
    // Ends the feed's thread (writing what was shown) and lets go of the clock; the feed reports
    // nothing more, and is not started again. Also done when the feed is destroyed.
    void stop();
    // Looks for new calls now instead of at the next notification.
    void pollNow();
    // The display has put this call on its table: it is marked shown and the display's place
    // moves past it.
    void markShown(const tallyvo::CallRow& call);

    QString displayId() const { return m_displayId; }
    bool isConnected() const { return m_connected; }
    // Why the last connection attempt or statement failed ("" while all is well).
    QString lastError() const { return m_lastError; }
    FeedStats stats() const;

signals:
    // Today's newest calls before this display's place, at the first connection, newest first.
    // Calls after it follow as callArrived, so none is listed twice.
    void recentCalls(const QList<tallyvo::CallRow>& rows);
    // The next call in the feed: a new call or a recall, in the order they were made.
    void callArrived(const tallyvo::CallRow& call);
    void connectionChanged(bool connected);

private:
    void onConnectionChanged(bool connected, const QString& why);

    DbUrl m_url;
    QString m_displayId;
    const Clock& m_clock;
    FeedTiming m_timing;
    std::shared_ptr<FeedCounters> m_counters;
    QThread* m_thread = nullptr;
    FeedWorker* m_worker = nullptr;
    bool m_connected = false;
    QString m_lastError;
};

} // namespace tallyvo
