// The platform layer: batched UTF-8 output, the diagnostic print, zone
// packing, time, environment, current directory and virtual memory.
#include "runtime/os/platform.h"

#include "runtime/core/output_hooks.h"
#include "runtime/core/runtime_error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kiv::platform {
namespace {

// Each write(2) that fn makes to standard output, as one string (a packet
// socket keeps the boundaries between writes).
template <typename Fn>
std::vector<std::string> writes_of(Fn fn) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    int size = 1 << 20;
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[1]);
    fn();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::vector<std::string> writes;
    char packet[65536];
    ssize_t n;
    while ((n = ::recv(fds[0], packet, sizeof packet, 0)) > 0) writes.emplace_back(packet, static_cast<std::size_t>(n));
    ::close(fds[0]);
    return writes;
}

// Everything fn writes to standard output.
template <typename Fn>
std::string printed(Fn fn) {
    std::string text;
    for (const std::string& w : writes_of(fn)) text += w;
    return text;
}

TEST(DiagnosticPrint, EachKindInItsFormat) {
    const auto text = printed([] {
        print_line({true, false, 42, -7, 'x', 1.5f, 0.1, "str", reinterpret_cast<const void*>(0xBEEF)});
    });
    EXPECT_EQ(text, "truefalse42-7x1.50.1str0000BEEF\n");
    EXPECT_EQ(printed([] { print({std::int64_t{1} << 40}); }), "1099511627776");
}

TEST(DiagnosticPrint, SpacedPrintSkipsTheSpaceAfterABlank) {
    EXPECT_EQ(printed([] { print_args({"a", "b"}, true); }), "a b");
    EXPECT_EQ(printed([] { print_args({"line\n", 5}, true); }), "line\n5");
    EXPECT_EQ(printed([] { print_args({"", 5, '\t', 6, 7}, true); }), " 5 \t6 7");
}

std::string hooked;
void collect(const char* text, std::int32_t length, int) { hooked.append(text, static_cast<std::size_t>(length)); }

TEST(DiagnosticPrint, LowLevelHooksSeeTheTextAndNumbers) {
    output_hooks::register_(nullptr, collect);
    printed([] { print({"n=", 12, ' ', 2.5}); });
    output_hooks::unregister(nullptr, collect);
    EXPECT_EQ(hooked, "n=12 2.5");
}

TEST(StandardOutput, WritesUtf8InBatchesOfAtMost1024Bytes) {
    std::vector<char32_t> wide(300, U'\U0001F600');  // 4 bytes each in UTF-8
    const auto writes = writes_of([&] { write_text(wide.data(), wide.size() * 4, 4, false); });
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size(), 1024u);
    EXPECT_EQ(writes[1].size(), 176u);
    EXPECT_EQ(writes[0].substr(0, 4), "\xF0\x9F\x98\x80");

    const std::string bytes(2000, 'a');
    const auto narrow = writes_of([&] { write_text(bytes.data(), bytes.size(), 1, true); });
    ASSERT_EQ(narrow.size(), 2u);
    EXPECT_EQ(narrow[0].size(), 1021u);
    EXPECT_EQ(narrow[1], std::string(979, 'a') + "\n");  // new line is LF
}

TEST(StandardOutput, UnitsBecomeCodePoints) {
    struct Case {
        std::vector<std::uint8_t> text;
        int unit;
        std::string utf8;
    };
    const Case cases[] = {
        {{'A', 0xE9, 0x1B, '['}, 1, "A\xC3\xA9\x1B["},                 // bytes are U+0000-U+00FF; ESC passes
        {{0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}, 2, "\xE2\x82\xAC\xF0\x9F\x98\x80"},  // surrogate pair joined
        {{0x00, 0xD8, 'x', 0}, 2, "\xEF\xBF\xBDx"},                   // lone surrogate
        {{0x00, 0x00, 0x11, 0x00}, 4, "\xEF\xBF\xBD"},                // beyond U+10FFFF
    };
    for (const Case& c : cases) {
        const auto writes = writes_of([&] { write_text(c.text.data(), c.text.size(), c.unit, false); });
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0], c.utf8);
    }
    EXPECT_EQ(writes_of([] { print_hex(0xBEEF); print_float64(0.5); print_int(-3); }),
              (std::vector<std::string>{"0000BEEF", "0.5", "-3"}));
}

TEST(Time, ZonePacking) {
    struct Case {
        int minutes;
        std::uint32_t zone;
    };
    const Case cases[] = {{0, 0}, {330, 22}, {-180, 76}, {60, 4}, {345, 23}, {-210, 78}, {14 * 60, 56}};
    for (const Case& c : cases) EXPECT_EQ(pack_zone(c.minutes), c.zone) << c.minutes;
}

TEST(Time, DateIsPackedWithTheLocalZone) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "XYZ-5:30", 1);  // UTC+05:30 without needing zone files
    ::tzset();
    const std::uint32_t local = now_date(false);
    const std::uint32_t utc = now_date(true);
    if (old) ::setenv("TZ", saved.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(local & 0x7F, 22u);
    EXPECT_EQ(utc & 0x7F, 0u);
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    EXPECT_EQ(utc >> 17, static_cast<std::uint32_t>(parts.tm_year + 1900));
    EXPECT_EQ((utc >> 12) & 0x1F, static_cast<std::uint32_t>(parts.tm_mon + 1));
    const double seconds = now_time(true);
    EXPECT_GE(seconds, 0.0);
    EXPECT_LT(seconds, 86400.0);
}

TEST(Environment, SetGetListAndRemove) {
    std::string value;
    const std::string set_to = "a=b c";
    EXPECT_TRUE(set_env("KIV_PLATFORM_TEST", &set_to));
    EXPECT_TRUE(get_env("KIV_PLATFORM_TEST", value));
    EXPECT_EQ(value, "a=b c");
    bool listed = false;
    for (const auto& [name, text] : environment()) listed |= name == "KIV_PLATFORM_TEST" && text == "a=b c";
    EXPECT_TRUE(listed);
    EXPECT_TRUE(set_env("KIV_PLATFORM_TEST", nullptr));
    EXPECT_FALSE(get_env("KIV_PLATFORM_TEST", value));
    EXPECT_FALSE(set_env("BAD=NAME", &set_to));
}

TEST(CurrentDirectory, ChangesAndReadsBack) {
    const std::string start = get_current_dir();
    ASSERT_FALSE(start.empty());
    EXPECT_TRUE(set_current_dir("/"));
    EXPECT_EQ(get_current_dir(), "/");
    EXPECT_FALSE(set_current_dir("/no/such/directory/here"));
    EXPECT_TRUE(set_current_dir(start));
}

TEST(VirtualMemory, ReserveCommitDecommitRelease) {
    const std::size_t page = page_size();
    auto* block = static_cast<char*>(reserve(64 * page));
    ASSERT_NE(block, nullptr);
    ASSERT_TRUE(commit(block, 2 * page));
    block[0] = 7;
    block[2 * page - 1] = 9;
    EXPECT_TRUE(decommit(block, 2 * page));
    ASSERT_TRUE(commit(block, page));
    EXPECT_EQ(block[0], 0);  // decommitted pages come back empty
    EXPECT_TRUE(release(block, 64 * page));

    auto* os = static_cast<char*>(os_alloc(3 * page));
    os[3 * page - 1] = 1;
    os_free(os, 3 * page);
}

TEST(VirtualMemory, RefusedAllocationIsThrownToTheMemoryManagersFrame) {
    const std::uint32_t caught = runtime::catch_throws(runtime::catch_memory, [] {
        os_alloc(std::size_t{1} << 62);  // more than any address space
    });
    EXPECT_EQ(caught, thrown_os_alloc_failed);
    runtime::clear_thrown();
}

}  // namespace
}  // namespace kiv::platform
