#pragma once

#include "core/Database.h"
#include "core/DbUrl.h"

#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace tallyvo {

class SettingsStore;
struct Session;

// The station's one shared connection. connectDb() builds the target from the stored settings
// (or the --db URL given for this run), opens it, checks an embedded file once per run (quick
// check), brings the schema up to date and makes it the current connection; the previous one
// lives on while anything still holds it.
class Connection {
public:
    Connection(SettingsStore& settings, Session& session);

    // A URL that wins over the stored settings for this run (--db).
    void setOverride(std::optional<DbUrl> url) { m_override = std::move(url); }
    const std::optional<DbUrl>& overrideUrl() const { return m_override; }

    // Whether connectDb() runs the quick check of an embedded file (once per file and run). On by
    // default; a script's short command may leave it to the stations.
    void setQuickCheck(bool on) { m_quickCheck = on; }

    // Reloads the host, database, user and password values from the settings store.
    void loadSqlValues();

    // Where connectDb() goes: the override, else savedTarget().
    DbUrl target() const;
    // Where the session's values and the stored engine and authentication point.
    DbUrl savedTarget() const;

    bool connectDb();
    // Tries savedTarget() on a connection of its own, leaving the current one as it is: what the
    // connection window tests while this run uses an override.
    bool testSaved(QString* error) const;
    // What went wrong on the last failed connectDb().
    QString lastError() const { return m_lastError; }

    // The current connection; never null (closed until a connect succeeds).
    std::shared_ptr<Database> db() const { return m_db; }

    // Called after every failed connectDb(); the program opens its connection window here.
    void setFailureHandler(std::function<void(const QString&)> handler) { m_onFailure = std::move(handler); }
    // Called with a message naming the file when connectDb() created a new embedded database.
    void setCreatedHandler(std::function<void(const QString&)> handler) { m_onCreated = std::move(handler); }

    // The embedded database a new station uses: one file in the user's data folder, shared by
    // all profiles of that user so stations started as profiles on one machine meet in it.
    static QString defaultDatabaseFile();

private:
    SettingsStore& m_settings;
    Session& m_session;
    std::optional<DbUrl> m_override;
    std::shared_ptr<Database> m_db;
    QString m_lastError;
    std::function<void(const QString&)> m_onFailure;
    std::function<void(const QString&)> m_onCreated;
    bool m_quickCheck = true;
    QSet<QString> m_checkedFiles; // embedded files whose quick check passed in this run
};

} // namespace tallyvo
