#pragma once

#include "core/Clock.h"
#include "core/Connection.h"
#include "core/Prompt.h"
#include "core/Session.h"
#include "core/SettingsStore.h"

#include <QDate>
#include <QPair>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <stdexcept>

namespace tallyvo::cli {

// A command line that does not fit the command: exit code 2.
struct UsageError : std::runtime_error {
    explicit UsageError(const QString& why)
        : std::runtime_error(why.toStdString())
    {
    }
};

// The command could not be done: exit code 1 with this one line.
struct Failure : std::runtime_error {
    explicit Failure(const QString& why)
        : std::runtime_error(why.toStdString())
    {
    }
};

// The command ran and the rules refused it (a limit reached, nothing waiting): exit code 3, with
// this text alone on stderr when it is not empty.
struct Refused : std::runtime_error {
    explicit Refused(const QString& why = QString())
        : std::runtime_error(why.toStdString())
    {
    }
};

// A token was stored but its ticket did not print: exit code 4, with this one line on stderr.
struct NotPrinted : std::runtime_error {
    explicit NotPrinted(const QString& why)
        : std::runtime_error(why.toStdString())
    {
    }
};

// A signal asked a long command to stop; it finished the item in hand first: exit code 128 + the
// signal's number, as a shell reports a command the signal ended, with this one line on stderr.
struct Stopped : std::runtime_error {
    Stopped(int sig, const QString& why)
        : std::runtime_error(why.toStdString())
        , signal(sig)
    {
    }
    int signal;
};

// While it lives, SIGTERM, SIGINT and SIGHUP only set a flag that a long command reads between
// items, so it never stops between storing an item and reporting it. A signal ignored when the
// program started (a background job's SIGINT) stays ignored.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    // The signal received, 0 while none.
    static int received();
};

struct CliContext {
    SettingsStore& settings;
    Session& session;
    Connection& connection;
    Clock& clock;
    QTextStream& out;
    // Only `init` makes a new embedded database; every other command refuses a missing file, so a
    // mistyped path or a deleted file is never quietly replaced by an empty site.
    bool mayCreate = false;

    // Connects (upgrading the schema, creating it when mayCreate); throws Failure with the reason.
    Database& db();
    // A line on stderr that does not make the command fail.
    void warn(const QString& text);
    // Writes one line to standard output at once, unbuffered; a line that cannot be written (a
    // full disk, a closed pipe) throws Failure starting with `what`.
    void printNow(const QString& line, const QString& what);
};

struct CliCommand {
    QString name;
    QString usage;   // arguments after the name
    QString summary; // one line for the help
    std::function<void(CliContext&, const QStringList&)> run;
};

// Small helpers for commands' own options.
// Removes "--name VALUE" (or --name=VALUE) from args; nullopt when absent.
std::optional<QString> takeOption(QStringList& args, const QString& name);
// Removes a bare "--name" flag; true when it was there.
bool takeFlag(QStringList& args, const QString& name);
// Refuses anything left over.
void expectNoMore(const QStringList& args);
int toInt(const QString& text, const QString& what);
// A day written yyyy-MM-dd with a year of four digits; anything else is a UsageError naming option.
QDate toDate(const QString& text, const QString& option);

// The export's message boxes become the command's one line of failure.
class FailurePrompt final : public Prompt {
public:
    void message(const QString& text, const QString&) override
    {
        if (first.isEmpty())
            first = text;
    }
    bool question(const QString&, const QString&) override { return false; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override { return std::nullopt; }
    QString openFileName(const QString&, const QString&) override { return QString(); }
    QString saveFileName(const QString&, const QString&) override { return QString(); }
    QString folder(const QString&) override { return QString(); }

    QString first;
};

// Removes "--name yyyy-MM-dd"; otherwise when absent.
QDate dateOption(QStringList& args, const QString& name, const QDate& otherwise);
// Removes --from and --to (today when absent); a reversed range is a usage error, since it would
// answer empty figures that look like a quiet day.
QPair<QDate, QDate> dateRange(QStringList& args, const QDate& today);

const QList<CliCommand>& commands();
QList<CliCommand> statsCommands();
QList<CliCommand> coreCommands();
QList<CliCommand> tokenCommands();
QList<CliCommand> callCommands();
QList<CliCommand> reportCommands();
QList<CliCommand> maintenanceCommands();
QList<CliCommand> userCommands();
QList<CliCommand> apiKeyCommands();

} // namespace tallyvo::cli
