// One synchronous HTTP or HTTPS request over libcurl. Redirects are followed;
// HTTPS checks the peer against the system's certificates. A request that
// cannot connect, that stalls, or whose body outgrows the largest series
// ends with no response rather than waiting or growing for ever; HTTP status
// codes are not failures.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kiv::http_client {

// Takes a body as it arrives, in place of Response::body: begin with the
// announced length (-1 when none) before the first bytes, then each piece in
// order. False from either ends the transfer with no response.
class BodySink {
public:
    virtual ~BodySink() = default;
    virtual bool begin(long long length) = 0;
    virtual bool append(const char* bytes, std::size_t n) = 0;
};

struct Request {
    std::string url;
    std::string method;  // "GET", "HEAD", "POST", or any other name as given
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;  // left out for GET and HEAD
    BodySink* sink = nullptr;          // null: the body goes into Response::body
};

struct Response {
    long status = 0;
    // The header lines of the final response (after redirects), without its
    // status line, each ending in CR LF.
    std::string header_text;
    std::string body;  // empty when a sink took it
};

// How long a request may wait: seconds to resolve the host and connect, and
// seconds a transfer may stay below min_speed bytes a second (waiting for
// the response included). max_body caps the bytes of a body.
struct Limits {
    long connect_seconds = 30;
    long stall_seconds = 60;
    long min_speed = 16;
    std::size_t max_body = std::size_t{1} << 30;
};
// The limits of the requests to come (the tests shorten them).
void set_limits(const Limits& limits);
const Limits& limits();

// Performs the request; none when it could not be made or did not complete.
std::optional<Response> perform(const Request& request);

}  // namespace kiv::http_client
