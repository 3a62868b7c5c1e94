#include "cli/CliContext.h"

#include "admin/ApiKeys.h"
#include "core/Database.h"

namespace tallyvo::cli {

namespace {

QString oneName(const QStringList& args)
{
    if (args.size() != 1)
        throw UsageError(args.isEmpty() ? QStringLiteral("the key's name is missing")
                                        : QStringLiteral("unexpected argument: %1").arg(args.value(1)));
    return args.first();
}

void apikey(CliContext& ctx, QStringList args)
{
    if (args.isEmpty())
        throw UsageError(QStringLiteral("list, add or remove is missing"));
    const QString action = args.takeFirst();
    if (action == QLatin1String("list")) {
        expectNoMore(args);
        for (const ApiKeys::Entry& e : ApiKeys::list(ctx.db()))
            ctx.out << e.name << '\t' << e.created << '\n';
    } else if (action == QLatin1String("add")) {
        const QString name = oneName(args);
        // A bad name is the command line's fault, checked before the database is opened.
        if (const QString bad = ApiKeys::checkName(name); !bad.isEmpty())
            throw UsageError(bad);
        QString key;
        try {
            key = ApiKeys::add(ctx.db(), name);
        } catch (const ApiKeys::Refused& e) {
            if (e.reason == ApiKeys::Refused::Reason::BadName)
                throw UsageError(QString::fromStdString(e.what()));
            throw Refused(QString::fromStdString(e.what()));
        }
        // The key alone on the last line, for a script to take; it is never shown again.
        ctx.out << "API key " << name << " added; keep it now, it cannot be shown again:\n" << key << '\n';
    } else if (action == QLatin1String("remove")) {
        const QString name = oneName(args);
        if (!ApiKeys::remove(ctx.db(), name))
            throw Failure(QStringLiteral("no API key is named '%1'").arg(name));
        ctx.out << "API key " << name << " removed.\n";
    } else {
        throw UsageError(QStringLiteral("unknown apikey action: %1").arg(action));
    }
}

} // namespace

QList<CliCommand> apiKeyCommands()
{
    return {
        {QStringLiteral("apikey"), QStringLiteral("list | add NAME | remove NAME"),
         QStringLiteral("the keys other programs issue tokens with through the web station's API: list them "
                        "(name and creation time, tab between), add one (its key is printed once, alone on the "
                        "last line; exit 3 when the name is taken) or remove one (exit 1 when none has the name)"),
         apikey},
    };
}

} // namespace tallyvo::cli
