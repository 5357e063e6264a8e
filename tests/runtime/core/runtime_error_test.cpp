// Catch frames, thrown values and the fatal runtime-error report.
#include "runtime/core/runtime_error.h"

#include "runtime/core/assert.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kiv::runtime {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;  // the sanitizer reports faults itself
#else
constexpr bool sanitized = false;
#endif

// Which of two nested frames catches a value: the nearer one whose level is
// at least the value, compared unsigned.
TEST(CatchFrames, ValueStopsAtFirstFrameWhoseLevelIsAtLeastIt) {
    struct Case {
        std::uint32_t outer, inner, value;
        bool inner_catches;
    };
    const Case cases[] = {
        {thrown_error, thrown_throw, thrown_break, false},   // break passes a catch native
        {thrown_break, thrown_throw, thrown_break, false},   // ...and stops at the loop
        {thrown_error, thrown_break, thrown_continue, true},  // loop catches continue
        {thrown_error, thrown_throw, thrown_throw, true},     // equal level is caught
        {catch_everything, 10, 11, false},
        {catch_everything, 0x7FFFFFFF, 0x80000000u, false},  // unsigned comparison
    };
    for (const Case& c : cases) {
        bool inner_caught = false;
        const std::uint32_t outer = catch_throws(c.outer, [&] {
            const std::uint32_t inner = catch_throws(c.inner, [&] { throw_value(c.value); });
            inner_caught = inner == c.value;
        });
        EXPECT_EQ(inner_caught, c.inner_catches) << std::hex << c.value;
        EXPECT_EQ(outer, c.inner_catches ? 0u : c.value);
        EXPECT_EQ(thrown_value(), c.value);  // left for the handler to clear
        clear_thrown();
        EXPECT_EQ(catch_chain(), nullptr);
    }
}

TEST(CatchFrames, NormalCompletionReturnsZeroAndDestructorsRun) {
    EXPECT_EQ(catch_throws(thrown_error, [] {}), 0u);
    int destroyed = 0;
    struct Guard {
        int* count;
        ~Guard() { ++*count; }
    };
    catch_throws(thrown_error, [&] {
        Guard a{&destroyed};
        catch_throws(thrown_throw, [&] {
            Guard b{&destroyed};
            throw_value(thrown_error);
        });
        ADD_FAILURE() << "the inner frame must not catch a language error";
    });
    EXPECT_EQ(destroyed, 2);
    clear_thrown();
}

TEST(CatchFrames, UnwindToCatchPassesTheValueOn) {
    const std::uint32_t outer = catch_throws(thrown_error, [] {
        const std::uint32_t v = catch_throws(thrown_break, [] { throw_value(thrown_continue); });
        EXPECT_EQ(v, thrown_continue);
        unwind_to_catch();  // not handled here
    });
    EXPECT_EQ(outer, thrown_continue);
    clear_thrown();
}

// The report's format: message, then the address as exactly eight
// upper-case hexadecimal digits (its low 32 bits) and "h".
TEST(RuntimeErrorDeathTest, ThrowWithNoCatchingFrameIsError95) {
    EXPECT_EXIT(throw_value(thrown_throw), testing::ExitedWithCode(95),
                "^\\*\\*\\* Runtime Error 95: no CATCH for THROW\n\\*\\*\\* at: [0-9A-F]{8}h\n$");
    EXPECT_EXIT(catch_throws(thrown_break, [] { throw_value(thrown_error); }),
                testing::ExitedWithCode(95), "Runtime Error 95: no CATCH for THROW");
}

TEST(RuntimeErrorDeathTest, ReportShowsCodeMessageAndAddress) {
    EXPECT_EXIT(report_runtime_error(94, 0xABCDEF), testing::ExitedWithCode(94),
                "^\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: 00ABCDEFh\n$");
    EXPECT_EXIT(report_runtime_error(200, 0x123456789A), testing::ExitedWithCode(200),
                "Runtime Error 200: unknown error code!\n\\*\\*\\* at: 3456789Ah\n$");
    EXPECT_EXIT(report_runtime_error(0, 0), testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(assert_failed("x.cpp", 7, "broken"), testing::ExitedWithCode(98),
                "Internal check failed: broken \\(x.cpp:7\\)\n\\*\\*\\* Runtime Error 98: assertion failed");
}

TEST(RuntimeErrorDeathTest, SegmentationFaultIsAnAccessViolation) {
    if (sanitized) GTEST_SKIP() << "the sanitizer handles faults";
    EXPECT_EXIT(
        {
            install_fault_handlers();
            *static_cast<volatile int*>(nullptr) = 1;
        },
        testing::ExitedWithCode(1), "^\\*\\*\\* Runtime Error 1: access violation\n\\*\\*\\* at: [0-9A-F]{8}h\n$");
}

volatile bool keep_going = true;

[[gnu::noinline]] int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (!keep_going) return 0;
    return recurse(depth + 1) + frame[0];  // not a tail call
}

TEST(RuntimeErrorDeathTest, StackOverflowIsError19) {
    if (sanitized) GTEST_SKIP() << "the sanitizer handles faults";
    EXPECT_EXIT(
        {
            install_fault_handlers();
            std::thread thread([] {
                install_signal_stack();
                pthread_attr_t attr;
                pthread_getattr_np(pthread_self(), &attr);
                void* low;
                std::size_t size;
                pthread_attr_getstack(&attr, &low, &size);
                set_stack_limits(low, static_cast<char*>(low) + size);
                recurse(0);
            });
            thread.join();
        },
        testing::ExitedWithCode(19), "Runtime Error 19: stack error or overflow");
}

TEST(RuntimeErrorDeathTest, IntegerDivisionByZeroIsError13) {
    if (sanitized) GTEST_SKIP() << "the sanitizer handles faults";
    EXPECT_EXIT(
        {
            install_fault_handlers();
            volatile int zero = 0;
            volatile int seven = 7;
            volatile int n = seven / zero;
            (void)n;
        },
        testing::ExitedWithCode(13), "Runtime Error 13: integer divide by zero");
}

}  // namespace
}  // namespace kiv::runtime
