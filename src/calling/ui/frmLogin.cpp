#include "calling/ui/frmLogin.h"

#include "ui_frmLogin.h"

#include "calling/Credentials.h"
#include "calling/ui/RememberedPassword.h"
#include "core/Connection.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "core/modSub.h"
#include "core/ui/frmSql.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTimer>

namespace tallyvo {

namespace {

const QString optAdminName = QStringLiteral("optAdmin");
const QString optCounterName = QStringLiteral("optCounter");

// Checking a password costs a fraction of a second by design: show that the program is busy.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace

frmLogin::frmLogin(Connection& connection, SettingsStore& settings, Session& session, Prompt& prompt,
                   QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmLogin>())
    , m_connection(connection)
    , m_settings(settings)
    , m_session(session)
    , m_prompt(prompt) {
    m_ui->setupUi(this);
    m_ui->lblCounter->setVisible(false);
    m_ui->cmbCounter->setVisible(false);

    connect(m_ui->optAdmin, &QRadioButton::toggled, this, &frmLogin::chooseAdmin);
    connect(m_ui->optCounter, &QRadioButton::toggled, this, &frmLogin::chooseCounter);
    connect(m_ui->cmbCounter->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { m_ui->txtUser->setFocus(); });
    connect(m_ui->txtUser, &QLineEdit::returnPressed, this, [this] { m_ui->txtPass->setFocus(); });
    connect(m_ui->txtPass, &QLineEdit::returnPressed, this, &frmLogin::login);
    connect(m_ui->cmdLogin, &QPushButton::clicked, this, &frmLogin::login);
    connect(m_ui->cmdExit, &QPushButton::clicked, this, &frmLogin::exitRequested);
    m_ui->txtUser->installEventFilter(this);

    m_connection.connectDb();
    loadRemembered();
}

frmLogin::~frmLogin() = default;

void frmLogin::loadRemembered() {
    const bool remember = m_settings.get(Keys::LoginRem) == QLatin1String("1");
    m_ui->chkRem->setChecked(remember);
    if (!remember)
        return;
    RememberedPassword password(m_settings);
    m_ui->txtUser->setText(m_settings.get(Keys::LoginName));
    m_ui->txtPass->setText(password.read());
    if (m_settings.get(Keys::LoginType) == optCounterName) {
        m_ui->optCounter->setChecked(true);
        m_ui->cmbCounter->setEditText(m_settings.get(Keys::LoginCounter));
    } else {
        m_ui->optAdmin->setChecked(true);
    }
}

bool frmLogin::eventFilter(QObject* watched, QEvent* event) {
    // Entering the user name selects all of it, so typing replaces a remembered name. After the
    // event, as a mouse click would otherwise place the cursor over the selection.
    if (watched == m_ui->txtUser && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, m_ui->txtUser, &QLineEdit::selectAll);
    return QWidget::eventFilter(watched, event);
}

void frmLogin::chooseAdmin(bool checked) {
    if (!checked)
        return;
    m_ui->lblCounter->setVisible(false);
    m_ui->cmbCounter->setVisible(false);
    m_ui->txtUser->setFocus();
}

void frmLogin::chooseCounter(bool checked) {
    if (!checked)
        return;
    m_ui->lblCounter->setVisible(true);
    m_ui->cmbCounter->setVisible(true);
    fillCounters();
    m_ui->cmbCounter->setFocus();
}

void frmLogin::fillCounters() {
    const QString typed = m_ui->cmbCounter->currentText();
    m_ui->cmbCounter->clear();
    try {
        QSqlQuery q = m_connection.db()->run(
            QStringLiteral("SELECT contName FROM tblCounter WHERE active='1' ORDER BY cntAuto"));
        while (q.next())
            m_ui->cmbCounter->addItem(q.value(0).toString());
    } catch (const DbError&) {
        showDatabaseError();
    }
    m_ui->cmbCounter->setEditText(typed);
}

void frmLogin::login() {
    try {
        if (m_ui->optCounter->isChecked())
            loginCounter();
        else
            loginAdmin();
    } catch (const DbError&) {
        showDatabaseError();
    }
}

void frmLogin::loginAdmin() {
    const QString user = m_ui->txtUser->text();
    const QString pass = m_ui->txtPass->text();
    std::optional<int> key;
    {
        BusyCursor busy;
        key = Credentials::checkAdmin(*m_connection.db(), user, pass);
    }
    if (!key) {
        m_prompt.alert(Prompt::Icon::Exclamation, tr("Please enter a valid username and password"));
        return;
    }
    RememberedPassword remembered(m_settings);
    if (m_ui->chkRem->isChecked()) {
        m_settings.set(Keys::LoginRem, QStringLiteral("1"));
        m_settings.set(Keys::LoginType, optAdminName);
        m_settings.set(Keys::LoginName, user);
        remembered.write(pass);
    } else {
        // Forget who it was, but keep the box ticked for the next start.
        m_settings.set(Keys::LoginName, QString());
        remembered.write(QString());
    }
    m_session.isAdmin = true;
    m_session.adminName = user;
    m_session.adminKey = *key;
    close();
    emit adminLoggedIn();
}

void frmLogin::loginCounter() {
    const QString counter = m_ui->cmbCounter->currentText();
    const QString user = m_ui->txtUser->text();
    const QString pass = m_ui->txtPass->text();
    std::optional<Credentials::CounterLogin> found;
    {
        BusyCursor busy;
        found = Credentials::checkCounter(*m_connection.db(), counter, user, pass);
    }
    if (!found) {
        m_prompt.alert(Prompt::Icon::Exclamation, tr("Please enter a valid Username and Password"));
        return;
    }
    if (m_ui->chkRem->isChecked()) {
        m_settings.set(Keys::LoginName, user);
        m_settings.set(Keys::LoginRem, QStringLiteral("1"));
        m_settings.set(Keys::LoginType, optCounterName);
        RememberedPassword(m_settings).write(pass);
        m_settings.set(Keys::LoginCounter, counter);
    }
    m_session.activeCounter = found->cntAuto;
    m_session.activeService = found->servAuto;
    m_session.isAdmin = false;
    m_session.counterName = modSub::getCounterName(*m_connection.db(), m_session, found->cntAuto);
    close();
    emit counterLoggedIn();
}

void frmLogin::showDatabaseError() {
    if (!m_sql)
        m_sql = std::make_unique<frmSql>(m_settings, m_session, m_connection, m_prompt);
    m_sql->show();
    m_sql->raise();
}

} // namespace tallyvo
