// Output hooks: registration order, growth by five, removal of one occurrence.
#include "runtime/core/output_hooks.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv::output_hooks {
namespace {

std::string calls;

template <char Name>
void print_hook(const Cell*, bool new_line) { calls += Name; calls += new_line ? '+' : '-'; }
template <char Name>
void output_hook(const char* text, std::int32_t length, int flag) {
    calls += Name;
    calls.append(text, static_cast<std::size_t>(length));
    calls += static_cast<char>('0' + flag);
}

TEST(OutputHooks, NoHooksDoNothingAndNullRegistersOnlyTheOther) {
    init();
    calls.clear();
    call_print_hooks(nullptr, true);
    call_output_hooks("x", 1, 0);
    EXPECT_EQ(calls, "");
    register_(print_hook<'a'>, nullptr);
    EXPECT_EQ(print_hooks().count, 1);
    EXPECT_EQ(output_hooks().count, 0);
    register_(nullptr, output_hook<'b'>);
    call_print_hooks(nullptr, true);
    call_output_hooks("hi", 2, 0);
    EXPECT_EQ(calls, "a+bhi0");
    unregister(print_hook<'a'>, output_hook<'b'>);
    EXPECT_EQ(print_hooks().count, 0);
    EXPECT_EQ(output_hooks().count, 0);
}

TEST(OutputHooks, SixthRegistrationGrowsByFiveKeepingOrder) {
    init();
    calls.clear();
    register_(print_hook<'1'>, nullptr);
    register_(print_hook<'2'>, nullptr);
    register_(print_hook<'3'>, nullptr);
    register_(print_hook<'4'>, nullptr);
    register_(print_hook<'5'>, nullptr);
    EXPECT_EQ(print_hooks().capacity, 5);
    register_(print_hook<'6'>, nullptr);
    EXPECT_EQ(print_hooks().capacity, 10);
    EXPECT_EQ(print_hooks().count, 6);
    call_print_hooks(nullptr, false);
    EXPECT_EQ(calls, "1-2-3-4-5-6-");
}

TEST(OutputHooks, RemovingAHookRegisteredTwiceRemovesTheFirstOnly) {
    init();
    calls.clear();
    register_(nullptr, output_hook<'a'>);
    register_(nullptr, output_hook<'b'>);
    register_(nullptr, output_hook<'a'>);  // called twice while registered twice
    call_output_hooks("", 0, 0);
    EXPECT_EQ(calls, "a0b0a0");
    unregister(nullptr, output_hook<'a'>);
    unregister(nullptr, output_hook<'z'>);  // not there: nothing
    calls.clear();
    call_output_hooks("", 0, 0);
    EXPECT_EQ(calls, "b0a0");
}

}  // namespace
}  // namespace kiv::output_hooks
