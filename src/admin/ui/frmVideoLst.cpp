#include "admin/ui/frmVideoLst.h"

#include "ui_frmVideo.h"

#include "core/Connection.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "widgets/Grid.h"

#include <QFileInfo>
#include <QPushButton>

namespace tallyvo {

frmVideoLst::frmVideoLst(Connection& connection, Prompt& prompt, QWidget* parent)
    : AdminList(connection, prompt, parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmVideoLst"));
    setWindowTitle(tr("Video List"));
    setColumns({{2000, tr("Video Description")}, {2000, tr("Active")}, {4000, QString()}, {-1, QString()}}, 500);
    setRefill(Refill::OnlyWhenAsked);
    setGridSize(GridSize::AsDesigned, 9000, 4500);
    connect(addButton(QStringLiteral("Command4"), tr("&Add New")), &QPushButton::clicked, this,
            &ListWindow::addRecord);
    connect(addButton(QStringLiteral("Command1"), tr("&Edit")), &QPushButton::clicked, this,
            &ListWindow::editSelected);
    connect(addButton(QStringLiteral("Command2"), tr("&Delete")), &QPushButton::clicked, this,
            &frmVideoLst::Command2_Click);
    connect(addButton(QStringLiteral("Command3"), tr("&Close")), &QPushButton::clicked, this,
            &ListWindow::closeWindow);
}

std::vector<QStringList> frmVideoLst::records()
{
    return Videos::list(db());
}

void frmVideoLst::rowFilled(int row, const QStringList& record)
{
    const QString path = record.value(4);
    if (QFileInfo::exists(path))
        return;
    grid()->setTextMatrix(row, 2, record.value(1) + tr(" [file not found: %1]").arg(path));
    grid()->setCellForeColor(row, 2, QColor(0xb0, 0x00, 0x00));
}

RecordWindow* frmVideoLst::makeRecordWindow()
{
    return new frmVideo(connection(), prompt(), this);
}

void frmVideoLst::Command2_Click()
{
    if (!prompt().question(tr("Do you want to delete the selected")))
        return;
    const QString key = selectedKey();
    if (!key.isEmpty())
        deleteRecord(key);
}

void frmVideoLst::deleteRecord(const QString& key)
{
    try {
        Videos::remove(db(), key.toLongLong());
    } catch (const DbError& e) {
        prompt().message(e.text());
    }
    addFG();
}

frmVideo::frmVideo(Connection& connection, Prompt& prompt, QWidget* parent)
    : RecordWindow(prompt, parent)
    , m_ui(std::make_unique<Ui::frmVideo>())
    , m_connection(connection)
{
    m_ui->setupUi(this);
    bind(m_ui->lblRef, m_ui->Command2, nullptr);
    connect(m_ui->Command1, &QPushButton::clicked, this, &frmVideo::Command1_Click);
}

frmVideo::~frmVideo() = default;

void frmVideo::Command1_Click()
{
    const QString file = prompt().openFileName(tr("Select Video"), Videos::fileFilter());
    if (!file.isEmpty())
        m_ui->txtName->setText(file);
}

VideoRecord frmVideo::record() const
{
    return {m_ui->txtName->text(), m_ui->txtDesc->toPlainText(), m_ui->chkActive->isChecked()};
}

QString frmVideo::validate()
{
    return Videos::validate(record());
}

void frmVideo::saveData()
{
    Videos::insert(*m_connection.db(), record());
}

void frmVideo::updateData()
{
    Videos::update(*m_connection.db(), keyNumber(), record());
}

void frmVideo::getData()
{
    const auto rec = Videos::get(*m_connection.db(), keyNumber());
    if (!rec)
        return;
    m_ui->txtName->setText(rec->path);
    m_ui->txtDesc->setPlainText(rec->desc);
    m_ui->chkActive->setChecked(rec->active);
}

} // namespace tallyvo
