// Measures the public display: how long a committed call takes to reach the token table of each
// of several displays on one database, and what the displays cost while nothing happens. Prints
// "name: value" lines.
//
//   bench_display [--calls N] [--idle-seconds S] [--displays 1,2,4] [--pg postgresql://user:pw@host:port/db]
//
// The PostgreSQL run needs a role that may create databases (--pg or TALLYVO_TEST_PG); without
// one only SQLite is measured.

#include "core/Clock.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/Schema.h"
#include "core/SettingsStore.h"
#include "display/Announcer.h"
#include "display/CallFeed.h"
#include "display/SpeechEngine.h"
#include "display/ui/frmDisplay.h"
#include "widgets/Grid.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
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

// One display station with settings of its own, as on a separate screen.
struct Screen {
    Screen(const DbUrl& url, const Clock& clock)
        : settings(dir.path())
        , announcer(settings, std::make_unique<SilentSpeech>())
        , display(url, settings, clock, announcer)
    {
    }
    QTemporaryDir dir;
    SettingsStore settings;
    Announcer announcer;
    frmDisplay display;
    std::vector<double> latencies;     // from the call's commit to the row on the table
    std::vector<double> withCommit;    // the same, counted from before the counter's INSERT
};

void print(const QString& name, const char* what, double value)
{
    std::printf("%s.%s: %.3f\n", qPrintable(name), what, value);
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

// Context switches (each one a wake-up) and run time of this process's threads, in total and
// for the feeds' threads alone, from /proc.
struct ThreadCost {
    quint64 switches = 0;
    quint64 feedSwitches = 0;
    double feedCpuSeconds = 0;
};

quint64 statusField(const QByteArray& status, const char* field)
{
    const int at = status.indexOf(field);
    if (at < 0)
        return 0;
    const int start = at + int(qstrlen(field));
    const int end = status.indexOf('\n', start);
    return status.mid(start, end - start).trimmed().toULongLong();
}

ThreadCost threadCost()
{
    ThreadCost cost;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        QFile sched(tasks.filePath(tid + QStringLiteral("/schedstat")));
        if (!status.open(QIODevice::ReadOnly) || !comm.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = status.readAll();
        const quint64 switches =
            statusField(text, "voluntary_ctxt_switches:") + statusField(text, "nonvoluntary_ctxt_switches:");
        cost.switches += switches;
        if (comm.readAll().trimmed() == "CallFeed") {
            cost.feedSwitches += switches;
            if (sched.open(QIODevice::ReadOnly))
                cost.feedCpuSeconds += double(sched.readAll().split(' ').value(0).toULongLong()) / 1e9;
        }
    }
    return cost;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
    return v[i];
}

FeedStats totalStats(const std::vector<std::unique_ptr<Screen>>& screens)
{
    FeedStats sum;
    for (const auto& s : screens) {
        const FeedStats one = s->display.feed().stats();
        sum.statements += one.statements;
        sum.changeChecks += one.changeChecks;
        sum.wakeups += one.wakeups;
    }
    return sum;
}

bool measureIdle(const QString& name, const std::vector<std::unique_ptr<Screen>>& screens, int idleSeconds)
{
    wait(1000);
    const FeedStats before = totalStats(screens);
    const ThreadCost threadsBefore = threadCost();
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    wait(idleSeconds * 1000);
    const double seconds = double(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    const ThreadCost threadsAfter = threadCost();
    const FeedStats after = totalStats(screens);
    const double n = double(screens.size());
    print(name, "idle_seconds", seconds);
    print(name, "idle_cpu_percent_of_core", 100.0 * cpu / seconds);
    print(name, "idle_wakeups_per_s", double(threadsAfter.switches - threadsBefore.switches) / seconds);
    print(name, "idle_feed_cpu_percent_of_core_per_display",
          100.0 * (threadsAfter.feedCpuSeconds - threadsBefore.feedCpuSeconds) / seconds / n);
    print(name, "idle_feed_wakeups_per_s_per_display",
          double(threadsAfter.feedSwitches - threadsBefore.feedSwitches) / seconds / n);
    print(name, "idle_statements_per_s", double(after.statements - before.statements) / seconds);
    print(name, "idle_change_checks_per_s", double(after.changeChecks - before.changeChecks) / seconds);
    print(name, "idle_queries_per_s",
          double((after.statements - after.changeChecks) - (before.statements - before.changeChecks)) / seconds);
    return true;
}

// Calls, committed on another connection as a counter station would. A call that one display
// shows is given a moment more to reach the others, so a display that misses calls is counted,
// not waited for.
bool measureCalls(const QString& name, const DbUrl& url, const Clock& clock,
                  const std::vector<std::unique_ptr<Screen>>& screens, int calls)
{
    constexpr int kFirstShownMs = 5000;
    constexpr int kOthersGraceMs = 200;
    Database counter(url);
    if (!counter.open())
        return false;
    QString awaited;
    // Both started before the INSERT; the commit's own time is taken off when it returns, so
    // call-to-table starts where the call exists for the displays.
    QElapsedTimer sinceInsert;
    qint64 commitNs = 0;
    std::vector<double> commits;
    int shownNow = 0;
    QEventLoop shown;
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &shown, &QEventLoop::quit);
    for (const auto& s : screens) {
        Screen* screen = s.get();
        QObject::connect(&screen->display, &frmDisplay::callShown, &shown, [&, screen](const CallRow& call) {
            if (call.label != awaited || screen->display.FG()->textMatrix(1, 1) != call.tableLabel())
                return;
            const qint64 now = sinceInsert.nsecsElapsed();
            screen->withCommit.push_back(double(now) / 1e6);
            screen->latencies.push_back(double(now - commitNs) / 1e6);
            if (++shownNow == int(screens.size()))
                shown.quit();
            else if (shownNow == 1)
                giveUp.start(kOthersGraceMs);
        });
    }
    const FeedStats before = totalStats(screens);
    for (int i = 0; i < calls; ++i) {
        awaited = QStringLiteral("B%1").arg(i + 1);
        shownNow = 0;
        sinceInsert.start();
        counter.insert(QStringLiteral("INSERT INTO tblCall (cntAuto, no_abr, displayName, status, tickAuto, tickDate, "
                                      "callNote) VALUES (1, ?, 'Counter 1', '0', 0, ?, '') RETURNING callauto"),
                       {awaited, clock.todayText()});
        // The displays' threads may have the call already; the window hears of it only once
        // this thread is back in its event loop, so nothing shown is taken before this point.
        commitNs = sinceInsert.nsecsElapsed();
        commits.push_back(double(commitNs) / 1e6);
        giveUp.start(kFirstShownMs);
        shown.exec();
        giveUp.stop();
        if (shownNow == 0) {
            std::fprintf(stderr, "%s: call %s reached no display within %d ms\n", qPrintable(name),
                         qPrintable(awaited), kFirstShownMs);
            return false;
        }
        // Calls come apart in time, at varying moments of the displays' own timers.
        wait(15 + (i * 7) % 30);
    }
    const FeedStats after = totalStats(screens);
    print(name, "calls", double(calls));
    // How often each display woke and looked per call: above one, a look came before the commit
    // was visible, or another display's write woke it for nothing.
    const double perCall = double(calls) * double(screens.size());
    print(name, "calls_wakeups_per_call_per_display", double(after.wakeups - before.wakeups) / perCall);
    print(name, "calls_change_checks_per_call_per_display",
          double(after.changeChecks - before.changeChecks) / perCall);
    int fewest = calls;
    std::vector<double> all;
    std::vector<double> allWithCommit;
    for (size_t d = 0; d < screens.size(); ++d) {
        const std::vector<double>& l = screens[d]->latencies;
        const QString one = QStringLiteral("%1.display%2").arg(name).arg(d + 1);
        fewest = std::min(fewest, int(l.size()));
        print(one, "calls_shown", double(l.size()));
        if (l.empty())
            continue;
        all.insert(all.end(), l.begin(), l.end());
        const std::vector<double>& w = screens[d]->withCommit;
        allWithCommit.insert(allWithCommit.end(), w.begin(), w.end());
        print(one, "call_to_table_p50_ms", percentile(l, 50));
        print(one, "call_to_table_p99_ms", percentile(l, 99));
        print(one, "call_to_table_max_ms", *std::max_element(l.begin(), l.end()));
    }
    print(name, "fewest_calls_shown_by_a_display", double(fewest));
    print(name, "call_to_table_p50_ms", percentile(all, 50));
    print(name, "call_to_table_p99_ms", percentile(all, 99));
    print(name, "call_to_table_max_ms", *std::max_element(all.begin(), all.end()));
    // What the counter's INSERT itself took, and the latency counted from before it.
    print(name, "commit_p50_ms", percentile(commits, 50));
    print(name, "commit_p99_ms", percentile(commits, 99));
    print(name, "commit_max_ms", *std::max_element(commits.begin(), commits.end()));
    print(name, "insert_to_table_p50_ms", percentile(allWithCommit, 50));
    print(name, "insert_to_table_p99_ms", percentile(allWithCommit, 99));
    print(name, "insert_to_table_max_ms", *std::max_element(allWithCommit.begin(), allWithCommit.end()));
    return true;
}

bool run(const QString& name, const DbUrl& url, int displays, int calls, int idleSeconds)
{
    {
        Database setup(url);
        QString error;
        if (!setup.open(&error)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(error));
            return false;
        }
        Schema::upgrade(setup);
    }
    SystemClock clock;
    std::vector<std::unique_ptr<Screen>> screens;
    for (int d = 0; d < displays; ++d) {
        screens.push_back(std::make_unique<Screen>(url, clock));
        screens.back()->display.show();
    }

    QElapsedTimer connecting;
    connecting.start();
    auto allConnected = [&] {
        return std::all_of(screens.begin(), screens.end(),
                           [](const auto& s) { return s->display.feed().isConnected(); });
    };
    while (!allConnected() && connecting.elapsed() < 15000)
        wait(10);
    for (const auto& s : screens) {
        if (!s->display.feed().isConnected()) {
            std::fprintf(stderr, "%s: a display did not connect: %s\n", qPrintable(name),
                         qPrintable(s->display.feed().lastError()));
            return false;
        }
    }
    print(name, "displays", double(displays));
    return measureIdle(name, screens, idleSeconds) && measureCalls(name, url, clock, screens, calls);
}

QList<int> displayCounts(const QString& list)
{
    QList<int> counts;
    for (const QString& part : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (const int n = part.trimmed().toInt(); n > 0)
            counts << n;
    return counts.isEmpty() ? QList<int>{1} : counts;
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
    QList<int> counts{1, 2, 4};
    QString pg = qEnvironmentVariable("TALLYVO_TEST_PG");
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--calls"))
            calls = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--idle-seconds"))
            idleSeconds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--displays"))
            counts = displayCounts(args[i + 1]);
        else if (args[i] == QLatin1String("--pg"))
            pg = args[i + 1];
    }

    bool ok = true;
    for (const int n : counts) {
        QTemporaryDir dir;
        try {
            ok = run(QStringLiteral("sqlite.%1d").arg(n), DbUrl::sqlite(dir.filePath(QStringLiteral("bench.sqlite"))),
                     n, calls, idleSeconds)
                && ok;
        } catch (const DbError& e) {
            std::fprintf(stderr, "sqlite.%dd: %s\n", n, qPrintable(e.text()));
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
    } catch (const DbError& e) {
        std::fprintf(stderr, "pg: %s\n", qPrintable(e.text()));
        return 1;
    }
    for (const int n : counts) {
        DbUrl url = *server;
        url.database = QStringLiteral("bench_display_%1_%2").arg(QCoreApplication::applicationPid()).arg(n);
        try {
            admin.run(QStringLiteral("CREATE DATABASE %1").arg(url.database));
        } catch (const DbError& e) {
            std::fprintf(stderr, "pg: cannot create a database for the run on %s: %s\n",
                         qPrintable(server->hostAndPort()), qPrintable(e.text()));
            return 1;
        }
        try {
            ok = run(QStringLiteral("pg.%1d").arg(n), url, n, calls, idleSeconds) && ok;
        } catch (const DbError& e) {
            std::fprintf(stderr, "pg.%dd: %s\n", n, qPrintable(e.text()));
            ok = false;
        }
        try {
            admin.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(url.database));
        } catch (const DbError& e) {
            std::fprintf(stderr, "pg: the database %s of the run is left behind: %s\n", qPrintable(url.database),
                         qPrintable(e.text()));
        }
    }
    return ok ? 0 : 1;
}
