#include "calling/ui/frmCallAdmin.h"

#include "ui_frmCall.h"

#include "calling/CallEngine.h"
#include "core/Session.h"

#include <QCloseEvent>

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
    fillCounterChoice();
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
    // "Close" hides the console with its state; the title bar may not throw that state away.
    event->ignore();
}

} // namespace tallyvo
