#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmUserLst;
class frmCompany;
}

namespace tallyvo {

class Connection;
class Prompt;

// "User List": the administrators' logins. Names are stored in capitals and are unique in any
// letter case; passwords are kept as hashes. The last user is never removed.
class frmUserLst : public QWidget {
    Q_OBJECT
public:
    frmUserLst(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);
    ~frmUserLst() override;

    // Fills the list of names.
    void getusers();
    // "&Add", "&Delete" (only with more than one user and one clicked), "&Close".
    void Command1_Click();
    void Command3_Click();
    void Command2_Click();

    // The key of the user clicked last; 0 when none was clicked since the window opened.
    qint64 selectedUser() const { return m_selected; }

private:
    void lstUser_Click();

    std::unique_ptr<Ui::frmUserLst> m_ui;
    Connection& m_connection;
    Prompt& m_prompt;
    qint64 m_selected = 0;
};

// "Company Details": the two lines at the top of every ticket.
class frmCompany : public QWidget {
    Q_OBJECT
public:
    frmCompany(Connection& connection, Prompt& prompt, QWidget* parent = nullptr);
    ~frmCompany() override;

    // "&Save": stores the lines (creating the company row if it is missing) and closes.
    void Command1_Click();

private:
    std::unique_ptr<Ui::frmCompany> m_ui;
    Connection& m_connection;
    Prompt& m_prompt;
};

} // namespace tallyvo
