#include "cli/CliContext.h"

namespace tallyvo::cli {

Database& CliContext::db()
{
    if (!connection.db()->isOpen()) {
        connection.loadSqlValues();
        if (!connection.connectDb())
            throw Failure(connection.lastError());
    }
    return *connection.db();
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

const QList<CliCommand>& commands()
{
    static const QList<CliCommand> all = [] {
        QList<CliCommand> list;
        list << coreCommands();
        list << tokenCommands();
        list << callCommands();
        list << reportCommands();
        list << maintenanceCommands();
        return list;
    }();
    return all;
}

} // namespace tallyvo::cli
