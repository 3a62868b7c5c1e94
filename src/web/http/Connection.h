#pragma once

// One client connection, plain or TLS: reads requests under the bounds, hands each to the
// handler, writes its answer, and may turn into an event stream. Everything it does runs on its
// own strand; Reply and EventStream post onto that strand from whatever thread calls them.

#include "web/http/Core.h"
#include "web/http/Wire.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <chrono>
#include <deque>
#include <optional>

namespace tallyvo::web::detail {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using Strand = asio::strand<asio::io_context::executor_type>;
using TlsSocket = asio::ssl::stream<tcp::socket>;

inline tcp::socket& lowest(tcp::socket& s)
{
    return s;
}
inline tcp::socket& lowest(TlsSocket& s)
{
    return s.next_layer();
}

// What a connection starts as: serving requests, or answering a bound and closing.
enum class Admission { Serve, Refuse429, Refuse503 };

template <class Socket>
class Connection : public Closable, public std::enable_shared_from_this<Connection<Socket>> {
public:
    static constexpr bool isTls = std::is_same_v<Socket, TlsSocket>;

    // `peer` is the TCP peer; `slot` its per-address place (empty when exempt or refused).
    Connection(std::shared_ptr<Core> core, Socket socket, Strand strand, std::string peer,
               Admission admission, AddressSlot slot)
        : m_core(std::move(core))
        , m_strand(std::move(strand))
        , m_socket(std::move(socket))
        , m_timer(m_strand)
        , m_peer(std::move(peer))
        , m_admission(admission)
        , m_slot(std::move(slot))
    {
        if (m_admission == Admission::Serve)
            ++m_core->connectionsOpen;
        else
            ++m_core->refusing;
    }

    ~Connection() override
    {
        m_core->untrack(this);
        release();
    }

    void start()
    {
        asio::dispatch(m_strand, [self = this->shared_from_this()] { self->begin(); });
    }

    void shutdownNow() override
    {
        asio::post(m_strand, [self = this->shared_from_this()] { self->closeNow(); });
    }

    // --- called through Reply and EventStream, from any thread ---
    void postResponse(Response response)
    {
        m_core->post(m_strand, [self = this->shared_from_this(), r = std::move(response)]() mutable {
            self->writeResponse(std::move(r));
        });
    }
    void postOpenStream(std::function<void(std::shared_ptr<EventStream>)> opened,
                        std::vector<std::pair<std::string, std::string>> headers);
    bool queueEvent(std::shared_ptr<const std::string> event);
    bool streamOpen() const { return m_streamOpen.load(); }
    void postClose()
    {
        m_core->post(m_strand, [self = this->shared_from_this()] { self->closeNow(); });
    }
    void setOnClosed(std::function<void()> done);

private:
    using Parser = http::request_parser<http::string_body>;
    using Clock = std::chrono::steady_clock;

    void begin();
    void awaitRequest();
    void readHeader();
    void afterHeader();
    void readBody();
    void dispatch();
    void refuse(int status);
    void writeResponse(Response response);
    void writeFinal(int status);
    void afterWrite(bool keepAlive);
    void writeStreamQueue();
    void watchPeer();
    void keepAliveTick();
    void gracefulClose();
    void closeNow();
    // Runs `onExpiry` after `seconds` unless the timer is set again or cancelled first.
    void arm(Clock::duration after, void (Connection::*onExpiry)());
    void afterHandshake();
    void onReadError(const boost::system::error_code& ec);
    void readDone(const boost::system::error_code& ec, bool headerOnly);
    void disarm()
    {
        ++m_timerGeneration;
        m_timer.cancel();
    }
    void requestTimedOut();
    bool stopping() const { return m_core->stopping.load(); }
    // A closed connection no longer counts, though a handler may still hold its stream.
    void release()
    {
        if (std::exchange(m_released, true))
            return;
        if (m_admission == Admission::Serve)
            --m_core->connectionsOpen;
        else
            --m_core->refusing;
    }

    std::shared_ptr<Core> m_core; // first: outlives the socket and the timer
    Strand m_strand;
    Socket m_socket;
    asio::steady_timer m_timer;
    std::uint64_t m_timerGeneration = 0;
    boost::beast::flat_buffer m_buffer;
    std::optional<Parser> m_parser;
    std::string m_out;
    std::string m_peer;
    Admission m_admission;
    AddressSlot m_slot;
    AddressSlot m_requestSlot; // the forwarded client's place while a proxied request is served
    std::string m_requestPeer;
    bool m_closed = false;
    bool m_released = false;
    bool m_timedOut = false;
    bool m_requestStarted = false;
    bool m_keepAlive = true;
    bool m_headOnly = false;
    bool m_http10 = false;
    bool m_servedOne = false; // a kept-alive connection waits idleSeconds, a new one requestSeconds

    // Event stream state.
    std::atomic<bool> m_streamOpen{false};
    bool m_isStream = false;
    std::deque<std::shared_ptr<const std::string>> m_queue;
    std::atomic<std::size_t> m_queuedBytes{0};
    std::vector<asio::const_buffer> m_gather;
    std::size_t m_writingCount = 0;
    bool m_writing = false;
    Clock::time_point m_writeStarted;
    Clock::time_point m_lastWrite;
    std::array<char, 512> m_sink{};
    std::mutex m_closedMutex;
    std::function<void()> m_onClosed;
    bool m_onClosedRan = false;
};

} // namespace tallyvo::web::detail
