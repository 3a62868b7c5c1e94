#include "cli/CliContext.h"

#include "core/DemoSite.h"
#include "core/Passwords.h"
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

    Database& db = ctx.db(); // creates or upgrades the schema, the company row and ADMIN
    if (password) {
        db.run(QStringLiteral("UPDATE tbluser SET password=? WHERE username='ADMIN'"), {Passwords::hash(*password)});
    }
    const bool added = demo && DemoSite::create(db);

    ctx.out << "Database ready: " << db.url().describe() << " (schema version " << Schema::version(db) << ")\n";
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
