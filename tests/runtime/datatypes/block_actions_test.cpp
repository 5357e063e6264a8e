// The block! actions on values loaded from text: find and select with their
// refinements, the insertion family, sort and its comparators (an erroring
// comparator leaves the block as it was), put, take, trim, swap, copy, the
// comparison, path steps, make/to and the set operations.
#include "runtime/datatypes/block_actions.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/io/lexer.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kiv {
namespace {

using test::mold;

const auto* const env = test::boot_runtime({.library = false}, [] {
    Cell w{};
    word::make_kind_at(TypeId::word, "false", w);
    word::set_value(w, logic::false_value);
});

Cell load(const std::string& text) {
    Cell out{};
    lexer::ScanRequest request;
    lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(text.data()),
                static_cast<std::int32_t>(text.size()), request, nullptr);
    return out;
}
// The one value of text ("[a b]" is a block!, "b" a word!).
Cell value(const std::string& text) { return *block::get_cell(load(text), 0); }
Cell int_cell(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}
// The id of the language error fn raises, "" when none.
std::string raised(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

class BlockActions : public testing::Test {
protected:
    void SetUp() override {
        mark = stack::Mark();
        stack::push_barrier_frame(nullptr);
        cycles::reset();
    }
    void TearDown() override {  // an error leaves the stacks where it arose
        mark.restore();
        interpreter::clear_exit();
    }
    stack::Mark mark;  // the stacks before the test
};

// Refinements of find/select from letters: o only, c case, l last, r reverse,
// t tail, m match; part and skip as numbers (0: not given).
FindRefinements refs(const char* flags, std::int32_t part, std::int32_t skip, Cell& p, Cell& s) {
    FindRefinements r;
    for (const char* f = flags; *f; ++f) {
        switch (*f) {
        case 'o': r.only = true; break;
        case 'c': r.case_ = true; break;
        case 'l': r.last = true; break;
        case 'r': r.reverse = true; break;
        case 't': r.tail = true; break;
        case 'm': r.match = true; break;
        }
    }
    p = int_cell(part);
    s = int_cell(skip);
    if (part != 0) r.part = &p;
    if (skip != 0) r.skip = &s;
    return r;
}

TEST_F(BlockActions, FindAndSelect) {
    struct Case { const char* series; std::int32_t head; const char* value; const char* flags;
                  std::int32_t part, skip; const char* find, *select; };
    const Case cases[] = {
        {"[a b c d e]", 0, "b", "", 0, 0, "[b c d e]", "c"},
        {"[a b c d e]", 0, "[c d]", "", 0, 0, "[c d e]", "e"},          // a run of cells
        {"[a [c d] c d]", 0, "[c d]", "o", 0, 0, "[[c d] c d]", "c"},  // /only: one cell
        {"[a b c d e]", 0, "[d e]", "", 0, 0, "[d e]", "none"},         // nothing after the run
        {"[a b c d e]", 0, "[e f]", "", 0, 0, "none", "none"},          // run past the tail
        {"[a 1 b 2]", 0, "integer!", "", 0, 0, "[1 b 2]", "b"},         // by datatype
        {"[a b a c]", 0, "a", "l", 0, 0, "[a c]", "c"},
        {"[a b a c]", 3, "a", "r", 0, 0, "[a c]", "c"},
        {"[a b a c]", 0, "a", "r", 0, 0, "none", "none"},               // nothing before the head
        {"[a b c]", 0, "a", "mt", 0, 0, "[b c]", nullptr},               // select has no /match
        {"[a b c]", 0, "b", "m", 0, 0, "none", nullptr},
        {"[a b c]", 0, "[a b]", "mt", 0, 0, "[c]", nullptr},
        {"[a b c d]", 0, "c", "", 2, 0, "none", "none"},                // /part stops before it
        {"[a b c d]", 0, "c", "", 3, 0, "[c d]", "d"},
        {"[a b c d]", 0, "c", "", -1, 0, "none", "none"},
        {"[a b b a]", 0, "a", "", 0, 2, "[a b b a]", "b"},
        {"[b a a b]", 0, "a", "", 0, 2, "[a b]", "b"},                  // records of 2 cells
        {"[a b c d]", 0, "a", "t", 0, 2, "[c d]", "b"},                 // /tail skips the record
        {"[A b]", 0, "a", "", 0, 0, "[A b]", "b"},
        {"[A b]", 0, "a", "c", 0, 0, "none", "none"},                   // /case
        {"[]", 0, "a", "", 0, 0, "none", "none"},
    };
    for (const Case& c : cases) {
        Cell p{}, s{};
        const FindRefinements r = refs(c.flags, c.part, c.skip, p, s);
        Cell series = value(c.series);
        series.set_series_head(c.head);
        Cell v = value(c.value);
        if (std::string(c.value) == "integer!") datatype::make_at(TypeId::integer, v);
        Cell slot = series, arg = v;
        EXPECT_EQ(mold(*block::find(&slot, &arg, r)), c.find) << c.series << " find " << c.value << " /" << c.flags;
        if (c.select == nullptr) continue;
        slot = series, arg = v;
        EXPECT_EQ(mold(*block::select(&slot, &arg, r)), c.select) << c.series << " select " << c.value << " /" << c.flags;
    }
}

TEST_F(BlockActions, FindRejectsBadRefinementArguments) {
    Cell series = value("[a b c]"), v = value("b"), bad = value("x");
    Cell zero = int_cell(0);
    FindRefinements r;
    r.skip = &zero;
    EXPECT_EQ(raised([&] { Cell s = series, a = v; block::find(&s, &a, r); }), "out-of-range");
    r.skip = &bad;
    EXPECT_EQ(raised([&] { Cell s = series, a = v; block::find(&s, &a, r); }), "invalid-refine-arg");
    r.skip = nullptr;
    r.part = &bad;
    EXPECT_EQ(raised([&] { Cell s = series, a = v; block::find(&s, &a, r); }), "invalid-refine-arg");
}

TEST_F(BlockActions, InsertAppendChange) {
    enum Kind { ins, app, chg };
    struct Case { Kind kind; const char* series; std::int32_t head; const char* value;
                  std::int32_t part; bool only; std::int32_t dup; const char* result, *whole; };
    const Case cases[] = {
        {app, "[a b]", 1, "[c d]", -1, false, 1, "[a b c d]", "[a b c d]"},  // append: at the head
        {app, "[a b]", 0, "[c d]", -1, true, 1, "[a b [c d]]", "[a b [c d]]"},
        {app, "[a]", 0, "[b c d]", 2, false, 2, "[a b c b c]", "[a b c b c]"},
        {ins, "[a b]", 1, "[x y]", -1, false, 1, "[b]", "[a x y b]"},       // insert: after the new cells
        {ins, "[a b]", 0, "[]", -1, false, 1, "[a b]", "[a b]"},            // an empty block: no change
        {ins, "[a b]", 0, "x", -1, false, 3, "[a b]", "[x x x a b]"},
        {ins, "[a b]", 9, "x", -1, false, 1, "[]", "[a b x]"},              // head past the tail
        {chg, "[a b c]", 1, "[x y z w]", -1, false, 1, "[]", "[a x y z w]"},  // extends the block
        {chg, "[a b c d]", 0, "x", 3, false, 1, "[d]", "[x d]"},            // /part replaces 3
        {chg, "[a b c]", 0, "[x y]", -1, true, 1, "[b c]", "[[x y] b c]"},
        {chg, "[a b c]", 0, "x", -1, false, 2, "[c]", "[x x c]"},
    };
    for (const Case& c : cases) {
        Cell series = value(c.series);
        series.set_series_head(c.head);
        Cell slot = series, v = value(c.value);
        Cell* r = c.kind == ins ? block::insert(&slot, &v, c.part, c.only, c.dup)
                : c.kind == app ? block::append(&slot, &v, c.part, c.only, c.dup)
                                : block::change(&slot, &v, c.part, c.only, c.dup);
        EXPECT_EQ(mold(*r), c.result) << c.series << " with " << c.value;
        Cell whole = series;
        whole.set_series_head(0);
        EXPECT_EQ(mold(whole), c.whole) << c.series << " with " << c.value;
    }
}

TEST_F(BlockActions, InsertingABlockIntoItself) {
    Cell b = value("[a b]");
    Cell slot = b, v = b;
    block::insert(&slot, &v, -1, false, 2);
    EXPECT_EQ(mold(b), "[a b a b a b]");
}

// A function! value from spec and body text.
Cell function_of(const char* spec, const char* body) {
    Cell fn{};
    const Cell s = value(spec), b = value(body);
    function::make_at(fn, s, &b, 0, 0, 0, 0);
    return fn;
}

TEST_F(BlockActions, Sort) {
    struct Case { const char* series; bool reverse; std::int32_t skip, field; bool all; const char* result; };
    const Case cases[] = {
        {"[3 1 2]", false, 0, 0, false, "[1 2 3]"},
        {"[3 1 2]", true, 0, 0, false, "[3 2 1]"},
        {"[c 1 a 2 b 3]", false, 2, 0, false, "[a 2 b 3 c 1]"},
        {"[c 1 a 2 b 3]", false, 2, 2, false, "[c 1 a 2 b 3]"},         // by the second field
        {"[c 3 a 2 b 1]", false, 2, 2, false, "[b 1 a 2 c 3]"},
        {"[a 2 a 1 b 0]", false, 2, 0, true, "[a 1 a 2 b 0]"},          // /all: whole records
        {"[b a 2 1]", false, 0, 0, false, "[1 2 a b]"},                 // other types by type id
    };
    for (const Case& c : cases) {
        Cell b = value(c.series);
        Cell slot = b, skip = int_cell(c.skip), field = int_cell(c.field);
        block::sort(&slot, {.skip = c.skip ? &skip : nullptr, .comparator = c.field ? &field : nullptr,
                            .all = c.all, .reverse = c.reverse, .stable = c.skip != 0});
        EXPECT_EQ(mold(b), c.result) << c.series;
    }
}

TEST_F(BlockActions, SortPartMovesBackForANegativeCount) {
    Cell b = value("[4 3 2 1]");
    Cell slot = b, part = int_cell(-2);
    slot.set_series_head(2);
    block::sort(&slot, {.part = &part});
    EXPECT_EQ(slot.series_head(), 0);
    EXPECT_EQ(mold(b), "[3 4 2 1]");
}

TEST_F(BlockActions, SortRefinementErrorsLeaveTheBlockAlone) {
    Cell b = value("[3 1 2 4]");
    Cell three = int_cell(3), two = int_cell(2), zero = int_cell(0), word = value("x");
    auto run = [&](Cell* skip, Cell* cmp, bool all) {
        return raised([&] { Cell s = b; block::sort(&s, {.skip = skip, .comparator = cmp, .all = all}); });
    };
    EXPECT_EQ(run(&three, nullptr, false), "invalid-refine-arg");  // does not divide the count
    EXPECT_EQ(run(&zero, nullptr, false), "invalid-refine-arg");
    EXPECT_EQ(run(nullptr, nullptr, true), "bad-refines");          // /all without /skip
    EXPECT_EQ(run(nullptr, &two, false), "bad-refines");            // a field without /skip
    EXPECT_EQ(run(&two, &two, true), "bad-refines");
    EXPECT_EQ(run(&two, &three, false), "out-of-range");
    EXPECT_EQ(run(nullptr, &word, false), "invalid-refine-arg");
    EXPECT_EQ(mold(b), "[3 1 2 4]");
}

TEST_F(BlockActions, SortByFunction) {
    Cell never = function_of("[a b]", "[false]");
    Cell b = value("[1 2 3 4 5]");
    Cell slot = b;
    block::sort(&slot, {.comparator = &never, .stable = true});
    EXPECT_EQ(mold(b), "[1 2 3 4 5]");  // an ordered block stays ordered

    Cell failing = function_of("[a b]", "[no-such-word]");
    Cell c = value("[5 3 4 1 2]");
    for (bool stable : {false, true}) {
        slot = c;
        EXPECT_NE(raised([&] { block::sort(&slot, {.comparator = &failing, .stable = stable}); }), "");
        EXPECT_EQ(stack::top_frame(), mark.frames_top());  // back under the test's barrier
        EXPECT_EQ(mold(c), "[5 3 4 1 2]");
    }
}

TEST_F(BlockActions, PutTakeTrimSwap) {
    Cell b = value("[a 1 b 2]");
    Cell slot = b, k = value("b"), v = int_cell(9);
    block::put(&slot, &k, &v, false);
    slot = b, k = value("c");
    block::put(&slot, &k, &v, false);
    EXPECT_EQ(mold(b), "[a 1 b 9 c 9]");

    slot = b;
    EXPECT_EQ(mold(*block::take(&slot, nullptr, false, false)), "a");
    Cell part = int_cell(2);
    slot = b;
    EXPECT_EQ(mold(*block::take(&slot, &part, false, true)), "[c 9]");
    EXPECT_EQ(mold(b), "[1 b 9]");

    Cell t = value("[a b]");
    block::insert_value(t, none::value, true, false);
    block::append_copy(t, none::value);
    slot = t;
    block::trim(&slot, {});
    EXPECT_EQ(mold(t), "[a b]");

    Cell x = value("[1 2]"), y = value("[a b]");
    y.set_series_head(1);
    slot = x;
    block::swap(&slot, &y);
    EXPECT_EQ(mold(x) + mold(value("[]")), "[b 2][]");
    Cell n = int_cell(1);
    EXPECT_EQ(raised([&] { Cell s = x; block::swap(&s, &n); }), "invalid-arg");
}

TEST_F(BlockActions, Copy) {
    Cell b = value("[a [b c] d]");
    Cell slot = b;
    Cell deep = *block::copy(&slot, nullptr, true, nullptr);
    Cell inner = *block::get_cell(deep, 1);
    Cell orig_inner = *block::get_cell(b, 1);
    EXPECT_NE(inner.series_node(), orig_inner.series_node());
    EXPECT_EQ(mold(deep), "[a [b c] d]");

    Cell part = int_cell(-1);
    slot = b;
    slot.set_series_head(2);
    EXPECT_EQ(mold(*block::copy(&slot, &part, false, nullptr)), "[[b c]]");

    Cell self = value("[a]");
    block::append_copy(self, self);
    slot = self;
    EXPECT_EQ(raised([&] { block::copy(&slot, nullptr, true, nullptr); }), "no-cycle");
}

TEST_F(BlockActions, Compare) {
    struct Case { const char* a, *b; CompareOp op; std::int32_t result; };
    const Case cases[] = {
        {"[]", "[1 2]", CompareOp::lesser, 0},       // an empty block orders level with any
        {"[1]", "[1 2]", CompareOp::equal, 1},       // lengths differ: not equal
        {"[1 2]", "[1 3]", CompareOp::lesser, -1},
        {"[1 a]", "[1 a]", CompareOp::equal, 0},
        {"[1 2]", "[1]", CompareOp::greater, 1},
        {"[a]", "[1]", CompareOp::lesser, 1},         // word! after integer! by type id
    };
    for (const Case& c : cases) {
        Cell a = value(c.a), b = value(c.b);
        EXPECT_EQ(block::compare(&a, &b, c.op), c.result) << c.a << " " << c.b;
    }
    Cell a = value("[1]"), b = a, other = value("[1]");
    EXPECT_EQ(block::compare(&a, &b, CompareOp::same), 0);
    EXPECT_EQ(block::compare(&a, &other, CompareOp::same), -1);
    Cell self = value("[x]");
    block::append_copy(self, self);
    Cell self2 = self;
    self2.set_series_head(0);
    Cell copy = value("[x]");
    block::append_copy(copy, self);
    EXPECT_EQ(raised([&] { block::compare(&copy, &self2, CompareOp::equal); }), "");  // ends
}

TEST_F(BlockActions, PathSteps) {
    Cell b = value("[a 1 b [x]]");
    Cell two = int_cell(2), w = value("b"), missing = value("zz");
    PathStep step;
    EXPECT_EQ(mold(*block::eval_path(&b, &two, nullptr, step)), "1");
    EXPECT_EQ(mold(*block::eval_path(&b, &w, nullptr, step)), "[x]");
    EXPECT_EQ(mold(*block::eval_path(&b, &missing, nullptr, step)), "none");
    Cell v = int_cell(7);
    block::eval_path(&b, &w, &v, step);
    EXPECT_EQ(mold(b), "[a 1 b 7]");
    EXPECT_EQ(raised([&] { block::eval_path(&b, &missing, &v, step); }), "bad-path-set");
}

TEST_F(BlockActions, MakeAndTo) {
    Cell proto = value("[]"), n = int_cell(10), src = value("[a b]"), one = int_cell(5);
    Cell* made = block::make(&proto, &n, TypeId::block);
    EXPECT_EQ(mold(*made), "[]");
    proto = value("[]");
    EXPECT_EQ(mold(*block::make(&proto, &src, TypeId::paren)), "(a b)");
    proto = value("[]");
    EXPECT_EQ(mold(*block::to(&proto, &one, TypeId::block)), "[5]");
    Cell text = value("\"x 1 [y]\"");
    proto = value("[]");
    EXPECT_EQ(mold(*block::to(&proto, &text, TypeId::block)), "[x 1 [y]]");
    proto = value("[]");
    Cell bad = value("x");
    EXPECT_EQ(raised([&] { block::make(&proto, &bad, TypeId::block); }), "bad-make-arg");
}

TEST_F(BlockActions, SetOperations) {
    struct Case { block::SetOp op; const char* a, *b; std::int32_t skip; const char* result; };
    const Case cases[] = {
        {block::SetOp::unique, "[a b a c b]", nullptr, 0, "[a b c]"},
        {block::SetOp::union_, "[a b]", "[b c]", 0, "[a b c]"},
        {block::SetOp::intersect, "[a b c]", "[c b d]", 0, "[b c]"},
        {block::SetOp::exclude, "[a b c]", "[b]", 0, "[a c]"},
        {block::SetOp::difference, "[a b c]", "[b d]", 0, "[a c d]"},
        {block::SetOp::unique, "[a 1 a 2 b 3]", nullptr, 2, "[a 1 b 3]"},
        {block::SetOp::unique, "[[x] [x] 1]", nullptr, 0, "[[x] 1]"},
    };
    for (const Case& c : cases) {
        Cell a = value(c.a), b = c.b ? value(c.b) : Cell{}, skip = int_cell(c.skip);
        block::set_operation(&a, c.b ? &b : nullptr, false, c.skip ? &skip : nullptr, c.op);
        EXPECT_EQ(mold(a), c.result) << c.a;
    }
    Cell a = value("[a]"), zero = int_cell(0);
    EXPECT_EQ(raised([&] { block::set_operation(&a, nullptr, false, &zero, block::SetOp::unique); }),
              "invalid-refine-arg");
}

}  // namespace
}  // namespace kiv
