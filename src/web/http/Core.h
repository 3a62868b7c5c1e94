#pragma once

// What the listener, every connection and every Reply or EventStream a handler still holds
// share. Connections keep it alive, so an answer given after stop() (or after the server object
// is gone) finds a closed gate instead of a destroyed io_context.

#include "web/http/HttpServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/defer.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>

namespace tallyvo::web::detail {

class Closable {
public:
    virtual ~Closable() = default;
    // Ends the connection at once, on its own strand (streams report onClosed).
    virtual void shutdownNow() = 0;
};

struct Core {
    Core(Limits l, Handler h)
        : limits(sane(std::move(l)))
        , handler(std::move(h))
    {
    }

    // A zero or negative bound would refuse everything or fire its timer at once.
    static Limits sane(Limits l)
    {
        l.requestSeconds = std::max(1, l.requestSeconds);
        l.idleSeconds = std::max(1, l.idleSeconds);
        l.keepAliveSeconds = std::max(1, l.keepAliveSeconds);
        l.maxConnections = std::max(1, l.maxConnections);
        l.maxPerAddress = std::max(1, l.maxPerAddress);
        l.headerBytes = std::max<std::size_t>(256, l.headerBytes);
        return l;
    }

    boost::asio::io_context ioc;
    const Limits limits;
    Handler handler;

    std::atomic<bool> stopping{false};

    std::atomic<std::uint64_t> connectionsOpen{0};
    std::atomic<std::uint64_t> streamsOpen{0};
    std::atomic<std::uint64_t> requests{0};
    std::atomic<std::uint64_t> refused{0};
    std::atomic<int> refusing{0}; // connections being answered by a bound right now

    std::string policy() const
    {
        std::lock_guard lock(m_policyMutex);
        return m_policy;
    }
    void setPolicy(std::string p)
    {
        std::lock_guard lock(m_policyMutex);
        m_policy = std::move(p);
    }

    // Posts work for a connection unless the server has finished stopping; false then. From a
    // server thread the work is deferred: it runs after the current handler, queued on this
    // thread without waking another.
    template <class Executor, class F> bool post(const Executor& ex, F&& f)
    {
        std::shared_lock lock(m_gateMutex);
        if (m_gateClosed)
            return false;
        boost::asio::defer(ex, std::forward<F>(f));
        return true;
    }
    void closeGate()
    {
        std::unique_lock lock(m_gateMutex);
        m_gateClosed = true;
    }

    // Loopback and the configured proxies have no per-address bound.
    bool isExempt(const std::string& address) const;
    bool isTrustedProxy(const std::string& address) const;
    // Takes one of the address's places; false when it has maxPerAddress already.
    bool acquireAddress(const std::string& address);
    void releaseAddress(const std::string& address);

    void track(Closable* c, std::weak_ptr<Closable> w);
    void untrack(Closable* c);
    std::vector<std::shared_ptr<Closable>> live() const;

private:
    mutable std::mutex m_policyMutex;
    std::string m_policy = "default-src 'none'";

    std::shared_mutex m_gateMutex;
    bool m_gateClosed = false;

    std::mutex m_addressMutex;
    std::unordered_map<std::string, int> m_perAddress;

    mutable std::mutex m_liveMutex;
    std::unordered_map<Closable*, std::weak_ptr<Closable>> m_live;
};

// One place of an address, given back when the holder ends.
class AddressSlot {
public:
    AddressSlot() = default;
    AddressSlot(Core* core, std::string address)
        : m_core(core)
        , m_address(std::move(address))
    {
    }
    AddressSlot(AddressSlot&& o) noexcept
        : m_core(std::exchange(o.m_core, nullptr))
        , m_address(std::move(o.m_address))
    {
    }
    AddressSlot& operator=(AddressSlot&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_core = std::exchange(o.m_core, nullptr);
            m_address = std::move(o.m_address);
        }
        return *this;
    }
    AddressSlot(const AddressSlot&) = delete;
    AddressSlot& operator=(const AddressSlot&) = delete;
    ~AddressSlot() { reset(); }
    void reset()
    {
        if (m_core)
            m_core->releaseAddress(m_address);
        m_core = nullptr;
    }

private:
    Core* m_core = nullptr;
    std::string m_address;
};

} // namespace tallyvo::web::detail
