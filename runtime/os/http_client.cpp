#include "runtime/os/http_client.h"

#include <curl/curl.h>

#include <cstring>
#include <dlfcn.h>
#include <strings.h>
#include <memory>
#include <mutex>

namespace kiv::http_client {

namespace {

constexpr long max_redirects = 20;

Limits current;

// libcurl is opened at the first request rather than linked: linking it would
// load some thirty shared libraries at every start of the program, which took
// a third of an empty script's start-up. The members are named apart from
// the functions, since curl.h makes some of those macros.
#define KIV_CURL_FUNCTIONS(X)                                                                   \
    X(global_init, curl_global_init) X(easy_init, curl_easy_init)                                \
    X(easy_setopt, curl_easy_setopt) X(easy_perform, curl_easy_perform)                          \
    X(easy_getinfo, curl_easy_getinfo) X(easy_cleanup, curl_easy_cleanup)                       \
    X(slist_append, curl_slist_append) X(slist_free_all, curl_slist_free_all)

struct Curl {
#define KIV_CURL_POINTER(member, name) decltype(&::name) member = nullptr;
    KIV_CURL_FUNCTIONS(KIV_CURL_POINTER)
#undef KIV_CURL_POINTER
};

Curl curl;

// True once libcurl is loaded and set up; false for good when it cannot be.
bool open_curl() {
    static bool ready = false;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return;
        Curl loaded;
        bool complete = true;
#define KIV_CURL_LOAD(member, name)                                                 \
        loaded.member = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
        complete = complete && loaded.member != nullptr;
        KIV_CURL_FUNCTIONS(KIV_CURL_LOAD)
#undef KIV_CURL_LOAD
        if (!complete || loaded.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return;
        curl = loaded;
        ready = true;
    });
    return ready;
}

struct Transfer {
    CURL* easy;
    BodySink* sink;
    Response response;
    bool begun = false;
    std::size_t received = 0;
};

// A body past the cap ends the transfer (a short count is a write error).
// Room for a body of announced length is taken once, at its first bytes.
std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (n > current.max_body - transfer->received) return 0;
    transfer->received += n;
    if (!transfer->begun) {
        transfer->begun = true;
        curl_off_t length = -1;
        if (curl.easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
            length < 0 || static_cast<std::size_t>(length) > current.max_body) {
            length = -1;
        }
        if (transfer->sink != nullptr) {
            if (!transfer->sink->begin(length)) return 0;
        } else if (length > 0) {
            transfer->response.body.reserve(static_cast<std::size_t>(length));
        }
    }
    if (transfer->sink != nullptr) return transfer->sink->append(data, n) ? n : 0;
    transfer->response.body.append(data, n);
    return n;
}

// Every response on the way (interim 1xx, each redirect) sends its header
// block; a status line starts a new one, so only the last block is kept.
std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
    const std::size_t n = size * count;
    Response* response = &static_cast<Transfer*>(user)->response;
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        response->header_text.clear();
    } else if (!(n == 2 && data[0] == '\r' && data[1] == '\n')) {
        response->header_text.append(data, n);
    }
    return n;
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl.easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl.slist_free_all(list); }
};

}  // namespace

void set_limits(const Limits& limits) { current = limits; }
const Limits& limits() { return current; }

std::optional<Response> perform(const Request& request) {
    if (!open_curl()) return std::nullopt;
    std::unique_ptr<CURL, EasyDeleter> easy(curl.easy_init());
    if (!easy) return std::nullopt;
    CURL* e = easy.get();
    Transfer transfer{e, request.sink, {}};
    Response& response = transfer.response;

    curl.easy_setopt(e, CURLOPT_URL, request.url.c_str());
    curl.easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl.easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl.easy_setopt(e, CURLOPT_MAXREDIRS, max_redirects);
    curl.easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl.easy_setopt(e, CURLOPT_CONNECTTIMEOUT, current.connect_seconds);
    curl.easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, current.min_speed);
    curl.easy_setopt(e, CURLOPT_LOW_SPEED_TIME, current.stall_seconds);
    curl.easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(current.max_body));
    curl.easy_setopt(e, CURLOPT_WRITEFUNCTION, on_body);
    curl.easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
    curl.easy_setopt(e, CURLOPT_HEADERFUNCTION, on_header);
    curl.easy_setopt(e, CURLOPT_HEADERDATA, &transfer);

    if (request.method == "HEAD") {
        curl.easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (request.method == "GET") {
        curl.easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else {
        static const char empty[] = "";
        const char* body = request.body ? request.body->data() : empty;
        const std::size_t size = request.body ? request.body->size() : 0;
        if (request.body || request.method == "POST") {
            curl.easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
            curl.easy_setopt(e, CURLOPT_POSTFIELDS, body);
        }
        if (request.method != "POST") curl.easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const auto& [name, value] : request.headers) {
        // an empty value needs the "Name;" form, else curl drops the header
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        curl_slist* list = curl.slist_append(headers.get(), line.c_str());
        if (list == nullptr) return std::nullopt;
        if (!headers) headers.reset(list);
    }
    // curl would add a form Content-Type to any body; only the caller's headers go
    bool content_type = false;
    for (const auto& header : request.headers) content_type = content_type || strcasecmp(header.first.c_str(), "Content-Type") == 0;
    if (!content_type) {
        curl_slist* list = curl.slist_append(headers.get(), "Content-Type:");
        if (list == nullptr) return std::nullopt;
        if (!headers) headers.reset(list);
    }
    curl.easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());

    if (curl.easy_perform(e) != CURLE_OK) return std::nullopt;
    curl.easy_getinfo(e, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

}  // namespace kiv::http_client
