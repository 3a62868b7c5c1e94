#include "design/ui/frmThLst.h"

#include "core/Connection.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "design/ThemeStore.h"
#include "design/ui/ThemeDesign.h"
#include "design/ui/frmTheme.h"
#include "ui_frmThLst.h"
#include "widgets/Grid.h"
#include "widgets/WindowFront.h"

#include <QKeyEvent>

namespace tallyvo {

frmThLst::frmThLst(Connection& connection, Prompt& prompt, ThemeDesign& design, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmThLst>())
    , m_connection(connection)
    , m_prompt(prompt)
    , m_design(design)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(m_ui->cmdAdd, &QPushButton::clicked, this, &frmThLst::cmdAdd_Click);
    connect(m_ui->cmdEdit, &QPushButton::clicked, this, &frmThLst::cmdEdit_Click);
    connect(m_ui->cmdDelete, &QPushButton::clicked, this, &frmThLst::cmdDelete_Click);
    connect(m_ui->cmdClose, &QPushButton::clicked, this, &QWidget::close);
    connect(m_ui->FG, &Grid::doubleClicked, this, &frmThLst::cmdEdit_Click);

    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    setFG();
    addFG();
}

frmThLst::~frmThLst() = default;

Grid* frmThLst::FG() const
{
    return m_ui->FG;
}

void frmThLst::setFG()
{
    Grid* fg = m_ui->FG;
    fg->setCols(6);
    fg->setRows(1);
    const int widths[] = {1, 500, 2000, 2000, 4000};
    for (int c = 0; c < 5; ++c)
        fg->setColWidth(c, widths[c]);
    const QStringList headers{QString(), tr("SN"), tr("Type"), tr("Template Name"), QString(), QString()};
    for (int c = 0; c < 6; ++c)
        fg->setTextMatrix(0, c, headers.at(c));
}

void frmThLst::addFG()
{
    Grid* fg = m_ui->FG;
    fg->setRows(1);
    QList<ThemeStore::ListRow> themes;
    try {
        themes = ThemeStore::list(*m_connection.db());
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return;
    }
    int n = 0;
    for (const ThemeStore::ListRow& t : themes) {
        ++n;
        fg->setRows(n + 1);
        fg->setTextMatrix(n, 0, QString::number(t.key));
        fg->setTextMatrix(n, 1, QString::number(n));
        fg->setTextMatrix(n, 2, t.type);
        fg->setTextMatrix(n, 3, t.name);
    }
}

void frmThLst::cmdAdd_Click()
{
    frmTheme* editor = m_design.themeEditor();
    editor->setRef(QString());
    bringForward(editor);
}

void frmThLst::cmdEdit_Click()
{
    const QString key = m_ui->FG->selectedKey();
    if (key.isEmpty())
        return;
    frmTheme* editor = m_design.themeEditor();
    editor->setRef(key);
    editor->getData();
    bringForward(editor);
}

void frmThLst::cmdDelete_Click()
{
    const QString key = m_ui->FG->selectedKey();
    if (key.isEmpty())
        return;
    if (!m_prompt.question(tr("Do you want to delete the selected ")))
        return;
    try {
        ThemeStore::remove(*m_connection.db(), key.toInt());
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return;
    }
    addFG();
    emit deleted();
}

void frmThLst::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tallyvo
