#pragma once

// The part of CallFeed that lives on the feed's thread. Not for use outside CallFeed.

#include "core/DbUrl.h"
#include "core/SqliteChangeCounter.h"
#include "display/CallFeed.h"
#include "display/CallRow.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSqlQuery>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

class QTimer;

namespace tallyvo {

class Clock;
class Database;
class SqliteWalWatcher;

// Shared by the feed and its worker; outlives either.
struct FeedCounters {
    // The display's date, lent to the thread only while the feed lives: a thread left to finish a
    // slow connection by itself after the display closed reads the system's date instead of a
    // clock that is gone.
    QString todayText() const;
    void lendClock(const Clock* clock);

    std::atomic<bool> stop{false};
    std::atomic<quint64> statements{0};
    std::atomic<quint64> changeChecks{0};
    std::atomic<quint64> calls{0};
    std::atomic<quint64> reconnects{0};
    std::atomic<quint64> wakeups{0};

private:
    mutable std::mutex m_clockMutex;
    const Clock* m_clock = nullptr;
};

class FeedWorker : public QObject {
    Q_OBJECT
public:
    FeedWorker(DbUrl url, QString displayId, FeedTiming timing, int recentRows,
               std::shared_ptr<FeedCounters> counters);
    ~FeedWorker() override;

    // Slots run on the feed's thread.
    void begin();
    void pollNow();
    void shown(const tallyvo::CallRow& call);
    // Writes what was shown, closes the connection and ends the thread.
    void finish();

signals:
    void recentCalls(const QList<tallyvo::CallRow>& rows);
    void arrived(const tallyvo::CallRow& call);
    void connectionChanged(bool connected, const QString& why);

private:
    void tryConnect();
    void prepare();
    void closeConnection();
    void takePlace();
    void lost(const QString& why);
    void safetyLook();
    void logTouched();
    void settle();
    bool lookIfChanged();
    void drain();
    void writeShown();
    void writeShownNow();
    bool changedSinceLastLook();
    QList<CallRow> rows(QSqlQuery& q);
    QList<CallRow> recent(qint64 position, bool resumed);
    void exec(QSqlQuery& q);

    DbUrl m_url;
    QString m_displayId;
    FeedTiming m_timing;
    int m_recentRows;
    std::shared_ptr<FeedCounters> m_counters;

    std::unique_ptr<Database> m_db;
    // Prepared once per connection: the hot path sends only the execution.
    std::optional<SqliteChangeCounter> m_check;
    std::optional<QSqlQuery> m_next;
    std::optional<QSqlQuery> m_mark;
    std::optional<QSqlQuery> m_save;
    SqliteWalWatcher* m_walWatch = nullptr;

    QTimer* m_safety = nullptr;
    QTimer* m_settle = nullptr;
    QTimer* m_retry = nullptr;
    QTimer* m_write = nullptr;
    // Since the first shown call that is not written yet; invalid while all is written.
    QElapsedTimer m_unwrittenFor;
    int m_settleStep = 0;
    int m_retryMs = 0;
    bool m_everConnected = false;
    bool m_reportedDown = false;
    bool m_finished = false;
    bool m_draining = false;
    qint64 m_dataVersion = -1;
    // The feed position of the last call handed to the window; the next look starts after it.
    qint64 m_position = -1;
    // What the window has shown and the database does not know yet: calls to mark shown
    // (callauto, feedSeq) and this display's position.
    QList<QPair<qint64, qint64>> m_unmarked;
    qint64 m_shownPosition = -1;
    qint64 m_savedPosition = -1;
};

} // namespace tallyvo
