#include "web/http/Connection.h"

#include <boost/asio/dispatch.hpp>

#include <algorithm>

namespace tallyvo::web::detail {

namespace {

using namespace std::chrono_literals;

bool iequals(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool reachesHandler(http::verb v)
{
    return v == http::verb::get || v == http::verb::head || v == http::verb::post || v == http::verb::options;
}

const std::shared_ptr<const std::string>& keepAliveComment()
{
    static const auto comment = std::make_shared<const std::string>(": keep-alive\n\n");
    return comment;
}

template <class Socket> class StreamImpl final : public EventStream {
public:
    explicit StreamImpl(std::shared_ptr<Connection<Socket>> c)
        : m_conn(std::move(c))
    {
    }
    bool send(std::string_view data, std::string_view id) override
    {
        if (!m_conn->streamOpen())
            return false;
        return m_conn->queueEvent(std::make_shared<const std::string>(wire::formatEvent(data, id)));
    }
    bool send(const Shared& framed) override { return framed && m_conn->queueEvent(framed); }
    bool isOpen() const override { return m_conn->streamOpen(); }
    void close() override { m_conn->postClose(); }
    void onClosed(std::function<void()> done) override { m_conn->setOnClosed(std::move(done)); }

private:
    std::shared_ptr<Connection<Socket>> m_conn;
};

template <class Socket> class ReplyImpl final : public Reply {
public:
    explicit ReplyImpl(std::shared_ptr<Connection<Socket>> c)
        : m_conn(std::move(c))
    {
    }
    ~ReplyImpl() override
    {
        if (!m_answered.exchange(true))
            m_conn->postResponse(wire::plainError(500));
    }
    void respond(Response response) override
    {
        if (!m_answered.exchange(true))
            m_conn->postResponse(std::move(response));
    }
    void openStream(std::function<void(std::shared_ptr<EventStream>)> opened,
                    std::vector<std::pair<std::string, std::string>> headers) override
    {
        if (!m_answered.exchange(true))
            m_conn->postOpenStream(std::move(opened), std::move(headers));
    }
    // After the handler threw: its answer is an error unless it gave one.
    void fail()
    {
        if (!m_answered.exchange(true))
            m_conn->postResponse(wire::plainError(500));
    }

private:
    std::shared_ptr<Connection<Socket>> m_conn;
    std::atomic<bool> m_answered{false};
};

} // namespace

template <class Socket> void Connection<Socket>::arm(Clock::duration after, void (Connection::*onExpiry)())
{
    const std::uint64_t generation = ++m_timerGeneration;
    m_timer.expires_after(after);
    m_timer.async_wait(
        [self = this->shared_from_this(), generation, onExpiry](const boost::system::error_code& ec) {
            if (ec || generation != self->m_timerGeneration || self->m_closed)
                return;
            (self.get()->*onExpiry)();
        });
}

template <class Socket> void Connection<Socket>::begin()
{
    m_core->track(this, this->weak_from_this());
    if (stopping()) {
        closeNow();
        return;
    }
    if constexpr (isTls) {
        arm(std::chrono::seconds(m_core->limits.requestSeconds), &Connection::closeNow);
        m_socket.async_handshake(asio::ssl::stream_base::server,
                                 [self = this->shared_from_this()](const boost::system::error_code& ec) {
                                     self->disarm();
                                     if (ec || self->m_closed) {
                                         self->closeNow();
                                         return;
                                     }
                                     self->afterHandshake();
                                 });
    } else {
        afterHandshake();
    }
}

template <class Socket> void Connection<Socket>::afterHandshake()
{
    switch (m_admission) {
    case Admission::Refuse429:
        refuse(429);
        break;
    case Admission::Refuse503:
        refuse(503);
        break;
    case Admission::Serve:
        awaitRequest();
        break;
    }
}

template <class Socket> void Connection<Socket>::awaitRequest()
{
    if (stopping()) {
        closeNow();
        return;
    }
    m_requestSlot.reset();
    m_requestPeer.clear();
    m_timedOut = false;
    m_headOnly = false;
    if (m_buffer.size() > 0) {
        readHeader();
        return;
    }
    // A connection nobody has used yet gets the time of a request, a kept-alive one the idle time.
    const int wait = m_servedOne ? m_core->limits.idleSeconds : m_core->limits.requestSeconds;
    arm(std::chrono::seconds(wait), &Connection::closeNow);
    m_socket.async_read_some(m_buffer.prepare(4096), [self = this->shared_from_this()](
                                                         const boost::system::error_code& ec, std::size_t n) {
        self->disarm();
        if (ec || self->m_closed) {
            self->closeNow();
            return;
        }
        self->m_buffer.commit(n);
        self->readHeader();
    });
}

template <class Socket> void Connection<Socket>::readHeader()
{
    m_parser.emplace();
    m_parser->header_limit(
        static_cast<std::uint32_t>(std::min<std::size_t>(m_core->limits.headerBytes, UINT32_MAX)));
    m_parser->body_limit(m_core->limits.bodyBytes);
    // The whole request, however slowly it trickles in, has requestSeconds from its first byte.
    arm(std::chrono::seconds(m_core->limits.requestSeconds), &Connection::requestTimedOut);
    http::async_read_header(m_socket, m_buffer, *m_parser,
                            [self = this->shared_from_this()](const boost::system::error_code& ec,
                                                              std::size_t) { self->readDone(ec, true); });
}

template <class Socket> void Connection<Socket>::requestTimedOut()
{
    m_timedOut = true;
    boost::system::error_code ignored;
    lowest(m_socket).cancel(ignored);
}

template <class Socket>
void Connection<Socket>::readDone(const boost::system::error_code& ec, bool headerOnly)
{
    if (m_closed)
        return;
    if (m_timedOut) {
        writeFinal(408);
        return;
    }
    if (ec) {
        onReadError(ec);
        return;
    }
    if (headerOnly)
        afterHeader();
    else
        dispatch();
}

template <class Socket> void Connection<Socket>::onReadError(const boost::system::error_code& ec)
{
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
        writeFinal(431);
    } else if (ec == http::error::body_limit) {
        writeFinal(413);
    } else if (ec.category() == http::make_error_code(http::error::bad_method).category() &&
               ec != http::error::end_of_stream && ec != http::error::partial_message) {
        writeFinal(400);
    } else {
        // The peer went away (or the TLS layer failed): nobody to answer.
        closeNow();
    }
}

template <class Socket> void Connection<Socket>::afterHeader()
{
    const auto& head = m_parser->get();
    if (m_parser->is_done()) {
        dispatch();
        return;
    }
    // A client that asks first is told to go on; the body limit was already checked on the header.
    if (head.version() >= 11 && iequals(head[http::field::expect], "100-continue")) {
        static const std::string goOn = "HTTP/1.1 100 Continue\r\n\r\n";
        asio::async_write(
            m_socket, asio::buffer(goOn),
            [self = this->shared_from_this()](const boost::system::error_code& ec, std::size_t) {
                if (ec || self->m_closed) {
                    self->closeNow();
                    return;
                }
                self->readBody();
            });
        return;
    }
    readBody();
}

template <class Socket> void Connection<Socket>::readBody()
{
    http::async_read(m_socket, m_buffer, *m_parser,
                     [self = this->shared_from_this()](const boost::system::error_code& ec, std::size_t) {
                         self->readDone(ec, false);
                     });
}

template <class Socket> void Connection<Socket>::dispatch()
{
    disarm();
    auto message = m_parser->release();
    m_parser.reset();
    m_servedOne = true;
    m_keepAlive = message.keep_alive();
    m_http10 = message.version() < 11;
    m_headOnly = message.method() == http::verb::head;

    const std::string_view target(message.target().data(), message.target().size());
    const bool asterisk = target == "*" && message.method() == http::verb::options;
    if ((!asterisk && (target.empty() || target.front() != '/')) ||
        (!m_http10 && message.find(http::field::host) == message.end())) {
        writeFinal(400);
        return;
    }
    ++m_core->requests;
    if (!reachesHandler(message.method())) {
        writeResponse(wire::plainError(405));
        return;
    }

    // Behind a trusted proxy the client is the address the proxy names, and it gets the bound a
    // direct client would.
    std::string peer = m_peer;
    bool secure = isTls;
    if (m_core->isTrustedProxy(m_peer)) {
        // A proxy that ends TLS itself says so, and the visitor's cookies must still be Secure.
        const auto proto = message.find("X-Forwarded-Proto");
        if (proto != message.end() &&
            iequals(std::string_view(proto->value().data(), proto->value().size()), "https"))
            secure = true;
        const auto forwarded = message.find("X-Forwarded-For");
        if (forwarded != message.end()) {
            std::string named = wire::lastForwardedAddress(
                std::string_view(forwarded->value().data(), forwarded->value().size()));
            if (!named.empty())
                peer = std::move(named);
        }
        if (peer != m_peer && !m_core->isExempt(peer)) {
            if (!m_core->acquireAddress(peer)) {
                ++m_core->refused;
                m_keepAlive = false;
                writeResponse(wire::plainError(429));
                return;
            }
            m_requestSlot = AddressSlot(m_core.get(), peer);
        }
    }

    Request request;
    request.method = std::string(message.method_string());
    request.target = std::string(target);
    std::tie(request.path, request.query) = wire::splitTarget(target);
    request.body = std::move(message.body());
    request.peer = std::move(peer);
    request.secure = secure;
    for (const auto& field : message) {
        std::string name(field.name_string());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        request.headers.emplace_back(std::move(name), std::string(field.value()));
    }

    auto reply = std::make_shared<ReplyImpl<Socket>>(this->shared_from_this());
    try {
        if (m_core->handler)
            m_core->handler(request, reply);
    } catch (...) {
        reply->fail();
    }
}

template <class Socket> void Connection<Socket>::writeFinal(int status)
{
    if (status != 400)
        ++m_core->refused;
    m_keepAlive = false;
    m_headOnly = false;
    writeResponse(wire::plainError(status));
}

template <class Socket> void Connection<Socket>::refuse(int status)
{
    ++m_core->refused;
    m_keepAlive = false;
    writeResponse(wire::plainError(status));
}

template <class Socket> void Connection<Socket>::writeResponse(Response response)
{
    if (m_closed || m_isStream)
        return;
    const bool keepAlive = m_keepAlive && !stopping();
    wire::Framing framing;
    framing.keepAlive = keepAlive;
    framing.headOnly = m_headOnly;
    framing.secure = isTls;
    framing.http10 = m_http10;
    m_out = wire::serialize(response, framing, m_core->policy());
    arm(std::chrono::seconds(m_core->limits.idleSeconds), &Connection::closeNow);
    asio::async_write(
        m_socket, asio::buffer(m_out),
        [self = this->shared_from_this(), keepAlive](const boost::system::error_code& ec, std::size_t) {
            self->disarm();
            if (ec || self->m_closed) {
                self->closeNow();
                return;
            }
            self->afterWrite(keepAlive);
        });
}

template <class Socket> void Connection<Socket>::afterWrite(bool keepAlive)
{
    m_requestSlot.reset();
    if (keepAlive && !stopping())
        awaitRequest();
    else
        gracefulClose();
}

template <class Socket>
void Connection<Socket>::postOpenStream(std::function<void(std::shared_ptr<EventStream>)> opened,
                                        std::vector<std::pair<std::string, std::string>> headers)
{
    m_core->post(m_strand, [self = this->shared_from_this(), opened = std::move(opened),
                            headers = std::move(headers)]() mutable {
        if (self->m_closed)
            return;
        self->m_out = wire::streamHead(headers, isTls, self->m_core->policy());
        if (self->m_headOnly) {
            // HEAD learns what GET would open, and nothing follows.
            self->m_keepAlive = false;
            asio::async_write(
                self->m_socket, asio::buffer(self->m_out),
                [self](const boost::system::error_code&, std::size_t) { self->gracefulClose(); });
            return;
        }
        self->m_isStream = true;
        self->m_streamOpen = true;
        ++self->m_core->streamsOpen;
        self->arm(std::chrono::seconds(self->m_core->limits.idleSeconds), &Connection::closeNow);
        asio::async_write(
            self->m_socket, asio::buffer(self->m_out),
            [self, opened = std::move(opened)](const boost::system::error_code& ec, std::size_t) {
                self->disarm();
                if (ec || self->m_closed) {
                    self->closeNow();
                    return;
                }
                self->m_lastWrite = Clock::now();
                try {
                    if (opened)
                        opened(std::make_shared<StreamImpl<Socket>>(self));
                } catch (...) {
                    self->closeNow();
                    return;
                }
                self->watchPeer();
                self->arm(std::chrono::seconds(self->m_core->limits.keepAliveSeconds),
                          &Connection::keepAliveTick);
                self->writeStreamQueue();
            });
    });
}

template <class Socket> bool Connection<Socket>::queueEvent(std::shared_ptr<const std::string> event)
{
    if (!m_streamOpen.load())
        return false;
    const std::size_t before = m_queuedBytes.fetch_add(event->size());
    if (before > 0 && before + event->size() > m_core->limits.streamQueueBytes) {
        // A peer this far behind is not reading: drop it rather than hold its events.
        postClose();
        return false;
    }
    return m_core->post(m_strand, [self = this->shared_from_this(), event = std::move(event)]() mutable {
        if (self->m_closed)
            return;
        self->m_queue.push_back(std::move(event));
        self->writeStreamQueue();
    });
}

template <class Socket> void Connection<Socket>::writeStreamQueue()
{
    if (m_closed || m_writing || m_queue.empty())
        return;
    m_gather.clear();
    const std::size_t count = std::min<std::size_t>(m_queue.size(), 64);
    for (std::size_t i = 0; i < count; ++i)
        m_gather.push_back(asio::buffer(*m_queue[i]));
    m_writingCount = count;
    m_writing = true;
    m_writeStarted = Clock::now();
    asio::async_write(
        m_socket, m_gather,
        [self = this->shared_from_this()](const boost::system::error_code& ec, std::size_t written) {
            self->m_writing = false;
            if (ec || self->m_closed) {
                self->closeNow();
                return;
            }
            self->m_lastWrite = Clock::now();
            for (std::size_t i = 0; i < self->m_writingCount; ++i)
                self->m_queue.pop_front();
            self->m_queuedBytes -= written;
            self->writeStreamQueue();
        });
}

template <class Socket> void Connection<Socket>::watchPeer()
{
    // A stream's client sends nothing more; reading only tells when it has gone.
    m_socket.async_read_some(asio::buffer(m_sink), [self = this->shared_from_this()](
                                                       const boost::system::error_code& ec, std::size_t) {
        if (ec || self->m_closed) {
            self->closeNow();
            return;
        }
        self->watchPeer();
    });
}

template <class Socket> void Connection<Socket>::keepAliveTick()
{
    const auto now = Clock::now();
    const auto every = std::chrono::seconds(std::max(1, m_core->limits.keepAliveSeconds));
    // A write that has not finished in the idle time has a peer that is gone or not reading.
    if (m_writing && now - m_writeStarted > std::chrono::seconds(std::max(1, m_core->limits.idleSeconds))) {
        closeNow();
        return;
    }
    if (!m_writing && now - m_lastWrite >= every - 50ms) {
        m_queuedBytes += keepAliveComment()->size();
        m_queue.push_back(keepAliveComment());
        writeStreamQueue();
        arm(every, &Connection::keepAliveTick);
        return;
    }
    const auto next = m_writing ? every : every - (now - m_lastWrite);
    arm(std::max<Clock::duration>(next, 50ms), &Connection::keepAliveTick);
}

template <class Socket> void Connection<Socket>::setOnClosed(std::function<void()> done)
{
    bool ended = false;
    {
        std::lock_guard lock(m_closedMutex);
        if (m_onClosedRan)
            ended = true;
        else
            m_onClosed = std::move(done);
    }
    if (ended && done)
        asio::post(m_strand, std::move(done));
}

template <class Socket> void Connection<Socket>::gracefulClose()
{
    if (m_closed)
        return;
    arm(2s, &Connection::closeNow);
    if constexpr (isTls) {
        m_socket.async_shutdown(
            [self = this->shared_from_this()](const boost::system::error_code&) { self->closeNow(); });
    } else {
        // Half-close and read what the client still sends, so it gets our answer rather than a reset.
        boost::system::error_code ignored;
        m_socket.shutdown(tcp::socket::shutdown_send, ignored);
        struct Drain {
            std::shared_ptr<Connection> self;
            void operator()(const boost::system::error_code& ec, std::size_t)
            {
                if (ec || self->m_closed) {
                    self->closeNow();
                    return;
                }
                auto& sink = self->m_sink;
                self->m_socket.async_read_some(asio::buffer(sink), Drain{self});
            }
        };
        m_socket.async_read_some(asio::buffer(m_sink), Drain{this->shared_from_this()});
    }
}

template <class Socket> void Connection<Socket>::closeNow()
{
    if (m_closed)
        return;
    m_closed = true;
    disarm();
    boost::system::error_code ignored;
    lowest(m_socket).close(ignored);
    m_requestSlot.reset();
    m_slot.reset();
    release();
    if (!m_isStream)
        return;
    m_streamOpen = false;
    --m_core->streamsOpen;
    m_queue.clear();
    std::function<void()> done;
    {
        std::lock_guard lock(m_closedMutex);
        m_onClosedRan = true;
        done = std::move(m_onClosed);
    }
    if (done) {
        try {
            done();
        } catch (...) {
            // The station's callback failing must not take the server thread with it.
        }
    }
}

template class Connection<tcp::socket>;
template class Connection<TlsSocket>;

} // namespace tallyvo::web::detail
