#pragma once

// The visitors' side of the web station bench, independent of what serves them: thousands of
// open event streams read by one thread, and keep-alive clients fetching pages as fast as they
// are answered. Plain sockets and epoll, so the client costs little next to the station.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tallyvo::bench {

std::int64_t nowNs(); // steady clock

// A free TCP port on 127.0.0.1 (free when asked; a station started at once will get it).
int freePort();

class StreamFleet {
public:
    // extraHeaders ("Cookie: ...\r\n") go with every stream's request.
    StreamFleet(std::string host, int port, std::string extraHeaders = {});
    ~StreamFleet();
    StreamFleet(const StreamFleet&) = delete;
    StreamFleet& operator=(const StreamFleet&) = delete;

    // Opens one stream per path, a batch at a time; returns how many answered 200 in time.
    int open(const std::vector<std::string>& paths, std::chrono::seconds timeout);
    // Streams the server has not closed.
    int held() const;

    // For each stream of `which`, when the first event at or after `sinceNs` that `matches`
    // arrived; -1 for a stream that had none when `timeout` ran out.
    std::vector<std::int64_t>
    waitForEvents(const std::vector<int>& which, std::int64_t sinceNs,
                  const std::function<bool(int stream, const std::string& data)>& matches,
                  std::chrono::milliseconds timeout);

private:
    struct Event {
        std::int64_t atNs;
        std::string data;
    };
    struct Stream {
        int fd = -1;
        bool headDone = false;
        int status = 0;
        bool closed = false;
        std::string pending;
        std::vector<Event> events;
    };
    void readLoop();
    void onReadable(int index);

    std::string m_host;
    int m_port;
    std::string m_extraHeaders;
    int m_epoll = -1;
    int m_wake[2] = {-1, -1};
    std::vector<Stream> m_streams; // sized once in open(), before the reader starts
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_reader;
    bool m_stop = false;
};

struct PageLoad {
    std::uint64_t answers = 0;  // 200 answers
    std::uint64_t failures = 0; // other statuses and broken connections
    double seconds = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double perSecond() const { return seconds > 0 ? static_cast<double>(answers) / seconds : 0; }
};

// `clients` keep-alive connections, each GETting the paths in turn for `seconds`.
PageLoad loadPages(const std::string& host, int port, const std::vector<std::string>& paths, int clients,
                   double seconds);

// The status of one GET (0 when nothing answered within `timeout`).
int httpStatus(const std::string& host, int port, const std::string& path, std::chrono::milliseconds timeout);

// 2,000 streams need more descriptors than a shell's default 1,024.
void raiseDescriptorLimit();

double percentile(std::vector<double> values, double p);

} // namespace tallyvo::bench
