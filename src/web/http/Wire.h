#pragma once

// What the server writes and reads on the wire besides the parser's work: answers, event
// framing, and the client address rules. Plain functions, so each rule is tested on its own.

#include "web/http/HttpServer.h"

#include <string>
#include <string_view>

namespace tallyvo::web::wire {

// "Not Found" for 404; "Unknown" for a code without a phrase.
std::string_view reasonPhrase(int status);

// A header a handler may not set: it would break the framing the server owns or put a second
// line on the wire.
bool isUnsafeHeader(std::string_view name, std::string_view value);

struct Framing {
    bool keepAlive = true;
    bool headOnly = false; // HEAD: headers as for GET, no body
    bool secure = false;   // TLS: Strict-Transport-Security
    bool http10 = false;   // an HTTP/1.0 client is told "keep-alive" explicitly
};

// The whole answer as bytes: status line, Date, the handler's headers, the security headers
// (the response's own Content-Security-Policy wins over `defaultPolicy`), framing, body.
std::string serialize(const Response& response, const Framing& framing, std::string_view defaultPolicy);

// The head of an event stream; the connection stays open after it.
std::string streamHead(const std::vector<std::pair<std::string, std::string>>& headers, bool secure,
                       std::string_view defaultPolicy);

// A short plain answer the server makes itself (400, 405, 408, 413, 429, 431, 500, 503).
Response plainError(int status);

// One server-sent event: "id: ..." then one "data: " line per line of data, then a blank line.
// A CR or LF inside the id would end it early, so an id carrying one is left out.
std::string formatEvent(std::string_view data, std::string_view id);

// 127.0.0.0/8, ::1 and their IPv4-mapped forms.
bool isLoopback(std::string_view address);

// The last address named in an X-Forwarded-For value, trimmed; "" when it names none that parses.
std::string lastForwardedAddress(std::string_view value);

// Splits a target into path and query at the first '?'.
std::pair<std::string, std::string> splitTarget(std::string_view target);

} // namespace tallyvo::web::wire
