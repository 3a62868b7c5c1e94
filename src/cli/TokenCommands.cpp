#include "cli/CliContext.h"

#include "core/Database.h"
#include "core/modSub.h"
#include "stats/QueueState.h"
#include "stats/WaitEstimator.h"
#include "tokens/TicketText.h"
#include "tokens/TokenIssuer.h"
#include "tokens/ui/TicketPrint.h"

#include <QDate>
#include <cstring>
#include <tuple>
#include <cmath>
#include <memory>

namespace tallyvo::cli {

namespace {

int serviceByName(const Database& db, const QString& name)
{
    const int key = modSub::getServiceKey(db, name);
    if (key == 0)
        throw Failure(QStringLiteral("no service is named '%1'").arg(name));
    return key;
}

// The station's own printer, and the ticket its window prints: company lines, date and time,
// service, token, who is being served.
class StationTicketPrinter final : public TicketPrinter {
public:
    StationTicketPrinter(const Database& db, const Clock& clock, const Session& session, const SettingsStore& settings)
        : m_db(db)
        , m_clock(clock)
        , m_session(session)
        , m_print(settings)
    {
        if (const auto company = companyLines(db))
            std::tie(m_company1, m_company2) = *company;
    }

    bool startPrint(const TicketData& ticket) override
    {
        NoTicketPrinter none;
        TicketText text = ticketText(ticket, m_company1, m_company2, m_clock);
        text.nowServing = TokenIssuer(m_db, m_clock, m_session, none).getNowServing(ticket.serviceKey);
        m_error.clear();
        return m_print.print(text, &m_error);
    }
    QString lastError() const override { return m_error; }

private:
    const Database& m_db;
    const Clock& m_clock;
    const Session& m_session;
    TicketPrint m_print;
    QString m_company1;
    QString m_company2;
    QString m_error;
};

// Copies per ticket as the station's settings give them ("No. Print"); anything but a whole
// number of at least one prints one, as the settings window corrects it.
int stationCopies(const SettingsStore& settings)
{
    bool ok = false;
    const double copies = settings.get(Keys::PrintNos).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(copies) || std::lround(copies) < 1 || copies > 32767)
        return 1;
    return static_cast<int>(std::lround(copies));
}

void issue(CliContext& ctx, QStringList args)
{
    const std::optional<QString> dateText = takeOption(args, QStringLiteral("date"));
    const std::optional<QString> countText = takeOption(args, QStringLiteral("count"));
    const bool print = takeFlag(args, QStringLiteral("print"));
    if (args.size() != 1)
        throw UsageError(args.isEmpty() ? QStringLiteral("the service's name is missing")
                                        : QStringLiteral("unexpected argument: %1").arg(args.value(1)));
    QDate date;
    if (dateText)
        date = toDate(*dateText, QStringLiteral("--date"));
    const int count = countText ? toInt(*countText, QStringLiteral("--count")) : 1;
    if (count < 1)
        throw UsageError(QStringLiteral("--count must be at least 1"));

    const Database& db = ctx.db();
    const QString name = args.first();
    const int service = serviceByName(db, name);
    NoTicketPrinter noPrinter;
    std::unique_ptr<StationTicketPrinter> stationPrinter;
    if (print) {
        ctx.session.ticketCopies = stationCopies(ctx.settings);
        stationPrinter = std::make_unique<StationTicketPrinter>(db, ctx.clock, ctx.session, ctx.settings);
    }
    TicketPrinter& printer = print ? static_cast<TicketPrinter&>(*stationPrinter) : noPrinter;
    TokenIssuer issuer(db, ctx.clock, ctx.session, printer);
    // Every stored token's label reaches the script: each is written as soon as its token is
    // stored, and a signal stops the batch only between tokens.
    const StopSignals stop;
    QString last;
    auto printLabel = [&](const QString& label) {
        ctx.printNow(label, QStringLiteral("%1 was issued but its label could not be written").arg(label));
        last = label;
    };
    auto printEstimate = [&](const StoredToken& token) {
        std::optional<int> minutes;
        try {
            minutes = WaitEstimator(db, ctx.clock).minutesFor(token.key);
        } catch (const DbError& e) {
            // The token stands; only its wait is not known.
            ctx.warn(QStringLiteral("%1 was issued, but its wait could not be estimated: %2")
                         .arg(token.label, e.text()));
        }
        if (minutes && *minutes >= 0)
            ctx.printNow(estimateText(*minutes),
                         QStringLiteral("%1 was issued but its estimate could not be written").arg(token.label));
    };
    for (int i = 0; i < count; ++i) {
        if (const int sig = StopSignals::received())
            throw Stopped(sig, QStringLiteral("stopped by signal %1 (%2) after %3 of %4 tokens%5")
                                   .arg(sig)
                                   .arg(QStringLiteral("SIG") + QString::fromLocal8Bit(sigabbrev_np(sig)))
                                   .arg(i)
                                   .arg(count)
                                   .arg(last.isEmpty() ? QString() : QStringLiteral(", the last %1").arg(last)));
        issuer.setIssueDate(date);
        const IssueResult r = issuer.issue(service, name);
        switch (r.status) {
        case IssueResult::Status::Issued:
            printLabel(r.token.label);
            // One token is a visitor's: the wait goes under it as on the ticket. A batch keeps to
            // one label per line, which is what scripts read it for.
            if (count == 1)
                printEstimate(r.token);
            break;
        case IssueResult::Status::PrintFailed:
            // Stored: the label is the script's to use. No more tokens while the printer fails.
            printLabel(r.token.label);
            throw NotPrinted(r.message());
        case IssueResult::Status::Limit:
            throw Refused(r.message());
        case IssueResult::Status::Failed:
            throw Failure(r.message());
        }
    }
}

// A token's page, as lines for a terminal or a script.
void status(CliContext& ctx, QStringList args)
{
    if (args.size() != 1)
        throw UsageError(args.isEmpty() ? QStringLiteral("the token's web key is missing")
                                        : QStringLiteral("unexpected argument: %1").arg(args.value(1)));
    const std::optional<TicketView> t = QueueState::find(ctx.db(), ctx.clock, args.first());
    // A malformed key and an unknown one get the same answer: trying keys tells nothing.
    if (!t)
        throw Failure(QStringLiteral("no token has that web key"));
    auto orNone = [](const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    auto number = [](const std::optional<int>& n) { return n ? QString::number(*n) : QStringLiteral("-"); };
    ctx.out << "Label: " << orNone(t->label) << '\n'
            << "Service: " << orNone(t->service) << '\n'
            << "State: " << ticketStateName(t->state) << '\n'
            << "Ahead: " << number(t->ahead) << '\n'
            << "Estimate: " << (t->estimateMinutes ? QStringLiteral("%1 min").arg(*t->estimateMinutes)
                                                   : QStringLiteral("-"))
            << '\n'
            << "Counter: " << orNone(t->counter) << '\n';
}

} // namespace

QList<CliCommand> tokenCommands()
{
    return {
        {QStringLiteral("issue"), QStringLiteral("SERVICE [--date yyyy-MM-dd] [--count N] [--print]"),
         QStringLiteral("issue the next token of the service (by name) and print its label, and under it "
                        "\"About N min\" when its wait can be estimated (a single token: a --count batch prints "
                        "labels alone); exit 3 at the service's limit; --print prints its ticket on the station's printer with its copies, "
                        "exit 4 when stored but not printed; SIGTERM, SIGINT or SIGHUP stop a --count batch after the token in "
                        "hand, exit 128 + the signal's number"),
         issue},
        {QStringLiteral("status"), QStringLiteral("WEBKEY"),
         QStringLiteral("the token a visitor's web key names, of any day: label, service, state, tokens ahead, "
                        "estimated wait and counter, one \"Name: value\" line each (\"-\" for none); exit 1 "
                        "when no token has the key"),
         status},
    };
}

} // namespace tallyvo::cli
