#pragma once

#include "calling/ui/frmLogin.h"
#include "shell/ShellServices.h"
#include "shell/frmSplash.h"

#include <QObject>
#include <QPointer>
#include <memory>

namespace tallyvo {

class MDI;

// The program's start-up and its roles: the splash loads the main window hidden, then hands over
// to the login; an administrator gets the main window, a counter only its console. Says when the
// program is to end (programEnd): Exit, the main window closed, the login's "Exit", the counter
// console closed.
class Startup : public QObject {
    Q_OBJECT
public:
    explicit Startup(ShellServices services, QObject* parent = nullptr);
    ~Startup() override;

    // Makes the station's speech engines: the first of the installed engines that starts here
    // (speech-dispatcher, the usual default, is not always running); the default engine with its
    // reason when none does.
    static std::function<std::unique_ptr<SpeechEngine>()> speechFactory();

    // How long the splash stays before the login (2000 ms).
    void setSplashTime(int ms);
    // Shows the splash; everything else follows from its timer.
    void start();

    frmSplash* splash() const { return m_splash; }
    MDI* mainWindow() const { return m_mdi.get(); }
    frmLogin* loginWindow() const { return m_login; }
    // The counter console after a counter login; null otherwise.
    QWidget* console() const { return m_console; }

signals:
    void programEnd();
    // The login has decided the station's role.
    void adminStarted();
    void counterStarted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadMain();
    void showLogin();
    void adminIn();
    void counterIn();

    ShellServices m_services;
    std::unique_ptr<MDI> m_mdi;
    QPointer<frmSplash> m_splash;
    QPointer<frmLogin> m_login;
    QPointer<QWidget> m_console;
    int m_splashMs = 2000;
    bool m_roleChosen = false;
};

} // namespace tallyvo
