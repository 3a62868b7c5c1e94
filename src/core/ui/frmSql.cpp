#include "core/ui/frmSql.h"

#include "ui_frmSql.h"

#include "core/Connection.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"

namespace tallyvo {

frmSql::frmSql(SettingsStore& settings, Session& session, Connection& connection, Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmSql>())
    , m_settings(settings)
    , m_session(session)
    , m_connection(connection)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    m_ui->txtDatabase->setPlaceholderText(Connection::defaultDatabaseFile());
    m_ui->txtHost->setToolTip(tr("A server, or a primary and its standbys: db1:5432,db2:5432"));
    connect(m_ui->cmdSave, &QPushButton::clicked, this, &frmSql::saveSettings);
    connect(m_ui->cmdTest, &QPushButton::clicked, this, &frmSql::testConnection);
    connect(m_ui->cmbEngine, &QComboBox::currentIndexChanged, this, &frmSql::updateEngine);
    loadSettings();
}

frmSql::~frmSql() = default;

void frmSql::showEvent(QShowEvent* event)
{
    loadSettings();
    QWidget::showEvent(event);
}

void frmSql::loadSettings()
{
    // The engine's name may be written in any letter case (a settings file made by hand).
    const int engine = m_ui->cmbEngine->findText(m_settings.get(Keys::SqlEngine).trimmed(), Qt::MatchFixedString);
    if (engine >= 0)
        m_ui->cmbEngine->setCurrentIndex(engine);
    m_ui->cmbAut->setCurrentText(m_settings.get(Keys::SqlAut));
    m_connection.loadSqlValues();
    m_ui->txtHost->setText(m_settings.get(Keys::SqlHost));
    m_ui->txtDatabase->setText(m_settings.get(Keys::SqlDatabase));
    m_ui->txtUser->setText(m_settings.get(Keys::SqlUser));
    m_ui->txtPassword->setText(m_settings.get(Keys::SqlPassword));
    m_ui->lblError->setText(m_connection.lastError());
    updateEngine();
}

void frmSql::saveSettings()
{
    // A list of servers that cannot be read is said at once, not at the next start.
    QString why;
    if (m_ui->cmbEngine->currentText() == QLatin1String("PostgreSQL") && !DbUrl::splitHosts(m_ui->txtHost->text(), &why)) {
        m_ui->lblError->setText(why);
        m_prompt.message(tr("Host: %1").arg(why));
        return;
    }
    m_settings.set(Keys::SqlHost, m_ui->txtHost->text());
    m_settings.set(Keys::SqlDatabase, m_ui->txtDatabase->text());
    m_settings.set(Keys::SqlUser, m_ui->txtUser->text());
    m_settings.set(Keys::SqlPassword, m_ui->txtPassword->text());
    m_connection.loadSqlValues();
    m_settings.set(Keys::SqlAut, m_ui->cmbAut->currentText());
    m_settings.set(Keys::SqlEngine, m_ui->cmbEngine->currentText());
}

void frmSql::testConnection()
{
    // Tests what was saved (what the window opened with), not what is typed in the boxes. A run
    // started with --db keeps working on that database: the saved values are tried on the side.
    bool ok = false;
    QString error;
    if (m_connection.overrideUrl()) {
        ok = m_connection.testSaved(&error);
    } else {
        ok = m_connection.connectDb();
        error = m_connection.lastError();
    }
    m_ui->lblError->setText(ok ? QString() : error);
    m_prompt.message(ok ? tr("Connection Success") : tr("Connection Failed"));
}

void frmSql::updateEngine()
{
    // The embedded database is a file: the server's host and login mean nothing to it.
    const bool server = m_ui->cmbEngine->currentText() == QLatin1String("PostgreSQL");
    for (QWidget* w : {static_cast<QWidget*>(m_ui->txtHost), static_cast<QWidget*>(m_ui->txtUser),
                       static_cast<QWidget*>(m_ui->txtPassword), static_cast<QWidget*>(m_ui->cmbAut)})
        w->setEnabled(server);
    m_ui->txtDatabase->setPlaceholderText(server ? QString() : Connection::defaultDatabaseFile());
}

} // namespace tallyvo
