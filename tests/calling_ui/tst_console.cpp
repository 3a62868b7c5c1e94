// The counter console, the administrator console and "Transfer App" driven through their
// controls against a real database, with a scripted prompt and a fixed clock.
#include "calling/CallEngine.h"
#include "calling/ui/GlobalHotKeys.h"
#include "calling/ui/frmCall.h"
#include "calling/ui/frmCallAdmin.h"
#include "calling/ui/frmSelService.h"
#include "widgets/Grid.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QtTest/qtestspontaneevent.h>

#include "ConsoleFixture.h"

using namespace tallyvo;
using test::control;

namespace {

const QString hotKeyMessage = QStringLiteral(
    "Can not register all or one of the hotkeys %1 ... Try other keys this key is already registered by some "
    "other running applications.");

QString text(QWidget* w, const char* label) {
    return control<QLabel>(w, label)->text();
}

void click(QWidget* w, const char* button) {
    QTest::mouseClick(control<QPushButton>(w, button), Qt::LeftButton);
}

void doubleClickRow(QWidget* w, const char* grid, int row) {
    auto* g = control<Grid>(w, grid);
    g->setRow(row);
    emit g->doubleClicked();
}

QStringList column(QWidget* w, const char* grid, int col) {
    auto* g = control<Grid>(w, grid);
    QStringList values;
    for (int r = 1; r < g->rows(); ++r)
        values << g->textMatrix(r, col);
    return values;
}

} // namespace

class TestConsole : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::ConsoleSite> m_site;

    test::ConsoleSite& site() { return *m_site; }

private slots:
    void init() {
        m_site = std::make_unique<test::ConsoleSite>();
        // Most cases are about calling, not about the keys this platform cannot give.
        site().settings.store.set(Keys::ShortcutEnable, QStringLiteral("0"));
    }
    void cleanup() { m_site.reset(); }

    void openingShowsWhereTheCounterLeftOff() {
        const qint64 served = site().issue(site().serviceA, 3, QStringLiteral("09:00:00"));
        site().db().run(QStringLiteral("UPDATE tblTicket SET call='1', attended=?, attTime='09:10:00', "
                                       "status='Finished' WHERE tickAuto=?"),
                        {site().counterA, served});
        site().issue(site().serviceA, 4);
        site().issue(site().serviceA, 5);
        site().issue(site().serviceX, 1);
        site().issue(site().serviceA, 6, QStringLiteral("10:00:00"), QDate(2026, 3, 15)); // tomorrow's
        site().settings.store.set(Keys::ShowBoth, QStringLiteral("1"));

        auto w = site().openConsole();
        QCOMPARE(w->windowTitle(), QStringLiteral("Room A"));
        QCOMPARE(text(w.get(), "Label1"), QStringLiteral("Idle"));
        QCOMPARE(text(w.get(), "lblLast"), QStringLiteral("Last Served : A3"));
        QCOMPARE(text(w.get(), "lblTotal"), QStringLiteral("Total Pending : 2"));
        QCOMPARE(text(w.get(), "lblToken"), QStringLiteral("A3"));
        QCOMPARE(text(w.get(), "lblNo"), QString::number(served));
        QVERIFY(control<QLabel>(w.get(), "lblNo")->isHidden());
        QVERIFY(control<QComboBox>(w.get(), "cmbCounter")->isHidden());
        QCOMPARE(control<QTabWidget>(w.get(), "STab")->currentIndex(), 0);
        QVERIFY(control<QCheckBox>(w.get(), "chkShow")->isChecked());
        QVERIFY(!control<QCheckBox>(w.get(), "chkShortcut")->isChecked());
        QVERIFY(!w->buttonTimer()->isActive());
        QVERIFY(w->refreshTimer()->isActive());
        // Attended list, with the key hidden in column 0 and the position in column 1.
        auto* fg = control<Grid>(w.get(), "FG");
        QCOMPARE(fg->cols(), 6);
        QCOMPARE(fg->rows(), 2);
        QCOMPARE(fg->textMatrix(0, 1), QStringLiteral("SN"));
        QCOMPARE(fg->textMatrix(0, 4), QStringLiteral("Finished"));
        QCOMPARE(fg->colWidth(0), 1);
        QCOMPARE(fg->colWidth(3), 3000);
        QCOMPARE(fg->textMatrix(1, 0), QString::number(served));
        QCOMPARE(fg->textMatrix(1, 1), QStringLiteral("1"));
        QCOMPARE(fg->textMatrix(1, 2), QStringLiteral("A3"));
        QCOMPARE(fg->textMatrix(1, 3), QStringLiteral("09:10:00"));
        // Transfer targets: active counters only.
        auto* cmb = control<QComboBox>(w.get(), "cmbService");
        QCOMPARE(cmb->count(), 2);
        QCOMPARE(cmb->itemText(1), QStringLiteral("Room B"));
        QVERIFY(site().prompt.messages.isEmpty());
    }

    void nextRecallCancelFromButtons() {
        const qint64 t7 = site().issue(site().serviceA, 7);
        const qint64 t5 = site().issue(site().serviceA, 5);
        const qint64 t6 = site().issue(site().serviceA, 6);
        auto w = site().openConsole();
        QCOMPARE(text(w.get(), "lblToken"), QString());

        click(w.get(), "cmdNext");
        QCOMPARE(text(w.get(), "lblToken"), QStringLiteral("A5"));
        QCOMPARE(text(w.get(), "Label1"), QStringLiteral("Calling"));
        QCOMPARE(text(w.get(), "lblTotal"), QStringLiteral("Total Pending : 2"));
        QCOMPARE(site().ticket(t5, QStringLiteral("call")), QStringLiteral("1"));
        QCOMPARE(site().lastCall(QStringLiteral("displayName")), QStringLiteral("Dr. Ames"));
        QCOMPARE(site().lastCall(QStringLiteral("callNote")), QString());
        // A second quick "Next" is held off until the button timer ticks.
        QVERIFY(!control<QPushButton>(w.get(), "cmdNext")->isEnabled());
        QVERIFY(!control<QPushButton>(w.get(), "cmdRecall")->isEnabled());
        QVERIFY(w->buttonTimer()->isActive());
        QCOMPARE(w->buttonTimer()->interval(), 5000);
        w->buttonTimer()->setInterval(1);
        QTRY_VERIFY(control<QPushButton>(w.get(), "cmdNext")->isEnabled());
        QVERIFY(control<QPushButton>(w.get(), "cmdRecall")->isEnabled());

        // The display showed it; "Recall" has it announced again, without a new row.
        site().db().run(QStringLiteral("UPDATE tblCall SET status='1'"));
        click(w.get(), "cmdRecall");
        QCOMPARE(site().callRows(), 1);
        QCOMPARE(site().lastCall(QStringLiteral("status")), QStringLiteral("0"));

        click(w.get(), "cmdCancel");
        QCOMPARE(site().ticket(t5, QStringLiteral("status")), QStringLiteral("Cancelled"));
        // "Next" after a cancel finishes the cancelled token and calls the next one.
        site().clock.time = QTime(10, 50, 0);
        click(w.get(), "cmdNext");
        QCOMPARE(site().ticket(t5, QStringLiteral("finished")), QStringLiteral("10:50:00"));
        QCOMPARE(text(w.get(), "lblToken"), QStringLiteral("A6"));
        QCOMPARE(site().ticket(t6, QStringLiteral("attended")), QString::number(site().counterA));
        QCOMPARE(site().ticket(t7, QStringLiteral("call")), QStringLiteral("0"));
        QVERIFY(site().prompt.messages.isEmpty());
    }

    void nothingWaitingAndNothingToRecall() {
        auto w = site().openConsole();
        click(w.get(), "cmdRecall");
        QVERIFY(control<QPushButton>(w.get(), "cmdRecall")->isEnabled());
        QVERIFY(!w->buttonTimer()->isActive());
        click(w.get(), "cmdNext");
        QCOMPARE(text(w.get(), "Label1"), QStringLiteral("Idle"));
        QCOMPARE(text(w.get(), "lblLast"), QStringLiteral("Last Served : Not Available"));
        QCOMPARE(site().callRows(), 0);
    }

    void doubleClicksOnTheLists() {
        const qint64 t1 = site().issue(site().serviceA, 1);
        const qint64 t2 = site().issue(site().serviceA, 2);
        auto w = site().openConsole();
        click(w.get(), "cmdNext");
        w->buttonTimer()->setInterval(1);
        QTRY_VERIFY(control<QPushButton>(w.get(), "cmdNext")->isEnabled());
        click(w.get(), "cmdNext");
        auto* tabs = control<QTabWidget>(w.get(), "STab");
        tabs->setCurrentIndex(1);
        QCOMPARE(column(w.get(), "FG", 2), QStringList({QStringLiteral("A2"), QStringLiteral("A1")}));

        // A double-click on an attended token calls it for its lab report.
        doubleClickRow(w.get(), "FG", 2);
        QCOMPARE(site().callRows(), 3);
        QCOMPARE(site().lastCall(QStringLiteral("callNote")), QStringLiteral("Lab Report"));
        QCOMPARE(site().lastCall(QStringLiteral("tickAuto")), QString::number(t1));
        QCOMPARE(text(w.get(), "lblToken"), QStringLiteral("A1"));
        // The header row holds no token.
        doubleClickRow(w.get(), "FG", 0);
        QCOMPARE(site().callRows(), 3);

        // From the cancelled list a normal call.
        click(w.get(), "cmdCancel");
        tabs->setCurrentIndex(2);
        QCOMPARE(tabs->tabText(2), QStringLiteral("Cancelled 1"));
        QCOMPARE(control<Grid>(w.get(), "FG1")->textMatrix(0, 4), QStringLiteral("Cancelled"));
        doubleClickRow(w.get(), "FG1", 1);
        QCOMPARE(site().callRows(), 4);
        QCOMPARE(site().lastCall(QStringLiteral("callNote")), QString());
        QCOMPARE(site().ticket(t1, QStringLiteral("status")), QStringLiteral("Finished"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("Cancelled 0"));
        QCOMPARE(site().ticket(t2, QStringLiteral("call")), QStringLiteral("1"));
    }

    void transferWithAndWithoutAToken() {
        const qint64 t1 = site().issue(site().serviceA, 1);
        site().issue(site().serviceA, 2);
        auto w = site().openConsole();
        click(w.get(), "cmdNext");
        auto* tabs = control<QTabWidget>(w.get(), "STab");
        tabs->setCurrentIndex(3);
        auto* tokens = control<QComboBox>(w.get(), "cmbToken");
        QCOMPARE(tokens->count(), 2);
        QCOMPARE(tokens->currentIndex(), -1);

        auto* target = control<QComboBox>(w.get(), "cmbService");
        target->setCurrentText(QStringLiteral("Room B"));
        QCOMPARE(text(w.get(), "lblService"), QStringLiteral("Service Name  : Consult"));
        control<QLineEdit>(w.get(), "txtRef")->setText(QStringLiteral("needs Dr. Bell's opinion"));
        click(w.get(), "cmdUpdate");
        QCOMPARE(site().prompt.messages, QStringList{QStringLiteral("Select a token first")});

        tokens->setCurrentIndex(tokens->findText(QStringLiteral("A1")));
        click(w.get(), "cmdUpdate");
        QCOMPARE(site().prompt.messages.last(), QStringLiteral("Updated"));
        QCOMPARE(site().ticket(t1, QStringLiteral("status")), QStringLiteral("Transferred"));
        QCOMPARE(site().ticket(t1, QStringLiteral("attended")), QString::number(site().counterB));
        QCOMPARE(site().ticket(t1, QStringLiteral("ref")), QStringLiteral("needs Dr. Bell's opinion"));
        QCOMPARE(text(w.get(), "lblNo"), QString());

        // To the own counter: nothing happens and nothing is said.
        const int messages = site().prompt.messages.size();
        target->setCurrentText(QStringLiteral("Room A"));
        tokens->setCurrentIndex(tokens->findText(QStringLiteral("A2")));
        click(w.get(), "cmdUpdate");
        QCOMPARE(site().prompt.messages.size(), messages);

        // Room B's console lists it, shows the notes on a click and calls it on a double-click.
        w.reset();
        site().session.activeCounter = site().counterB;
        auto b = site().openConsole();
        auto* btabs = control<QTabWidget>(b.get(), "STab");
        btabs->setCurrentIndex(4);
        QCOMPARE(btabs->tabText(4), QStringLiteral("Transfred 1"));
        auto* fgr = control<Grid>(b.get(), "FGR");
        QCOMPARE(fgr->textMatrix(0, 5), QStringLiteral("Time"));
        QCOMPARE(fgr->textMatrix(1, 4), QStringLiteral("Transferred"));
        fgr->setRow(1);
        emit fgr->clicked();
        QCOMPARE(text(b.get(), "Label3"), QStringLiteral("needs Dr. Bell's opinion"));
        doubleClickRow(b.get(), "FGR", 1);
        QCOMPARE(text(b.get(), "lblToken"), QStringLiteral("A1"));
        QCOMPARE(site().lastCall(QStringLiteral("displayName")), QStringLiteral("Dr. Bell"));
        QCOMPARE(btabs->tabText(4), QStringLiteral("Transfred 0"));
    }

    void pendingListAndTheMinuteRefresh() {
        site().issue(site().serviceA, 1, QStringLiteral("10:05:00"));
        site().issue(site().serviceA, 2, QStringLiteral("10:46:59"));
        auto w = site().openConsole();
        auto* tabs = control<QTabWidget>(w.get(), "STab");
        tabs->setCurrentIndex(5);
        QCOMPARE(tabs->tabText(5), QStringLiteral("Pending : 2"));
        QCOMPARE(column(w.get(), "FG4", 2), QStringList({QStringLiteral("A2"), QStringLiteral("A1")}));
        QCOMPARE(column(w.get(), "FG4", 3),
                 QStringList({QStringLiteral("10:46:59 "), QStringLiteral("10:05:00 ")}));
        QCOMPARE(column(w.get(), "FG4", 4), QStringList({QStringLiteral("1"), QStringLiteral("42")}));

        // Another station issues a token; without any action the console sees it on the 61st tick.
        site().issue(site().serviceA, 3);
        QCOMPARE(w->refreshTimer()->interval(), 1000);
        QSignalSpy ticks(w->refreshTimer(), &QTimer::timeout);
        QSignalSpy refreshed(w.get(), &CallConsole::refreshed);
        connect(w.get(), &CallConsole::refreshed, w->refreshTimer(), &QTimer::stop);
        w->refreshTimer()->setInterval(1);
        QTRY_COMPARE(refreshed.count(), 1);
        QCOMPARE(ticks.count(), 61);
        QCOMPARE(w->refreshTicks(), 0);
        QCOMPARE(tabs->tabText(5), QStringLiteral("Pending : 3"));
        QCOMPARE(text(w.get(), "lblTotal"), QStringLiteral("Total Pending : 3"));
        QVERIFY(site().prompt.messages.isEmpty());
    }

    void databaseErrorsAreShownNotFatal() {
        site().issue(site().serviceA, 1);
        auto w = site().openConsole();
        site().db().run(QStringLiteral("DROP TABLE tblCall"));
        click(w.get(), "cmdNext");
        QCOMPARE(site().prompt.messages.size(), 1);
        QVERIFY(!site().prompt.messages.first().isEmpty());
        // The token was not taken without its call row.
        QCOMPARE(site().db().scalar(QStringLiteral("SELECT call FROM tblTicket")).toString(),
                 QStringLiteral("0"));
        // The timer's refresh says nothing when the database fails.
        site().db().run(QStringLiteral("DROP TABLE tblTicket"));
        w->refreshTimer()->setInterval(1);
        QSignalSpy refreshed(w.get(), &CallConsole::refreshed);
        QTRY_VERIFY(refreshed.count() > 0);
        QCOMPARE(site().prompt.messages.size(), 1);
        click(w.get(), "cmdRefresh");
        QCOMPARE(site().prompt.messages.size(), 2);
    }

    void settingsTabWritesAtOnce() {
        auto w = site().openConsole();
        control<QCheckBox>(w.get(), "chkShow")->setChecked(true);
        QCOMPARE(site().settings.store.get(Keys::ShowBoth), QStringLiteral("1"));
        control<QCheckBox>(w.get(), "chkShortcut")->setChecked(true);
        QCOMPARE(site().settings.store.get(Keys::ShortcutEnable), QStringLiteral("1"));
        site().issue(site().serviceA, 1);
        click(w.get(), "cmdNext");
        QCOMPARE(site().lastCall(QStringLiteral("callNote")), QStringLiteral("Room A"));
        click(w.get(), "cmdChPass");
        QTRY_VERIFY(w->findChild<QWidget*>(QStringLiteral("frmChPass")) != nullptr);
    }

    void counterConsoleWithoutGlobalKeysAndItsClosing() {
        site().settings.store.set(Keys::ShortcutEnable, QStringLiteral("1"));
        auto w = site().openConsole();
        // This platform has no system-wide keys: one message per key, the buttons still work.
        if (!GlobalHotKeys::isSupported()) {
            QCOMPARE(site().prompt.messages,
                     QStringList(
                         {hotKeyMessage.arg(QStringLiteral("F4")), hotKeyMessage.arg(QStringLiteral("F5")),
                          hotKeyMessage.arg(QStringLiteral("F6")), hotKeyMessage.arg(QStringLiteral("F7"))}));
            for (const auto& shown : std::as_const(site().prompt.alerts))
                QCOMPARE(shown.first, Prompt::Icon::Critical);
            QVERIFY(!w->hotKeyRegistered(0));
        }
        site().issue(site().serviceA, 1);
        click(w.get(), "cmdNext");
        QCOMPARE(text(w.get(), "lblToken"), QStringLiteral("A1"));

        QSignalSpy end(w.get(), &frmCall::programEnd);
        click(w.get(), "cmdExit"); // answered No
        QCOMPARE(site().prompt.questions, QStringList{QStringLiteral("Do you want to Close")});
        QVERIFY(w->isVisible());
        QCOMPARE(end.count(), 0);
        site().prompt.answers.enqueue(true);
        click(w.get(), "cmdExit");
        QVERIFY(!w->isVisible());
        QCOMPARE(end.count(), 1);

        // The title bar's close ends a counter station at once.
        auto again = site().openConsole();
        QSignalSpy end2(again.get(), &frmCall::programEnd);
        again->close();
        QCOMPARE(end2.count(), 1);
        QCOMPARE(site().prompt.questions.size(), 2);
    }

    void administratorsTransferApp() {
        site().session.isAdmin = true;
        site().settings.store.set(Keys::ShortcutEnable, QStringLiteral("1"));
        site().issue(site().serviceA, 1);
        site().connection.connectDb(); // as the main window did
        // With no counter remembered for transfers, "Ok" presses itself and says so.
        {
            frmSelService sel(site().connection, site().settings.store, site().session, site().clock,
                              site().prompt);
            QCOMPARE(sel.windowTitle(), QStringLiteral("Select Service"));
            sel.show();
            QTRY_COMPARE(site().prompt.messages, QStringList{QStringLiteral("Please enter a valid Counter")});
            QVERIFY(sel.isVisible());
            QVERIFY(sel.console() == nullptr);
        }
        site().prompt.messages.clear();
        site().settings.store.set(Keys::TicketTransfer, QStringLiteral("Room B"));
        frmSelService sel(site().connection, site().settings.store, site().session, site().clock,
                          site().prompt);
        QCOMPARE(text(&sel, "lblService"), QStringLiteral("Service Name  : Consult"));
        QSignalSpy opened(&sel, &frmSelService::consoleOpened);
        sel.show();
        QTRY_COMPARE(opened.count(), 1);
        QVERIFY(!sel.isVisible());
        frmCall* console = sel.console();
        QVERIFY(console);
        QCOMPARE(site().session.activeCounter, site().counterB);
        QCOMPARE(console->windowTitle(), QStringLiteral("Room B"));
        auto* tabs = control<QTabWidget>(console, "STab");
        QCOMPARE(tabs->currentIndex(), 3);
        for (int i = 0; i < tabs->count(); ++i)
            QCOMPARE(tabs->isTabEnabled(i), i == 3);
        QCOMPARE(control<QComboBox>(console, "cmbToken")->count(), 1);
        // An administrator's console takes no keys and closes without ending anything.
        QVERIFY(site().prompt.messages.isEmpty());
        QSignalSpy end(console, &frmCall::programEnd);
        QPointer<frmCall> guard(console);
        click(console, "cmdExit");
        QVERIFY(site().prompt.questions.isEmpty());
        QCOMPARE(end.count(), 0);
        QTRY_VERIFY(guard.isNull()); // deleted on close
    }

    void transferConsoleIsAnAdministratorsWhateverTheSession() {
        site().settings.store.set(Keys::ShortcutEnable, QStringLiteral("1"));
        frmCall w(site().connection, site().settings.store, site().session, site().clock, site().prompt);
        w.setTransferOnly();
        w.show();
        QVERIFY(site().prompt.messages.isEmpty());
        QSignalSpy end(&w, &frmCall::programEnd);
        click(&w, "cmdExit");
        QVERIFY(!w.isVisible());
        QVERIFY(site().prompt.questions.isEmpty());
        QCOMPARE(end.count(), 0);
    }

    void oneTransferConsoleAtATime() {
        site().session.isAdmin = true;
        site().connection.connectDb();
        auto choose = [&](const QString& counter) {
            site().settings.store.set(Keys::TicketTransfer, counter);
            auto* sel = new frmSelService(site().connection, site().settings.store, site().session,
                                          site().clock, site().prompt);
            sel->setAttribute(Qt::WA_DeleteOnClose); // as the main window makes them
            QSignalSpy opened(sel, &frmSelService::consoleOpened);
            sel->show();
            [&] {
                QTRY_COMPARE(opened.count(), 1);
            }();
            return QPointer<frmCall>(opened.at(0).at(0).value<frmCall*>());
        };
        QPointer<frmCall> first = choose(QStringLiteral("Room A"));
        QVERIFY(first);
        QPointer<frmCall> second = choose(QStringLiteral("Room B"));
        QVERIFY(second);
        // The first would now act for Room B under Room A's caption: it is gone.
        QTRY_VERIFY(first.isNull());
        QCOMPARE(second->windowTitle(), QStringLiteral("Room B"));
        delete second.data();
    }

    void administratorConsoleSwitchesCounters() {
        site().session.isAdmin = true;
        site().session.activeCounter = 0;
        site().session.activeService = 0;
        site().settings.store.set(Keys::ShortcutEnable, QStringLiteral("1"));
        const qint64 a1 = site().issue(site().serviceA, 1);
        const qint64 a2 = site().issue(site().serviceA, 2);
        const qint64 x1 = site().issue(site().serviceX, 1);
        frmCallAdmin w(site().connection, site().settings.store, site().session, site().clock, site().prompt);
        w.show();
        QCOMPARE(w.objectName(), QStringLiteral("frmCallAdmin"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Administrator Console")); // no counter yet
        QCOMPARE(control<QPushButton>(&w, "cmdCancel")->text(), QStringLiteral("Call This F6"));
        QCOMPARE(control<QPushButton>(&w, "cmdExit")->text(), QStringLiteral("Close"));
        QCOMPARE(control<QCheckBox>(&w, "chkShow")->text(), QStringLiteral("Show Counter && Display"));
        QVERIFY(!control<QTabWidget>(&w, "STab")->isTabEnabled(3));
        auto* chooser = control<QComboBox>(&w, "cmbCounter");
        QVERIFY(chooser->isVisible());
        QCOMPARE(chooser->count(), 3); // inactive counters too
        QCOMPARE(chooser->currentText(), QString());
        QVERIFY(site().prompt.messages.isEmpty()); // no hot keys here

        // Typing (with the focus, as a user types, so the box's completion is at work): a partial
        // name disables the call buttons and chooses nothing, the full name enables them.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        chooser->setFocus();
        QTRY_VERIFY(chooser->lineEdit()->hasFocus());
        QTest::keyClicks(chooser->lineEdit(), QStringLiteral("Room"));
        QCOMPARE(chooser->currentText(), QStringLiteral("Room"));
        QCOMPARE(site().session.activeCounter, 0);
        QVERIFY(!control<QPushButton>(&w, "cmdNext")->isEnabled());
        QVERIFY(!control<QPushButton>(&w, "cmdRecall")->isEnabled());
        QVERIFY(!control<QPushButton>(&w, "cmdCancel")->isEnabled());
        QTest::keyClicks(chooser->lineEdit(), QStringLiteral(" A"));
        QVERIFY(control<QPushButton>(&w, "cmdNext")->isEnabled());
        QVERIFY(control<QPushButton>(&w, "cmdCancel")->isEnabled());
        QCOMPARE(site().session.activeCounter, site().counterA);
        QCOMPARE(text(&w, "lblDr"), QStringLiteral("Dr. Ames"));
        QCOMPARE(text(&w, "lblTotal"), QStringLiteral("Total Pending : 2"));

        click(&w, "cmdNext");
        QCOMPARE(site().ticket(a1, QStringLiteral("attended")), QString::number(site().counterA));
        QCOMPARE(site().lastCall(QStringLiteral("displayName")), QStringLiteral("Dr. Ames"));

        // Counter B (pick from the list): its own last token, not A's.
        chooser->setCurrentIndex(chooser->findText(QStringLiteral("Room B")));
        QCOMPARE(text(&w, "lblDr"), QStringLiteral("Dr. Bell"));
        QCOMPARE(text(&w, "lblLast"), QStringLiteral("Last Served : Not Available"));
        w.buttonTimer()->setInterval(1);
        QTRY_VERIFY(control<QPushButton>(&w, "cmdNext")->isEnabled());
        click(&w, "cmdNext");
        QCOMPARE(site().ticket(a2, QStringLiteral("attended")), QString::number(site().counterB));
        site().db().run(QStringLiteral("UPDATE tblCall SET status='1'"));
        QTRY_VERIFY(control<QPushButton>(&w, "cmdRecall")->isEnabled());
        click(&w, "cmdRecall");
        QCOMPARE(
            site().db().scalar(QStringLiteral("SELECT tickAuto FROM tblCall WHERE status='0'")).toLongLong(),
            a2);
        QCOMPARE(site().db().scalar(QStringLiteral("SELECT COUNT(*) FROM tblCall WHERE status='0'")).toInt(),
                 1);

        // The F6 button cancels the current token.
        click(&w, "cmdCancel");
        QCOMPARE(site().ticket(a2, QStringLiteral("status")), QStringLiteral("Cancelled"));

        // The inactive X-Ray counter can be worked too; a double-click on Attended is a normal call.
        chooser->setEditText(QStringLiteral("X-Ray"));
        QTRY_VERIFY(control<QPushButton>(&w, "cmdNext")->isEnabled());
        click(&w, "cmdNext");
        QCOMPARE(site().ticket(x1, QStringLiteral("attended")), QString::number(site().counterX));
        control<QTabWidget>(&w, "STab")->setCurrentIndex(1);
        doubleClickRow(&w, "FG", 1);
        QCOMPARE(site().lastCall(QStringLiteral("callNote")), QString());
        QCOMPARE(site().lastCall(QStringLiteral("tickAuto")), QString::number(x1));
        QCOMPARE(w.windowTitle(), QStringLiteral("Administrator Console")); // the caption stays as opened

        // The window frame's close (the window system's close event) is refused; "Close" hides
        // the console with its state.
        QCloseEvent byFrame;
        QSpontaneKeyEvent::setSpontaneous(&byFrame);
        QApplication::instance()->notify(w.windowHandle(), &byFrame);
        QVERIFY(!byFrame.isAccepted());
        QVERIFY(w.isVisible());
        click(&w, "cmdExit");
        QVERIFY(!w.isVisible());
        w.show();
        QCOMPARE(chooser->currentText(), QStringLiteral("X-Ray"));
        QCOMPARE(text(&w, "lblToken"), QStringLiteral("X1"));
    }
};

TALLYVO_TEST_MAIN(TestConsole)
#include "tst_console.moc"
