#include "core/Connection.h"

#include "core/Paths.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "core/SettingsStore.h"

#include <QCoreApplication>
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
    return savedTarget();
}

DbUrl Connection::savedTarget() const
{
    if (m_settings.get(Keys::SqlEngine).compare(QLatin1String("PostgreSQL"), Qt::CaseInsensitive) != 0) {
        const QString file = m_session.sqlDatabase.trimmed();
        return DbUrl::sqlite(file.isEmpty() ? defaultDatabaseFile() : file);
    }
    DbUrl u;
    u.engine = Engine::Postgres;
    // The host box takes "name", "name:port", an IPv6 address, or "[address]:port"; a site with a
    // standby lists its servers, separated by commas. A list that cannot be read goes to the
    // client library as it is, which says what is wrong with it.
    const std::optional<QList<DbUrl::Server>> servers = DbUrl::splitHosts(m_session.sqlHost);
    if (servers) {
        u.host = servers->first().host.isEmpty() ? QStringLiteral("localhost") : servers->first().host;
        u.port = servers->first().port;
        u.otherHosts = servers->mid(1);
    } else {
        u.host = m_session.sqlHost.trimmed();
    }
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
    const QString file = db->url().path;
    if (ok && m_quickCheck && db->engine() == Engine::Sqlite && !m_checkedFiles.contains(file)) {
        // Once per file and run: a damaged page is found before anyone works on it, not when a
        // statement happens to touch it. A file just created has nothing to check.
        if (const std::optional<QString> problem = db->created() ? std::nullopt : db->quickCheck()) {
            error = QCoreApplication::translate("Connection", "The %1 is damaged (%2). Restore it from a backup "
                                                              "before anyone works on it.")
                        .arg(db->url().describe(), *problem);
            db->close();
            ok = false;
        } else {
            m_checkedFiles.insert(file);
        }
    }
    if (ok) {
        try {
            Schema::upgrade(*db);
        } catch (const DbError& e) {
            error = QStringLiteral("The %1 cannot be prepared: %2").arg(db->url().describe(), e.text());
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
        if (db->created() && m_onCreated)
            m_onCreated(QCoreApplication::translate("Connection", "A new, empty database was created: %1")
                            .arg(oneLine(file)));
        return true;
    }
    m_lastError = oneLine(error);
    if (m_onFailure)
        m_onFailure(m_lastError);
    return false;
}

bool Connection::testSaved(QString* error) const
{
    // A throwaway connection: the station goes on with the one it has. A file that is not there
    // is reported, not made, since this run does not use it.
    Database probe(savedTarget());
    return probe.open(error, false);
}

} // namespace tallyvo
