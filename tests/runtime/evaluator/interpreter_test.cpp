// The interpreter on code built from C++: literals, words, set/get/lit-words,
// parens, operators (left to right, no precedence), calls with refinements
// and argument checks, function bodies, and the cheap return and break paths.
#include "runtime/evaluator/interpreter.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace kiv {
namespace {

const auto* const env = test::boot_runtime();

// --- A small reader for test code: integers, words, x: :x 'x /x, a/b paths,
// [blocks] and (parens), separated by blanks. ----------------------------------

std::vector<std::string> tokens(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char ch : text) {
        if (ch == ' ' || ch == '[' || ch == ']' || ch == '(' || ch == ')') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
            if (ch != ' ') out.emplace_back(1, ch);
        } else {
            cur += ch;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

Cell atom(const std::string& t) {
    Cell c;
    const bool number = (t[0] >= '0' && t[0] <= '9') || (t[0] == '-' && t.size() > 1);
    if (t.size() > 1 && t.find('/') != std::string::npos && t[0] != '/') {
        path::make_at(c, 4);
        std::size_t from = 0;
        for (;;) {
            const std::size_t slash = t.find('/', from);
            const Cell part = atom(t.substr(from, slash - from));
            block::append_copy(c, part);
            if (slash == std::string::npos) break;
            from = slash + 1;
        }
    } else if (number) {
        c.reset(TypeId::integer);
        c.set_int(std::atoi(t.c_str()));
    } else if (t.back() == ':') {
        word::make_kind_at(TypeId::set_word, t.substr(0, t.size() - 1).c_str(), c);
    } else if (t[0] == ':') {
        word::make_kind_at(TypeId::get_word, t.substr(1).c_str(), c);
    } else if (t[0] == '\'') {
        word::make_kind_at(TypeId::lit_word, t.substr(1).c_str(), c);
    } else if (t[0] == '/' && t.size() > 1) {
        word::make_kind_at(TypeId::refinement, t.substr(1).c_str(), c);
    } else {
        word::make_kind_at(TypeId::word, t.c_str(), c);
    }
    return c;
}

// Appends the values of tokens[i...] up to a closing bracket to blk.
std::size_t read_into(const Cell& blk, const std::vector<std::string>& ts, std::size_t i) {
    while (i < ts.size()) {
        const std::string& t = ts[i++];
        if (t == "]" || t == ")") return i;
        if (t == "[" || t == "(") {
            Cell inner;
            block::make_at(inner, 4);
            if (t == "(") inner.set_type(TypeId::paren);
            Cell* kept = block::append_copy(blk, inner);
            const Cell copy = *kept;
            i = read_into(copy, ts, i);
        } else {
            block::append_copy(blk, atom(t));
        }
    }
    return i;
}

// A block in the root block (so the collector keeps it) holding the code.
Cell load(const std::string& text) {
    const Cell blk = *block::make_in(nullptr, 8);
    read_into(blk, tokens(text), 0);
    return blk;
}

// --- Test natives ------------------------------------------------------------------

std::int32_t seen_refinement = -2;

void add2(bool, const std::int32_t*) {
    stack::arg(0)->set_int(stack::arg(0)->int_value() + stack::arg(1)->int_value());
}
void mul2(bool, const std::int32_t*) {
    stack::arg(0)->set_int(stack::arg(0)->int_value() * stack::arg(1)->int_value());
}
void less2(bool, const std::int32_t*) {
    const bool r = stack::arg(0)->int_value() < stack::arg(1)->int_value();
    stack::arg(0)->reset(TypeId::logic);
    stack::arg(0)->set_logic(r);
}
// pick-arg a /with b: a, or b when /with is used.
void pick_arg(bool, const std::int32_t* refinements) {
    seen_refinement = refinements[0];
    if (natives::used(refinements, 0)) *stack::arg(0) = *stack::arg(refinements[0]);
}
// quote 'value: the argument as it stands.
void quote(bool, const std::int32_t*) {}
void if_(bool, const std::int32_t*) {
    const Cell cond = *stack::arg(0);
    const Cell body = *stack::arg(1);
    if (cond.is(TypeId::none) || (cond.is(TypeId::logic) && cond.logic_value() == 0)) {
        stack::arg(0)->reset(TypeId::none);
        stack::keep_first();
        return;
    }
    interpreter::eval_block_tail(body, true);
}
void return_(bool, const std::int32_t*) {
    interpreter::hand_over_exit(stack::unwind_return(true));
}
void break_(bool, const std::int32_t*) {
    interpreter::hand_over_exit(stack::unwind_break(false, false));
}
// loop count body; polled: the loop receives exits without a C++ throw.
template <bool polled>
void loop(bool, const std::int32_t*) {
    const std::int32_t count = stack::arg(0)->int_value();
    const Cell body = *stack::arg(1);
    stack::push_loop_frame(&words::word(words::Word::body));
    if (polled) stack::set_poll_flag();
    stack::arg(0)->reset(TypeId::none);
    for (std::int32_t i = 0; i < count; ++i) {
        stack::keep_first();
        const std::uint32_t r = interpreter::eval_loop_body(body);
        if (interpreter::exit_pending() != 0) return;  // not ours: already unwound past us
        if (r == runtime::thrown_break) break;
        *stack::arg(0) = *(stack::top() - 1);
    }
    stack::keep_first();
    stack::return_result();
}

void define_native(const char* name, const char* spec, natives::Entry entry, TypeId as = TypeId::native) {
    const std::int32_t n = natives::append(entry);
    const Cell spec_block = load(spec);
    Cell fn;
    native::make_at(fn, TypeId::native, spec_block, n);
    if (as == TypeId::op) fn.set_op(TypeId::native);
    Cell w;
    word::make_kind_at(TypeId::word, name, w);
    word::set_value(w, fn);
}

void define_function(const char* name, const char* spec, const char* body) {
    const Cell s = load(spec);
    const Cell b = load(body);
    Cell fn;
    function::make_at(fn, s, &b, 0, 0, 0, 0);
    Cell w;
    word::make_kind_at(TypeId::word, name, w);
    word::set_value(w, fn);
}

class Interpreter : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (defined) return;
        defined = true;
        // The datatype words get their values from boot data; these tests set a few.
        for (TypeId t : {TypeId::integer, TypeId::block}) {
            Cell w = registry::type_name(t).word;
            Cell dt;
            dt.reset(TypeId::datatype);
            dt.set_datatype_id(t);
            word::set_value(w, dt);
        }
        Cell any;
        typeset::make_at(any, ~0u, ~0u, ~0u);
        Cell w;
        word::make_kind_at(TypeId::word, "any-type!", w);
        word::set_value(w, any);
        define_native("add2", "a b", add2);
        define_native("+", "a b", add2, TypeId::op);
        define_native("*", "a b", mul2, TypeId::op);
        define_native("<", "a b", less2, TypeId::op);
        define_native("pick-arg", "a [integer!] /with b [integer!]", pick_arg);
        define_native("quote", "'value [any-type!]", quote);
        define_native("if", "cond then [block!]", if_);
        define_native("return", "value", return_);
        define_native("break", "", break_);
        define_native("loop", "count body", loop<true>);
        define_native("loop-throwing", "count body", loop<false>);
        define_function("fib", "n", "if n < 2 [return n] (fib n + -1) + fib n + -2");
        define_function("first-over", "limit", "loop 100 [x: x + 1 if limit < x [return x]] 0");
    }
    void SetUp() override {
        mark = stack::Mark();
        stack::push_barrier_frame(nullptr);
    }
    void TearDown() override {  // a language error leaves the stacks where it arose
        mark.restore();
        interpreter::clear_exit();
    }
    // Evaluates the text; returns the result.
    Cell run(const std::string& text) {
        const Cell code = load(text);
        stack::reset();
        interpreter::eval_block(code, true);
        return *stack::base();
    }
    std::int32_t run_int(const std::string& text) {
        const Cell r = run(text);
        EXPECT_TRUE(r.is(TypeId::integer)) << text << " gave type " << int(r.type());
        return r.int_value();
    }
    // The id of the error that evaluating text raises ("" when none).
    std::string error_of(const std::string& text) {
        try {
            run(text);
        } catch (const LanguageError& e) {
            return e.id;
        }
        return "";
    }
    static inline bool defined = false;
    stack::Mark mark;  // the stacks before the test
};

TEST_F(Interpreter, ValuesWordsAndParens) {
    struct Case { const char* code; std::int32_t result; };
    const Case cases[] = {
        {"1 2 3", 3},
        {"x: 5 x", 5},
        {"y: x: 7 y", 7},           // a set-word chain passes the value on
        {"x: 4 :x", 4},
        {"(1 2 3)", 3},
        {"add2 1 2", 3},
        {"add2 add2 1 2 3", 6},     // nested prefix calls
        {"1 + 2 * 3", 9},           // strictly left to right
        {"add2 1 + 2 10", 13},      // an operator binds inside an argument
        {"2 * (1 + 2)", 6},
        {"pick-arg 4", 4},
        {"pick-arg/with 4 5", 5},
    };
    for (const Case& c : cases) EXPECT_EQ(run_int(c.code), c.result) << c.code;
    EXPECT_TRUE(run("").is(TypeId::unset));
    EXPECT_TRUE(run("quote").is(TypeId::unset));  // a literal argument at the end admits unset
    const Cell w = run("'abc");
    EXPECT_TRUE(w.is(TypeId::word));
}

TEST_F(Interpreter, RefinementPositions) {
    run("pick-arg 1");
    EXPECT_EQ(seen_refinement, -1);
    run("pick-arg/with 1 2");
    EXPECT_EQ(seen_refinement, 1);  // after the one plain argument
}

TEST_F(Interpreter, Errors) {
    struct Case { const char* code; const char* id; };
    const Case cases[] = {
        {"never-set-word", "no-value"},
        {"x:", "need-value"},
        {"add2 1", "no-arg"},
        {"pick-arg 'a", "expect-arg"},
        {"pick-arg/with/with 1 2 3", "dup-refine"},
        {"pick-arg/nothing 1", "no-refine"},
        {"+ 1", "no-op-arg"},
        {"1 +", "no-arg"},
        {"return 1", "return"},
        {"break", "break"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_of(c.code), c.id) << c.code;
        TearDown();
        SetUp();
    }
}

TEST_F(Interpreter, FunctionsReturnAndBreak) {
    EXPECT_EQ(run_int("fib 15"), 610);
    EXPECT_EQ(run_int("x: 0 first-over 5"), 6);       // return from inside a polled loop
    EXPECT_EQ(run_int("x: 0 loop 10 [x: x + 1 if 3 < x [break]] x"), 4);
    EXPECT_EQ(run_int("x: 0 loop-throwing 10 [x: x + 1 if 3 < x [break]] x"), 4);
    EXPECT_EQ(run_int("loop 3 [5]"), 5);
    EXPECT_EQ(interpreter::exit_pending(), 0u);
    EXPECT_EQ(runtime::thrown_value(), 0u);
}

TEST_F(Interpreter, ReturnThroughAThrowingLoop) {
    // The loop frame does not poll, so the return travels as a C++ throw.
    define_function("through", "limit", "loop-throwing 100 [x: x + 1 if limit < x [return x]] 0");
    EXPECT_EQ(run_int("x: 0 through 2"), 3);
    EXPECT_EQ(interpreter::exit_pending(), 0u);
}

// Disabled: a second collection after boot crashes in the owner table's sweep
// (ownership/hashtable), outside the interpreter. Enable once that is mended.
TEST_F(Interpreter, SurvivesCollectionAtEverySafePoint) {
    const bool torture = collector::state.torture;
    const bool enabled = collector::enabled();
    collector::state.torture = true;
    collector::set_enabled(true);
    EXPECT_EQ(run_int("fib 8"), 21);
    EXPECT_EQ(run_int("x: 0 loop 5 [x: x + (1 + 1)] x"), 10);
    collector::state.torture = torture;
    collector::set_enabled(enabled);
}

TEST_F(Interpreter, PathErrors) {
    EXPECT_EQ(error_of("1/2"), "word-first");
    EXPECT_EQ(error_of("never-set-word/a"), "unset-path");
    TearDown();
    SetUp();
    EXPECT_EQ(error_of("x: pick-arg/with"), "no-arg");
}

}  // namespace
}  // namespace kiv
