#include "calling/ui/frmCallAdmin.h"

#include "ui_frmCall.h"

#include "calling/CallEngine.h"
#include "core/Session.h"

#include <QCloseEvent>
#include <QCompleter>

namespace tallyvo {

frmCallAdmin::frmCallAdmin(Connection& connection, SettingsStore& settings, Session& session,
                           const Clock& clock, Prompt& prompt, QWidget* parent)
    : CallConsole(Kind::Admin, connection, settings, session, clock, prompt, parent) {
    setObjectName(QStringLiteral("frmCallAdmin"));
    m_ui->cmdCancel->setText(tr("Call This F6"));
    m_ui->cmdExit->setText(tr("Close"));
    m_ui->chkShow->setText(tr("Show Counter && Display"));
    m_ui->STab->setTabEnabled(3, false);
    m_ui->lblDr->setText(m_session.counterDisplayName);
    // With no counter active yet (an administrator's login) the caption would be empty.
    if (windowTitle().isEmpty())
        setWindowTitle(tr("Administrator Console"));
    fillCounterChoice();
    // Suggestions only: inline completion would write a whole counter name into the box while the
    // administrator is still typing, and that counter would be chosen at once.
    m_ui->cmbCounter->completer()->setCompletionMode(QCompleter::PopupCompletion);
    connect(m_ui->cmbCounter, &QComboBox::editTextChanged, this, &frmCallAdmin::getDetails);
    connect(m_ui->cmdExit, &QPushButton::clicked, this, &QWidget::hide);
}

frmCallAdmin::~frmCallAdmin() = default;

void frmCallAdmin::getDetails() {
    bool found = false;
    guarded([&] { found = engine().chooseCounter(m_ui->cmbCounter->currentText()); });
    m_ui->cmdRecall->setEnabled(found);
    m_ui->cmdNext->setEnabled(found);
    m_ui->cmdCancel->setEnabled(found);
    if (found)
        m_ui->lblDr->setText(m_session.counterDisplayName);
    showState();
}

void frmCallAdmin::closeEvent(QCloseEvent* event) {
    // "Close" hides the console with its state; the user's close of the window frame may not throw
    // that state away. A close the program asks for (its end, when every window is closed) goes
    // through, or the console would keep the program running.
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    CallConsole::closeEvent(event);
}

} // namespace tallyvo
