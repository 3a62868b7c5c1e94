#include "calling/ui/frmSelService.h"

#include "ui_frmSelService.h"

#include "calling/ui/frmCall.h"
#include "core/Connection.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"

#include <QLineEdit>
#include <QTimer>

namespace tallyvo {

namespace {

// Every console works for the session's one active counter: an older transfer console left open
// would act for the counter chosen after it. Kept across Select Service windows, which the main
// window makes anew each time.
QPointer<frmCall>& transferConsole() {
    static QPointer<frmCall> console;
    return console;
}

} // namespace

frmSelService::frmSelService(Connection& connection, SettingsStore& settings, Session& session,
                             const Clock& clock, Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmSelService>())
    , m_connection(connection)
    , m_settings(settings)
    , m_session(session)
    , m_clock(clock)
    , m_prompt(prompt) {
    m_ui->setupUi(this);
    connect(m_ui->cmdOk, &QPushButton::clicked, this, &frmSelService::ok);
    connect(m_ui->cmbCounter->lineEdit(), &QLineEdit::returnPressed, this, &frmSelService::ok);
    connect(m_ui->cmbCounter, &QComboBox::currentTextChanged, this, &frmSelService::counterChosen);

    try {
        QSqlQuery q = m_connection.db()->run(
            QStringLiteral("SELECT contName FROM tblCounter WHERE active='1' ORDER BY cntAuto"));
        const QSignalBlocker quiet(m_ui->cmbCounter);
        while (q.next())
            m_ui->cmbCounter->addItem(q.value(0).toString());
        m_ui->cmbCounter->setCurrentIndex(-1);
    } catch (const DbError& e) {
        m_prompt.alert(Prompt::Icon::Critical, e.text());
    }
    const QString last = m_settings.get(Keys::TicketTransfer);
    if (!last.isEmpty())
        m_ui->cmbCounter->setEditText(last);
}

frmSelService::~frmSelService() = default;

void frmSelService::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Once per opening, after the window is up. Pressing it at every activation would come back
    // after each "Please enter a valid Counter" box and never let the user type.
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            ok();
    });
}

void frmSelService::counterChosen() {
    const QString name = m_ui->cmbCounter->currentText();
    try {
        QSqlQuery q = m_connection.db()->run(
            QStringLiteral("SELECT tblService.ServName FROM tblCounter "
                           "INNER JOIN tblService ON tblCounter.servAuto = tblService.servAuto "
                           "INNER JOIN tblDept ON tblService.deptAuto = tblDept.deptAuto "
                           "WHERE tblCounter.contName=? ORDER BY tblCounter.cntAuto"),
            {name});
        m_ui->lblService->setText(q.next() ? tr("Service Name  : ") + q.value(0).toString()
                                           : tr("Service Name  : Not Found"));
    } catch (const DbError&) {
        m_ui->lblService->setText(tr("Service Name  : Not Found"));
    }
}

void frmSelService::ok() {
    QSqlQuery q;
    try {
        q = m_connection.db()->run(
            QStringLiteral("SELECT cntAuto, servAuto FROM tblCounter WHERE contName=? ORDER BY cntAuto"),
            {m_ui->cmbCounter->currentText()});
    } catch (const DbError& e) {
        m_prompt.alert(Prompt::Icon::Critical, e.text());
        return;
    }
    if (!q.next()) {
        m_prompt.alert(Prompt::Icon::Exclamation, tr("Please enter a valid Counter"));
        return;
    }
    m_session.activeCounter = q.value(0).toInt();
    m_session.activeService = q.value(1).toInt();
    close();
    // One transfer console at a time, for the counter just chosen.
    if (transferConsole())
        transferConsole()->close();
    auto* console = new frmCall(m_connection, m_settings, m_session, m_clock, m_prompt);
    console->setAttribute(Qt::WA_DeleteOnClose);
    console->setTransferOnly();
    console->show();
    transferConsole() = console;
    m_console = console;
    emit consoleOpened(console);
}

} // namespace tallyvo
