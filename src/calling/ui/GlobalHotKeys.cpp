#include "calling/ui/GlobalHotKeys.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <set>

#if defined(Q_OS_WIN)
#include <windows.h>
#elif QT_CONFIG(xcb)
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>
#endif

namespace tallyvo {

namespace {

// Keys held by any GlobalHotKeys of this process: the X server lets one client grab a key twice,
// but two consoles of one process must not both answer it.
std::set<unsigned>& keysInUse() {
    static std::set<unsigned> keys;
    return keys;
}

// A held key repeats; presses closer together than this while it is down are repeats.
constexpr quint32 repeatWindowMs = 2000;

#if defined(Q_OS_WIN)

unsigned nativeKey(int qtKey) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return VK_F1 + static_cast<unsigned>(qtKey - Qt::Key_F1);
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
        return static_cast<unsigned>(qtKey);
    return 0;
}

// Thread-wide hot-key ids are shared by every window of the thread: keep ours apart.
int winId(int id) {
    return 0x5a00 + id;
}

#elif QT_CONFIG(xcb)

Display* x11Display() {
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return app ? app->display() : nullptr;
}

unsigned long keySym(int qtKey) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return XK_F1 + static_cast<unsigned long>(qtKey - Qt::Key_F1);
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return XK_a + static_cast<unsigned long>(qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return XK_0 + static_cast<unsigned long>(qtKey - Qt::Key_0);
    return NoSymbol;
}

// With NumLock (Mod2) or CapsLock on the server reports the key with that modifier, and a grab
// without it would not fire.
const unsigned lockCombinations[] = {0, Mod2Mask, LockMask, Mod2Mask | LockMask};

bool g_grabFailed = false;

int recordGrabError(Display*, XErrorEvent* error) {
    if (error->error_code == BadAccess)
        g_grabFailed = true;
    return 0;
}

void ungrab(Display* dpy, unsigned code) {
    for (unsigned mods : lockCombinations)
        XUngrabKey(dpy, static_cast<int>(code), mods, DefaultRootWindow(dpy));
}

// Grabs code with every lock combination; false (and nothing left grabbed) when another client
// holds any of them.
bool grab(Display* dpy, unsigned code) {
    XSync(dpy, False);
    g_grabFailed = false;
    XErrorHandler previous = XSetErrorHandler(recordGrabError);
    // owner_events False: the press and its release always come for the root window, also while one
    // of this program's own windows has the focus (which would otherwise get them as plain keys).
    for (unsigned mods : lockCombinations)
        XGrabKey(dpy, static_cast<int>(code), mods, DefaultRootWindow(dpy), False, GrabModeAsync,
                 GrabModeAsync);
    XSync(dpy, False);
    const bool failed = g_grabFailed;
    if (failed) {
        ungrab(dpy, code);
        XSync(dpy, False);
    }
    XSetErrorHandler(previous);
    return !failed;
}

#endif

} // namespace

GlobalHotKeys::GlobalHotKeys(QObject* parent)
    : QObject(parent) {}

GlobalHotKeys::~GlobalHotKeys() {
    unregisterAll();
}

bool GlobalHotKeys::isSupported() {
#if defined(Q_OS_WIN)
    return true;
#elif QT_CONFIG(xcb)
    return x11Display() != nullptr;
#else
    return false;
#endif
}

bool GlobalHotKeys::registerKey(int id, int qtKey) {
    if (m_keys.count(id) != 0)
        return false;
    Grab g;
#if defined(Q_OS_WIN)
    g.code = nativeKey(qtKey);
    if (g.code == 0 || keysInUse().count(g.code) != 0)
        return false;
    if (!RegisterHotKey(nullptr, winId(id), MOD_NOREPEAT, g.code))
        return false;
#elif QT_CONFIG(xcb)
    Display* dpy = x11Display();
    const unsigned long sym = keySym(qtKey);
    if (!dpy || sym == NoSymbol)
        return false;
    g.code = XKeysymToKeycode(dpy, sym);
    if (g.code == 0 || keysInUse().count(g.code) != 0)
        return false;
    if (!grab(dpy, g.code))
        return false;
#else
    Q_UNUSED(qtKey);
    return false;
#endif
    keysInUse().insert(g.code);
    m_keys[id] = g;
    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    return true;
}

void GlobalHotKeys::unregisterKey(int id) {
    const auto it = m_keys.find(id);
    if (it == m_keys.end())
        return;
#if defined(Q_OS_WIN)
    UnregisterHotKey(nullptr, winId(id));
#elif QT_CONFIG(xcb)
    if (Display* dpy = x11Display()) {
        ungrab(dpy, it->second.code);
        XFlush(dpy);
    }
#endif
    keysInUse().erase(it->second.code);
    m_keys.erase(it);
    if (m_keys.empty() && m_filterInstalled) {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
        m_filterInstalled = false;
    }
}

void GlobalHotKeys::unregisterAll() {
    while (!m_keys.empty())
        unregisterKey(m_keys.begin()->first);
}

void GlobalHotKeys::fire(int id) {
    // Queued: the events that were already waiting run before the action.
    QMetaObject::invokeMethod(
        this, [this, id] { emit activated(id); }, Qt::QueuedConnection);
}

bool GlobalHotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) {
    Q_UNUSED(result);
#if defined(Q_OS_WIN)
    if (eventType != "windows_generic_MSG" && eventType != "windows_dispatcher_MSG")
        return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_HOTKEY)
        return false;
    for (const auto& [id, g] : m_keys) {
        if (winId(id) == static_cast<int>(msg->wParam)) {
            fire(id);
            return true;
        }
    }
    return false;
#elif QT_CONFIG(xcb)
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* ev = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = ev->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    Display* dpy = x11Display();
    if (!dpy || key->event != DefaultRootWindow(dpy))
        return false;
    for (auto& [id, g] : m_keys) {
        if (g.code != key->detail)
            continue;
        if (type == XCB_KEY_RELEASE) {
            g.down = false;
            g.lastRelease = key->time;
            return true;
        }
        // A held key repeats: without detectable auto-repeat as a release and a press with one
        // time stamp, with it as presses without releases. A press long after the last one
        // counts again, so a release that never came cannot silence the key.
        const quint32 since = key->time - g.lastPress;
        const bool repeat =
            (g.lastRelease != 0 && key->time == g.lastRelease) || (g.down && since < repeatWindowMs);
        g.lastPress = key->time;
        g.down = true;
        if (!repeat)
            fire(id);
        return true;
    }
    return false;
#else
    Q_UNUSED(eventType);
    Q_UNUSED(message);
    return false;
#endif
}

} // namespace tallyvo
