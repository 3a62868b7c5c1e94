#pragma once

// A blocking HTTP client that sends exactly the bytes a test gives it (plain or TLS), so tests
// can send what no well-behaved client library would: trickled headers, lies about lengths,
// streams it never reads.

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <chrono>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tallyvo::test {

struct RawAnswer {
    int status = 0;                             // 0: no answer (closed or timed out)
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    bool hasHeader(const std::string& lower) const { return headers.count(lower) > 0; }
    std::string header(const std::string& lower) const
    {
        const auto it = headers.find(lower);
        return it == headers.end() ? std::string() : it->second;
    }
};

class RawClient {
public:
    RawClient() = default;
    ~RawClient() { close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // `from` binds the client's end first (to come from a non-loopback address of this machine).
    bool connect(const std::string& host, int port, const std::string& from = {}, int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0)
            return false;
        if (receiveBuffer > 0)
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (!from.empty()) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            inet_pton(AF_INET, from.c_str(), &local.sin_addr);
            if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
                return false;
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &a.sin_addr);
        return ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }

    // TLS over the connected socket; maxVersion 0 lets the library choose.
    bool handshake(int maxVersion = 0)
    {
        m_ctx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(m_ctx, TLS1_VERSION);
        SSL_CTX_set_security_level(m_ctx, 0);
        if (maxVersion)
            SSL_CTX_set_max_proto_version(m_ctx, maxVersion);
        m_ssl = SSL_new(m_ctx);
        SSL_set_fd(m_ssl, m_fd);
        return SSL_connect(m_ssl) == 1;
    }

    bool send(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                m_ssl ? SSL_write(m_ssl, bytes.data() + done, static_cast<int>(bytes.size() - done))
                      : ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Whatever arrives within `ms`; "" when the peer closed (see closed()) or nothing came.
    std::string readSome(int ms)
    {
        if (!(m_ssl && SSL_pending(m_ssl) > 0)) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, ms) <= 0)
                return {};
        }
        char buf[16384];
        const ssize_t n = m_ssl ? SSL_read(m_ssl, buf, sizeof buf) : ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0) {
            m_closed = true;
            return {};
        }
        return std::string(buf, static_cast<std::size_t>(n));
    }

    // Reads until `needle` arrived (kept in the pending text), the peer closed or `ms` passed.
    bool readUntil(const std::string& needle, int ms)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (m_pending.find(needle) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || m_closed)
                return false;
            m_pending += readSome(static_cast<int>(left.count()));
        }
        return true;
    }
    std::string& pending() { return m_pending; }

    // One answer; `head` for an answer to HEAD (no body whatever Content-Length says).
    RawAnswer answer(bool head = false, int ms = 5000)
    {
        RawAnswer a;
        if (!readUntil("\r\n\r\n", ms))
            return a;
        const std::size_t headEnd = m_pending.find("\r\n\r\n");
        const std::string text = m_pending.substr(0, headEnd);
        m_pending.erase(0, headEnd + 4);
        std::size_t lineEnd = text.find("\r\n");
        const std::string statusLine = text.substr(0, lineEnd);
        if (statusLine.size() < 12)
            return a;
        a.status = std::stoi(statusLine.substr(9, 3));
        while (lineEnd != std::string::npos) {
            const std::size_t start = lineEnd + 2;
            lineEnd = text.find("\r\n", start);
            const std::string line =
                text.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            std::string name = line.substr(0, colon);
            for (auto& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            a.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
        }
        if (head || a.status == 204 || a.status == 304 || a.header("content-type") == "text/event-stream")
            return a;
        const std::size_t length = a.hasHeader("content-length") ? std::stoul(a.header("content-length")) : 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (m_pending.size() < length && !m_closed && std::chrono::steady_clock::now() < end)
            m_pending += readSome(100);
        a.body = m_pending.substr(0, length);
        m_pending.erase(0, std::min(length, m_pending.size()));
        return a;
    }

    // True when the server closed: nothing more comes within `ms`.
    bool closedByPeer(int ms = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_closed && std::chrono::steady_clock::now() < end)
            m_pending += readSome(50);
        return m_closed;
    }

    void close()
    {
        if (m_ssl)
            SSL_free(m_ssl);
        if (m_ctx)
            SSL_CTX_free(m_ctx);
        m_ssl = nullptr;
        m_ctx = nullptr;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    bool m_closed = false;
    std::string m_pending;
};

} // namespace tallyvo::test
