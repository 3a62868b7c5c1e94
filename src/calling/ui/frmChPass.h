#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmChPass;
}

namespace tallyvo {

class Connection;
class Prompt;
struct Session;

// "Change Password": the password of the session's active counter. Old password, new password
// and its confirmation; "Chanage" stores the new one (as a hash) when the old one is right, then
// closes the window. Enter in the confirmation box presses the button.
class frmChPass : public QWidget {
    Q_OBJECT

public:
    frmChPass(Connection& connection, Session& session, Prompt& prompt, QWidget* parent = nullptr);
    ~frmChPass() override;

    // "Chanage".
    void change();

protected:
    // The store behind the window: false when the old password is wrong.
    virtual bool changePassword(const QString& oldPassword, const QString& newPassword);

    Connection& m_connection;
    Session& m_session;

private:
    std::unique_ptr<Ui::frmChPass> m_ui;
    Prompt& m_prompt;
};

// "Change Admin Password": the same for the logged-in administrator (the session's adminKey).
class frmAdminPass : public frmChPass {
    Q_OBJECT

public:
    frmAdminPass(Connection& connection, Session& session, Prompt& prompt, QWidget* parent = nullptr);

protected:
    bool changePassword(const QString& oldPassword, const QString& newPassword) override;
};

} // namespace tallyvo
