// The web station against a real database on either engine: its answers, its bounds, its event
// streams following what other processes do, and a visitor's page in a real browser.
#include "TestSupport.h"
#include "WebClient.h"

#include "admin/ApiKeys.h"
#include "core/DemoSite.h"
#include "core/Schema.h"
#include "core/Session.h"
#include "tokens/TokenIssuer.h"
#include "web/WebStation.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace tallyvo;
using namespace tallyvo::test;

namespace {

// Another station's action, done by tallyvoctl in a process of its own.
QString ctl(const DbUrl& url, const QStringList& args) {
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tallyvoctl"),
            QStringList{QStringLiteral("--db"), url.toString(true)} + args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        qWarning("tallyvoctl %s: %s", qPrintable(args.join(QLatin1Char(' '))),
                 p.readAllStandardError().constData());
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

class TestWebStation : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDatabase> m_data;
    std::unique_ptr<WebStation> m_station;
    SystemClock m_clock;
    QNetworkAccessManager m_net;
    QString m_apiKey;
    QStringList m_keys; // web keys of the tokens issued by init(), in order

    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_station->port()).arg(path));
    }
    Answer get(const QString& path) { return fetch(m_net, "GET", url(path)); }

    void startStation(const std::function<void(WebConfig&)>& adjust = {}, std::uint16_t port = 0) {
        WebConfig c;
        c.db = m_data->url();
        c.address = "127.0.0.1";
        c.port = port;
        c.voiceFormat = QStringLiteral("Token * to #");
        c.limits.bodyBytes = 1024;
        c.limits.headerBytes = 4096;
        if (adjust)
            adjust(c);
        m_station = std::make_unique<WebStation>(c, m_clock);
        QString error;
        QVERIFY2(m_station->start(&error), qPrintable(error));
        QTRY_VERIFY(m_station->ready());
    }

    // Waits until the station has read what was committed last.
    void settle() {
        const quint64 before = m_station->stateReads();
        QTRY_VERIFY_WITH_TIMEOUT(m_station->stateReads() > before, 5000);
    }

    QString issue(const QString& service) {
        Session session;
        session.ticketCopies = 0;
        NoTicketPrinter printer;
        TokenIssuer issuer(m_data->db(), m_clock, session, printer);
        const int key =
            m_data->db()
                .scalar(QStringLiteral("SELECT servAuto FROM tblService WHERE ServName=?"), {service})
                .toInt();
        return issuer.issue(key, service).token.webKey;
    }

private slots:
    void init() {
        m_data = std::make_unique<TempDatabase>();
        QVERIFY(DemoSite::create(m_data->db()));
        m_apiKey = ApiKeys::add(m_data->db(), QStringLiteral("kiosk"));
        m_keys.clear();
        for (int i = 0; i < 4; ++i)
            m_keys << issue(QStringLiteral("Consultation"));
    }

    void cleanup() {
        m_station.reset();
        m_data.reset();
    }

    // Every path the station knows, and a sample of those it must not: status, type and what
    // the answer holds. Nothing but the documented paths answers, and an unknown key learns
    // exactly what a malformed one does.
    void answers_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("holds");
        QTest::newRow("services") << QByteArray("GET") << "/api/v1/services" << 200 << "application/json"
                                  << "\"name\":\"Consultation\",\"waiting\":4";
        QTest::newRow("ticket") << QByteArray("GET") << "/api/v1/tickets/@1" << 200 << "application/json"
                                << "\"ahead\":1";
        QTest::newRow("page") << QByteArray("GET") << "/t/@3" << 200 << "text/html"
                              << "<main>";
        QTest::newRow("display") << QByteArray("GET") << "/display" << 200 << "text/html"
                                 << "\"rows\":";
        QTest::newRow("chime") << QByteArray("GET") << "/display/chime.wav" << 200 << "audio/wav"
                               << "RIFF";
        QTest::newRow("openapi") << QByteArray("GET") << "/api/v1/openapi.json" << 200 << "application/json"
                                 << "\"openapi\": \"3.0.3\"";
        QTest::newRow("unknown key") << QByteArray("GET") << "/api/v1/tickets/AAAAAAAAAAAAAAAAAAAAAA" << 404
                                     << "application/json"
                                     << "{\"error\":\"not found\"}";
        QTest::newRow("malformed key")
            << QByteArray("GET") << "/api/v1/tickets/x'%20OR%201=1" << 404 << "application/json"
            << "{\"error\":\"not found\"}";
        QTest::newRow("unknown page")
            << QByteArray("GET") << "/t/AAAAAAAAAAAAAAAAAAAAAA" << 404 << "text/html"
            << "Not found";
        QTest::newRow("root") << QByteArray("GET") << "/" << 404 << "text/html"
                              << "";
        QTest::newRow("api root") << QByteArray("GET") << "/api/v1/" << 404 << "application/json"
                                  << "";
        QTest::newRow("deeper") << QByteArray("GET") << "/t/@1/events/more" << 404 << "text/html"
                                << "";
        QTest::newRow("write a ticket") << QByteArray("PUT") << "/api/v1/tickets/@1" << 405 << ""
                                        << "";
        QTest::newRow("post a page") << QByteArray("POST") << "/t/@1" << 405 << ""
                                     << "";
        QTest::newRow("display below") << QByteArray("GET") << "/display/x" << 404 << "text/html"
                                       << "";
    }
    void answers() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QString, type);
        QFETCH(QString, holds);
        startStation();
        for (int i = 0; i < m_keys.size(); ++i)
            path.replace(QStringLiteral("@%1").arg(i), m_keys[i]);
        const Answer a = fetch(m_net, method, url(path), method == "POST" ? QByteArray("{}") : QByteArray());
        QCOMPARE(a.status, status);
        if (!type.isEmpty())
            QVERIFY2(a.header("Content-Type").startsWith(type.toLatin1()),
                     a.header("Content-Type").constData());
        QVERIFY2(a.body.contains(holds.toUtf8()), a.body.constData());
        // Every answer keeps the page out of frames and the browser from guessing types, and no
        // policy lets an injected script run.
        QCOMPARE(a.header("X-Content-Type-Options"), QByteArray("nosniff"));
        QCOMPARE(a.header("X-Frame-Options"), QByteArray("DENY"));
        const QByteArray policy = a.header("Content-Security-Policy");
        QVERIFY2(!policy.isEmpty() && !policy.contains("unsafe-inline") && !policy.contains('*'),
                 policy.constData());
        QVERIFY(!a.body.contains("DbError") && !a.body.contains("QSql"));
    }

    // Issuing needs a key; what is issued is a real token of the service that the station then
    // shows. Each refusal leaves the station serving.
    void issuing_data() {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("holds");
        QTest::newRow("good key") << QByteArray("Bearer @") << QByteArray("{\"service\":\"Pharmacy\"}") << 201
                                  << "\"label\":\"";
        QTest::newRow("no key") << QByteArray() << QByteArray("{\"service\":\"Pharmacy\"}") << 401 << "";
        QTest::newRow("wrong key") << QByteArray("Bearer tvk_AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA")
                                   << QByteArray("{\"service\":\"Pharmacy\"}") << 401 << "";
        QTest::newRow("other scheme")
            << QByteArray("Basic @") << QByteArray("{\"service\":\"Pharmacy\"}") << 401 << "";
        QTest::newRow("unknown service")
            << QByteArray("Bearer @") << QByteArray("{\"service\":\"Bakery\"}") << 422 << "no active service";
        QTest::newRow("not JSON") << QByteArray("Bearer @") << QByteArray("service=Pharmacy") << 400
                                  << "service";
        QTest::newRow("no service") << QByteArray("Bearer @") << QByteArray("{\"name\":\"Pharmacy\"}") << 400
                                    << "";
        QTest::newRow("quote in name")
            << QByteArray("Bearer @") << QByteArray("{\"service\":\"x' OR '1'='1\"}") << 422 << "";
    }
    void issuing() {
        QFETCH(QByteArray, authorization);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, holds);
        startStation();
        authorization.replace('@', m_apiKey.toUtf8());
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!authorization.isEmpty())
            headers.append({"Authorization", authorization});
        const int before = m_data->db().scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt();
        const Answer a = fetch(m_net, "POST", url(QStringLiteral("/api/v1/tickets")), body, headers);
        QCOMPARE(a.status, status);
        QVERIFY2(a.body.contains(holds.toUtf8()), a.body.constData());
        const int after = m_data->db().scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt();
        QCOMPARE(after - before, status == 201 ? 1 : 0);
        if (status == 401)
            QCOMPARE(a.header("WWW-Authenticate"), QByteArray("Bearer"));
        if (status == 201) {
            const QJsonObject o = a.json().object();
            const QString key = o.value(QStringLiteral("webKey")).toString();
            QCOMPARE(m_data->db()
                         .scalar(QStringLiteral("SELECT no_abr FROM tblTicket WHERE webKey=?"), {key})
                         .toString(),
                     o.value(QStringLiteral("label")).toString());
            QVERIFY(o.contains(QStringLiteral("estimateMinutes")));
            // The new token is there at once, whether or not the station has read it yet.
            QTRY_COMPARE(get(QStringLiteral("/api/v1/tickets/") + key).status, 200);
        }
        QCOMPARE(get(QStringLiteral("/api/v1/services")).status, 200);
    }

    // A site translates the pages by a file of its own texts; what it leaves out stays as built in.
    void siteTexts() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("texts.json"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(
            R"({"lang": "de", "called": "Bitte gehen Sie zu", "notFound": "Kein Ticket </script><b>hier</b>"})");
        f.close();
        startStation([&](WebConfig& c) { c.textsFile = file; });
        const Answer page = get(QStringLiteral("/t/") + m_keys[0]);
        QVERIFY(page.body.contains("<html lang=\"de\">"));
        QVERIFY(page.body.contains("Bitte gehen Sie zu"));
        QVERIFY(page.body.contains("Your place in the queue"));
        // Texts are data, never markup.
        const Answer missing = get(QStringLiteral("/t/AAAAAAAAAAAAAAAAAAAAAA"));
        QVERIFY(missing.body.contains("Kein Ticket &lt;/script&gt;&lt;b&gt;hier&lt;/b&gt;"));

        WebConfig broken;
        broken.textsFile = dir.filePath(QStringLiteral("missing.json"));
        WebStation station(broken, m_clock);
        QString error;
        QVERIFY(!station.start(&error));
        QVERIFY2(error.contains(QLatin1String("missing.json")), qPrintable(error));
    }

    // The bounds answer with their own status and the station goes on serving after each.
    void bounds() {
        startStation([](WebConfig& c) { c.issuePerMinute = 2; });
        const QList<QPair<QByteArray, QByteArray>> auth{{"Authorization", "Bearer " + m_apiKey.toUtf8()}};
        const QByteArray body("{\"service\":\"Pharmacy\"}");
        QCOMPARE(fetch(m_net, "POST", url(QStringLiteral("/api/v1/tickets")), body, auth).status, 201);
        QCOMPARE(fetch(m_net, "POST", url(QStringLiteral("/api/v1/tickets")), body, auth).status, 201);
        const Answer limited = fetch(m_net, "POST", url(QStringLiteral("/api/v1/tickets")), body, auth);
        QCOMPARE(limited.status, 429);
        QVERIFY(limited.header("Retry-After").toInt() >= 1);

        const QByteArray big(4096, 'x');
        QCOMPARE(fetch(m_net, "POST", url(QStringLiteral("/api/v1/tickets")), "{\"service\":\"" + big + "\"}",
                       auth)
                     .status,
                 413);
        QCOMPARE(fetch(m_net, "GET", url(QStringLiteral("/api/v1/services")), {}, {{"X-Padding", big + big}})
                     .status,
                 431);
        QCOMPARE(get(QStringLiteral("/api/v1/services")).status, 200);
        QCOMPARE(m_data->db().scalar(QStringLiteral("SELECT count(*) FROM tblTicket")).toInt(), 6);
    }

    // A token's stream follows what counters in other processes do: its place as tokens ahead
    // are called or sent elsewhere, then its own call and recall, each once and in order.
    void eventsFollowOtherStations() {
        // Names are the site's own: quotes, backslashes, tabs and letters beyond ASCII reach the
        // page as they are.
        const QString service = QStringLiteral("Consultation \"Ü\" \\ \t Ω");
        m_data->db().run(QStringLiteral("UPDATE tblService SET ServName=? WHERE ServName='Consultation'"),
                         {service});
        startStation();
        EventReader events(m_net, url(QStringLiteral("/t/%1/events").arg(m_keys[2])));
        auto state = [](const char* s, QJsonValue ahead = QJsonValue::Undefined) {
            return [=](const QJsonObject& o) {
                return o.value(QStringLiteral("state")).toString() == QLatin1String(s) &&
                       (ahead.isUndefined() || o.value(QStringLiteral("ahead")) == ahead);
            };
        };
        int at = events.waitFor(state("waiting", 2));
        QCOMPARE(at, 0);
        QCOMPARE(events.events[0].value(QStringLiteral("service")).toString(), service);

        const DbUrl& db = m_data->url();
        QCOMPARE(ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")}), QStringLiteral("A1"));
        at = events.waitFor(state("waiting", 1), at + 1);
        QVERIFY2(at > 0, "the first call did not move the token up");

        // The called token is sent to another counter: it waits again, where Next takes it.
        const QString first =
            m_data->db()
                .scalar(QStringLiteral("SELECT tickAuto FROM tblTicket WHERE webKey=?"), {m_keys[0]})
                .toString();
        ctl(db,
            {QStringLiteral("transfer"), QStringLiteral("Counter 1"), first, QStringLiteral("Counter 2")});
        const Answer api = get(QStringLiteral("/api/v1/tickets/") + m_keys[0]);
        QTRY_COMPARE(get(QStringLiteral("/api/v1/tickets/") + m_keys[0])
                         .json()
                         .object()
                         .value(QStringLiteral("state"))
                         .toString(),
                     QStringLiteral("transferred"));
        Q_UNUSED(api);
        const QJsonValue aheadNow = get(QStringLiteral("/api/v1/tickets/") + m_keys[2])
                                        .json()
                                        .object()
                                        .value(QStringLiteral("ahead"));

        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")});
        at = events.waitFor(state("waiting", QJsonValue(aheadNow.toInt() - 1)), at);
        QVERIFY2(at > 0, "the second call did not move the token up");
        // Next until the token itself is called (the transferred one may come first, where
        // Next takes it).
        const QString mine =
            m_data->db()
                .scalar(QStringLiteral("SELECT no_abr FROM tblTicket WHERE webKey=?"), {m_keys[2]})
                .toString();
        for (int i = 0; i < 4 && ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")}) != mine;
             ++i) {
        }
        const int called = events.waitFor(state("called"), at);
        QVERIFY2(called > 0, "the token's call never came");
        QCOMPARE(events.events[called].value(QStringLiteral("counter")).toString(), QStringLiteral("Room 1"));
        QCOMPARE(events.events[called].value(QStringLiteral("ahead")), QJsonValue(QJsonValue::Null));

        ctl(db, {QStringLiteral("recall"), QStringLiteral("Counter 1")});
        const int recalled = events.waitFor(
            [&](const QJsonObject& o) {
                return o.value(QStringLiteral("callSeq")).toInteger() >
                       events.events[called].value(QStringLiteral("callSeq")).toInteger();
            },
            called + 1);
        QVERIFY2(recalled > called, "the recall never came");
        ctl(db, {QStringLiteral("cancel"), QStringLiteral("Counter 1")});
        QVERIFY(events.waitFor(state("cancelled"), recalled) > recalled);
        // Nothing twice: no two events in a row are the same.
        for (int i = 1; i < events.events.size(); ++i)
            QVERIFY2(events.events[i] != events.events[i - 1], qPrintable(QString::number(i)));
    }

    // The station's connections are cut (a server restarted, a failover): it connects again by
    // itself, listens again, and the next call reaches the visitor as before.
    void eventsGoOnAfterTheConnectionIsCut() {
        if (m_data->url().engine != Engine::Postgres)
            QSKIP("a server's connections are cut on PostgreSQL only");
        startStation();
        EventReader events(m_net, url(QStringLiteral("/t/%1/events").arg(m_keys[1])));
        QCOMPARE(events.waitFor(
                     [](const QJsonObject& o) { return o.value(QStringLiteral("ahead")).toInt() == 1; }),
                 0);
        m_data->db().run(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                        "WHERE datname=current_database() AND pid<>pg_backend_pid()"));
        QTest::qWait(2500); // the station notices within its safety look
        ctl(m_data->url(), {QStringLiteral("next"), QStringLiteral("Counter 1")});
        QVERIFY2(
            events.waitFor([](const QJsonObject& o) { return o.value(QStringLiteral("ahead")).toInt() == 0; },
                           1, 3000) > 0,
            "no event after the connection was made again");
    }

    // A visitor's phone: the page in a real browser turns from waiting to "Please go to" when a
    // counter in another process calls the token, without a reload, and fits a 320-pixel screen.
    void pageInABrowser() {
        startStation();
        Browser browser;
        QString error;
        QVERIFY2(browser.open(320, 640, &error), qPrintable(error));
        browser.go(url(QStringLiteral("/t/") + m_keys[1]).toString());
        QCOMPARE(browser.waitForText(QStringLiteral("place"), QStringLiteral("Your place in the queue: 2")),
                 QStringLiteral("Your place in the queue: 2"));
        QCOMPARE(browser.text(QStringLiteral("ahead")), QStringLiteral("1 ahead of you"));
        QCOMPARE(browser.text(QStringLiteral("label")), QStringLiteral("A2"));
        browser.script(QStringLiteral("window.stayed = 1;"));

        const DbUrl& db = m_data->url();
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")});
        QCOMPARE(browser.waitForText(QStringLiteral("ahead"), QStringLiteral("You are next")),
                 QStringLiteral("You are next"));
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")});
        QCOMPARE(browser.waitForText(QStringLiteral("state"), QStringLiteral("Please go to")),
                 QStringLiteral("Please go to"));
        QCOMPARE(browser.text(QStringLiteral("counter")), QStringLiteral("Room 1"));
        QCOMPARE(browser.text(QStringLiteral("place")), QString());
        QCOMPARE(browser.script(QStringLiteral("return window.stayed;")).toInt(), 1);
        ctl(db, {QStringLiteral("recall"), QStringLiteral("Counter 1")});
        QCOMPARE(browser.waitForText(QStringLiteral("state"),
                                     QStringLiteral("You are called again. Please go to")),
                 QStringLiteral("You are called again. Please go to"));

        // The status region is what a screen reader announces.
        QCOMPARE(
            browser
                .script(QStringLiteral("return document.getElementById('status').getAttribute('aria-live');"))
                .toString(),
            QStringLiteral("assertive"));
        QVERIFY(
            browser
                .script(QStringLiteral("return document.documentElement.scrollWidth <= window.innerWidth;"))
                .toBool());
        // The policy let the page's own script and style run and nothing complained.
        for (const QString& line : browser.log())
            QVERIFY2(!line.contains(QLatin1String("Content Security Policy")) &&
                         !line.contains(QLatin1String("SEVERE")),
                     qPrintable(line));
    }

    // The display's stream: the day so far once, then each call and recall in order; one that
    // comes back after naming its last call gets what came meanwhile and nothing twice; a
    // display of some services sees only their calls.
    void displayEvents() {
        const DbUrl& db = m_data->url();
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")}); // A1, before any display
        const QString pharmacy = issue(QStringLiteral("Pharmacy"));
        startStation();
        EventReader all(m_net, url(QStringLiteral("/display/events?rows=5")));
        EventReader some(m_net, url(QStringLiteral("/display/events?services=P")));
        auto type = [](const char* t) {
            return [=](const QJsonObject& o) {
                return o.value(QStringLiteral("type")).toString() == QLatin1String(t);
            };
        };
        QCOMPARE(all.waitFor(type("fill")), 0);
        QCOMPARE(all.events[0].value(QStringLiteral("calls")).toArray().size(), 1);
        QCOMPARE(some.waitFor(type("fill")), 0);
        QVERIFY(some.events[0].value(QStringLiteral("calls")).toArray().isEmpty());

        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")}); // A2
        QVERIFY(all.waitFor(type("call")) > 0);
        ctl(db, {QStringLiteral("recall"), QStringLiteral("Counter 1")}); // A2 again
        QVERIFY(all.waitFor(type("call"), 2) > 0);
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 2")}); // the Pharmacy token
        QVERIFY(all.waitFor([](const QJsonObject& o) {
            return o.value(QStringLiteral("counter")).toString() == QLatin1String("Pharmacy Desk");
        }) > 0);
        QStringList labels;
        qint64 last = 0;
        for (const QJsonObject& o : all.events.mid(1)) {
            labels << o.value(QStringLiteral("label")).toString();
            QVERIFY(o.value(QStringLiteral("seq")).toInteger() > last);
            last = o.value(QStringLiteral("seq")).toInteger();
        }
        const QString p =
            m_data->db()
                .scalar(QStringLiteral("SELECT no_abr FROM tblTicket WHERE webKey=?"), {pharmacy})
                .toString();
        QCOMPARE(labels, (QStringList{QStringLiteral("A2"), QStringLiteral("A2"), p}));
        QVERIFY(some.waitFor(type("call")) > 0);
        QCOMPARE(some.events.size(), 2);
        QCOMPARE(some.events[1].value(QStringLiteral("label")).toString(), p);

        // Back after a break, from the recall on: only what came after it.
        const qint64 recallSeq = all.events[2].value(QStringLiteral("seq")).toInteger();
        EventReader back(m_net, url(QStringLiteral("/display/events?after=%1").arg(recallSeq)));
        QVERIFY(back.waitFor(type("call")) == 0);
        QTest::qWait(300);
        QCOMPARE(back.events.size(), 1);
        QCOMPARE(back.events[0].value(QStringLiteral("label")).toString(), p);
    }

    // A screen in a corridor: the call table in a real browser picks up a call and a recall
    // once each, in order, and after the station was away takes what came meanwhile without
    // repeating what it showed.
    void displayInABrowser() {
        const DbUrl& db = m_data->url();
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")}); // A1 fills the table
        // The station comes back on its port: one below the range the system hands out for
        // outgoing connections, so that no connection of the browser's takes it meanwhile.
        std::uint16_t port = 0;
        for (quint16 p = 20000 + QCoreApplication::applicationPid() % 6000; p < 32000 && port == 0; p += 7) {
            QTcpServer probe;
            if (probe.listen(QHostAddress::LocalHost, p))
                port = p;
        }
        QVERIFY(port != 0);
        startStation({}, port);
        Browser browser;
        QString error;
        QVERIFY2(browser.open(1280, 720, &error), qPrintable(error));
        browser.go(url(QStringLiteral("/display")).toString());
        QTRY_COMPARE_WITH_TIMEOUT(
            browser.script(QStringLiteral("return window.tallyvoDisplay ? tallyvoDisplay.fills : 0;"))
                .toInt(),
            1, 10000);
        auto cell = [&](int row, int col) {
            return browser
                .script(
                    QStringLiteral("return document.getElementById('rows').rows[%1].cells[%2].textContent;")
                        .arg(row)
                        .arg(col))
                .toString();
        };
        QCOMPARE(cell(0, 0), QStringLiteral("A1 "));
        QCOMPARE(cell(0, 1), QStringLiteral("Room 1"));
        QCOMPARE(browser.script(QStringLiteral("return document.getElementById('caption1').textContent;"))
                     .toString()
                     .isNull(),
                 false);

        // A recall is a call's row coming back to the feed: one made before the station read the
        // call itself would be read as that one call, so each is waited for.
        auto taken = [&] {
            return browser.script(QStringLiteral("return tallyvoDisplay.taken.join(',');")).toString();
        };
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")});
        QTRY_COMPARE_WITH_TIMEOUT(taken(), QStringLiteral("A2"), 10000);
        ctl(db, {QStringLiteral("recall"), QStringLiteral("Counter 1")});
        QTRY_COMPARE_WITH_TIMEOUT(taken(), QStringLiteral("A2,A2"), 10000);
        QCOMPARE(cell(0, 0), QStringLiteral("A2 "));
        QCOMPARE(cell(1, 0), QStringLiteral("A1 "));
        // Spoken after the chime.
        QTRY_COMPARE_WITH_TIMEOUT(
            browser.script(QStringLiteral("return tallyvoDisplay.spoken[0] || '';")).toString(),
            QStringLiteral("Token A2 to Room 1"), 10000);

        // The station goes away; a call comes meanwhile; the station comes back on its address.
        m_station.reset();
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")}); // A3
        startStation({}, port);
        QTRY_COMPARE_WITH_TIMEOUT(taken(), QStringLiteral("A2,A2,A3"), 20000);
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")}); // A4
        QTRY_COMPARE_WITH_TIMEOUT(taken(), QStringLiteral("A2,A2,A3,A4"), 10000);
        QCOMPARE(browser.script(QStringLiteral("return tallyvoDisplay.fills;")).toInt(), 1);
        QCOMPARE(cell(0, 0), QStringLiteral("A4 "));
        QCOMPARE(cell(3, 0), QStringLiteral("A1 "));
        for (const QString& line : browser.log())
            QVERIFY2(!line.contains(QLatin1String("Content Security Policy")), qPrintable(line));
    }

    // The supervisors' board asks for an administrator's name and password, keeps the session in
    // a cookie scripts cannot read, and slows down and then stops whoever keeps guessing.
    void boardLogin_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("status");
        QTest::newRow("administrator") << "admin" << Schema::defaultAdminPassword << 303;
        QTest::newRow("wrong password") << "ADMIN"
                                        << "Admin" << 401;
        QTest::newRow("unknown user") << "nobody" << Schema::defaultAdminPassword << 401;
        QTest::newRow("a counter's login") << "counter1"
                                           << "1111" << 401;
        QTest::newRow("nothing") << ""
                                 << "" << 401;
    }
    void boardLogin() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, status);
        startStation();
        QCOMPARE(get(QStringLiteral("/board/events")).status, 401);
        const QByteArray form =
            "username=" + QUrl::toPercentEncoding(user) + "&password=" + QUrl::toPercentEncoding(password);
        const Answer a = fetch(m_net, "POST", url(QStringLiteral("/board/login")), form,
                               {{"Content-Type", "application/x-www-form-urlencoded"}});
        QCOMPARE(a.status, status);
        const QByteArray cookie = a.header("Set-Cookie");
        if (status != 303) {
            QVERIFY(cookie.isEmpty());
            QVERIFY(a.body.contains("Wrong user name or password."));
            return;
        }
        QCOMPARE(a.header("Location"), QByteArray("/board"));
        for (const char* part : {"; Path=/board", "; HttpOnly", "; SameSite=Strict"})
            QVERIFY2(cookie.contains(part), cookie.constData());
        QVERIFY(!cookie.contains("Secure")); // not over plain HTTP
        const QByteArray session = cookie.left(cookie.indexOf(';'));
        // Requests of their own, without the cookies the first one kept.
        QNetworkAccessManager fresh;
        const Answer page = fetch(fresh, "GET", url(QStringLiteral("/board")), {}, {{"Cookie", session}});
        QVERIFY(page.body.contains("/board/events"));
        QNetworkAccessManager other;
        QCOMPARE(fetch(other, "GET", url(QStringLiteral("/board/events")), {},
                       {{"Cookie", "tallyvo_board=made-up"}})
                     .status,
                 401);
        QVERIFY(fetch(other, "GET", url(QStringLiteral("/board")), {}).body.contains("name=\"password\""));
    }

    void boardStopsGuessing() {
        startStation();
        auto tryLogin = [&](const QString& password) {
            return fetch(m_net, "POST", url(QStringLiteral("/board/login")),
                         "username=ADMIN&password=" + QUrl::toPercentEncoding(password),
                         {{"Content-Type", "application/x-www-form-urlencoded"}});
        };
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 5; ++i)
            QCOMPARE(tryLogin(QStringLiteral("guess%1").arg(i)).status, 401);
        QVERIFY2(t.elapsed() >= 4500, "wrong passwords are answered at once");
        // Now even the right password is refused until the window has passed.
        const Answer refused = tryLogin(Schema::defaultAdminPassword);
        QCOMPARE(refused.status, 429);
        QVERIFY(refused.header("Retry-After").toInt() > 60);
        QCOMPARE(get(QStringLiteral("/api/v1/services")).status, 200);
    }

    // A supervisor logs in through the form in a real browser; the board's figures follow calls
    // and transfers made by other processes and agree with the database.
    void boardInABrowser() {
        startStation();
        Browser browser;
        QString error;
        QVERIFY2(browser.open(1280, 900, &error), qPrintable(error));
        browser.go(url(QStringLiteral("/board")).toString());
        QTRY_VERIFY_WITH_TIMEOUT(
            browser.script(QStringLiteral("return !!document.getElementById('password');")).toBool(), 10000);
        browser.script(QStringLiteral("document.getElementById('username').value='ADMIN';"
                                      "document.getElementById('password').value='%1';"
                                      "document.forms[0].submit();")
                           .arg(Schema::defaultAdminPassword));
        auto board = [&] {
            return browser.script(QStringLiteral("return window.tallyvoBoard;")).toObject();
        };
        auto service = [&](const QString& name) {
            for (const QJsonValue& v : board().value(QStringLiteral("services")).toArray())
                if (v.toObject().value(QStringLiteral("service")).toString() == name)
                    return v.toObject();
            return QJsonObject();
        };
        auto waitingInDb = [&] {
            return m_data->db()
                .scalar(QStringLiteral(
                    "SELECT count(*) FROM tblTicket t JOIN tblService s ON s.servAuto=t.servAuto "
                    "WHERE s.ServName='Consultation' AND t.call='0'"))
                .toInt();
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            service(QStringLiteral("Consultation")).value(QStringLiteral("waiting")).toInt(), 4, 10000);

        const DbUrl& db = m_data->url();
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")});
        QTRY_COMPARE_WITH_TIMEOUT(
            service(QStringLiteral("Consultation")).value(QStringLiteral("waiting")).toInt(), waitingInDb(),
            10000);
        QCOMPARE(waitingInDb(), 3);
        const QString first =
            m_data->db()
                .scalar(QStringLiteral("SELECT tickAuto FROM tblTicket WHERE webKey=?"), {m_keys[0]})
                .toString();
        ctl(db,
            {QStringLiteral("transfer"), QStringLiteral("Counter 1"), first, QStringLiteral("Counter 2")});
        QTRY_COMPARE_WITH_TIMEOUT(
            service(QStringLiteral("Consultation")).value(QStringLiteral("waiting")).toInt(), waitingInDb(),
            10000);
        ctl(db, {QStringLiteral("next"), QStringLiteral("Counter 1")});
        QTRY_COMPARE_WITH_TIMEOUT(
            service(QStringLiteral("Consultation")).value(QStringLiteral("servedToday")).toInt(),
            m_data->db()
                .scalar(QStringLiteral(
                    "SELECT count(*) FROM tblTicket WHERE call='1' AND status<>'Cancelled' "
                    "AND servAuto=(SELECT servAuto FROM tblService WHERE ServName='Consultation')"))
                .toInt(),
            10000);
        QCOMPARE(service(QStringLiteral("Consultation")).value(QStringLiteral("waiting")).toInt(),
                 waitingInDb());
        // The counter's row shows the token it holds, as the database has it.
        const QString inHand =
            m_data->db()
                .scalar(
                    QStringLiteral("SELECT no_abr FROM tblCall WHERE cntAuto=(SELECT cntAuto FROM tblCounter "
                                   "WHERE contName='Counter 1') ORDER BY callauto DESC LIMIT 1"))
                .toString();
        QTRY_VERIFY_WITH_TIMEOUT(
            browser.script(QStringLiteral("return document.getElementById('counters').textContent;"))
                .toString()
                .contains(inHand),
            10000);
        for (const QString& line : browser.log())
            QVERIFY2(!line.contains(QLatin1String("Content Security Policy")), qPrintable(line));
    }
};

TALLYVO_TEST_MAIN(TestWebStation)
#include "tst_webstation.moc"
