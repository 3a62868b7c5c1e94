#include "reports/PgTools.h"

#include "core/DbUrl.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <csignal>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace tallyvo::PgTools {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Backup", text);
}

// The longest a dump or restore may take before it counts as hung.
constexpr int toolLimitMs = 30 * 60 * 1000;

} // namespace

QString find(const QString& name)
{
    QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    QDir lib(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::sort(versions.begin(), versions.end(), [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& v : versions) {
        found = QStandardPaths::findExecutable(name, {lib.filePath(v + QStringLiteral("/bin"))});
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

Run run(const Job& job, const Backup::Control& control)
{
    Run r;
    const QString name = QFileInfo(job.tool).fileName();
    QProcess p;
    QStringList args;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (job.server) {
        if (!job.server->password.isEmpty())
            env.insert(QStringLiteral("PGPASSWORD"), job.server->password);
        // Every option the station connects with, so a tool reaches the same server the same way.
        static const QList<QPair<QString, QString>> variables{
            {QStringLiteral("sslmode"), QStringLiteral("PGSSLMODE")},
            {QStringLiteral("sslrootcert"), QStringLiteral("PGSSLROOTCERT")},
            {QStringLiteral("sslcert"), QStringLiteral("PGSSLCERT")},
            {QStringLiteral("sslkey"), QStringLiteral("PGSSLKEY")},
            {QStringLiteral("connect_timeout"), QStringLiteral("PGCONNECT_TIMEOUT")},
            {QStringLiteral("application_name"), QStringLiteral("PGAPPNAME")},
            {QStringLiteral("target_session_attrs"), QStringLiteral("PGTARGETSESSIONATTRS")}};
        for (const auto& [key, value] : job.server->effectiveOptions())
            for (const auto& [option, variable] : variables)
                if (key == option)
                    env.insert(variable, value);
        if (!job.applicationName.isEmpty())
            env.insert(QStringLiteral("PGAPPNAME"), job.applicationName);
        args << QStringLiteral("--no-password") << QStringLiteral("-h") << job.server->hostList()
             << QStringLiteral("-p") << job.server->portList();
        if (!job.server->user.isEmpty())
            args << QStringLiteral("-U") << job.server->user;
    }
    p.setProcessEnvironment(env);
#ifdef Q_OS_LINUX
    // A tool must not go on changing the database after the program that started it was killed.
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    p.start(job.tool, args + job.args);
    if (!p.waitForStarted()) {
        r.error = tr("%1 could not be started: %2").arg(name, p.errorString());
        return r;
    }

    QByteArray errors;
    int steps = 0;
    auto readLines = [&] {
        while (job.onLine && p.canReadLine())
            job.onLine(p.readLine());
        p.setReadChannel(QProcess::StandardError);
        while (p.canReadLine()) {
            const QByteArray line = p.readLine();
            // With --verbose most lines are steps done; keep the ones that say what went wrong.
            if (line.contains("error") || line.contains("ERROR") || line.contains("FATAL") || line.contains("DETAIL"))
                errors += line;
            else
                ++steps;
        }
        p.setReadChannel(QProcess::StandardOutput);
        if (!job.onLine)
            p.readAll();
    };
    const QDeadlineTimer limit(toolLimitMs);
    QDeadlineTimer nextWatch(100);
    bool stoppedForLock = false;
    while (p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(100);
        readLines();
        if (job.lockWatch && !stoppedForLock && nextWatch.hasExpired()) {
            stoppedForLock = job.lockWatch();
            nextWatch.setRemainingTime(100);
        }
        if (control.progress && job.expectedSteps > 0)
            control.progress(std::min(99, steps * 100 / job.expectedSteps));
        const bool stop = control.cancelled && control.cancelled();
        if (stop || limit.hasExpired()) {
            p.kill();
            p.waitForFinished();
            r.cancelled = stop;
            r.error = stop ? tr("Stopped: nothing was changed.") : tr("%1 did not finish within 30 minutes.").arg(name);
            return r;
        }
    }
    p.waitForFinished();
    readLines();
    if (job.onLine) {
        const QByteArray rest = p.readAll();
        if (!rest.isEmpty())
            job.onLine(rest);
    }
    errors += p.readAllStandardError();
    r.error = QString::fromLocal8Bit(errors).trimmed();
    r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    r.lockTimeout = !r.ok && (stoppedForLock || r.error.contains(QLatin1String("lock timeout")));
    if (!r.ok && r.error.isEmpty())
        r.error = p.exitStatus() == QProcess::NormalExit
            ? tr("%1 failed with exit code %2").arg(name).arg(p.exitCode())
            : tr("%1 was ended by a signal").arg(name);
    return r;
}

} // namespace tallyvo::PgTools
