// url!'s read and write over HTTP, against a small server on the loopback
// interface run by the test itself (no outside network is needed): bodies
// as text, bytes and lines, the info block with repeated headers, redirects,
// methods, header blocks and bodies as the server received them, and the
// errors of bad requests and unreachable hosts.
#include "runtime/startup/embed.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime({.library = true});

// Serves one request per connection: /hello (a text with a repeated header),
// /moved (a redirect to /hello), /missing (404) and /echo (the request as it
// came, head and body, as the response body). Keeps the last request seen.
class Server {
public:
    Server() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listener_, 8);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~Server() {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string last_request() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }

private:
    void run() {
        while (!stop_) {
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) break;
            serve(fd);
            close(fd);
        }
    }
    void serve(int fd) {
        std::string in;
        char buf[4096];
        std::size_t head_end = std::string::npos;
        std::size_t want = 0;
        for (;;) {
            if (head_end != std::string::npos && in.size() >= head_end + 4 + want) break;
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            in.append(buf, static_cast<std::size_t>(n));
            if (head_end == std::string::npos && (head_end = in.find("\r\n\r\n")) != std::string::npos) {
                const std::size_t at = in.find("Content-Length: ");
                if (at != std::string::npos && at < head_end) want = std::stoul(in.substr(at + 16));
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            last_ = in;
        }
        const std::string path = in.substr(in.find(' ') + 1, in.find(' ', in.find(' ') + 1) - in.find(' ') - 1);
        std::string status = "200 OK", extra, body;
        if (path == "/hello") {
            extra = "X-Twice: a\r\nX-Twice: b\r\nX-Once:  spaced \r\n";
            body = "h\xC3\xA9llo\r\nline2\n";
        } else if (path == "/moved") {
            status = "302 Found";
            extra = "Location: /hello\r\nX-Twice: lost\r\n";
        } else if (path == "/missing") {
            status = "404 Not Found";
            body = "missing";
        } else if (path.rfind("/echo", 0) == 0) {
            status = "201 Created";
            body = in;
        }
        std::string out = "HTTP/1.1 " + status + "\r\n" + extra + "Content-Length: " +
                          std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
        if (in.rfind("HEAD ", 0) != 0) out += body;
        send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::string last_;
};

// The mold of what the code gives, or "error: type id" when it raises.
std::string run(const std::string& code) {
    const embed::Result r = embed::eval_text(
        "either error? r: try [" + code + "] [form reduce ['error r/type r/id]] [mold/flat :r]");
    if (!r.ok) return "failed: " + embed::error_report(r.value);
    return embed::form(r.value);
}

class HttpRequest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new Server; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    static std::string url(const std::string& path) { return server->url(path); }
    static Server* server;
};
Server* HttpRequest::server = nullptr;

TEST_F(HttpRequest, ReadGivesTheBodyAsTextBytesOrLines) {
    const std::string u = url("/hello");
    EXPECT_EQ(run("read " + u), "\"h\xC3\xA9llo^/line2^/\"");
    EXPECT_EQ(run("read/binary " + u), "#{68C3A96C6C6F0D0A6C696E65320A}");
    EXPECT_EQ(run("read/lines " + u), "[\"h\xC3\xA9llo\" \"line2\"]");
}

TEST_F(HttpRequest, InfoGivesStatusHeadersAndBody) {
    EXPECT_EQ(run("r: read/info " + url("/hello") + " reduce [r/1 select r/2 'X-Twice select r/2 'x-once r/3]"),
              "[200 [\"a\" \"b\"] \"spaced\" \"h\xC3\xA9llo^/line2^/\"]");
    // a redirect is followed; the headers are the final response's
    EXPECT_EQ(run("r: read/info " + url("/moved") + " reduce [r/1 select r/2 'X-Twice r/3]"),
              "[200 [\"a\" \"b\"] \"h\xC3\xA9llo^/line2^/\"]");
    // a status code is no error
    EXPECT_EQ(run("read " + url("/missing")), "\"missing\"");
    EXPECT_EQ(run("first read/info " + url("/missing")), "404");
}

TEST_F(HttpRequest, WriteSendsMethodHeadersAndBody) {
    const std::string u = url("/echo");
    // text data is the body of a post with the default headers
    const std::string posted = run("write " + u + " {a=1&b=\u00e9}");
    EXPECT_NE(posted.find("POST /echo HTTP/1.1"), std::string::npos) << posted;
    EXPECT_NE(posted.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos) << posted;
    EXPECT_NE(posted.find("Accept-Charset: UTF-8"), std::string::npos) << posted;
    EXPECT_NE(posted.find("User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)"), std::string::npos) << posted;
    EXPECT_NE(posted.find("a=1&b=\xC3\xA9}"), std::string::npos) << posted;

    // a header block replaces the defaults; names may be any word or formed
    const std::string put = run("write/binary " + u + " [put [X-Name: \"v\" 'Lit 42 \"Str\" 1.5] #{00FF}]");
    EXPECT_NE(put.find("#{505554202F6563686F"), std::string::npos) << put;  // "PUT /echo"
    const std::string request = server->last_request();
    EXPECT_NE(request.find("X-Name: v\r\nLit: 42\r\nStr: 1.5\r\n"), std::string::npos) << request;
    EXPECT_EQ(request.find("Content-Type: application/x-www"), std::string::npos) << request;
    EXPECT_EQ(request.substr(request.size() - 2), std::string("\x00\xFF", 2));

    // head sends no body even when given one; other words go upper-cased
    run("write " + u + " [head \"ignored\"]");
    EXPECT_EQ(server->last_request().rfind("HEAD /echo", 0), 0u);
    EXPECT_EQ(server->last_request().find("ignored"), std::string::npos);
    EXPECT_EQ(run("copy/part write " + u + " [delete] 12"), "\"DELETE /echo\"");
    EXPECT_EQ(run("copy/part write " + u + " [] 9"), "\"GET /echo\"");
    // text outside the url set goes percent-encoded
    EXPECT_EQ(run("copy/part read to url! {" + u + "?a b\u00e9=[1]} 30"), "\"GET /echo?a%20b%C3%A9=[1] HTTP\"");
}

TEST_F(HttpRequest, BadRequestsAndUnreachableHostsRaise) {
    const std::string u = url("/echo");
    const struct {
        std::string code, error;
    } cases[] = {
        {"write " + u + " [get 42]", "error script invalid-arg"},
        {"write " + u + " [42]", "error script invalid-arg"},
        {"write " + u + " [post [] \"x\" \"y\"]", "error script invalid-arg"},
        {"write " + u + " 42", "error script invalid-arg"},
        // a line break or NUL in a header would start another header
        {"write " + u + " [post [X-A: \"v^/Evil: 1\"] \"x\"]", "error script invalid-arg"},
        {"write " + u + " [post [X-A: \"v^M\"] \"x\"]", "error script invalid-arg"},
        {"write " + u + " [post [{X^/Evil} \"v\"] \"x\"]", "error script invalid-arg"},
        {"write " + u + " [post [X-A: \"a^@b\"] \"x\"]", "error script invalid-arg"},
        {"read/part " + u + " 2", "error internal not-done"},
        {"read ftp://127.0.0.1/x", "error access unknown-scheme"},
        // nothing listens on port 1: refused at once
        {"read http://127.0.0.1:1/x", "error access no-connect"},
        {"write http://127.0.0.1:1/x \"a\"", "error access no-connect"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.error) << c.code;
}

}  // namespace
}  // namespace kiv
