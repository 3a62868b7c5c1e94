// A site with a standby failing over under load. Ticket stations and counters (threads, each with
// its own connection, as separate stations have) work on the site; the primary is stopped at once,
// as a machine that dies, and the standby is promoted. Prints how long each station took to work
// again, then checks the promoted database against what the stations reported: tokens and calls
// reported done but missing, tokens stored twice for one issue, tokens called twice.
//
//   bench_failover --db URL --kill CMD --promote CMD [--tickets 3] [--counters 10]
//                  [--before SECONDS] [--after SECONDS]
//
// The URL names both servers (postgresql://user:pw@127.0.0.1:P1,127.0.0.1:P2/db); CMD are shell
// commands. bench/failover.sh sets up the servers and runs this.

#include "calling/CallEngine.h"
#include "core/Clock.h"
#include "core/Database.h"
#include "core/Prompt.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "tokens/TokenIssuer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace tallyvo;

namespace {

// What a console would show in a message box counts as a failed click.
class CountingPrompt final : public Prompt {
public:
    void message(const QString& text, const QString&) override { last = text; }
    bool question(const QString&, const QString&) override { return false; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override { return std::nullopt; }
    QString openFileName(const QString&, const QString&) override { return QString(); }
    QString saveFileName(const QString&, const QString&) override { return QString(); }
    QString folder(const QString&) override { return QString(); }
    QString last;
};

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// One station's record, read by the main thread once the station has stopped; firstOkAfter is
// read while it runs.
struct Station {
    QString name;
    bool ticket = false;
    int service = 0;
    int counter = 0;
    std::atomic<qint64> lastOk{0};
    std::atomic<qint64> firstOkAfterDown{0}; // the first thing done that began after the primary went
    std::atomic<qint64> lastFailure{0};
    std::atomic<int> failures{0};
    std::vector<qint64> tokens; // keys of tokens reported issued
    std::vector<qint64> calls;  // keys of tokens reported called
    QStringList errors;         // the distinct texts of failures
};

std::atomic<bool> stopAll{false};
std::atomic<qint64> downAt{0};

void succeeded(Station& s, qint64 began)
{
    s.lastOk = began;
    if (downAt > 0 && began > downAt && s.firstOkAfterDown == 0)
        s.firstOkAfterDown = began;
}

void runStation(const DbUrl& url, Station& s)
{
    Database db(url);
    // A station that starts while the servers start keeps trying, as the program does.
    while (!db.open() && !stopAll)
        QThread::msleep(200);
    SystemClock clock;
    Session session;
    session.ticketCopies = 0;
    session.activeCounter = s.counter;
    session.activeService = s.service;
    QTemporaryDir settingsDir;
    SettingsStore settings(settingsDir.path());
    CountingPrompt prompt;
    NoTicketPrinter printer;
    TokenIssuer issuer(db, clock, session, printer);
    std::unique_ptr<CallEngine> engine;
    auto failed = [&](const QString& why) {
        s.lastFailure = nowMs();
        ++s.failures;
        if (!s.errors.contains(why) && s.errors.size() < 5)
            s.errors << why;
        // The operator clicks again a moment later.
        QThread::msleep(200);
    };
    while (!stopAll) {
        const qint64 began = nowMs();
        if (s.ticket) {
            const IssueResult r = issuer.issue(s.service, s.name);
            if (!r.stored()) {
                failed(r.message());
                continue;
            }
            s.tokens.push_back(r.token.key);
            succeeded(s, began);
            QThread::msleep(40);
            continue;
        }
        prompt.last.clear();
        try {
            if (!engine) {
                engine = std::make_unique<CallEngine>(db, clock, session, settings, prompt);
                engine->open();
            }
            const bool called = engine->nextAction();
            if (!prompt.last.isEmpty()) {
                failed(prompt.last);
                continue;
            }
            if (called)
                s.calls.push_back(engine->currentKey().toLongLong());
            succeeded(s, began);
        } catch (const DbError& e) {
            failed(e.text());
            continue;
        }
        QThread::msleep(80);
    }
}

int shell(const QString& command)
{
    return QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QStringList args = app.arguments().mid(1);
    auto option = [&](const QString& name, const QString& fallback) {
        const qsizetype i = args.indexOf(QStringLiteral("--") + name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    QString why;
    const std::optional<DbUrl> url = DbUrl::parse(option(QStringLiteral("db"), QString()), &why);
    const QString kill = option(QStringLiteral("kill"), QString());
    const QString promote = option(QStringLiteral("promote"), QString());
    if (!url || kill.isEmpty() || promote.isEmpty()) {
        std::fprintf(stderr, "usage: bench_failover --db URL --kill CMD --promote CMD [--tickets N] [--counters N] "
                             "[--before S] [--after S]\n%s\n", qPrintable(why));
        return 2;
    }
    const int tickets = option(QStringLiteral("tickets"), QStringLiteral("3")).toInt();
    const int counters = option(QStringLiteral("counters"), QStringLiteral("10")).toInt();
    const int before = option(QStringLiteral("before"), QStringLiteral("5")).toInt();
    const int after = option(QStringLiteral("after"), QStringLiteral("3")).toInt();
    Database::setReconnectNotice([](const QString& line) {
        std::fprintf(stderr, "%s notice: %s\n", qPrintable(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"))),
                     qPrintable(line));
    });

    // The site: a service per ticket station, counters shared out among them.
    std::vector<std::unique_ptr<Station>> stations;
    {
        Database setup(*url);
        if (!setup.open(&why))
            qFatal("%s", qPrintable(why));
        Schema::upgrade(setup);
        const qint64 dept = setup.insert(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES "
                                                        "('Failover', '', '1') RETURNING deptAuto"));
        QList<qint64> services;
        for (int t = 0; t < tickets; ++t) {
            services << setup.insert(QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, "
                                                    "startno, endno, abrno) VALUES (?, ?, '', '1', '1', '30000', ?) "
                                                    "RETURNING servAuto"),
                                     {dept, QStringLiteral("Service %1").arg(t + 1), QString(QChar(u'A' + t))});
            auto s = std::make_unique<Station>();
            s->name = QStringLiteral("Service %1").arg(t + 1);
            s->ticket = true;
            s->service = static_cast<int>(services.last());
            stations.push_back(std::move(s));
        }
        for (int c = 0; c < counters; ++c) {
            auto s = std::make_unique<Station>();
            s->name = QStringLiteral("Counter %1").arg(c + 1);
            s->service = static_cast<int>(services.value(c % services.size()));
            s->counter = static_cast<int>(
                setup.insert(QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, "
                                            "active) VALUES (?, ?, ?, ?, 'x', '1') RETURNING cntAuto"),
                             {s->service, s->name, s->name, QStringLiteral("c%1").arg(c + 1)}));
            stations.push_back(std::move(s));
        }
    }

    std::vector<std::thread> threads;
    for (auto& s : stations)
        threads.emplace_back(runStation, *url, std::ref(*s));
    QThread::sleep(static_cast<unsigned long>(before));

    const qint64 killStart = nowMs();
    const int killed = shell(kill);
    const qint64 down = nowMs();
    downAt = down;
    const int promoted = shell(promote);
    const qint64 promotedAt = nowMs();
    std::printf("primary stopped: %.2f s (exit %d); standby promoted %.2f s later (exit %d)\n",
                (down - killStart) / 1000.0, killed, (promotedAt - down) / 1000.0, promoted);

    // Every station has worked again once it has done something it started after the primary went.
    const qint64 giveUp = down + 60000;
    auto allBack = [&] {
        return std::all_of(stations.begin(), stations.end(), [](const auto& s) { return s->firstOkAfterDown > 0; });
    };
    while (!allBack() && nowMs() < giveUp)
        QThread::msleep(20);
    const qint64 back = nowMs();
    QThread::sleep(static_cast<unsigned long>(after));
    stopAll = true;
    for (std::thread& t : threads)
        t.join();

    double slowest = 0;
    for (const auto& s : stations) {
        const double seconds = s->firstOkAfterDown > 0 ? (s->firstOkAfterDown - down) / 1000.0 : -1;
        slowest = std::max(slowest, seconds < 0 ? 1e9 : seconds);
        std::printf("%-12s back after %6.2f s, %4d failed clicks%s%s\n", qPrintable(s->name), seconds,
                    s->failures.load(), s->errors.isEmpty() ? "" : ", e.g. ",
                    s->errors.isEmpty() ? "" : qPrintable(s->errors.first().left(160)));
    }

    // What the promoted server holds.
    Database check(*url);
    if (!check.open(&why))
        qFatal("%s", qPrintable(why));
    QSet<qint64> tokensFound;
    {
        QSqlQuery q = check.run(QStringLiteral("SELECT t.tickAuto FROM tblTicket t JOIN tblService s ON "
                                               "s.servAuto=t.servAuto JOIN tblDept d ON d.deptAuto=s.deptAuto "
                                               "WHERE d.deptName='Failover'"));
        while (q.next())
            tokensFound.insert(q.value(0).toLongLong());
    }
    QHash<qint64, int> callRows;
    {
        QSqlQuery q = check.run(QStringLiteral("SELECT tickAuto, count(*) FROM tblCall GROUP BY tickAuto"));
        while (q.next())
            callRows.insert(q.value(0).toLongLong(), q.value(1).toInt());
    }
    QHash<qint64, int> tokensReported, callsReported;
    int issueFailures = 0;
    for (const auto& s : stations) {
        for (qint64 k : s->tokens)
            ++tokensReported[k];
        for (qint64 k : s->calls)
            ++callsReported[k];
        if (s->ticket)
            issueFailures += s->failures;
    }
    int tokensMissing = 0, tokensReportedTwice = 0, callsMissing = 0, callsReportedTwice = 0, calledTwice = 0;
    for (auto it = tokensReported.begin(); it != tokensReported.end(); ++it) {
        tokensMissing += tokensFound.contains(it.key()) ? 0 : 1;
        tokensReportedTwice += it.value() > 1 ? 1 : 0;
    }
    for (auto it = callsReported.begin(); it != callsReported.end(); ++it) {
        callsMissing += callRows.contains(it.key()) ? 0 : 1;
        callsReportedTwice += it.value() > 1 ? 1 : 0;
    }
    for (auto it = callRows.begin(); it != callRows.end(); ++it)
        calledTwice += it.value() > 1 ? 1 : 0;
    // A token found that no station reported is one whose station was told it failed; more of
    // them than failed issues would be a visitor with two tokens.
    qint64 unreported = 0;
    for (qint64 k : tokensFound)
        unreported += tokensReported.contains(k) ? 0 : 1;
    const qint64 duplicates = std::max<qint64>(0, unreported - issueFailures) + tokensReportedTwice;

    std::printf("seconds until every station works again: %.2f%s\n", slowest > 1e8 ? -1.0 : slowest,
                allBack() ? "" : " (some never came back)");
    std::printf("seconds from the primary's stop to all back, as watched: %.2f\n", (back - down) / 1000.0);
    std::printf("tokens reported issued: %lld, found: %lld, reported and missing: %d\n",
                static_cast<long long>(tokensReported.size()), static_cast<long long>(tokensFound.size()),
                tokensMissing);
    std::printf("tokens found but reported failed: %lld (failed issues: %d); duplicate tokens: %lld\n",
                static_cast<long long>(unreported), issueFailures, static_cast<long long>(duplicates));
    std::printf("calls reported: %lld, call rows found: %lld, reported and missing: %d, tokens called twice: %d, "
                "reported twice: %d\n",
                static_cast<long long>(callsReported.size()), static_cast<long long>(callRows.size()), callsMissing,
                calledTwice, callsReportedTwice);
    const bool sound = allBack() && tokensMissing == 0 && callsMissing == 0 && duplicates == 0 && calledTwice == 0 &&
        callsReportedTwice == 0;
    return sound ? 0 : 1;
}
