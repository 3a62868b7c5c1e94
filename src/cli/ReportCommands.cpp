#include "cli/CliContext.h"

#include "reports/Report.h"
#include "reports/SheetGrid.h"
#include "reports/XlsxExport.h"

#include <QDate>
#include <tuple>

namespace tallyvo::cli {

QDate dateOption(QStringList& args, const QString& name, const QDate& otherwise)
{
    const std::optional<QString> text = takeOption(args, name);
    if (!text)
        return otherwise;
    return toDate(*text, QStringLiteral("--") + name);
}

QPair<QDate, QDate> dateRange(QStringList& args, const QDate& today)
{
    const QDate from = dateOption(args, QStringLiteral("from"), today);
    const QDate to = dateOption(args, QStringLiteral("to"), today);
    if (from > to)
        throw UsageError(QStringLiteral("--from %1 is after --to %2")
                             .arg(from.toString(QStringLiteral("yyyy-MM-dd")), to.toString(QStringLiteral("yyyy-MM-dd"))));
    return {from, to};
}

namespace {

void report(CliContext& ctx, QStringList args)
{
    const std::optional<QString> filter = takeOption(args, QStringLiteral("filter"));
    const std::optional<QString> xlsx = takeOption(args, QStringLiteral("xlsx"));
    const bool showAll = takeFlag(args, QStringLiteral("all"));
    ReportRequest request;
    std::tie(request.from, request.to) = dateRange(args, ctx.clock.today());
    if (args.isEmpty())
        throw UsageError(QStringLiteral("the kind of report is missing"));
    const QString kind = args.takeFirst();
    if (kind == QLatin1String("department"))
        request.kind = ReportKind::Department;
    else if (kind == QLatin1String("service"))
        request.kind = ReportKind::Service;
    else if (kind == QLatin1String("counter"))
        request.kind = ReportKind::Counter;
    else if (kind == QLatin1String("pending"))
        request.kind = ReportKind::Pending;
    else
        throw UsageError(QStringLiteral("unknown kind of report: %1").arg(kind));
    expectNoMore(args);
    if (xlsx && xlsx->isEmpty())
        throw UsageError(QStringLiteral("--xlsx needs a file name"));
    request.filter = filter.value_or(QStringLiteral("All"));
    request.showAll = showAll;

    const ReportResult result = Reports::run(ctx.db(), request);
    if (!result.error.isEmpty())
        throw Failure(result.error);

    if (xlsx) {
        FailurePrompt prompt;
        if (!modExcel::exportToFile(*xlsx, reportSheet(result), Reports::caption(request.kind), true, true,
                                    prompt))
            throw Failure(prompt.first.isEmpty() ? QStringLiteral("the workbook %1 was not written").arg(*xlsx)
                                                 : prompt.first);
        return;
    }

    const auto& columns = Reports::columns();
    // The key column and the empty last column are not for people.
    QStringList header;
    for (size_t c = 1; c + 1 < columns.size(); ++c)
        header << columns[c].header;
    ctx.out << header.join(QLatin1Char('\t')) << '\n';
    for (size_t i = 0; i < result.rows.size(); ++i) {
        for (int c = int(ReportColumn::Sn); c <= int(ReportColumn::Duration); ++c)
            ctx.out << result.text(i, ReportColumn(c)) << (c == int(ReportColumn::Duration) ? '\n' : '\t');
    }
    if (!result.average.isEmpty())
        ctx.out << result.average << '\n';
}

} // namespace

QList<CliCommand> reportCommands()
{
    return {
        {QStringLiteral("report"),
         QStringLiteral("department|service|counter|pending [--filter NAME] [--from yyyy-MM-dd] [--to yyyy-MM-dd] "
                        "[--all] [--xlsx FILE]"),
         QStringLiteral("the rows of a report window, tab-separated, and its average line; --xlsx writes the "
                        "grid's workbook instead"),
         report},
    };
}

} // namespace tallyvo::cli
