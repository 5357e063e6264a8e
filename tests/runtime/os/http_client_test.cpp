// The HTTP client against a server on the loopback interface that the test
// runs itself: status codes, empty and large bodies, chunked transfer,
// redirects, and every way a request can fail (a server that closes early,
// answers garbage, stalls, or is not there; a host that does not resolve;
// a body past the cap) ends with no response within the limits.
#include "runtime/os/http_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kiv::http_client {
namespace {

constexpr std::size_t big_size = 50u << 20;

// The byte at offset i of the large body.
char big_byte(std::size_t i) { return static_cast<char>('a' + i % 23); }

// One thread per connection; each request is answered by its path.
class Server {
public:
    Server() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listener_, 16);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        accepter_ = std::thread([this] {
            for (;;) {
                const int fd = accept(listener_, nullptr, nullptr);
                if (fd < 0) break;
                std::lock_guard<std::mutex> lock(mutex_);
                workers_.emplace_back([this, fd] {
                    serve(fd);
                    close(fd);
                });
            }
        });
    }
    ~Server() {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        accepter_.join();
        for (std::thread& t : workers_) t.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    static void put(int fd, const std::string& text) {
        std::size_t at = 0;
        while (at < text.size()) {
            const ssize_t n = send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return;
            at += static_cast<std::size_t>(n);
        }
    }
    static std::string answer(const std::string& status, const std::string& body,
                              const std::string& extra = "") {
        return "HTTP/1.1 " + status + "\r\n" + extra + "Content-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }
    void serve(int fd) {
        std::string in;
        char buf[4096];
        while (in.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            in.append(buf, static_cast<std::size_t>(n));
        }
        const std::size_t from = in.find(' ') + 1;
        const std::string path = in.substr(from, in.find(' ', from) - from);
        const bool head = in.rfind("HEAD ", 0) == 0;
        if (path.rfind("/status/", 0) == 0) {
            const std::string code = path.substr(8);
            put(fd, answer(code + " Whatever", code == "204" ? "" : "status " + code));
        } else if (path == "/empty") {
            put(fd, answer("200 OK", ""));
        } else if (path == "/big") {
            put(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big_size) + "\r\n\r\n");
            if (head) return;
            std::string chunk(1u << 20, '\0');
            for (std::size_t at = 0; at < big_size; at += chunk.size()) {
                for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = big_byte(at + i);
                put(fd, chunk);
            }
        } else if (path == "/chunked") {
            put(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "5\r\nhello\r\n1\r\n,\r\n6\r\n world\r\n0\r\n\r\n");
        } else if (path.rfind("/hops/", 0) == 0) {  // /hops/n redirects n times, then answers
            const int n = std::stoi(path.substr(6));
            put(fd, n == 0 ? answer("200 OK", "arrived")
                           : answer("302 Found", "", "Location: /hops/" + std::to_string(n - 1) + "\r\n"));
        } else if (path == "/loop") {
            put(fd, answer("301 Moved", "", "Location: /loop\r\n"));
        } else if (path == "/close-early") {
            put(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten..");
        } else if (path == "/garbage") {
            put(fd, "this is no status line\r\n\r\n");
        } else if (path == "/stall") {  // reads the request and never answers
            pollfd p{fd, POLLIN, 0};
            while (!stop_) {
                if (poll(&p, 1, 50) > 0 && recv(fd, buf, sizeof buf, 0) <= 0) return;
            }
        } else {
            put(fd, answer("404 Not Found", "no " + path));
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread accepter_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

class HttpClient : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new Server; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void TearDown() override { set_limits(Limits{}); }
    static std::optional<Response> get(const std::string& url, const std::string& method = "GET") {
        return perform(Request{url, method, {}, std::nullopt});
    }
    static std::string url(const std::string& path) { return server->url(path); }
    static Server* server;
};
Server* HttpClient::server = nullptr;

TEST_F(HttpClient, StatusCodesAreAnswersNotFailures) {
    const struct {
        const char* path;
        long status;
        const char* body;
    } cases[] = {
        {"/status/200", 200, "status 200"},
        {"/status/204", 204, ""},
        {"/status/404", 404, "status 404"},
        {"/status/500", 500, "status 500"},
        {"/empty", 200, ""},
    };
    for (const auto& c : cases) {
        const auto r = get(url(c.path));
        ASSERT_TRUE(r) << c.path;
        EXPECT_EQ(r->status, c.status) << c.path;
        EXPECT_EQ(r->body, c.body) << c.path;
    }
}

TEST_F(HttpClient, LargeBodyArrivesWhole) {
    const auto r = get(url("/big"));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->body.size(), big_size);
    for (std::size_t i = 0; i < big_size; i += 4093) ASSERT_EQ(r->body[i], big_byte(i)) << i;
    EXPECT_EQ(r->body.back(), big_byte(big_size - 1));
    // a head request gets the headers and no body
    const auto h = get(url("/big"), "HEAD");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->body, "");
    EXPECT_NE(h->header_text.find("Content-Length: 52428800"), std::string::npos) << h->header_text;
}

TEST_F(HttpClient, ChunkedBodiesAreJoined) {
    const auto r = get(url("/chunked"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "hello, world");
    EXPECT_NE(r->header_text.find("Transfer-Encoding: chunked"), std::string::npos);
}

TEST_F(HttpClient, RedirectsAreFollowedWithinALimit) {
    const auto r = get(url("/hops/5"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body, "arrived");
    EXPECT_EQ(r->header_text.find("Location"), std::string::npos) << "only the last response's headers";
    EXPECT_FALSE(get(url("/loop")));
}

TEST_F(HttpClient, BrokenAnswersAndMissingServersFail) {
    Limits quick;
    quick.connect_seconds = 2;
    quick.stall_seconds = 1;
    set_limits(quick);
    // a port where nothing listens: take a free one and let it go
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    close(s);
    const std::string nobody = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x";

    const std::string failing[] = {
        url("/close-early"), url("/garbage"), url("/stall"), nobody, "http://nosuch-host.invalid/x",
        "ftp://127.0.0.1/x",  // only http and https
    };
    for (const std::string& u : failing) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(get(u)) << u;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << u;
    }
}

TEST_F(HttpClient, BodiesPastTheCapFail) {
    Limits small;
    small.max_body = 1000;
    set_limits(small);
    EXPECT_FALSE(get(url("/big")));
    EXPECT_TRUE(get(url("/status/200")));
}

}  // namespace
}  // namespace kiv::http_client
