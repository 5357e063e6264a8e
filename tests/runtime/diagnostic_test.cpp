// The typed diagnostic print and the arithmetic routines.
#include "runtime/diagnostic.h"

#include "runtime/output_hooks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <unistd.h>

namespace kiv::runtime {
namespace {

// Everything fn writes to standard output.
template <typename Fn>
std::string stdout_of(Fn fn) {
    int pipe_fds[2];
    EXPECT_EQ(::pipe(pipe_fds), 0);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::close(pipe_fds[1]);
    fn();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(n));
    ::close(pipe_fds[0]);
    return text;
}

TEST(DiagnosticPrint, EachKindInItsFormat) {
    const auto text = stdout_of([] {
        print_line({true, false, 42, -7, 'x', 1.5f, 0.1, "str", reinterpret_cast<const void*>(0xBEEF)});
    });
    EXPECT_EQ(text, "truefalse42-7x1.50.1str0000BEEF\n");
    EXPECT_EQ(stdout_of([] { print({std::int64_t{1} << 40}); }), "1099511627776");
}

TEST(DiagnosticPrint, SpacedPrintSkipsTheSpaceAfterABlank) {
    EXPECT_EQ(stdout_of([] { print_args({"a", "b"}, true); }), "a b");
    EXPECT_EQ(stdout_of([] { print_args({"line\n", 5}, true); }), "line\n5");
    EXPECT_EQ(stdout_of([] { print_args({"", 5, '\t', 6, 7}, true); }), " 5 \t6 7");
}

std::string hooked;
void collect(const char* text, std::int32_t length, int) { hooked.append(text, static_cast<std::size_t>(length)); }

TEST(DiagnosticPrint, LowLevelHooksSeeTheTextAndNumbers) {
    output_hooks::register_(nullptr, collect);
    stdout_of([] { print({"n=", 12, ' ', 2.5}); });
    output_hooks::unregister(nullptr, collect);
    EXPECT_EQ(hooked, "n=12 2.5");
}

TEST(Arithmetic, DegreesToRadiansReducesByMode) {
    struct Case {
        double angle;
        int mode;
        double degrees;
    };
    const Case cases[] = {
        {270, 0, -90}, {270, 1, -90}, {270, 2, -90},  // exactly -90: not reduced further
        {100, 2, 80},  {100, 0, -80}, {100, 1, 100},
        {-100, 2, -80}, {-100, 0, 80}, {720 + 30, 2, 30}, {-190, 1, 170},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(degrees_to_radians(c.angle, c.mode), c.degrees * std::numbers::pi / 180.0)
            << c.angle << " mode " << c.mode;
    EXPECT_TRUE(std::isnan(degrees_to_radians(NAN, 2)));
}

TEST(Arithmetic, RoundingToPowersOfTwo) {
    EXPECT_EQ(round_up(17, 16), 32);
    EXPECT_EQ(round_up(16, 16), 16);
    EXPECT_EQ(round_up(0, 4096), 0);
    EXPECT_EQ(next_multiple(16, 16), 32);
    EXPECT_TRUE(nul_text_equal_q("abc", "abc"));
    EXPECT_FALSE(nul_text_equal_q("abc", "abcd"));
}

}  // namespace
}  // namespace kiv::runtime
