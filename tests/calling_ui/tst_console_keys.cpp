// The counter console's system-wide keys on a real X server: F4 to F7 work while another program
// has the focus, a second console is told about every key it cannot have, and closing gives the
// keys back.
#include "calling/ui/GlobalHotKeys.h"
#include "calling/ui/frmCall.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "ConsoleFixture.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

using namespace tallyvo;
using test::control;

namespace {

const QString hotKeyMessage = QStringLiteral(
    "Can not register all or one of the hotkeys %1 ... Try other keys this key is already registered by some "
    "other running applications.");

void press(const char* key) {
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QLatin1String(key)}), 0);
}

// Another program on the display, with the input focus on its own window.
class OtherProgram {
public:
    OtherProgram()
        : m_dpy(XOpenDisplay(nullptr)) {
        const Window w = XCreateSimpleWindow(m_dpy, DefaultRootWindow(m_dpy), 0, 0, 300, 200, 0, 0, 0);
        XMapWindow(m_dpy, w);
        XSync(m_dpy, False);
        QTest::qWait(100);
        XSetInputFocus(m_dpy, w, RevertToParent, CurrentTime);
        XSync(m_dpy, False);
    }
    ~OtherProgram() { XCloseDisplay(m_dpy); }
    void grab(KeySym sym) {
        XGrabKey(m_dpy, XKeysymToKeycode(m_dpy, sym), 0, DefaultRootWindow(m_dpy), True, GrabModeAsync,
                 GrabModeAsync);
        XSync(m_dpy, False);
    }

private:
    Display* m_dpy;
};

} // namespace

class TestConsoleKeys : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::ConsoleSite> m_site;
    test::ConsoleSite& site() { return *m_site; }

private slots:
    void initTestCase() {
        if (!GlobalHotKeys::isSupported())
            QSKIP("needs an X server");
    }
    void init() { m_site = std::make_unique<test::ConsoleSite>(); }
    void cleanup() { m_site.reset(); }

    void keysWorkWhileAnotherProgramHasTheFocus() {
        const qint64 a1 = site().issue(site().serviceA, 1);
        site().issue(site().serviceA, 2);
        auto w = site().openConsole();
        QVERIFY(site().prompt.messages.isEmpty());
        for (int id = 0; id < 4; ++id)
            QVERIFY(w->hotKeyRegistered(id));
        OtherProgram other;

        press("F4");
        QTRY_COMPARE(control<QLabel>(w.get(), "lblToken")->text(), QStringLiteral("A1"));
        QCOMPARE(site().callRows(), 1);
        // The keys stay live while the buttons wait for their timer.
        QVERIFY(!control<QPushButton>(w.get(), "cmdNext")->isEnabled());
        site().db().run(QStringLiteral("UPDATE tblCall SET status='1'"));
        press("F5");
        QTRY_COMPARE(site().lastCall(QStringLiteral("status")), QStringLiteral("0"));
        press("F6");
        QTRY_COMPARE(site().ticket(a1, QStringLiteral("status")), QStringLiteral("Cancelled"));
        QSignalSpy refreshed(w.get(), &CallConsole::refreshed);
        press("F7");
        QTRY_COMPARE(refreshed.count(), 1);
        press("F4");
        QTRY_COMPARE(control<QLabel>(w.get(), "lblToken")->text(), QStringLiteral("A2"));
        QCOMPARE(site().callRows(), 2);
    }

    void secondConsoleIsToldAndStillWorks() {
        site().issue(site().serviceA, 1);
        auto first = site().openConsole();
        QVERIFY(site().prompt.messages.isEmpty());
        site().session.activeCounter = site().counterB;
        auto second = site().openConsole();
        QCOMPARE(
            site().prompt.messages,
            QStringList({hotKeyMessage.arg(QStringLiteral("F4")), hotKeyMessage.arg(QStringLiteral("F5")),
                         hotKeyMessage.arg(QStringLiteral("F6")), hotKeyMessage.arg(QStringLiteral("F7"))}));
        QVERIFY(!second->hotKeyRegistered(0));
        QTest::mouseClick(control<QPushButton>(second.get(), "cmdNext"), Qt::LeftButton);
        QCOMPARE(control<QLabel>(second.get(), "lblToken")->text(), QStringLiteral("A1"));
        QCOMPARE(site().lastCall(QStringLiteral("displayName")), QStringLiteral("Dr. Bell"));

        // Closing the first console gives its keys back.
        site().prompt.answers.enqueue(true);
        QTest::mouseClick(control<QPushButton>(first.get(), "cmdExit"), Qt::LeftButton);
        QVERIFY(!first->hotKeyRegistered(0));
        GlobalHotKeys again;
        QVERIFY(again.registerKey(0, Qt::Key_F4));
    }

    void keyHeldByAnotherProgramIsReportedAlone() {
        OtherProgram other;
        other.grab(XK_F6);
        auto w = site().openConsole();
        QCOMPARE(site().prompt.alerts, (QList<QPair<Prompt::Icon, QString>>{
                                           {Prompt::Icon::Critical, hotKeyMessage.arg(QStringLiteral("F6"))}}));
        QVERIFY(w->hotKeyRegistered(0));
        QVERIFY(!w->hotKeyRegistered(2));
        QVERIFY(w->hotKeyRegistered(3));
    }

    void noKeysWhenSwitchedOff() {
        site().settings.store.set(Keys::ShortcutEnable, QStringLiteral("0"));
        auto w = site().openConsole();
        QVERIFY(!w->hotKeyRegistered(0));
        QVERIFY(site().prompt.messages.isEmpty());
        GlobalHotKeys other;
        QVERIFY(other.registerKey(0, Qt::Key_F4));
    }
};

TALLYVO_TEST_MAIN(TestConsoleKeys)
#include "tst_console_keys.moc"
