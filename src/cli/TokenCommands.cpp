#include "cli/CliContext.h"

#include "core/modSub.h"
#include "tokens/TokenIssuer.h"

#include <QDate>

namespace tallyvo::cli {

namespace {

int serviceByName(const Database& db, const QString& name)
{
    const int key = modSub::getServiceKey(db, name);
    if (key == 0)
        throw Failure(QStringLiteral("no service is named '%1'").arg(name));
    return key;
}

void issue(CliContext& ctx, QStringList args)
{
    const std::optional<QString> dateText = takeOption(args, QStringLiteral("date"));
    const std::optional<QString> countText = takeOption(args, QStringLiteral("count"));
    if (args.size() != 1)
        throw UsageError(args.isEmpty() ? QStringLiteral("the service's name is missing")
                                        : QStringLiteral("unexpected argument: %1").arg(args.value(1)));
    QDate date;
    if (dateText) {
        date = QDate::fromString(*dateText, QStringLiteral("yyyy-MM-dd"));
        if (!date.isValid())
            throw UsageError(QStringLiteral("--date must be a date as yyyy-MM-dd: %1").arg(*dateText));
    }
    const int count = countText ? toInt(*countText, QStringLiteral("--count")) : 1;
    if (count < 1)
        throw UsageError(QStringLiteral("--count must be at least 1"));

    const Database& db = ctx.db();
    const QString name = args.first();
    const int service = serviceByName(db, name);
    NoTicketPrinter printer;
    TokenIssuer issuer(db, ctx.clock, ctx.session, printer);
    for (int i = 0; i < count; ++i) {
        issuer.setIssueDate(date);
        const IssueResult r = issuer.issue(service, name);
        switch (r.status) {
        case IssueResult::Status::Issued:
        case IssueResult::Status::PrintFailed:
            ctx.out << r.token.label << '\n';
            break;
        case IssueResult::Status::Limit:
            throw Refused(r.message());
        case IssueResult::Status::Failed:
            throw Failure(r.message());
        }
    }
}

} // namespace

QList<CliCommand> tokenCommands()
{
    return {
        {QStringLiteral("issue"), QStringLiteral("SERVICE [--date yyyy-MM-dd] [--count N]"),
         QStringLiteral("issue the next token of the service (by name) and print its label; exit 3 at the "
                        "service's limit"),
         issue},
    };
}

} // namespace tallyvo::cli
