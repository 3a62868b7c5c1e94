#include "display/FeedWorker.h"

#include "core/Clock.h"
#include "core/Database.h"
#include "core/SqliteWalWatcher.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <array>

namespace tallyvo {

namespace {

// The row in the column order of tblCall.
const QString kColumns =
    QStringLiteral("callauto, cntAuto, no_abr, displayName, status, tickAuto, tickDate, callNote, feedSeq");

CallRow rowFrom(const QSqlQuery& q)
{
    CallRow row;
    row.callauto = q.value(0).toLongLong();
    row.label = q.value(2).toString();
    row.displayName = q.value(3).toString();
    row.callNote = q.value(7).toString();
    row.feedSeq = q.value(8).toLongLong();
    return row;
}

// How many calls one look takes before letting the thread's other events (a stop, a
// notification) in; the rest are taken right after.
constexpr int kTakePerLook = 50;

// A writer appends its commit to the log frame by frame, each write a change of the file, and
// makes it visible only after the last one, so a look at the change counter as the log moves
// can come too early. The look is cheap and the thread is awake anyway, so each change is
// looked at; a commit not visible yet is looked for again soon after, then a few times more.
constexpr std::array<int, 5> kSettleMs{1, 2, 8, 32, 128};

} // namespace

QString FeedCounters::todayText() const
{
    std::lock_guard lock(m_clockMutex);
    return m_clock ? m_clock->todayText() : SystemClock().todayText();
}

void FeedCounters::lendClock(const Clock* clock)
{
    std::lock_guard lock(m_clockMutex);
    m_clock = clock;
}

FeedWorker::FeedWorker(DbUrl url, QString displayId, FeedTiming timing, int recentRows,
                       std::shared_ptr<FeedCounters> counters)
    : m_url(std::move(url))
    , m_displayId(std::move(displayId))
    , m_timing(timing)
    , m_recentRows(std::max(recentRows, 0))
    , m_counters(std::move(counters))
{
}

FeedWorker::~FeedWorker()
{
    closeConnection();
}

void FeedWorker::begin()
{
    m_safety = new QTimer(this);
    connect(m_safety, &QTimer::timeout, this, &FeedWorker::safetyLook);
    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setTimerType(Qt::PreciseTimer);
    connect(m_settle, &QTimer::timeout, this, &FeedWorker::settle);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &FeedWorker::tryConnect);
    m_write = new QTimer(this);
    m_write->setSingleShot(true);
    connect(m_write, &QTimer::timeout, this, &FeedWorker::writeShown);
    tryConnect();
}

void FeedWorker::finish()
{
    if (m_db && !m_finished) {
        try {
            writeShownNow();
        } catch (const DbError&) {
            // Not written: the next start of this display shows those calls again.
        }
    }
    m_finished = true;
    if (m_safety)
        m_safety->stop();
    if (m_settle)
        m_settle->stop();
    if (m_retry)
        m_retry->stop();
    if (m_write)
        m_write->stop();
    closeConnection();
    QThread::currentThread()->quit();
}

void FeedWorker::closeConnection()
{
    delete m_walWatch;
    m_walWatch = nullptr;
    m_check.reset();
    m_next.reset();
    m_mark.reset();
    m_save.reset();
    m_db.reset();
    m_dataVersion = -1;
}

void FeedWorker::tryConnect()
{
    if (m_finished || m_counters->stop)
        return;
    auto db = std::make_unique<Database>(m_url);
    if (m_url.engine == Engine::Postgres) {
        // A server that vanishes without closing the socket (a pulled cable, a sleeping
        // switch) is noticed within seconds instead of after the system's TCP timeout.
        // The URL's own options (TLS, the list of ports of several servers, which of them to take)
        // stay; only the connect timeout is shorter unless the URL sets one.
        const bool ownTimeout = std::any_of(m_url.options.begin(), m_url.options.end(), [](const auto& o) {
            return o.first == QLatin1String("connect_timeout");
        });
        db->handle().setConnectOptions(m_url.connectOptions() + QLatin1Char(';') + Database::keepAliveOptions() +
                                       (ownTimeout ? QString() : QStringLiteral(";connect_timeout=5")));
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
        // The change counter is read before the first look, so a commit after that look is
        // still seen as a change.
        if (m_check)
            changedSinceLastLook();
        if (!m_everConnected)
            takePlace();
        writeShownNow();
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
    m_safety->start();
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
        connect(driver, &QSqlDriver::notification, this, [this] {
            ++m_counters->wakeups;
            drain();
        });
        m_safety->setInterval(m_timing.safetyMs);
    } else {
        m_check.emplace(*m_db);
        // Watching starts before the first look for the same reason as listening does.
        m_walWatch = new SqliteWalWatcher(m_url.path, this);
        connect(m_walWatch, &SqliteWalWatcher::touched, this, &FeedWorker::logTouched);
        // Where the folder cannot be watched, the change counter is read often instead.
        m_safety->setInterval(m_walWatch->isWatching() ? m_timing.safetyMs : m_timing.checkMs);
    }
    m_next.emplace(handle);
    m_next->setForwardOnly(true);
    if (!m_next->prepare(QStringLiteral("SELECT %1 FROM tblCall WHERE feedSeq>? AND tickDate=? "
                                        "ORDER BY feedSeq LIMIT ?")
                             .arg(kColumns)))
        throw DbError(m_next->lastError().text());
    // A call recalled since it was read has a new place in the feed and stays unshown until a
    // display has shown the recall.
    m_mark.emplace(handle);
    if (!m_mark->prepare(
            QStringLiteral("UPDATE tblCall SET status='1' WHERE callauto=? AND feedSeq=? AND status='0'")))
        throw DbError(m_mark->lastError().text());
    m_save.emplace(handle);
    if (!m_save->prepare(QStringLiteral("INSERT INTO tblDisplayFeed (displayId, feedDate, feedSeq) VALUES (?, ?, ?) "
                                        "ON CONFLICT (displayId) DO UPDATE SET feedDate=excluded.feedDate, "
                                        "feedSeq=excluded.feedSeq")))
        throw DbError(m_save->lastError().text());
}

void FeedWorker::takePlace()
{
    const QString today = m_counters->todayText();
    ++m_counters->statements;
    QSqlQuery stored = m_db->run(QStringLiteral("SELECT feedDate, feedSeq FROM tblDisplayFeed WHERE displayId=?"),
                                 {m_displayId});
    const bool resumed = stored.next() && stored.value(0).toString() == today;
    qint64 position = 0;
    if (resumed) {
        // This display ran earlier today: it goes on after the last call it showed.
        position = stored.value(1).toLongLong();
    } else {
        ++m_counters->statements;
        position = m_db->scalar(QStringLiteral("SELECT seq FROM tblCallSeq")).toLongLong();
    }
    stored.finish();
    const QList<CallRow> recentRows = recent(position, resumed);
    QList<CallRow> waiting;
    if (!resumed) {
        // Calls no display has shown yet are announced here, in the order they were made.
        ++m_counters->statements;
        QSqlQuery q = m_db->run(QStringLiteral("SELECT %1 FROM tblCall WHERE tickDate=? AND status='0' "
                                               "AND feedSeq<=? ORDER BY feedSeq")
                                    .arg(kColumns),
                                {today, position});
        waiting = rows(q);
    }
    m_position = position;
    m_shownPosition = position;
    m_savedPosition = resumed ? position : -1;
    emit recentCalls(recentRows);
    for (const CallRow& call : waiting) {
        ++m_counters->calls;
        emit arrived(call);
    }
}

QList<CallRow> FeedWorker::recent(qint64 position, bool resumed)
{
    if (m_recentRows == 0)
        return {};
    // Only calls before the display's place in the feed, each listed once: later ones enter at
    // the top as they are taken. A fresh display also leaves out those still unshown, which it
    // announces.
    const QString sql = resumed
        ? QStringLiteral("SELECT %1 FROM tblCall WHERE tickDate=? AND (feedSeq IS NULL OR feedSeq<=?) "
                         "ORDER BY callauto DESC LIMIT ?")
        : QStringLiteral("SELECT %1 FROM tblCall WHERE tickDate=? AND (feedSeq IS NULL OR feedSeq<=?) "
                         "AND status<>'0' ORDER BY callauto DESC LIMIT ?");
    ++m_counters->statements;
    QSqlQuery q = m_db->run(sql.arg(kColumns), {m_counters->todayText(), position, m_recentRows});
    return rows(q);
}

QList<CallRow> FeedWorker::rows(QSqlQuery& q)
{
    QList<CallRow> out;
    while (q.next())
        out << rowFrom(q);
    q.finish();
    return out;
}

void FeedWorker::lost(const QString& why)
{
    closeConnection();
    if (m_safety)
        m_safety->stop();
    if (m_settle)
        m_settle->stop();
    // Kept for the next connection, which writes it first.
    if (m_write)
        m_write->stop();
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

void FeedWorker::safetyLook()
{
    ++m_counters->wakeups;
    if (m_url.engine == Engine::Postgres)
        drain();
    else
        lookIfChanged();
}

void FeedWorker::logTouched()
{
    ++m_counters->wakeups;
    m_settleStep = 0;
    if (lookIfChanged())
        m_settle->stop();
    else if (m_db)
        m_settle->start(kSettleMs[0]);
}

void FeedWorker::settle()
{
    ++m_counters->wakeups;
    if (lookIfChanged() || ++m_settleStep >= int(kSettleMs.size()))
        return;
    m_settle->start(kSettleMs[size_t(m_settleStep)]);
}

bool FeedWorker::lookIfChanged()
{
    if (!m_db || m_finished)
        return false;
    try {
        if (!changedSinceLastLook())
            return false;
    } catch (const DbError& e) {
        lost(e.text());
        return false;
    }
    drain();
    return true;
}

void FeedWorker::drain()
{
    if (!m_db || m_finished || m_draining || m_position < 0)
        return;
    m_draining = true;
    try {
        m_next->bindValue(0, m_position);
        m_next->bindValue(1, m_counters->todayText());
        m_next->bindValue(2, kTakePerLook);
        exec(*m_next);
        const QList<CallRow> found = rows(*m_next);
        for (const CallRow& call : found) {
            if (m_counters->stop)
                break;
            m_position = call.feedSeq;
            ++m_counters->calls;
            emit arrived(call);
        }
        if (found.size() == kTakePerLook)
            QMetaObject::invokeMethod(this, &FeedWorker::pollNow, Qt::QueuedConnection);
    } catch (const DbError& e) {
        m_draining = false;
        lost(e.text());
        return;
    }
    m_draining = false;
}

void FeedWorker::shown(const CallRow& call)
{
    m_unmarked.append({call.callauto, call.feedSeq});
    m_shownPosition = std::max(m_shownPosition, call.feedSeq);
    if (m_finished || !m_write)
        return;
    // Calls shown in a quick run are written together, after it or while it goes on.
    if (!m_unwrittenFor.isValid())
        m_unwrittenFor.start();
    const qint64 latest = std::max<qint64>(0, m_timing.markLatestMs - m_unwrittenFor.elapsed());
    m_write->start(int(std::min<qint64>(std::max(m_timing.markQuietMs, 0), latest)));
}

void FeedWorker::writeShown()
{
    if (!m_db || m_finished)
        return; // written when the connection is back
    try {
        writeShownNow();
    } catch (const DbError& e) {
        lost(e.text());
    }
}

void FeedWorker::writeShownNow()
{
    if (m_unmarked.isEmpty() && m_shownPosition == m_savedPosition)
        return;
    m_counters->statements += 2;
    Transaction t(*m_db);
    for (const auto& [callauto, seq] : std::as_const(m_unmarked)) {
        m_mark->bindValue(0, callauto);
        m_mark->bindValue(1, seq);
        exec(*m_mark);
        m_mark->finish();
    }
    if (m_shownPosition != m_savedPosition) {
        m_save->bindValue(0, m_displayId);
        m_save->bindValue(1, m_counters->todayText());
        m_save->bindValue(2, m_shownPosition);
        exec(*m_save);
        m_save->finish();
    }
    t.commit();
    m_unmarked.clear();
    m_savedPosition = m_shownPosition;
    m_unwrittenFor.invalidate();
    if (m_write)
        m_write->stop();
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

} // namespace tallyvo
