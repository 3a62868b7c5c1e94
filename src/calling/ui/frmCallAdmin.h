#pragma once

#include "calling/ui/CallConsole.h"

namespace tallyvo {

// The administrator console: the counter console for any counter, chosen in cmbCounter. Choosing
// a counter (typing its full name or picking it) switches the session's active counter values
// and enables "Next", "Recall" and "Call This F6"; a name that matches no counter disables them.
// It has no hot keys, no transfer and no lab-report call. "Close" only hides it, so the main
// window shows the same console again later; the window frame's close is refused, a close the
// program asks for is not.
class frmCallAdmin : public CallConsole {
    Q_OBJECT

public:
    frmCallAdmin(Connection& connection, SettingsStore& settings, Session& session, const Clock& clock,
                 Prompt& prompt, QWidget* parent = nullptr);
    ~frmCallAdmin() override;

    // The counter choice for the text in cmbCounter.
    void getDetails();

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace tallyvo
