#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

namespace Ui {
class frmSelService;
}

namespace tallyvo {

class Clock;
class Connection;
class Prompt;
class SettingsStore;
class frmCall;
struct Session;

// "Select Service", behind the main window's "Transfer App": an administrator picks a counter and
// gets its console with only the "Transfer" tab usable. The counter last used for transfers
// (setting Ticket/transfer) is offered, and "Ok" is pressed by itself when the window opens, so
// with that setting the console comes straight up.
class frmSelService : public QWidget {
    Q_OBJECT

public:
    frmSelService(Connection& connection, SettingsStore& settings, Session& session, const Clock& clock,
                  Prompt& prompt, QWidget* parent = nullptr);
    ~frmSelService() override;

    // "Ok": sets activeCounter and activeService of the chosen counter, closes this window and
    // opens the transfer console; "Please enter a valid Counter" when no counter has that name.
    void ok();

    // The console the last "Ok" opened, while it is open.
    frmCall* console() const { return m_console; }

signals:
    void consoleOpened(tallyvo::frmCall* console);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void counterChosen();

    std::unique_ptr<Ui::frmSelService> m_ui;
    Connection& m_connection;
    SettingsStore& m_settings;
    Session& m_session;
    const Clock& m_clock;
    Prompt& m_prompt;
    QPointer<frmCall> m_console;
};

} // namespace tallyvo
