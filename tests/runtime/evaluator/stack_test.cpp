// Frames, pops, unwinding to each receiving frame type, the barrier and
// bottom errors, stack overflow and the end of an error nothing catches.
#include "runtime/evaluator/stack.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"
#include "runtime/startup/startup.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

Cell int_cell(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}

// The id of the language error fn raises ("" when none).
template <typename Fn>
std::string raised(Fn&& fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

class Stack : public testing::Test {
protected:
    void SetUp() override {
        stack::detail::state.frames_top = stack::detail::state.frames_begin;
        stack::detail::state.base = stack::detail::state.top = stack::detail::state.begin;
        stack::detail::state.throw_start = nullptr;
    }
    static std::int32_t depth() { return stack::frame_depth(); }
};

TEST_F(Stack, CallFramesPassResultsToTheirCaller) {
    stack::push(int_cell(0));                     // the caller's result slot
    Cell* caller = stack::base();
    Cell* callee = stack::push_call_frame(&words::word(words::Word::add));
    EXPECT_EQ(callee, caller + 1);
    stack::push(int_cell(7));
    stack::push(int_cell(8));
    stack::return_result();
    EXPECT_EQ(stack::base(), caller);
    EXPECT_EQ(caller->int_value(), 7);
    EXPECT_EQ(stack::top(), callee + 1);

    stack::push_call_frame(nullptr);
    stack::push(int_cell(9));
    stack::pop_frame();                           // the result stays as the last value
    EXPECT_EQ(stack::last_value()->int_value(), 9);
    EXPECT_EQ(caller->int_value(), 7);

    stack::push_call_frame(nullptr);
    stack::push(int_cell(10));
    stack::pop_frame_reset();
    EXPECT_EQ(stack::top(), caller);
    EXPECT_EQ(depth(), 0);
}

TEST_F(Stack, FunctionFramesRestoreTheirContextsValues) {
    const NodeId ctx = context::make(2, true, false, context::Kind::function);
    context::set_stack_values(ctx, 40);            // an outer call's values
    stack::push(int_cell(0));
    Cell* args = stack::push_function_frame(nullptr, ctx);
    stack::push(int_cell(1));
    stack::push(int_cell(2));
    stack::push_body_frame(nullptr, ctx);          // the two cells become its values
    const std::int32_t values = context::set_stack_values(ctx, 0);
    EXPECT_EQ(values, static_cast<std::int32_t>(stack::index_of(args)));
    context::set_stack_values(ctx, values);
    stack::pop_frame();
    stack::pop_function_frame();
    EXPECT_EQ(context::set_stack_values(ctx, -1), 40);
}

TEST_F(Stack, BreakAndContinueReachTheNearestLoop) {
    for (const bool continue_ : {false, true}) {
        stack::push(int_cell(0));
        Cell* loop_base = stack::push_loop_frame(nullptr);
        stack::push(int_cell(1));
        stack::push_eval_frame(nullptr);
        stack::push(int_cell(2));
        stack::push_call_frame(&words::word(words::Word::at));  // the break call
        stack::push(int_cell(42));                               // break/return 42
        const std::uint32_t thrown = stack::unwind_break(true, continue_);
        EXPECT_EQ(thrown, continue_ ? runtime::thrown_continue : runtime::thrown_break);
        EXPECT_EQ(depth(), 1);
        EXPECT_EQ(stack::base(), loop_base);
        EXPECT_EQ(stack::top(), loop_base);
        if (continue_) EXPECT_TRUE(loop_base->is(TypeId::unset));
        else EXPECT_EQ(loop_base->int_value(), 42);
        EXPECT_FALSE(stack::exit_polled());
        SetUp();
    }
}

TEST_F(Stack, AnExitIsPolledOnlyWhenEveryFrameOnTheWayPolls) {
    stack::push_loop_frame(nullptr);
    stack::set_poll_flag();
    stack::push_eval_frame(nullptr);
    stack::set_poll_flag();
    stack::push_call_frame(nullptr);
    stack::set_poll_flag();
    stack::unwind_break(false, false);
    EXPECT_TRUE(stack::exit_polled());
}

TEST_F(Stack, ExitsStopAtABarrierOrTheBottomWithTheirErrors) {
    struct Case {
        const char* id;
        void (*exit)();
    };
    const Case cases[] = {
        {"break", [] { stack::unwind_break(false, false); }},
        {"continue", [] { stack::unwind_break(false, true); }},
        {"return", [] { stack::unwind_return(true); }},
        {"throw", [] { stack::unwind_throw(runtime::thrown_throw); }},
    };
    for (const Case& c : cases) {
        for (const bool barrier : {true, false}) {
            SetUp();
            stack::push_loop_frame(nullptr);           // receivers below the barrier
            stack::set_body_flag(true);
            stack::push_catch_frame(nullptr, nullptr);
            if (barrier) stack::push_barrier_frame(nullptr);
            stack::push_call_frame(nullptr);
            stack::push(int_cell(5));
            Cell* base = stack::base();
            Cell* top = stack::top();
            std::int32_t after = depth() - 1;          // the error unwinds to the barrier
            if (barrier) {
                base = stack::cell_at(stack::top_frame()->caller_base);  // the barrier's own base
                top = base + 1;                                         // holding the error
            } else {                                   // nothing to receive at all
                SetUp();
                stack::push_call_frame(nullptr);
                stack::push(int_cell(5));
                base = stack::base();
                top = stack::top();
                after = depth();                       // a C++ caller: the stacks stay
            }
            EXPECT_EQ(raised(c.exit), c.id) << c.id << (barrier ? " at a barrier" : " at the bottom");
            EXPECT_EQ(depth(), after);
            EXPECT_EQ(stack::base(), base);
            EXPECT_EQ(stack::top(), top);
        }
    }
}

TEST_F(Stack, ReturnLeavesLoopsForTheFunctionBody) {
    const NodeId ctx = context::make(1, true, false, context::Kind::function);
    context::set_stack_values(ctx, 7);
    stack::push(int_cell(0));
    stack::push_function_frame(nullptr, ctx);
    Cell* body = stack::push_body_frame(nullptr, ctx);
    stack::push_loop_frame(nullptr);
    stack::push_function_frame(nullptr, ctx);      // a nested call of the same function
    stack::push_body_frame(nullptr, ctx);
    stack::push_call_frame(nullptr);               // `do` of a block inside it
    stack::set_body_flag(false);
    stack::push_call_frame(nullptr);               // the return call
    stack::push(int_cell(3));
    EXPECT_EQ(stack::unwind_return(true), runtime::thrown_return);
    EXPECT_EQ(depth(), 5);                          // up to the inner body frame
    EXPECT_EQ(stack::base()->int_value(), 3);

    stack::push_call_frame(nullptr);
    EXPECT_EQ(stack::unwind_return(false), runtime::thrown_exit);
    EXPECT_TRUE(stack::base()->is(TypeId::unset));
    stack::pop_frame();
    stack::pop_function_frame();                   // the nested call's values go back
    EXPECT_EQ(context::set_stack_values(ctx, 0), static_cast<std::int32_t>(stack::index_of(body)));
}

TEST_F(Stack, ThrowReachesTheCatchFrameWithValueAndName) {
    stack::push(int_cell(0));
    Cell* catch_base = stack::push_catch_frame(nullptr, nullptr);
    stack::push_loop_frame(nullptr);
    stack::push_call_frame(nullptr);
    stack::push(int_cell(11));
    stack::push(words::word(words::Word::name));
    EXPECT_EQ(stack::unwind_throw(runtime::thrown_throw), runtime::thrown_throw);
    EXPECT_EQ(depth(), 1);
    EXPECT_EQ(stack::base(), catch_base);
    EXPECT_EQ(stack::top(), catch_base + 2);
    EXPECT_EQ(catch_base[0].int_value(), 11);
    EXPECT_TRUE(catch_base[1].is(TypeId::word));
}

TEST_F(Stack, UnwindKeepsTheBottomRecord) {
    stack::push(int_cell(0));
    Cell* try_base = stack::push_try_frame(nullptr);
    stack::push(int_cell(1));
    stack::push_call_frame(nullptr);
    stack::push(int_cell(2));
    stack::unwind(stack::FrameType::try_, true);
    EXPECT_EQ(depth(), 1);
    EXPECT_EQ(stack::base(), try_base);
    stack::unwind(stack::FrameType::loop, false);  // no loop: the bottom record stays
    EXPECT_EQ(depth(), 1);
}

TEST_F(Stack, ErrorsUnwindToTheNearestTryFrame) {
    stack::push(int_cell(0));
    Cell* try_base = stack::push_try_frame(nullptr);
    stack::push_loop_frame(nullptr);
    stack::push_call_frame(nullptr);
    stack::push(int_cell(1));
    Cell error{};
    error::build(error, ErrorCategory::script, "no-value");
    EXPECT_THROW(runtime::raise_error_value(error), LanguageError);
    EXPECT_EQ(depth(), 1);                          // the try frame stays for its code
    EXPECT_EQ(stack::base(), try_base);
    EXPECT_TRUE(try_base->is(TypeId::error));       // the error is its only argument
    EXPECT_EQ(stack::top(), try_base + 1);
}

TEST_F(Stack, ANativeCatchScopeNearerThanATryGetsTheStacksBack) {
    stack::push_try_frame(nullptr);
    stack::push_call_frame(nullptr);
    stack::push(int_cell(1));
    Cell* const base = stack::base();
    Cell* const top = stack::top();
    {
        stack::ErrorCatchScope scope;
        stack::push_call_frame(nullptr);
        stack::push(int_cell(2));
        EXPECT_EQ(raised([] { runtime::raise_error(ErrorCategory::script, "no-value"); }), "no-value");
        EXPECT_EQ(depth(), 2);
        EXPECT_EQ(stack::base(), base);
        EXPECT_EQ(stack::top(), top);
    }
    EXPECT_EQ(stack::detail::state.catchers, nullptr);
    stack::push_call_frame(nullptr);                // the try is nearer again
    EXPECT_EQ(raised([] { runtime::raise_error(ErrorCategory::script, "no-value"); }), "no-value");
    EXPECT_EQ(depth(), 1);
}

TEST_F(Stack, OverflowRaisesAndTheStacksStayUsable) {
    std::int32_t pushed = 0;
    EXPECT_EQ(raised([&] {
        for (;;) {
            stack::push_call_frame(nullptr);
            ++pushed;
        }
    }), "stack-overflow");
    EXPECT_EQ(pushed, stack::frame_capacity);
    SetUp();
    EXPECT_EQ(raised([] {
        for (;;) stack::push(int_cell(1));
    }), "stack-overflow");
    EXPECT_LT(stack::top(), stack::detail::state.end - 4);  // room for the error's own work
    SetUp();
    stack::push_call_frame(nullptr);                 // both stacks work again
    stack::push(int_cell(1));
    stack::pop_frame();
    EXPECT_EQ(depth(), 0);
}

TEST(StackDeath, AnUncaughtErrorEndsTheProcessWith254) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({
        runtime::CatchScope root(runtime::catch_everything);
        runtime::process().root_frame = root.frame();  // as the program runs
        stack::detail::state.frames_top = stack::detail::state.frames_begin;
        stack::push_call_frame(nullptr);             // no try or barrier below
        Cell error{};
        error::build(error, ErrorCategory::script, "no-value");
        runtime::raise_error_value(error);
    }, testing::ExitedWithCode(254), "");
}

}  // namespace
}  // namespace kiv
