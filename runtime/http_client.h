// One synchronous HTTP or HTTPS request over libcurl. Redirects are followed;
// HTTPS checks the peer against the system's certificates. A request that
// cannot connect, or that stalls, ends with no response rather than waiting
// for ever; HTTP status codes are not failures.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kiv::http_client {

struct Request {
    std::string url;
    std::string method;  // "GET", "HEAD", "POST", or any other name as given
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;  // left out for GET and HEAD
};

struct Response {
    long status = 0;
    // The header lines of the final response (after redirects), without its
    // status line, each ending in CR LF.
    std::string header_text;
    std::string body;
};

// Performs the request; none when it could not be made or did not complete.
std::optional<Response> perform(const Request& request);

}  // namespace kiv::http_client
