#include "display/FeedWorker.h"

#include "core/Clock.h"
#include "core/Database.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace tallyvo {

namespace {

// The row in the column order of tblCall.
const QString kColumns = QStringLiteral("callauto, cntAuto, no_abr, displayName, status, tickAuto, tickDate, callNote");

CallRow rowFrom(const QSqlQuery& q)
{
    CallRow row;
    row.callauto = q.value(0).toLongLong();
    row.label = q.value(2).toString();
    row.displayName = q.value(3).toString();
    row.callNote = q.value(7).toString();
    return row;
}

// How many calls one look takes before letting the thread's other events (a stop, a
// notification) in; the rest are taken right after.
constexpr int kTakePerLook = 50;

} // namespace

FeedWorker::FeedWorker(DbUrl url, const Clock& clock, FeedTiming timing, int recentRows,
                       std::shared_ptr<FeedCounters> counters)
    : m_url(std::move(url))
    , m_clock(clock)
    , m_timing(timing)
    , m_recentRows(std::max(recentRows, 0))
    , m_counters(std::move(counters))
{
}

FeedWorker::~FeedWorker()
{
    m_check.reset();
    m_poll.reset();
    m_claim.reset();
    m_db.reset();
}

void FeedWorker::begin()
{
    m_sinceFullLook.start();
    m_tick = new QTimer(this);
    m_tick->setTimerType(Qt::PreciseTimer);
    m_tick->setInterval(m_url.engine == Engine::Sqlite ? m_timing.checkMs : m_timing.safetyMs);
    connect(m_tick, &QTimer::timeout, this, &FeedWorker::tick);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &FeedWorker::tryConnect);
    tryConnect();
}

void FeedWorker::finish()
{
    m_finished = true;
    if (m_tick)
        m_tick->stop();
    if (m_retry)
        m_retry->stop();
    m_check.reset();
    m_poll.reset();
    m_claim.reset();
    m_db.reset();
    QThread::currentThread()->quit();
}

void FeedWorker::tryConnect()
{
    if (m_finished || m_counters->stop)
        return;
    auto db = std::make_unique<Database>(m_url);
    if (m_url.engine == Engine::Postgres) {
        // A server that vanishes without closing the socket (a pulled cable, a sleeping
        // switch) is noticed within seconds instead of after the system's TCP timeout.
        db->handle().setConnectOptions(QStringLiteral(
            "connect_timeout=5;keepalives=1;keepalives_idle=5;keepalives_interval=2;keepalives_count=3;"
            "tcp_user_timeout=10000"));
    }
    QString error;
    const bool opened = db->open(&error);
    // Opening can take seconds; the display may have closed meanwhile.
    if (m_finished || m_counters->stop)
        return;
    if (!opened) {
        lost(error);
        return;
    }
    m_db = std::move(db);
    try {
        prepare();
        if (!m_everConnected)
            emit recentCalls(recent());
    } catch (const DbError& e) {
        lost(e.text());
        return;
    }
    if (m_everConnected)
        ++m_counters->reconnects;
    m_everConnected = true;
    m_reportedDown = false;
    m_retryMs = 0;
    emit connectionChanged(true, QString());
    m_tick->start();
    drain();
}

void FeedWorker::prepare()
{
    QSqlDatabase handle = m_db->handle();
    if (m_url.engine == Engine::Postgres) {
        // Listen before the first look, so that no call falls between the look and the listening.
        QSqlDriver* driver = handle.driver();
        if (!driver->subscribeToNotification(QStringLiteral("tallyvo_call")))
            throw DbError(driver->lastError().text());
        ++m_counters->statements;
        connect(driver, &QSqlDriver::notification, this, &FeedWorker::pollNow);
    } else {
        m_check.emplace(*m_db);
    }
    m_poll.emplace(handle);
    m_poll->setForwardOnly(true);
    if (!m_poll->prepare(QStringLiteral("SELECT %1 FROM tblCall WHERE tickDate=? AND status='0' "
                                        "ORDER BY callauto DESC LIMIT 1")
                             .arg(kColumns)))
        throw DbError(m_poll->lastError().text());
    m_claim.emplace(handle);
    if (!m_claim->prepare(QStringLiteral("UPDATE tblCall SET status='1' WHERE callauto=? AND status='0'")))
        throw DbError(m_claim->lastError().text());
    m_dataVersion = -1;
}

void FeedWorker::lost(const QString& why)
{
    m_check.reset();
    m_poll.reset();
    m_claim.reset();
    m_db.reset();
    m_dataVersion = -1;
    if (m_tick)
        m_tick->stop();
    if (!m_reportedDown) {
        m_reportedDown = true;
        emit connectionChanged(false, why);
    }
    if (m_finished)
        return;
    m_retryMs = m_retryMs == 0 ? m_timing.retryMinMs : std::min(m_retryMs * 2, m_timing.retryMaxMs);
    m_retry->start(m_retryMs);
}

void FeedWorker::pollNow()
{
    if (m_db && !m_finished)
        drain();
}

void FeedWorker::tick()
{
    if (!m_db || m_finished)
        return;
    try {
        // A new day needs no check of its own: its first call is a change like any other.
        bool look = m_url.engine == Engine::Postgres || m_sinceFullLook.elapsed() >= m_timing.safetyMs;
        if (!look)
            look = changedSinceLastLook();
        if (look)
            drain();
    } catch (const DbError& e) {
        lost(e.text());
    }
}

void FeedWorker::drain()
{
    if (!m_db || m_finished || m_draining)
        return;
    m_draining = true;
    m_sinceFullLook.start();
    try {
        for (int taken = 0; taken < kTakePerLook; ++taken) {
            if (m_counters->stop)
                break;
            const std::optional<CallRow> row = newestUnshown();
            if (!row) {
                m_draining = false;
                return;
            }
            // Another display may have taken it between the look and the claim: then it is
            // simply not ours, and the next newest is looked at.
            if (claim(row->callauto)) {
                ++m_counters->claims;
                emit claimed(*row);
            }
        }
        QMetaObject::invokeMethod(this, &FeedWorker::pollNow, Qt::QueuedConnection);
    } catch (const DbError& e) {
        m_draining = false;
        lost(e.text());
        return;
    }
    m_draining = false;
}

void FeedWorker::exec(QSqlQuery& q)
{
    ++m_counters->statements;
    if (!q.exec()) {
        const QSqlError e = q.lastError();
        throw DbError(e.databaseText().isEmpty() ? e.text() : e.databaseText());
    }
}

bool FeedWorker::changedSinceLastLook()
{
    // The check is a statement too, if not one of the Qt query layer's.
    ++m_counters->statements;
    ++m_counters->changeChecks;
    const qint64 version = m_check->read();
    if (version == m_dataVersion)
        return false;
    m_dataVersion = version;
    return true;
}

std::optional<CallRow> FeedWorker::newestUnshown()
{
    m_poll->bindValue(0, m_clock.todayText());
    exec(*m_poll);
    std::optional<CallRow> row;
    if (m_poll->next())
        row = rowFrom(*m_poll);
    m_poll->finish();
    return row;
}

bool FeedWorker::claim(qint64 callauto)
{
    m_claim->bindValue(0, callauto);
    exec(*m_claim);
    const bool mine = m_claim->numRowsAffected() == 1;
    m_claim->finish();
    return mine;
}

QList<CallRow> FeedWorker::recent()
{
    QList<CallRow> rows;
    if (m_recentRows == 0)
        return rows;
    ++m_counters->statements;
    // Only calls already shown: an unshown one is taken right after and enters at the top, and
    // would otherwise be listed twice.
    QSqlQuery q = m_db->run(QStringLiteral("SELECT %1 FROM tblCall WHERE tickDate=? AND status<>'0' "
                                           "ORDER BY callauto DESC LIMIT ?")
                                .arg(kColumns),
                            {m_clock.todayText(), m_recentRows});
    while (q.next())
        rows << rowFrom(q);
    return rows;
}

} // namespace tallyvo
