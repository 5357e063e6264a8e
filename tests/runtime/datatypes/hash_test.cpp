// hash!: find and select through the index (duplicates, head, /part, /case),
// and the index kept in step with the block through each changing action.
#include "runtime/datatypes/hash.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

Cell int_of(std::int32_t v) {
    Cell c{};
    integer::make_at(c, v);
    return c;
}
Cell str_of(const char* text) {
    Cell s{};
    string::make_at(s, 8);
    string::append_nul_text(s.series_node(), text);
    return s;
}
// A hash! of the integers given.
Cell hash_of(std::initializer_list<std::int32_t> values) {
    Cell b{};
    block::make_at(b, 4);
    for (std::int32_t v : values) block::append_copy(b, int_of(v));
    Cell h{};
    hash::make_at(h, b);
    return h;
}
std::int32_t length(const Cell& h) {
    return memory::buffer(h.series_node())->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
}
// Index of the first match from the head (through find), or -1.
std::int32_t find(const Cell& h, Cell value, FindRefinements r = {}) {
    Cell s = h;
    const Cell* out = registry::handler<Action::find>(TypeId::hash)(&s, &value, r);
    return out->is(TypeId::hash) ? out->series_head() : -1;
}
// Every cell is indexed at its own position, and nothing else is.
void expect_in_step(const Cell& h) {
    const NodeId table = hash::table_of(h);
    EXPECT_EQ(hashtable::values_of(table), h.series_node());
    EXPECT_EQ(hashtable::record(table)->count, length(h));
    for (std::int32_t p = 0; p < length(h); ++p) {
        const Cell c = *block::get_cell(h, p);
        EXPECT_EQ(hashtable::find(table, c, p, p + 1, CompareOp::strict_equal, 0), p) << "at " << p;
    }
}

TEST(Hash, FindThroughTheIndex) {
    const Cell h = hash_of({5, 7, 5, 9, 7});
    EXPECT_EQ(find(h, int_of(5)), 0);
    EXPECT_EQ(find(h, int_of(9)), 3);
    EXPECT_EQ(find(h, int_of(4)), -1);
    Cell from = h;
    from.set_series_head(1);
    EXPECT_EQ(find(from, int_of(5)), 2);  // duplicates: the first one from the head
    FindRefinements part;
    Cell two = int_of(1);
    part.part = &two;
    EXPECT_EQ(find(from, int_of(5), part), -1);  // only [7] is searched
    FindRefinements tail;
    tail.tail = true;
    EXPECT_EQ(find(h, int_of(9), tail), 4);
    Cell s = h, key = int_of(7);
    EXPECT_EQ(registry::handler<Action::select>(TypeId::hash)(&s, &key, FindRefinements{})->int_value(), 5);
    s = h, key = int_of(9);
    EXPECT_EQ(registry::handler<Action::select>(TypeId::hash)(&s, &key, FindRefinements{})->int_value(), 7);
}

TEST(Hash, TextKeysAndCase) {
    Cell b{};
    block::make_at(b, 4);
    block::append_copy(b, str_of("Abc"));
    block::append_copy(b, str_of("abc"));
    Cell h{};
    hash::make_at(h, b);
    EXPECT_EQ(find(h, str_of("ABC")), 0);
    FindRefinements case_;
    case_.case_ = true;
    EXPECT_EQ(find(h, str_of("abc"), case_), 1);
    EXPECT_EQ(find(h, str_of("ABC"), case_), -1);
}

TEST(Hash, IndexFollowsEveryChange) {
    const Cell h = hash_of({1, 2, 3, 4, 5, 6});
    Cell s = h, idx = int_of(2), v = int_of(20);
    registry::handler<Action::poke>(TypeId::hash)(&s, &idx, &v);
    expect_in_step(h);
    EXPECT_EQ(find(h, int_of(20)), 1);
    EXPECT_EQ(find(h, int_of(2)), -1);

    s = h;
    registry::handler<Action::remove>(TypeId::hash)(&s, nullptr, nullptr);
    expect_in_step(h);
    EXPECT_EQ(find(h, int_of(20)), 0);

    s = h;
    registry::handler<Action::reverse>(TypeId::hash)(&s, nullptr, nullptr);
    expect_in_step(h);
    EXPECT_EQ(find(h, int_of(6)), 0);

    s = h;
    Cell two = int_of(2);
    registry::handler<Action::take>(TypeId::hash)(&s, &two, false, true);
    expect_in_step(h);
    EXPECT_EQ(find(h, int_of(3)), -1);
    if (s.is(TypeId::hash)) expect_in_step(s);  // the taken cells index their own buffer

    s = h;
    s.set_series_head(1);
    registry::handler<Action::clear>(TypeId::hash)(&s);
    expect_in_step(h);
    EXPECT_EQ(length(h), 1);
    s = h;
    registry::handler<Action::clear>(TypeId::hash)(&s);
    expect_in_step(h);
    EXPECT_EQ(find(h, int_of(6)), -1);
}

TEST(Hash, MakeAndCopyKeepTheirOwnIndex) {
    const Cell h = hash_of({1, 2, 1});
    Cell c = h;
    hash::copy(&c, nullptr, false, nullptr);
    ASSERT_TRUE(c.is(TypeId::hash));
    EXPECT_NE(c.series_node(), h.series_node());
    expect_in_step(c);
    Cell s = c, idx = int_of(1), v = int_of(9);
    registry::handler<Action::poke>(TypeId::hash)(&s, &idx, &v);
    EXPECT_EQ(find(h, int_of(1)), 0);  // the original is untouched
    EXPECT_EQ(find(c, int_of(1)), 2);
    Cell from = h;
    from.set_series_head(1);
    hash::copy(&from, nullptr, false, nullptr);
    expect_in_step(from);
    EXPECT_EQ(length(from), 2);

    Cell made{}, n = int_of(0);
    datatype::make_at(TypeId::hash, made);
    hash::make(&made, &n, TypeId::hash);
    ASSERT_TRUE(made.is(TypeId::hash));
    EXPECT_EQ(length(made), 0);
    EXPECT_EQ(find(made, int_of(1)), -1);
    // Other specs go through to block!: a paren's cells are copied and indexed.
    Cell paren = hash_of({4, 5});
    paren.set_type(TypeId::paren);
    paren.set_series_extra(0);
    hash::make(&made, &paren, TypeId::hash);
    ASSERT_TRUE(made.is(TypeId::hash));
    expect_in_step(made);
    EXPECT_EQ(find(made, int_of(5)), 1);
}

TEST(Hash, LargeIndexFindsEveryValue) {
    Cell b{};
    block::make_at(b, 20000);
    for (std::int32_t i = 0; i < 20000; ++i) block::append_copy(b, int_of(i * 7));
    Cell h{};
    hash::make_at(h, b);
    for (std::int32_t i = 0; i < 20000; i += 997) EXPECT_EQ(find(h, int_of(i * 7)), i);
    EXPECT_EQ(find(h, int_of(3)), -1);
}

}  // namespace
}  // namespace kiv
