#include "core/Connection.h"

#include "core/Paths.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "core/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tallyvo {

Connection::Connection(SettingsStore& settings, Session& session)
    : m_settings(settings)
    , m_session(session)
    , m_db(std::make_shared<Database>(DbUrl::sqlite(QString())))
{
}

void Connection::loadSqlValues()
{
    m_session.sqlHost = m_settings.get(Keys::SqlHost);
    m_session.sqlDatabase = m_settings.get(Keys::SqlDatabase);
    m_session.sqlUser = m_settings.get(Keys::SqlUser);
    m_session.sqlPassword = m_settings.get(Keys::SqlPassword);
}

QString Connection::defaultDatabaseFile()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/tallyvo/tallyvo.sqlite");
}

DbUrl Connection::target() const
{
    if (m_override)
        return *m_override;
    if (m_settings.get(Keys::SqlEngine) != QLatin1String("PostgreSQL")) {
        const QString file = m_session.sqlDatabase.trimmed();
        return DbUrl::sqlite(file.isEmpty() ? defaultDatabaseFile() : file);
    }
    DbUrl u;
    u.engine = Engine::Postgres;
    // The host box takes "name" or "name:port".
    const QString host = m_session.sqlHost.trimmed();
    const qsizetype colon = host.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const int port = colon > 0 ? host.mid(colon + 1).toInt(&portOk) : 0;
    u.host = portOk ? host.left(colon) : host;
    u.port = portOk ? port : 5432;
    if (u.host.isEmpty())
        u.host = QStringLiteral("localhost");
    u.database = m_session.sqlDatabase.trimmed();
    // Any mode but "SQL Authentication" leaves the login to the server: the operating-system user.
    if (m_settings.get(Keys::SqlAut) == QLatin1String("SQL Authentication")) {
        u.user = m_session.sqlUser;
        u.password = m_session.sqlPassword;
    }
    return u;
}

bool Connection::connectDb()
{
    auto db = std::make_shared<Database>(target());
    QString error;
    bool ok = db->open(&error);
    if (ok) {
        try {
            Schema::upgrade(*db);
        } catch (const DbError& e) {
            error = QStringLiteral("The database %1 cannot be prepared: %2").arg(db->url().describe(), e.text());
            db->close();
            ok = false;
        }
    }
    m_db = db;
    if (ok) {
        m_lastError.clear();
        // Backup copies the file path.txt names: it follows the database the station uses.
        if (db->engine() == Engine::Sqlite && !db->url().path.isEmpty() && db->url().path != QLatin1String(":memory:"))
            Paths::recordDbPath(m_settings.folder(), QFileInfo(db->url().path).absoluteFilePath());
        return true;
    }
    m_lastError = error;
    if (m_onFailure)
        m_onFailure(error);
    return false;
}

} // namespace tallyvo
