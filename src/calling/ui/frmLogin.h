#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmLogin;
}

namespace tallyvo {

class Connection;
class Prompt;
class SettingsStore;
class frmSql;
struct Session;

// "Login Here": decides what the station is for the rest of the run. An administrator login sets
// isAdmin, adminName and adminKey; a counter login sets activeCounter, activeService and clears
// isAdmin. The window closes itself on success and says which kind through a signal; the shell
// then shows the main window or the counter console. Wrong credentials keep it open with a
// message; a database error opens the connection window.
class frmLogin : public QWidget {
    Q_OBJECT

public:
    // Connects to the database and loads the remembered login (settings section Login).
    frmLogin(Connection& connection, SettingsStore& settings, Session& session, Prompt& prompt,
             QWidget* parent = nullptr);
    ~frmLogin() override;

    // "Login": also what the start-up presses when the display starts by itself (Display/Auto).
    void login();

    // The connection window opened by a database error; null until one happened.
    frmSql* sqlWindow() const { return m_sql.get(); }

signals:
    void adminLoggedIn();
    void counterLoggedIn();
    // "Exit": the program ends.
    void exitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadRemembered();
    void chooseAdmin(bool checked);
    void chooseCounter(bool checked);
    void fillCounters();
    void loginAdmin();
    void loginCounter();
    void showDatabaseError();

    std::unique_ptr<Ui::frmLogin> m_ui;
    Connection& m_connection;
    SettingsStore& m_settings;
    Session& m_session;
    Prompt& m_prompt;
    std::unique_ptr<frmSql> m_sql;
};

} // namespace tallyvo
