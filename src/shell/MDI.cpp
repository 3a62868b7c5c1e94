#include "shell/MDI.h"

#include "core/Connection.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "core/modSub.h"
#include "core/ui/frmSql.h"
#include "display/Announcer.h"
#include "display/SpeechEngine.h"
#include "design/ui/ThemeDesign.h"
#include "design/ui/frmThLst.h"
#include "display/ui/frmDisplay.h"
#include "reports/ui/GridExport.h"
#include "shell/frmSettings.h"
#include "tokens/ui/frmTicket.h"
#include "widgets/WindowFront.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QToolBar>

namespace tallyvo {

MDI::MDI(ShellServices services, QWidget* parent)
    : QMainWindow(parent)
    , m_services(std::move(services))
    , m_area(new QMdiArea(this))
    , m_design(new ThemeDesign(m_services.connection, m_services.settings, m_services.prompt, this))
{
    setObjectName(QStringLiteral("MDI"));
    setWindowTitle(tr("Tallyvo"));
    setCentralWidget(m_area);
    m_area->setBackground(QColor(0x3a, 0x4a, 0x5c));
    resize(1024, 700);
    buildMenus();
    buildToolbar();
    // A theme added, renamed or deleted is offered by an open settings window at once.
    connect(m_design, &ThemeDesign::themesChanged, this, [this] {
        if (m_settingsWindow)
            m_settingsWindow->refreshThemes();
    });
}

MDI::~MDI()
{
    // The display borrows the announcer: it goes first. The independent windows end with the
    // main window, which lives as long as the program.
    delete m_display;
    delete m_ticket;
    delete m_call;
    delete m_selService;
    delete m_callAdmin;
    delete m_adminPass;
    for (auto& report : m_reports)
        delete report;
    for (auto& figures : m_figures)
        delete figures;
    delete m_liveBoard;
    delete m_clearData;
    delete m_callDelete;
    delete m_backup;
    delete m_videoLst;
}

QAction* MDI::addEntry(QMenu* menu, const QString& name, const QString& text, bool available)
{
    QAction* a = menu->addAction(text);
    a->setObjectName(name);
    // Entries whose windows this station does not have yet stay visible but cannot be chosen.
    a->setEnabled(available);
    return a;
}

void MDI::buildMenus()
{
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu(tr("File"));
    file->setObjectName(QStringLiteral("File"));
    connect(addEntry(file, QStringLiteral("deptLst"), tr("Department List")), &QAction::triggered, this,
            [this] { deptLst_Click(); });
    connect(addEntry(file, QStringLiteral("Servlst"), tr("Service List")), &QAction::triggered, this,
            [this] { Servlst_Click(); });
    connect(addEntry(file, QStringLiteral("Counter"), tr("Manage Counter")), &QAction::triggered, this,
            [this] { Counter_Click(); });
    connect(addEntry(file, QStringLiteral("thmLst"), tr("Theme List")), &QAction::triggered, this,
            [this] { thmLst_Click(); });
    connect(addEntry(file, QStringLiteral("scrollnews"), tr("Scroll News")), &QAction::triggered, this,
            [this] { scrollnews_Click(); });
    connect(addEntry(file, QStringLiteral("Videolst"), tr("Video List")), &QAction::triggered, this,
            [this] { Videolst_Click(); });
    connect(addEntry(file, QStringLiteral("compdet"), tr("Company Details")), &QAction::triggered, this,
            [this] { compdet_Click(); });
    connect(addEntry(file, QStringLiteral("sendto"), tr("Send to Excel")), &QAction::triggered, this,
            &MDI::sendto_Click);
    connect(addEntry(file, QStringLiteral("exit"), tr("Exit")), &QAction::triggered, this, &MDI::exit_Click);

    QMenu* modules = bar->addMenu(tr("Modules"));
    modules->setObjectName(QStringLiteral("modules"));
    connect(addEntry(modules, QStringLiteral("printTicket"), tr("Print Ticket")), &QAction::triggered, this,
            &MDI::printTicket_Click);
    connect(addEntry(modules, QStringLiteral("call"), tr("Call")), &QAction::triggered, this,
            [this] { call_Click(); });
    connect(addEntry(modules, QStringLiteral("settings"), tr("Settings")), &QAction::triggered, this,
            [this] { settings_Click(); });
    m_display_action = addEntry(modules, QStringLiteral("display"), tr("Start Display"));
    m_display_action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    connect(m_display_action, &QAction::triggered, this, &MDI::display_Click);
    QAction* news = addEntry(modules, QStringLiteral("startNews"), tr("Start/Stop News"));
    news->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(news, &QAction::triggered, this, &MDI::startNews_Click);
    connect(addEntry(modules, QStringLiteral("bkup"), tr("Backup && Restore")), &QAction::triggered, this,
            [this] { bkup_Click(); });
    connect(addEntry(modules, QStringLiteral("connect"), tr("Connection")), &QAction::triggered, this,
            [this] { connect_Click(); });
    QMenu* users = modules->addMenu(tr("User Manage"));
    users->setObjectName(QStringLiteral("usermanage"));
    connect(addEntry(users, QStringLiteral("userLst"), tr("User List")), &QAction::triggered, this,
            [this] { userLst_Click(); });
    connect(addEntry(users, QStringLiteral("chPass"), tr("Change Password")), &QAction::triggered, this,
            [this] { chPass_Click(); });
    QMenu* clear = modules->addMenu(tr("Clear Data"));
    clear->setObjectName(QStringLiteral("clearData"));
    connect(addEntry(clear, QStringLiteral("clrTickData"), tr("Clear Ticket Data")), &QAction::triggered, this,
            [this] { clrTickData_Click(); });
    connect(addEntry(clear, QStringLiteral("ClrCall"), tr("Clear Call Data")), &QAction::triggered, this,
            [this] { ClrCall_Click(); });

    QMenu* reports = bar->addMenu(tr("Reports"));
    reports->setObjectName(QStringLiteral("Reports"));
    const std::pair<const char*, ReportKind> reportEntries[] = {{"deptBased", ReportKind::Department},
                                                                 {"servBase", ReportKind::Service},
                                                                 {"cntBased", ReportKind::Counter},
                                                                 {"pendRep", ReportKind::Pending}};
    const QString reportTexts[] = {tr("Department Based"), tr("Service Based"), tr("Counter Based"),
                                   tr("Pending Report")};
    for (size_t i = 0; i < std::size(reportEntries); ++i) {
        const ReportKind kind = reportEntries[i].second;
        connect(addEntry(reports, QLatin1String(reportEntries[i].first), reportTexts[i]), &QAction::triggered, this,
                [this, kind] { report_Click(kind); });
    }
    reports->addSeparator();
    const std::pair<const char*, FigureKind> figureEntries[] = {{"waitTimes", FigureKind::Waiting},
                                                                 {"servLevels", FigureKind::Levels},
                                                                 {"hourLoad", FigureKind::Hourly},
                                                                 {"cntProductivity", FigureKind::Counters}};
    for (const auto& [name, kind] : figureEntries) {
        const FigureKind k = kind;
        connect(addEntry(reports, QLatin1String(name), QueueFigures::caption(k)), &QAction::triggered, this,
                [this, k] { figure_Click(k); });
    }
    reports->addSeparator();
    connect(addEntry(reports, QStringLiteral("liveBoard"), tr("Live Board")), &QAction::triggered, this,
            [this] { liveBoard_Click(); });

    QMenu* about = bar->addMenu(tr("About"));
    about->setObjectName(QStringLiteral("About"));
    connect(addEntry(about, QStringLiteral("aboutTallyvo"), tr("About Tallyvo")), &QAction::triggered, this,
            &MDI::about_Click);
}

void MDI::buildToolbar()
{
    QToolBar* strip = addToolBar(tr("Toolbar"));
    strip->setObjectName(QStringLiteral("toolbarStrip"));
    strip->setMovable(false);
    strip->setFloatable(false);
    strip->setContextMenuPolicy(Qt::PreventContextMenu);
    strip->setStyleSheet(QStringLiteral(
        "QToolBar#toolbarStrip { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f4f7fa, stop:1 #d5dde6);"
        " border-bottom: 1px solid #9aa7b4; spacing: 6px; padding: 4px; }"));

    auto button = [&](const QString& name, const QString& text, bool available) {
        auto* b = new QPushButton(text, strip);
        b->setObjectName(name);
        b->setEnabled(available);
        strip->addWidget(b);
        return b;
    };
    connect(button(QStringLiteral("Command1"), tr("Print Ticket"), true), &QPushButton::clicked, this,
            &MDI::Command1_Click);
    m_chkStart = new QCheckBox(tr("Enable Scroll"), strip);
    m_chkStart->setObjectName(QStringLiteral("chkStart"));
    strip->addWidget(m_chkStart);
    // Only a user's click (or Ctrl+N) is a click: setting the box from the store must not be.
    connect(m_chkStart, &QCheckBox::clicked, this, &MDI::chkStart_Click);
    connect(button(QStringLiteral("Command2"), tr("Add Scroll"), true), &QPushButton::clicked, this,
            [this] { scrollnews_Click(); });
    connect(button(QStringLiteral("Command3"), tr("Transfer App"), true), &QPushButton::clicked, this,
            [this] { Command3_Click(); });
    connect(button(QStringLiteral("Command4"), tr("Call"), true), &QPushButton::clicked, this,
            [this] { Command4_Click(); });
    m_cmbVoice = new QComboBox(strip);
    m_cmbVoice->setObjectName(QStringLiteral("cmbVoice"));
    m_cmbVoice->setAccessibleName(tr("Voice"));
    m_cmbVoice->setToolTip(tr("Voice of the announcements"));
    m_cmbVoice->setMinimumContentsLength(14);
    m_cmbVoice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    strip->addWidget(m_cmbVoice);
    connect(m_cmbVoice, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_announcer && index >= 0)
            m_announcer->setVoiceIndex(index);
    });
}

QAction* MDI::action(const QString& objectName) const
{
    return findChild<QAction*>(objectName);
}

void MDI::load()
{
    if (m_loaded)
        return;
    SettingsStore& settings = m_services.settings;
    m_services.connection.connectDb();

    try {
        m_themeKey = modSub::getThemeKey(*m_services.connection.db(), settings.get(Keys::ThemeTheme));
    } catch (const DbError&) {
    }

    m_announcer = std::make_unique<Announcer>(settings, m_services.speech ? m_services.speech() : nullptr);

    m_chkStart->setChecked(settings.get(Keys::ThemeScroll) == QLatin1String("1"));
    m_scrollSpeed = settings.getInt(Keys::ScrollSpeed);

    QString error;
    if (!m_announcer->addVoice(&error))
        m_services.prompt.alert(Prompt::Icon::Exclamation, error);
    m_cmbVoice->clear();
    m_cmbVoice->addItems(m_announcer->voices());
    const int voice = settings.getInt(Keys::VoiceName);
    m_cmbVoice->setCurrentIndex(voice < m_cmbVoice->count() ? voice : -1);
    m_announcer->setVoiceIndex(voice);

    m_loaded = true;
    if (settings.get(Keys::DisplayAuto) == QLatin1String("1"))
        display_Click();
}

bool MDI::isDisplayRunning() const
{
    return m_display_action->text() == tr("Stop Display");
}

void MDI::display_Click()
{
    if (m_themeKey == 0) {
        m_services.prompt.alert(Prompt::Icon::Exclamation, tr("Please select a theme") + QLatin1Char('\n') +
                                  tr("Go to Module Setting-> Select Theme"));
        return;
    }
    if (isDisplayRunning())
        stopDisplay();
    else
        startDisplay();
}

void MDI::startDisplay()
{
    m_announcer->readRate();
    auto* display = new frmDisplay(m_services.connection.db()->url(), m_services.settings, m_services.clock,
                                   *m_announcer, DisplayStart{m_themeKey, m_scrollSpeed, FeedTiming{}});
    display->setAttribute(Qt::WA_DeleteOnClose);
    // The display is the only window a counter station with a running display can reach: its keys
    // work there too.
    auto* toggle = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_D), display);
    connect(toggle, &QShortcut::activated, this, &MDI::display_Click);
    auto* news = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_N), display);
    connect(news, &QShortcut::activated, this, &MDI::startNews_Click);
    // However the display goes (stopped here, or closed by the desktop), the switch follows it.
    // Only the running display: one stopped a moment ago may be deleted after the next has started.
    connect(display, &QObject::destroyed, this, [this](QObject* gone) {
        if (gone == m_runningDisplay)
            displayGone();
    });
    m_display = display;
    m_runningDisplay = display;
    display->show();
    m_display_action->setText(tr("Stop Display"));
    if (m_chkStart->isChecked())
        display->startNews();
    emit displayStarted();
}

void MDI::stopDisplay()
{
    if (frmDisplay* display = m_display) {
        m_display = nullptr;
        display->hide();
        // The feed ends now: the window outlives this call, the services it borrows may not.
        display->feed().stop();
        // Deleted later: Ctrl+D pressed in the display itself arrives from inside it.
        display->deleteLater();
    }
    displayGone();
}

void MDI::displayGone()
{
    m_display = nullptr;
    m_runningDisplay = nullptr;
    if (isDisplayRunning()) {
        m_display_action->setText(tr("Start Display"));
        emit displayStopped();
    }
}

void MDI::chkStart_Click()
{
    m_services.settings.set(Keys::ThemeScroll, m_chkStart->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    if (frmDisplay* display = m_display) {
        if (m_chkStart->isChecked())
            display->startNews();
        else
            display->stopNews();
    }
}

void MDI::startNews_Click()
{
    m_chkStart->setChecked(!m_chkStart->isChecked());
    chkStart_Click();
}

void MDI::setScrollSpeed(int speed)
{
    m_scrollSpeed = speed;
    if (frmDisplay* display = m_display)
        display->setScrollSpeed(speed);
}

bool MDI::exit_Click()
{
    if (!m_services.prompt.question(tr("Do you want to exit ")))
        return false;
    if (isDisplayRunning())
        return false;
    emit programEnd();
    return true;
}

void MDI::closeEvent(QCloseEvent* event)
{
    if (isDisplayRunning()) {
        m_services.prompt.alert(Prompt::Icon::Exclamation, tr("Please stop the display first"));
        event->ignore();
        return;
    }
    event->accept();
    emit programEnd();
}

void MDI::about_Click()
{
    m_services.prompt.message(
        tr("Tallyvo %1\n\nQueue management for offices, clinics and laboratories: tokens at the ticket "
           "station, calls from the counters, and a public display that shows and announces every call.\n\n"
           "Built with Qt %2.")
            .arg(QCoreApplication::applicationVersion(), QString::fromLatin1(qVersion())),
        tr("About Tallyvo"));
}

frmTicket* MDI::ticket()
{
    if (!m_ticket) {
        m_ticket = new frmTicket(m_services.connection, m_services.settings, m_services.session, m_services.clock,
                                 m_services.prompt);
        m_ticket->setAttribute(Qt::WA_DeleteOnClose);
    }
    return m_ticket;
}

void MDI::Command1_Click()
{
    frmTicket* t = ticket();
    if (m_services.settings.get(Keys::TicketScreen) == QLatin1String("Normal")) {
        t->showNormal();
        bringForward(t);
    } else {
        t->showAsConfigured();
        bringForward(t);
    }
}

void MDI::printTicket_Click()
{
    const bool opened = m_ticket;
    frmTicket* t = ticket();
    if (opened)
        bringForward(t);
    else
        t->showAsConfigured();
}

frmSettings* MDI::settingsWindow()
{
    // The window reads the store when it is made: one closed (and not yet gone) is made anew.
    if (m_settingsWindow && !m_settingsWindow->isVisible())
        delete m_settingsWindow;
    if (!m_settingsWindow) {
        m_settingsWindow = new frmSettings(m_services.settings, m_services.session, m_services.connection,
                                           m_services.prompt, m_services.speech, this);
        connect(m_settingsWindow, &frmSettings::themeKeyChanged, this, &MDI::setThemeKey);
        connect(m_settingsWindow, &frmSettings::scrollSpeedChanged, this, &MDI::setScrollSpeed);
    }
    return m_settingsWindow;
}

frmSettings* MDI::settings_Click()
{
    bringForward(settingsWindow());
    return m_settingsWindow;
}

void MDI::applySettings()
{
    if (!settingsWindow()->Command1_Click())
        bringForward(m_settingsWindow);
}

frmThLst* MDI::thmLst_Click()
{
    return m_design->showThemeList();
}

frmSql* MDI::connect_Click()
{
    if (!m_sql) {
        m_sql = new frmSql(m_services.settings, m_services.session, m_services.connection, m_services.prompt, this);
        m_sql->setWindowFlag(Qt::Window);
        m_sql->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_sql);
    return m_sql;
}

frmCall* MDI::call_Click()
{
    if (!m_call) {
        m_call = new frmCall(m_services.connection, m_services.settings, m_services.session, m_services.clock,
                             m_services.prompt);
        m_call->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_call);
    return m_call;
}

frmSelService* MDI::Command3_Click()
{
    if (!m_selService) {
        m_selService = new frmSelService(m_services.connection, m_services.settings, m_services.session,
                                         m_services.clock, m_services.prompt);
        m_selService->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_selService);
    return m_selService;
}

frmCallAdmin* MDI::Command4_Click()
{
    // Its "Close" only hides it: the same console comes back.
    if (!m_callAdmin)
        m_callAdmin = new frmCallAdmin(m_services.connection, m_services.settings, m_services.session,
                                       m_services.clock, m_services.prompt);
    bringForward(m_callAdmin);
    return m_callAdmin;
}

frmAdminPass* MDI::chPass_Click()
{
    if (!m_adminPass) {
        m_adminPass = new frmAdminPass(m_services.connection, m_services.session, m_services.prompt);
        m_adminPass->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_adminPass);
    return m_adminPass;
}

frmScroll* MDI::scrollnews_Click()
{
    if (!m_scroll) {
        m_scroll = new frmScroll(m_services.connection, m_services.settings, m_services.prompt, this);
        m_scroll->setWindowFlag(Qt::Window);
        m_scroll->setAttribute(Qt::WA_DeleteOnClose);
        // An editor outlives its list, so its Exit is wired here, to the same exit as the menu's.
        connect(m_scroll, &frmScroll::editorOpened, this, [this](frmEditor* editor) {
            editor->setExitHandler([window = QPointer<MDI>(this)] { return window && window->exit_Click(); });
        });
    }
    bringForward(m_scroll);
    return m_scroll;
}

ReportWindow* MDI::report_Click(ReportKind kind)
{
    QPointer<ReportWindow>& slot = m_reports[static_cast<int>(kind)];
    if (!slot) {
        Connection& c = m_services.connection;
        Session& s = m_services.session;
        Prompt& p = m_services.prompt;
        switch (kind) {
        case ReportKind::Department:
            slot = new frmReport(c, s, m_services.clock, p);
            break;
        case ReportKind::Service:
            slot = new frmRptServ(c, s, m_services.clock, p);
            break;
        case ReportKind::Counter:
            slot = new frmRptCounter(c, s, m_services.clock, p);
            break;
        case ReportKind::Pending:
            slot = new frmPending(c, s, m_services.clock, p);
            break;
        }
        slot->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(slot);
    return slot;
}

FigureWindow* MDI::figure_Click(FigureKind kind)
{
    QPointer<FigureWindow>& slot = m_figures[static_cast<int>(kind)];
    if (!slot) {
        slot = new FigureWindow(kind, m_services.connection, m_services.session, m_services.clock,
                                m_services.prompt);
        slot->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(slot);
    return slot;
}

LiveBoardWindow* MDI::liveBoard_Click()
{
    if (!m_liveBoard) {
        m_liveBoard = new LiveBoardWindow(m_services.connection, m_services.clock, m_services.prompt);
        m_liveBoard->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_liveBoard);
    return m_liveBoard;
}

frmClearData* MDI::clrTickData_Click()
{
    if (!m_clearData) {
        m_clearData = new frmClearData(m_services.connection, m_services.session, m_services.clock, m_services.prompt);
        m_clearData->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_clearData);
    return m_clearData;
}

frmcallDelete* MDI::ClrCall_Click()
{
    if (!m_callDelete) {
        m_callDelete = new frmcallDelete(m_services.connection, m_services.clock, m_services.prompt);
        m_callDelete->setAttribute(Qt::WA_DeleteOnClose);
        // It opens at the top left corner of the main window's work area.
        m_callDelete->move(m_area->mapToGlobal(QPoint(0, 0)));
    }
    bringForward(m_callDelete);
    return m_callDelete;
}

frmBackup* MDI::bkup_Click()
{
    if (!m_backup) {
        m_backup = new frmBackup(m_services.connection, m_services.clock, m_services.prompt);
        m_backup->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_backup);
    return m_backup;
}

void MDI::sendto_Click()
{
    modExcel::sendToExcel(m_services.session.currentReportWindow, m_services.prompt);
}

template <typename W, typename Make> W* MDI::openChild(QPointer<W>& w, Make make)
{
    if (!w) {
        w = make();
        QMdiSubWindow* sub = m_area->addSubWindow(w);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->show();
    }
    auto* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget());
    if (sub->isMinimized())
        sub->showNormal();
    m_area->setActiveSubWindow(sub);
    return w;
}

frmDeptLst* MDI::deptLst_Click()
{
    return openChild(m_deptLst, [this] { return new frmDeptLst(m_services.connection, m_services.prompt); });
}

frmServLst* MDI::Servlst_Click()
{
    return openChild(m_servLst, [this] { return new frmServLst(m_services.connection, m_services.prompt); });
}

frmCntLst* MDI::Counter_Click()
{
    return openChild(m_cntLst, [this] { return new frmCntLst(m_services.connection, m_services.prompt); });
}

frmVideoLst* MDI::Videolst_Click()
{
    if (!m_videoLst) {
        m_videoLst = new frmVideoLst(m_services.connection, m_services.prompt);
        m_videoLst->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_videoLst);
    return m_videoLst;
}

frmUserLst* MDI::userLst_Click()
{
    const bool opened = m_userLst;
    openChild(m_userLst, [this] { return new frmUserLst(m_services.connection, m_services.prompt); });
    if (!opened)
        m_userLst->parentWidget()->move(0, 0);
    return m_userLst;
}

frmCompany* MDI::compdet_Click()
{
    const bool opened = m_company;
    openChild(m_company, [this] { return new frmCompany(m_services.connection, m_services.prompt); });
    if (!opened)
        m_company->parentWidget()->move(0, 0);
    return m_company;
}

void MDI::disableCall()
{
    action(QStringLiteral("call"))->setEnabled(false);
}

} // namespace tallyvo
