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
class Database;
class QueueState;

// Timing of the watch, in milliseconds.
struct WatchTiming {
    // A look even when nothing announced a change: only a safety net on PostgreSQL, which pushes
    // every call, issue, cancel and transfer; on SQLite the change counter is read this often
    // where the database's folder cannot be watched.
    int safetyMs = 1000;
    // SQLite: the change counter is read this often even where the log is watched, since a
    // change of the log can go unreported (a checkpoint starting the log over).
    int sqliteCheckMs = 100;
    // Waiting estimates and the longest wait move with the clock alone: the state is read again
    // this often even when nothing was written.
    int clockMs = 30000;
    // A counter's Next is two commits a moment apart (the finish of the last token, then the
    // call): a read waits this long after the first wake-up, so one read takes both instead of a
    // second read having to follow the first.
    int settleMs = 3;
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
    // The day's calls and recalls that came since the last read, in feed order, on a thread and
    // connection of their own (a call never waits behind a read of the queue); the first read of
    // a day brings all of that day's. Before start().
    using CallsHandler = std::function<void(const QString& day, const QList<WebCall>& calls)>;
    void setCallsHandler(CallsHandler onCalls) { m_onCalls = std::move(onCalls); }
    // Runs on the watch's thread after every read, with its connection, for figures that are
    // read only while someone looks at them. Before start().
    void setAfterRead(std::function<void(const Database&)> afterRead) { m_afterRead = std::move(afterRead); }
    // Reads again soon, from any thread.
    void readSoon();
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
    std::function<void(const Database&)> m_afterRead;
    WatchTiming m_timing;
    QThread* m_thread = nullptr; // the queue's
    Worker* m_worker = nullptr;
    QThread* m_callThread = nullptr; // the calls', when someone takes them
    Worker* m_callWorker = nullptr;
    std::atomic<quint64> m_reads{0};
};

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
    // Runs `done` on the jobs' thread after `ms`, holding up no job meanwhile.
    void later(int ms, std::function<void()> done);

private:
    class Worker;
    DbUrl m_url;
    int m_maxQueued;
    std::atomic<int> m_queued{0};
    QThread* m_thread = nullptr;
    Worker* m_worker = nullptr;
};

} // namespace tallyvo
