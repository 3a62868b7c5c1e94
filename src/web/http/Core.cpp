#include "web/http/Core.h"

#include "web/http/Wire.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>

namespace tallyvo::web::detail {

bool Core::isTrustedProxy(const std::string& address) const
{
    if (limits.trustedProxies.empty())
        return false;
    boost::system::error_code ec;
    const auto a = boost::asio::ip::make_address(address, ec);
    if (ec)
        return false;
    return std::any_of(limits.trustedProxies.begin(), limits.trustedProxies.end(),
                       [&a](const std::string& proxy) {
                           boost::system::error_code bad;
                           const auto p = boost::asio::ip::make_address(proxy, bad);
                           return !bad && p == a;
                       });
}

bool Core::isExempt(const std::string& address) const
{
    return wire::isLoopback(address) || isTrustedProxy(address);
}

bool Core::acquireAddress(const std::string& address)
{
    std::lock_guard lock(m_addressMutex);
    int& count = m_perAddress[address];
    if (count >= limits.maxPerAddress) {
        if (count == 0)
            m_perAddress.erase(address);
        return false;
    }
    ++count;
    return true;
}

void Core::releaseAddress(const std::string& address)
{
    std::lock_guard lock(m_addressMutex);
    const auto it = m_perAddress.find(address);
    if (it != m_perAddress.end() && --it->second <= 0)
        m_perAddress.erase(it);
}

void Core::track(Closable* c, std::weak_ptr<Closable> w)
{
    std::lock_guard lock(m_liveMutex);
    m_live.emplace(c, std::move(w));
}

void Core::untrack(Closable* c)
{
    std::lock_guard lock(m_liveMutex);
    m_live.erase(c);
}

std::vector<std::shared_ptr<Closable>> Core::live() const
{
    std::vector<std::shared_ptr<Closable>> out;
    std::lock_guard lock(m_liveMutex);
    out.reserve(m_live.size());
    for (const auto& [raw, weak] : m_live) {
        if (auto strong = weak.lock())
            out.push_back(std::move(strong));
    }
    return out;
}

} // namespace tallyvo::web::detail
