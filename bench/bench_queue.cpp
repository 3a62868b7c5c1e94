// Measures the two writes every visitor causes: issuing a token and "Next" at a counter, with one
// station and with several stations (processes, each with its own connection) at once. Prints
// "name: value" lines, then checks that no number was stored twice and no token taken twice.
// Last, how long the web station takes to read a day of 5,000 tokens (QueueState::read).
//
//   bench_queue [--tokens N] [--stations S] [--pg postgresql://user:pw@host:port/db] [--no-sqlite]
//
// The PostgreSQL URL may also come from TALLYVO_BENCH_PG. With a role that may create databases
// the run uses a throwaway database; otherwise it works in the one named, on a service of its own.

#include "calling/CallEngine.h"
#include "core/Clock.h"
#include "core/Database.h"
#include "core/Prompt.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "stats/QueueState.h"
#include "tokens/TokenIssuer.h"
#include "tokens/WebKeys.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

using namespace tallyvo;

namespace {

class QuietPrompt final : public Prompt {
public:
    void message(const QString&, const QString&) override {}
    bool question(const QString&, const QString&) override { return false; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override { return std::nullopt; }
    QString openFileName(const QString&, const QString&) override { return QString(); }
    QString saveFileName(const QString&, const QString&) override { return QString(); }
    QString folder(const QString&) override { return QString(); }
};

void print(const QString& engine, const QString& name, double value)
{
    std::printf("%s.%s: %.3f\n", qPrintable(engine), qPrintable(name), value);
    std::fflush(stdout);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

std::unique_ptr<Database> connect(const DbUrl& url)
{
    auto db = std::make_unique<Database>(url);
    QString error;
    if (!db->open(&error))
        qFatal("%s", qPrintable(error));
    return db;
}

// What a worker measured: the latency of each operation and when its loop began and ended.
struct Measured {
    std::vector<double> ms;
    qint64 begin = 0; // epoch ms
    qint64 end = 0;
};

// The timed loop of one station. Issue: `count` tokens. Next: "Next" until nothing waits.
Measured work(const Database& db, const QString& what, int service, int counter, int count)
{
    SystemClock clock;
    Session session;
    session.ticketCopies = 1;
    Measured m;
    QElapsedTimer t;
    if (what == QLatin1String("issue")) {
        NoTicketPrinter printer;
        TokenIssuer issuer(db, clock, session, printer);
        m.begin = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < count; ++i) {
            t.start();
            const IssueResult r = issuer.issue(service, QStringLiteral("Bench"));
            m.ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
            if (!r.stored())
                qFatal("issue failed: %s", qPrintable(r.message()));
        }
    } else {
        QTemporaryDir settingsDir;
        SettingsStore settings(settingsDir.path());
        QuietPrompt prompt;
        session.activeCounter = counter;
        session.activeService = service;
        CallEngine engine(db, clock, session, settings, prompt);
        engine.open();
        m.begin = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < count; ++i) {
            t.start();
            const bool called = engine.nextAction();
            const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
            if (!called)
                break;
            m.ms.push_back(ms);
        }
    }
    m.end = QDateTime::currentMSecsSinceEpoch();
    return m;
}

// A station of its own: connects, waits for the common start moment, works, reports.
int worker(const QStringList& args)
{
    const DbUrl url = *DbUrl::parse(args.value(1));
    const QString what = args.value(2);
    const int service = args.value(3).toInt();
    const int counter = args.value(4).toInt();
    const int count = args.value(5).toInt();
    const qint64 startAt = args.value(6).toLongLong();
    const auto db = connect(url);
    const qint64 wait = startAt - QDateTime::currentMSecsSinceEpoch();
    if (wait > 0)
        QThread::msleep(static_cast<unsigned long>(wait));
    const Measured m = work(*db, what, service, counter, count);
    std::printf("span %lld %lld\n", m.begin, m.end);
    for (double ms : m.ms)
        std::printf("%.4f\n", ms);
    return 0;
}

Measured together(const DbUrl& url, const QString& what, int service, const std::vector<int>& counters, int count)
{
    const qint64 startAt = QDateTime::currentMSecsSinceEpoch() + 1500;
    std::vector<std::unique_ptr<QProcess>> stations;
    for (int counter : counters) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--worker"), url.toString(true), what, QString::number(service),
                  QString::number(counter), QString::number(count), QString::number(startAt)});
        stations.push_back(std::move(p));
    }
    Measured all;
    for (auto& p : stations) {
        if (!p->waitForFinished(600000) || p->exitCode() != 0)
            qFatal("a station failed");
        const QList<QByteArray> lines = p->readAllStandardOutput().split('\n');
        for (const QByteArray& line : lines) {
            if (line.startsWith("span ")) {
                const QList<QByteArray> f = line.split(' ');
                const qint64 b = f.value(1).toLongLong();
                const qint64 e = f.value(2).toLongLong();
                all.begin = all.begin == 0 ? b : std::min(all.begin, b);
                all.end = std::max(all.end, e);
            } else if (!line.isEmpty()) {
                all.ms.push_back(line.toDouble());
            }
        }
    }
    return all;
}

struct Site {
    int service = 0;
    std::vector<int> counters;
};

Site makeSite(const Database& db, int stations)
{
    const QString tag = QStringLiteral("Bench %1 %2")
                            .arg(QCoreApplication::applicationPid())
                            .arg(QDateTime::currentMSecsSinceEpoch());
    Site site;
    const qint64 dept = db.insert(QStringLiteral("INSERT INTO tblDept (deptName, deptDesc, active) VALUES (?, '', '1') "
                                                 "RETURNING deptAuto"),
                                  {tag});
    site.service = static_cast<int>(db.insert(
        QStringLiteral("INSERT INTO tblService (deptAuto, ServName, servdesc, active, startno, endno, abrno) "
                       "VALUES (?, ?, '', '1', '1', '30000', 'B') RETURNING servAuto"),
        {dept, tag}));
    for (int i = 0; i < stations; ++i)
        site.counters.push_back(static_cast<int>(db.insert(
            QStringLiteral("INSERT INTO tblCounter (servAuto, contName, displayName, username, pass, active) "
                           "VALUES (?, ?, ?, '', '', '1') RETURNING cntAuto"),
            {site.service, QStringLiteral("%1 desk %2").arg(tag).arg(i + 1), QStringLiteral("Desk %1").arg(i + 1)})));
    return site;
}

void dropSite(const Database& db, const Site& site)
{
    db.run(QStringLiteral("DELETE FROM tblCall WHERE tickAuto IN (SELECT tickAuto FROM tblTicket WHERE servAuto=?)"),
           {site.service});
    db.run(QStringLiteral("DELETE FROM tblTicket WHERE servAuto=?"), {site.service});
    db.run(QStringLiteral("DELETE FROM tblCounter WHERE servAuto=?"), {site.service});
    const QVariant dept = db.scalar(QStringLiteral("SELECT deptAuto FROM tblService WHERE servAuto=?"), {site.service});
    db.run(QStringLiteral("DELETE FROM tblService WHERE servAuto=?"), {site.service});
    db.run(QStringLiteral("DELETE FROM tblDept WHERE deptAuto=?"), {dept});
}

void checkSite(const QString& engine, const Database& db, const Site& site)
{
    const QVariantList s{site.service};
    const int tokens = db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE servAuto=?"), s).toInt();
    const int numbers =
        db.scalar(QStringLiteral("SELECT count(*) FROM (SELECT DISTINCT tickDate, tickNo FROM tblTicket "
                                 "WHERE servAuto=?) d"),
                  s)
            .toInt();
    const int calls = db.scalar(QStringLiteral("SELECT count(*) FROM tblCall c JOIN tblTicket t "
                                               "ON t.tickAuto=c.tickAuto WHERE t.servAuto=?"),
                                s)
                          .toInt();
    const int called = db.scalar(QStringLiteral("SELECT count(*) FROM tblTicket WHERE servAuto=? AND call='1'"), s)
                           .toInt();
    print(engine, QStringLiteral("tokens_checked"), tokens);
    print(engine, QStringLiteral("duplicate_numbers"), tokens - numbers);
    print(engine, QStringLiteral("tokens_taken_twice"), calls - called);
    print(engine, QStringLiteral("tokens_left_waiting"), tokens - called);
}

// A day far from any real one, at two in the afternoon.
class DayClock final : public Clock {
public:
    QDate today() const override { return QDate::currentDate().addDays(3000); }
    QTime now() const override { return QTime(14, 0); }
};

// A busy day as the web station reads it: 5,000 tokens issued from 08:00, 3,000 of them served by
// the site's counters (some cancelled), a few at the counters now, some transferred, the rest
// waiting. Prints the median and the slowest of 20 reads.
void measureQueueState(const QString& engine, const Database& db, const Site& site)
{
    constexpr int dayTokens = 5000;
    const DayClock clock;
    const QString day = clock.todayText();
    const int counters = static_cast<int>(site.counters.size());
    {
        Transaction t(db);
        for (int n = 1; n <= dayTokens; ++n) {
            const QString clockFormat = QStringLiteral("HH:mm:ss");
            const QString issued = QTime(8, 0).addSecs(n * 6 * 3600 / dayTokens).toString(clockFormat);
            QString call = QStringLiteral("0");
            QString status;
            QString attTime;
            QString finished;
            int counter = 0;
            if (n <= 3020) {
                call = QStringLiteral("1");
                counter = site.counters[static_cast<size_t>(n % counters)];
                const QTime at = QTime(8, 5).addSecs(n * 6 * 3600 / 3020);
                attTime = at.toString(clockFormat);
                finished = n <= 3000 ? at.addSecs(300).toString(clockFormat) : QString();
                status = n % 60 == 0 ? QStringLiteral("Cancelled") : QStringLiteral("Finished");
            } else if (n % 100 == 0) {
                counter = site.counters.front();
                status = QStringLiteral("Transferred");
            }
            db.run(QStringLiteral("INSERT INTO tblTicket (servAuto, tickNo, tickDate, tickTime, call, no_abr, "
                                  "attended, attTime, finished, status, webKey) "
                                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                   {site.service, n, day, issued, call, QStringLiteral("B%1").arg(n), counter, attTime,
                    finished, status, WebKeys::make()});
        }
        t.commit();
    }
    std::vector<double> ms;
    size_t listed = 0;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer timer;
        timer.start();
        const QueueState state = QueueState::read(db, clock);
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        listed = state.tickets().size();
    }
    print(engine, QStringLiteral("queuestate_read_tokens"), static_cast<double>(listed));
    print(engine, QStringLiteral("queuestate_read_ms_p50_5000_tokens"), percentile(ms, 50));
    print(engine, QStringLiteral("queuestate_read_ms_max_5000_tokens"), percentile(ms, 100));
}

void runEngine(const QString& engine, const DbUrl& url, int tokens, int stations)
{
    const auto db = connect(url);
    Schema::upgrade(*db);
    const Site site = makeSite(*db, stations);

    // One station.
    Measured issue1 = work(*db, QStringLiteral("issue"), site.service, 0, tokens);
    print(engine, QStringLiteral("issue_p50_ms_1station"), percentile(issue1.ms, 50));
    print(engine, QStringLiteral("issue_p99_ms_1station"), percentile(issue1.ms, 99));
    print(engine, QStringLiteral("issue_tokens_per_s_1station"),
          1000.0 * static_cast<double>(issue1.ms.size()) / static_cast<double>(std::max<qint64>(1, issue1.end - issue1.begin)));
    Measured next1 = work(*db, QStringLiteral("next"), site.service, site.counters.front(), tokens);
    print(engine, QStringLiteral("next_p50_ms_1station"), percentile(next1.ms, 50));
    print(engine, QStringLiteral("next_p99_ms_1station"), percentile(next1.ms, 99));

    // Several stations at once.
    auto many = [&](const QString& name) { return QStringLiteral("%1_%2stations").arg(name).arg(stations); };
    const std::vector<int> desks(site.counters.begin(), site.counters.end());
    const Measured issueN = together(url, QStringLiteral("issue"), site.service, desks, tokens);
    const double seconds = static_cast<double>(std::max<qint64>(1, issueN.end - issueN.begin)) / 1000.0;
    print(engine, many(QStringLiteral("issue_p50_ms")), percentile(issueN.ms, 50));
    print(engine, many(QStringLiteral("issue_p99_ms")), percentile(issueN.ms, 99));
    print(engine, many(QStringLiteral("issue_tokens_per_s")), static_cast<double>(issueN.ms.size()) / seconds);
    const Measured nextN = together(url, QStringLiteral("next"), site.service, desks, 1000000);
    const double nextSeconds = static_cast<double>(std::max<qint64>(1, nextN.end - nextN.begin)) / 1000.0;
    print(engine, many(QStringLiteral("next_p50_ms")), percentile(nextN.ms, 50));
    print(engine, many(QStringLiteral("next_p99_ms")), percentile(nextN.ms, 99));
    print(engine, many(QStringLiteral("next_calls_per_s")), static_cast<double>(nextN.ms.size()) / nextSeconds);

    checkSite(engine, *db, site);
    measureQueueState(engine, *db, site);
    dropSite(*db, site);
}

// A throwaway database on the server when the role may create one; else the database named.
struct PgTarget {
    DbUrl url;
    std::optional<DbUrl> admin;
    QString created;
};

PgTarget pgTarget(const DbUrl& given)
{
    PgTarget t{given, std::nullopt, QString()};
    const QString name = QStringLiteral("tallyvo_bench_%1").arg(QCoreApplication::applicationPid());
    try {
        const auto admin = connect(given);
        admin->run(QStringLiteral("CREATE DATABASE %1").arg(name));
        t.admin = given;
        t.created = name;
        t.url.database = name;
    } catch (const DbError&) {
        // Not allowed to create databases: work in the given one.
    }
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--worker"))
        return worker(args);

    int tokens = 500;
    int stations = 4;
    bool sqlite = true;
    QString pg = qEnvironmentVariable("TALLYVO_BENCH_PG");
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--tokens"))
            tokens = args.value(++i).toInt();
        else if (args[i] == QLatin1String("--stations"))
            stations = args.value(++i).toInt();
        else if (args[i] == QLatin1String("--pg"))
            pg = args.value(++i);
        else if (args[i] == QLatin1String("--no-sqlite"))
            sqlite = false;
        else {
            std::fprintf(stderr, "usage: bench_queue [--tokens N] [--stations S] [--pg URL] [--no-sqlite]\n");
            return 2;
        }
    }
    if (tokens < 1 || stations < 1) {
        std::fprintf(stderr, "--tokens and --stations must be at least 1\n");
        return 2;
    }
    std::printf("tokens_per_station: %d\nstations: %d\n", tokens, stations);

    if (sqlite) {
        QTemporaryDir dir;
        runEngine(QStringLiteral("sqlite"), DbUrl::sqlite(dir.filePath(QStringLiteral("bench.sqlite"))), tokens,
                  stations);
    }
    if (!pg.isEmpty()) {
        QString error;
        const std::optional<DbUrl> url = DbUrl::parse(pg, &error);
        if (!url || url->engine != Engine::Postgres) {
            std::fprintf(stderr, "not a PostgreSQL URL: %s\n", qPrintable(pg));
            return 2;
        }
        const PgTarget target = pgTarget(*url);
        runEngine(QStringLiteral("pg"), target.url, tokens, stations);
        if (target.admin) {
            const auto admin = connect(*target.admin);
            admin->run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(target.created));
        }
    } else {
        std::printf("pg: not measured (give --pg URL or TALLYVO_BENCH_PG)\n");
    }
    return 0;
}
