#pragma once

// The part of CallFeed that lives on the feed's thread. Not for use outside CallFeed.

#include "core/DbUrl.h"
#include "core/SqliteChangeCounter.h"
#include "display/CallFeed.h"
#include "display/CallRow.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSqlQuery>
#include <atomic>
#include <memory>
#include <optional>

class QTimer;

namespace tallyvo {

class Clock;
class Database;

// Shared by the feed and its worker; outlives either.
struct FeedCounters {
    std::atomic<bool> stop{false};
    std::atomic<quint64> statements{0};
    std::atomic<quint64> changeChecks{0};
    std::atomic<quint64> claims{0};
    std::atomic<quint64> reconnects{0};
};

class FeedWorker : public QObject {
    Q_OBJECT
public:
    FeedWorker(DbUrl url, const Clock& clock, FeedTiming timing, int recentRows,
               std::shared_ptr<FeedCounters> counters);
    ~FeedWorker() override;

    // Slots run on the feed's thread.
    void begin();
    void pollNow();
    // Closes the connection and ends the thread.
    void finish();

signals:
    void recentCalls(const QList<tallyvo::CallRow>& rows);
    void claimed(const tallyvo::CallRow& call);
    void connectionChanged(bool connected, const QString& why);

private:
    void tryConnect();
    void prepare();
    void lost(const QString& why);
    void tick();
    void drain();
    bool changedSinceLastLook();
    std::optional<CallRow> newestUnshown();
    bool claim(qint64 callauto);
    QList<CallRow> recent();
    void exec(QSqlQuery& q);

    DbUrl m_url;
    const Clock& m_clock;
    FeedTiming m_timing;
    int m_recentRows;
    std::shared_ptr<FeedCounters> m_counters;

    std::unique_ptr<Database> m_db;
    // Prepared once per connection: the hot path sends only the execution.
    std::optional<SqliteChangeCounter> m_check;
    std::optional<QSqlQuery> m_poll;
    std::optional<QSqlQuery> m_claim;

    QTimer* m_tick = nullptr;
    QTimer* m_retry = nullptr;
    int m_retryMs = 0;
    bool m_everConnected = false;
    bool m_reportedDown = false;
    bool m_finished = false;
    bool m_draining = false;
    qint64 m_dataVersion = -1;
    QElapsedTimer m_sinceFullLook;
};

} // namespace tallyvo
