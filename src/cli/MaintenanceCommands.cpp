#include "cli/CliContext.h"

#include "core/Database.h"
#include "reports/Backup.h"
#include "reports/ClearData.h"

#include <QDate>
#include <QDir>
#include <memory>

namespace tallyvo::cli {

namespace {

void clearCalls(CliContext& ctx, QStringList args)
{
    const std::optional<QString> before = takeOption(args, QStringLiteral("before"));
    expectNoMore(args);
    if (!before)
        throw UsageError(QStringLiteral("--before yyyy-MM-dd is missing"));
    const QDate day = toDate(*before, QStringLiteral("--before"));
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
    const QString source = QDir(args.first()).absolutePath();
    // A database whose schema can no longer be brought up to date must still take a backup back:
    // that is the way out of it.
    std::unique_ptr<Database> unprepared;
    const Database* db = nullptr;
    try {
        db = &ctx.db();
    } catch (const Failure& e) {
        unprepared = std::make_unique<Database>(ctx.connection.target());
        if (!unprepared->open(nullptr, false))
            throw;
        ctx.warn(QString::fromStdString(e.what()));
        db = unprepared.get();
    }
    Backup::Loss loss;
    const Backup::Result checked = Backup::check(*db, source, ctx.clock, &loss);
    if (checked.status == Backup::Status::SameFile)
        throw Failure(QStringLiteral("the backup file is the database itself"));
    if (checked.status != Backup::Status::Done)
        throw Failure(checked.message);
    if (!yes) {
        const QString lost = loss.text();
        throw UsageError(QStringLiteral("a restore replaces the site's data.%1 Confirm it with --yes")
                             .arg(lost.isEmpty() ? QString() : QLatin1Char(' ') + lost));
    }
    const Backup::Result r = Backup::restore(*db, source);
    const QString safety = QDir::toNativeSeparators(r.safetyCopy);
    switch (r.status) {
    case Backup::Status::Done:
        ctx.out << "Restored from " << QDir::toNativeSeparators(r.path) << "; the database as it was is kept in "
                << safety << '\n';
        return;
    case Backup::Status::SameFile:
        throw Failure(QStringLiteral("the backup file is the database itself"));
    case Backup::Status::NotUpgraded:
        throw Failure(QStringLiteral("restored from %1, but its schema could not be brought up to date (%2); the "
                                     "database as it was is kept in %3")
                          .arg(QDir::toNativeSeparators(r.path), r.message, safety));
    default:
        throw Failure(r.safetyCopy.isEmpty() ? r.message
                                             : QStringLiteral("%1 (a safety copy was kept in %2)").arg(r.message, safety));
    }
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
