#include "widgets/frmclklst.h"

#include "core/Paths.h"
#include "widgets/ClockFace.h"
#include "ui_frmclklst.h"

#include <QDir>

namespace tallyvo {

frmclklst::frmclklst(QWidget* parent, const QString& folder)
    : QWidget(parent, parent ? Qt::Window : Qt::WindowFlags())
    , m_ui(std::make_unique<Ui::frmclklst>())
    , m_folder(folder.isEmpty() ? Paths::dataFile(QStringLiteral("files/clock")) : folder)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(m_ui->fle, &QListWidget::currentRowChanged, this, &frmclklst::fle_Click);
    connect(m_ui->fle, &QListWidget::itemDoubleClicked, this, &frmclklst::Command1_Click);
    connect(m_ui->Command1, &QPushButton::clicked, this, &frmclklst::Command1_Click);
    fill();
}

frmclklst::~frmclklst() = default;

void frmclklst::fill()
{
    const QStringList names =
        QDir(m_folder).entryList({QStringLiteral("*.svg")}, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    m_ui->fle->clear();
    m_ui->fle->addItems(names);
}

QStringList frmclklst::files() const
{
    QStringList out;
    for (int i = 0; i < m_ui->fle->count(); ++i)
        out << m_ui->fle->item(i)->text();
    return out;
}

ClockView* frmclklst::preview() const
{
    return m_ui->SF;
}

void frmclklst::fle_Click(int row)
{
    if (row < 0 || row >= m_ui->fle->count())
        return;
    m_ui->SF->setFile(QDir(m_folder).filePath(m_ui->fle->item(row)->text()));
}

void frmclklst::Command1_Click()
{
    const QListWidgetItem* item = m_ui->fle->currentItem();
    emit clockSelected(item ? item->text() : QString());
    close();
}

} // namespace tallyvo
