#include "admin/ui/frmDeptLst.h"

#include "ui_frmDept.h"
#include "ui_frmService.h"

#include "core/Connection.h"
#include "core/DbError.h"
#include "core/Prompt.h"

namespace tallyvo {

frmDeptLst::frmDeptLst(Connection& connection, Prompt& prompt, QWidget* parent)
    : AdminList(connection, prompt, parent)
{
    setObjectName(QStringLiteral("frmDeptLst"));
    setWindowTitle(tr("Deparment Lst"));
    setColumns({{2500, tr("Deparment")}, {1000, tr("Active")}, {3000, QString()}});
    setGridSize(GridSize::FollowsWindow);
    addStandardButtons();
    resize(560, 360);
}

std::vector<QStringList> frmDeptLst::records()
{
    return Departments::list(db());
}

RecordWindow* frmDeptLst::makeRecordWindow()
{
    return new frmDept(connection(), prompt(), this);
}

void frmDeptLst::deleteRecord(const QString& key)
{
    runDelete([&] { return Departments::remove(db(), key.toLongLong()) == DeleteOutcome::Deleted; });
}

frmDept::frmDept(Connection& connection, Prompt& prompt, QWidget* parent)
    : RecordWindow(prompt, parent)
    , m_ui(std::make_unique<Ui::frmDept>())
    , m_connection(connection)
{
    m_ui->setupUi(this);
    bind(m_ui->lblRef, m_ui->Command2, m_ui->Command1);
}

frmDept::~frmDept() = default;

DeptRecord frmDept::record() const
{
    return {m_ui->txtDept->text(), m_ui->txtDesc->text(), m_ui->chkActive->isChecked()};
}

QString frmDept::validate()
{
    return Departments::validate(record());
}

void frmDept::saveData()
{
    Departments::insert(*m_connection.db(), record());
}

void frmDept::updateData()
{
    Departments::update(*m_connection.db(), keyNumber(), record());
}

void frmDept::getData()
{
    const auto rec = Departments::get(*m_connection.db(), keyNumber());
    if (!rec)
        return;
    m_ui->txtDept->setText(rec->name);
    m_ui->txtDesc->setText(rec->desc);
    m_ui->chkActive->setChecked(rec->active);
}

frmServLst::frmServLst(Connection& connection, Prompt& prompt, QWidget* parent)
    : AdminList(connection, prompt, parent)
{
    setObjectName(QStringLiteral("frmServLst"));
    setWindowTitle(tr("Service List"));
    setColumns({{2000, tr("Department")},
                {2000, tr("Service Name")},
                {1000, tr("Start")},
                {1000, tr("End")},
                {1000, tr("Prefix")},
                {1000, tr("Active")},
                {3000, QString()}});
    setGridSize(GridSize::AsDesigned, 11000, 4800);
    addStandardButtons();
}

std::vector<QStringList> frmServLst::records()
{
    return Services::list(db());
}

RecordWindow* frmServLst::makeRecordWindow()
{
    return new frmService(connection(), prompt(), this);
}

void frmServLst::deleteRecord(const QString& key)
{
    if (!prompt().question(tr("Do you want to delete ")))
        return;
    runDelete([&] { return Services::remove(db(), key.toLongLong()) == DeleteOutcome::Deleted; });
}

frmService::frmService(Connection& connection, Prompt& prompt, QWidget* parent)
    : RecordWindow(prompt, parent)
    , m_ui(std::make_unique<Ui::frmService>())
    , m_connection(connection)
{
    m_ui->setupUi(this);
    bind(m_ui->lblRef, m_ui->Command2, m_ui->Command1);
    addDept();
}

frmService::~frmService() = default;

void frmService::addDept()
{
    m_ui->cmbDept->clear();
    try {
        m_ui->cmbDept->addItems(Departments::activeNames(*m_connection.db()));
    } catch (const DbError& e) {
        prompt().message(e.text());
    }
    m_ui->cmbDept->setCurrentIndex(-1);
}

ServiceRecord frmService::record() const
{
    ServiceRecord rec;
    rec.deptName = m_ui->cmbDept->currentText();
    rec.name = m_ui->txtServ->text();
    rec.desc = m_ui->txtDesc->toPlainText();
    rec.active = m_ui->chkActive->isChecked();
    rec.startno = m_ui->txtNo->text();
    rec.endno = m_ui->txtEnd->text();
    rec.abrno = m_ui->txtAbr->text();
    rec.slaMinutes = m_ui->txtSla->text();
    return rec;
}

QString frmService::validate()
{
    return Services::validate(*m_connection.db(), record());
}

void frmService::saveData()
{
    Services::insert(*m_connection.db(), record());
}

void frmService::updateData()
{
    Services::update(*m_connection.db(), keyNumber(), record());
}

void frmService::getData()
{
    const auto rec = Services::get(*m_connection.db(), keyNumber());
    if (!rec)
        return;
    // Set as text: the department may be inactive and so not among the choices.
    m_ui->cmbDept->setEditText(rec->deptName);
    m_ui->txtServ->setText(rec->name);
    m_ui->txtDesc->setPlainText(rec->desc);
    m_ui->chkActive->setChecked(rec->active);
    m_ui->txtNo->setText(rec->startno);
    m_ui->txtEnd->setText(rec->endno);
    m_ui->txtAbr->setText(rec->abrno);
    m_ui->txtSla->setText(rec->slaMinutes);
}

} // namespace tallyvo
