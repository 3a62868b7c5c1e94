// Measures the public display: how long a committed call takes to reach the token table, and
// what the display costs while nothing happens. Prints "name: value" lines.
//
//   bench_display [--calls N] [--idle-seconds S] [--pg postgresql://user:pw@host:port/db]
//
// The PostgreSQL run needs a role that may create databases (--pg or TALLYVO_TEST_PG); without
// one only SQLite is measured.

#include "core/Clock.h"
#include "core/Database.h"
#include "core/Schema.h"
#include "core/SettingsStore.h"
#include "display/Announcer.h"
#include "display/CallFeed.h"
#include "display/SpeechEngine.h"
#include "display/ui/frmDisplay.h"
#include "widgets/Grid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <vector>

using namespace tallyvo;

namespace {

// Speech is not what is measured: each text is done at once.
class SilentSpeech final : public SpeechEngine {
public:
    QString error() const override { return QString(); }
    QStringList voices() const override { return {}; }
    bool setVoice(int) override { return false; }
    bool setRate(double) override { return true; }
    void say(const QString&) override { QTimer::singleShot(0, this, [this] { emit finished(); }); }
};

void print(const char* engine, const char* name, double value)
{
    std::printf("%s.%s: %.3f\n", engine, name, value);
    std::fflush(stdout);
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
    return v[i];
}

bool run(const char* name, const DbUrl& url, int calls, int idleSeconds)
{
    {
        Database setup(url);
        QString error;
        if (!setup.open(&error)) {
            std::fprintf(stderr, "%s: %s\n", name, qPrintable(error));
            return false;
        }
        Schema::upgrade(setup);
    }
    QTemporaryDir settingsDir;
    SettingsStore settings(settingsDir.path());
    SystemClock clock;
    Announcer announcer(settings, std::make_unique<SilentSpeech>());
    frmDisplay display(url, settings, clock, announcer);
    display.show();

    QElapsedTimer connecting;
    connecting.start();
    while (!display.feed().isConnected() && connecting.elapsed() < 15000)
        wait(10);
    if (!display.feed().isConnected()) {
        std::fprintf(stderr, "%s: the display did not connect: %s\n", name, qPrintable(display.feed().lastError()));
        return false;
    }

    // Idle: nothing is called.
    wait(1000);
    const FeedStats before = display.feed().stats();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    wait(idleSeconds * 1000);
    const double seconds = wall.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    const FeedStats after = display.feed().stats();
    print(name, "idle_seconds", seconds);
    print(name, "idle_cpu_percent_of_core", 100.0 * cpu / seconds);
    // Differences of the counters as signed numbers: a counter that did not move in step with
    // another must show as a fault, not wrap around to a huge figure.
    const qint64 statements = qint64(after.statements) - qint64(before.statements);
    const qint64 checks = qint64(after.changeChecks) - qint64(before.changeChecks);
    if (statements < checks) {
        std::fprintf(stderr, "%s: the display counted %lld change checks in %lld statements\n", name,
                     static_cast<long long>(checks), static_cast<long long>(statements));
        return false;
    }
    print(name, "idle_statements_per_s", double(statements) / seconds);
    print(name, "idle_change_checks_per_s", double(checks) / seconds);
    print(name, "idle_queries_per_s", double(statements - checks) / seconds);

    // Calls, committed on another connection as a counter station would.
    Database counter(url);
    if (!counter.open())
        return false;
    std::vector<double> latencies;
    latencies.reserve(size_t(calls));
    QString awaited;
    QElapsedTimer sinceCommit;
    QEventLoop shown;
    QObject::connect(&display, &frmDisplay::callShown, &shown, [&](const CallRow& call) {
        if (call.label == awaited && display.FG()->textMatrix(1, 1) == call.tableLabel())
            shown.quit();
    });
    for (int i = 0; i < calls; ++i) {
        awaited = QStringLiteral("B%1").arg(i + 1);
        sinceCommit.start();
        counter.insert(QStringLiteral("INSERT INTO tblCall (cntAuto, no_abr, displayName, status, tickAuto, tickDate, "
                                      "callNote) VALUES (1, ?, 'Counter 1', '0', 0, ?, '') RETURNING callauto"),
                       {awaited, clock.todayText()});
        if (display.FG()->textMatrix(1, 1) != awaited + QLatin1Char(' ')) {
            QTimer giveUp;
            giveUp.setSingleShot(true);
            QObject::connect(&giveUp, &QTimer::timeout, &shown, &QEventLoop::quit);
            giveUp.start(5000);
            shown.exec();
        }
        const double ms = double(sinceCommit.nsecsElapsed()) / 1e6;
        if (display.FG()->textMatrix(1, 1) != awaited + QLatin1Char(' ')) {
            std::fprintf(stderr, "%s: call %s did not reach the table within 5 s\n", name, qPrintable(awaited));
            return false;
        }
        latencies.push_back(ms);
        // Calls come apart in time, at varying moments of the display's own timers.
        wait(15 + (i * 7) % 30);
    }
    print(name, "calls", double(calls));
    print(name, "call_to_table_p50_ms", percentile(latencies, 50));
    print(name, "call_to_table_p99_ms", percentile(latencies, 99));
    print(name, "call_to_table_max_ms", *std::max_element(latencies.begin(), latencies.end()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int calls = 300;
    int idleSeconds = 10;
    QString pg = qEnvironmentVariable("TALLYVO_TEST_PG");
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--calls"))
            calls = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--idle-seconds"))
            idleSeconds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--pg"))
            pg = args[i + 1];
    }

    bool ok = true;
    {
        QTemporaryDir dir;
        try {
            ok = run("sqlite", DbUrl::sqlite(dir.filePath(QStringLiteral("bench.sqlite"))), calls, idleSeconds);
        } catch (const DbError& e) {
            std::fprintf(stderr, "sqlite: %s\n", qPrintable(e.text()));
            ok = false;
        }
    }
    if (pg.isEmpty()) {
        std::fprintf(stderr, "no PostgreSQL server named (--pg or TALLYVO_TEST_PG): PostgreSQL not measured\n");
        return ok ? 0 : 1;
    }
    const std::optional<DbUrl> server = DbUrl::parse(pg);
    if (!server) {
        std::fprintf(stderr, "not a PostgreSQL URL: %s\n", qPrintable(DbUrl::withoutPassword(pg)));
        return 2;
    }
    DbUrl url = *server;
    url.database = QStringLiteral("bench_display_%1").arg(QCoreApplication::applicationPid());
    Database admin(*server);
    QString error;
    if (!admin.open(&error)) {
        std::fprintf(stderr, "pg: %s\n", qPrintable(error));
        return 1;
    }
    try {
        // Asked first, so a role without the right gets one line and not a failed statement.
        if (!admin.scalar(QStringLiteral("SELECT rolcreatedb OR rolsuper FROM pg_roles WHERE rolname=current_user"))
                 .toBool()) {
            std::fprintf(stderr,
                         "pg: the role %s may not create databases on %s: bench_display needs a role with "
                         "CREATEDB (--pg or TALLYVO_TEST_PG)\n",
                         qPrintable(server->user), qPrintable(server->hostAndPort()));
            return 1;
        }
        admin.run(QStringLiteral("CREATE DATABASE %1").arg(url.database));
    } catch (const DbError& e) {
        std::fprintf(stderr, "pg: cannot create a database for the run on %s: %s\n",
                     qPrintable(server->hostAndPort()), qPrintable(e.text()));
        return 1;
    }
    try {
        ok = run("pg", url, calls, idleSeconds) && ok;
    } catch (const DbError& e) {
        std::fprintf(stderr, "pg: %s\n", qPrintable(e.text()));
        ok = false;
    }
    try {
        admin.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(url.database));
    } catch (const DbError& e) {
        std::fprintf(stderr, "pg: the database %s of the run is left behind: %s\n", qPrintable(url.database),
                     qPrintable(e.text()));
    }
    return ok ? 0 : 1;
}
