#pragma once

#include <QString>

namespace tallyvo {

class SettingsStore;

// The password of a remembered login (setting Login/Pass). It is never kept as typed: when the
// desktop runs a keyring (Secret Service or KWallet over D-Bus, the Windows credential store), the
// password goes there and the setting holds only a marker; otherwise the setting holds it
// obfuscated and the settings file is made readable by its owner only. A password left as plain
// text by an older version is read once and then stored the new way.
class RememberedPassword {
public:
    enum class Where { Nowhere, Keyring, SettingsFile };

    explicit RememberedPassword(SettingsStore& settings);

    QString read();
    // An empty password forgets the remembered one.
    void write(const QString& password);
    // Where the last read or write found or put the password.
    Where where() const { return m_where; }

    // Off for tests and for stations that must not touch the desktop keyring.
    static void setKeyringAllowed(bool allowed);

private:
    QString keyringKey() const;
    void protectFile() const;

    SettingsStore& m_settings;
    Where m_where = Where::Nowhere;
};

} // namespace tallyvo
