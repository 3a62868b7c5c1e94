#include "cli/CliContext.h"

#include "calling/CallEngine.h"
#include "core/Prompt.h"
#include "core/modSub.h"

namespace tallyvo::cli {

namespace {

// Messages go to standard output; nobody is there to answer a question.
class StreamPrompt final : public Prompt {
public:
    explicit StreamPrompt(QTextStream& out)
        : m_out(out)
    {
    }
    void message(const QString& text, const QString&) override { m_out << text << '\n'; }
    bool question(const QString&, const QString&) override { return false; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override { return std::nullopt; }
    QString openFileName(const QString&, const QString&) override { return QString(); }
    QString saveFileName(const QString&, const QString&) override { return QString(); }
    QString folder(const QString&) override { return QString(); }

private:
    QTextStream& m_out;
};

// A console opened for one counter: the engine, with the counter's active values and its last
// served token in hand, as after the console's own opening.
struct Console {
    explicit Console(CliContext& ctx)
        : prompt(ctx.out)
        , engine(ctx.db(), ctx.clock, ctx.session, ctx.settings, prompt)
    {
    }
    StreamPrompt prompt;
    CallEngine engine;
};

void openCounter(Console& console, const QString& name)
{
    if (!console.engine.chooseCounter(name))
        throw Failure(QStringLiteral("no counter is named '%1'").arg(name));
}

qint64 ticketKey(const QString& text)
{
    bool ok = false;
    const qint64 key = text.toLongLong(&ok);
    if (!ok || key <= 0)
        throw UsageError(QStringLiteral("TICKETKEY must be a token's key (tickAuto): %1").arg(text));
    return key;
}

QString takeOne(QStringList& args, const QString& what)
{
    if (args.isEmpty() || args.first().startsWith(QLatin1String("--")))
        throw UsageError(QStringLiteral("%1 is missing").arg(what));
    return args.takeFirst();
}

void next(CliContext& ctx, QStringList args)
{
    const std::optional<QString> countText = takeOption(args, QStringLiteral("count"));
    const QString counter = takeOne(args, QStringLiteral("the counter's name"));
    expectNoMore(args);
    const int count = countText ? toInt(*countText, QStringLiteral("--count")) : 1;
    if (count < 1)
        throw UsageError(QStringLiteral("--count must be at least 1"));
    Console console(ctx);
    openCounter(console, counter);
    for (int i = 0; i < count; ++i) {
        if (!console.engine.nextAction()) {
            ctx.out << console.engine.callStatus() << '\n';
            throw Refused();
        }
        ctx.out << console.engine.currentLabel() << '\n';
        if (const QString warning = console.engine.takeWarning(); !warning.isEmpty())
            ctx.warn(warning);
    }
}

void call(CliContext& ctx, QStringList args)
{
    const bool lab = takeFlag(args, QStringLiteral("lab"));
    const QString counter = takeOne(args, QStringLiteral("the counter's name"));
    const qint64 key = ticketKey(takeOne(args, QStringLiteral("TICKETKEY")));
    expectNoMore(args);
    Console console(ctx);
    openCounter(console, counter);
    if (!console.engine.callThis(key, lab ? QStringLiteral("LAB") : QString())) {
        ctx.out << console.engine.callStatus() << '\n';
        throw Refused();
    }
    ctx.out << console.engine.currentLabel() << '\n';
    if (const QString warning = console.engine.takeWarning(); !warning.isEmpty())
        ctx.warn(warning);
}

// Recall and cancel act on the token a console reopened for the counter holds: its last served.
void lastServedOf(Console& console)
{
    if (console.engine.currentKey().isEmpty())
        throw Refused(console.engine.lastServed());
}

void recall(CliContext& ctx, QStringList args)
{
    const QString counter = takeOne(args, QStringLiteral("the counter's name"));
    expectNoMore(args);
    Console console(ctx);
    openCounter(console, counter);
    lastServedOf(console);
    if (!console.engine.updateRc())
        throw Refused(QStringLiteral("%1 has no call to announce again").arg(console.engine.currentLabel()));
    ctx.out << console.engine.currentLabel() << '\n';
}

void cancel(CliContext& ctx, QStringList args)
{
    const QString counter = takeOne(args, QStringLiteral("the counter's name"));
    expectNoMore(args);
    Console console(ctx);
    openCounter(console, counter);
    lastServedOf(console);
    console.engine.cancelToken();
    ctx.out << console.engine.currentLabel() << '\n';
}

void transfer(CliContext& ctx, QStringList args)
{
    const QString notes = takeOption(args, QStringLiteral("notes")).value_or(QString());
    const QString counter = takeOne(args, QStringLiteral("the counter's name"));
    const qint64 key = ticketKey(takeOne(args, QStringLiteral("TICKETKEY")));
    const QString target = takeOne(args, QStringLiteral("the target counter's name"));
    expectNoMore(args);
    Console console(ctx);
    openCounter(console, counter);
    const Database& db = ctx.db();
    if (modSub::getCounterKey(db, target) == 0)
        throw Failure(QStringLiteral("no counter is named '%1'").arg(target));
    if (!db.scalar(QStringLiteral("SELECT tickAuto FROM tblTicket WHERE tickAuto=?"), {key}).isValid())
        throw Failure(QStringLiteral("no token has the key %1").arg(key));
    if (!console.engine.transferToken(QString::number(key), target, notes))
        throw Refused(QStringLiteral("'%1' is the counter itself: nothing transferred").arg(target));
}

void pending(CliContext& ctx, QStringList args)
{
    const bool list = takeFlag(args, QStringLiteral("list"));
    const QString name = takeOne(args, QStringLiteral("the service's name"));
    expectNoMore(args);
    Console console(ctx);
    const int service = modSub::getServiceKey(ctx.db(), name);
    if (service == 0)
        throw Failure(QStringLiteral("no service is named '%1'").arg(name));
    ctx.session.activeService = service;
    if (!list) {
        ctx.out << console.engine.getPending() << '\n';
        return;
    }
    for (const PendingRow& row : console.engine.addPendings()) {
        ctx.out << row.label << '\t' << row.tickTime << '\t'
                << (row.waitingMinutes ? QString::number(*row.waitingMinutes) : QString()) << '\n';
    }
}

} // namespace

QList<CliCommand> callCommands()
{
    return {
        {QStringLiteral("next"), QStringLiteral("COUNTER [--count N]"),
         QStringLiteral("\"Next\" at the counter (by name): print the label called, or Idle (exit 3)"), next},
        {QStringLiteral("call"), QStringLiteral("COUNTER TICKETKEY [--lab]"),
         QStringLiteral("call today's token with that key at the counter, out of turn; --lab: a lab-report call"),
         call},
        {QStringLiteral("recall"), QStringLiteral("COUNTER"),
         QStringLiteral("announce the counter's last served token again"), recall},
        {QStringLiteral("cancel"), QStringLiteral("COUNTER"),
         QStringLiteral("mark the counter's last served token cancelled"), cancel},
        {QStringLiteral("transfer"), QStringLiteral("COUNTER TICKETKEY TARGET [--notes TEXT]"),
         QStringLiteral("hand a token from the counter to the TARGET counter"), transfer},
        {QStringLiteral("pending"), QStringLiteral("SERVICE [--list]"),
         QStringLiteral("the number of today's waiting tokens of the service; --list: each with its issue time "
                        "and minutes waiting"),
         pending},
    };
}

} // namespace tallyvo::cli
