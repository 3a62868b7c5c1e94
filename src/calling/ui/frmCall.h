#pragma once

#include "calling/ui/CallConsole.h"

#include <array>

namespace tallyvo {

class GlobalHotKeys;

// The counter console: the operator's window at one counter (the session's activeCounter).
//
// For a counter login (session.isAdmin false) it is the station's whole user interface: when it
// is first shown it registers F4 (Next), F5 (Recall), F6 (Cancel) and F7 (Refresh) as system-wide
// keys if "Register Shortcuts" is ticked, with one message per key it cannot have; "Exit" asks "Do you
// want to Close" and on Yes releases the keys and ends the program (programEnd); closing it by
// the title bar ends the program at once. For an administrator ("Transfer App") it registers no
// keys and simply closes.
class frmCall : public CallConsole {
    Q_OBJECT

public:
    // Opens at once for the session's active values (see CallConsole).
    frmCall(Connection& connection, SettingsStore& settings, Session& session, const Clock& clock,
            Prompt& prompt, QWidget* parent = nullptr);
    ~frmCall() override;

    // "Transfer App": every tab but "Transfer" switched off; an administrator's console (no keys,
    // closing ends nothing) whatever the session says. Call before showing it.
    void setTransferOnly();

    // Whether the hot key with this id (0 = F4 ... 3 = F7) is this console's.
    bool hotKeyRegistered(int id) const;

    // "Exit".
    void exitClick();

signals:
    // A counter login's console was closed: the program ends. Emitted once.
    void programEnd();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void registerHotKeys();
    void hotKey(int id);
    void endProgram();

    std::unique_ptr<GlobalHotKeys> m_hotKeys;
    bool m_counterLogin = false;
    bool m_ended = false;
    bool m_keysTried = false;
};

} // namespace tallyvo
