// Function makers, do, get and set, reduce and compose, bind and in, apply,
// and the exits with their receivers: try (with /all), catch with names,
// throw, break, continue, return and exit, and their errors at a barrier.
#include "tests/runtime/evaluator/natives_test_support.h"

#include "runtime/datatypes/error.h"

namespace kiv::test {
namespace {

const auto* const env = ::testing::AddGlobalTestEnvironment(new NativesEnvironment);

using EvalNatives = NativesTest;

TEST_F(EvalNatives, FunctionsAndEvaluation) {
    struct Case { const char* code; const char* mold; };
    const Case cases[] = {
        {"f: func [a b] [a + b] f 1 2", "3"},
        {"f: func [a /twice] [either twice [a + a] [a]] f/twice 4", "8"},
        {"f: does [7] f", "7"},
        {"f: has [x] [x: 3 x] x: 1 f + x", "4"},           // x is local to f
        {"x: 1 f: function [] [x: 5 x] f + x", "6"},         // set-words become locals
        {"f: func [a] [return a + 1 0] f 1", "2"},
        {"f: func [] [exit 0] f", "unset"},
        {"do [1 2]", "2"},
        {"do 5", "5"},
        {"x: 3 do 'x", "3"},
        {"do \"1 + 2\"", "3"},
        {"do/next [1 + 1 5] 'p", "2"},
        {"do/next [1 + 1 5] 'p p", "[5]"},
        {"x: 4 get 'x", "4"},
        {"get/any 'never-set-anywhere", "unset"},
        {"set 'y 6 y", "6"},
        {"set [a b] [1] b", "none"},                         // past the value block's tail
        {"set/only [a b] [1] b", "[1]"},
        {"a: 9 set/some [a b] reduce [none 3] a", "9"},
        {"reduce [1 + 1 3]", "[2 3]"},
        {"reduce []", "[]"},
        {"f: does [5] reduce [f]", "[5]"},
        {"b: [9] reduce/into [1 + 1] b", "[9]"},              // the position after the insertion
        {"b: [] reduce/into [1 + 1 3] b", "[2 3]"},           // appended at the tail
        {"b: [9] reduce/into [1 2] b b", "[1 2 9]"},         // inserted at its index
        {"compose [a (1 + 1) [(2)]]", "[a 2 [(2)]]"},
        {"compose/deep [a [(1 + 1)]]", "[a [2]]"},
        {"compose [() ([]) x]", "[x]"},
        {"compose/only [([])]", "[[]]"},
        {"compose [([1 2])]", "[1 2]"},
        {"compose [(())]", "[]"},
        {"blk: [a] f: func [a] [do bind blk 'a] f 3", "3"},
        {"blk: [a] f: func [a] [do bind/copy blk 'a] f 3 blk", "[a]"},
        {"f: func [a] [a] in :f 'a", "a"},
        {"f: func [a] [a] in :f 'zz", "none"},
        {"f: func [a b] [a + b] apply :f [1 2]", "3"},
        {"f: func [a b] [a + b] apply 'f [1 + 1 2]", "4"},
        {"f: func [a /x b] [either x [b] [a]] apply/all :f [1 true 2]", "2"},
        {"apply '+ [1 2]", "3"},                               // an op! as the native it was made from
    };
    for (const Case& c : cases) EXPECT_EQ(run_mold(c.code), c.mold) << c.code;
}

TEST_F(EvalNatives, TryAndCatch) {
    struct Case { const char* code; const char* mold; };
    const Case cases[] = {
        {"try [1]", "1"},
        {"catch [1]", "1"},
        {"catch [throw 5 1]", "5"},
        {"catch [loop 3 [throw 6]]", "6"},
        {"f: does [throw 7] catch [f]", "7"},
        {"catch/name [throw/name 8 'a] 'a", "8"},
        {"catch/name [throw/name 8 'A] 'a", "8"},              // names match ignoring case
        {"catch/name [throw/name 8 'b] [a b]", "8"},
        {"catch [catch/name [throw/name 9 'b] 'a]", "9"},     // passed on to the outer catch
        {"catch [catch/name [throw 10] 'a]", "10"},           // an unnamed throw skips a named catch
        {"catch [try [throw 11]]", "11"},                     // a plain try lets throws pass
        {"loop 2 [try [break/return 12]]", "12"},              // ... and break
        {"f: does [try [return 13] 0] f", "13"},               // ... and return
        {"n: 0 loop 3 [n: n + 1 try [never-set-word]] n", "3"},
    };
    for (const Case& c : cases) EXPECT_EQ(run_mold(c.code), c.mold) << c.code;

    struct ErrorCase { const char* code; const char* id; };
    const ErrorCase errors[] = {
        {"try [never-set-word]", "no-value"},
        {"try/all [break]", "break"},
        {"try/all [continue]", "continue"},
        {"try/all [return 1]", "return"},
        {"try/all [throw 1]", "throw"},
        {"loop 2 [try/all [break]]", "break"},               // the barrier stops even a loop's break
        {"f: func [] [try [1 + never-set-word]] f", "no-value"},
        {"try [do make-me-an-error]", "no-value"},
    };
    for (const ErrorCase& c : errors) {
        const Cell r = run(c.code);
        ASSERT_TRUE(r.is(TypeId::error)) << c.code << " gave type " << int(r.type());
        const symbol::SymbolId id = error::id_symbol(r);
        EXPECT_EQ(std::string(symbol::name(id)), c.id) << c.code;
    }
    EXPECT_EQ(stack::top_frame(), mark.frames_top());  // only the test's barrier frame is left
    EXPECT_EQ(interpreter::exit_pending(), 0u);
}

TEST_F(EvalNatives, Errors) {
    struct Case { const char* code; const char* id; };
    const Case cases[] = {
        {"get 'never-set-anywhere", "no-value"},
        {"set 'y ()", "need-value"},
        {"set [a 1] [1 2]", "invalid-arg"},
        {"set [a b] reduce [1 ()]", "need-value"},
        {"compose 1", "expect-val"},
        {"apply 'never-set-anywhere []", "invalid-arg"},
        {"apply 'x [] x: 1", "invalid-arg"},
        {"catch/name [throw 1] [a 1]", "invalid-refine-arg"},
        {"throw 1", "throw"},
        {"return 1", "return"},
        {"exit", "return"},
        {"f: func [a a] []", "dup-vars"},
        {"try [1] do try [never-set-word]", "no-value"},       // do of an error raises it again
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.code), c.id) << c.code;
}

}  // namespace
}  // namespace kiv::test
