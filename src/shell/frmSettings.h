#pragma once

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class frmSettings;
}

namespace tallyvo {

class Connection;
class Prompt;
class SettingsStore;
class SpeechEngine;
struct Session;

// "Settings": the station's own settings (ticket printer and window, the site's web address, announcement voice and
// text, display theme and screen mode, scroll speed, automatic display start, live video input,
// default transfer counter). Reads the store each time it is built; writes it only on "Save".
//
// "Save" also sets the session's ticketCopies and reports the theme key and scroll speed the
// main window is to use from now on (themeKeyChanged, scrollSpeedChanged).
class frmSettings : public QDialog {
    Q_OBJECT
public:
    using SpeechFactory = std::function<std::unique_ptr<SpeechEngine>()>;

    // speech makes the window's own engine for its voice list and "Test Voice"; it may return
    // null (no speech on this station).
    frmSettings(SettingsStore& settings, Session& session, Connection& connection, Prompt& prompt,
                SpeechFactory speech, QWidget* parent = nullptr);
    ~frmSettings() override;

    // The list fills.
    void addPrinter();
    void addTheme();
    void addVoice();
    void addInput();
    void addcount();
    // Refills the theme list, keeping the theme shown.
    void refreshThemes();

    // "Save": corrects, stores, applies and closes. False when it refused (no theme, a web address
    // that is not one): the window stays open.
    bool Command1_Click();
    // "Test Voice": speaks the template as typed.
    void Command2_Click();

    // Whether text counts as a number where the window expects one ("12", " 3 ", "-2", "1.5").
    static bool isNumber(const QString& text);

    SpeechEngine* speechEngine() const { return m_speech.get(); }
    // Why this window cannot speak ("" when it can).
    QString voiceError() const { return m_voiceError; }

signals:
    void themeKeyChanged(int themeKey);
    void scrollSpeedChanged(int scrollSpeed);
    void saved();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void showStored();
    void fixCopies();
    void sayNext();

    std::unique_ptr<Ui::frmSettings> m_ui;
    SettingsStore& m_settings;
    Session& m_session;
    Connection& m_connection;
    Prompt& m_prompt;
    SpeechFactory m_speechFactory;
    std::unique_ptr<SpeechEngine> m_speech;
    QString m_voiceError;
    bool m_voiceErrorShown = false;
    bool m_speaking = false;
    QStringList m_toSay;
};

} // namespace tallyvo
