#include "calling/ui/CallConsole.h"

#include "ui_frmCall.h"

#include "calling/CallEngine.h"
#include "calling/ui/frmChPass.h"
#include "core/Connection.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "widgets/Grid.h"

#include <QTimer>

namespace tallyvo {

namespace {

enum Tab {
    TabCall = 0,
    TabAttended = 1,
    TabCancelled = 2,
    TabTransfer = 3,
    TabTransfered = 4,
    TabPending = 5,
    TabSettings = 6
};

constexpr int gridCols = 6;
constexpr int buttonTimerMs = 5000;
constexpr int refreshTimerMs = 1000;
// The refresh runs on the tick that finds the counter at this value: every 61 ticks.
constexpr int ticksPerRefresh = 60;

void setupGrid(Grid* grid, const QList<int>& widths, const QStringList& headers) {
    grid->setCols(gridCols);
    grid->setRows(1);
    for (int c = 0; c < widths.size(); ++c)
        grid->setColWidth(c, widths.at(c));
    for (int c = 0; c < headers.size(); ++c)
        grid->setTextMatrix(0, c + 1, headers.at(c));
}

// One row per record, numbered from 1; column 0 keeps the ticket key.
void addRow(Grid* grid, qint64 key, const QStringList& cells) {
    const int r = grid->rows();
    grid->setRows(r + 1);
    grid->setTextMatrix(r, 0, QString::number(key));
    grid->setTextMatrix(r, 1, QString::number(r));
    for (int c = 0; c < cells.size(); ++c)
        grid->setTextMatrix(r, c + 2, cells.at(c));
}

QString flag(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

CallConsole::CallConsole(Kind kind, Connection& connection, SettingsStore& settings, Session& session,
                         const Clock& clock, Prompt& prompt, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::frmCall>())
    , m_kind(kind)
    , m_connection(connection)
    , m_settings(settings)
    , m_session(session)
    , m_clock(clock)
    , m_prompt(prompt)
    , m_buttonTimer(new QTimer(this))
    , m_refreshTimer(new QTimer(this)) {
    m_ui->setupUi(this);
    m_ui->lblNo->setVisible(false);
    const bool admin = kind == Kind::Admin;
    m_ui->lblCounterCaption->setVisible(admin);
    m_ui->cmbCounter->setVisible(admin);
    m_ui->lblDrCaption->setVisible(admin);
    m_ui->lblDr->setVisible(admin);
    m_ui->picBanner->setStyleSheet(QStringLiteral("QFrame#picBanner { background: qlineargradient(x1:0, "
                                                  "y1:0, x2:1, y2:1, stop:0 #0b3d91, stop:1 #1e88e5); }"
                                                  "QFrame#picBanner QLabel { color: white; }"));
    setupGrids();

    m_buttonTimer->setObjectName(QStringLiteral("Timer1"));
    m_buttonTimer->setInterval(buttonTimerMs);
    m_refreshTimer->setObjectName(QStringLiteral("Timer2"));
    m_refreshTimer->setInterval(refreshTimerMs);
    connect(m_buttonTimer, &QTimer::timeout, this, &CallConsole::buttonTick);
    connect(m_refreshTimer, &QTimer::timeout, this, &CallConsole::refreshTick);

    connect(m_ui->cmdNext, &QPushButton::clicked, this, &CallConsole::nextAction);
    connect(m_ui->cmdRecall, &QPushButton::clicked, this, &CallConsole::recallAction);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &CallConsole::cancelAction);
    connect(m_ui->cmdRefresh, &QPushButton::clicked, this, &CallConsole::refreshAction);
    connect(m_ui->STab, &QTabWidget::currentChanged, this, &CallConsole::tabChosen);
    connect(m_ui->FG, &Grid::doubleClicked, this, [this] { gridDoubleClicked(m_ui->FG); });
    connect(m_ui->FG1, &Grid::doubleClicked, this, [this] { gridDoubleClicked(m_ui->FG1); });
    connect(m_ui->FGR, &Grid::doubleClicked, this, [this] { gridDoubleClicked(m_ui->FGR); });
    connect(m_ui->FGR, &Grid::clicked, this, &CallConsole::transferedClicked);
    connect(m_ui->cmbService, &QComboBox::currentIndexChanged, this, &CallConsole::transferCounterChosen);
    connect(m_ui->cmdUpdate, &QPushButton::clicked, this, &CallConsole::updateTransfer);
    connect(m_ui->cmdChPass, &QPushButton::clicked, this, &CallConsole::changePassword);

    // Opening.
    m_ui->chkShortcut->setChecked(m_settings.get(Keys::ShortcutEnable).trimmed() == QLatin1String("1"));
    m_ui->chkShow->setChecked(m_settings.get(Keys::ShowBoth).trimmed() == QLatin1String("1"));
    connect(m_ui->chkShortcut, &QCheckBox::toggled, this,
            [this](bool on) { m_settings.set(Keys::ShortcutEnable, flag(on)); });
    connect(m_ui->chkShow, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.set(Keys::ShowBoth, flag(on));
        m_engine->setShowBothDefault(on);
    });
    {
        const QSignalBlocker quiet(m_ui->STab);
        m_ui->STab->setCurrentIndex(TabCall);
    }
    m_connection.connectDb();
    m_db = m_connection.db();
    m_engine = std::make_unique<CallEngine>(*m_db, m_clock, m_session, m_settings, m_prompt);
    m_engine->setShowBothDefault(m_ui->chkShow->isChecked());
    guarded([this] {
        m_engine->open();
        setWindowTitle(m_session.counterName);
        addAttend();
        QSqlQuery q =
            m_db->run(QStringLiteral("SELECT contName FROM tblCounter WHERE active='1' ORDER BY cntAuto"));
        const QSignalBlocker quiet(m_ui->cmbService);
        while (q.next())
            m_ui->cmbService->addItem(q.value(0).toString());
        m_ui->cmbService->setCurrentIndex(-1);
    });
    showState();
    m_refreshTimer->start();
}

CallConsole::~CallConsole() = default;

bool CallConsole::guarded(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const DbError& e) {
        // A connection that never opened fails without a text of its own.
        m_prompt.alert(Prompt::Icon::Critical, e.text().isEmpty() ? tr("The database is not connected.") : e.text());
        return false;
    }
}

void CallConsole::showState() {
    m_ui->Label1->setText(m_engine->callStatus());
    m_ui->lblToken->setText(m_engine->currentLabel());
    m_ui->lblNo->setText(m_engine->currentKey());
    m_ui->lblLast->setText(m_engine->lastServed());
    if (!m_engine->pendingText().isEmpty())
        m_ui->lblTotal->setText(m_engine->pendingText());
}

void CallConsole::setupGrids() {
    setupGrid(m_ui->FG, {1, 600, 1500, 3000}, {tr("SN"), tr("Token"), tr("At"), tr("Finished")});
    setupGrid(m_ui->FG1, {1, 600, 1500, 3000}, {tr("SN"), tr("Token"), tr("At"), tr("Cancelled")});
    setupGrid(m_ui->FGR, {1, 600, 1500, 1500, 1500, 1500},
              {tr("SN"), tr("Token"), tr("At"), tr("Status"), tr("Time")});
    setupGrid(m_ui->FG4, {1, 600, 1500, 3000}, {tr("SN"), tr("Token"), tr("T.Time"), tr("Waiting")});
    // Screen readers find each list by its tab's caption.
    m_ui->FG->setAccessibleName(tr("Attended"));
    m_ui->FG1->setAccessibleName(tr("Cancelled"));
    m_ui->FGR->setAccessibleName(tr("Transfered"));
    m_ui->FG4->setAccessibleName(tr("Pending"));
}

void CallConsole::startButtonTimer() {
    // Once running it keeps ticking, so a disabled button is back within five seconds.
    if (!m_buttonTimer->isActive())
        m_buttonTimer->start();
}

void CallConsole::nextAction() {
    m_ui->cmdNext->setEnabled(false);
    m_ui->cmdRecall->setEnabled(false);
    startButtonTimer();
    guarded([this] { m_engine->nextAction(); });
    showState();
}

void CallConsole::recallAction() {
    if (m_engine->currentKey().isEmpty())
        return;
    guarded([this] { m_engine->updateRc(); });
    m_ui->cmdRecall->setEnabled(false);
    startButtonTimer();
}

void CallConsole::cancelAction() {
    guarded([this] { m_engine->cancelToken(); });
    showState();
}

void CallConsole::refreshLists() {
    m_engine->getPending();
    addPendings();
    addCancelled();
    addTrans();
}

void CallConsole::refreshAction() {
    guarded([this] { refreshLists(); });
    showState();
    emit refreshed();
}

void CallConsole::buttonTick() {
    m_ui->cmdRecall->setEnabled(true);
    m_ui->cmdNext->setEnabled(true);
}

void CallConsole::refreshTick() {
    if (m_ticks < ticksPerRefresh) {
        ++m_ticks;
        return;
    }
    m_ticks = 0;
    try {
        refreshLists();
    } catch (const DbError&) {
        // Nobody asked for this refresh: keep the rows shown and try again in a minute.
    }
    showState();
    emit refreshed();
}

void CallConsole::tabChosen(int index) {
    guarded([this, index] {
        switch (index) {
        case TabAttended:
            addAttend();
            break;
        case TabCancelled:
            addCancelled();
            break;
        case TabTransfer:
            addTokens();
            break;
        case TabTransfered:
            addTrans();
            break;
        case TabPending:
            addPendings();
            break;
        default:
            break;
        }
    });
}

void CallConsole::gridDoubleClicked(Grid* grid) {
    const QString key = grid->selectedKey();
    if (key.isEmpty())
        return;
    // From the Attended list the counter console calls the token for its lab report; the
    // administrator console has no lab-report call.
    const QString kind = grid == m_ui->FG && m_kind == Kind::Counter ? QStringLiteral("LAB") : QString();
    guarded([&] {
        m_engine->callThis(key.toLongLong(), kind);
        // The token moved: show the list as it is now.
        tabChosen(m_ui->STab->currentIndex());
    });
    showState();
}

void CallConsole::transferedClicked() {
    if (m_kind == Kind::Admin)
        return;
    const int row = m_ui->FGR->selectedRow();
    if (row < 1)
        return;
    m_ui->Label3->setText(m_ui->FGR->textMatrix(row, 5));
}

void CallConsole::transferCounterChosen() {
    const QString name = m_ui->cmbService->currentText();
    guarded([&] {
        QSqlQuery q =
            m_db->run(QStringLiteral("SELECT tblService.ServName FROM tblCounter "
                                     "INNER JOIN tblService ON tblCounter.servAuto = tblService.servAuto "
                                     "INNER JOIN tblDept ON tblService.deptAuto = tblDept.deptAuto "
                                     "WHERE tblCounter.contName=? ORDER BY tblCounter.cntAuto"),
                      {name});
        m_ui->lblService->setText(q.next() ? tr("Service Name  : ") + q.value(0).toString()
                                           : tr("Service Name  : Not Found"));
    });
}

void CallConsole::updateTransfer() {
    const QString key =
        m_ui->cmbToken->currentIndex() < 0 ? QString() : m_ui->cmbToken->currentData().toString();
    guarded([&] {
        if (m_engine->transferToken(key, m_ui->cmbService->currentText(), m_ui->txtRef->text()))
            addTokens();
    });
    showState();
}

void CallConsole::changePassword() {
    auto* w = new frmChPass(m_connection, m_session, m_prompt, this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowModality(Qt::WindowModal);
    w->show();
}

void CallConsole::addAttend() {
    const QList<AttendRow> rows = m_engine->addAttend();
    m_ui->FG->setRows(1);
    for (const AttendRow& r : rows)
        addRow(m_ui->FG, r.key, {r.label, r.attTime, r.finished});
}

void CallConsole::addCancelled() {
    const QList<AttendRow> rows = m_engine->addCancelled();
    m_ui->FG1->setRows(1);
    for (const AttendRow& r : rows)
        addRow(m_ui->FG1, r.key, {r.label, r.attTime, r.finished});
    m_ui->STab->setTabText(TabCancelled, tr("Cancelled ") + QString::number(rows.size()));
}

void CallConsole::addTrans() {
    const QList<TransferRow> rows = m_engine->addTrans();
    m_ui->FGR->setRows(1);
    for (const TransferRow& r : rows)
        addRow(m_ui->FGR, r.key, {r.label, r.attTime, r.status, r.ref});
    m_ui->STab->setTabText(TabTransfered, tr("Transfred ") + QString::number(rows.size()));
}

void CallConsole::addPendings() {
    const QList<PendingRow> rows = m_engine->addPendings();
    m_ui->FG4->setRows(1);
    for (const PendingRow& r : rows) {
        addRow(m_ui->FG4, r.key,
               {r.label, r.tickTime + QLatin1Char(' '),
                r.waitingMinutes ? QString::number(*r.waitingMinutes) : QString()});
    }
    m_ui->STab->setTabText(TabPending, tr("Pending : ") + QString::number(rows.size()));
}

void CallConsole::addTokens() {
    const QList<TokenEntry> entries = m_engine->addTokens();
    m_ui->cmbToken->clear();
    for (const TokenEntry& e : entries)
        m_ui->cmbToken->addItem(e.label, QString::number(e.key));
    m_ui->cmbToken->setCurrentIndex(-1);
}

void CallConsole::fillCounterChoice() {
    guarded([this] {
        QSqlQuery q = m_db->run(QStringLiteral("SELECT contName FROM tblCounter ORDER BY cntAuto"));
        const QSignalBlocker quiet(m_ui->cmbCounter);
        m_ui->cmbCounter->clear();
        while (q.next())
            m_ui->cmbCounter->addItem(q.value(0).toString());
        m_ui->cmbCounter->setCurrentIndex(-1);
        m_ui->cmbCounter->setEditText(QString());
    });
}

} // namespace tallyvo
