// Action dispatch: specs, entries on block! and string!, the /part and /dup
// pre-processing of append, the comparison mapping and the missing-handler error.
#include "runtime/evaluator/actions.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

// What the stand-in append handler of event! last received.
struct Seen {
    std::int32_t head = -1, part = 0, count = 0;
    bool only = false, called = false;
} seen;

Cell* record_insert(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t count) {
    seen = {value->series_head(), part, count, only, true};
    return series;
}
std::int32_t order_of(Cell* a, Cell* b, CompareOp) {
    if (a->data1 == 99 || b->data1 == 99) return not_comparable;
    return static_cast<std::int32_t>(a->data1) - static_cast<std::int32_t>(b->data1);
}

// event! stands in for a type whose handlers the tests watch.
const auto* const runtime_env = test::boot_runtime({.library = false}, [] {
    registry::register_type({TypeId::event, registry::table({
        {Action::compare, &order_of},
        {Action::append, &record_insert},
    })});
});

Cell int_cell(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}
Cell event_cell(std::uint32_t v) {
    Cell c{};
    c.reset(TypeId::event);
    c.data1 = v;
    return c;
}
Cell block_of(std::int32_t n, std::int32_t head) {
    Cell b{};
    block::make_at(b, n);
    for (std::int32_t i = 0; i < n; ++i) block::append_copy(b, int_cell(i));
    b.set_series_head(head);
    return b;
}
template <typename Fn>
std::string raised(Fn&& fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

class Actions : public testing::Test {
protected:
    static void SetUpTestSuite() { booted = stack::Mark(); }
    void SetUp() override {
        booted.restore();  // the stacks as the boot left them
        seen = {};
    }
    static inline stack::Mark booted;
    // Calls action a with the given argument cells on a fresh frame; returns the result.
    static Cell call(Action a, std::initializer_list<Cell> cells, const std::int32_t* refinements = nullptr) {
        stack::push_call_frame(nullptr);
        for (const Cell& c : cells) stack::push(c);
        actions::call(a, refinements);
        const Cell result = *stack::base();
        stack::pop_frame();
        return result;
    }
};

TEST_F(Actions, SpecsGiveArgumentAndRefinementCounts) {
    EXPECT_STREQ(actions::spec(Action::append).name, "append");
    EXPECT_EQ(actions::argument_count(Action::append), 2);
    EXPECT_EQ(actions::refinement_count(Action::append), 3);
    EXPECT_EQ(actions::refinement_argument_count(Action::append, 2), 1);  // /dup count
    EXPECT_EQ(actions::refinement_count(Action::find), 11);
    EXPECT_EQ(actions::refinement_count(Action::write), 8);
    EXPECT_EQ(actions::entry(Action::reserved), nullptr);
}

TEST_F(Actions, LengthDispatchesOnTheFirstArgumentsType) {
    const Cell b = call(Action::length_q, {block_of(5, 2)});
    EXPECT_TRUE(b.is(TypeId::integer));
    EXPECT_EQ(b.int_value(), 3);
    Cell s{};
    string::make_at(s, 8);
    string::append_nul_text(s.series_node(), "hello");
    EXPECT_EQ(call(Action::length_q, {s}).int_value(), 5);
}

TEST_F(Actions, AppendPartAndDupArePreprocessed) {
    struct Case {
        std::int32_t value_head, part, dup;    // part/dup 0x7fff: refinement unused
        bool called;
        std::int32_t head, passed_part, count;
    };
    constexpr std::int32_t no = 0x7fff;
    const Case cases[] = {
        {0, no, no, true, 0, -1, 1},
        {1, 0, no, false, 0, 0, 0},          // /part 0: nothing
        {3, -2, no, true, 1, 2, 1},          // negative part: the values before
        {1, -5, no, true, 0, 1, 1},          // moved back no further than the head
        {0, -1, no, false, 0, 0, 0},         // negative part at the head: nothing
        {0, no, 0, false, 0, 0, 0},          // /dup 0: nothing
        {0, 2, 3, true, 0, 2, 3},
    };
    for (const Case& c : cases) {
        seen = {};
        std::int32_t refs[3] = {actions::unused, actions::unused, actions::unused};
        std::initializer_list<Cell> two = {event_cell(1), block_of(5, c.value_head)};
        stack::push_call_frame(nullptr);
        for (const Cell& x : two) stack::push(x);
        if (c.part != no) { refs[0] = 2; stack::push(int_cell(c.part)); }
        if (c.dup != no) { refs[2] = static_cast<std::int32_t>(stack::top() - stack::base()); stack::push(int_cell(c.dup)); }
        actions::call(Action::append, refs);
        stack::pop_frame();
        EXPECT_EQ(seen.called, c.called) << c.value_head << " " << c.part << " " << c.dup;
        if (!c.called) continue;
        EXPECT_EQ(seen.head, c.head);
        EXPECT_EQ(seen.part, c.passed_part);
        EXPECT_EQ(seen.count, c.count);
    }
}

TEST_F(Actions, AppendPartMustFitTheValue) {
    std::int32_t refs[3] = {2, actions::unused, actions::unused};
    Cell other = block_of(3, 0);
    EXPECT_EQ(raised([&] { call(Action::append, {event_cell(1), int_cell(5), int_cell(1)}, refs); }),
              "invalid-part");
    EXPECT_EQ(raised([&] { call(Action::append, {event_cell(1), block_of(3, 0), other}, refs); }),
              "invalid-refine-arg");
}

TEST_F(Actions, ComparisonMapsOrdersToOperators) {
    Cell one = event_cell(1), two = event_cell(2), odd = event_cell(99);
    EXPECT_TRUE(actions::compare(&one, &two, CompareOp::lesser));
    EXPECT_FALSE(actions::compare(&one, &two, CompareOp::greater_or_equal));
    EXPECT_TRUE(actions::compare(&one, &two, CompareOp::not_equal));
    EXPECT_TRUE(actions::compare(&two, &two, CompareOp::strict_equal));
    EXPECT_FALSE(actions::compare(&one, &odd, CompareOp::equal));   // unordered: not equal
    EXPECT_TRUE(actions::compare(&one, &odd, CompareOp::not_equal));
    EXPECT_EQ(raised([&] { actions::compare(&one, &odd, CompareOp::lesser); }), "invalid-compare");
}

TEST_F(Actions, ATypeWithoutTheActionRaisesExpectArg) {
    EXPECT_EQ(raised([] { call(Action::length_q, {int_cell(3)}); }), "expect-arg");
    EXPECT_EQ(raised([] { call(Action::append, {int_cell(1), int_cell(3)}); }), "expect-arg");
}

}  // namespace
}  // namespace kiv
