#pragma once

#include "stats/LiveBoard.h"

#include <QWidget>
#include <memory>

class QLabel;
class QTimer;

namespace tallyvo {

class Clock;
class Connection;
class Grid;
class Prompt;
class SqliteWalWatcher;

// "Live Board": the administrator's view of the queue now (LiveBoard's figures), services past
// their target wait in red. It is read again shortly after the database announces a change (a
// call or recall, or a token issued, cancelled, transferred or called on PostgreSQL, any commit to
// the embedded database's log) and every
// refreshMs in any case, so waits keep counting up while nothing happens.
class LiveBoardWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int refreshMs = 15000;
    // Changes that come close together are read once, this long after the first.
    static constexpr int settleMs = 250;

    LiveBoardWindow(Connection& connection, const Clock& clock, Prompt& prompt, QWidget* parent = nullptr);
    ~LiveBoardWindow() override;

    Grid* services() const { return m_services; }
    Grid* counters() const { return m_counters; }
    const LiveBoard::Snapshot& board() const { return m_board; }
    int refreshCount() const { return m_refreshes; }

    // Reads the board now and shows it.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void listen();

    Connection& m_connection;
    const Clock& m_clock;
    Prompt& m_prompt;
    Grid* m_services;
    Grid* m_counters;
    QLabel* m_status;
    QTimer* m_timer;
    QTimer* m_settle;
    std::unique_ptr<SqliteWalWatcher> m_watcher;
    LiveBoard::Snapshot m_board;
    QString m_lastError;
    int m_refreshes = 0;
};

} // namespace tallyvo
