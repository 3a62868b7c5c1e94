#include "display/CallFeed.h"

#include "display/FeedWorker.h"

#include <QThread>

namespace tallyvo {

namespace {
// Long enough for a clean close; a thread still inside a connection attempt is left to end by
// itself rather than freeze the window that is closing.
constexpr int kStopWaitMs = 2000;
} // namespace

CallFeed::CallFeed(DbUrl url, QString displayId, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_url(std::move(url))
    , m_displayId(std::move(displayId))
    , m_clock(clock)
    , m_counters(std::make_shared<FeedCounters>())
{
    qRegisterMetaType<tallyvo::CallRow>();
    qRegisterMetaType<QList<tallyvo::CallRow>>();
}

CallFeed::~CallFeed()
{
    stop();
}

void CallFeed::stop()
{
    if (!m_thread)
        return;
    m_counters->stop = true;
    // What the worker still writes as it closes (the calls shown) is dated while the clock is
    // lent; past the wait it is taken back.
    disconnect(m_worker, nullptr, this, nullptr);
    QMetaObject::invokeMethod(m_worker, &FeedWorker::finish, Qt::QueuedConnection);
    if (m_thread->wait(kStopWaitMs)) {
        delete m_worker;
        delete m_thread;
        m_worker = nullptr;
        m_thread = nullptr;
        return;
    }
    m_counters->lendClock(nullptr);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    m_worker = nullptr;
    m_thread = nullptr;
}

void CallFeed::setTiming(const FeedTiming& timing)
{
    m_timing = timing;
}

void CallFeed::start(int recentRows)
{
    if (m_thread)
        return;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("CallFeed"));
    m_counters->lendClock(&m_clock);
    m_worker = new FeedWorker(m_url, m_displayId, m_timing, recentRows, m_counters);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_worker, &FeedWorker::begin);
    connect(m_worker, &FeedWorker::recentCalls, this, &CallFeed::recentCalls);
    connect(m_worker, &FeedWorker::arrived, this, &CallFeed::callArrived);
    connect(m_worker, &FeedWorker::connectionChanged, this, &CallFeed::onConnectionChanged);
    m_thread->start();
}

void CallFeed::pollNow()
{
    if (m_worker)
        QMetaObject::invokeMethod(m_worker, &FeedWorker::pollNow, Qt::QueuedConnection);
}

void CallFeed::markShown(const CallRow& call)
{
    if (m_worker)
        QMetaObject::invokeMethod(m_worker, [worker = m_worker, call] { worker->shown(call); }, Qt::QueuedConnection);
}

FeedStats CallFeed::stats() const
{
    FeedStats s;
    s.statements = m_counters->statements;
    s.changeChecks = m_counters->changeChecks;
    s.calls = m_counters->calls;
    s.reconnects = m_counters->reconnects;
    s.wakeups = m_counters->wakeups;
    return s;
}

void CallFeed::onConnectionChanged(bool connected, const QString& why)
{
    m_lastError = why;
    if (connected == m_connected)
        return;
    m_connected = connected;
    emit connectionChanged(connected);
}

} // namespace tallyvo
