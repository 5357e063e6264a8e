// function! and routine!: the spec checker, the locals of `function`, making
// functions (context, bound body copy, owner), reflection, mold and compare.
#include "runtime/datatypes/function.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace kiv {
namespace {

using test::mold;

const auto* const runtime_env = test::boot_runtime({.library = false}, [] {
    Cell type{};  // the boot image sets the type words; these tests need one
    datatype::make_at(TypeId::integer, type);
    Cell w{};
    word::make_at(symbol::make("integer!"), w);
    context::set_word(w, type);
});

// Builds a block from space-separated tokens: [ ] ( ) nest, a: :a 'a /a are
// the word kinds, digits an integer!, "x" a string! (no spaces inside).
void read_into(std::istringstream& in, const Cell& blk) {
    std::string t;
    while (in >> t) {
        if (t == "]" || t == ")") return;
        if (t == "[" || t == "(") {
            Cell* inner = block::make_in(&blk, 4);
            if (t == "(") inner->set_type(TypeId::paren);
            const Cell copy = *inner;
            read_into(in, copy);
            continue;
        }
        Cell c{};
        if (t[0] == '"') {
            string::make_at(c, 8);
            string::append_nul_text(c.series_node(), t.substr(1, t.size() - 2).c_str());
        } else if (isdigit(static_cast<unsigned char>(t[0]))) {
            integer::make_at(c, std::stoi(t));
        } else {
            TypeId kind = TypeId::word;
            if (t.back() == ':') { kind = TypeId::set_word; t.pop_back(); }
            else if (t[0] == ':') { kind = TypeId::get_word; t.erase(0, 1); }
            else if (t[0] == '\'') { kind = TypeId::lit_word; t.erase(0, 1); }
            else if (t[0] == '/') { kind = TypeId::refinement; t.erase(0, 1); }
            word::make_at(symbol::make(t.c_str()), c);
            c.set_type(kind);
        }
        block::append_copy(blk, c);
    }
}

Cell blk(const char* source) {
    Cell b{};
    block::make_at(b, 8);
    std::istringstream in(source);
    read_into(in, b);
    return b;
}

template <typename Fn>
std::string error_of(Fn fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

Cell func(const char* spec, const char* body) {
    Cell s = blk(spec);
    Cell b = blk(body);
    Cell fn{};
    function::make_at(fn, s, &b, 0, 0, 0, function::validate_spec(s));
    return fn;
}

TEST(FunctionSpec, AcceptedSpecsAndAttributeFlags) {
    const char* accepted[] = {
        "a [ integer! ] \"doc\" return: [ integer! ] /local x y",
        "\"doc\" a b /ref c [ integer! ] /other",
        "'a :b",
        "a return: [ integer! ] /local x",
        "a return: [ integer! ] \"result\"",
        "",
    };
    for (const char* s : accepted) EXPECT_EQ(error_of([s] { function::validate_spec(blk(s)); }), "") << s;
    EXPECT_EQ(function::validate_spec(blk("[ trace ] a")), Cell::function_trace_flag);
    EXPECT_EQ(function::validate_spec(blk("[ no-trace catch ] a")), Cell::function_no_trace_flag);
}

TEST(FunctionSpec, RefusedSpecs) {
    struct Case {
        const char* spec;
        const char* error;
    };
    const Case cases[] = {
        {"return: [ integer! ] a", "bad-func-def"},       // argument after return:
        {"return: [ integer! ] return: [ integer! ]", "bad-func-def"},
        {"return: [ integer! ] /ref", "bad-func-def"},    // refinement after return:
        {"/local :x", "bad-func-def"},                    // only words after /local
        {"/local x /ref", "bad-func-def"},
        {"/local x return: [ integer! ]", "bad-func-def"},
        {"a \"doc\" [ integer! ]", "bad-func-def"},       // doc string before the type block
        {"result: [ integer! ]", "bad-func-def"},         // set-word other than return:
        {"return: a", "bad-func-def"},                    // return: needs a type block
        {"return: [ integer! ] 1", "bad-func-def"},
        {"/ref 1", "bad-func-def"},
        {"1", "bad-func-def"},
        {"[ trace 1 ] a", "bad-func-def"},
        {"a A", "dup-vars"},
        {"a /b b", "dup-vars"},
        {"a /local a", "dup-vars"},
        {"a [ no-such-type ]", "invalid-type-spec"},
        {"a [ 1 ]", "invalid-type-spec"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&c] { function::validate_spec(blk(c.spec)); }), c.error) << c.spec;
}

TEST(FunctionLocals, CollectsSetWordsAndLoopWordsOnce) {
    struct Case {
        const char* spec;
        const char* body;
        const char* result;
    };
    const Case cases[] = {
        {"x", "a: 1 b: 2 foreach [ c d ] [ ] [ x: a ] ( b: 3 )", "[x /local a b c d]"},
        {"x", "repeat i 3 [ ] foreach w [ ] [ ] remove-each r: [ ] [ ]", "[x /local i w r]"},
        {"x /local y", "y: 1 z: 2", "[x /local y z]"},
        {"x /extern y", "y: 1 z: 2", "[x /local z]"},
        {"x /extern y /local q", "y: 1 z: 2", "[x /local q z]"},
        {"x", "x: 1", "[x]"},
        {"x", "local: 1", "[x /local]"},  // local names /local, never a local of its own
    };
    for (const Case& c : cases) {
        Cell spec = blk(c.spec);
        Cell collected{};
        function::collect_locals(spec, blk(c.body), collected);
        EXPECT_EQ(mold(spec, {.flat = true}), c.result) << c.spec << " | " << c.body;
    }
    EXPECT_EQ(error_of([] {
                  Cell spec = blk("x /extern y 1");
                  Cell collected{};
                  function::collect_locals(spec, blk(""), collected);
              }),
              "bad-func-extern");
}

TEST(FunctionMake, ContextBodyCopyAndOwner) {
    Cell body = blk("a + b");
    Cell spec = blk("a b /local c");
    Cell fn{};
    const NodeId ctx = function::make_at(fn, spec, &body, 0, 0, 0, 0);
    ASSERT_TRUE(fn.is(TypeId::function));
    EXPECT_EQ(fn.code_entry(), ctx);
    EXPECT_EQ(context::word_count(ctx), 4);  // a b /local c
    EXPECT_EQ(context::owner(ctx)->code_extra(), fn.code_extra());
    const Cell copy = *function::extra_cell(fn, function::extra_body);
    EXPECT_NE(copy.series_node(), body.series_node());
    EXPECT_EQ(block::get_cell(copy, 0)->word_context(), ctx);
    EXPECT_NE(block::get_cell(body, 0)->word_context(), ctx);  // the original stays as it was
    EXPECT_EQ(mold(fn, {.flat = true}), "func [a b /local c][a + b]");

    Cell words_field{};
    word::make_at(symbol::make("words"), words_field);
    Cell v = fn;
    function::reflect(&v, &words_field);
    EXPECT_EQ(mold(v, {.flat = true}), "[a b local c]");
    EXPECT_EQ(block::get_cell(v, 1)->word_context(), ctx);
    EXPECT_EQ(block::get_cell(v, 1)->word_index(), 1);

    Cell bad{};
    word::make_at(symbol::make("class"), bad);
    v = fn;
    EXPECT_EQ(error_of([&] { function::reflect(&v, &bad); }), "not-done");

    Cell bare{};
    function::make_at(bare, blk("a"), nullptr, 0, 0, 0, 0);
    EXPECT_EQ(mold(bare, {.flat = true}), "func [a] none");

    Cell offset = blk("x y");
    offset.set_series_head(1);
    Cell from_index{};
    function::make_at(from_index, offset, nullptr, 0, 0, 0, 0);
    EXPECT_EQ(mold(from_index, {.flat = true}), "func [y] none");  // a spec not at its head is copied from there
}

TEST(FunctionMake, MakeFunctionAndItsRefusals) {
    Cell arg = blk("[ a ] [ a ]");
    Cell out{};
    ASSERT_TRUE(function::make(&out, &arg, TypeId::function)->is(TypeId::function));
    const char* refused[] = {"[ a ]", "1 [ a ]", "[ a ] 1", "[ 1 ] [ ]"};
    for (const char* r : refused) {
        Cell a = blk(r);
        EXPECT_EQ(error_of([&] { function::make(&out, &a, TypeId::function); }), "bad-func-def") << r;
    }
}

TEST(FunctionCompare, EqualOnlyWhenTheExtraBlockIsShared) {
    Cell f = func("a", "a");
    Cell g = func("a", "a");
    Cell f2 = f;
    EXPECT_EQ(function::compare(&f, &f2, CompareOp::equal), 0);
    EXPECT_NE(function::compare(&f, &g, CompareOp::equal), 0);
    EXPECT_EQ(function::compare(&f, &g, CompareOp::lesser), not_comparable);
    Cell n{};
    n.reset(TypeId::none);
    EXPECT_EQ(function::compare(&f, &n, CompareOp::equal), not_comparable);
    EXPECT_EQ(function::count_locals(f.code_spec(), 0, true), -1);
    EXPECT_EQ(function::count_locals(blk("a /local x y").series_node(), 0, false), 3);
}

void answer(Cell* args) { integer::make_at(args[0], 42); }

TEST(Routine, ArityTableAndMold) {
    const std::int32_t id = routine::add("answer", answer);
    ASSERT_NE(routine::entry(id), nullptr);
    EXPECT_EQ(routine::entry(id + 1), nullptr);
    Cell r{};
    routine::make_at(r, blk("a [ integer! ] b c /local d"), nullptr, id, 0, true);
    ASSERT_TRUE(r.is(TypeId::routine));
    EXPECT_EQ(routine::get_arity(r), 4);  // every word! cell of the spec, locals included
    routine::make_at(r, blk("a b c"), nullptr, id, 0, false);
    EXPECT_EQ(routine::get_arity(r), 3);
    EXPECT_FALSE(r.routine_maker_flag());
    const Cell* code = function::extra_cell(r, function::extra_code);
    ASSERT_TRUE(code->is(TypeId::integer));
    Cell args[1]{};
    routine::entry(code->int_value())->code(args);
    EXPECT_EQ(args[0].int_value(), 42);
    EXPECT_EQ(mold(r, {.flat = true}), "routine [a b c] none");
    Cell spec_field{};
    word::make_at(symbol::make("spec"), spec_field);
    Cell v = r;
    registry::handler<Action::reflect>(TypeId::routine)(&v, &spec_field);
    EXPECT_EQ(mold(v, {.flat = true}), "[a b c]");
}

}  // namespace
}  // namespace kiv
