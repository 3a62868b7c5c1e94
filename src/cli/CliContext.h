#pragma once

#include "core/Clock.h"
#include "core/Connection.h"
#include "core/Session.h"
#include "core/SettingsStore.h"

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

struct CliContext {
    SettingsStore& settings;
    Session& session;
    Connection& connection;
    Clock& clock;
    QTextStream& out;

    // Connects (creating or upgrading the schema); throws Failure with the reason.
    Database& db();
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

const QList<CliCommand>& commands();
QList<CliCommand> coreCommands();
QList<CliCommand> tokenCommands();
QList<CliCommand> callCommands();
QList<CliCommand> reportCommands();
QList<CliCommand> maintenanceCommands();

} // namespace tallyvo::cli
