#include "cli/CliContext.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <iterator>
#include <cstring>
#include <unistd.h>

namespace tallyvo::cli {

Database& CliContext::db()
{
    if (!connection.db()->isOpen()) {
        connection.loadSqlValues();
        const DbUrl target = connection.target();
        if (!mayCreate && target.engine == Engine::Sqlite && !QFileInfo::exists(target.path))
            throw Failure(QStringLiteral("the database file %1 does not exist: 'tallyvoctl init' creates it")
                              .arg(target.path));
        // A whole-file check costs about 0.1 s for a year of tokens: the stations make it when they
        // start, and init when a site is set up, not every scripted issue or call.
        connection.setQuickCheck(mayCreate);
        if (!connection.connectDb())
            throw Failure(connection.lastError());
    }
    return *connection.db();
}

void CliContext::warn(const QString& text)
{
    out.flush();
    QTextStream(stderr) << "tallyvoctl: warning: " << oneLine(text) << '\n';
}

void CliContext::printNow(const QString& line, const QString& what)
{
    out.flush();
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Failure(QStringLiteral("%1: standard output: %2")
                              .arg(what, QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO))));
        done += n;
    }
}

namespace {

volatile std::sig_atomic_t stopSignal = 0;
constexpr int stopSignals[] = {SIGTERM, SIGINT, SIGHUP};
struct sigaction savedActions[std::size(stopSignals)];

void onStopSignal(int sig)
{
    stopSignal = sig;
}

} // namespace

StopSignals::StopSignals()
{
    stopSignal = 0;
    for (size_t i = 0; i < std::size(stopSignals); ++i) {
        sigaction(stopSignals[i], nullptr, &savedActions[i]);
        if (savedActions[i].sa_handler == SIG_IGN)
            continue;
        struct sigaction act {};
        act.sa_handler = onStopSignal;
        sigemptyset(&act.sa_mask);
        act.sa_flags = SA_RESTART;
        sigaction(stopSignals[i], &act, nullptr);
    }
}

StopSignals::~StopSignals()
{
    for (size_t i = 0; i < std::size(stopSignals); ++i)
        sigaction(stopSignals[i], &savedActions[i], nullptr);
}

int StopSignals::received()
{
    return stopSignal;
}

std::optional<QString> takeOption(QStringList& args, const QString& name)
{
    const QString flag = QStringLiteral("--") + name;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == flag) {
            if (i + 1 >= args.size())
                throw UsageError(QStringLiteral("%1 needs a value").arg(flag));
            const QString value = args[i + 1];
            args.remove(i, 2);
            return value;
        }
        if (args[i].startsWith(flag + QLatin1Char('='))) {
            const QString value = args[i].mid(flag.size() + 1);
            args.remove(i);
            return value;
        }
    }
    return std::nullopt;
}

bool takeFlag(QStringList& args, const QString& name)
{
    return args.removeAll(QStringLiteral("--") + name) > 0;
}

void expectNoMore(const QStringList& args)
{
    if (!args.isEmpty())
        throw UsageError(QStringLiteral("unexpected argument: %1").arg(args.first()));
}

int toInt(const QString& text, const QString& what)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok)
        throw UsageError(QStringLiteral("%1 must be a whole number: %2").arg(what, text));
    return v;
}

QDate toDate(const QString& text, const QString& option)
{
    // QDate also reads "-0001-01-01" and "+2026-01-01": no day a site has tokens on.
    static const QRegularExpression shape(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
    const QDate date = shape.match(text).hasMatch() ? QDate::fromString(text, QStringLiteral("yyyy-MM-dd")) : QDate();
    if (!date.isValid() || date.year() < 1)
        throw UsageError(QStringLiteral("%1 must be a date as yyyy-MM-dd: %2").arg(option, text));
    return date;
}

const QList<CliCommand>& commands()
{
    static const QList<CliCommand> all = [] {
        QList<CliCommand> list;
        list << coreCommands();
        list << tokenCommands();
        list << callCommands();
        list << reportCommands();
        list << statsCommands();
        list << maintenanceCommands();
        list << userCommands();
        list << apiKeyCommands();
        return list;
    }();
    return all;
}

} // namespace tallyvo::cli
