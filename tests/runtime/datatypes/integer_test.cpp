// integer!: arithmetic that never wraps, division and rounding edge cases,
// conversions, comparison with floats, and the decimal text.
#include "runtime/datatypes/integer.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

constexpr std::int32_t min_int = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t max_int = std::numeric_limits<std::int32_t>::max();

Cell int_cell(std::int32_t v) {
    Cell c{};
    integer::make_at(c, v);
    return c;
}

Cell float_cell(double v) {
    Cell c{};
    float_::make_at(c, v);
    return c;
}

// The id of the language error that fn raises, or "" when it raises none.
template <typename Fn>
std::string error_of(Fn fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

struct MathCase {
    std::int32_t a;
    Action action;
    std::int32_t b;
    TypeId type;  // of the result
    double value;
};

Cell* run(Action a, Cell* x, Cell* y) {
    switch (a) {
    case Action::add: return integer::add(x, y);
    case Action::subtract: return integer::subtract(x, y);
    case Action::multiply: return integer::multiply(x, y);
    case Action::divide: return integer::divide(x, y);
    case Action::remainder: return integer::remainder(x, y);
    case Action::power: return integer::power(x, y);
    default: return nullptr;
    }
}

TEST(IntegerMath, OverflowAndInexactDivisionGiveFloats) {
    const MathCase cases[] = {
        {max_int, Action::add, 1, TypeId::float_, 2147483648.0},
        {min_int, Action::subtract, 1, TypeId::float_, -2147483649.0},
        {65536, Action::multiply, 65536, TypeId::float_, 4294967296.0},
        {min_int, Action::multiply, -1, TypeId::float_, 2147483648.0},
        {max_int, Action::add, min_int, TypeId::integer, -1},
        {7, Action::divide, 2, TypeId::float_, 3.5},
        {-7, Action::divide, 2, TypeId::float_, -3.5},
        {6, Action::divide, 3, TypeId::integer, 2},
        {-7, Action::remainder, 2, TypeId::integer, -1},
        {7, Action::remainder, -2, TypeId::integer, 1},
        {2, Action::power, 10, TypeId::integer, 1024},
        {-3, Action::power, 3, TypeId::integer, -27},
        {2, Action::power, 31, TypeId::float_, 2147483648.0},
        {2, Action::power, -1, TypeId::float_, 0.5},
        {5, Action::power, 0, TypeId::integer, 1},
    };
    for (const MathCase& c : cases) {
        Cell x = int_cell(c.a);
        Cell y = int_cell(c.b);
        Cell* r = run(c.action, &x, &y);
        SCOPED_TRACE(std::to_string(c.a) + " op " + std::to_string(static_cast<int>(c.action)) +
                     " " + std::to_string(c.b));
        ASSERT_EQ(r->type(), c.type);
        if (c.type == TypeId::integer) EXPECT_EQ(r->int_value(), static_cast<std::int32_t>(c.value));
        else EXPECT_DOUBLE_EQ(r->f64(), c.value);
    }
}

TEST(IntegerMath, FloatRightOperandsGoThroughFloatMaths) {
    Cell x = int_cell(3);
    Cell y = float_cell(0.5);
    Cell* r = integer::add(&x, &y);
    ASSERT_TRUE(r->is(TypeId::float_));
    EXPECT_DOUBLE_EQ(r->f64(), 3.5);
    Cell z = int_cell(2);
    Cell e = float_cell(0.5);
    EXPECT_DOUBLE_EQ(integer::power(&z, &e)->f64(), std::sqrt(2.0));
}

TEST(IntegerMath, ErrorsWithoutAFloatFallback) {
    struct Case {
        const char* what;
        std::string expected;
        std::function<void()> fn;
    };
    const Case cases[] = {
        {"7 / 0", "zero-divide", [] { Cell x = int_cell(7), y = int_cell(0); integer::divide(&x, &y); }},
        {"7 rem 0", "zero-divide", [] { Cell x = int_cell(7), y = int_cell(0); integer::remainder(&x, &y); }},
        {"min / -1", "overflow", [] { Cell x = int_cell(min_int), y = int_cell(-1); integer::divide(&x, &y); }},
        {"min rem -1", "overflow", [] { Cell x = int_cell(min_int), y = int_cell(-1); integer::remainder(&x, &y); }},
        {"negate min", "overflow", [] { Cell x = int_cell(min_int); integer::negate(&x); }},
        {"absolute min", "overflow", [] { Cell x = int_cell(min_int); integer::absolute(&x); }},
        {"1 + none", "invalid-type", [] { Cell x = int_cell(1), y{}; y.reset(TypeId::none); integer::add(&x, &y); }},
        {"power 2 none", "expect-arg", [] { Cell x = int_cell(2), y{}; y.reset(TypeId::none); integer::power(&x, &y); }},
        {"round up past max", "overflow", [] {
             Cell x = int_cell(max_int), s = int_cell(10);
             integer::round(&x, {.scale = &s});
         }},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.fn), c.expected) << c.what;
}

TEST(IntegerRound, ScalesAndRefinements) {
    enum Mode { plain, even, floor, ceiling, down, half_down, half_ceiling };
    struct Case {
        std::int32_t n, scale;
        Mode mode;
        std::int32_t expected;
    };
    const Case cases[] = {
        {17, 5, plain, 15}, {18, 5, plain, 20}, {15, 10, plain, 20}, {-15, 10, plain, -20},
        {25, 10, even, 20}, {35, 10, even, 40}, {-11, 5, floor, -15}, {-11, 5, ceiling, -10},
        {11, 5, floor, 10}, {11, 5, ceiling, 15}, {17, 0, plain, 17}, {19, 5, down, 15},
        {-19, 5, down, -15}, {15, 10, half_down, 10}, {-15, 10, half_ceiling, -10},
        {15, -10, plain, 20}, {min_int, 10, plain, min_int}, {-2147483645, 8, plain, min_int},
    };
    for (const Case& c : cases) {
        Cell n = int_cell(c.n);
        Cell s = int_cell(c.scale);
        Cell* r = integer::round(&n, {.scale = &s, .even = c.mode == even, .down = c.mode == down,
                                      .half_down = c.mode == half_down, .floor = c.mode == floor,
                                      .ceiling = c.mode == ceiling, .half_ceiling = c.mode == half_ceiling});
        ASSERT_TRUE(r->is(TypeId::integer));
        EXPECT_EQ(r->int_value(), c.expected) << c.n << " to " << c.scale << " mode " << c.mode;
    }
    Cell n = int_cell(7);  // no scale: already whole
    EXPECT_EQ(integer::round(&n, {})->int_value(), 7);
}

Cell text_cell(const char* s) {
    Cell c{};
    string::make_at(c, 16);
    string::append_nul_text(c.series_node(), s);
    return c;
}

TEST(IntegerTo, ConversionsAndTheirErrors) {
    auto to_int = [](Cell v) {
        Cell out{};
        integer::to(&out, &v, TypeId::integer);
        EXPECT_TRUE(out.is(TypeId::integer));
        return out.int_value();
    };
    EXPECT_EQ(to_int(text_cell("12'345")), 12345);
    EXPECT_EQ(to_int(text_cell("-2147483648")), min_int);
    EXPECT_EQ(to_int(float_cell(1.9)), 1);
    EXPECT_EQ(to_int(float_cell(-1.9)), -1);
    Cell time{};
    time.reset(TypeId::time);
    time.set_f64(1.5);
    EXPECT_EQ(to_int(time), 2);
    Cell issue{};
    issue::make_at("FF", issue);
    EXPECT_EQ(to_int(issue), 255);
    issue::make_at("FFFFFFFF", issue);
    EXPECT_EQ(to_int(issue), -1);
    Cell bin{};
    bin.reset(TypeId::binary);
    bin.set_series_node(memory::alloc_bytes(2));
    SeriesBuffer* buf = memory::buffer(bin.series_node());
    buf->head[0] = 1;
    buf->head[1] = 2;
    buf->tail = buf->head + 2;
    EXPECT_EQ(to_int(bin), 258);
    Cell logic{};
    logic.reset(TypeId::logic);
    logic.set_logic(true);
    Cell made{};
    EXPECT_EQ(integer::make(&made, &logic, TypeId::integer)->int_value(), 1);

    auto error_to = [](Cell v) {
        return error_of([&v] { Cell out{}; integer::to(&out, &v, TypeId::integer); });
    };
    EXPECT_EQ(error_to(float_cell(1e10)), "type-limit");
    EXPECT_EQ(error_to(float_cell(std::nan(""))), "type-limit");
    EXPECT_EQ(error_to(text_cell("2147483648")), "bad-to-arg");
    EXPECT_EQ(error_to(text_cell("12x")), "bad-to-arg");
    EXPECT_EQ(error_to(text_cell("")), "bad-to-arg");
    issue::make_at("FFFFFFFFF", issue);
    EXPECT_EQ(error_to(issue), "invalid-data");
    issue::make_at("G1", issue);
    EXPECT_EQ(error_to(issue), "invalid-data");
}

TEST(IntegerFromNumber, FloatsTruncateTowardZeroWithinTheRange) {
    struct Case { double value; std::int32_t result; const char* error; };
    const Case cases[] = {
        {2.9, 2, ""},
        {-2.9, -2, ""},
        {2147483647.0, max_int, ""},
        {-2147483648.0, min_int, ""},
        {2147483648.0, 0, "out-of-range"},
        {-1e300, 0, "out-of-range"},
        {std::nan(""), 0, "out-of-range"},
    };
    for (const Case& c : cases) {
        std::int32_t got = 0;
        EXPECT_EQ(error_of([&] { got = integer::from_number(float_cell(c.value)); }), c.error) << c.value;
        if (*c.error == 0) {
            EXPECT_EQ(got, c.result) << c.value;
        }
    }
    EXPECT_EQ(integer::from_number(int_cell(min_int)), min_int);
}

TEST(IntegerCompare, AgainstIntegersCharsAndFloats) {
    Cell one = int_cell(1);
    Cell two = int_cell(2);
    Cell f = float_cell(1.0);
    Cell ch{};
    ch.reset(TypeId::char_);
    ch.set_char(1);
    EXPECT_EQ(integer::compare(&one, &f, CompareOp::equal), 0);
    EXPECT_NE(integer::compare(&one, &f, CompareOp::strict_equal), 0);
    EXPECT_EQ(integer::compare(&one, &ch, CompareOp::equal), 0);
    EXPECT_NE(integer::compare(&one, &ch, CompareOp::strict_equal), 0);
    EXPECT_LT(integer::compare(&one, &two, CompareOp::lesser), 0);
    Cell none{};
    none.reset(TypeId::none);
    EXPECT_EQ(integer::compare(&one, &none, CompareOp::equal), not_comparable);
}

TEST(IntegerText, DecimalTextAndRandomRanges) {
    EXPECT_STREQ(integer::to_decimal(0), "0");
    EXPECT_STREQ(integer::to_decimal(-42), "-42");
    EXPECT_STREQ(integer::to_decimal(min_int), "-2147483648");
    EXPECT_STREQ(integer::to_decimal(max_int), "2147483647");
    Cell out{};
    string::make_at(out, 16);
    Cell v = int_cell(-123);
    EXPECT_EQ(integer::mold(&v, out.series_node(), {}, nullptr, 10, 0), 6);

    Cell zero = int_cell(0);
    EXPECT_EQ(integer::random(&zero, {})->int_value(), 0);
    for (int i = 0; i < 200; ++i) {
        Cell n = int_cell(-5);
        const std::int32_t r = integer::random(&n, {})->int_value();
        ASSERT_TRUE(r >= -5 && r <= -1) << r;
        Cell m = int_cell(3);
        const std::int32_t s = integer::random(&m, {})->int_value();
        ASSERT_TRUE(s >= 1 && s <= 3) << s;
    }
}

}  // namespace
}  // namespace kiv
