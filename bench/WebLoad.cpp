#include "WebLoad.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tallyvo::bench {

namespace {

int connectTo(const std::string& host, int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

bool sendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            usleep(100);
        } else {
            return false;
        }
    }
    return true;
}

// The data of one event block ("data: " lines joined by "\n"); comments give nothing.
bool eventData(const std::string& block, std::string* data)
{
    bool any = false;
    data->clear();
    std::size_t start = 0;
    while (start <= block.size()) {
        std::size_t end = block.find('\n', start);
        if (end == std::string::npos)
            end = block.size();
        const std::string line = block.substr(start, end - start);
        if (line.rfind("data:", 0) == 0) {
            if (any)
                data->push_back('\n');
            data->append(line.substr(line.size() > 5 && line[5] == ' ' ? 6 : 5));
            any = true;
        }
        start = end + 1;
    }
    return any;
}

} // namespace

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    socklen_t length = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        ::close(fd);
        return 0;
    }
    ::close(fd);
    return ntohs(a.sin_port);
}

int httpStatus(const std::string& host, int port, const std::string& path, std::chrono::milliseconds timeout)
{
    const int fd = connectTo(host, port);
    if (fd < 0)
        return 0;
    int status = 0;
    if (sendAll(fd, "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n")) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::string got;
        char buffer[4096];
        while (got.size() < 12 && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0)
                got.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                break;
            else
                usleep(2000);
        }
        if (got.size() >= 12)
            status = std::atoi(got.c_str() + 9);
    }
    ::close(fd);
    return status;
}

void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

StreamFleet::StreamFleet(std::string host, int port, std::string extraHeaders)
    : m_host(std::move(host))
    , m_port(port)
    , m_extraHeaders(std::move(extraHeaders))
{
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u32 = UINT32_MAX;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake[0], &e);
    }
}

StreamFleet::~StreamFleet()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    if (m_wake[1] >= 0 && ::write(m_wake[1], "x", 1) < 0) {
        // the reader sees m_stop at its next wake-up anyway
    }
    if (m_reader.joinable())
        m_reader.join();
    for (auto& s : m_streams) {
        if (s.fd >= 0)
            ::close(s.fd);
    }
    for (int fd : {m_epoll, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

int StreamFleet::open(const std::vector<std::string>& paths, std::chrono::seconds timeout)
{
    m_streams.assign(paths.size(), Stream{});
    m_reader = std::thread([this] { readLoop(); });
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // In batches: a burst of thousands of connects overflows the listener's backlog and costs
    // a retransmission second each.
    constexpr std::size_t batch = 100;
    for (std::size_t from = 0; from < paths.size(); from += batch) {
        const std::size_t to = std::min(paths.size(), from + batch);
        for (std::size_t i = from; i < to; ++i) {
            const int fd = connectTo(m_host, m_port);
            if (fd < 0)
                continue;
            {
                std::lock_guard lock(m_mutex);
                m_streams[i].fd = fd;
            }
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.u32 = static_cast<std::uint32_t>(i);
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &e);
            sendAll(fd, "GET " + paths[i] + " HTTP/1.1\r\nHost: " + m_host +
                            "\r\nAccept: text/event-stream\r\n" + m_extraHeaders + "\r\n");
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait_until(lock, deadline, [&] {
            return std::all_of(m_streams.begin() + static_cast<std::ptrdiff_t>(from),
                               m_streams.begin() + static_cast<std::ptrdiff_t>(to),
                               [](const Stream& s) { return s.fd < 0 || s.headDone || s.closed; });
        });
    }
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_streams.begin(), m_streams.end(), [](const Stream& s) {
        return s.headDone && s.status == 200 && !s.closed;
    }));
}

int StreamFleet::held() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_streams.begin(), m_streams.end(), [](const Stream& s) {
        return s.headDone && s.status == 200 && !s.closed;
    }));
}

void StreamFleet::readLoop()
{
    std::vector<epoll_event> ready(1024);
    for (;;) {
        const int n = epoll_wait(m_epoll, ready.data(), static_cast<int>(ready.size()), 200);
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
        }
        for (int i = 0; i < n; ++i) {
            if (ready[static_cast<std::size_t>(i)].data.u32 != UINT32_MAX)
                onReadable(static_cast<int>(ready[static_cast<std::size_t>(i)].data.u32));
        }
    }
}

void StreamFleet::onReadable(int index)
{
    char buffer[16384];
    const std::int64_t at = nowNs();
    std::lock_guard lock(m_mutex);
    Stream& s = m_streams[static_cast<std::size_t>(index)];
    bool changed = false;
    for (;;) {
        const ssize_t got = ::recv(s.fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            s.pending.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            s.closed = true;
            changed = true;
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, s.fd, nullptr);
        }
        break;
    }
    if (!s.headDone) {
        const std::size_t end = s.pending.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (changed)
                m_changed.notify_all();
            return;
        }
        s.status = s.pending.size() > 12 ? std::atoi(s.pending.c_str() + 9) : 0;
        s.headDone = true;
        s.pending.erase(0, end + 4);
        changed = true;
    }
    std::size_t end;
    while ((end = s.pending.find("\n\n")) != std::string::npos) {
        std::string data;
        if (eventData(s.pending.substr(0, end), &data))
            s.events.push_back({at, std::move(data)});
        s.pending.erase(0, end + 2);
        changed = true;
    }
    if (changed)
        m_changed.notify_all();
}

std::vector<std::int64_t>
StreamFleet::waitForEvents(const std::vector<int>& which, std::int64_t sinceNs,
                           const std::function<bool(int, const std::string&)>& matches,
                           std::chrono::milliseconds timeout)
{
    std::vector<std::int64_t> at(which.size(), -1);
    std::vector<std::size_t> checked(which.size(), 0); // events of each stream looked at already
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t missing = which.size();
    std::unique_lock lock(m_mutex);
    for (;;) {
        for (std::size_t i = 0; i < which.size(); ++i) {
            if (at[i] >= 0)
                continue;
            const Stream& s = m_streams[static_cast<std::size_t>(which[i])];
            for (; checked[i] < s.events.size(); ++checked[i]) {
                const Event& e = s.events[checked[i]];
                if (e.atNs >= sinceNs && matches(which[i], e.data)) {
                    at[i] = e.atNs;
                    --missing;
                    break;
                }
            }
        }
        if (missing == 0 || std::chrono::steady_clock::now() >= deadline)
            break;
        // The reader stamps each event as it reads it: waking late here costs no accuracy.
        m_changed.wait_for(lock, std::chrono::milliseconds(5));
    }
    return at;
}

PageLoad loadPages(const std::string& host, int port, const std::vector<std::string>& paths, int clients,
                   double seconds)
{
    struct Client {
        int fd = -1;
        std::size_t next = 0;
        std::int64_t sentAt = 0;
        std::string pending;
    };
    PageLoad result;
    if (paths.empty())
        return result;
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    std::vector<Client> all(static_cast<std::size_t>(clients));
    std::vector<double> latencies;
    auto request = [&](std::size_t i) {
        Client& c = all[i];
        const std::string& path = paths[(i * 7919 + c.next++) % paths.size()];
        c.sentAt = nowNs();
        return sendAll(c.fd, "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    };
    auto reconnect = [&](std::size_t i) {
        Client& c = all[i];
        if (c.fd >= 0) {
            epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
            ::close(c.fd);
        }
        c.pending.clear();
        c.fd = connectTo(host, port);
        if (c.fd < 0)
            return false;
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u32 = static_cast<std::uint32_t>(i);
        epoll_ctl(epoll, EPOLL_CTL_ADD, c.fd, &e);
        return request(i);
    };
    for (std::size_t i = 0; i < all.size(); ++i)
        reconnect(i);
    const std::int64_t begin = nowNs();
    const std::int64_t end = begin + static_cast<std::int64_t>(seconds * 1e9);
    std::vector<epoll_event> ready(256);
    char buffer[65536];
    while (nowNs() < end) {
        const int n = epoll_wait(epoll, ready.data(), static_cast<int>(ready.size()), 100);
        for (int k = 0; k < n; ++k) {
            const std::size_t i = ready[static_cast<std::size_t>(k)].data.u32;
            Client& c = all[i];
            bool broken = false;
            for (;;) {
                const ssize_t got = ::recv(c.fd, buffer, sizeof buffer, 0);
                if (got > 0) {
                    c.pending.append(buffer, static_cast<std::size_t>(got));
                    continue;
                }
                broken = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                break;
            }
            // Whole answers: head, then Content-Length bytes.
            for (;;) {
                const std::size_t headEnd = c.pending.find("\r\n\r\n");
                if (headEnd == std::string::npos)
                    break;
                std::string head = c.pending.substr(0, headEnd);
                std::transform(head.begin(), head.end(), head.begin(),
                               [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
                const std::size_t at = head.find("\r\ncontent-length:");
                const std::size_t length =
                    at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 17, nullptr, 10);
                if (c.pending.size() < headEnd + 4 + length)
                    break;
                const int status = std::atoi(c.pending.c_str() + 9);
                c.pending.erase(0, headEnd + 4 + length);
                latencies.push_back(static_cast<double>(nowNs() - c.sentAt) / 1e6);
                if (status == 200)
                    ++result.answers;
                else
                    ++result.failures;
                if (head.find("\r\nconnection: close") != std::string::npos) {
                    broken = true;
                    break;
                }
                if (!request(i))
                    broken = true;
            }
            if (broken) {
                ++result.failures;
                reconnect(i);
            }
        }
    }
    result.seconds = static_cast<double>(nowNs() - begin) / 1e9;
    result.p50Ms = percentile(latencies, 50);
    result.p99Ms = percentile(latencies, 99);
    for (auto& c : all) {
        if (c.fd >= 0)
            ::close(c.fd);
    }
    ::close(epoll);
    return result;
}

} // namespace tallyvo::bench
