#include "cli/CliContext.h"

#include "core/DbError.h"
#include "reports/FigureSheet.h"
#include "reports/XlsxExport.h"
#include "stats/QueueFigures.h"

#include <QDate>
#include <tuple>

namespace tallyvo::cli {

namespace {

void stats(CliContext& ctx, QStringList args)
{
    const std::optional<QString> filter = takeOption(args, QStringLiteral("filter"));
    const std::optional<QString> xlsx = takeOption(args, QStringLiteral("xlsx"));
    FigureRequest request;
    std::tie(request.from, request.to) = dateRange(args, ctx.clock.today());
    if (args.isEmpty())
        throw UsageError(QStringLiteral("the kind of figures is missing"));
    const QString name = args.takeFirst();
    FigureKind kind = FigureKind::Waiting;
    if (name == QLatin1String("waiting"))
        kind = FigureKind::Waiting;
    else if (name == QLatin1String("levels"))
        kind = FigureKind::Levels;
    else if (name == QLatin1String("hourly"))
        kind = FigureKind::Hourly;
    else if (name == QLatin1String("counters"))
        kind = FigureKind::Counters;
    else
        throw UsageError(QStringLiteral("unknown kind of figures: %1").arg(name));
    expectNoMore(args);
    if (xlsx && xlsx->isEmpty())
        throw UsageError(QStringLiteral("--xlsx needs a file name"));
    request.scope = kind == FigureKind::Counters ? FigureRequest::Scope::Counter : FigureRequest::Scope::Service;
    request.name = filter.value_or(QStringLiteral("All"));

    FigureTable table;
    try {
        table = QueueFigures(ctx.db(), request).table(kind);
    } catch (const DbError& e) {
        throw Failure(e.text());
    }

    if (xlsx) {
        FailurePrompt prompt;
        if (!modExcel::exportToFile(*xlsx, figureSheet(kind, table), QueueFigures::caption(kind), true, true, prompt))
            throw Failure(prompt.first.isEmpty() ? QStringLiteral("the workbook %1 was not written").arg(*xlsx)
                                                 : prompt.first);
        return;
    }
    ctx.out << table.header.join(QLatin1Char('\t')) << '\n';
    for (const QStringList& line : table.rows)
        ctx.out << line.join(QLatin1Char('\t')) << '\n';
}

} // namespace

QList<CliCommand> statsCommands()
{
    return {
        {QStringLiteral("stats"),
         QStringLiteral("waiting|levels|hourly|counters [--filter NAME] [--from yyyy-MM-dd] [--to yyyy-MM-dd] "
                        "[--xlsx FILE]"),
         QStringLiteral("waiting times, service levels, hourly load or counter productivity, tab-separated; "
                        "--filter names a service (a counter for counters); --xlsx writes a workbook with a chart "
                        "instead"),
         stats},
    };
}

} // namespace tallyvo::cli
