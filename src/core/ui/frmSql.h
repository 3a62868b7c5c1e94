#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmSql;
}

namespace tallyvo {

class Connection;
class Prompt;
class SettingsStore;
struct Session;

// "SQL Settings": where the station's database is, and a test of the saved values.
class frmSql : public QWidget {
    Q_OBJECT

public:
    frmSql(SettingsStore& settings, Session& session, Connection& connection, Prompt& prompt,
           QWidget* parent = nullptr);
    ~frmSql() override;

    // Reloads the boxes and the session's values from the settings store (done on every opening).
    void loadSettings();
    void saveSettings();
    void testConnection();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateEngine();

    std::unique_ptr<Ui::frmSql> m_ui;
    SettingsStore& m_settings;
    Session& m_session;
    Connection& m_connection;
    Prompt& m_prompt;
};

} // namespace tallyvo
