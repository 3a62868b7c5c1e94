#include "reports/ui/LiveBoardWindow.h"

#include "core/Clock.h"
#include "core/Connection.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "core/SqliteWalWatcher.h"
#include "stats/QueueFigures.h"
#include "widgets/Grid.h"

#include <QLabel>
#include <QSqlDriver>
#include <QTimer>
#include <QVBoxLayout>

namespace tallyvo {

namespace {

// Calls and recalls, and every token issued, cancelled, transferred or called.
const QString callChannel = QStringLiteral("tallyvo_call");
const QString ticketChannel = QStringLiteral("tallyvo_ticket");

QString minutes(const std::optional<int>& m)
{
    return m ? QString::number(*m) : QString();
}

void header(Grid& g, const QStringList& captions, const std::vector<int>& widths)
{
    g.setRows(1);
    g.setCols(int(captions.size()) + 1);
    g.setColWidth(0, 1);
    for (int c = 0; c < captions.size(); ++c) {
        g.setColWidth(c + 1, widths[size_t(c)]);
        g.setTextMatrix(0, c + 1, captions[c]);
    }
}

} // namespace

LiveBoardWindow::LiveBoardWindow(Connection& connection, const Clock& clock, Prompt& prompt, QWidget* parent)
    : QWidget(parent)
    , m_connection(connection)
    , m_clock(clock)
    , m_prompt(prompt)
{
    setObjectName(QStringLiteral("LiveBoardWindow"));
    setWindowTitle(tr("Live Board"));
    resize(1100, 700);
    auto* servicesLabel = new QLabel(tr("Services"), this);
    m_services = new Grid(this);
    m_services->setObjectName(QStringLiteral("FGServices"));
    m_services->setAccessibleName(tr("Services"));
    servicesLabel->setBuddy(m_services);
    auto* countersLabel = new QLabel(tr("Counters"), this);
    m_counters = new Grid(this);
    m_counters->setObjectName(QStringLiteral("FGCounters"));
    m_counters->setAccessibleName(tr("Counters"));
    countersLabel->setBuddy(m_counters);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(servicesLabel);
    layout->addWidget(m_services, 3);
    layout->addWidget(countersLabel);
    layout->addWidget(m_counters, 2);
    layout->addWidget(m_status);

    header(*m_services,
           {tr("Service"), tr("Waiting"), tr("Longest wait"), tr("Estimated wait"), tr("Served today"),
            tr("Average service"), tr("Target")},
           {2400, 1200, 1500, 1600, 1500, 1700, 1100});
    header(*m_counters, {tr("Counter"), tr("Display name"), tr("Service"), tr("State"), tr("Token"), tr("Since")},
           {2000, 2000, 2000, 1300, 1200, 1300});

    m_timer = new QTimer(this);
    m_timer->setInterval(refreshMs);
    connect(m_timer, &QTimer::timeout, this, &LiveBoardWindow::refresh);
    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(settleMs);
    connect(m_settle, &QTimer::timeout, this, &LiveBoardWindow::refresh);
    // Load: the station's shared connection, opened if it is not yet.
    if (!m_connection.db()->isOpen())
        m_connection.connectDb();
    listen();
    refresh();
}

LiveBoardWindow::~LiveBoardWindow()
{
    if (const std::shared_ptr<Database> db = m_connection.db(); db && db->isOpen()) {
        QSqlDriver* driver = db->handle().driver();
        for (const QString& channel : {callChannel, ticketChannel})
            if (driver->subscribedToNotifications().contains(channel))
                driver->unsubscribeFromNotification(channel);
    }
}

void LiveBoardWindow::listen()
{
    const std::shared_ptr<Database> db = m_connection.db();
    if (!db)
        return;
    auto soon = [this] {
        if (!m_settle->isActive())
            m_settle->start();
    };
    if (db->engine() == Engine::Postgres) {
        QSqlDriver* driver = db->handle().driver();
        bool any = false;
        for (const QString& channel : {callChannel, ticketChannel})
            any = (driver->subscribedToNotifications().contains(channel) || driver->subscribeToNotification(channel)) ||
                any;
        if (any)
            connect(driver, &QSqlDriver::notification, this, [soon](const QString& channel) {
                if (channel == callChannel || channel == ticketChannel)
                    soon();
            });
    } else if (!db->url().path.isEmpty() && db->url().path != QLatin1String(":memory:")) {
        m_watcher = std::make_unique<SqliteWalWatcher>(db->url().path);
        connect(m_watcher.get(), &SqliteWalWatcher::touched, this, soon);
    }
}

void LiveBoardWindow::showEvent(QShowEvent* event)
{
    m_timer->start();
    refresh();
    QWidget::showEvent(event);
}

void LiveBoardWindow::hideEvent(QHideEvent* event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}

void LiveBoardWindow::refresh()
{
    ++m_refreshes;
    try {
        const std::shared_ptr<Database> db = m_connection.db();
        if (!db)
            throw DbError(tr("not connected"));
        m_board = LiveBoard(*db, m_clock).snapshot();
        m_lastError.clear();
    } catch (const DbError& e) {
        // Told once in the window, not in a box every few seconds; the last figures stay.
        m_lastError = e.text();
        m_status->setText(tr("Could not read the queue: %1").arg(e.text()));
        return;
    }
    const QColor late(0xF8, 0xC8, 0xC8);
    {
        Grid& g = *m_services;
        const Grid::Batch batch(g);
        g.setRows(int(m_board.services.size()) + 1);
        for (size_t i = 0; i < m_board.services.size(); ++i) {
            const LiveBoard::ServiceLine& s = m_board.services[i];
            const int r = int(i) + 1;
            const QStringList cells{s.name,
                                    QString::number(s.waiting),
                                    minutes(s.longestWait),
                                    minutes(s.estimatedWait),
                                    QString::number(s.servedToday),
                                    s.averageService ? QueueFigures::number(*s.averageService) : QString(),
                                    minutes(s.target)};
            for (int c = 0; c < cells.size(); ++c) {
                g.setTextMatrix(r, c + 1, cells[c]);
                g.setCellBackColor(r, c + 1, s.pastTarget ? late : QColor(Qt::white));
                g.setCellFontBold(r, c + 1, s.pastTarget);
            }
        }
    }
    {
        Grid& g = *m_counters;
        const Grid::Batch batch(g);
        g.setRows(int(m_board.counters.size()) + 1);
        for (size_t i = 0; i < m_board.counters.size(); ++i) {
            const LiveBoard::CounterLine& c = m_board.counters[i];
            const QStringList cells{c.name, c.displayName, c.service, c.serving ? tr("Serving") : tr("Idle"), c.token,
                                    c.since};
            for (int k = 0; k < cells.size(); ++k)
                g.setTextMatrix(int(i) + 1, k + 1, cells[k]);
        }
    }
    int late_ = 0;
    for (const LiveBoard::ServiceLine& s : m_board.services)
        late_ += s.pastTarget ? 1 : 0;
    m_status->setText(late_ > 0 ? tr("As of %1: %n service(s) past their target wait", nullptr, late_).arg(m_board.time)
                                : tr("As of %1").arg(m_board.time));
}

} // namespace tallyvo
