#include "widgets/ListWindow.h"

#include "widgets/WindowFront.h"

#include "ui_ListWindow.h"

#include "core/DbError.h"
#include "core/Prompt.h"
#include "widgets/Grid.h"
#include "widgets/RecordWindow.h"
#include "widgets/Twips.h"

#include <QMdiSubWindow>
#include <QPushButton>
#include <QShowEvent>

namespace tallyvo {

ListWindow::ListWindow(Prompt& prompt, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags)
    , m_ui(std::make_unique<Ui::ListWindow>())
    , m_prompt(prompt)
{
    m_ui->setupUi(this);
    m_ui->FG->setHighlight(Grid::Highlight::Always);
    connect(m_ui->FG, &Grid::doubleClicked, this, &ListWindow::editSelected);
}

ListWindow::~ListWindow()
{
    // An open record window stays with what was typed in it; one already out of sight and owned
    // by no window would be left behind for nobody.
    if (m_record && !m_record->parent() && !m_record->isVisible())
        delete m_record.data();
}

Grid* ListWindow::grid() const
{
    return m_ui->FG;
}

void ListWindow::setColumns(const QList<ListColumn>& columns, int snTwips)
{
    m_columns = columns;
    m_snTwips = snTwips;
    setFG();
}

void ListWindow::setGridSize(GridSize size, int widthTwips, int heightTwips)
{
    Grid* g = m_ui->FG;
    if (size == GridSize::FollowsWindow) {
        g->setMinimumSize(0, 0);
        g->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        g->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        return;
    }
    g->setFixedSize(twipsToPixels(widthTwips, g->logicalDpiX()), twipsToPixels(heightTwips, g->logicalDpiY()));
    m_ui->layMain->setAlignment(g, Qt::AlignLeft | Qt::AlignTop);
}

QPushButton* ListWindow::addButton(const QString& objectName, const QString& caption)
{
    auto* b = new QPushButton(caption, this);
    b->setObjectName(objectName);
    b->setAutoDefault(false);
    m_ui->layButtons->addWidget(b);
    return b;
}

void ListWindow::addStandardButtons()
{
    connect(addButton(QStringLiteral("Command3"), tr("Add")), &QPushButton::clicked, this, &ListWindow::addRecord);
    connect(addButton(QStringLiteral("Command2"), tr("Delete")), &QPushButton::clicked, this,
            &ListWindow::deleteSelected);
    connect(addButton(QStringLiteral("Command1"), tr("Close")), &QPushButton::clicked, this, &ListWindow::closeWindow);
}

void ListWindow::setFG()
{
    Grid* g = m_ui->FG;
    g->setRows(1);
    g->setCols(2 + static_cast<int>(m_columns.size()));
    g->setColWidth(0, 1);
    g->setTextMatrix(0, 0, QString());
    g->setColWidth(1, m_snTwips);
    g->setTextMatrix(0, 1, tr("SN"));
    for (int i = 0; i < m_columns.size(); ++i) {
        const int col = 2 + i;
        g->setColWidth(col, m_columns[i].twips);
        const bool widening = i == m_columns.size() - 1;
        g->setTextMatrix(0, col, widening ? QString() : m_columns[i].header);
    }
}

void ListWindow::addFG()
{
    setFG();
    ++m_fillCount;
    std::vector<QStringList> rows;
    try {
        rows = records();
    } catch (const DbError& e) {
        m_ui->lblStatus->setText(e.text());
        return;
    }
    m_ui->lblStatus->clear();
    Grid* g = m_ui->FG;
    const int shown = static_cast<int>(m_columns.size()) - 1; // the widening column stays empty
    g->setRows(1 + static_cast<int>(rows.size()));
    for (int n = 1; n <= static_cast<int>(rows.size()); ++n) {
        const QStringList& r = rows[static_cast<size_t>(n - 1)];
        g->setTextMatrix(n, 0, r.value(0));
        g->setTextMatrix(n, 1, QString::number(n));
        for (int c = 0; c < shown; ++c)
            g->setTextMatrix(n, 2 + c, r.value(1 + c));
        rowFilled(n, r);
    }
}

QString ListWindow::fillError() const
{
    return m_ui->lblStatus->text();
}

QString ListWindow::selectedKey() const
{
    return m_ui->FG->selectedKey();
}

RecordWindow* ListWindow::openRecordWindow()
{
    if (!m_record) {
        m_record = makeRecordWindow();
        // What is typed in the record window is the user's until saved or closed: the window
        // belongs to the main window (or to no window), so closing the list leaves it open.
        QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
        m_record->setParent(owner, m_record->windowFlags());
        m_record->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_record, &RecordWindow::saved, this, &ListWindow::addFG);
    }
    return m_record;
}

void ListWindow::addRecord()
{
    bringForward(openRecordWindow());
}

void ListWindow::editSelected()
{
    const QString key = selectedKey();
    if (key.isEmpty())
        return;
    RecordWindow* w = openRecordWindow();
    w->edit(key);
    bringForward(w);
}

void ListWindow::deleteSelected()
{
    const QString key = selectedKey();
    if (key.isEmpty()) {
        m_prompt.message(tr("Please select an entry"));
        return;
    }
    deleteRecord(key);
}

void ListWindow::closeWindow()
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget()))
        sub->close();
    else
        close();
}

void ListWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    watchSubWindow();
    if (!m_loaded) {
        m_loaded = true;
        load();
        addFG();
    }
}

bool ListWindow::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
        // A window of its own; inside the main window's area the sub-window's state says it.
        if (isWindow())
            activated();
        break;
    case QEvent::ParentChange:
        watchSubWindow();
        break;
    case QEvent::WindowTitleChange:
        // Inside the main window's area the title is drawn by the frame; a screen reader asks
        // the list itself.
        setAccessibleName(windowTitle());
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void ListWindow::watchSubWindow()
{
    auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget());
    if (!sub || m_watched == sub)
        return;
    m_watched = sub;
    connect(sub, &QMdiSubWindow::windowStateChanged, this, [this](Qt::WindowStates before, Qt::WindowStates now) {
        if (!(before & Qt::WindowActive) && (now & Qt::WindowActive))
            activated();
    });
}

void ListWindow::activated()
{
    if (m_loaded && m_refill == Refill::OnActivation)
        addFG();
}

} // namespace tallyvo
