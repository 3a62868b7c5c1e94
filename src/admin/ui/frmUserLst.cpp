#include "admin/ui/frmUserLst.h"

#include "ui_frmCompany.h"
#include "ui_frmUserLst.h"

#include "admin/SiteRecords.h"
#include "core/Connection.h"
#include "core/DbError.h"
#include "core/Prompt.h"

#include <QMdiSubWindow>

namespace tallyvo {

namespace {

// The window, or its frame when it is a child of the main window's area.
void closeFrame(QWidget* w)
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget()))
        sub->close();
    else
        w->close();
}

} // namespace

frmUserLst::frmUserLst(Connection& connection, Prompt& prompt, QWidget* parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::frmUserLst>())
    , m_connection(connection)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    // Its title is drawn by its frame in the main window's area; a screen reader asks the window.
    setAccessibleName(windowTitle());
    m_ui->Text2->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    m_ui->Combo1->addItems({tr("Admin"), tr("User")});
    m_ui->Combo1->setCurrentIndex(0);
    connect(m_ui->lstUser, &QListWidget::itemClicked, this, &frmUserLst::lstUser_Click);
    connect(m_ui->Command1, &QPushButton::clicked, this, &frmUserLst::Command1_Click);
    connect(m_ui->Command3, &QPushButton::clicked, this, &frmUserLst::Command3_Click);
    connect(m_ui->Command2, &QPushButton::clicked, this, &frmUserLst::Command2_Click);
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    getusers();
}

frmUserLst::~frmUserLst() = default;

void frmUserLst::getusers()
{
    m_ui->lstUser->clear();
    try {
        for (const auto& [key, name] : Users::list(*m_connection.db()))
            m_ui->lstUser->addItem(name);
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
}

void frmUserLst::lstUser_Click()
{
    const QListWidgetItem* item = m_ui->lstUser->currentItem();
    if (!item)
        return;
    try {
        m_selected = Users::keyOf(*m_connection.db(), item->text());
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
}

void frmUserLst::Command1_Click()
{
    try {
        const QString refusal = Users::add(*m_connection.db(), m_ui->Text1->text(), m_ui->Text2->text(),
                                           m_ui->Combo1->currentText());
        if (!refusal.isEmpty()) {
            m_prompt.message(refusal);
            return;
        }
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return;
    }
    getusers();
    m_ui->Text1->clear();
    m_ui->Text2->clear();
}

void frmUserLst::Command3_Click()
{
    // With one user left, or nobody clicked, there is nothing to remove and nothing to say.
    if (m_ui->lstUser->count() <= 1 || m_selected == 0)
        return;
    if (!m_prompt.question(tr("Do you want to Remove the Selected User")))
        return;
    try {
        Users::remove(*m_connection.db(), m_selected);
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
    m_selected = 0;
    getusers();
}

void frmUserLst::Command2_Click()
{
    closeFrame(this);
}

frmCompany::frmCompany(Connection& connection, Prompt& prompt, QWidget* parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::frmCompany>())
    , m_connection(connection)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    setAccessibleName(windowTitle());
    connect(m_ui->Command1, &QPushButton::clicked, this, &frmCompany::Command1_Click);
    try {
        if (const auto company = Company::get(*m_connection.db())) {
            m_ui->txtName->setText(company->first);
            m_ui->txtAdd->setText(company->second);
        }
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
}

frmCompany::~frmCompany() = default;

void frmCompany::Command1_Click()
{
    const QString refusal = Company::validate(m_ui->txtName->text());
    if (!refusal.isEmpty()) {
        m_prompt.message(refusal);
        return;
    }
    try {
        Company::save(*m_connection.db(), m_ui->txtName->text(), m_ui->txtAdd->text());
    } catch (const DbError& e) {
        // Nothing was stored: the window stays with what was typed.
        m_prompt.message(e.text());
        return;
    }
    closeFrame(this);
}

} // namespace tallyvo
