#include "cli/CliContext.h"

#include "admin/SiteRecords.h"
#include "core/DemoSite.h"
#include "core/Schema.h"

namespace tallyvo::cli {

namespace {

void init(CliContext& ctx, QStringList args)
{
    const bool demo = takeFlag(args, QStringLiteral("demo"));
    const std::optional<QString> password = takeOption(args, QStringLiteral("admin-password"));
    expectNoMore(args);
    if (password && password->isEmpty())
        throw UsageError(QStringLiteral("--admin-password must not be empty"));

    ctx.mayCreate = true;
    Database& db = ctx.db(); // creates or upgrades the schema, the company row and ADMIN
    QString users;
    if (password) {
        // A site whose administrators were all removed gets ADMIN back this way.
        if (Users::setPassword(db, QStringLiteral("ADMIN"), *password))
            users = QStringLiteral("The password of ADMIN was set.");
        else if (Users::add(db, QStringLiteral("ADMIN"), *password, QStringLiteral("Admin")).isEmpty())
            users = QStringLiteral("ADMIN was added with the password given.");
        else
            throw Failure(QStringLiteral("ADMIN could not be added"));
    }
    const bool added = demo && DemoSite::create(db);

    ctx.out << "Ready: the " << db.url().describe() << " (schema version " << Schema::version(db) << ")\n";
    if (!users.isEmpty())
        ctx.out << users << '\n';
    else if (Users::list(db).isEmpty())
        ctx.warn(QStringLiteral("the database has no user to log in with: 'tallyvoctl init --admin-password PW' "
                                "adds ADMIN, 'tallyvoctl user add NAME' another"));
    if (demo)
        ctx.out << (added ? "Demo site added.\n" : "The database already has departments: no demo site added.\n");
}

void schemaVersion(CliContext& ctx, const QStringList& args)
{
    expectNoMore(args);
    ctx.out << Schema::version(ctx.db()) << '\n';
}

} // namespace

QList<CliCommand> coreCommands()
{
    return {
        {QStringLiteral("init"), QStringLiteral("[--demo] [--admin-password PW]"),
         QStringLiteral("create or upgrade the database; --demo adds a demo site"), init},
        {QStringLiteral("schema-version"), QString(), QStringLiteral("print the schema version of the database"),
         schemaVersion},
    };
}

} // namespace tallyvo::cli
