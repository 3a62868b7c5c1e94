#pragma once

#include "core/DbUrl.h"
#include "web/DisplayData.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace tallyvo {

class Clock;
class QueueState;

// Timing of the watch, in milliseconds.
struct WatchTiming {
    // A look even when nothing announced a change: only a safety net on PostgreSQL, which pushes
    // every call, issue, cancel and transfer; on SQLite the change counter is read this often
    // where the database's folder cannot be watched.
    int safetyMs = 1000;
    // Waiting estimates and the longest wait move with the clock alone: the state is read again
    // this often even when nothing was written.
    int clockMs = 15000;
    int retryMinMs = 250;
    int retryMaxMs = 3000;
};

// The web station's view of today's queue, read again after every change another station
// commits. It runs on a thread of its own with its own connection and never writes: the
// desktop displays keep what "shown" means. PostgreSQL wakes it through the 'tallyvo_call' and
// 'tallyvo_ticket' notifications, SQLite through its write-ahead log and change counter, like a
// display's feed. Changes that come while the state is being read are taken by one more read
// right after it, so a burst of calls costs two reads, not one each.
class QueueWatch : public QObject {
    Q_OBJECT
public:
    using StateHandler = std::function<void(std::shared_ptr<const QueueState>)>;
    using NoteHandler = std::function<void(const QString&)>;

    // onState runs on the watch's thread with every new state; onNote with one line when the
    // connection is lost or comes back.
    QueueWatch(DbUrl url, const Clock& clock, StateHandler onState, NoteHandler onNote);
    ~QueueWatch() override; // stop()

    void setTiming(const WatchTiming& timing); // before start()
    // The day's calls and recalls that came since the last read, in feed order, on the watch's
    // thread after each new state; the first read of a day brings all of that day's. Before start().
    using CallsHandler = std::function<void(const QString& day, const QList<WebCall>& calls)>;
    void setCallsHandler(CallsHandler onCalls) { m_onCalls = std::move(onCalls); }
    void start();
    void stop();

    quint64 reads() const { return m_reads; }

private:
    class Worker;
    DbUrl m_url;
    const Clock& m_clock;
    StateHandler m_onState;
    NoteHandler m_onNote;
    CallsHandler m_onCalls;
    WatchTiming m_timing;
    QThread* m_thread = nullptr;
    Worker* m_worker = nullptr;
    std::atomic<quint64> m_reads{0};
};

class Database;

// A thread with a connection of its own for the requests that must ask the database (a token
// of an earlier day, issuing through the API): they never hold up the threads that serve pages
// and events. Jobs run in order; beyond `maxQueued` waiting jobs post() refuses at once.
class DbJobs : public QObject {
    Q_OBJECT
public:
    using Job = std::function<void(const Database* db)>; // null when the database cannot be reached

    DbJobs(DbUrl url, int maxQueued = 200);
    ~DbJobs() override; // stop()
    void start();
    void stop();
    bool post(Job job);

private:
    class Worker;
    DbUrl m_url;
    int m_maxQueued;
    std::atomic<int> m_queued{0};
    QThread* m_thread = nullptr;
    Worker* m_worker = nullptr;
};

} // namespace tallyvo
