#include "shell/Startup.h"

#include "calling/ui/frmCall.h"
#include "calling/ui/frmLogin.h"
#include "core/Connection.h"
#include "core/Prompt.h"
#include "core/SettingsStore.h"
#include "display/QtSpeechEngine.h"
#include "shell/MDI.h"
#include "shell/SpeechPool.h"
#include "shell/frmSplash.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTextToSpeech>
#include <QTimer>

namespace tallyvo {

Startup::Startup(ShellServices services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
{
}

Startup::~Startup()
{
    delete m_console;
    delete m_login;
    delete m_splash;
}

std::function<std::unique_ptr<SpeechEngine>()> Startup::speechFactory()
{
    auto chosen = std::make_shared<std::optional<QString>>();
    return SpeechPool::factory([chosen]() -> std::unique_ptr<SpeechEngine> {
        if (*chosen)
            return std::make_unique<QtSpeechEngine>(**chosen);
        QStringList names{QString()};
        names += QTextToSpeech::availableEngines();
        std::unique_ptr<SpeechEngine> fallback;
        for (const QString& name : std::as_const(names)) {
            auto engine = std::make_unique<QtSpeechEngine>(name);
            if (engine->error().isEmpty()) {
                *chosen = name;
                return engine;
            }
            if (!fallback)
                fallback = std::move(engine);
        }
        return fallback;
    });
}

void Startup::setSplashTime(int ms)
{
    m_splashMs = ms;
    if (m_splash)
        m_splash->Timer1()->setInterval(ms);
}

void Startup::start()
{
    m_services.connection.loadSqlValues();
    m_splash = new frmSplash;
    m_splash->setAttribute(Qt::WA_DeleteOnClose);
    m_splash->Timer1()->setInterval(m_splashMs);
    connect(m_splash, &frmSplash::activated, this, &Startup::loadMain);
    connect(m_splash, &frmSplash::timeUp, this, &Startup::showLogin);
    m_splash->show();
}

void Startup::loadMain()
{
    if (m_mdi)
        return;
    m_mdi = std::make_unique<MDI>(m_services);
    connect(m_mdi.get(), &MDI::programEnd, this, &Startup::programEnd);
    // A station that cannot reach its database gets the connection window at once.
    m_services.connection.setFailureHandler([this](const QString&) {
        if (m_mdi)
            m_mdi->connect_Click();
    });
    // A new, empty database is no surprise to whoever meant to start a site, and a warning to
    // whoever expected theirs: say which file it is.
    m_services.connection.setCreatedHandler([this](const QString& text) { m_services.prompt.message(text); });
    m_mdi->load();
}

void Startup::showLogin()
{
    loadMain();
    m_login = new frmLogin(m_services.connection, m_services.settings, m_services.session, m_services.prompt);
    m_login->setAttribute(Qt::WA_DeleteOnClose);
    m_login->installEventFilter(this);
    connect(m_login, &frmLogin::adminLoggedIn, this, &Startup::adminIn);
    connect(m_login, &frmLogin::counterLoggedIn, this, &Startup::counterIn);
    connect(m_login, &frmLogin::exitRequested, this, &Startup::programEnd);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_login->move(screen->availableGeometry().center() - m_login->rect().center());
    m_login->show();
    m_login->raise();
    m_login->activateWindow();
    // An administrator types the user name at once.
    auto* admin = m_login->findChild<QRadioButton*>(QStringLiteral("optAdmin"));
    if (auto* user = m_login->findChild<QLineEdit*>(QStringLiteral("txtUser")); user && admin && admin->isChecked())
        user->setFocus(Qt::ActiveWindowFocusReason);
    if (m_services.settings.get(Keys::DisplayAuto) == QLatin1String("1"))
        m_login->login();
    if (m_splash)
        m_splash->close();
}

bool Startup::eventFilter(QObject* watched, QEvent* event)
{
    // The login closed by its window's close box decides nothing: the program ends, rather than
    // going on without a window.
    if (watched == m_login && event->type() == QEvent::Close) {
        QTimer::singleShot(0, this, [this] {
            if (!m_roleChosen)
                emit programEnd();
        });
    }
    return QObject::eventFilter(watched, event);
}

void Startup::adminIn()
{
    m_roleChosen = true;
    m_mdi->show();
    m_mdi->applySettings();
    m_mdi->disableCall();
    emit adminStarted();
}

void Startup::counterIn()
{
    m_roleChosen = true;
    // A counter station is its console alone; the console says when the program ends.
    auto* console = new frmCall(m_services.connection, m_services.settings, m_services.session, m_services.clock,
                                m_services.prompt);
    console->setAttribute(Qt::WA_DeleteOnClose);
    connect(console, &frmCall::programEnd, this, &Startup::programEnd);
    m_console = console;
    console->show();
    emit counterStarted();
}

} // namespace tallyvo
