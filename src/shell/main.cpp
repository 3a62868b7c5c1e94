// tallyvo: every station of a site, the role chosen at login.
#include "core/Connection.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "core/StartOptions.h"
#include "core/ui/WidgetPrompt.h"
#include "core/ui/frmSql.h"

#include <QApplication>
#include <QTextStream>

using namespace tallyvo;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tallyvo"));

    QString error;
    const std::optional<StartOptions> options = StartOptions::parse(app.arguments().mid(1), &error);
    if (!options) {
        QTextStream(stderr) << "tallyvo: " << error << '\n';
        return 2;
    }

    SettingsStore settings(SettingsStore::folderFor(options->profile));
    Session session;
    Connection connection(settings, session);
    connection.setOverride(options->db);
    WidgetPrompt prompt;

    frmSql sqlWindow(settings, session, connection, prompt);
    connection.setFailureHandler([&](const QString&) {
        sqlWindow.show();
        sqlWindow.raise();
    });
    connection.loadSqlValues();
    connection.connectDb();
    // The connection window is the station's only window until the login and main window exist.
    sqlWindow.show();
    return app.exec();
}
