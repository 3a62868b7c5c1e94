#include "ShellStation.h"

#include "core/Database.h"
#include "display/Announcer.h"
#include "calling/ui/frmLogin.h"
#include "display/ui/frmDisplay.h"
#include "reports/ui/ReportWindow.h"
#include "shell/MDI.h"
#include "shell/frmSettings.h"
#include "tokens/ui/frmTicket.h"
#include "widgets/Grid.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>

using namespace tallyvo;

namespace {

const QString kThemeMessage = QStringLiteral("Please select a theme\nGo to Module Setting-> Select Theme");

// The entries of a menu, submenus indented by "· ", each as "name|text|shortcut|enabled".
QStringList entries(const QMenu* menu, const QString& indent = QString())
{
    QStringList out;
    for (QAction* a : menu->actions()) {
        if (a->menu()) {
            out << indent + a->menu()->objectName() + QLatin1Char('|') + a->text();
            out += entries(a->menu(), indent + QStringLiteral("· "));
            continue;
        }
        out << indent + a->objectName() + QLatin1Char('|') + a->text() + QLatin1Char('|') +
                   a->shortcut().toString() + QLatin1Char('|') + (a->isEnabled() ? QLatin1Char('1') : QLatin1Char('0'));
    }
    return out;
}

// A caption as a screen reader says it: "&&" is a drawn "&", a lone "&" marks the shortcut.
QString spoken(QString caption)
{
    caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    caption.remove(QLatin1Char('&'));
    return caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// What is wrong in what a screen reader is told about a window's controls, one line for each
// fault: a control a user fills that is not named by its caption, a password box that does not
// mask with "*", a tab whose enabled state is not reported.
QStringList accessibilityFaults(QWidget* window)
{
    QStringList faults;
    if (QAccessible::queryAccessibleInterface(window)->text(QAccessible::Name).isEmpty())
        faults << window->objectName() + QStringLiteral(": no title");
    const QList<QLabel*> labels = window->findChildren<QLabel*>();
    for (QWidget* c : window->findChildren<QWidget*>()) {
        if (!c->isVisibleTo(window))
            continue;
        auto* edit = qobject_cast<QLineEdit*>(c);
        // The text box inside a drop-down list or a spin box is part of that control.
        if (edit && (qobject_cast<QComboBox*>(c->parentWidget()) || qobject_cast<QAbstractSpinBox*>(c->parentWidget())))
            continue;
        auto* button = qobject_cast<QAbstractButton*>(c);
        const bool fills = edit || qobject_cast<QComboBox*>(c) || qobject_cast<QAbstractSpinBox*>(c) ||
                           qobject_cast<QPlainTextEdit*>(c) || (button && button->isCheckable());
        if (fills) {
            QString caption = c->accessibleName();
            for (QLabel* l : labels)
                if (caption.isEmpty() && l->buddy() == c)
                    caption = spoken(l->text());
            if (caption.isEmpty() && button)
                caption = spoken(button->text());
            const QString name = QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name);
            if (caption.isEmpty() || name != caption)
                faults << c->objectName() + QStringLiteral(" is read as \"") + name + QStringLiteral("\"");
        }
        if (edit && edit->echoMode() == QLineEdit::Password) {
            const QString before = edit->text();
            edit->setText(QStringLiteral("abc"));
            if (edit->displayText() != QStringLiteral("***"))
                faults << c->objectName() + QStringLiteral(" masks as ") + edit->displayText();
            edit->setText(before);
        }
        if (auto* tabs = qobject_cast<QTabWidget*>(c)) {
            QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(tabs->tabBar());
            for (int i = 0; i < tabs->count(); ++i) {
                QAccessibleInterface* tab = bar->child(i);
                if (!tab || tab->state().disabled == tabs->isTabEnabled(i))
                    faults << c->objectName() + QStringLiteral(" tab ") + QString::number(i) +
                                  QStringLiteral(" not reported ") +
                                  (tabs->isTabEnabled(i) ? QStringLiteral("enabled") : QStringLiteral("disabled"));
            }
        }
    }
    return faults;
}

void activate(QWidget* w)
{
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
}

} // namespace

class tst_mainwindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void menusAndToolbarInOrder();
    void loadReadsTheStationSettings();
    void speechFailureIsReportedOnceAndStartupGoesOn();
    void displaySwitchAndThemeCheck();
    void displayStartsByItselfAtLoad();
    void ctrlDAndCtrlNFromBothWindows();
    void newsSwitchIsStored();
    void newsAndScrollSpeedReachARunningDisplay();
    void exitAndCloseWhileTheDisplayRuns();
    void newsEditorExitEndsTheProgramAsTheMenuDoes_data();
    void newsEditorExitEndsTheProgramAsTheMenuDoes();
    void displayClosedElsewhereResetsTheSwitch();
    void ticketWindowFromToolbarAndMenu();
    void settingsSaveReachesTheMainWindow();
    void consolesAndPasswordWindow();
    void aboutShowsCredits();
    void reportWindowsAndSendToExcel();
    void administrationListsOpenOnceInTheArea();
    void screenReadersHearCaptions();
};

void tst_mainwindow::menusAndToolbarInOrder()
{
    test::ShellStation st;
    MDI w(st.services());
    QCOMPARE(w.windowTitle(), QStringLiteral("Tallyvo"));
    QStringList top;
    for (QAction* a : w.menuBar()->actions())
        top << a->menu()->objectName() + QLatin1Char('|') + a->text();
    QCOMPARE(top, (QStringList{QStringLiteral("File|File"), QStringLiteral("modules|Modules"),
                               QStringLiteral("Reports|Reports"), QStringLiteral("About|About")}));

    const QList<QAction*> menus = w.menuBar()->actions();
    QCOMPARE(entries(menus.at(0)->menu()), (QStringList{
        QStringLiteral("deptLst|Department List||1"), QStringLiteral("Servlst|Service List||1"),
        QStringLiteral("Counter|Manage Counter||1"), QStringLiteral("thmLst|Theme List||1"),
        QStringLiteral("scrollnews|Scroll News||1"), QStringLiteral("Videolst|Video List||1"),
        QStringLiteral("compdet|Company Details||1"), QStringLiteral("sendto|Send to Excel||1"),
        QStringLiteral("exit|Exit||1")}));
    QCOMPARE(entries(menus.at(1)->menu()), (QStringList{
        QStringLiteral("printTicket|Print Ticket||1"), QStringLiteral("call|Call||1"),
        QStringLiteral("settings|Settings||1"), QStringLiteral("display|Start Display|Ctrl+D|1"),
        QStringLiteral("startNews|Start/Stop News|Ctrl+N|1"), QStringLiteral("bkup|Backup && Restore||1"),
        QStringLiteral("connect|Connection||1"), QStringLiteral("usermanage|User Manage"),
        QStringLiteral("· userLst|User List||1"), QStringLiteral("· chPass|Change Password||1"),
        QStringLiteral("clearData|Clear Data"), QStringLiteral("· clrTickData|Clear Ticket Data||1"),
        QStringLiteral("· ClrCall|Clear Call Data||1")}));
    QCOMPARE(entries(menus.at(2)->menu()), (QStringList{
        QStringLiteral("deptBased|Department Based||1"), QStringLiteral("servBase|Service Based||1"),
        QStringLiteral("cntBased|Counter Based||1"), QStringLiteral("pendRep|Pending Report||1"),
        QStringLiteral("|||1"), QStringLiteral("waitTimes|Waiting Times||1"),
        QStringLiteral("servLevels|Service Levels||1"), QStringLiteral("hourLoad|Hourly Load||1"),
        QStringLiteral("cntProductivity|Counter Productivity||1"), QStringLiteral("|||1"),
        QStringLiteral("liveBoard|Live Board||1")}));
    QCOMPARE(entries(menus.at(3)->menu()), QStringList{QStringLiteral("aboutTallyvo|About Tallyvo||1")});

    // The toolbar strip, left to right.
    auto* strip = test::control<QWidget>(&w, "toolbarStrip");
    QStringList names;
    w.show();
    QApplication::processEvents();
    QList<QWidget*> controls = strip->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    controls.removeIf([](QWidget* c) { return c->objectName().isEmpty() || !c->isVisible(); });
    std::sort(controls.begin(), controls.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
    for (QWidget* c : controls)
        names << c->objectName();
    QCOMPARE(names, (QStringList{QStringLiteral("Command1"), QStringLiteral("chkStart"), QStringLiteral("Command2"),
                                 QStringLiteral("Command3"), QStringLiteral("Command4"), QStringLiteral("cmbVoice")}));
    QCOMPARE(test::control<QPushButton>(&w, "Command1")->text(), QStringLiteral("Print Ticket"));
    QCOMPARE(test::control<QCheckBox>(&w, "chkStart")->text(), QStringLiteral("Enable Scroll"));
    QCOMPARE(test::control<QPushButton>(&w, "Command2")->text(), QStringLiteral("Add Scroll"));
    QCOMPARE(test::control<QPushButton>(&w, "Command3")->text(), QStringLiteral("Transfer App"));
    QCOMPARE(test::control<QPushButton>(&w, "Command4")->text(), QStringLiteral("Call"));
}

void tst_mainwindow::loadReadsTheStationSettings()
{
    test::ShellStation st;
    st.settings.store.set(Keys::ThemeScroll, QStringLiteral("1"));
    st.settings.store.set(Keys::ScrollSpeed, QStringLiteral("45"));
    st.settings.store.set(Keys::VoiceName, QStringLiteral("1"));
    MDI w(st.services());
    w.load();
    // No theme setting: "HR1" is looked up.
    QCOMPARE(w.themeKey(),
             st.temp.db().scalar(QStringLiteral("SELECT themeauto FROM tbltheme WHERE themename='HR1'")).toInt());
    QVERIFY(test::control<QCheckBox>(&w, "chkStart")->isChecked());
    QCOMPARE(st.get(Keys::ThemeScroll), QStringLiteral("1"));
    QCOMPARE(w.scrollSpeed(), 45);
    auto* voices = test::control<QComboBox>(&w, "cmbVoice");
    QCOMPARE(voices->count(), 2);
    QCOMPARE(voices->currentIndex(), 1);
    QCOMPARE(w.announcer().voiceIndex(), 1);
    voices->setCurrentIndex(0); // picked on the toolbar: the next announcement's voice
    QCOMPARE(w.announcer().voiceIndex(), 0);
    QVERIFY(!w.isDisplayRunning());
    QVERIFY(!w.isVisible());
    QVERIFY(st.prompt.messages.isEmpty());
}

void tst_mainwindow::speechFailureIsReportedOnceAndStartupGoesOn()
{
    test::ShellStation st;
    st.speechFailure = QStringLiteral("No speech engine is installed.");
    MDI w(st.services());
    w.load();
    QCOMPARE(st.prompt.messages, QStringList{st.speechFailure});
    QCOMPARE(test::control<QComboBox>(&w, "cmbVoice")->count(), 0);
    QVERIFY(w.isLoaded());
    QVERIFY(w.themeKey() != 0);
}

void tst_mainwindow::displaySwitchAndThemeCheck()
{
    test::ShellStation st;
    st.settings.store.set(Keys::ThemeTheme, QStringLiteral("Retired theme"));
    st.settings.store.set(Keys::VoiceSpeed, QStringLiteral("3"));
    MDI w(st.services());
    w.load();
    QAction* display = w.action(QStringLiteral("display"));
    QCOMPARE(w.themeKey(), 0);
    display->trigger();
    QCOMPARE(st.prompt.messages, QStringList{kThemeMessage});
    QCOMPARE(st.prompt.alerts.first().first, Prompt::Icon::Exclamation);
    QCOMPARE(display->text(), QStringLiteral("Start Display"));
    QVERIFY(!w.displayWindow());

    w.setThemeKey(st.temp.db().scalar(QStringLiteral("SELECT themeauto FROM tbltheme WHERE themename='Black H'")).toInt());
    QSignalSpy started(&w, &MDI::displayStarted);
    display->trigger();
    QCOMPARE(display->text(), QStringLiteral("Stop Display"));
    QCOMPARE(started.size(), 1);
    QPointer<frmDisplay> shown = w.displayWindow();
    QVERIFY(shown && shown->isVisible());
    QCOMPARE(w.announcer().rate(), 3); // read at the start

    // The theme check comes first, also while the display runs.
    w.setThemeKey(0);
    display->trigger();
    QCOMPARE(st.prompt.messages.size(), 2);
    QVERIFY(w.isDisplayRunning());
    QVERIFY(shown);

    w.setThemeKey(1);
    st.settings.store.set(Keys::VoiceSpeed, QStringLiteral("-4"));
    display->trigger();
    QCOMPARE(display->text(), QStringLiteral("Start Display"));
    QTRY_VERIFY(shown.isNull());
    display->trigger();
    QCOMPARE(w.announcer().rate(), -4);
    display->trigger();
    QVERIFY(!w.isDisplayRunning());
}

void tst_mainwindow::displayStartsByItselfAtLoad()
{
    test::ShellStation st;
    st.settings.store.set(Keys::DisplayAuto, QStringLiteral("1"));
    MDI w(st.services());
    w.load();
    QVERIFY(w.isDisplayRunning());
    QVERIFY(w.displayWindow() && w.displayWindow()->isVisible());
    QVERIFY(!w.isVisible());

    // With no usable theme the automatic start asks for one instead.
    test::ShellStation other;
    other.settings.store.set(Keys::DisplayAuto, QStringLiteral("1"));
    other.settings.store.set(Keys::ThemeTheme, QStringLiteral("nothing"));
    MDI w2(other.services());
    w2.load();
    QVERIFY(!w2.isDisplayRunning());
    QCOMPARE(other.prompt.messages, QStringList{kThemeMessage});
}

void tst_mainwindow::ctrlDAndCtrlNFromBothWindows()
{
    test::ShellStation st;
    MDI w(st.services());
    w.load();
    activate(&w);
    auto* news = test::control<QCheckBox>(&w, "chkStart");

    QTest::keyClick(&w, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(w.isDisplayRunning());
    QPointer<frmDisplay> display = w.displayWindow();
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    QVERIFY(news->isChecked());
    QCOMPARE(st.get(Keys::ThemeScroll), QStringLiteral("1"));

    // In the display window: the only keyboard a counter station's running display has.
    activate(display);
    QTest::keyClick(display, Qt::Key_N, Qt::ControlModifier);
    QVERIFY(!news->isChecked());
    QCOMPARE(st.get(Keys::ThemeScroll), QStringLiteral("0"));
    QTest::keyClick(display, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(!w.isDisplayRunning());
    QTRY_VERIFY(display.isNull());

    // Ctrl+D again from the main window starts a new display.
    activate(&w);
    QTest::keyClick(&w, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(w.isDisplayRunning());
    w.display_Click();
}

void tst_mainwindow::newsSwitchIsStored()
{
    test::ShellStation st;
    MDI w(st.services());
    w.load();
    // Loading sets the box without storing anything new.
    QVERIFY(!st.has(Keys::ThemeScroll));
    auto* news = test::control<QCheckBox>(&w, "chkStart");
    news->click();
    QCOMPARE(st.get(Keys::ThemeScroll), QStringLiteral("1"));
    w.action(QStringLiteral("startNews"))->trigger();
    QVERIFY(!news->isChecked());
    QCOMPARE(st.get(Keys::ThemeScroll), QStringLiteral("0"));
    QVERIFY(!w.isDisplayRunning()); // the switch alone starts nothing
}

void tst_mainwindow::newsAndScrollSpeedReachARunningDisplay()
{
    test::ShellStation st;
    st.settings.store.set(Keys::ThemeScroll, QStringLiteral("1"));
    st.settings.store.set(Keys::ScrollSpeed, QStringLiteral("40"));
    MDI w(st.services());
    w.load();
    w.display_Click();
    frmDisplay* display = w.displayWindow();
    // Ticked at start: the band runs from the start, at the station's speed.
    QVERIFY(display->isNewsRunning());
    QCOMPARE(display->scrollSpeed(), 40);
    QCOMPARE(display->themeKey(), w.themeKey());
    w.startNews_Click();
    QVERIFY(!display->isNewsRunning());
    test::control<QCheckBox>(&w, "chkStart")->click();
    QVERIFY(display->isNewsRunning());
    // A saved scroll speed applies from the next step.
    w.setScrollSpeed(12);
    QCOMPARE(display->scrollSpeed(), 12);
    w.display_Click();
}

void tst_mainwindow::exitAndCloseWhileTheDisplayRuns()
{
    test::ShellStation st;
    MDI w(st.services());
    w.load();
    w.show();
    QSignalSpy ended(&w, &MDI::programEnd);

    st.prompt.answers.enqueue(false);
    w.action(QStringLiteral("exit"))->trigger();
    QCOMPARE(st.prompt.questions, QStringList{QStringLiteral("Do you want to exit ")});
    QCOMPARE(ended.size(), 0);

    w.display_Click();
    st.prompt.answers.enqueue(true);
    w.exit_Click();
    QCOMPARE(ended.size(), 0); // ignored while the display runs
    QVERIFY(st.prompt.messages.isEmpty());

    QVERIFY(!w.close());
    QCOMPARE(st.prompt.messages, QStringList{QStringLiteral("Please stop the display first")});
    QVERIFY(w.isVisible());
    QCOMPARE(ended.size(), 0);

    w.display_Click();
    st.prompt.answers.enqueue(true);
    w.exit_Click();
    QCOMPARE(ended.size(), 1);
    QVERIFY(w.close());
    QCOMPARE(ended.size(), 2);
}

void tst_mainwindow::newsEditorExitEndsTheProgramAsTheMenuDoes_data()
{
    QTest::addColumn<bool>("listOpen");
    QTest::newRow("list open") << true;
    QTest::newRow("list closed") << false;
}

// The editor outlives its list; its Exit asks about unsaved text, then goes the way of the main
// window's own Exit: the same question, and nothing while the display runs.
void tst_mainwindow::newsEditorExitEndsTheProgramAsTheMenuDoes()
{
    QFETCH(bool, listOpen);
    test::ShellStation st;
    MDI w(st.services());
    w.load();
    w.show();
    QSignalSpy ended(&w, &MDI::programEnd);
    QPointer<frmScroll> list = w.scrollnews_Click();
    QPointer<frmEditor> editor = list->addNew();
    auto* text = test::control<QTextEdit>(editor, "rtfText");
    QTest::keyClicks(text, QStringLiteral("unsaved"));
    if (!listOpen) {
        list->close();
        QTRY_VERIFY(!list);
    }
    QAction* exit = test::control<QAction>(editor, "mnuExit");

    // Cancel on the text: no exit question, the text stays.
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::Cancel;
    exit->trigger();
    QCOMPARE(st.prompt.questions.size(), 1);
    QCOMPARE(ended.size(), 0);
    QCOMPARE(text->toPlainText(), QStringLiteral("unsaved"));

    // Not saved, then No to "Do you want to exit ": the editor keeps its text.
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::No;
    st.prompt.answers.clear();
    st.prompt.answers << false;
    exit->trigger();
    QCOMPARE(st.prompt.questions.last(), QStringLiteral("Do you want to exit "));
    QCOMPARE(ended.size(), 0);
    QVERIFY(editor && editor->isVisible());
    QCOMPARE(text->toPlainText(), QStringLiteral("unsaved"));

    // While the display runs nothing ends, as with the menu's Exit.
    w.display_Click();
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::No;
    st.prompt.answers.clear();
    st.prompt.answers << true;
    exit->trigger();
    QCOMPARE(ended.size(), 0);
    w.display_Click();

    // Saved, then Yes: the message is stored and the program ends.
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::Yes;
    st.prompt.answers.clear();
    st.prompt.answers << true;
    exit->trigger();
    QCOMPARE(ended.size(), 1);
    QCOMPARE(st.temp.db().scalar(QStringLiteral("SELECT count(*) FROM tblscroll WHERE message='unsaved'")).toInt(), 1);

    // Not saved, and the program ends: ending closes every window, and the editor asks no more.
    QPointer<frmEditor> dropped = w.scrollnews_Click()->addNew();
    QTest::keyClicks(test::control<QTextEdit>(dropped, "rtfText"), QStringLiteral("dropped"));
    st.prompt.warningAnswers.clear();
    st.prompt.warningAnswers << Prompt::Answer::No;
    st.prompt.answers.clear();
    st.prompt.answers << true;
    test::control<QAction>(dropped, "mnuExit")->trigger();
    QCOMPARE(ended.size(), 2);
    const qsizetype answered = st.prompt.questions.size();
    QVERIFY(dropped->close());
    QCOMPARE(st.prompt.questions.size(), answered);
    QTRY_VERIFY(!dropped);

    // An unchanged editor asks only the main window's question.
    QPointer<frmEditor> again = w.scrollnews_Click()->addNew();
    const qsizetype asked = st.prompt.questions.size();
    st.prompt.answers.clear();
    st.prompt.answers << true;
    test::control<QAction>(again, "mnuExit")->trigger();
    QCOMPARE(st.prompt.questions.size(), asked + 1);
    QCOMPARE(st.prompt.questions.last(), QStringLiteral("Do you want to exit "));
    QCOMPARE(ended.size(), 3);
}

void tst_mainwindow::displayClosedElsewhereResetsTheSwitch()
{
    test::ShellStation st;
    MDI w(st.services());
    w.load();
    w.display_Click();
    QPointer<frmDisplay> display = w.displayWindow();
    display->close(); // by the desktop, say
    QTRY_VERIFY(display.isNull());
    QVERIFY(!w.isDisplayRunning());
    QCOMPARE(w.action(QStringLiteral("display"))->text(), QStringLiteral("Start Display"));

    // Stopped and started again at once: the old window goes later, and the switch stays with the
    // new one.
    w.display_Click();
    QPointer<frmDisplay> old = w.displayWindow();
    w.display_Click();
    w.display_Click();
    QPointer<frmDisplay> running = w.displayWindow();
    QVERIFY(running && running != old);
    QTRY_VERIFY(old.isNull());
    QVERIFY(w.isDisplayRunning());
    QCOMPARE(w.displayWindow(), running.data());
    w.display_Click();
    QVERIFY(!w.isDisplayRunning());
    QTRY_VERIFY(running.isNull());
}

void tst_mainwindow::ticketWindowFromToolbarAndMenu()
{
    test::ShellStation st;
    MDI w(st.services());
    w.load();
    QTest::mouseClick(test::control<QPushButton>(&w, "Command1"), Qt::LeftButton);
    QPointer<frmTicket> ticket = w.ticketWindow();
    QVERIFY(ticket && ticket->isVisible());
    QVERIFY(!ticket->isFullScreen());
    QVERIFY(!ticket->isKiosk());

    // The menu entry brings the same window forward as it is.
    ticket->showMinimized();
    w.action(QStringLiteral("printTicket"))->trigger();
    QCOMPARE(w.ticketWindow(), ticket.data());
    QVERIFY(!ticket->isMinimized());
    ticket->close();
    QTRY_VERIFY(ticket.isNull());

    // A kiosk station's toolbar button opens it full screen.
    st.settings.store.set(Keys::TicketScreen, QStringLiteral("Full Screen"));
    QTest::mouseClick(test::control<QPushButton>(&w, "Command1"), Qt::LeftButton);
    ticket = w.ticketWindow();
    QVERIFY(ticket->isKiosk());
    QVERIFY(ticket->windowState() & Qt::WindowFullScreen);
    delete ticket;
}

void tst_mainwindow::settingsSaveReachesTheMainWindow()
{
    test::ShellStation st;
    MDI w(st.services());
    w.load();
    frmSettings* settings = w.settings_Click();
    QCOMPARE(settings->parentWidget(), &w);
    QCOMPARE(w.settings_Click(), settings); // one window, brought forward
    settings->findChild<QComboBox*>(QStringLiteral("cmbTheme"))->setEditText(QStringLiteral("Black H"));
    settings->findChild<QLineEdit*>(QStringLiteral("txtSpeed"))->setText(QStringLiteral("fast"));
    settings->findChild<QLineEdit*>(QStringLiteral("txtPrint"))->setText(QStringLiteral("2"));
    QVERIFY(settings->Command1_Click());
    QCOMPARE(w.scrollSpeed(), 30);
    QCOMPARE(w.themeKey(),
             st.temp.db().scalar(QStringLiteral("SELECT themeauto FROM tbltheme WHERE themename='Black H'")).toInt());
    QCOMPARE(st.session.ticketCopies, 2);

    // The administrator login's save: no window stays open when it succeeds...
    st.settings.store.set(Keys::PrintNos, QStringLiteral("4"));
    w.applySettings();
    QCOMPARE(st.session.ticketCopies, 4);
    QApplication::processEvents();
    QVERIFY(!w.findChild<frmSettings*>() || !w.findChild<frmSettings*>()->isVisible());
    // ...and the window shows with its message when the stored theme is empty.
    st.settings.store.set(Keys::ThemeTheme, QString());
    w.applySettings();
    QCOMPARE(st.prompt.messages.last(), QStringLiteral("Cannot Save Please select a Theme"));
    QTRY_VERIFY(w.findChild<frmSettings*>() && w.findChild<frmSettings*>()->isVisible());
}

void tst_mainwindow::consolesAndPasswordWindow()
{
    test::ShellStation st;
    st.session.isAdmin = true; // the toolbar is an administrator's
    MDI w(st.services());
    w.load();
    // The administrator console: one window, brought back after its "Close" hid it.
    QPointer<frmCallAdmin> admin = w.Command4_Click();
    QVERIFY(admin && admin->isVisible());
    admin->hide();
    QCOMPARE(w.Command4_Click(), admin.data());
    QVERIFY(admin->isVisible());

    // "Transfer App" with a default transfer counter goes straight to that counter's console.
    st.settings.store.set(Keys::TicketTransfer, QStringLiteral("Counter 2"));
    QPointer<frmSelService> chooser = w.Command3_Click();
    QTRY_VERIFY(chooser.isNull() || !chooser->isVisible());
    QCOMPARE(st.session.activeCounter,
             st.temp.db().scalar(QStringLiteral("SELECT cntAuto FROM tblCounter WHERE contName='Counter 2'")).toInt());
    QVERIFY2(st.prompt.messages.isEmpty(), qPrintable(st.prompt.messages.join(QLatin1Char('|'))));

    QPointer<frmAdminPass> pass = w.chPass_Click();
    QVERIFY(pass && pass->isVisible());
    QCOMPARE(w.chPass_Click(), pass.data());
    pass->close();
    QTRY_VERIFY(pass.isNull());

    // "Call" is not for an administrator's station.
    w.disableCall();
    QVERIFY(!w.action(QStringLiteral("call"))->isEnabled());
    QList<QPointer<frmCall>> consoles;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* console = qobject_cast<frmCall*>(top))
            consoles << console;
    QCOMPARE(consoles.size(), 1); // the transfer console
    qDeleteAll(consoles);

    // File > Exit > Yes with the administrator console open: the program's end closes every
    // window, and the console does not hold it up.
    QVERIFY(admin->isVisible());
    QSignalSpy ended(&w, &MDI::programEnd);
    st.prompt.answers.enqueue(true);
    w.exit_Click();
    QCOMPARE(ended.size(), 1);
    QApplication::closeAllWindows(); // what the application's quit does
    QVERIFY(!admin->isVisible());
}

void tst_mainwindow::aboutShowsCredits()
{
    test::ShellStation st;
    MDI w(st.services());
    w.action(QStringLiteral("aboutTallyvo"))->trigger();
    QCOMPARE(st.prompt.messages.size(), 1);
    QVERIFY(st.prompt.messages.first().startsWith(QStringLiteral("Tallyvo")));
}

void tst_mainwindow::reportWindowsAndSendToExcel()
{
    test::ShellStation st;
    MDI w(st.services());
    w.load();
    // Before any report window was activated there is nothing to send.
    w.action(QStringLiteral("sendto"))->trigger();
    QCOMPARE(st.prompt.messages, QStringList{QStringLiteral("Error. Cannot Continue ")});

    const std::pair<const char*, const char*> entries[] = {
        {"deptBased", "frmReport"}, {"servBase", "frmRptServ"}, {"cntBased", "frmRptCounter"}, {"pendRep", "frmPending"}};
    auto windowsNamed = [](const char* name) {
        QList<ReportWindow*> found;
        for (QWidget* t : QApplication::topLevelWidgets())
            if (t->objectName() == QLatin1String(name) && t->isVisible())
                found << qobject_cast<ReportWindow*>(t);
        return found;
    };
    for (const auto& [entry, window] : entries) {
        w.action(QLatin1String(entry))->trigger();
        const QList<ReportWindow*> opened = windowsNamed(window);
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened[0]);
        QTRY_COMPARE(st.session.currentReportWindow.data(), static_cast<QObject*>(opened[0]));
        // The same window comes forward again.
        w.action(QLatin1String(entry))->trigger();
        QCOMPARE(windowsNamed(window), opened);
    }

    // The figures' windows, one per entry, are report windows too; "Live Board" is not.
    for (const char* entry : {"waitTimes", "servLevels", "hourLoad", "cntProductivity"}) {
        w.action(QLatin1String(entry))->trigger();
        FigureWindow* opened = nullptr;
        for (QWidget* t : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<FigureWindow*>(t); f && f->isVisible() && f->windowTitle() == w.action(QLatin1String(entry))->text())
                opened = f;
        QVERIFY2(opened, entry);
        QTRY_COMPARE(st.session.currentReportWindow.data(), static_cast<QObject*>(opened));
        w.action(QLatin1String(entry))->trigger();
        QCOMPARE(w.figure_Click(opened->kind()), opened);
    }
    w.action(QStringLiteral("liveBoard"))->trigger();
    LiveBoardWindow* board = w.liveBoard_Click();
    QVERIFY(board->isVisible());
    QCOMPARE(board->windowTitle(), QStringLiteral("Live Board"));
}

void tst_mainwindow::screenReadersHearCaptions()
{
    test::ShellStation st;
    st.session.isAdmin = true;
    MDI w(st.services());
    w.load();
    w.show();
    // Every list holds entries, so that one read by its entry instead of its caption shows up.
    QList<QWidget*> windows{&w, w.settings_Click(), w.Command4_Click(), w.chPass_Click(), w.connect_Click()};
    w.Command4_Click()->findChild<QComboBox*>(QStringLiteral("cmbCounter"))->setCurrentIndex(0);
    frmLogin login(st.connection, st.settings.store, st.session, st.prompt);
    login.show();
    test::control<QRadioButton>(&login, "optCounter")->setChecked(true);
    QVERIFY(test::control<QComboBox>(&login, "cmbCounter")->count() > 0);
    windows << &login;
    // The administration windows, each list with its record window.
    for (ListWindow* list : std::initializer_list<ListWindow*>{w.deptLst_Click(), w.Servlst_Click(), w.Counter_Click(),
                                                               w.Videolst_Click()}) {
        list->addRecord();
        windows << list << list->recordWindow();
    }
    windows << w.userLst_Click() << w.compdet_Click();
    for (QWidget* window : std::as_const(windows)) {
        for (QComboBox* list : window->findChildren<QComboBox*>())
            if (list->isVisibleTo(window) && list->count() > 0 && list->currentIndex() < 0)
                list->setCurrentIndex(0);
        const QStringList faults = accessibilityFaults(window);
        QVERIFY2(faults.isEmpty(), qPrintable(window->objectName() + QStringLiteral(": ") +
                                              faults.join(QStringLiteral("; "))));
    }
}

void tst_mainwindow::administrationListsOpenOnceInTheArea()
{
    test::ShellStation st;
    MDI w(st.services());
    w.show();
    w.load();
    auto* area = w.findChild<QMdiArea*>();
    w.action(QStringLiteral("deptLst"))->trigger();
    w.action(QStringLiteral("Servlst"))->trigger();
    w.action(QStringLiteral("Counter"))->trigger();
    QCOMPARE(area->subWindowList().size(), 3);
    QPointer<frmDeptLst> depts = w.deptLst_Click();
    QCOMPARE(area->subWindowList().size(), 3);
    QCOMPARE(area->activeSubWindow()->widget(), depts.data());
    QCOMPARE(depts->windowTitle(), QStringLiteral("Deparment Lst"));
    QVERIFY(depts->grid()->rows() > 1); // the demo site's departments
    // Its "Close" closes its frame in the area; the entry then opens a new one.
    test::control<QPushButton>(depts, "Command1")->click();
    QTRY_VERIFY(depts.isNull());
    QTRY_COMPARE(area->subWindowList().size(), 2);
    QVERIFY(w.deptLst_Click());
    QCOMPARE(area->subWindowList().size(), 3);

    // Users and company details at the area's top left; the video list a window of its own.
    QCOMPARE(w.userLst_Click()->parentWidget()->pos(), QPoint(0, 0));
    QCOMPARE(w.compdet_Click()->parentWidget()->pos(), QPoint(0, 0));
    QCOMPARE(area->subWindowList().size(), 5);
    QPointer<frmVideoLst> videos = w.Videolst_Click();
    QVERIFY(videos->isWindow() && videos->isVisible());
    QCOMPARE(w.Videolst_Click(), videos.data());
    delete videos;
}

TALLYVO_TEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
