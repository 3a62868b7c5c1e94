#include "design/ui/frmScroll.h"

#include "ui_frmScroll.h"

#include "core/Connection.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "design/NewsStore.h"
#include "design/ui/frmEditor.h"
#include "widgets/Grid.h"

namespace tallyvo {

frmScroll::frmScroll(Connection& connection, SettingsStore& settings, Prompt& prompt, QWidget* parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::frmScroll>())
    , m_connection(connection)
    , m_settings(settings)
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    m_fg = m_ui->FG;
    m_fg->setAccessibleName(tr("Messages"));

    connect(m_ui->chkAll, &QCheckBox::clicked, this, &frmScroll::addFG);
    connect(m_ui->cmdFind, &QPushButton::clicked, this, &frmScroll::find);
    connect(m_ui->txtFind, &QLineEdit::returnPressed, this, &frmScroll::find);
    connect(m_ui->cmdAdd, &QPushButton::clicked, this, [this] { addNew(); });
    connect(m_ui->cmdEdit, &QPushButton::clicked, this, [this] { edit(); });
    connect(m_fg, &Grid::doubleClicked, this, [this] { edit(); });
    connect(m_ui->cmdDelete, &QPushButton::clicked, this, &frmScroll::remove);
    connect(m_ui->cmdClose, &QPushButton::clicked, this, &QWidget::close);

    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    addFG();
}

frmScroll::~frmScroll() = default;

void frmScroll::setFG()
{
    m_fg->setRows(1);
    m_fg->setCols(6);
    const int widths[] = {1, 500, 4500, 700, 2700};
    for (int c = 0; c < 5; ++c)
        m_fg->setColWidth(c, widths[c]);
    m_fg->setColWidth(5, -1);
    const QStringList headers{QString(), tr("SN"), tr("Message"), tr("Active"), tr("Direction"), QString()};
    for (int c = 0; c < headers.size(); ++c)
        m_fg->setTextMatrix(0, c, headers.at(c));
}

void frmScroll::addFG()
{
    setFG();
    fill(m_ui->chkAll->isChecked(), QString());
}

void frmScroll::find()
{
    const QString search = m_ui->txtFind->text();
    if (search.isEmpty())
        return;
    setFG();
    fill(m_ui->chkAll->isChecked(), search);
}

void frmScroll::fill(bool activeOnly, const QString& search)
{
    QList<NewsListRow> rows;
    try {
        rows = NewsStore(*m_connection.db()).list(activeOnly, search);
    } catch (const DbError& e) {
        m_prompt.message(e.text());
        return;
    }
    m_fg->setRows(int(rows.size()) + 1);
    for (int n = 1; n <= rows.size(); ++n) {
        const NewsListRow& r = rows.at(n - 1);
        m_fg->setTextMatrix(n, 0, QString::number(r.key));
        m_fg->setTextMatrix(n, 1, QString::number(n));
        m_fg->setTextMatrix(n, 2, r.message);
        m_fg->setTextMatrix(n, 3, r.active ? tr("Yes") : tr("No"));
        m_fg->setTextMatrix(n, 4, r.direction);
    }
}

frmEditor* frmScroll::openEditor()
{
    if (!m_editor) {
        // Owned by the main window, not by this list: the list may close while the editor stays.
        QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
        m_editor = new frmEditor(m_connection, m_settings, m_prompt, owner);
        m_editor->setWindowFlag(Qt::Window);
        m_editor->setAttribute(Qt::WA_DeleteOnClose);
        // A closed editor is on its way out: the next command makes a new one.
        connect(m_editor, &frmEditor::closed, this, [this] {
            m_editor = nullptr;
            addFG();
        });
        emit editorOpened(m_editor);
    }
    return m_editor;
}

frmEditor* frmScroll::addNew()
{
    frmEditor* e = openEditor();
    if (!e->newMessage())
        return e;
    e->show();
    e->raise();
    e->activateWindow();
    return e;
}

frmEditor* frmScroll::edit()
{
    const QString key = m_fg->selectedKey();
    if (key.isEmpty())
        return nullptr;
    bool ok = false;
    const qint64 k = key.toLongLong(&ok);
    if (!ok)
        return nullptr;
    frmEditor* e = openEditor();
    if (!e->editMessage(k)) {
        // A message gone meanwhile: the list shows what is there now.
        if (!e->isVisible())
            e->deleteLater();
        addFG();
        return nullptr;
    }
    e->show();
    e->raise();
    e->activateWindow();
    return e;
}

void frmScroll::remove()
{
    const QString key = m_fg->selectedKey();
    if (key.isEmpty())
        return;
    if (!m_prompt.question(tr("Do you want to delete the selected")))
        return;
    try {
        NewsStore(*m_connection.db()).remove(key.toLongLong());
    } catch (const DbError& e) {
        m_prompt.message(e.text());
    }
    addFG();
}

} // namespace tallyvo
