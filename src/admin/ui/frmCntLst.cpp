#include "admin/ui/frmCntLst.h"

#include "ui_frmCounter.h"

#include "core/Connection.h"
#include "core/DbError.h"
#include "core/Prompt.h"

namespace tallyvo {

frmCntLst::frmCntLst(Connection& connection, Prompt& prompt, QWidget* parent)
    : AdminList(connection, prompt, parent)
{
    setObjectName(QStringLiteral("frmCntLst"));
    setWindowTitle(tr("Counter List"));
    setColumns({{2000, tr("Department")},
                {2000, tr("Service Name")},
                {2000, tr("Counter Name")},
                {1000, tr("Active")},
                {2000, QString()}});
    setRefill(Refill::OnlyWhenAsked);
    setGridSize(GridSize::AsDesigned, 10100, 4800);
    addStandardButtons();
}

std::vector<QStringList> frmCntLst::records()
{
    return Counters::list(db());
}

RecordWindow* frmCntLst::makeRecordWindow()
{
    return new frmCounter(connection(), prompt(), this);
}

void frmCntLst::deleteRecord(const QString& key)
{
    if (!prompt().question(tr("Do you want to delete ")))
        return;
    // The row stays in the grid until the list is next filled.
    runDelete([&] { return Counters::remove(db(), key.toLongLong()) == DeleteOutcome::Deleted; });
}

frmCounter::frmCounter(Connection& connection, Prompt& prompt, QWidget* parent)
    : RecordWindow(prompt, parent)
    , m_ui(std::make_unique<Ui::frmCounter>())
    , m_connection(connection)
{
    m_ui->setupUi(this);
    bind(m_ui->lblRef, m_ui->Command2, m_ui->Command1);
    const QString stars = QStringLiteral("QLineEdit { lineedit-password-character: 42; }");
    m_ui->txtPass->setStyleSheet(stars);
    m_ui->txtPass1->setStyleSheet(stars);
    m_ui->lblPassNote->setVisible(false);
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    addServ();
}

frmCounter::~frmCounter() = default;

void frmCounter::addServ()
{
    m_ui->cmbServ->clear();
    try {
        m_ui->cmbServ->addItems(Services::activeNames(*m_connection.db()));
    } catch (const DbError& e) {
        prompt().message(e.text());
    }
    m_ui->cmbServ->setCurrentIndex(-1);
}

CounterRecord frmCounter::record() const
{
    CounterRecord rec;
    rec.serviceName = m_ui->cmbServ->currentText();
    rec.name = m_ui->txtname->text();
    rec.displayName = m_ui->txtDesc->text();
    rec.userName = m_ui->txtUser->text();
    rec.password = m_ui->txtPass->text();
    rec.password2 = m_ui->txtPass1->text();
    rec.active = m_ui->chkActive->isChecked();
    return rec;
}

QString frmCounter::validate()
{
    return Counters::validate(*m_connection.db(), record());
}

void frmCounter::saveData()
{
    Counters::insert(*m_connection.db(), record());
}

void frmCounter::updateData()
{
    Counters::update(*m_connection.db(), keyNumber(), record());
}

void frmCounter::getData()
{
    const auto rec = Counters::get(*m_connection.db(), keyNumber());
    if (!rec)
        return;
    // As text: the service may be inactive and so not among the choices; the lookup by name
    // still finds it when saving.
    m_ui->cmbServ->setEditText(rec->serviceName);
    m_ui->txtname->setText(rec->name);
    m_ui->txtDesc->setText(rec->displayName);
    m_ui->txtUser->setText(rec->userName);
    m_ui->txtPass->clear();
    m_ui->txtPass1->clear();
    m_ui->lblPassNote->setText(tr("Leave both password boxes empty to keep the stored password."));
    m_ui->lblPassNote->setVisible(true);
    m_ui->chkActive->setChecked(rec->active);
}

} // namespace tallyvo
