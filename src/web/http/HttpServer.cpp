// The server is built on Boost.Beast over Asio. Measured against libmicrohttpd and Qt HttpServer
// on the figures the station needs (event fan-out to thousands of streams, requests per second
// at tens of clients), Beast and libmicrohttpd both had room to spare and Qt HttpServer (a
// technology preview here) fell short. Beast won on what matters besides speed: a parser with
// separate header and body limits, timeouts and answers under our control (408, 413, 431 rather
// than a dropped socket), OpenSSL for TLS, any number of streams without a thread or a memory
// pool each, and a mature, widely deployed code base.

#include "web/http/HttpServer.h"

#include "web/http/Connection.h"
#include "web/http/Core.h"
#include "web/http/Wire.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/v6_only.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <thread>

namespace tallyvo::web {

using namespace detail;

std::string Request::header(std::string_view lowerName) const
{
    for (const auto& [name, value] : headers) {
        if (name == lowerName)
            return value;
    }
    return {};
}

EventStream::Shared EventStream::frame(std::string_view data, std::string_view id)
{
    return std::make_shared<const std::string>(wire::formatEvent(data, id));
}

namespace {

// 2,000 open streams need more descriptors than a shell's default 1,024.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string unmapped(const asio::ip::address& a)
{
    if (a.is_v6() && a.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6()).to_string();
    return a.to_string();
}

bool readable(const std::string& path, std::string* why)
{
    std::ifstream in(path);
    if (in)
        return true;
    *why = std::strerror(errno);
    return false;
}

std::shared_ptr<asio::ssl::context> makeTls(const HttpServer::Tls& tls, std::string* error)
{
    std::string why;
    if (tls.certFile.empty() || !readable(tls.certFile, &why)) {
        *error = "The certificate file \"" + tls.certFile + "\" cannot be read" +
                 (why.empty() ? "" : ": " + why) + ".";
        return nullptr;
    }
    if (tls.keyFile.empty() || !readable(tls.keyFile, &why)) {
        *error =
            "The key file \"" + tls.keyFile + "\" cannot be read" + (why.empty() ? "" : ": " + why) + ".";
        return nullptr;
    }
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    context->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                         asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                         asio::ssl::context::no_tlsv1_1 | asio::ssl::context::single_dh_use);
    SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION);
    // A client asking to renegotiate again and again would cost a handshake each time.
    SSL_CTX_set_options(context->native_handle(), SSL_OP_NO_RENEGOTIATION);
    boost::system::error_code ec;
    context->use_certificate_chain_file(tls.certFile, ec);
    if (ec) {
        *error = "The certificate file \"" + tls.certFile + "\" holds no PEM certificate.";
        return nullptr;
    }
    context->use_private_key_file(tls.keyFile, asio::ssl::context::pem, ec);
    if (ec && ec.category() == asio::error::get_ssl_category() &&
        ERR_GET_REASON(static_cast<unsigned long>(ec.value())) == X509_R_KEY_VALUES_MISMATCH) {
        *error = "The key in \"" + tls.keyFile + "\" does not belong to the certificate in \"" +
                 tls.certFile + "\".";
        return nullptr;
    }
    if (ec) {
        *error = "The key file \"" + tls.keyFile + "\" holds no unencrypted PEM private key.";
        return nullptr;
    }
    if (SSL_CTX_check_private_key(context->native_handle()) != 1) {
        *error = "The key in \"" + tls.keyFile + "\" does not belong to the certificate in \"" +
                 tls.certFile + "\".";
        return nullptr;
    }
    return context;
}

} // namespace

struct HttpServer::Impl {
    struct Listener {
        Listener(asio::io_context& ioc, std::shared_ptr<asio::ssl::context> t)
            : strand(asio::make_strand(ioc))
            , acceptor(strand)
            , retry(strand)
            , tls(std::move(t))
        {
        }
        Strand strand;
        tcp::acceptor acceptor;
        asio::steady_timer retry; // after a failed accept (no descriptors left), try again shortly
        std::shared_ptr<asio::ssl::context> tls;
    };

    explicit Impl(Limits l, Handler h)
        : core(std::make_shared<Core>(std::move(l), std::move(h)))
    {
    }

    void accept(Listener& listener);
    void admit(Listener& listener, tcp::socket socket, const Strand& strand);

    std::shared_ptr<Core> core; // first: the listeners below die before its io_context
    std::vector<std::unique_ptr<Listener>> listeners;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::vector<std::thread> threads;
    std::vector<Strand> deliveries; // deliver()'s, made with the server and never changed
    std::mutex runningMutex;
    std::condition_variable runningChanged;
    int running = 0;
    bool started = false;
};

void HttpServer::Impl::accept(Listener& listener)
{
    auto strand = asio::make_strand(core->ioc);
    listener.acceptor.async_accept(
        strand, [this, &listener, strand](const boost::system::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !listener.acceptor.is_open() || core->stopping)
                return;
            if (ec) {
                listener.retry.expires_after(std::chrono::milliseconds(50));
                listener.retry.async_wait([this, &listener](const boost::system::error_code& waited) {
                    if (!waited && !core->stopping)
                        accept(listener);
                });
                return;
            }
            admit(listener, std::move(socket), strand);
            accept(listener);
        });
}

void HttpServer::Impl::admit(Listener& listener, tcp::socket socket, const Strand& strand)
{
    boost::system::error_code ec;
    const auto endpoint = socket.remote_endpoint(ec);
    if (ec)
        return; // gone already
    ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
    std::string peer = unmapped(endpoint.address());
    // Events are small and must not wait for an acknowledgement of the one before.
    socket.set_option(tcp::no_delay(true), ec);

    Admission admission = Admission::Serve;
    AddressSlot slot;
    const Limits& limits = core->limits;
    // Answering a bound costs a little; a flood of refusals is cut without one.
    if (core->refusing.load() >= std::max(64, limits.maxConnections / 4)) {
        ++core->refused;
        socket.close(ec);
        return;
    }
    if (core->connectionsOpen.load() >= static_cast<std::uint64_t>(std::max(0, limits.maxConnections))) {
        admission = Admission::Refuse503;
    } else if (!core->isExempt(peer)) {
        if (core->acquireAddress(peer))
            slot = AddressSlot(core.get(), peer);
        else
            admission = Admission::Refuse429;
    }

    if (listener.tls) {
        std::make_shared<Connection<TlsSocket>>(core, TlsSocket(std::move(socket), *listener.tls), strand,
                                                std::move(peer), admission, std::move(slot))
            ->start();
    } else {
        std::make_shared<Connection<tcp::socket>>(core, std::move(socket), strand, std::move(peer), admission,
                                                  std::move(slot))
            ->start();
    }
}

HttpServer::HttpServer(Limits limits, Handler handler)
    : m_impl(std::make_unique<Impl>(std::move(limits), std::move(handler)))
{
    // As many as a busy station's threads can use: a batch's parts are written side by side.
    for (int i = 0; i < 4; ++i)
        m_impl->deliveries.push_back(asio::make_strand(m_impl->core->ioc));
}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::setContentSecurityPolicy(std::string policy)
{
    m_impl->core->setPolicy(std::move(policy));
}

bool HttpServer::listen(const std::string& address, std::uint16_t port, const std::optional<Tls>& tls,
                        std::string* error)
{
    std::string ignored;
    std::string& why = error ? *error : ignored;
    if (m_impl->core->stopping) {
        why = "The server has been stopped.";
        return false;
    }
    boost::system::error_code ec;
    const auto ip = asio::ip::make_address(address, ec);
    if (ec) {
        why = "\"" + address + "\" is not an IP address to listen on.";
        return false;
    }
    std::shared_ptr<asio::ssl::context> context;
    if (tls) {
        context = makeTls(*tls, &why);
        if (!context)
            return false;
    }
    auto listener = std::make_unique<Impl::Listener>(m_impl->core->ioc, std::move(context));
    const tcp::endpoint endpoint(ip, port);
    auto& acceptor = listener->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    // A program the station's process starts must not inherit the listening socket: it would
    // keep the address taken after the station closed it.
    if (!ec)
        ::fcntl(acceptor.native_handle(), F_SETFD, FD_CLOEXEC);
    if (!ec)
        acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec && ip.is_v6() && ip.is_unspecified())
        acceptor.set_option(asio::ip::v6_only(false), ec); // "::" serves IPv4 clients too
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        why = "Cannot listen on " + address + " port " + std::to_string(port) + ": " + ec.message() + ".";
        return false;
    }
    m_impl->listeners.push_back(std::move(listener));
    if (m_impl->started) {
        auto* l = m_impl->listeners.back().get();
        asio::post(l->strand, [impl = m_impl.get(), l] { impl->accept(*l); });
    }
    return true;
}

std::uint16_t HttpServer::port() const
{
    if (m_impl->listeners.empty())
        return 0;
    boost::system::error_code ec;
    const auto endpoint = m_impl->listeners.front()->acceptor.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void HttpServer::start(int threads)
{
    if (m_impl->started || m_impl->core->stopping)
        return;
    m_impl->started = true;
    raiseDescriptorLimit();
    m_impl->work.emplace(m_impl->core->ioc.get_executor());
    for (auto& l : m_impl->listeners) {
        auto* listener = l.get();
        asio::post(listener->strand, [impl = m_impl.get(), listener] { impl->accept(*listener); });
    }
    const int count = std::max(1, threads);
    m_impl->running = count;
    for (int i = 0; i < count; ++i) {
        m_impl->threads.emplace_back([impl = m_impl.get()] {
            for (;;) {
                try {
                    impl->core->ioc.run();
                    break;
                } catch (...) {
                    // A handler that throws past its own guard must not end the server thread.
                }
            }
            std::lock_guard lock(impl->runningMutex);
            --impl->running;
            impl->runningChanged.notify_all();
        });
    }
}

void HttpServer::deliver(std::vector<Delivery> batch)
{
    if (batch.empty())
        return;
    Impl& d = *m_impl;
    // A stream always falls in the same part, and a part always goes through the same strand, so
    // each stream's events keep their order within a batch and from one batch to the next.
    const std::size_t parts = d.deliveries.size();
    std::vector<std::vector<Delivery>> split(parts);
    for (auto& delivery : batch)
        split[std::hash<const EventStream*>{}(delivery.first.get()) % parts].push_back(std::move(delivery));
    for (std::size_t k = 0; k < parts; ++k) {
        if (split[k].empty())
            continue;
        // Sent from a server thread, each stream's write joins that thread's own queue: no
        // wake-up of another thread per stream.
        d.core->post(d.deliveries[k], [part = std::move(split[k])] {
            for (const auto& [stream, framed] : part)
                stream->send(framed);
        });
    }
}

void HttpServer::stop()
{
    Impl& d = *m_impl;
    if (d.core->stopping.exchange(true))
        return;
    for (auto& l : d.listeners) {
        auto* listener = l.get();
        asio::post(listener->strand, [listener] {
            boost::system::error_code ignored;
            listener->acceptor.close(ignored);
            listener->retry.cancel();
        });
    }
    for (const auto& connection : d.core->live())
        connection->shutdownNow();
    d.work.reset();
    {
        // Every connection closes on its own strand; a handler stuck in the station is not waited
        // for beyond this.
        std::unique_lock lock(d.runningMutex);
        if (!d.runningChanged.wait_for(lock, std::chrono::seconds(5), [&d] { return d.running == 0; }))
            d.core->ioc.stop();
    }
    for (auto& t : d.threads)
        t.join();
    d.threads.clear();
    // From here no answer a handler still holds reaches the io_context; what was queued before
    // runs now, on this thread, and only closes.
    d.core->closeGate();
    d.core->ioc.restart();
    for (const auto& connection : d.core->live())
        connection->shutdownNow();
    for (int round = 0; round < 100 && d.core->ioc.poll() > 0; ++round) {
    }
    for (auto& l : d.listeners) {
        boost::system::error_code ignored;
        l->acceptor.close(ignored);
    }
    d.core->handler = nullptr;
}

ServerStats HttpServer::stats() const
{
    ServerStats s;
    s.connectionsOpen = m_impl->core->connectionsOpen.load();
    s.streamsOpen = m_impl->core->streamsOpen.load();
    s.requests = m_impl->core->requests.load();
    s.refused = m_impl->core->refused.load();
    return s;
}

} // namespace tallyvo::web
