#include "design/ui/frmHeader.h"

#include "core/Connection.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "design/HeaderStore.h"
#include "design/ThemeStore.h"
#include "ui_frmHeader.h"

#include <QLabel>
#include <QLineEdit>

namespace tallyvo {

frmHeader::frmHeader(Connection& connection, Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmHeader>())
    , m_connection(connection)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(m_ui->cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(m_ui->cmdClose, &QPushButton::clicked, this, &QWidget::close);
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
}

frmHeader::~frmHeader() = default;

QString frmHeader::ref() const
{
    return m_ui->lblRef->text();
}

void frmHeader::setRef(const QString& key)
{
    m_ui->lblRef->setText(key);
}

void frmHeader::getData()
{
    for (QLineEdit* box : m_boxes) {
        m_ui->layCaptions->removeRow(box);
    }
    m_boxes.clear();

    const Database& db = *m_connection.db();
    const qint64 key = ref().trimmed().toInt();
    QStringList captions;
    int count = 2;
    try {
        const std::optional<QVariantList> theme = ThemeStore::load(db, key);
        count = HeaderStore::columnsFor(theme ? theme->at(ThemeStore::indexOf(QStringLiteral("colums"))) : QVariant(),
                                        HeaderStore::capacity(db));
        if (const std::optional<QStringList> stored = HeaderStore::load(db, key))
            captions = *stored;
        else if (theme)
            captions = {theme->at(ThemeStore::indexOf(QStringLiteral("Column1"))).toString(),
                        theme->at(ThemeStore::indexOf(QStringLiteral("Column2"))).toString()};
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
    for (int i = 1; i <= count; ++i) {
        auto* box = new QLineEdit(m_ui->pnlCaptions);
        box->setObjectName(QStringLiteral("txtCaption%1").arg(i));
        box->setText(captions.value(i - 1));
        auto* caption = new QLabel(tr("Column %1").arg(i), m_ui->pnlCaptions);
        caption->setBuddy(box);
        m_ui->layCaptions->addRow(caption, box);
        m_boxes << box;
    }
}

bool frmHeader::cmdSave_Click()
{
    QStringList captions;
    for (const QLineEdit* box : m_boxes)
        captions << box->text();
    try {
        HeaderStore::save(*m_connection.db(), ref().trimmed().toInt(), captions);
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return false;
    }
    close();
    return true;
}

} // namespace tallyvo
