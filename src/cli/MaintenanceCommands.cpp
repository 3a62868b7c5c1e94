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
    const std::optional<QString> keepText = takeOption(args, QStringLiteral("keep"));
    if (args.size() != 1)
        throw UsageError(args.isEmpty() ? QStringLiteral("the folder is missing")
                                        : QStringLiteral("unexpected argument: %1").arg(args.value(1)));
    const QString folder = QDir(args.first()).absolutePath();
    if (!keepText) {
        const Backup::Result r = Backup::backup(ctx.db(), folder);
        if (r.status == Backup::Status::SameFolder)
            throw Failure(QStringLiteral("the folder holds the database itself: choose a different folder"));
        if (r.status != Backup::Status::Done)
            throw Failure(r.message);
        ctx.out << QDir::toNativeSeparators(r.path) << '\n';
        return;
    }
    const int keep = toInt(*keepText, QStringLiteral("--keep"));
    if (keep < 1)
        throw UsageError(QStringLiteral("--keep must be at least 1: %1").arg(*keepText));
    const Backup::Rotation r = Backup::backupKeeping(ctx.db(), folder, keep, ctx.clock);
    if (r.backup.status == Backup::Status::SameFolder)
        throw Failure(QStringLiteral("the folder holds the database itself: choose a different folder"));
    if (r.backup.status != Backup::Status::Done)
        throw Failure(r.backup.message);
    ctx.printNow(QDir::toNativeSeparators(r.backup.path), QStringLiteral("backup"));
    for (const QString& gone : r.removed)
        ctx.printNow(QStringLiteral("removed %1").arg(QDir::toNativeSeparators(gone)), QStringLiteral("backup"));
    // A folder that keeps filling up is noticed at the next night's run, not when the disk is full.
    if (!r.notRemoved.isEmpty())
        throw Failure(QStringLiteral("the new backup is kept, but older backups could not be removed: %1")
                          .arg(r.notRemoved.join(QStringLiteral("; "))));
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
        {QStringLiteral("backup"), QStringLiteral("[--keep N] FOLDER"),
         QStringLiteral("write a consistent backup of the database into the folder and print its path; with "
                        "--keep, under a dated name, removing the oldest dated backups once it is checked so "
                        "that N remain"),
         backup},
        {QStringLiteral("restore"), QStringLiteral("FILE --yes"),
         QStringLiteral("replace the database with a checked backup, keeping a safety copy of the current one"),
         restore},
    };
}

} // namespace tallyvo::cli
