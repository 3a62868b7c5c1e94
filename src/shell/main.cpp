// tallyvo: every station of a site, the role chosen at login.
#include "core/Clock.h"
#include "core/Connection.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "core/StartOptions.h"
#include "core/ui/WidgetDefaults.h"
#include "core/ui/WidgetPrompt.h"
#include "shell/Startup.h"

#include <QApplication>
#include <QMainWindow>
#include <QStatusBar>
#include <QTextStream>

using namespace tallyvo;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tallyvo"));
    QApplication::setApplicationVersion(QStringLiteral(TALLYVO_VERSION));
    // The program ends when a role's own window says so, not when some window happens to be last.
    QApplication::setQuitOnLastWindowClosed(false);
    installWidgetDefaults();

    QString error;
    const std::optional<StartOptions> options = StartOptions::parse(app.arguments().mid(1), &error);
    if (!options) {
        QTextStream(stderr) << "tallyvo: " << error << '\n';
        return 2;
    }

    // A lost server connection made again (a failover) is said in one line: in the log, and in
    // the status bar of the main window. Statements of the display's feed run on a thread of
    // their own, so the line is handed to the window thread.
    Database::setReconnectNotice([&app](const QString& line) {
        QMetaObject::invokeMethod(
            &app,
            [line] {
                QTextStream(stderr) << "tallyvo: " << line << '\n';
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* main = qobject_cast<QMainWindow*>(w); main && main->isVisible())
                        main->statusBar()->showMessage(line, 60000);
            },
            Qt::QueuedConnection);
    });

    SettingsStore settings(SettingsStore::folderFor(options->profile));
    Session session;
    Connection connection(settings, session);
    connection.setOverride(options->db);
    WidgetPrompt prompt;
    SystemClock clock;

    ShellServices services{settings, session, connection, prompt, clock, Startup::speechFactory()};
    Startup startup(services);
    QObject::connect(&startup, &Startup::programEnd, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    startup.start();
    return app.exec();
}
