#include "RawClient.h"
#include "web/http/HttpServer.h"
#include "web/http/Wire.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <ifaddrs.h>
#include <mutex>
#include <thread>

using namespace tallyvo::web;
using tallyvo::test::RawAnswer;
using tallyvo::test::RawClient;

namespace {

// A server with the routes the tests need, on 127.0.0.1 (or the given address) and a free port.
struct TestServer {
    explicit TestServer(Limits limits = {}, const std::string& address = "127.0.0.1",
                        std::optional<HttpServer::Tls> tls = std::nullopt)
        : server(std::move(limits),
                 [this](const Request& r, std::shared_ptr<Reply> reply) { handle(r, reply); })
    {
        std::string error;
        listening = server.listen(address, 0, tls, &error);
        if (!listening)
            qWarning("listen: %s", error.c_str());
        server.start(2);
    }

    void handle(const Request& r, const std::shared_ptr<Reply>& reply)
    {
        if (r.path == "/hello") {
            reply->respond({200, "text/plain", "hello", {}});
        } else if (r.path == "/echo") {
            reply->respond({200, "text/plain", r.method + " " + r.query + " " + r.body, {}});
        } else if (r.path == "/peer") {
            reply->respond({200, "text/plain", r.peer + (r.secure ? " secure" : ""), {}});
        } else if (r.path == "/policy") {
            reply->respond({200, "text/html", "<p>", {{"Content-Security-Policy", "img-src 'self'"}}});
        } else if (r.path == "/inject") {
            reply->respond(
                {200, "text/plain", "x", {{"X-Note", "a\r\nSet-Cookie: stolen=1"}, {"Bad Name", "v"}}});
        } else if (r.path == "/late") {
            std::thread([reply] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                reply->respond({200, "text/plain", "late", {}});
            }).detach();
        } else if (r.path == "/drop") {
            // no answer: the server must give one
        } else if (r.path == "/throw") {
            throw std::runtime_error("internal detail");
        } else if (r.path == "/stream") {
            reply->openStream(
                [this](std::shared_ptr<EventStream> s) {
                    s->onClosed([this] { ++closed; });
                    std::lock_guard lock(mutex);
                    streams.push_back(std::move(s));
                },
                {{"X-Stream", "yes"}});
        } else {
            reply->respond({404, "text/plain", "no such page", {}});
        }
    }

    std::shared_ptr<EventStream> stream(std::size_t i)
    {
        std::lock_guard lock(mutex);
        return i < streams.size() ? streams[i] : nullptr;
    }
    std::size_t streamCount()
    {
        std::lock_guard lock(mutex);
        return streams.size();
    }

    HttpServer server;
    bool listening = false;
    std::mutex mutex;
    std::vector<std::shared_ptr<EventStream>> streams;
    std::atomic<int> closed{0};
};

RawAnswer ask(int port, const std::string& request, bool head = false)
{
    RawClient c;
    if (!c.connect("127.0.0.1", port))
        return {};
    c.send(request);
    return c.answer(head);
}

RawAnswer get(int port, const std::string& path = "/hello")
{
    return ask(port, "GET " + path + " HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n");
}

// An IPv4 address of this machine that is not loopback; "" when it has none.
std::string nonLoopbackAddress()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    std::string found;
    for (ifaddrs* i = list; i && found.empty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
        if (!wire::isLoopback(text))
            found = text;
    }
    freeifaddrs(list);
    return found;
}

std::string openStreamRequest(const std::string& extra = {})
{
    return "GET /stream HTTP/1.1\r\nHost: t\r\n" + extra + "\r\n";
}

} // namespace

class TestHttpServer : public QObject {
    Q_OBJECT

private slots:
    void eventFraming_data();
    void eventFraming();
    void clientAddresses_data();
    void clientAddresses();
    void answers_data();
    void answers();
    void keepAlive_data();
    void keepAlive();
    void bounds_data();
    void bounds();
    void perAddress_data();
    void perAddress();
    void dualStackPeer();
    void totalLimit();
    void eventStream();
    void slowReaderDropped_data();
    void slowReaderDropped();
    void fanOutSharedEvent_data();
    void fanOutSharedEvent();
    void tls();
    void tlsListenErrors_data();
    void tlsListenErrors();
    void stopWithStreamsOpen();

private:
    QTemporaryDir m_dir;
    bool makeCertificate(const QString& name, QString* cert, QString* key);
};

void TestHttpServer::eventFraming_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QByteArray>("framed");
    QTest::newRow("one line") << QByteArray("{\"a\":1}") << QByteArray("")
                              << QByteArray("data: {\"a\":1}\n\n");
    QTest::newRow("with id") << QByteArray("x") << QByteArray("7") << QByteArray("id: 7\ndata: x\n\n");
    QTest::newRow("LF splits") << QByteArray("a\nb") << QByteArray("") << QByteArray("data: a\ndata: b\n\n");
    QTest::newRow("CRLF splits once")
        << QByteArray("a\r\nb") << QByteArray("") << QByteArray("data: a\ndata: b\n\n");
    QTest::newRow("lone CR splits") << QByteArray("a\rb") << QByteArray("")
                                    << QByteArray("data: a\ndata: b\n\n");
    QTest::newRow("trailing newline keeps an empty line")
        << QByteArray("a\n") << QByteArray("") << QByteArray("data: a\ndata: \n\n");
    QTest::newRow("empty") << QByteArray("") << QByteArray("") << QByteArray("data: \n\n");
    QTest::newRow("id with a newline is left out")
        << QByteArray("x") << QByteArray("1\ndata: forged") << QByteArray("data: x\n\n");
}

void TestHttpServer::eventFraming()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, id);
    QFETCH(QByteArray, framed);
    QCOMPARE(QByteArray::fromStdString(wire::formatEvent(data.toStdString(), id.toStdString())), framed);
    QCOMPARE(QByteArray::fromStdString(*EventStream::frame(data.toStdString(), id.toStdString())), framed);
}

void TestHttpServer::clientAddresses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("loopback");
    QTest::addColumn<QByteArray>("lastForwarded"); // of the text taken as an X-Forwarded-For value
    QTest::newRow("v4 loopback") << QByteArray("127.0.0.1") << true << QByteArray("127.0.0.1");
    QTest::newRow("other 127/8") << QByteArray("127.8.9.10") << true << QByteArray("127.8.9.10");
    QTest::newRow("v6 loopback") << QByteArray("::1") << true << QByteArray("::1");
    QTest::newRow("mapped loopback") << QByteArray("::ffff:127.0.0.1") << true
                                     << QByteArray("::ffff:127.0.0.1");
    QTest::newRow("lan") << QByteArray("192.0.2.7") << false << QByteArray("192.0.2.7");
    QTest::newRow("list takes the last")
        << QByteArray("10.0.0.1, 203.0.113.5") << false << QByteArray("203.0.113.5");
    QTest::newRow("spaces trimmed") << QByteArray(" 10.0.0.1 ,\t203.0.113.5 ") << false
                                    << QByteArray("203.0.113.5");
    QTest::newRow("garbage names none") << QByteArray("10.0.0.1, unknown") << false << QByteArray("");
    QTest::newRow("empty") << QByteArray("") << false << QByteArray("");
}

void TestHttpServer::clientAddresses()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, loopback);
    QFETCH(QByteArray, lastForwarded);
    QCOMPARE(wire::isLoopback(text.toStdString()), loopback);
    QCOMPARE(QByteArray::fromStdString(wire::lastForwardedAddress(text.toStdString())), lastForwarded);
}

void TestHttpServer::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body"); // "*": any
    QTest::addColumn<QByteArray>("allow");
    const QByteArray end = QByteArrayLiteral(" HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n");
    QTest::newRow("GET") << "GET /hello" + end << 200 << QByteArray("hello") << QByteArray("");
    QTest::newRow("HEAD: GET's head, no body")
        << "HEAD /hello" + end << 200 << QByteArray("") << QByteArray("");
    QTest::newRow("query and POST body")
        << QByteArrayLiteral(
               "POST /echo?a=1 HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc")
        << 200 << QByteArray("POST a=1 abc") << QByteArray("");
    QTest::newRow("chunked POST body")
        << QByteArrayLiteral("POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: "
                             "chunked\r\nConnection: close\r\n\r\n2\r\nab\r\n1\r\nc\r\n0\r\n\r\n")
        << 200 << QByteArray("POST  abc") << QByteArray("");
    QTest::newRow("OPTIONS reaches the handler")
        << "OPTIONS /echo" + end << 200 << QByteArray("OPTIONS  ") << QByteArray("");
    QTest::newRow("404 from the handler")
        << "GET /nothing" + end << 404 << QByteArray("no such page") << QByteArray("");
    QTest::newRow("DELETE") << "DELETE /hello" + end << 405 << QByteArray("*")
                            << QByteArray("GET, HEAD, POST, OPTIONS");
    QTest::newRow("PUT") << "PUT /hello" + end << 405 << QByteArray("*")
                         << QByteArray("GET, HEAD, POST, OPTIONS");
    QTest::newRow("answered later from another thread")
        << "GET /late" + end << 200 << QByteArray("late") << QByteArray("");
    QTest::newRow("dropped reply") << "GET /drop" + end << 500 << QByteArray("*") << QByteArray("");
    QTest::newRow("handler throws: no internal text")
        << "GET /throw" + end << 500 << QByteArray("Internal Server Error\n") << QByteArray("");
    QTest::newRow("not HTTP") << QByteArray("HELLO THERE\r\n\r\n") << 400 << QByteArray("Bad Request\n")
                              << QByteArray("");
    QTest::newRow("target not a path") << "GET hello" + end << 400 << QByteArray("*") << QByteArray("");
    QTest::newRow("no Host in HTTP/1.1")
        << QByteArray("GET /hello HTTP/1.1\r\n\r\n") << 400 << QByteArray("*") << QByteArray("");
    QTest::newRow("bad chunk size") << QByteArrayLiteral(
                                           "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: "
                                           "chunked\r\n\r\nzz\r\nab\r\n0\r\n\r\n")
                                    << 400 << QByteArray("*") << QByteArray("");
    QTest::newRow("both Content-Length and chunked")
        << QByteArray("POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\nTransfer-Encoding: "
                      "chunked\r\n\r\n0\r\n\r\n")
        << 400 << QByteArray("*") << QByteArray("");
    QTest::newRow("two different Content-Lengths")
        << QByteArray("POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\nabcde")
        << 400 << QByteArray("*") << QByteArray("");
    QTest::newRow("header injection dropped")
        << "GET /inject" + end << 200 << QByteArray("x") << QByteArray("");
}

void TestHttpServer::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, allow);
    TestServer t;
    QVERIFY(t.listening);
    const bool head = request.startsWith("HEAD");
    const RawAnswer a = ask(t.server.port(), request.toStdString(), head);
    QCOMPARE(a.status, status);
    if (body != "*")
        QCOMPARE(QByteArray::fromStdString(a.body), body);
    if (head)
        QCOMPARE(a.header("content-length"), std::string("5"));
    QCOMPARE(QByteArray::fromStdString(a.header("allow")), allow);
    // Every answer, the server's own errors included, carries the security headers.
    QCOMPARE(a.header("content-security-policy"), std::string("default-src 'none'"));
    QCOMPARE(a.header("x-content-type-options"), std::string("nosniff"));
    QCOMPARE(a.header("x-frame-options"), std::string("DENY"));
    QCOMPARE(a.header("referrer-policy"), std::string("no-referrer"));
    QVERIFY(!a.hasHeader("strict-transport-security"));
    QVERIFY(!a.hasHeader("set-cookie"));
    QVERIFY(!a.hasHeader("bad name"));
    // ... and the server goes on.
    QCOMPARE(get(t.server.port()).status, 200);

    // A response's own policy replaces the default; a changed default applies to the next answer.
    t.server.setContentSecurityPolicy("default-src 'self'");
    QCOMPARE(get(t.server.port(), "/policy").header("content-security-policy"),
             std::string("img-src 'self'"));
    QCOMPARE(get(t.server.port()).header("content-security-policy"), std::string("default-src 'self'"));
}

void TestHttpServer::keepAlive_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("connectionHeader");
    QTest::addColumn<bool>("staysOpen");
    QTest::newRow("1.1 default") << QByteArray("HTTP/1.1") << QByteArray("") << true;
    QTest::newRow("1.1 close") << QByteArray("HTTP/1.1") << QByteArray("Connection: close\r\n") << false;
    QTest::newRow("1.0 default") << QByteArray("HTTP/1.0") << QByteArray("") << false;
    QTest::newRow("1.0 keep-alive") << QByteArray("HTTP/1.0") << QByteArray("Connection: keep-alive\r\n")
                                    << true;
}

void TestHttpServer::keepAlive()
{
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, connectionHeader);
    QFETCH(bool, staysOpen);
    TestServer t;
    RawClient c;
    QVERIFY(c.connect("127.0.0.1", t.server.port()));
    const std::string request =
        "GET /hello " + version.toStdString() + "\r\nHost: t\r\n" + connectionHeader.toStdString() + "\r\n";
    QVERIFY(c.send(request));
    QCOMPARE(c.answer().status, 200);
    if (!staysOpen) {
        QVERIFY(c.closedByPeer());
        return;
    }
    // Two more on the same connection, the second pipelined behind a HEAD in one write.
    QVERIFY(c.send(request));
    QCOMPARE(c.answer().body, std::string("hello"));
    QVERIFY(c.send("HEAD /hello " + version.toStdString() + "\r\nHost: t\r\n" +
                   connectionHeader.toStdString() + "\r\n" + request));
    const RawAnswer head = c.answer(true);
    QCOMPARE(head.status, 200);
    QCOMPARE(c.answer().body, std::string("hello"));
    QCOMPARE(t.server.stats().requests, 4u);
    QCOMPARE(t.server.stats().connectionsOpen, 1u);
}

void TestHttpServer::bounds_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("trickleMs"); // > 0: send a byte at a time with this pause
    QTest::addColumn<int>("status");
    const std::string longHeader(9000, 'a');
    QTest::newRow("headers too large")
        << QByteArray::fromStdString("GET /hello HTTP/1.1\r\nHost: t\r\nX-Long: " + longHeader + "\r\n\r\n")
        << 0 << 431;
    QTest::newRow("request line too large")
        << QByteArray::fromStdString("GET /" + longHeader + " HTTP/1.1\r\nHost: t\r\n\r\n") << 0 << 431;
    QTest::newRow("body announced too large")
        << QByteArrayLiteral("POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: 100000\r\n\r\nabc") << 0
        << 413;
    QTest::newRow("body announced too large, asking first")
        << QByteArrayLiteral(
               "POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: 100000\r\nExpect: 100-continue\r\n\r\n")
        << 0 << 413;
    const std::string chunk = std::string("4000\r\n") + std::string(0x4000, 'b') + "\r\n";
    QTest::newRow("chunked body too large")
        << QByteArray::fromStdString("POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                     chunk + chunk + "0\r\n\r\n")
        << 0 << 413;
    QTest::newRow("slow headers") << QByteArrayLiteral(
                                         "GET /hello HTTP/1.1\r\nHost: t\r\nX-A: 1\r\nX-B: 2\r\n\r\n")
                                  << 150 << 408;
}

void TestHttpServer::bounds()
{
    QFETCH(QByteArray, request);
    QFETCH(int, trickleMs);
    QFETCH(int, status);
    Limits limits;
    limits.requestSeconds = 1;
    TestServer t(limits);
    RawClient c;
    QVERIFY(c.connect("127.0.0.1", t.server.port()));
    const std::string bytes = request.toStdString();
    QElapsedTimer clock;
    clock.start();
    if (trickleMs > 0) {
        // A slowloris: each byte well within any per-read timeout, the whole far beyond the bound.
        for (const char b : bytes) {
            if (!c.send(std::string(1, b)))
                break;
            QTest::qWait(trickleMs);
            const std::string early = c.readSome(0);
            c.pending() += early;
            if (!c.pending().empty())
                break;
        }
    } else {
        c.send(bytes);
    }
    const RawAnswer a = c.answer();
    QCOMPARE(a.status, status);
    QCOMPARE(a.header("connection"), std::string("close"));
    QCOMPARE(a.header("x-frame-options"), std::string("DENY"));
    QVERIFY(c.closedByPeer());
    if (trickleMs > 0)
        QVERIFY2(clock.elapsed() < 2500, "the slow request was not cut at requestSeconds");
    QCOMPARE(t.server.stats().refused, 1u);
    QCOMPARE(get(t.server.port()).status, 200);
}

void TestHttpServer::perAddress_data()
{
    QTest::addColumn<bool>("throughProxy");
    QTest::newRow("direct from a LAN address") << false;
    QTest::newRow("behind a trusted proxy") << true;
}

void TestHttpServer::perAddress()
{
    QFETCH(bool, throughProxy);
    Limits limits;
    limits.maxPerAddress = 2;
    const std::string lan = nonLoopbackAddress();
    if (!throughProxy && lan.empty())
        QSKIP("this machine has no non-loopback address");
    if (throughProxy)
        limits.trustedProxies = {"127.0.0.1"};
    TestServer t(limits, throughProxy ? "127.0.0.1" : "0.0.0.0");
    const int port = t.server.port();
    const std::string host = throughProxy ? "127.0.0.1" : lan;
    const std::string forwarded = throughProxy ? "X-Forwarded-For: 10.9.9.9, 203.0.113.5\r\n" : "";

    // Two streams hold the client's two places; a third request from it is refused.
    RawClient held[2];
    for (auto& h : held) {
        QVERIFY(h.connect(host, port, throughProxy ? "" : lan));
        QVERIFY(h.send(openStreamRequest(forwarded)));
        QCOMPARE(h.answer().status, 200);
    }
    RawClient third;
    QVERIFY(third.connect(host, port, throughProxy ? "" : lan));
    QVERIFY(third.send("GET /peer HTTP/1.1\r\nHost: t\r\n" + forwarded + "\r\n"));
    const RawAnswer refused = third.answer();
    QCOMPARE(refused.status, 429);
    QVERIFY(refused.hasHeader("retry-after"));
    QVERIFY(third.closedByPeer());
    QCOMPARE(t.server.stats().refused, 1u);

    // Loopback has no bound: more than two at once from 127.0.0.1 are all served.
    RawClient local[4];
    for (auto& l : local) {
        QVERIFY(l.connect("127.0.0.1", port));
        QVERIFY(l.send(openStreamRequest()));
        QCOMPARE(l.answer().status, 200);
    }
    if (throughProxy) {
        // The proxy's word is taken for the client's address and for the visitor's HTTPS (so a
        // session cookie is marked Secure); another client is not affected.
        const RawAnswer other = ask(port, "GET /peer HTTP/1.1\r\nHost: t\r\nConnection: close\r\n"
                                          "X-Forwarded-For: 198.51.100.1\r\nX-Forwarded-Proto: https\r\n\r\n");
        QCOMPARE(other.body, std::string("198.51.100.1 secure"));
        const RawAnswer plain = ask(port, "GET /peer HTTP/1.1\r\nHost: t\r\nConnection: close\r\n"
                                          "X-Forwarded-For: 198.51.100.1\r\nX-Forwarded-Proto: http\r\n\r\n");
        QCOMPARE(plain.body, std::string("198.51.100.1"));
    } else {
        // A client that is no trusted proxy cannot name another address, nor claim HTTPS.
        const RawAnswer own = ask(port, "GET /peer HTTP/1.1\r\nHost: t\r\nConnection: close\r\n"
                                        "X-Forwarded-For: 198.51.100.1\r\nX-Forwarded-Proto: https\r\n\r\n");
        QCOMPARE(own.body, std::string("127.0.0.1"));
    }
    // A place given back is taken again.
    held[0].close();
    QTRY_COMPARE(t.closed.load(), 1);
    RawClient again;
    QVERIFY(again.connect(host, port, throughProxy ? "" : lan));
    QVERIFY(again.send("GET /peer HTTP/1.1\r\nHost: t\r\nConnection: close\r\n" + forwarded + "\r\n"));
    const RawAnswer ok = again.answer();
    QCOMPARE(ok.status, 200);
    QCOMPARE(ok.body, throughProxy ? std::string("203.0.113.5") : lan);
}

void TestHttpServer::dualStackPeer()
{
    // On "::" an IPv4 client arrives as ::ffff:127.0.0.1: it is still loopback, and named as
    // IPv4, so the station's bounds and logs see one address per client.
    Limits limits;
    limits.maxPerAddress = 1;
    TestServer t(limits, "::");
    if (!t.listening)
        QSKIP("no IPv6 on this machine");
    RawClient held;
    QVERIFY(held.connect("127.0.0.1", t.server.port()));
    QVERIFY(held.send(openStreamRequest()));
    QCOMPARE(held.answer().status, 200);
    const RawAnswer a = get(t.server.port(), "/peer");
    QCOMPARE(a.status, 200);
    QCOMPARE(a.body, std::string("127.0.0.1"));
}

void TestHttpServer::totalLimit()
{
    Limits limits;
    limits.maxConnections = 3;
    TestServer t(limits);
    RawClient open[3];
    for (auto& o : open) {
        QVERIFY(o.connect("127.0.0.1", t.server.port()));
        QVERIFY(o.send(openStreamRequest()));
        QCOMPARE(o.answer().status, 200);
    }
    QCOMPARE(t.server.stats().connectionsOpen, 3u);
    QCOMPARE(t.server.stats().streamsOpen, 3u);
    const RawAnswer full = get(t.server.port());
    QCOMPARE(full.status, 503);
    QCOMPARE(full.body, std::string("Service Unavailable\n"));
    QCOMPARE(t.server.stats().refused, 1u);
    open[2].close();
    QTRY_COMPARE(t.server.stats().connectionsOpen, 2u);
    QCOMPARE(get(t.server.port()).status, 200);
}

void TestHttpServer::eventStream()
{
    Limits limits;
    limits.keepAliveSeconds = 1;
    TestServer t(limits);
    RawClient c;
    QVERIFY(c.connect("127.0.0.1", t.server.port()));
    QVERIFY(c.send(openStreamRequest()));
    const RawAnswer head = c.answer();
    QCOMPARE(head.status, 200);
    QCOMPARE(head.header("content-type"), std::string("text/event-stream"));
    QCOMPARE(head.header("cache-control"), std::string("no-store"));
    QCOMPARE(head.header("x-accel-buffering"), std::string("no"));
    QCOMPARE(head.header("x-stream"), std::string("yes"));
    QCOMPARE(head.header("x-content-type-options"), std::string("nosniff"));
    QTRY_COMPARE(t.streamCount(), 1u);
    auto s = t.stream(0);
    QVERIFY(s->isOpen());
    QCOMPARE(t.server.stats().streamsOpen, 1u);

    // Events from several threads at once arrive whole; one thread's arrive in its order.
    std::thread other([s] {
        for (int i = 0; i < 50; ++i)
            s->send("other " + std::to_string(i));
    });
    for (int i = 0; i < 50; ++i)
        QVERIFY(s->send("{\"n\":" + std::to_string(i) + "}", std::to_string(i)));
    other.join();
    QVERIFY(c.readUntil("id: 49\ndata: {\"n\":49}\n\n", 3000));
    QVERIFY(c.readUntil("data: other 49\n\n", 3000));
    std::size_t at = 0;
    for (int i = 0; i < 50; ++i) {
        const std::size_t next =
            c.pending().find("id: " + std::to_string(i) + "\ndata: {\"n\":" + std::to_string(i) + "}\n\n");
        QVERIFY2(next != std::string::npos && next >= at,
                 qPrintable(QStringLiteral("event %1 out of order").arg(i)));
        at = next;
    }
    c.pending().clear();

    // Idle, the stream gets a comment line so a dead peer shows.
    QVERIFY(c.readUntil(": keep-alive\n\n", 3000));

    // The client goes: onClosed runs once, and sending reports the end.
    c.close();
    QTRY_COMPARE(t.closed.load(), 1);
    QVERIFY(!s->isOpen());
    QVERIFY(!s->send("after"));
    QCOMPARE(t.server.stats().streamsOpen, 0u);

    // The station closes the next one: the client sees the end, onClosed runs once.
    RawClient d;
    QVERIFY(d.connect("127.0.0.1", t.server.port()));
    QVERIFY(d.send(openStreamRequest()));
    QCOMPARE(d.answer().status, 200);
    QTRY_COMPARE(t.streamCount(), 2u);
    t.stream(1)->close();
    t.stream(1)->close();
    QVERIFY(d.closedByPeer());
    QTRY_COMPARE(t.closed.load(), 2);
    // A callback set after the end still runs, once.
    std::atomic<int> late{0};
    t.stream(1)->onClosed([&late] { ++late; });
    QTRY_COMPARE(late.load(), 1);

    // HEAD of a stream: its head and nothing more.
    RawClient h;
    QVERIFY(h.connect("127.0.0.1", t.server.port()));
    QVERIFY(h.send("HEAD /stream HTTP/1.1\r\nHost: t\r\n\r\n"));
    QCOMPARE(h.answer(true).header("content-type"), std::string("text/event-stream"));
    QVERIFY(h.closedByPeer());
    QCOMPARE(get(t.server.port()).status, 200);
}

void TestHttpServer::slowReaderDropped_data()
{
    QTest::addColumn<int>("queueKb");
    QTest::addColumn<int>("pauseMs"); // between events once the socket is full
    QTest::newRow("queue passes its bound") << 64 << 0;
    // Events too few to fill the queue, but the peer takes none for longer than the idle time.
    QTest::newRow("write stuck past the idle time") << 64 * 1024 << 200;
}

void TestHttpServer::slowReaderDropped()
{
    QFETCH(int, queueKb);
    QFETCH(int, pauseMs);
    Limits limits;
    limits.streamQueueBytes = static_cast<std::size_t>(queueKb) * 1024;
    limits.idleSeconds = 1;
    limits.keepAliveSeconds = 1;
    TestServer t(limits);
    RawClient reader;
    QVERIFY(reader.connect("127.0.0.1", t.server.port(), {}, 4096));
    QVERIFY(reader.send(openStreamRequest()));
    QCOMPARE(reader.answer().status, 200);
    QTRY_COMPARE(t.streamCount(), 1u);
    auto s = t.stream(0);

    // The reader never reads: once the socket buffers are full its queue passes the bound.
    const std::string event(4096, 'e');
    std::size_t sent = 0;
    QElapsedTimer clock;
    clock.start();
    while (s->send(event) && clock.elapsed() < 20000) {
        sent += event.size();
        if (sent % (1024 * 1024) == 0)
            QTest::qWait(5);
        if (pauseMs > 0 && sent >= 8u * 1024 * 1024)
            QTest::qWait(pauseMs);
    }
    QVERIFY2(!s->isOpen() || clock.elapsed() < 20000, "the slow reader was never dropped");
    QTRY_COMPARE(t.closed.load(), 1);
    QVERIFY(sent < 64u * 1024 * 1024);
    QCOMPARE(get(t.server.port()).status, 200);
}

void TestHttpServer::fanOutSharedEvent_data()
{
    QTest::addColumn<int>("batches"); // 0: stream by stream
    QTest::newRow("stream by stream") << 0;
    QTest::newRow("in one batch") << 1;
    QTest::newRow("in a batch each") << 2;
}

void TestHttpServer::fanOutSharedEvent()
{
    QFETCH(int, batches);
    TestServer t;
    constexpr int count = 200;
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<RawClient>());
        QVERIFY(clients.back()->connect("127.0.0.1", t.server.port()));
        QVERIFY(clients.back()->send(openStreamRequest()));
    }
    QTRY_COMPARE(t.streamCount(), std::size_t(count));
    // One peer has gone: its stream takes nothing and holds up nobody.
    clients.front()->close();
    QTRY_COMPARE(t.closed.load(), 1);
    const auto first = EventStream::frame("{\"state\":\"called\"}\n{\"ahead\":0}", "9");
    const auto second = EventStream::frame("{\"ahead\":1}", "10");
    if (batches > 0) {
        std::vector<HttpServer::Delivery> all;
        for (const auto& framed : {first, second}) {
            for (int i = 0; i < count; ++i)
                all.emplace_back(t.stream(i), framed);
            if (batches == 2)
                t.server.deliver(std::exchange(all, {}));
        }
        t.server.deliver(std::move(all));
    } else {
        int refused = 0;
        for (const auto& framed : {first, second})
            for (int i = 0; i < count; ++i)
                refused += t.stream(i)->send(framed) ? 0 : 1;
        QCOMPARE(refused, 2);
    }
    // Each stream has its events in the order given.
    for (int i = 1; i < count; ++i)
        QVERIFY(clients[size_t(i)]->readUntil(
            "id: 9\ndata: {\"state\":\"called\"}\ndata: {\"ahead\":0}\n\nid: 10\ndata: {\"ahead\":1}\n\n", 5000));
    QCOMPARE(t.server.stats().streamsOpen, std::uint64_t(count - 1));
}

bool TestHttpServer::makeCertificate(const QString& name, QString* cert, QString* key)
{
    *cert = m_dir.filePath(name + QStringLiteral(".crt"));
    *key = m_dir.filePath(name + QStringLiteral(".key"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), *key, QStringLiteral("-out"), *cert, QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost")});
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

void TestHttpServer::tls()
{
    QString cert, key;
    QVERIFY(makeCertificate(QStringLiteral("good"), &cert, &key));
    TestServer t({}, "127.0.0.1", HttpServer::Tls{cert.toStdString(), key.toStdString()});
    QVERIFY(t.listening);

    RawClient c;
    QVERIFY(c.connect("127.0.0.1", t.server.port()));
    QVERIFY(c.handshake());
    QVERIFY(c.send("GET /peer HTTP/1.1\r\nHost: t\r\n\r\n"));
    const RawAnswer a = c.answer();
    QCOMPARE(a.status, 200);
    QCOMPARE(a.body, std::string("127.0.0.1 secure"));
    QVERIFY(a.header("strict-transport-security").starts_with("max-age="));
    // Kept alive over TLS, and an event stream on it.
    QVERIFY(c.send(openStreamRequest()));
    QCOMPARE(c.answer().status, 200);
    QTRY_COMPARE(t.streamCount(), 1u);
    QVERIFY(t.stream(0)->send("over tls"));
    QVERIFY(c.readUntil("data: over tls\n\n", 3000));

    // TLS 1.1 and older are refused at the handshake; plain HTTP gets no page.
    RawClient old;
    QVERIFY(old.connect("127.0.0.1", t.server.port()));
    QVERIFY(!old.handshake(TLS1_1_VERSION));
    RawClient plain;
    QVERIFY(plain.connect("127.0.0.1", t.server.port()));
    QVERIFY(plain.send("GET /hello HTTP/1.1\r\nHost: t\r\n\r\n"));
    QCOMPARE(plain.answer().status, 0);

    // A client that connects and never shakes hands is cut.
    Limits quick;
    quick.requestSeconds = 1;
    TestServer q(quick, "127.0.0.1", HttpServer::Tls{cert.toStdString(), key.toStdString()});
    RawClient silent;
    QVERIFY(silent.connect("127.0.0.1", q.server.port()));
    QVERIFY(silent.closedByPeer(3000));
    RawClient after;
    QVERIFY(after.connect("127.0.0.1", q.server.port()));
    QVERIFY(after.handshake());
    QVERIFY(after.send("GET /hello HTTP/1.1\r\nHost: t\r\n\r\n"));
    QCOMPARE(after.answer().body, std::string("hello"));
}

void TestHttpServer::tlsListenErrors_data()
{
    QTest::addColumn<QByteArray>("certCase");
    QTest::addColumn<QByteArray>("keyCase");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("no certificate file") << QByteArray("missing") << QByteArray("good")
                                         << QByteArray("cannot be read: No such file or directory");
    QTest::newRow("no key file") << QByteArray("good") << QByteArray("missing")
                                 << QByteArray("cannot be read: No such file or directory");
    QTest::newRow("certificate is not PEM")
        << QByteArray("garbage") << QByteArray("good") << QByteArray("holds no PEM certificate");
    QTest::newRow("key is not PEM") << QByteArray("good") << QByteArray("garbage")
                                    << QByteArray("holds no unencrypted PEM private key");
    QTest::newRow("key of another certificate")
        << QByteArray("good") << QByteArray("other") << QByteArray("does not belong to the certificate");
}

void TestHttpServer::tlsListenErrors()
{
    QFETCH(QByteArray, certCase);
    QFETCH(QByteArray, keyCase);
    QFETCH(QByteArray, message);
    QString goodCert, goodKey, otherCert, otherKey;
    QVERIFY(makeCertificate(QStringLiteral("good"), &goodCert, &goodKey));
    QVERIFY(makeCertificate(QStringLiteral("other"), &otherCert, &otherKey));
    const QString garbage = m_dir.filePath(QStringLiteral("garbage.pem"));
    QFile g(garbage);
    QVERIFY(g.open(QIODevice::WriteOnly));
    g.write("not a certificate\n");
    g.close();
    const auto pick = [&](const QByteArray& which, const QString& good, const QString& other) {
        if (which == "missing")
            return m_dir.filePath(QStringLiteral("absent.pem"));
        if (which == "garbage")
            return garbage;
        return which == "other" ? other : good;
    };
    HttpServer server({}, [](const Request&, std::shared_ptr<Reply>) {});
    std::string error;
    QVERIFY(!server.listen("127.0.0.1", 0,
                           HttpServer::Tls{pick(certCase, goodCert, otherCert).toStdString(),
                                           pick(keyCase, goodKey, otherKey).toStdString()},
                           &error));
    QVERIFY2(error.find(message.toStdString()) != std::string::npos, error.c_str());

    QVERIFY(!server.listen("not-an-address", 0, std::nullopt, &error));
    QVERIFY2(error.find("not an IP address") != std::string::npos, error.c_str());
    TestServer busy;
    QVERIFY(!server.listen("127.0.0.1", busy.server.port(), std::nullopt, &error));
    QVERIFY2(error.find("Address already in use") != std::string::npos, error.c_str());
}

void TestHttpServer::stopWithStreamsOpen()
{
    auto t = std::make_unique<TestServer>();
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<RawClient>());
        QVERIFY(clients.back()->connect("127.0.0.1", t->server.port()));
        QVERIFY(clients.back()->send(openStreamRequest()));
    }
    QTRY_COMPARE(t->streamCount(), 20u);
    // A request the station has not answered yet, and an idle kept-alive connection.
    std::shared_ptr<Reply> pending;
    auto holding = std::make_unique<HttpServer>(
        Limits{}, [&pending](const Request&, std::shared_ptr<Reply> r) { pending = std::move(r); });
    std::string error;
    QVERIFY(holding->listen("127.0.0.1", 0, std::nullopt, &error));
    holding->start(1);
    RawClient waiting;
    QVERIFY(waiting.connect("127.0.0.1", holding->port()));
    QVERIFY(waiting.send("GET /slow HTTP/1.1\r\nHost: t\r\n\r\n"));
    QTRY_VERIFY(pending != nullptr);

    // Senders keep going while the server stops.
    std::atomic<bool> sending{true};
    std::thread sender([&t, &sending] {
        while (sending)
            for (int i = 0; i < 20; ++i)
                t->stream(i)->send("tick");
    });
    QTest::qWait(50);
    t->server.stop();
    QCOMPARE(t->closed.load(), 20);
    t->server.stop();
    sending = false;
    sender.join();
    for (int i = 0; i < 20; ++i)
        QVERIFY(!t->stream(i)->send("after stop"));
    for (auto& c : clients)
        QVERIFY(c->closedByPeer());

    holding->stop();
    QVERIFY(waiting.closedByPeer());
    // Answering after the stop, and after the server is gone, is harmless.
    holding.reset();
    pending->respond({200, "text/plain", "too late", {}});
    t.reset();
    pending.reset();
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
