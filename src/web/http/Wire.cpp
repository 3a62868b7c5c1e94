#include "web/http/Wire.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace tallyvo::web::wire {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string httpDate()
{
    static constexpr std::array<const char*, 7> days{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                  days.at(static_cast<std::size_t>(tm.tm_wday)), tm.tm_mday,
                  months.at(static_cast<std::size_t>(tm.tm_mon)), tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return text;
}

void appendHeader(std::string& out, std::string_view name, std::string_view value)
{
    out.append(name).append(": ").append(value).append("\r\n");
}

// The headers every answer carries; the policy is the response's own when it has one.
void appendSecurity(std::string& out, const std::vector<std::pair<std::string, std::string>>& headers,
                    bool secure, std::string_view defaultPolicy)
{
    const bool ownPolicy = std::any_of(headers.begin(), headers.end(), [](const auto& h) {
        return equalsNoCase(h.first, "Content-Security-Policy") && !isUnsafeHeader(h.first, h.second);
    });
    if (!ownPolicy && !defaultPolicy.empty())
        appendHeader(out, "Content-Security-Policy", defaultPolicy);
    appendHeader(out, "X-Content-Type-Options", "nosniff");
    appendHeader(out, "X-Frame-Options", "DENY");
    appendHeader(out, "Referrer-Policy", "no-referrer");
    if (secure)
        appendHeader(out, "Strict-Transport-Security", "max-age=31536000");
}

// The security headers are the server's: a handler's copy of one would only send it twice.
bool isServerOwned(std::string_view name)
{
    return equalsNoCase(name, "X-Content-Type-Options") || equalsNoCase(name, "X-Frame-Options") ||
           equalsNoCase(name, "Referrer-Policy") || equalsNoCase(name, "Strict-Transport-Security") ||
           equalsNoCase(name, "Date");
}

void appendHandlerHeaders(std::string& out, const std::vector<std::pair<std::string, std::string>>& headers)
{
    for (const auto& [name, value] : headers) {
        if (isUnsafeHeader(name, value) || isServerOwned(name))
            continue;
        appendHeader(out, name, value);
    }
}

} // namespace

std::string_view reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 422:
        return "Unprocessable Content";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Unknown";
    }
}

bool isUnsafeHeader(std::string_view name, std::string_view value)
{
    if (name.empty())
        return true;
    // A name is a token; anything else (space, colon, control characters) would corrupt the head.
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || c == ':' || c == '(' || c == ')' || c == ',' || c == ';' || c == '"' ||
            c == '/' || c == '[' || c == ']' || c == '?' || c == '=' || c == '{' || c == '}' || c == '<' ||
            c == '>' || c == '@' || c == '\\')
            return true;
    }
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return true;
    return equalsNoCase(name, "Content-Length") || equalsNoCase(name, "Transfer-Encoding") ||
           equalsNoCase(name, "Connection") || equalsNoCase(name, "Content-Type");
}

std::string serialize(const Response& response, const Framing& framing, std::string_view defaultPolicy)
{
    int status = response.status;
    if (status < 200 || status > 599)
        status = 500; // interim and invented codes would leave the client waiting for another answer
    const bool bodiless = status == 204 || status == 304;

    std::string out;
    out.reserve(320 + (framing.headOnly || bodiless ? 0 : response.body.size()));
    out.append("HTTP/1.1 ")
        .append(std::to_string(status))
        .append(" ")
        .append(reasonPhrase(status))
        .append("\r\n");
    appendHeader(out, "Date", httpDate());
    if (!bodiless && !response.contentType.empty() && !isUnsafeHeader("X", response.contentType))
        appendHeader(out, "Content-Type", response.contentType);
    appendHandlerHeaders(out, response.headers);
    appendSecurity(out, response.headers, framing.secure, defaultPolicy);
    if (status != 204)
        appendHeader(out, "Content-Length", bodiless ? "0" : std::to_string(response.body.size()));
    if (!framing.keepAlive)
        appendHeader(out, "Connection", "close");
    else if (framing.http10)
        appendHeader(out, "Connection", "keep-alive");
    out.append("\r\n");
    if (!framing.headOnly && !bodiless)
        out.append(response.body);
    return out;
}

std::string streamHead(const std::vector<std::pair<std::string, std::string>>& headers, bool secure,
                       std::string_view defaultPolicy)
{
    std::string out = "HTTP/1.1 200 OK\r\n";
    appendHeader(out, "Date", httpDate());
    appendHeader(out, "Content-Type", "text/event-stream");
    appendHeader(out, "Cache-Control", "no-store");
    appendHeader(out, "X-Accel-Buffering", "no");
    for (const auto& [name, value] : headers) {
        if (isUnsafeHeader(name, value) || isServerOwned(name) || equalsNoCase(name, "Cache-Control") ||
            equalsNoCase(name, "X-Accel-Buffering"))
            continue;
        appendHeader(out, name, value);
    }
    appendSecurity(out, headers, secure, defaultPolicy);
    // No length: the events run until the connection closes.
    appendHeader(out, "Connection", "close");
    out.append("\r\n");
    return out;
}

Response plainError(int status)
{
    Response r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.body = std::string(reasonPhrase(status)) + "\n";
    r.headers.emplace_back("Cache-Control", "no-store");
    if (status == 405)
        r.headers.emplace_back("Allow", "GET, HEAD, POST, OPTIONS");
    if (status == 429 || status == 503)
        r.headers.emplace_back("Retry-After", "5");
    return r;
}

std::string formatEvent(std::string_view data, std::string_view id)
{
    std::string out;
    out.reserve(data.size() + id.size() + 16);
    if (!id.empty() && id.find_first_of("\r\n") == std::string_view::npos)
        out.append("id: ").append(id).append("\n");
    // Any of CRLF, CR or LF ends a line for the client: each becomes its own data line.
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = data.find_first_of("\r\n", start);
        out.append("data: ")
            .append(data.substr(start, end == std::string_view::npos ? data.npos : end - start))
            .append("\n");
        if (end == std::string_view::npos)
            break;
        start = end + 1;
        if (data[end] == '\r' && start < data.size() && data[start] == '\n')
            ++start;
    }
    out.append("\n");
    return out;
}

bool isLoopback(std::string_view address)
{
    boost::system::error_code ec;
    auto a = boost::asio::ip::make_address(std::string(address), ec);
    if (ec)
        return false;
    if (a.is_v6() && a.to_v6().is_v4_mapped())
        a = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, a.to_v6());
    return a.is_loopback();
}

std::string lastForwardedAddress(std::string_view value)
{
    const std::size_t comma = value.rfind(',');
    std::string_view last = comma == std::string_view::npos ? value : value.substr(comma + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t'))
        last.remove_prefix(1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t'))
        last.remove_suffix(1);
    boost::system::error_code ec;
    const auto a = boost::asio::ip::make_address(std::string(last), ec);
    return ec ? std::string() : a.to_string();
}

std::pair<std::string, std::string> splitTarget(std::string_view target)
{
    const std::size_t q = target.find('?');
    if (q == std::string_view::npos)
        return {std::string(target), std::string()};
    return {std::string(target.substr(0, q)), std::string(target.substr(q + 1))};
}

} // namespace tallyvo::web::wire
