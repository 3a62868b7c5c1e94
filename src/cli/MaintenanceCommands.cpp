#include "cli/CliContext.h"

#include "reports/Backup.h"
#include "reports/ClearData.h"

#include <QDate>
#include <QDir>

namespace tallyvo::cli {

namespace {

void clearCalls(CliContext& ctx, QStringList args)
{
    const std::optional<QString> before = takeOption(args, QStringLiteral("before"));
    expectNoMore(args);
    if (!before)
        throw UsageError(QStringLiteral("--before yyyy-MM-dd is missing"));
    const QDate day = QDate::fromString(*before, QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid())
        throw UsageError(QStringLiteral("--before must be a date as yyyy-MM-dd: %1").arg(*before));
    ctx.out << ClearData::deleteCallsBefore(ctx.db(), day) << '\n';
}

void backup(CliContext& ctx, QStringList args)
{
    if (args.size() != 1)
        throw UsageError(args.isEmpty() ? QStringLiteral("the folder is missing")
                                        : QStringLiteral("unexpected argument: %1").arg(args.value(1)));
    const Backup::Result r = Backup::backup(ctx.db(), QDir(args.first()).absolutePath());
    if (r.status == Backup::Status::SameFolder)
        throw Failure(QStringLiteral("the folder holds the database itself: choose a different folder"));
    if (r.status != Backup::Status::Done)
        throw Failure(r.message);
    ctx.out << QDir::toNativeSeparators(r.path) << '\n';
}

void restore(CliContext& ctx, QStringList args)
{
    const bool yes = takeFlag(args, QStringLiteral("yes"));
    if (args.size() != 1)
        throw UsageError(args.isEmpty() ? QStringLiteral("the backup file is missing")
                                        : QStringLiteral("unexpected argument: %1").arg(args.value(1)));
    if (!yes)
        throw UsageError(QStringLiteral("a restore replaces the site's data: confirm it with --yes"));
    const Backup::Result r = Backup::restore(ctx.db(), QDir(args.first()).absolutePath());
    if (r.status == Backup::Status::SameFile)
        throw Failure(QStringLiteral("the backup file is the database itself"));
    if (r.status != Backup::Status::Done)
        throw Failure(r.message);
    ctx.out << "Restored from " << QDir::toNativeSeparators(r.path) << "; the database as it was is kept in "
            << QDir::toNativeSeparators(r.safetyCopy) << '\n';
}

} // namespace

QList<CliCommand> maintenanceCommands()
{
    return {
        {QStringLiteral("clear-calls"), QStringLiteral("--before yyyy-MM-dd"),
         QStringLiteral("delete the call records of the days before the date and print how many went"), clearCalls},
        {QStringLiteral("backup"), QStringLiteral("FOLDER"),
         QStringLiteral("write a consistent backup of the database into the folder and print its path"), backup},
        {QStringLiteral("restore"), QStringLiteral("FILE --yes"),
         QStringLiteral("replace the database with a checked backup, keeping a safety copy of the current one"),
         restore},
    };
}

} // namespace tallyvo::cli
