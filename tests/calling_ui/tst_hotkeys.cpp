// System-wide keys on a real X server: grabbed while another client has the focus, refused when
// another client holds them, working with NumLock on, and given back when released.
#include "calling/ui/GlobalHotKeys.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include "TestSupport.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

using namespace tallyvo;

namespace {

// Another program on the same display: its own connection, its own window.
class OtherClient {
public:
    OtherClient()
        : m_dpy(XOpenDisplay(nullptr)) {}
    ~OtherClient() {
        if (m_dpy)
            XCloseDisplay(m_dpy);
    }
    bool ok() const { return m_dpy != nullptr; }

    void focusOwnWindow() {
        const Window root = DefaultRootWindow(m_dpy);
        const Window w = XCreateSimpleWindow(m_dpy, root, 10, 10, 200, 100, 0, 0, 0);
        XMapWindow(m_dpy, w);
        XSync(m_dpy, False);
        QTest::qWait(100);
        XSetInputFocus(m_dpy, w, RevertToParent, CurrentTime);
        XSync(m_dpy, False);
    }

    // True when the grab went through.
    bool grab(KeySym sym) {
        s_failed = false;
        XErrorHandler previous = XSetErrorHandler(onError);
        XGrabKey(m_dpy, XKeysymToKeycode(m_dpy, sym), 0, DefaultRootWindow(m_dpy), True, GrabModeAsync,
                 GrabModeAsync);
        XSync(m_dpy, False);
        XSetErrorHandler(previous);
        return !s_failed;
    }

private:
    static int onError(Display*, XErrorEvent* e) {
        s_failed = e->error_code == BadAccess;
        return 0;
    }
    static inline bool s_failed = false;
    Display* m_dpy;
};

bool xdotool(const QStringList& args) {
    return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

} // namespace

class TestHotKeys : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!GlobalHotKeys::isSupported())
            QSKIP("needs an X server");
    }

    void keyReachesUsWhileAnotherClientHasFocus() {
        GlobalHotKeys keys;
        QVERIFY(keys.registerKey(0, Qt::Key_F4));
        QVERIFY(keys.registerKey(3, Qt::Key_F7));
        QSignalSpy spy(&keys, &GlobalHotKeys::activated);
        OtherClient other;
        QVERIFY(other.ok());
        other.focusOwnWindow();

        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("F4")}));
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("F7")}));
        QTRY_COMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toInt(), 3);
        // Two separate presses are two actions, not a repeat.
        QTest::qWait(50);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("F4")}));
        QTRY_COMPARE(spy.count(), 3);
        // Keys not grabbed go where the focus is.
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("F5")}));
        QTest::qWait(200);
        QCOMPARE(spy.count(), 3);
    }

    void keyReachesUsWhileOurOwnWindowHasFocus() {
        GlobalHotKeys keys;
        QVERIFY(keys.registerKey(0, Qt::Key_F4));
        QSignalSpy spy(&keys, &GlobalHotKeys::activated);
        QWidget own;
        own.show();
        QVERIFY(QTest::qWaitForWindowExposed(&own));
        QVERIFY(
            xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(own.winId())}));
        QTRY_VERIFY(own.isActiveWindow());
        for (int i = 1; i <= 3; ++i) {
            QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("F4")}));
            QTRY_COMPARE(spy.count(), i);
        }
    }

    void keysWorkWithNumLockAndCapsLockOn() {
        GlobalHotKeys keys;
        QVERIFY(keys.registerKey(0, Qt::Key_F4));
        QSignalSpy spy(&keys, &GlobalHotKeys::activated);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock"), QStringLiteral("Caps_Lock")}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("F4")}));
        QTRY_COMPARE(spy.count(), 1);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock"), QStringLiteral("Caps_Lock")}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("F4")}));
        QTRY_COMPARE(spy.count(), 2);
    }

    void heldKeyFiresOnce() {
        GlobalHotKeys keys;
        QVERIFY(keys.registerKey(0, Qt::Key_F4));
        QSignalSpy spy(&keys, &GlobalHotKeys::activated);
        QVERIFY(xdotool({QStringLiteral("keydown"), QStringLiteral("F4")}));
        QTest::qWait(900); // past the server's auto-repeat delay
        QVERIFY(xdotool({QStringLiteral("keyup"), QStringLiteral("F4")}));
        QTRY_COMPARE(spy.count(), 1);
        QTest::qWait(200);
        QCOMPARE(spy.count(), 1);
    }

    void keyHeldByAnotherClientIsRefused() {
        OtherClient other;
        QVERIFY(other.ok());
        QVERIFY(other.grab(XK_F6));
        GlobalHotKeys keys;
        QVERIFY(!keys.registerKey(2, Qt::Key_F6));
        QVERIFY(!keys.isRegistered(2));
        // The others are still free.
        QVERIFY(keys.registerKey(0, Qt::Key_F4));
        QVERIFY(keys.registerKey(1, Qt::Key_F5));
    }

    void secondOwnerInThisProcessIsRefusedUntilReleased() {
        auto first = std::make_unique<GlobalHotKeys>();
        QVERIFY(first->registerKey(0, Qt::Key_F4));
        GlobalHotKeys second;
        QVERIFY(!second.registerKey(0, Qt::Key_F4));
        QVERIFY(!first->registerKey(0, Qt::Key_F5)); // the id is taken

        first.reset(); // released on destruction
        OtherClient other;
        QVERIFY(other.grab(XK_F4));
        QVERIFY(!second.registerKey(0, Qt::Key_F4));
    }

    void releasedKeyIsFreeForOthers() {
        GlobalHotKeys keys;
        QVERIFY(keys.registerKey(0, Qt::Key_F8));
        keys.unregisterKey(0);
        QVERIFY(!keys.isRegistered(0));
        OtherClient other;
        QVERIFY(other.grab(XK_F8));
    }
};

TALLYVO_TEST_MAIN(TestHotKeys)
#include "tst_hotkeys.moc"
