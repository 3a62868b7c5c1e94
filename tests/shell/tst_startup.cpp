#include "ShellStation.h"

#include "calling/ui/RememberedPassword.h"
#include "calling/ui/frmLogin.h"
#include "core/Database.h"
#include "core/Passwords.h"
#include "display/ui/frmDisplay.h"
#include "shell/MDI.h"
#include "shell/Startup.h"
#include "shell/frmSplash.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace tallyvo;

namespace {

// A station about to start, with an administrator "boss"/"pw" besides the demo site's counters.
struct Start {
    test::ShellStation st;
    std::unique_ptr<Startup> startup;

    Start()
    {
        st.temp.db().run(QStringLiteral("INSERT INTO tbluser (username, password, usertype) VALUES (?, ?, 'Admin')"),
                         {QStringLiteral("boss"), Passwords::hash(QStringLiteral("pw"))});
    }
    ~Start()
    {
        if (startup && startup->mainWindow() && startup->mainWindow()->isDisplayRunning())
            startup->mainWindow()->display_Click();
    }

    void remember(const QString& type, const QString& name, const QString& pass, const QString& counter = {})
    {
        SettingsStore& s = st.settings.store;
        s.set(Keys::LoginRem, QStringLiteral("1"));
        s.set(Keys::LoginType, type);
        s.set(Keys::LoginName, name);
        s.set(Keys::LoginCounter, counter);
        RememberedPassword(s).write(pass);
    }

    void run()
    {
        startup = std::make_unique<Startup>(st.services());
        startup->setSplashTime(150);
        startup->start();
    }
};

} // namespace

class tst_startup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { RememberedPassword::setKeyringAllowed(false); }
    void splashLoadsTheMainWindowThenHandsOverToLogin();
    void rememberedAdminWithAutoDisplay();
    void rememberedCounterWithAutoDisplayKeepsMainWindowHidden();
    void rememberedLoginWithoutAutoWaitsForTheUser();
    void leavingTheLoginEndsTheProgram();
};

void tst_startup::splashLoadsTheMainWindowThenHandsOverToLogin()
{
    Start s;
    s.run();
    QPointer<frmSplash> splash = s.startup->splash();
    QVERIFY(splash && splash->isVisible());
    QVERIFY(!s.startup->loginWindow());
    // The main window is loaded while the splash shows, hidden.
    QTRY_VERIFY(s.startup->mainWindow() && s.startup->mainWindow()->isLoaded());
    QVERIFY(!s.startup->mainWindow()->isVisible());
    QVERIFY(!s.startup->loginWindow());

    QTRY_VERIFY(s.startup->loginWindow() && s.startup->loginWindow()->isVisible());
    QTRY_VERIFY(splash.isNull());
    frmLogin* login = s.startup->loginWindow();
    QCOMPARE(login->windowTitle(), QStringLiteral("Login Here"));
    QVERIFY(QTest::qWaitForWindowActive(login));
    QCOMPARE(QApplication::focusWidget(), login->findChild<QLineEdit*>(QStringLiteral("txtUser")));
    QVERIFY(!s.startup->mainWindow()->isDisplayRunning());

    // The administrator types and logs in: the main window comes up with the stored settings applied.
    s.st.settings.store.set(Keys::PrintNos, QStringLiteral("2"));
    QSignalSpy admin(s.startup.get(), &Startup::adminStarted);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("boss"));
    login->findChild<QLineEdit*>(QStringLiteral("txtPass"))->setText(QStringLiteral("pw"));
    login->login();
    QCOMPARE(admin.size(), 1);
    MDI* mdi = s.startup->mainWindow();
    QVERIFY(mdi->isVisible());
    QVERIFY(!mdi->action(QStringLiteral("call"))->isEnabled());
    QCOMPARE(s.st.session.ticketCopies, 2);
    QVERIFY(s.st.session.isAdmin);
    QVERIFY(s.st.has(Keys::ThemeTheme)); // the settings window's save ran
    QVERIFY(!s.startup->console());
}

void tst_startup::rememberedAdminWithAutoDisplay()
{
    Start s;
    s.st.settings.store.set(Keys::DisplayAuto, QStringLiteral("1"));
    s.remember(QStringLiteral("optAdmin"), QStringLiteral("boss"), QStringLiteral("pw"));
    s.run();
    QTRY_VERIFY(s.startup->mainWindow() && s.startup->mainWindow()->isLoaded());
    MDI* mdi = s.startup->mainWindow();
    // The display runs before the login has even opened.
    QVERIFY(mdi->isDisplayRunning());
    QVERIFY(!s.startup->loginWindow());
    QSignalSpy admin(s.startup.get(), &Startup::adminStarted);
    QTRY_COMPARE(admin.size(), 1);
    QVERIFY(mdi->isVisible());
    QCOMPARE(mdi->action(QStringLiteral("display"))->text(), QStringLiteral("Stop Display"));
    QVERIFY(mdi->displayWindow()->isVisible());
    QTRY_VERIFY(!s.startup->loginWindow());
    QVERIFY(s.st.prompt.messages.isEmpty());
}

void tst_startup::rememberedCounterWithAutoDisplayKeepsMainWindowHidden()
{
    Start s;
    s.st.settings.store.set(Keys::DisplayAuto, QStringLiteral("1"));
    s.remember(QStringLiteral("optCounter"), QStringLiteral("counter1"), QStringLiteral("1111"),
               QStringLiteral("Counter 1"));
    s.run();
    QSignalSpy counter(s.startup.get(), &Startup::counterStarted);
    QSignalSpy end(s.startup.get(), &Startup::programEnd);
    QTRY_COMPARE(counter.size(), 1);
    MDI* mdi = s.startup->mainWindow();
    QVERIFY(!mdi->isVisible());
    QVERIFY(mdi->isDisplayRunning());
    QVERIFY(s.startup->console() && s.startup->console()->isVisible());
    QVERIFY(!s.st.session.isAdmin);
    QCOMPARE(s.st.session.activeCounter,
             s.st.temp.db().scalar(QStringLiteral("SELECT cntAuto FROM tblCounter WHERE contName='Counter 1'")).toInt());

    // Only the display's own Ctrl+D stops it on this station.
    frmDisplay* display = mdi->displayWindow();
    display->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(display));
    QTest::keyClick(display, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(!mdi->isDisplayRunning());

    // Closing the console ends the program.
    s.startup->console()->close();
    QTRY_VERIFY(end.size() >= 1);
}

void tst_startup::rememberedLoginWithoutAutoWaitsForTheUser()
{
    Start s;
    s.remember(QStringLiteral("optAdmin"), QStringLiteral("boss"), QStringLiteral("pw"));
    s.run();
    QTRY_VERIFY(s.startup->loginWindow() && s.startup->loginWindow()->isVisible());
    QTest::qWait(300);
    QVERIFY(s.startup->loginWindow() && s.startup->loginWindow()->isVisible());
    QVERIFY(!s.startup->mainWindow()->isVisible());
    QVERIFY(!s.startup->mainWindow()->isDisplayRunning());
    QCOMPARE(s.startup->loginWindow()->findChild<QLineEdit*>(QStringLiteral("txtUser"))->text(),
             QStringLiteral("boss"));
}

void tst_startup::leavingTheLoginEndsTheProgram()
{
    {
        Start s;
        s.run();
        QTRY_VERIFY(s.startup->loginWindow() && s.startup->loginWindow()->isVisible());
        QSignalSpy end(s.startup.get(), &Startup::programEnd);
        QTest::mouseClick(s.startup->loginWindow()->findChild<QPushButton*>(QStringLiteral("cmdExit")),
                          Qt::LeftButton);
        QTRY_VERIFY(end.size() >= 1);
    }
    {
        // Its close box decides nothing either: the program does not go on without a window.
        Start s;
        s.run();
        QTRY_VERIFY(s.startup->loginWindow() && s.startup->loginWindow()->isVisible());
        QSignalSpy end(s.startup.get(), &Startup::programEnd);
        s.startup->loginWindow()->close();
        QTRY_COMPARE(end.size(), 1);
    }
}

TALLYVO_TEST_MAIN(tst_startup)
#include "tst_startup.moc"
