#pragma once

#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class frmCall;
}

class QTimer;

namespace tallyvo {

class CallEngine;
class Clock;
class Connection;
class Database;
class Grid;
class Prompt;
class SettingsStore;
struct Session;

// What the counter console (frmCall) and the administrator console (frmCallAdmin) share: the
// header with the current token, the seven tabs with their lists, the two timers, and the
// bindings of buttons and grids to the call engine. A database error in an action the operator
// started is shown as a message with the database's text; the once-a-minute refresh keeps its old
// rows instead.
class CallConsole : public QWidget {
    Q_OBJECT

public:
    ~CallConsole() override;

    // The actions of the four buttons (and of F4 to F7 where the console has hot keys).
    void nextAction();
    void recallAction();
    void cancelAction();
    void refreshAction();

    CallEngine& engine() const { return *m_engine; }
    // Button timer (5000 ms, enables "Next" and "Recall") and refresh timer (1000 ms; every 61st
    // tick refreshes the lists).
    QTimer* buttonTimer() const { return m_buttonTimer; }
    QTimer* refreshTimer() const { return m_refreshTimer; }
    int refreshTicks() const { return m_ticks; }

signals:
    // After every run of the Refresh action, by key, button or timer.
    void refreshed();

protected:
    enum class Kind { Counter, Admin };

    // Runs the opening: check boxes from the settings, tab 0, "Idle", connectDb, caption, then
    // the pending count, the last served token, the attended list and the transfer counters.
    CallConsole(Kind kind, Connection& connection, SettingsStore& settings, Session& session,
                const Clock& clock, Prompt& prompt, QWidget* parent);

    // Runs an action the operator started; a database error becomes a message.
    bool guarded(const std::function<void()>& action);
    void showState();
    void fillCounterChoice();

    std::unique_ptr<Ui::frmCall> m_ui;
    Kind m_kind;
    Connection& m_connection;
    SettingsStore& m_settings;
    Session& m_session;
    const Clock& m_clock;
    Prompt& m_prompt;

private:
    void setupGrids();
    void tabChosen(int index);
    void gridDoubleClicked(Grid* grid);
    void transferedClicked();
    void transferCounterChosen();
    void updateTransfer();
    void changePassword();
    void buttonTick();
    void refreshTick();
    void startButtonTimer();
    void refreshLists();

    void addAttend();
    void addCancelled();
    void addTrans();
    void addPendings();
    void addTokens();

    std::shared_ptr<Database> m_db;
    std::unique_ptr<CallEngine> m_engine;
    QTimer* m_buttonTimer;
    QTimer* m_refreshTimer;
    qint16 m_ticks = 0;
};

} // namespace tallyvo
