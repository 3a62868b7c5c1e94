#include "calling/ui/frmChPass.h"

#include "ui_frmChPass.h"

#include "calling/Credentials.h"
#include "core/Connection.h"
#include "core/Prompt.h"
#include "core/Session.h"

namespace tallyvo {

frmChPass::frmChPass(Connection& connection, Session& session, Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_connection(connection)
    , m_session(session)
    , m_ui(std::make_unique<Ui::frmChPass>())
    , m_prompt(prompt) {
    m_ui->setupUi(this);
    connect(m_ui->cmdChange, &QPushButton::clicked, this, &frmChPass::change);
    connect(m_ui->txtConf, &QLineEdit::returnPressed, this, &frmChPass::change);
}

frmChPass::~frmChPass() = default;

void frmChPass::change() {
    if (m_ui->txtNew->text() != m_ui->txtConf->text()) {
        m_prompt.alert(Prompt::Icon::Exclamation, tr("Passwords are not same"));
        return;
    }
    bool changed = false;
    try {
        changed = changePassword(m_ui->txtOld->text(), m_ui->txtNew->text());
    } catch (const DbError& e) {
        m_prompt.alert(Prompt::Icon::Critical, e.text());
        return;
    }
    if (!changed) {
        m_prompt.alert(Prompt::Icon::Exclamation, tr("Please enter a valid old password"));
        return;
    }
    m_prompt.message(tr("Password Changed "));
    close();
}

bool frmChPass::changePassword(const QString& oldPassword, const QString& newPassword) {
    return Credentials::changeCounterPassword(*m_connection.db(), m_session.activeCounter, oldPassword,
                                              newPassword);
}

frmAdminPass::frmAdminPass(Connection& connection, Session& session, Prompt& prompt, QWidget* parent)
    : frmChPass(connection, session, prompt, parent) {
    setObjectName(QStringLiteral("frmAdminPass"));
    setWindowTitle(tr("Change Admin Password"));
}

bool frmAdminPass::changePassword(const QString& oldPassword, const QString& newPassword) {
    return Credentials::changeAdminPassword(*m_connection.db(), m_session.adminKey, oldPassword, newPassword);
}

} // namespace tallyvo
