#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <map>

namespace tallyvo {

// Keys that reach this program while another program has the focus, without modifiers.
//
// On X11 each key is grabbed on the root window of the program's own display connection, also
// with NumLock and CapsLock on so it keeps working whatever their state. A key already grabbed by
// another client (or by another GlobalHotKeys of this process) cannot be registered. On Windows
// the keys go through RegisterHotKey. On any other platform (offscreen, Wayland) no key can be
// registered and the caller's buttons are the only way in.
//
// activated() is queued, so whatever events were pending when the key arrived run first, and a
// key held down fires once, not at the keyboard's repeat rate.
class GlobalHotKeys : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit GlobalHotKeys(QObject* parent = nullptr);
    ~GlobalHotKeys() override;
    GlobalHotKeys(const GlobalHotKeys&) = delete;
    GlobalHotKeys& operator=(const GlobalHotKeys&) = delete;

    // Whether this platform can give the program system-wide keys at all.
    static bool isSupported();

    // Grabs key (F1...F12, letters, digits: keys with one fixed key code) under id. False when the
    // key is taken, the platform has no system-wide keys, or id is already in use here.
    bool registerKey(int id, int qtKey);
    void unregisterKey(int id);
    void unregisterAll();
    bool isRegistered(int id) const { return m_keys.count(id) != 0; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void activated(int id);

private:
    struct Grab {
        unsigned code = 0; // X11 key code or Windows virtual key
        // X11 server times of the key's last press and release, to tell a held key's repeats.
        quint32 lastPress = 0;
        quint32 lastRelease = 0;
        bool down = false;
    };

    void fire(int id);

    std::map<int, Grab> m_keys;
    bool m_filterInstalled = false;
};

} // namespace tallyvo
