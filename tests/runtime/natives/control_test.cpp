// Conditionals, selection and loops on code loaded by the lexer: truth tests,
// loop results after break and continue, the words loops set, and the errors.
#include "tests/runtime/evaluator/natives_test_support.h"

#include "runtime/core/collector.h"

namespace kiv::test {
namespace {

const auto* const env = ::testing::AddGlobalTestEnvironment(new NativesEnvironment);

using ControlNatives = NativesTest;

TEST_F(ControlNatives, ConditionalsAndTruth) {
    struct Case { const char* code; const char* mold; };
    const Case cases[] = {
        {"if true [1]", "1"},
        {"if false [1]", "none"},
        {"if () [1]", "1"},                   // unset! is true for the lenient test
        {"unless none [2]", "2"},
        {"unless 0 [2]", "none"},
        {"either 0 [1] [2]", "1"},
        {"either none [1] [2]", "2"},
        {"any []", "none"},
        {"all []", "none"},
        {"any [none false 0]", "0"},
        {"all [1 none 2]", "none"},
        {"all [1 2 3]", "3"},
        {"any [none () 5]", "unset"},         // unset! counts as a hit
        {"switch 2 [1 [10] 2 [20]]", "20"},
        {"switch 2 [1 [10] 2 3 [30]]", "30"},  // the first block after the hit
        {"switch 9 [1 [10]]", "none"},
        {"switch/default 9 [1 [10]] [99]", "99"},
        {"switch 2 [1 [10] 2]", "none"},       // a hit with no block after it
        {"case [false [1] true [2]]", "2"},
        {"case [false [1]]", "none"},
        {"case []", "none"},
        {"case [true 7]", "7"},                // a body that is not a block is evaluated
        {"case/all [true [1] false [2]]", "none"},
        {"case/all [false [1] true [2]]", "2"},
        {"x: 0 case/all [true [x: x + 1] true [x: x + 1]] x", "2"},
    };
    for (const Case& c : cases) EXPECT_EQ(run_mold(c.code), c.mold) << c.code;
}

TEST_F(ControlNatives, ConditionalErrors) {
    struct Case { const char* code; const char* id; };
    const Case cases[] = {
        {"either () [1] [2]", "no-return"},
        {"case [true]", "need-value"},
        {"case [()[1]]", "no-return"},
        {"while [break] [1]", "while-cond"},
        {"until [()]", "no-return"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.code), c.id) << c.code;
}

TEST_F(ControlNatives, LoopResults) {
    struct Case { const char* code; const char* mold; };
    const Case cases[] = {
        {"loop 3 [5]", "5"},
        {"loop 2.9 [x: x + 1]", "3"},           // x starts at 1: two passes
        {"loop 0 [1]", "none"},
        {"loop -1 [1]", "none"},
        {"loop 3 [break/return 5]", "5"},
        {"loop 3 [break]", "unset"},
        {"loop 3 [continue 1]", "unset"},
        {"while [true] [break/return 5]", "unset"},  // while always gives unset!
        {"n: 0 while [n < 3] [n: n + 1] n", "3"},
        {"n: 0 until [n: n + 1 2 < n]", "true"},
        {"n: 0 until [n: n + 1 if n < 3 [continue] break/return n]", "3"},
        {"forever [break]", "unset"},
        {"forever [break/return 4]", "4"},
        {"repeat i 3 [i]", "3"},
        {"s: 0 repeat i 4 [s: s + i] s", "10"},
        {"repeat i 0 [i]", "none"},
        {"n: 0 repeat i 3 [i: 10 n: n + 1] n", "3"},  // setting the word does not steer it
        {"repeat i 3 [if i = 2 [break/return i] 0]", "2"},
        {"foreach x [] [x]", "unset"},
        {"s: 0 foreach x [1 2 3] [s: s + x] s", "6"},
        {"foreach [a b] [1 2 3] [b]", "none"},        // two passes, the second sets b to none
        {"n: 0 foreach [a b] [1 2 3] [n: n + 1] n", "2"},
        {"foreach x [1 2 3] [if x = 2 [break/return 20] x]", "20"},
        {"b: [1 2 3 4] remove-each x b [even? x]", "[1 3]"},
        {"b: [1 2 3 4] remove-each x b [even? x] b", "[1 3]"},
        {"b: [1 2 3 4] remove-each x next b [even? x]", "[3]"},  // the index it was given
        {"b: [1 2 3 4] remove-each x b [()] b", "[]"},           // unset! removes
        {"b: [1 2 3 4 5] remove-each [x y] b [x = 3] b", "[1 2 5]"},
        {"b: [1 2 3] remove-each x b [if x = 2 [break] true] b", "[2 3]"},
        {"b: [1 2 3] forall b [b/1] b", "[1 2 3]"},             // back at its start after a normal end
        {"b: [1 2 3] forall b [if b/1 = 2 [break]] b", "[2 3]"},
        {"b: [1 2 3 4] n: 0 forall b [b: next b n: n + 1] n", "2"},  // moving along the same series
    };
    for (const Case& c : cases) {
        run("x: 1");
        EXPECT_EQ(run_mold(c.code), c.mold) << c.code;
    }
    run("w: 99 repeat w -1 [w: 0]");
    EXPECT_EQ(run_mold("w"), "99");  // no pass: the word untouched
}

TEST_F(ControlNatives, LoopErrors) {
    struct Case { const char* code; const char* id; };
    const Case cases[] = {
        {"foreach [] [1 2] [1]", "invalid-arg"},
        {"foreach [a 1] [1 2] [1]", "invalid-arg"},
        {"b: [1 2] forall b [b: [3 4]]", "bad-loop-series"},
        {"b: 5 forall b [1]", "expect-arg"},
        {"forall never-set [1]", "no-value"},
        {"break", "break"},
        {"continue", "continue"},
        {"loop 2 [try/all [break]]", ""},           // the error is try's result, not raised
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.code), c.id) << c.code;
}

TEST_F(ControlNatives, ExitsThroughNestedLoopsLeaveNothingPending) {
    EXPECT_EQ(run_int("n: 0 loop 3 [loop 3 [n: n + 1 if 1 < n [break]]] n"), 4);
    EXPECT_EQ(run_int("f: func [] [loop 5 [foreach x [1 2] [if x = 2 [return 7]]] 0] f"), 7);
    EXPECT_EQ(run_int("f: func [] [forever [while [true] [return 8]]] f"), 8);
    EXPECT_EQ(interpreter::exit_pending(), 0u);
    EXPECT_EQ(runtime::thrown_value(), 0u);
    EXPECT_EQ(stack::top_frame(), mark.frames_top());  // only the test's barrier frame is left
}

TEST_F(ControlNatives, SurviveCollectionAtEverySafePoint) {
    const bool torture = collector::state.torture;
    const bool enabled = collector::enabled();
    collector::state.torture = true;
    collector::set_enabled(true);
    EXPECT_EQ(run_mold("s: 0 foreach [a b] [1 2 3 4] [s: s + a + b] s"), "10");
    EXPECT_EQ(run_mold("b: [1 2 3 4 5 6] remove-each x b [even? x] b"), "[1 3 5]");
    EXPECT_EQ(run_mold("n: 0 repeat i 10 [n: n + i] n"), "55");
    collector::state.torture = torture;
    collector::set_enabled(enabled);
}

}  // namespace
}  // namespace kiv::test
