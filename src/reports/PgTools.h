#pragma once

#include "reports/Backup.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

namespace tallyvo {

struct DbUrl;

// Runs PostgreSQL's client tools (pg_dump, pg_restore) for backup and restore: in the caller's
// thread, asking the caller's Control between reads so a window stays responsive and can stop
// it, and ended with this process should it die first.
namespace PgTools {

// The tool's full path, also where Debian keeps versioned tools outside PATH; "" when missing.
QString find(const QString& name);

struct Run {
    bool ok = false;
    bool cancelled = false;
    bool lockTimeout = false; // the server gave up waiting for a lock
    QString error;            // the tool's own error lines, or why it could not run
};

struct Job {
    Job(QString toolPath, QStringList arguments, std::function<void(const QByteArray&)> lines = {})
        : tool(std::move(toolPath))
        , args(std::move(arguments))
        , onLine(std::move(lines))
    {
    }

    QString tool;
    QStringList args;
    const DbUrl* server = nullptr; // connection options and password for a tool that connects
    // Each line of the tool's output as it comes, for the tools that write a script to stdout.
    std::function<void(const QByteArray& line)> onLine;
    // Lines of --verbose chatter a whole run prints, for progress; 0 for none.
    int expectedSteps = 0;
    // The name the tool's session has on the server, so that it can be found there.
    QString applicationName;
    // Looked at about ten times a second while the tool runs; true when it has stopped the
    // tool's statement because it waited too long for a lock.
    std::function<bool()> lockWatch;
};

Run run(const Job& job, const Backup::Control& control);

} // namespace PgTools
} // namespace tallyvo
