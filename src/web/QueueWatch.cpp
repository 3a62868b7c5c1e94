#include "web/QueueWatch.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/SqliteChangeCounter.h"
#include "core/SqliteWalWatcher.h"
#include "stats/QueueState.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <optional>

namespace tallyvo {

namespace {

// A server that vanishes without closing the socket is noticed within seconds.
void openOptions(Database& db) {
    if (db.engine() == Engine::Postgres)
        db.handle().setConnectOptions(QStringLiteral(
            "connect_timeout=5;keepalives=1;keepalives_idle=5;keepalives_interval=2;keepalives_count=3;"
            "tcp_user_timeout=10000"));
}

} // namespace

// One connection and thread of the watch: the queue's (every change, read whole), or the calls'
// (new calls and recalls only, read from where it stopped), so that a screen's call never waits
// behind a read of the queue.
class QueueWatch::Worker : public QObject {
public:
    enum class Part { Queue, Calls };

    Worker(QueueWatch& owner, Part part)
        : m_owner(owner)
        , m_part(part) {}

    void begin() {
        m_safety = new QTimer(this);
        connect(m_safety, &QTimer::timeout, this, [this] { safetyLook(); });
        m_clockTimer = new QTimer(this);
        // The calls need the clock only to notice a new day.
        m_clockTimer->setInterval(m_part == Part::Queue ? m_owner.m_timing.clockMs : 60000);
        connect(m_clockTimer, &QTimer::timeout, this, [this] { wake(); });
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, [this] { tryConnect(); });
        m_readSoon = new QTimer(this);
        m_readSoon->setSingleShot(true);
        m_readSoon->setInterval(m_part == Part::Queue ? m_owner.m_timing.settleMs : 0);
        m_readSoon->setTimerType(Qt::PreciseTimer);
        connect(m_readSoon, &QTimer::timeout, this, [this] { readNow(); });
        tryConnect();
    }

    void finish() {
        m_finished = true;
        closeConnection();
        QThread::currentThread()->quit();
    }

private:
    void tryConnect() {
        if (m_finished)
            return;
        auto db = std::make_unique<Database>(m_owner.m_url);
        openOptions(*db);
        QString error;
        if (!db->open(&error, false)) {
            lost(error);
            return;
        }
        m_db = std::move(db);
        try {
            prepare();
        } catch (const DbError& e) {
            lost(e.text());
            return;
        }
        m_generation = m_db->generation();
        if (m_down && m_part == Part::Queue)
            m_owner.m_onNote(QStringLiteral("connected to the database again"));
        m_down = false;
        m_retryMs = 0;
        m_safety->start();
        m_clockTimer->start();
        readNow();
    }

    void prepare() {
        if (m_db->engine() == Engine::Postgres) {
            // Listening starts before the first read, so nothing falls between the two.
            QSqlDriver* driver = m_db->handle().driver();
            const QStringList channels = m_part == Part::Queue ? QStringList{QStringLiteral("tallyvo_call"),
                                                                             QStringLiteral("tallyvo_ticket")}
                                                               : QStringList{QStringLiteral("tallyvo_call")};
            for (const QString& channel : channels)
                if (!driver->subscribeToNotification(channel))
                    throw DbError(driver->lastError().text());
            connect(driver, &QSqlDriver::notification, this, [this](const QString& channel) {
                // A call is the last commit of a "Next" (its finish of the token before comes
                // first): nothing more to wait for.
                if (m_part == Part::Queue && channel == QLatin1String("tallyvo_call"))
                    m_readSoon->start(0);
                else
                    wake();
            });
            m_safety->setInterval(m_owner.m_timing.safetyMs);
        } else {
            m_counter.emplace(*m_db);
            m_version = m_counter->read();
            m_wal = new SqliteWalWatcher(m_owner.m_url.path, this);
            connect(m_wal, &SqliteWalWatcher::touched, this, [this] {
                // The log is written before the commit is complete: a look that finds nothing
                // new yet looks again a moment later, a few times, instead of waiting for the
                // next timed look.
                m_lookAgain = 4;
                safetyLook();
            });
            m_safety->setInterval(m_wal->isWatching() ? m_owner.m_timing.sqliteCheckMs : 10);
        }
    }

    void closeConnection() {
        if (m_safety)
            m_safety->stop();
        if (m_clockTimer)
            m_clockTimer->stop();
        delete m_wal;
        m_wal = nullptr;
        m_counter.reset();
        m_db.reset();
    }

    void lost(const QString& why) {
        closeConnection();
        if (m_finished)
            return;
        if (!m_down && m_part == Part::Queue)
            m_owner.m_onNote(QStringLiteral("lost the database (%1); trying again").arg(why));
        m_down = true;
        m_retryMs = m_retryMs == 0 ? m_owner.m_timing.retryMinMs
                                   : std::min(m_retryMs * 2, m_owner.m_timing.retryMaxMs);
        m_retry->start(m_retryMs);
    }

    // SQLite: the log moved or the safety timer fired; read only when something was committed.
    void safetyLook() {
        if (!m_db)
            return;
        if (!m_counter) {
            // PostgreSQL: a look at whether the connection still stands; notifications do the rest.
            try {
                m_db->scalar(QStringLiteral("SELECT 1"));
            } catch (const DbError& e) {
                lost(e.text());
                return;
            }
            listening();
            return;
        }
        try {
            const qint64 now = m_counter->read();
            if (now == m_version) {
                if (m_lookAgain > 0) {
                    --m_lookAgain;
                    QTimer::singleShot(2, Qt::PreciseTimer, this, [this] { safetyLook(); });
                }
                return;
            }
            m_lookAgain = 0;
            m_version = now;
        } catch (const DbError& e) {
            lost(e.text());
            return;
        }
        wake();
    }

public:
    // A connection the database layer made again by itself has forgotten what it listened to:
    // it is opened anew, listening first, and read.
    bool listening() {
        if (!m_db || m_db->generation() == m_generation)
            return true;
        lost(QStringLiteral("the connection was made again"));
        return false;
    }

    void wake() {
        if (m_db && !m_readSoon->isActive())
            m_readSoon->start(m_part == Part::Queue ? m_owner.m_timing.settleMs : 0);
    }

private:
    void readNow() {
        if (!m_db || m_finished)
            return;
        try {
            if (m_part == Part::Calls) {
                // The feed's places only grow, a recall's too, so what came since is what lies
                // beyond the last place read.
                const QString day = m_owner.m_clock.todayText();
                if (day != m_callDay)
                    m_lastSeq = 0;
                const QList<WebCall> calls = DisplayData::callsAfter(*m_db, day, m_lastSeq);
                if (!calls.isEmpty())
                    m_lastSeq = calls.last().seq;
                if (day != m_callDay || !calls.isEmpty())
                    m_owner.m_onCalls(day, calls);
                m_callDay = day;
                listening();
                return;
            }
            auto state = std::make_shared<const QueueState>(QueueState::read(*m_db, m_owner.m_clock));
            ++m_owner.m_reads;
            m_owner.m_onState(std::move(state));
            if (m_owner.m_afterRead)
                m_owner.m_afterRead(*m_db);
            listening();
        } catch (const DbError& e) {
            lost(e.text());
        }
    }

    QueueWatch& m_owner;
    const Part m_part;
    std::unique_ptr<Database> m_db;
    std::optional<SqliteChangeCounter> m_counter;
    qint64 m_version = -1;
    int m_lookAgain = 0;
    SqliteWalWatcher* m_wal = nullptr;
    QTimer* m_safety = nullptr;
    QTimer* m_clockTimer = nullptr;
    QTimer* m_retry = nullptr;
    QTimer* m_readSoon = nullptr;
    int m_retryMs = 0;
    int m_generation = 0;
    QString m_callDay;
    qint64 m_lastSeq = 0;
    bool m_down = false;
    bool m_finished = false;
};

QueueWatch::QueueWatch(DbUrl url, const Clock& clock, StateHandler onState, NoteHandler onNote)
    : m_url(std::move(url))
    , m_clock(clock)
    , m_onState(std::move(onState))
    , m_onNote(std::move(onNote)) {}

QueueWatch::~QueueWatch() {
    stop();
}

void QueueWatch::setTiming(const WatchTiming& timing) {
    m_timing = timing;
}

void QueueWatch::start() {
    if (m_thread)
        return;
    auto begin = [this](Worker::Part part, const QString& name, QThread*& thread, Worker*& worker) {
        thread = new QThread;
        thread->setObjectName(name);
        worker = new Worker(*this, part);
        worker->moveToThread(thread);
        connect(thread, &QThread::finished, worker, &QObject::deleteLater);
        thread->start();
        QMetaObject::invokeMethod(
            worker, [w = worker] { w->begin(); }, Qt::QueuedConnection);
    };
    begin(Worker::Part::Queue, QStringLiteral("queue watch"), m_thread, m_worker);
    if (m_onCalls)
        begin(Worker::Part::Calls, QStringLiteral("call watch"), m_callThread, m_callWorker);
}

void QueueWatch::readSoon() {
    if (m_worker)
        QMetaObject::invokeMethod(
            m_worker, [w = m_worker] { w->wake(); }, Qt::QueuedConnection);
}

void QueueWatch::stop() {
    for (auto [thread, worker] : {std::pair{&m_thread, &m_worker}, std::pair{&m_callThread, &m_callWorker}}) {
        if (!*thread)
            continue;
        QMetaObject::invokeMethod(
            *worker, [w = *worker] { w->finish(); }, Qt::QueuedConnection);
        (*thread)->wait();
        delete *thread;
        *thread = nullptr;
        *worker = nullptr;
    }
}

class DbJobs::Worker : public QObject {
public:
    explicit Worker(DbUrl url)
        : m_url(std::move(url)) {}

    void run(const Job& job) {
        // Opened on first use and again after a failure, so a lost server costs one job's wait.
        if (!m_db || !m_db->isOpen()) {
            auto db = std::make_unique<Database>(m_url);
            openOptions(*db);
            if (db->open(nullptr, false))
                m_db = std::move(db);
            else
                m_db.reset();
        }
        try {
            job(m_db.get());
        } catch (const DbError&) {
            // The job answered what it could; the connection may be gone, so it is opened anew.
            m_db.reset();
        }
    }

    void finish() {
        m_db.reset();
        QThread::currentThread()->quit();
    }

private:
    DbUrl m_url;
    std::unique_ptr<Database> m_db;
};

DbJobs::DbJobs(DbUrl url, int maxQueued)
    : m_url(std::move(url))
    , m_maxQueued(maxQueued) {}

DbJobs::~DbJobs() {
    stop();
}

void DbJobs::start() {
    if (m_thread)
        return;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("database jobs"));
    m_worker = new Worker(m_url);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
}

void DbJobs::stop() {
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(
        m_worker, [w = m_worker] { w->finish(); }, Qt::QueuedConnection);
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_worker = nullptr;
}

void DbJobs::later(int ms, std::function<void()> done) {
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(
        m_worker, [w = m_worker, ms, done = std::move(done)] { QTimer::singleShot(ms, w, done); },
        Qt::QueuedConnection);
}

bool DbJobs::post(Job job) {
    if (!m_thread)
        return false;
    if (m_queued.fetch_add(1) >= m_maxQueued) {
        --m_queued;
        return false;
    }
    QMetaObject::invokeMethod(
        m_worker,
        [this, w = m_worker, job = std::move(job)] {
            --m_queued;
            w->run(job);
        },
        Qt::QueuedConnection);
    return true;
}

} // namespace tallyvo
