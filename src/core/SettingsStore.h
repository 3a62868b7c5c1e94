#pragma once

#include <QString>

namespace tallyvo {

// One settings key: application, section, key and the value a reader gets when it is missing.
struct SettingKey {
    QString app;
    QString section;
    QString key;
    QString fallback;
};

// Every key the program uses, with its default, in one place.
namespace Keys {
// Connection.
inline const SettingKey SqlEngine{QStringLiteral("Queue"), QStringLiteral("Sql"), QStringLiteral("engine"),
                                  QStringLiteral("Embedded")};
inline const SettingKey SqlHost{QStringLiteral("Queue"), QStringLiteral("Sql"), QStringLiteral("host"), {}};
inline const SettingKey SqlDatabase{QStringLiteral("Queue"), QStringLiteral("Sql"), QStringLiteral("database"), {}};
inline const SettingKey SqlUser{QStringLiteral("Queue"), QStringLiteral("Sql"), QStringLiteral("user"), {}};
inline const SettingKey SqlPassword{QStringLiteral("Queue"), QStringLiteral("Sql"), QStringLiteral("password"), {}};
inline const SettingKey SqlAut{QStringLiteral("Queue"), QStringLiteral("Sql"), QStringLiteral("aut"),
                               QStringLiteral("SQL Authentication")};
// Login.
inline const SettingKey LoginRem{QStringLiteral("Queue"), QStringLiteral("Login"), QStringLiteral("Rem"),
                                 QStringLiteral("0")};
inline const SettingKey LoginType{QStringLiteral("Queue"), QStringLiteral("Login"), QStringLiteral("type"),
                                  QStringLiteral("optAdmin")};
inline const SettingKey LoginName{QStringLiteral("Queue"), QStringLiteral("Login"), QStringLiteral("Name"), {}};
inline const SettingKey LoginPass{QStringLiteral("Queue"), QStringLiteral("Login"), QStringLiteral("Pass"), {}};
inline const SettingKey LoginCounter{QStringLiteral("Queue"), QStringLiteral("Login"), QStringLiteral("Counter"),
                                     {}};
// Display and theme.
inline const SettingKey DisplayAuto{QStringLiteral("Queue"), QStringLiteral("Display"), QStringLiteral("Auto"),
                                    QStringLiteral("0")};
// The main window falls back to "HR1"; the settings window shows "Black H" and saves "Black"
// when nothing is chosen: those readers pass their own default.
inline const SettingKey ThemeTheme{QStringLiteral("Queue"), QStringLiteral("theme"), QStringLiteral("theme"),
                                   QStringLiteral("HR1")};
inline const SettingKey ThemeScreen{QStringLiteral("Queue"), QStringLiteral("theme"), QStringLiteral("screen"),
                                    QStringLiteral("Single")};
inline const SettingKey ThemeCut{QStringLiteral("Queue"), QStringLiteral("theme"), QStringLiteral("cut"),
                                 QStringLiteral("F")};
inline const SettingKey ThemeScroll{QStringLiteral("Queue"), QStringLiteral("theme"), QStringLiteral("scroll"),
                                    QStringLiteral("0")};
inline const SettingKey ScrollSpeed{QStringLiteral("queue"), QStringLiteral("scroll"), QStringLiteral("speed"),
                                    QStringLiteral("30")};
inline const SettingKey NewsEditorSpeed{QStringLiteral("display"), QStringLiteral("scroll"),
                                        QStringLiteral("speed"), QStringLiteral("30")};
// Speech.
inline const SettingKey VoiceName{QStringLiteral("queue"), QStringLiteral("Voice"), QStringLiteral("Name"),
                                  QStringLiteral("0")};
inline const SettingKey VoiceSpeed{QStringLiteral("Queue"), QStringLiteral("Voice"), QStringLiteral("Speed"),
                                   QStringLiteral("0")};
inline const SettingKey VoiceFormat{QStringLiteral("queue"), QStringLiteral("Voice"), QStringLiteral("format"),
                                    QStringLiteral("Tocken number * please move to the  ,#")};
// Media.
inline const SettingKey PicDuration{QStringLiteral("Queue"), QStringLiteral("Pic"), QStringLiteral("Duration"),
                                    QStringLiteral("5")};
inline const SettingKey VideoIn{QStringLiteral("Queue"), QStringLiteral("Video"), QStringLiteral("VideoIn"),
                                QStringLiteral("0")};
inline const SettingKey VideoSource{QStringLiteral("Queue"), QStringLiteral("Video"), QStringLiteral("Source"),
                                    QStringLiteral("-1")};
// Ticket station.
inline const SettingKey TicketScreen{QStringLiteral("queue"), QStringLiteral("Ticket"), QStringLiteral("screen"),
                                     QStringLiteral("Normal")};
inline const SettingKey TicketTransfer{QStringLiteral("queue"), QStringLiteral("Ticket"),
                                       QStringLiteral("transfer"), {}};
inline const SettingKey PrintNos{QStringLiteral("queue"), QStringLiteral("print"), QStringLiteral("nos"),
                                 QStringLiteral("1")};
inline const SettingKey PrinterName{QStringLiteral("queue"), QStringLiteral("printer"), QStringLiteral("name"), {}};
// Paper of a thermal printer named escpos://...: "80" (mm) or "58".
inline const SettingKey PrinterWidth{QStringLiteral("queue"), QStringLiteral("printer"), QStringLiteral("width"),
                                     QStringLiteral("80")};
inline const SettingKey PrinterRow{QStringLiteral("queue"), QStringLiteral("printer"), QStringLiteral("row"),
                                   QStringLiteral("500")};
// The site's web station, "https://queue.example.org": tickets carry a QR code of the token's
// page there. Empty: no web station, tickets as they always were.
inline const SettingKey WebAddress{QStringLiteral("queue"), QStringLiteral("web"), QStringLiteral("address"), {}};
// Consoles.
inline const SettingKey ShortcutEnable{QStringLiteral("queue"), QStringLiteral("shortcut"),
                                       QStringLiteral("enable"), QStringLiteral("1")};
inline const SettingKey ShowBoth{QStringLiteral("queue"), QStringLiteral("show"), QStringLiteral("both"),
                                 QStringLiteral("0")};
} // namespace Keys

// The per-user settings: one INI file per application name in a folder of the user's, a folder
// of its own for each --profile. Application, section and key names are compared without regard
// to case, also in a file written by hand. Values are text. Folders and files are created
// readable by their owner only.
class SettingsStore {
public:
    explicit SettingsStore(QString folder);

    // ~/.config/tallyvo, or ~/.config/tallyvo/profiles/NAME for a profile.
    static QString folderFor(const QString& profile);
    // Profile names are used as folder names: letters, digits, '-', '_' and '.' only.
    static bool isValidProfile(const QString& profile);

    QString folder() const { return m_folder; }

    QString value(const QString& app, const QString& section, const QString& key, const QString& fallback) const;
    void setValue(const QString& app, const QString& section, const QString& key, const QString& value);
    bool contains(const QString& app, const QString& section, const QString& key) const;

    QString get(const SettingKey& k) const { return value(k.app, k.section, k.key, k.fallback); }
    QString get(const SettingKey& k, const QString& fallback) const { return value(k.app, k.section, k.key, fallback); }
    // The value as a whole number; the default's number when it is missing or not a number.
    int getInt(const SettingKey& k) const;
    bool contains(const SettingKey& k) const { return contains(k.app, k.section, k.key); }
    void set(const SettingKey& k, const QString& v) { setValue(k.app, k.section, k.key, v); }

private:
    QString fileFor(const QString& app) const;
    void ensureOwnerOnlyFile(const QString& file) const;

    QString m_folder;
};

} // namespace tallyvo
