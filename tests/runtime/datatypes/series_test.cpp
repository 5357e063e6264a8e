// series! position edge cases and the unit-moving handlers, on blocks of
// integers (positions never read outside a buffer).
#include "runtime/datatypes/series.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv {
namespace {

class Series : public testing::Test {
protected:
    void SetUp() override {
        memory::init();
        registry::init();
        series::init();
        block::init();
    }
    void TearDown() override { memory::free_all(); }

    static Cell ints(std::vector<int> values, std::int32_t head = 0) {
        Cell b{};
        block::make_at(b, 1);
        for (int v : values) block::append_copy(b, integer(v));
        b.set_series_head(head);
        return b;
    }
    static Cell integer(int v) {
        Cell c{};
        c.reset(TypeId::integer);
        c.set_int(v);
        return c;
    }
    static std::vector<int> values(const Cell& b) {
        std::vector<int> out;
        for (std::int32_t i = 0; i < series::buffer_length(b); ++i) out.push_back(block::get_cell(b, i)->int_value());
        return out;
    }
    template <Action A, typename... Args>
    static Cell* call(Args... args) { return registry::handler<A>(TypeId::block)(args...); }
};

TEST_F(Series, AtAndSkipClampIntoTheSeries) {
    struct Case { std::int32_t head, n, at, skip; };
    for (const Case& k : {Case{2, 0, 2, 2}, Case{2, 1, 2, 3}, Case{2, -1, 1, 1}, Case{2, 99, 5, 5},
                          Case{2, -99, 0, 0}, Case{0, INT32_MAX, 5, 5}, Case{5, INT32_MIN, 0, 0}}) {
        EXPECT_EQ(series::at_index(k.head, k.n, 5), k.at) << k.head << " at " << k.n;
        EXPECT_EQ(series::skip_index(k.head, k.n, 5), k.skip) << k.head << " skip " << k.n;
    }
    Cell b = ints({1, 2}), word{};
    word.reset(TypeId::none);
    EXPECT_THROW(call<Action::at>(&b, &word), LanguageError);
}

TEST_F(Series, NavigationStopsAtTheEnds) {
    Cell b = ints({1, 2}, 0);
    call<Action::back>(&b);
    EXPECT_EQ(b.series_head(), 0);
    b.set_series_head(2);
    call<Action::next>(&b);
    EXPECT_EQ(b.series_head(), 2);
    Cell index = integer(0), out = b;
    out.set_series_head(1);
    EXPECT_TRUE(call<Action::pick>(&out, &index)->is(TypeId::none));
    out = b;
    out.set_series_head(1);
    index = integer(-1);
    EXPECT_EQ(call<Action::pick>(&out, &index)->int_value(), 1);
}

TEST_F(Series, LengthOfAHeadPastTheShortenedTail) {
    Cell b = ints({1, 2, 3, 4});
    Cell later = b;
    later.set_series_head(3);
    Cell part = integer(3);
    call<Action::remove>(&b, &part, nullptr);
    EXPECT_EQ(registry::handler<Action::length_q>(TypeId::block)(&later), 0);
    EXPECT_EQ(later.series_head(), 1);
}

TEST_F(Series, RemovePartBeyondTheTailCutsAtTheHead) {
    Cell b = ints({1, 2, 3, 4}, 1);
    Cell part = integer(10);
    call<Action::remove>(&b, &part, nullptr);
    EXPECT_EQ(values(b), (std::vector<int>{1}));
    Cell zero = integer(0);
    call<Action::remove>(&b, &zero, nullptr);
    EXPECT_EQ(values(b), (std::vector<int>{1}));
}

TEST_F(Series, ReverseWithSkipRecords) {
    Cell b = ints({1, 2, 3, 4, 5, 6});
    Cell size = integer(2);
    call<Action::reverse>(&b, nullptr, &size);
    EXPECT_EQ(values(b), (std::vector<int>{5, 6, 3, 4, 1, 2}));
    Cell four = integer(4);
    EXPECT_THROW(call<Action::reverse>(&b, nullptr, &four), LanguageError);
    Cell six = integer(6);
    call<Action::reverse>(&b, nullptr, &six);  // size equal to the count: unchanged
    EXPECT_EQ(values(b), (std::vector<int>{5, 6, 3, 4, 1, 2}));
}

TEST_F(Series, CopyPartNegativeCopiesBeforeTheHead) {
    Cell b = ints({1, 2, 3, 4}, 3);
    Cell part = integer(-2);
    Cell* copy = registry::handler<Action::copy>(TypeId::series)(&b, &part, false, nullptr);
    EXPECT_EQ(values(*copy), (std::vector<int>{2, 3}));
    Cell far = ints({1, 2}, 1);
    part = integer(-5);
    copy = registry::handler<Action::copy>(TypeId::series)(&far, &part, false, nullptr);
    EXPECT_EQ(values(*copy), (std::vector<int>{1}));
}

TEST_F(Series, MoveWithinOneBlock) {
    Cell b = ints({1, 2, 3, 4, 5});
    Cell target = b;
    target.set_series_head(2);
    call<Action::move>(&b, &target, nullptr);
    EXPECT_EQ(values(b), (std::vector<int>{2, 3, 1, 4, 5}));
    Cell from = b;
    from.set_series_head(3);
    Cell to = b;
    to.set_series_head(0);
    Cell two = integer(2);
    call<Action::move>(&from, &to, &two);
    EXPECT_EQ(values(b), (std::vector<int>{4, 5, 2, 3, 1}));
}

TEST_F(Series, TakeFromHeadTailAndBeforeTheHead) {
    Cell b = ints({1, 2, 3, 4, 5}, 2);
    Cell part = integer(-2);
    Cell s = b;
    EXPECT_EQ(values(*series::take(&s, &part, false, false)),
              (std::vector<int>{1, 2}));
    EXPECT_EQ(values(b), (std::vector<int>{3, 4, 5}));
    s = b;
    s.set_series_head(0);
    EXPECT_EQ(values(*series::take(&s, nullptr, false, true)),
              (std::vector<int>{5}));
    Cell zero = integer(0);
    s = b;
    s.set_series_head(0);
    EXPECT_EQ(values(*series::take(&s, &zero, false, false)),
              (std::vector<int>{}));
    EXPECT_EQ(values(b), (std::vector<int>{3, 4}));
}

}  // namespace
}  // namespace kiv
