// Measures the web station as visitors meet it: thousands of phones holding their token's event
// stream open while a counter calls, and pages fetched by many clients at once. Prints
// "name: value" lines.
//
//   bench_web --db URL [--web PATH | --standin] [--streams N] [--calls N] [--clients N] [--page-seconds S]
//
// URL is sqlite:///path/file.sqlite (a new file) or postgresql://user:pw@host:port/db (a role that
// may create databases: the run uses a throwaway database). The station is started as
// `tallyvo-web --db URL --listen 127.0.0.1:PORT`, found beside this program unless --web names
// it; --standin runs a stand-in with the same routes instead.

#include "BrowserDisplay.h"
#include "WebLoad.h"
#include "WebStandIn.h"

#include "calling/CallEngine.h"
#include "core/Clock.h"
#include "core/Database.h"
#include "core/DbError.h"
#include "core/DemoSite.h"
#include "core/Prompt.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "core/SettingsStore.h"
#include "tokens/TokenIssuer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QEventLoop>
#include <QDate>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <unistd.h>

using namespace tallyvo;
using namespace tallyvo::bench;

namespace {

class QuietPrompt final : public Prompt {
public:
    void message(const QString&, const QString&) override {}
    bool question(const QString&, const QString&) override { return false; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    QString openFileName(const QString&, const QString&) override { return QString(); }
    QString saveFileName(const QString&, const QString&) override { return QString(); }
    QString folder(const QString&) override { return QString(); }
};

void print(const char* name, double value)
{
    std::printf("%s: %.2f\n", name, value);
    std::fflush(stdout);
}

[[noreturn]] void fail(const QString& why)
{
    std::fprintf(stderr, "bench_web: %s\n", qPrintable(why));
    std::exit(1);
}

std::unique_ptr<Database> connect(const DbUrl& url)
{
    auto db = std::make_unique<Database>(url);
    QString error;
    if (!db->open(&error))
        fail(error);
    return db;
}

// Resident memory (MB) and CPU time (clock ticks) of a process, from /proc.
struct ProcessUse {
    double rssMb = 0;
    long long ticks = 0;
};

ProcessUse processUse(qint64 pid)
{
    ProcessUse use;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            use.rssMb = std::atof(line.c_str() + 6) / 1024.0;
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(line.substr(close + 2));
        std::vector<std::string> f;
        std::string field;
        while (fields >> field)
            f.push_back(field);
        if (f.size() > 12)
            use.ticks = std::atoll(f[11].c_str()) + std::atoll(f[12].c_str()); // utime, stime
    }
    return use;
}

// The demo site, its "Consultation" service allowed enough numbers, and `count` tokens of it.
// Returns the tokens' web keys in queue order, and the service and counter keys.
struct Prepared {
    std::vector<std::string> keys;
    int service = 0;
    int counter = 0;
};

Prepared prepare(const Database& db, int count)
{
    Schema::upgrade(db);
    DemoSite::create(db);
    Prepared p;
    p.service =
        db.scalar(QStringLiteral("SELECT servAuto FROM tblService WHERE ServName='Consultation'")).toInt();
    p.counter =
        db.scalar(QStringLiteral("SELECT cntAuto FROM tblCounter WHERE servAuto=?"), {p.service}).toInt();
    if (!p.service || !p.counter)
        fail(QStringLiteral("the demo site has no Consultation service with a counter"));
    db.run(QStringLiteral("UPDATE tblService SET endno='99999' WHERE servAuto=?"), {p.service});
    SystemClock clock;
    Session session;
    session.ticketCopies = 1;
    NoTicketPrinter printer;
    TokenIssuer issuer(db, clock, session, printer);
    for (int i = 0; i < count; ++i) {
        const IssueResult r = issuer.issue(p.service, QStringLiteral("Consultation"));
        if (!r.stored())
            fail(QStringLiteral("issue failed: %1").arg(r.message()));
    }
    QSqlQuery q =
        db.run(QStringLiteral("SELECT webKey FROM tblTicket WHERE servAuto=? ORDER BY tickNo"), {p.service});
    while (q.next()) {
        const QString key = q.value(0).toString();
        if (key.isEmpty())
            fail(QStringLiteral("a token has no web key"));
        p.keys.push_back(key.toStdString());
    }
    if (static_cast<int>(p.keys.size()) != count)
        fail(QStringLiteral("%1 tokens issued, %2 stored").arg(count).arg(p.keys.size()));
    return p;
}

// The token's place after `call` calls, as its event says it: called, or this many ahead.
bool eventMatches(const std::string& data, int token, int call)
{
    if (token == call - 1)
        return data.find("\"state\":\"called\"") != std::string::npos;
    const std::string ahead = "\"ahead\":" + std::to_string(token - call);
    const std::size_t at = data.find(ahead);
    return at != std::string::npos && (at + ahead.size() == data.size() ||
                                       !std::isdigit(static_cast<unsigned char>(data[at + ahead.size()])));
}

struct Options {
    QString db;
    QString web;
    bool standIn = false;
    int streams = 2000;
    int calls = 25;
    int clients = 50;
    double pageSeconds = 10;
    int displays = 20;
    int boards = 5;
    int displayCalls = 20;
};

// The board's session cookie after the demo administrator's login; "" when it was refused.
std::string boardCookie(int port)
{
    QNetworkAccessManager net;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/board/login").arg(port)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    // The cookie comes with the login's own answer, not with the page it leads to.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = net.post(request, QByteArrayLiteral("username=ADMIN&password=") +
                                                 QUrl::toPercentEncoding(Schema::defaultAdminPassword));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray cookie = reply->rawHeader("Set-Cookie");
    reply->deleteLater();
    return cookie.left(cookie.indexOf(';')).toStdString();
}

// Screens in corridors: `displays` browser displays' event streams and one real display in
// headless chromium, with `boards` supervisors' boards open. Each call is timed from the end of
// "Next" to its event at the last of the streams, and to the moment the page put it on its table.
void measureDisplays(int port, CallEngine& engine, qint64 stationPid, const Options& o)
{
    if (o.displays < 1)
        return;
    const std::string cookie = boardCookie(port);
    StreamFleet boards("127.0.0.1", port, cookie.empty() ? std::string() : "Cookie: " + cookie + "\r\n");
    boards.open(std::vector<std::string>(static_cast<std::size_t>(o.boards), "/board/events"), std::chrono::seconds(30));
    StreamFleet displays("127.0.0.1", port);
    displays.open(std::vector<std::string>(static_cast<std::size_t>(o.displays), "/display/events?rows=12"),
                  std::chrono::seconds(30));
    BrowserDisplay browser;
    QString why;
    const bool inBrowser = browser.open(QStringLiteral("http://127.0.0.1:%1/display").arg(port), &why);
    if (!inBrowser)
        std::fprintf(stderr, "bench_web: no browser display: %s\n", qPrintable(why));
    for (int i = 0; inBrowser && i < 100 && browser.script(QStringLiteral("return window.tallyvoDisplay ? tallyvoDisplay.fills : 0;")).toInt() < 1; ++i)
        QThread::msleep(100);
    print("display_streams_held", displays.held());
    print("boards_held", boards.held());

    QThread::sleep(1);
    const ProcessUse before = processUse(stationPid);
    QThread::sleep(5);
    const ProcessUse after = processUse(stationPid);
    print("station_idle_cpu_percent_displays_boards", 100.0 * static_cast<double>(after.ticks - before.ticks) /
                                                          static_cast<double>(sysconf(_SC_CLK_TCK)) / 5.0);

    std::vector<int> all;
    for (int j = 0; j < o.displays; ++j)
        all.push_back(j);
    std::vector<double> lastStream, calledAtMs;
    std::vector<QString> labels;
    int missing = 0;
    for (int call = 0; call < o.displayCalls; ++call) {
        const std::int64_t t0 = nowNs();
        if (!engine.nextAction())
            break;
        const std::int64_t called = nowNs();
        calledAtMs.push_back(static_cast<double>(QDateTime::currentMSecsSinceEpoch()));
        const std::string label = "\"label\":\"" + engine.currentLabel().toStdString() + "\"";
        labels.push_back(engine.currentLabel());
        const auto at = displays.waitForEvents(
            all, t0, [&](int, const std::string& data) { return data.find(label) != std::string::npos; },
            std::chrono::seconds(10));
        std::int64_t last = 0;
        for (const std::int64_t t : at) {
            if (t < 0)
                ++missing;
            last = std::max(last, t);
        }
        if (last > 0)
            lastStream.push_back(static_cast<double>(last - called) / 1e6);
        QThread::msleep(300);
    }
    print("display_calls", static_cast<double>(calledAtMs.size()));
    print("display_streams_last_p50_ms", percentile(lastStream, 50));
    print("display_streams_last_p99_ms", percentile(lastStream, 99));
    print("display_events_missing", missing);
    if (!inBrowser)
        return;
    QThread::msleep(500);
    const QJsonArray taken = browser.script(QStringLiteral("return tallyvoDisplay.taken;")).toArray();
    const QJsonArray takenAt = browser.script(QStringLiteral("return tallyvoDisplay.takenAt;")).toArray();
    std::vector<double> onPage;
    int notShown = 0;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        // The page takes the calls in order, each once.
        if (i < static_cast<std::size_t>(taken.size()) && taken[static_cast<int>(i)].toString() == labels[i])
            onPage.push_back(takenAt[static_cast<int>(i)].toDouble() - calledAtMs[i]);
        else
            ++notShown;
    }
    print("display_browser_p50_ms", percentile(onPage, 50));
    print("display_browser_p99_ms", percentile(onPage, 99));
    print("display_browser_not_shown", notShown);
}

int run(const Options& o)
{
    raiseDescriptorLimit();
    QString error;
    const auto given = DbUrl::parse(o.db, &error);
    if (!given)
        fail(error);
    DbUrl url = *given;
    std::optional<DbUrl> admin;
    QString created;
    if (url.engine == Engine::Postgres) {
        created = QStringLiteral("tallyvo_bench_web_%1").arg(QCoreApplication::applicationPid());
        try {
            connect(*given)->run(QStringLiteral("CREATE DATABASE %1").arg(created));
        } catch (const DbError& e) {
            fail(QStringLiteral("cannot create a throwaway database: %1").arg(QString::fromUtf8(e.what())));
        }
        admin = *given;
        url.database = created;
    } else if (QFileInfo::exists(url.path)) {
        fail(QStringLiteral("%1 exists: give a new file, the bench fills it").arg(url.toString()));
    }

    std::printf("engine: %s\nstation: %s\n", url.engine == Engine::Postgres ? "pg" : "sqlite",
                o.standIn ? "stand-in" : "tallyvo-web");
    auto db = connect(url);
    const Prepared site = prepare(*db, o.streams + 1);

    const int port = freePort();
    QProcess station;
    station.setProcessChannelMode(QProcess::ForwardedChannels);
    const QStringList stationArgs{QStringLiteral("--db"), url.toString(true), QStringLiteral("--listen"),
                                  QStringLiteral("127.0.0.1:%1").arg(port)};
    if (o.standIn)
        station.start(QCoreApplication::applicationFilePath(),
                      QStringList{QStringLiteral("--serve-standin")} + stationArgs);
    else
        station.start(o.web, stationArgs);
    if (!station.waitForStarted(10000))
        fail(QStringLiteral("cannot start %1").arg(o.standIn ? QStringLiteral("the stand-in") : o.web));
    const std::string probe = "/api/v1/tickets/" + site.keys.back();
    int ready = 0;
    for (int i = 0; i < 300 && ready != 200; ++i) {
        ready = httpStatus("127.0.0.1", port, probe, std::chrono::milliseconds(500));
        if (ready != 200)
            QThread::msleep(100);
        if (station.state() == QProcess::NotRunning)
            fail(QStringLiteral("the station ended at start-up"));
    }
    if (ready != 200)
        fail(QStringLiteral("the station does not answer %1 (status %2)")
                 .arg(QString::fromStdString(probe))
                 .arg(ready));

    // Stream j follows token j + 1: the first token is the first call's, seen by nobody.
    std::vector<std::string> paths;
    std::vector<int> all;
    for (int j = 0; j < o.streams; ++j) {
        paths.push_back("/t/" + site.keys[static_cast<std::size_t>(j) + 1] + "/events");
        all.push_back(j);
    }
    auto fleet = std::make_unique<StreamFleet>("127.0.0.1", port);
    fleet->open(paths, std::chrono::seconds(60));
    const auto opening = fleet->waitForEvents(
        all, 0, [](int, const std::string&) { return true; }, std::chrono::seconds(10));
    const auto greeted = std::count_if(opening.begin(), opening.end(), [](std::int64_t t) { return t >= 0; });
    print("streams_held", fleet->held());
    print("streams_with_first_event", static_cast<double>(greeted));

    QThread::sleep(1);
    const ProcessUse before = processUse(station.processId());
    QThread::sleep(5);
    const ProcessUse after = processUse(station.processId());
    print("station_rss_mb", after.rssMb);
    print("station_idle_cpu_percent", 100.0 * static_cast<double>(after.ticks - before.ticks) /
                                          static_cast<double>(sysconf(_SC_CLK_TCK)) / 5.0);

    // Calls at the counter. Each event is timed from the end of "Next" (its commit is the call's
    // last write; the recount after it is a read), and, beside that, from before "Next" so the
    // call's own time is in: the commit moment lies between the two.
    SystemClock clock;
    Session session;
    session.activeCounter = site.counter;
    session.activeService = site.service;
    QTemporaryDir settingsDir;
    SettingsStore settings(settingsDir.path());
    QuietPrompt prompt;
    CallEngine engine(*db, clock, session, settings, prompt);
    engine.open();
    std::vector<double> one, everyone, oneWithCall, everyoneWithCall, callMs, calledOne;
    int missing = 0;
    const int designated = o.streams - 1; // the last token: waiting through every call
    const ProcessUse beforeCalls = processUse(station.processId());
    for (int call = 1; call <= o.calls && call <= o.streams; ++call) {
        std::vector<int> expected;
        for (int j = std::max(0, call - 2); j < o.streams; ++j)
            expected.push_back(j);
        const std::int64_t t0 = nowNs();
        if (!engine.nextAction())
            fail(QStringLiteral("call %1 found nobody waiting").arg(call));
        const std::int64_t called = nowNs();
        callMs.push_back(static_cast<double>(called - t0) / 1e6);
        const auto at = fleet->waitForEvents(
            expected, t0,
            [call](int stream, const std::string& data) { return eventMatches(data, stream + 1, call); },
            std::chrono::seconds(10));
        std::int64_t last = 0;
        for (std::size_t i = 0; i < at.size(); ++i) {
            if (at[i] < 0) {
                ++missing;
                continue;
            }
            last = std::max(last, at[i]);
            if (expected[i] == call - 2)
                calledOne.push_back(static_cast<double>(at[i] - called) / 1e6);
            if (expected[i] == designated) {
                one.push_back(static_cast<double>(at[i] - called) / 1e6);
                oneWithCall.push_back(static_cast<double>(at[i] - t0) / 1e6);
            }
        }
        if (last > 0) {
            everyone.push_back(static_cast<double>(last - called) / 1e6);
            everyoneWithCall.push_back(static_cast<double>(last - t0) / 1e6);
        }
        QThread::msleep(200);
    }
    print("calls", static_cast<double>(callMs.size()));
    // The station's processor time for a call and its 2,000 events, pauses between calls included.
    print("station_cpu_ms_per_call", 1000.0 *
                                         static_cast<double>(processUse(station.processId()).ticks - beforeCalls.ticks) /
                                         static_cast<double>(sysconf(_SC_CLK_TCK)) /
                                         std::max<double>(1.0, static_cast<double>(callMs.size())));
    print("next_call_p50_ms", percentile(callMs, 50));
    print("next_call_p99_ms", percentile(callMs, 99));
    print("event_one_p50_ms", percentile(one, 50));
    print("event_one_p99_ms", percentile(one, 99));
    print("event_all_p50_ms", percentile(everyone, 50));
    print("event_all_p99_ms", percentile(everyone, 99));
    print("event_called_p50_ms", percentile(calledOne, 50));
    print("event_called_p99_ms", percentile(calledOne, 99));
    print("event_one_p99_ms_with_call", percentile(oneWithCall, 99));
    print("event_all_p99_ms_with_call", percentile(everyoneWithCall, 99));
    print("events_missing", missing);

    std::vector<std::string> pages;
    for (const auto& key : site.keys)
        pages.push_back("/t/" + key);
    const PageLoad load = loadPages("127.0.0.1", port, pages, o.clients, o.pageSeconds);
    print("page_rps", load.perSecond());
    print("page_p50_ms", load.p50Ms);
    print("page_p99_ms", load.p99Ms);
    print("page_failures", static_cast<double>(load.failures));
    print("streams_held_after", fleet->held());
    fleet.reset();
    QThread::sleep(1);

    // One visitor alone: the same waiting token followed by a single stream while the counter
    // goes on calling, so the time is the station's way from the commit to a stream, without
    // the other streams' writes before it.
    {
        StreamFleet alone("127.0.0.1", port);
        alone.open({paths[static_cast<std::size_t>(designated)]}, std::chrono::seconds(10));
        alone.waitForEvents(
            {0}, 0, [](int, const std::string&) { return true; }, std::chrono::seconds(10));
        std::vector<double> aloneMs;
        const int made = static_cast<int>(callMs.size());
        for (int call = made + 1; call <= made + o.calls && call < o.streams; ++call) {
            const std::int64_t t0 = nowNs();
            if (!engine.nextAction())
                fail(QStringLiteral("call %1 found nobody waiting").arg(call));
            const std::int64_t called = nowNs();
            const auto at = alone.waitForEvents(
                {0}, t0,
                [call, designated](int, const std::string& data) { return eventMatches(data, designated + 1, call); },
                std::chrono::seconds(10));
            if (at[0] < 0)
                ++missing;
            else
                aloneMs.push_back(static_cast<double>(at[0] - called) / 1e6);
            QThread::msleep(200);
        }
        print("event_alone_p50_ms", percentile(aloneMs, 50));
        print("event_alone_p99_ms", percentile(aloneMs, 99));
        print("events_missing_alone", static_cast<double>(missing));
    }

    // The browser displays and boards are measured on their own, without the visitors' streams.
    measureDisplays(port, engine, station.processId(), o);

    station.terminate();
    if (!station.waitForFinished(10000)) {
        station.kill();
        station.waitForFinished(5000);
    }
    db.reset();
    if (admin) {
        try {
            connect(*admin)->run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(created));
        } catch (const DbError& e) {
            std::fprintf(stderr, "bench_web: the throwaway database %s stays: %s\n", qPrintable(created),
                         e.what());
        }
    }
    return missing == 0 ? 0 : 3;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    Options o;
    QString listen;
    bool serve = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--db"))
            o.db = args.value(++i);
        else if (a == QLatin1String("--web"))
            o.web = args.value(++i);
        else if (a == QLatin1String("--standin"))
            o.standIn = true;
        else if (a == QLatin1String("--serve-standin"))
            serve = true;
        else if (a == QLatin1String("--listen"))
            listen = args.value(++i);
        else if (a == QLatin1String("--streams"))
            o.streams = args.value(++i).toInt();
        else if (a == QLatin1String("--calls"))
            o.calls = args.value(++i).toInt();
        else if (a == QLatin1String("--clients"))
            o.clients = args.value(++i).toInt();
        else if (a == QLatin1String("--page-seconds"))
            o.pageSeconds = args.value(++i).toDouble();
        else if (a == QLatin1String("--displays"))
            o.displays = args.value(++i).toInt();
        else if (a == QLatin1String("--display-calls"))
            o.displayCalls = args.value(++i).toInt();
        else {
            std::fprintf(stderr,
                         "usage: bench_web --db URL [--web PATH | --standin] [--streams N] [--calls N] "
                         "[--clients N] [--page-seconds S] [--displays N] [--display-calls N]\n");
            return 2;
        }
    }
    if (serve)
        return runWebStandIn(o.db, listen);
    if (o.db.isEmpty()) {
        std::fprintf(stderr, "bench_web: give --db sqlite:///new-file.sqlite or --db postgresql://...\n");
        return 2;
    }
    if (o.streams < 1 || o.calls < 1 || o.clients < 1 || o.pageSeconds <= 0) {
        std::fprintf(stderr,
                     "bench_web: --streams, --calls, --clients and --page-seconds must be positive\n");
        return 2;
    }
    if (!o.standIn) {
        if (o.web.isEmpty())
            o.web = QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvo-web");
        if (!QFileInfo(o.web).isExecutable()) {
            std::fprintf(stderr,
                         "bench_web: no station at %s (build target tallyvo-web, give --web PATH, or "
                         "measure the stand-in with --standin)\n",
                         qPrintable(o.web));
            return 2;
        }
    }
    return run(o);
}
