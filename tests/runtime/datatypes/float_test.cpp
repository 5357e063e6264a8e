// float! and percent!: float text (form layouts, mold round trips), the mixed
// maths routing and its result types, comparison, rounding and conversions.
#include "runtime/datatypes/float.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/text/dtoa.h"
#include "runtime/io/lexer.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

// Restores the pretty? option after each test that sets it.
struct Pretty {
    explicit Pretty(bool on) { float_::set_options(on, false); }
    ~Pretty() { float_::set_options(false, false); }
};

using test::form;

// The mold, and that the handler spent exactly its length of the budget.
std::string spent_mold(const Cell& c) {
    std::int32_t left = 0;
    const std::string t = test::mold(c, {}, 100, &left);
    EXPECT_EQ(left, 100 - static_cast<std::int32_t>(t.size())) << t;
    return t;
}

Cell flt(double v) {
    Cell c{};
    float_::make_at(c, v);
    return c;
}
Cell pct(double v) {
    Cell c{};
    percent::make_at(c, v);
    return c;
}
Cell num(TypeId t, double v) {
    Cell c{};
    if (t == TypeId::integer || t == TypeId::char_) {
        c.reset(t);
        c.set_int(static_cast<std::int32_t>(v));
    } else {
        c.reset(t);
        c.set_f64(v);
    }
    return c;
}

std::string error_id(auto&& fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

Cell text_cell(const char* s) {
    Cell c{};
    string::make_at(c, 16);
    string::append_nul_text(c.series_node(), s);
    return c;
}

// --- Text -------------------------------------------------------------------------

TEST(FloatText, FormLayouts) {
    struct Case {
        double value;
        float_::TextKind kind;
        const char* text;
    };
    using K = float_::TextKind;
    const Case cases[] = {
        {1.0, K::float64, "1.0"},
        {-1.0, K::float64, "-1.0"},
        {0.1 + 0.2, K::float64, "0.3"},
        {0.7 + 0.1, K::float64, "0.7999999999999999"},  // only pretty? rewrites it
        {1e16, K::float64, "1.0e16"},
        {1.5e-7, K::float64, "1.5e-7"},
        {-2.5e-300, K::float64, "-2.5e-300"},
        {1e300, K::float64, "1.0e300"},
        {123456.0, K::float64, "123456.0"},
        {0.0, K::float64, "0.0"},
        {inf, K::float64, "1.#INF"},
        {-inf, K::float64, "-1.#INF"},
        {nan, K::float64, "1.#NaN"},
        {nan, K::percent, "1.#NaN"},
        {50.0, K::percent, "50%"},
        {1e20, K::percent, "1e20%"},
        {0.5f, K::float32, "0.5"},
        {3.0, K::coordinate, "3"},
        {1.5, K::seconds, "1.5"},
        {2.0, K::seconds, "2"},
        {12.3456789, K::seconds, "12.3457"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(float_::to_text(c.value, c.kind), c.text) << c.value;
}

// Form writes its digits with to_chars at a precision, trusting it to give
// printf's "%.<p>g" text; every precision form uses is checked against printf
// on hard cases (ties, carries into a new digit, both exponent forms,
// subnormals) and random bit patterns.
TEST(FloatText, PrecisionDigitsAreWhatPrintfWrites) {
    std::vector<double> values = {0.0, -0.0, 1.0, 0.1, 0.5, 2.5, 1e16, 1e-5, 1e-4, 123456.5, 1234567.5,
                                  9.9999995, 0.99999995, 9.99999999999995, 99999.95, 1e21, 1e100, 1e-300,
                                  4.9406564584124654e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                                  -3.25, 0.1 + 0.2, 1.0 / 3.0, 2.0 / 3.0};
    std::mt19937_64 gen(7);
    while (values.size() < 100000) {
        const double v = std::bit_cast<double>(gen());
        if (std::isfinite(v)) values.push_back(v);
    }
    for (int i = 0; i < 2000; ++i)  // numbers of a few digits, where ties sit
        values.push_back(static_cast<double>(static_cast<std::int64_t>(gen() % 2000001) - 1000000) / 1000.0);
    for (const double v : values) {
        for (const int precision : {5, 7, 13, 14, 16}) {
            char want[64], got[64];
            std::snprintf(want, sizeof want, "%.*g", precision, v);
            const std::to_chars_result r =
                std::to_chars(got, got + sizeof got - 1, v, std::chars_format::general, precision);
            *r.ptr = '\0';
            ASSERT_STREQ(got, want) << "precision " << precision;
        }
    }
}

TEST(FloatText, PrettyRewritesNoiseAndTinyValues) {
    Pretty on(true);
    using K = float_::TextKind;
    EXPECT_STREQ(float_::to_text(0.7 + 0.1, K::float64), "0.8");
    EXPECT_STREQ(float_::to_text(0.1 + 0.2, K::float64), "0.3");
    EXPECT_STREQ(float_::to_text(1e-20, K::float64), "0.0");
    EXPECT_STREQ(float_::to_text(1e-20 * 100, K::percent), "0%");
    EXPECT_STREQ(float_::to_text(1e-20, K::coordinate), "0");
    EXPECT_STREQ(float_::to_text(inf, K::float64), "1.#INF");  // specials come first
    EXPECT_STREQ(float_::to_text(1.0 / 3.0, K::float64), "0.3333333333333333");
}

TEST(FloatText, MoldIsShortestAndReadsBack) {
    EXPECT_EQ(spent_mold(flt(0.1 + 0.2)), "0.30000000000000004");
    EXPECT_EQ(spent_mold(flt(1.0)), "1.0");
    EXPECT_EQ(spent_mold(flt(nan)), "1.#NaN");
    EXPECT_EQ(spent_mold(flt(-inf)), "-1.#INF");
    EXPECT_EQ(form(flt(1e16)), "1.0e16");
    // Any finite bit pattern molds to a text that reads back to the same bits.
    std::mt19937_64 gen(42);
    for (int i = 0; i < 2000; ++i) {
        const double v = std::bit_cast<double>(gen());
        if (float_::is_not_finite(v)) continue;
        const std::string t = spent_mold(flt(v));
        int rest = 0;
        const double back = dtoa::strtod(t.data(), t.data() + t.size(), 0, rest);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v)) << t;
    }
}

TEST(PercentText, FormAndMold) {
    EXPECT_EQ(form(pct(0.5)), "50%");
    EXPECT_EQ(spent_mold(pct(0.5)), "50%");
    EXPECT_EQ(spent_mold(pct(0.005)), "0.5%");
    EXPECT_EQ(spent_mold(pct(-1.25)), "-125%");
    EXPECT_EQ(spent_mold(pct(0.0)), "0%");
}

// --- Registration -------------------------------------------------------------------

TEST(FloatRegistry, PercentInheritsAllButText) {
    EXPECT_EQ(registry::handler<Action::add>(TypeId::percent), &float_::add);
    EXPECT_EQ(registry::handler<Action::round>(TypeId::percent), &float_::round);
    EXPECT_EQ(registry::handler<Action::form>(TypeId::percent), &percent::form);
    EXPECT_EQ(registry::handler<Action::append>(TypeId::float_), nullptr);
    EXPECT_STREQ(registry::type_name(TypeId::percent).name, "percent!");
}

// --- Maths --------------------------------------------------------------------------

TEST(FloatMaths, ResultTypesOfMixedOperands) {
    using O = float_::MathOp;
    struct Case {
        Cell left, right;
        O op;
        TypeId type;
        double value;
    };
    const Case cases[] = {
        {num(TypeId::integer, 7), flt(2.0), O::divide, TypeId::float_, 3.5},
        {flt(1.5), num(TypeId::integer, 2), O::multiply, TypeId::float_, 3.0},
        {flt(1.0), num(TypeId::char_, 65), O::add, TypeId::float_, 66.0},
        {pct(0.5), pct(0.25), O::add, TypeId::percent, 0.75},
        {pct(0.5), num(TypeId::integer, 2), O::multiply, TypeId::percent, 1.0},
        {flt(2.0), pct(0.5), O::multiply, TypeId::float_, 1.0},
        {num(TypeId::integer, 2), pct(0.5), O::multiply, TypeId::float_, 1.0},
        {num(TypeId::time, 60), flt(2.0), O::multiply, TypeId::time, 120.0},
        {num(TypeId::integer, 2), num(TypeId::time, 60), O::multiply, TypeId::time, 120.0},
        {num(TypeId::time, 60), num(TypeId::time, 30), O::add, TypeId::time, 90.0},
        {num(TypeId::time, 60), num(TypeId::time, 30), O::divide, TypeId::float_, 2.0},
        {pct(0.5), num(TypeId::time, 30), O::multiply, TypeId::time, 15.0},
        {flt(-7.5), flt(2.0), O::remainder, TypeId::float_, -1.5},
        {flt(5.0), flt(inf), O::remainder, TypeId::float_, 5.0},
    };
    for (Case c : cases) {
        Cell* r = float_::math_op(&c.left, &c.right, c.op);
        EXPECT_EQ(r, &c.left);
        EXPECT_EQ(r->type(), c.type) << static_cast<int>(c.op);
        EXPECT_DOUBLE_EQ(r->f64(), c.value);
    }
}

TEST(FloatMaths, IeeeEdgesAndRefusedOperands) {
    Cell a = flt(1.0), z = flt(0.0);
    EXPECT_EQ(form(*float_::divide(&a, &z)), "1.#INF");
    Cell b = flt(5.0), z2 = flt(0.0);
    EXPECT_EQ(form(*float_::remainder(&b, &z2)), "1.#NaN");
    Cell c = flt(inf), d = flt(inf);
    EXPECT_TRUE(float_::is_nan(float_::apply_op(c.f64(), d.f64(), float_::MathOp::remainder)));

    auto op = [](Cell l, Cell r, float_::MathOp o) {
        return error_id([&] { float_::math_op(&l, &r, o); });
    };
    Cell pair{};
    pair.reset(TypeId::pair);
    EXPECT_EQ(op(flt(5.0), pair, float_::MathOp::subtract), "not-related");
    EXPECT_EQ(op(flt(5.0), pair, float_::MathOp::divide), "not-related");
    EXPECT_EQ(op(pct(0.5), num(TypeId::char_, 65), float_::MathOp::add), "invalid-type");
    EXPECT_EQ(op(num(TypeId::time, 1), num(TypeId::char_, 65), float_::MathOp::add),
              "invalid-type");
    Cell none{};
    none.reset(TypeId::none);
    EXPECT_EQ(op(flt(1.0), none, float_::MathOp::add), "invalid-type");
    EXPECT_EQ(op(flt(1.0), flt(1.0), float_::MathOp::xor_), "cannot-use");
}

TEST(FloatMaths, PairOperandsSwapPlaces) {
    // A pair route that records the order it was called with.
    static TypeId first_seen = TypeId::no_type;
    float_::set_math_route(TypeId::pair, [](Cell* l, Cell* r, float_::MathOp) {
        first_seen = l->type();
        *r = *l;
        return l;
    });
    Cell pair{}, n = flt(5.0);
    pair.reset(TypeId::pair);
    float_::math_op(&n, &pair, float_::MathOp::multiply);
    EXPECT_EQ(first_seen, TypeId::pair);
    EXPECT_EQ(n.type(), TypeId::pair);
    float_::set_math_route(TypeId::pair, nullptr);
}

TEST(FloatMaths, UnaryActionsAndPower) {
    Cell z = flt(0.0);
    float_::negate(&z);
    EXPECT_FALSE(std::signbit(z.f64()));  // 0.0 minus 0.0
    Cell m = flt(-2.5);
    EXPECT_EQ(float_::absolute(&m)->f64(), 2.5);
    Cell p = pct(0.5), e = num(TypeId::integer, 2);
    float_::power(&p, &e);
    EXPECT_EQ(p.type(), TypeId::percent);
    EXPECT_DOUBLE_EQ(p.f64(), 0.25);
    Cell bad = pct(0.5);
    EXPECT_EQ(error_id([&] {
                  Cell x = flt(2.0);
                  float_::power(&x, &bad);
              }),
              "expect-arg");
    struct Parity {
        double v;
        int even;
    };
    for (Parity c : {Parity{2.9, 1}, Parity{3.1, 0}, Parity{-3.9, 0}, Parity{1e12, 1}}) {
        Cell v = flt(c.v);
        EXPECT_EQ(float_::even_q(&v), c.even) << c.v;
        EXPECT_EQ(float_::odd_q(&v), 1 - c.even) << c.v;
    }
}

// --- Rounding -----------------------------------------------------------------------

TEST(FloatRound, Table) {
    enum Mode { plain, even, down, half_down, floor_, ceiling, half_ceiling };
    struct Case {
        Cell value;
        const Cell* scale;
        Mode mode;
        TypeId type;
        double result;
    };
    const Cell hundredth = flt(0.01), two = num(TypeId::integer, 2), half = flt(0.5);
    const Cell one_pct = pct(0.01);
    const Case cases[] = {
        {flt(2.5), nullptr, plain, TypeId::float_, 3.0},
        {flt(-2.5), nullptr, plain, TypeId::float_, -3.0},
        {flt(2.4999), nullptr, plain, TypeId::float_, 2.0},
        {flt(2.5), nullptr, even, TypeId::float_, 2.0},
        {flt(3.5), nullptr, even, TypeId::float_, 4.0},
        {flt(-2.5), nullptr, half_ceiling, TypeId::float_, -2.0},
        {flt(2.5), nullptr, half_down, TypeId::float_, 2.0},
        {flt(-2.7), nullptr, down, TypeId::float_, -2.0},
        {flt(-2.2), nullptr, floor_, TypeId::float_, -3.0},
        {flt(2.2), nullptr, ceiling, TypeId::float_, 3.0},
        {flt(1.2345), &hundredth, plain, TypeId::float_, 1.23},
        {flt(7.3), &two, plain, TypeId::integer, 8.0},
        {flt(1.26), &half, plain, TypeId::float_, 1.5},
        {pct(0.12345), nullptr, plain, TypeId::percent, 0.12},
        {pct(0.12345), &one_pct, plain, TypeId::percent, 0.12},
        {pct(0.12345), &half, plain, TypeId::float_, 0.125},
        {flt(1e300), &hundredth, plain, TypeId::float_, 1e300},  // nothing left to round
    };
    for (Case c : cases) {
        Cell* r = float_::round(&c.value, {.scale = const_cast<Cell*>(c.scale), .even = c.mode == even,
                                           .down = c.mode == down, .half_down = c.mode == half_down,
                                           .floor = c.mode == floor_, .ceiling = c.mode == ceiling,
                                           .half_ceiling = c.mode == half_ceiling});
        ASSERT_EQ(r->type(), c.type) << c.result;
        if (c.type == TypeId::integer) EXPECT_EQ(r->int_value(), c.result);
        else EXPECT_DOUBLE_EQ(r->f64(), c.result);
    }
}

TEST(FloatRound, Errors) {
    Cell money{};
    money.reset(TypeId::money);
    Cell v = flt(1.5);
    EXPECT_EQ(error_id([&] { float_::round(&v, {.scale = &money}); }),
              "not-related");
    Cell big = flt(1.7e308), scale = flt(1e308);
    EXPECT_EQ(error_id([&] { float_::round(&big, {.scale = &scale, .ceiling = true}); }),
              "overflow");
    Cell huge = flt(1e10), two = num(TypeId::integer, 2);
    EXPECT_EQ(error_id([&] { float_::round(&huge, {.scale = &two}); }),
              "overflow");
}

// --- Comparison ---------------------------------------------------------------------

TEST(FloatCompare, EqualityKindsAndNaN) {
    auto cmp = [](Cell a, Cell b, CompareOp op) { return float_::compare(&a, &b, op); };
    const Cell sum = flt(0.1 + 0.2), third = flt(0.3);
    EXPECT_EQ(cmp(sum, third, CompareOp::equal), 0);
    EXPECT_NE(cmp(sum, third, CompareOp::strict_equal), 0);
    EXPECT_NE(cmp(flt(0.0), flt(-0.0), CompareOp::same), 0);
    EXPECT_EQ(cmp(flt(0.0), flt(-0.0), CompareOp::strict_equal), 0);
    EXPECT_EQ(cmp(flt(1.0), num(TypeId::integer, 1), CompareOp::equal), 0);
    EXPECT_NE(cmp(flt(1.0), num(TypeId::integer, 1), CompareOp::strict_equal), 0);
    EXPECT_NE(cmp(flt(1.0), num(TypeId::integer, 1), CompareOp::find), 0);
    EXPECT_LT(cmp(flt(1.0), pct(0.5 * 4), CompareOp::lesser), 0);
    EXPECT_EQ(cmp(flt(1.0), text_cell("1"), CompareOp::equal), not_comparable);
    // Every question about NaN answers false, and NaN finds nothing.
    EXPECT_NE(cmp(flt(nan), flt(nan), CompareOp::equal), 0);
    EXPECT_GT(cmp(flt(nan), flt(1.0), CompareOp::lesser), 0);
    EXPECT_GT(cmp(flt(1.0), flt(nan), CompareOp::lesser_or_equal), 0);
    EXPECT_LT(cmp(flt(nan), flt(1.0), CompareOp::greater), 0);
    EXPECT_NE(cmp(flt(nan), flt(1.0), CompareOp::find), 0);
}

TEST(FloatCompare, NearEqual) {
    double x = 1.0;
    for (int i = 0; i < 10; ++i) x = std::nextafter(x, 2.0);
    EXPECT_TRUE(float_::near_equal(1.0, x));
    EXPECT_FALSE(float_::near_equal(1.0, std::nextafter(x, 2.0)));  // 11 units apart
    EXPECT_TRUE(float_::near_equal(1e-300, -1e-300));  // within epsilon
    EXPECT_FALSE(float_::near_equal(1e10, 1e10 + 1e-3));
    EXPECT_FALSE(float_::near_equal(nan, nan));
    EXPECT_TRUE(float_::near_equal(inf, inf));

    float f = 1.0f;
    for (int i = 0; i < 10; ++i) f = std::nextafter(f, 2.0f);
    EXPECT_TRUE(float_::near_equal_float32(1.0f, f));
    EXPECT_FALSE(float_::near_equal_float32(1.0f, std::nextafter(f, 2.0f)));
    EXPECT_TRUE(float_::near_equal_float32(0.0f, -0.0f));
    EXPECT_TRUE(float_::near_equal_float32(std::numeric_limits<float>::max(),
                                           std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(float_::near_equal_float32(-std::numeric_limits<float>::infinity(),
                                            std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(float_::near_equal_float32(std::nanf(""), 1.0f));
    EXPECT_EQ(float_::round_to_integer(2.5), 3);
    EXPECT_EQ(float_::round_to_integer(2.4999999), 2);
}

// --- make and to ----------------------------------------------------------------------

TEST(FloatTo, Sources) {
    auto to = [](Cell spec, TypeId target) {
        Cell out{};
        float_::to(&out, &spec, target);
        return out;
    };
    struct Case {
        Cell spec;
        TypeId target;
        TypeId type;
        double value;
    };
    Cell bin{};
    {
        bin.reset(TypeId::binary);
        bin.set_series_node(memory::alloc_bytes(8));
        SeriesBuffer* b = memory::buffer(bin.series_node());
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(1.5);
        for (int i = 0; i < 8; ++i) b->tail[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
        b->tail += 8;
    }
    Cell blk{};
    block::make_at(blk, 2);
    block::append_copy(blk, num(TypeId::integer, 15));
    block::append_copy(blk, flt(-1.9));  // the exponent truncates to -1
    const Case cases[] = {
        {num(TypeId::integer, 5), TypeId::percent, TypeId::percent, 5.0},
        {flt(0.5), TypeId::percent, TypeId::percent, 0.5},
        {pct(0.5), TypeId::float_, TypeId::float_, 0.5},
        {num(TypeId::char_, 65), TypeId::float_, TypeId::float_, 65.0},
        {num(TypeId::time, 90.5), TypeId::float_, TypeId::float_, 90.5},
        {bin, TypeId::float_, TypeId::float_, 1.5},
        {blk, TypeId::float_, TypeId::float_, 1.5},
        {text_cell("1'000.5"), TypeId::float_, TypeId::float_, 1000.5},
        {text_cell("-2,5e3"), TypeId::float_, TypeId::float_, -2500.0},
        {text_cell("50"), TypeId::percent, TypeId::percent, 50.0},
        {text_cell(" 12.5% rest"), TypeId::percent, TypeId::percent, 0.125},
        {text_cell("0.5"), TypeId::percent, TypeId::percent, 0.5},
    };
    for (const Case& c : cases) {
        const Cell r = to(c.spec, c.target);
        EXPECT_EQ(r.type(), c.type) << c.value;
        EXPECT_DOUBLE_EQ(r.f64(), c.value);
    }
    EXPECT_EQ(spent_mold(to(num(TypeId::integer, 5), TypeId::percent)), "500%");
    EXPECT_EQ(spent_mold(to(text_cell("50"), TypeId::percent)), "5000%");

    Cell three{};
    block::make_at(three, 3);
    for (int i = 0; i < 3; ++i) block::append_copy(three, num(TypeId::integer, 1));
    Cell none{};
    none.reset(TypeId::none);
    for (const Cell& bad : {text_cell("1.5x"), text_cell(""), text_cell("e5"), three, none}) {
        Cell out{};
        Cell spec = bad;
        EXPECT_EQ(error_id([&] { float_::to(&out, &spec, TypeId::float_); }), "bad-to-arg");
    }
    Cell word_text = text_cell("abc");
    Cell out{};
    EXPECT_EQ(error_id([&] { float_::to(&out, &word_text, TypeId::percent); }), "bad-to-arg");
}

TEST(FloatRandom, SeededDrawsRepeatAndStayInRange) {
    auto draw = [](double v) {
        Cell c = flt(v);
        float_::random(&c, {});
        return c.f64();
    };
    Cell seed = flt(3.25);
    float_::random(&seed, {.seed = true});
    EXPECT_EQ(seed.type(), TypeId::unset);
    const double a = draw(10.0), b = draw(10.0);
    Cell again = flt(3.25);
    float_::random(&again, {.seed = true});
    EXPECT_EQ(draw(10.0), a);
    EXPECT_EQ(draw(10.0), b);
    for (int i = 0; i < 100; ++i) {
        const double r = draw(-2.0);
        EXPECT_TRUE(r <= 0.0 && r >= -2.0) << r;
    }
}

}  // namespace
}  // namespace kiv
