// The series layer of blocks: navigation, insertion and removal, look-ups,
// deep clones; the mold walk (new-line markers, indentation, part budget),
// cycle markers, paren! and path molds, and the cycle stack's limit.
#include "runtime/datatypes/block.h"

#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

// Stand-in for integer! mold until its module exists: the value's letter
// ('a' + n), so cells read like words in the expected texts.
std::int32_t letter_mold(Cell* value, NodeId out, MoldOptions, Cell*, std::int32_t part,
                         std::int32_t) {
    string::append_char(out, static_cast<std::uint32_t>('a' + value->int_value()));
    return part - 1;
}
std::int32_t letter_form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return letter_mold(value, out, {}, nullptr, part, 0);
}
std::int32_t letter_compare(Cell* value1, Cell* value2, CompareOp) {
    if (!value2->is(TypeId::integer)) return -2;
    return value1->int_value() < value2->int_value() ? -1 : value1->int_value() > value2->int_value();
}

class Blocks : public testing::Test {
protected:
    void SetUp() override {
        memory::init();
        registry::init();
        registry::ActionTable t{};
        t[static_cast<std::size_t>(Action::form) - 1] = &letter_form;
        t[static_cast<std::size_t>(Action::mold) - 1] = &letter_mold;
        t[static_cast<std::size_t>(Action::compare) - 1] = &letter_compare;
        registry::register_type({TypeId::integer, t});
        series::init();
        block::init();
        path::init();
        paren::init();
        cycles::reset();
    }
    void TearDown() override { memory::free_all(); }

    // A block of letters; an upper-case letter carries the new-line marker.
    static Cell letters(const char* spec, TypeId type = TypeId::block) {
        Cell b{};
        block::make_at(b, 1);
        for (const char* p = spec; *p; ++p) {
            Cell v{};
            v.reset(TypeId::integer);
            const bool marked = *p >= 'A' && *p <= 'Z';
            v.set_int((marked ? *p - 'A' : *p - 'a'));
            v.set_new_line(marked);
            block::append_copy(b, v);
        }
        b.set_type(type);
        return b;
    }
    static std::string text_of(const Cell& s) {
        std::string out;
        for (std::int32_t i = 0; i < string::length_from_start(s); ++i)
            out += static_cast<char>(string::get_char_at_index(s, i));
        return out;
    }
    static std::string mold(const Cell& v, bool only = false, bool flat = false) {
        Cell out{};
        string::make_at(out, 16);
        Cell value = v;
        registry::handler<Action::mold>(v.type())(
            &value, out.series_node(), {.only = only, .flat = flat}, nullptr, 1000, 0);
        return text_of(out);
    }
};

// A letter as the integer! cell the fixture molds as that letter.
Cell letter(char c) {
    Cell v{};
    v.reset(TypeId::integer);
    v.set_int(c - 'a');
    return v;
}

TEST_F(Blocks, InsertAndRemoveKeepTheHeadWhereTheCallSays) {
    struct Case { const char* cells; std::int32_t head; bool from_first, advance; const char* whole; std::int32_t new_head; };
    const Case cases[] = {
        {"bc", 0, false, false, "[a b c]", 0},
        {"bc", 1, false, false, "[b a c]", 1},
        {"bc", 1, false, true, "[b a c]", 2},
        {"bc", 1, true, false, "[a b c]", 1},
        {"", 0, false, true, "[a]", 1},
    };
    for (const Case& k : cases) {
        Cell b = letters(k.cells);
        b.set_series_head(k.head);
        const Cell* made = block::insert_value(b, letter('a'), k.from_first, k.advance);
        EXPECT_EQ(made->int_value(), 0) << k.cells;
        EXPECT_EQ(b.series_head(), k.new_head) << k.cells;
        b.set_series_head(0);
        EXPECT_EQ(mold(b), k.whole) << k.cells;
    }
    Cell b = letters("abcb");
    b.set_series_head(2);
    EXPECT_TRUE(block::remove_value(b, letter('b'), false));   // from the head: the last b
    EXPECT_FALSE(block::remove_value(b, letter('a'), false));  // before the head
    EXPECT_TRUE(block::remove_value(b, letter('a'), true));
    b.set_series_head(0);
    EXPECT_EQ(mold(b), "[b c]");
    block::remove_last(b);
    block::remove_last(b);
    block::remove_last(b);  // harmless when empty
    EXPECT_EQ(block::length_of(b), 0);
}

TEST_F(Blocks, NavigationAndLookUps) {
    Cell b = letters("abc");
    EXPECT_EQ(block::count_from_head(b), 3);
    EXPECT_FALSE(block::advance(b));
    EXPECT_FALSE(block::advance(b));
    EXPECT_TRUE(block::advance(b));
    EXPECT_TRUE(block::advance(b));  // never past the tail
    EXPECT_TRUE(block::at_tail_q(b));
    EXPECT_EQ(block::count_from_head(b), 0);
    b.set_series_head(7);  // a head past the tail reads as the tail
    EXPECT_EQ(block::head_cell(b), block::tail_cell(b));
    EXPECT_EQ(block::clamped_head(b), 3);
    b.set_series_head(0);
    EXPECT_EQ(block::select_value(b, letter('a')).int_value(), 1);
    EXPECT_TRUE(block::select_value(b, letter('c')).is(TypeId::none));  // last cell: nothing after
    EXPECT_TRUE(block::select_value(b, letter('z')).is(TypeId::none));
    b.set_series_head(1);
    block::clear_from_head(b);
    b.set_series_head(0);
    EXPECT_EQ(mold(b), "[a]");
}

TEST_F(Blocks, AppendAndInsertCellsSplice) {
    Cell target = letters("ad");
    target.set_series_head(1);
    block::insert_cells(target, letters("bc"));
    EXPECT_EQ(target.series_head(), 3);
    target.set_series_head(0);
    block::append_cells(target, letters("ef"));
    EXPECT_EQ(mold(target), "[a b c d e f]");
    block::append_cells(target, target);  // its own cells: a copy of the cells before the call
    EXPECT_EQ(block::length_of(target), 12);
    Cell filled{};
    block::make_at_filled(filled, 2, false);
    EXPECT_TRUE(block::get_cell(filled, 1)->is(TypeId::unset));
    block::set_tail(filled, 1);
    EXPECT_EQ(block::count_from_head(filled), 1);
}

TEST_F(Blocks, NewLineMarkersAndIndentation) {
    struct Case { const char* cells; bool flat; const char* text; };
    const Case cases[] = {
        {"xyz", false, "[x y z]"},
        {"xYz", false, "[x\ny z]"},
        {"Xy", false, "[\n    x y\n]"},
        {"XY", false, "[\n    x\n    y\n]"},
        {"XyZ", true, "[x y z]"},
        {"", false, "[]"},
    };
    for (const Case& k : cases) EXPECT_EQ(mold(letters(k.cells), false, k.flat), k.text) << k.cells;
}

TEST_F(Blocks, NestedBlocksIndentOneLevelMore) {
    Cell outer = letters("X");
    Cell inner = letters("Yz");
    inner.set_new_line(true);
    block::append_copy(outer, inner);
    EXPECT_EQ(mold(outer), "[\n    x\n    [\n        y z\n    ]\n]");
}

TEST_F(Blocks, OnlyDropsBracketsAndTheFirstBreak) {
    EXPECT_EQ(mold(letters("XyZ"), true), "x y\nz");  // level 0: no indentation
    EXPECT_EQ(mold(letters("xy", TypeId::paren), true), "x y");
    EXPECT_EQ(mold(letters("xy", TypeId::paren)), "(x y)");
}

TEST_F(Blocks, PartBudgetStopsBeforeTheNextCell) {
    Cell out{};
    string::make_at(out, 16);
    Cell part{};
    part.reset(TypeId::integer);
    part.set_int(3);
    const std::int32_t left =
        block::mold_cells(letters("abcdef"), out.series_node(), {}, &part, 3, 0);
    EXPECT_EQ(text_of(out), "a b");
    EXPECT_EQ(left, 0);
}

TEST_F(Blocks, SelfContainingSeriesMoldWithCycleMarkers) {
    Cell b = letters("x");
    block::append_copy(b, b);
    EXPECT_EQ(mold(b), "[x [...]]");
    Cell p = letters("x", TypeId::paren);
    block::append_copy(p, p);
    EXPECT_EQ(mold(p), "(x (...))");
    Cell path = letters("xy", TypeId::path);
    block::append_copy(path, path);
    EXPECT_EQ(mold(path), "x/y/...");
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(Blocks, PathsJoinStepsWithSlashes) {
    struct Case { TypeId type; const char* text; };
    for (const Case& k : {Case{TypeId::path, "x/y/z"}, Case{TypeId::lit_path, "'x/y/z"},
                          Case{TypeId::set_path, "x/y/z:"}, Case{TypeId::get_path, ":x/y/z"}})
        EXPECT_EQ(mold(letters("xYz", k.type)), k.text);
    Cell out{};
    string::make_at(out, 16);
    Cell p = letters("xyz", TypeId::get_path);
    registry::handler<Action::form>(TypeId::get_path)(&p, out.series_node(), nullptr, 100);
    EXPECT_EQ(text_of(out), "x/y/z");
}

TEST_F(Blocks, PathMakeAndTo) {
    Cell result{}, spec{};
    spec.reset(TypeId::integer);
    registry::handler<Action::make>(TypeId::path)(&result, &spec, TypeId::set_path);
    EXPECT_TRUE(result.is(TypeId::set_path));
    EXPECT_EQ(block::count_from_head(result), 0);

    Cell text{};
    string::make_at(text, 4);
    EXPECT_THROW(registry::handler<Action::make>(TypeId::path)(&result, &text, TypeId::path),
                 LanguageError);

    Cell b = letters("xy");
    registry::handler<Action::to>(TypeId::path)(&result, &b, TypeId::lit_path);
    EXPECT_EQ(mold(result), "'x/y");
    registry::handler<Action::to>(TypeId::path)(&result, &spec, TypeId::path);
    EXPECT_EQ(mold(result), "a");
}

TEST(Cycles, TheThousandthPushRaisesTooDeepAndEmpties) {
    cycles::reset();
    for (NodeId n = 1; n <= 999; ++n) cycles::push(n);
    EXPECT_TRUE(cycles::find(500));
    try {
        cycles::push(1000);
        FAIL() << "too-deep expected";
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "too-deep");
        EXPECT_EQ(e.category, ErrorCategory::internal);
    }
    EXPECT_EQ(cycles::depth(), 0);
    cycles::pop();  // harmless when empty
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(Blocks, DeepCloneOfASelfContainingBlockStopsAtTheCycleLimit) {
    Cell b = letters("x");
    block::append_copy(b, b);
    Cell copy{};
    EXPECT_THROW(block::clone(copy, b, true, false), LanguageError);
    EXPECT_EQ(cycles::depth(), 0);
    Cell nested = letters("Xy");
    Cell outer = letters("z");
    block::append_copy(outer, nested);
    block::clone(copy, outer, true, false);
    EXPECT_NE(block::get_cell(copy, 1)->series_node(), nested.series_node());
    EXPECT_EQ(mold(copy), "[z [\n    x y\n]]");
}

}  // namespace
}  // namespace kiv
