#pragma once

// The web station's HTTP/1.1 server: requests, server-sent event streams, TLS, and the bounds a
// server on an open network needs. It knows nothing about tokens: the station hands it one
// handler and answers each request through the Reply it is given, from any thread, now or later.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tallyvo::web {

// What a request and a connection may take. Exceeding one is answered (413, 431, 408, 429, 503)
// and the connection closed; the server goes on.
struct Limits {
    std::size_t headerBytes = 8 * 1024; // request line and headers; beyond: 431
    std::size_t bodyBytes = 16 * 1024;  // beyond (announced or sent): 413
    int requestSeconds = 10;            // to send a whole request once it started; beyond: 408
    int idleSeconds = 30;               // a kept-alive connection with no request is closed
    int maxConnections = 4096;          // open at once, event streams included; beyond: 503
    int maxPerAddress = 32;             // from one client address; beyond: 429
    // Addresses without the per-address bound: loopback always, and these (a reverse proxy in
    // front of the station). A request from one of these that carries X-Forwarded-For is taken
    // to come from the last address named there.
    std::vector<std::string> trustedProxies;
    int keepAliveSeconds = 20; // a comment line on every idle event stream, so dead peers are found
    // Events queued for one stream and not yet taken by its peer; beyond, the stream is closed
    // (a single event is always let through onto an empty queue).
    std::size_t streamQueueBytes = 256 * 1024;
};

struct Request {
    std::string method; // "GET", "POST", ...
    std::string target; // as sent: path and query
    std::string path;   // the target up to '?', not decoded
    std::string query;  // after '?', not decoded; "" when none
    std::string body;
    std::string peer;   // the client's address (see Limits::trustedProxies)
    bool secure = false; // came over TLS, or through a trusted proxy that says it did (X-Forwarded-Proto)
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case

    // The value of a header (name in lower case); "" when absent.
    std::string header(std::string_view lowerName) const;
};

struct Response {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    // Further headers (Cache-Control, Set-Cookie, Location, Retry-After...). The server adds the
    // security headers of every answer itself (see HttpServer).
    std::vector<std::pair<std::string, std::string>> headers;
};

// An open server-sent event stream. Every member may be called from any thread.
class EventStream {
public:
    virtual ~EventStream() = default;
    // Queues one event: `data` is written as "data: ...\n\n" (a "\n" inside starts a new data
    // line), preceded by "id: ...\n" when id is not empty. Returns false once the stream is
    // closed. A peer that does not read is closed when its queue passes a bound, never waited for.
    virtual bool send(std::string_view data, std::string_view id = {}) = 0;
    // The same event for many streams, framed once: every stream sends the one buffer.
    using Shared = std::shared_ptr<const std::string>;
    static Shared frame(std::string_view data, std::string_view id = {});
    virtual bool send(const Shared& framed) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Runs once when the stream ends for whatever reason (peer gone, close(), server stopping),
    // on a server thread. Set it before the stream can end: in the `opened` callback.
    virtual void onClosed(std::function<void()> done) = 0;
};

// One request's answer. Exactly one of respond() or openStream() is called, once, from any
// thread; a Reply dropped unanswered is answered 500.
class Reply {
public:
    virtual ~Reply() = default;
    virtual void respond(Response response) = 0;
    // Answers 200 text/event-stream (no caching) with these extra headers and keeps the
    // connection for events. `opened` runs on a server thread once the headers went out; to
    // HEAD the headers alone are sent, the connection closes and `opened` does not run.
    virtual void openStream(std::function<void(std::shared_ptr<EventStream>)> opened,
                            std::vector<std::pair<std::string, std::string>> headers = {}) = 0;
};

using Handler = std::function<void(const Request&, std::shared_ptr<Reply>)>;

struct ServerStats {
    std::uint64_t connectionsOpen = 0;
    std::uint64_t streamsOpen = 0;
    std::uint64_t requests = 0;
    std::uint64_t refused = 0; // answered by a bound (408, 413, 429, 431, 503)
};

// Every answer carries: Content-Security-Policy (as set, by default "default-src 'none'"),
// X-Content-Type-Options: nosniff, X-Frame-Options: DENY, Referrer-Policy: no-referrer, and
// Strict-Transport-Security under TLS. Errors the server makes itself have a short plain body
// and never internal text.
class HttpServer {
public:
    struct Tls {
        std::string certFile; // PEM, the chain
        std::string keyFile;  // PEM
    };

    HttpServer(Limits limits, Handler handler);
    ~HttpServer(); // stop()
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // The policy sent with every answer that sets none of its own.
    void setContentSecurityPolicy(std::string policy);

    // Binds the address ("127.0.0.1", "0.0.0.0", "::"); port 0 takes a free one. With tls, only
    // HTTPS is served. False with the reason in error (a cause a person can act on).
    bool listen(const std::string& address, std::uint16_t port, const std::optional<Tls>& tls, std::string* error);
    std::uint16_t port() const;

    // Serves on this many threads of its own until stop(). The handler runs on them.
    void start(int threads);
    // Closes the listener and every connection and stream, and joins the threads.
    void stop();

    ServerStats stats() const;

    // Many streams' events at once (each its stream and its framed event), handed to the
    // server's threads in a few pieces instead of one wake-up per stream, in this order as far
    // as the threads allow.
    using Delivery = std::pair<std::shared_ptr<EventStream>, EventStream::Shared>;
    void deliver(std::vector<Delivery> batch);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace tallyvo::web
