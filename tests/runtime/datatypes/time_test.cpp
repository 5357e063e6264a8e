// time!: its h:mm:ss text, conversions from blocks and numbers, arithmetic,
// fields through paths and pick, rounding and the errors of each.
#include "runtime/datatypes/time.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/io/lexer.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

Cell time_of(double seconds) {
    Cell c{};
    c.reset(TypeId::time);
    c.set_f64(seconds);
    return c;
}
Cell int_of(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}
Cell float_of(double v, TypeId t = TypeId::float_) {
    Cell c{};
    c.reset(t);
    c.set_f64(v);
    return c;
}
Cell word_of(const char* name) {
    Cell c{};
    word::make_kind_at(TypeId::word, name, c);
    return c;
}

// The form of a time of that many seconds, and that it spent exactly its
// length of the budget.
std::string form(double seconds) {
    std::int32_t left = 0;
    const std::string text = test::form(time_of(seconds), 100, &left);
    EXPECT_EQ(left, 100 - static_cast<std::int32_t>(text.size())) << text;
    return text;
}

// The id of the language error that f raises, or "" when it raises none.
std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

// A block value holding the given cells.
Cell block_of(const std::vector<Cell>& cells) {
    Cell b{};
    block::make_at(b, 4);
    for (const Cell& c : cells) block::append_copy(b, c);
    return b;
}

TEST(TimeText, FormsHoursMinutesAndSeconds) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {3723.5, "1:02:03.5"},  {0, "0:00:00"},        {-90, "-0:01:30"},
        {360000, "100:00:00"},  {-5400, "-1:30:00"},   {0.25, "0:00:00.25"},
        {5.5, "0:00:05.5"},     {1e-7, "0:00:00"},     {10.123456789, "0:00:10.1235"},
        {59.999999, "0:01:00"}, {3599.99999, "1:00:00"},  // rounding carries upward
        {-0.5, "-0:00:00.5"},   {1e13, "2777777777:46:40"},  // beyond 32-bit hours
    };
    for (const auto& c : cases) EXPECT_EQ(form(c.seconds), c.text) << c.seconds;
}

TEST(TimeText, MoldIsTheSameText) {
    EXPECT_EQ(test::mold(time_of(-3723.25), {.all = true}, 50), "-1:02:03.25");
}

TEST(TimeTo, FromBlocks) {
    const struct {
        std::vector<Cell> items;
        double seconds;
    } good[] = {
        {{int_of(1), int_of(2), int_of(3)}, 3723},
        {{int_of(-1), int_of(30)}, -5400},
        {{int_of(1), int_of(2), float_of(3.5)}, 3723.5},
        {{int_of(5)}, 18000},
    };
    for (const auto& g : good) {
        Cell spec = block_of(g.items);
        Cell result{};
        time::to(&result, &spec, TypeId::time);
        EXPECT_TRUE(result.is(TypeId::time));
        EXPECT_EQ(result.f64(), g.seconds);
    }
    const std::vector<Cell> bad[] = {
        {},
        {int_of(1), int_of(-2)},
        {int_of(1), int_of(2), int_of(3), int_of(4)},
        {float_of(1.5)},
        {int_of(1), float_of(2.5)},
        {int_of(1), int_of(2), float_of(-3.5)},
    };
    for (const auto& items : bad) {
        Cell spec = block_of(items);
        Cell result{};
        EXPECT_EQ(error_of([&] { time::to(&result, &spec, TypeId::time); }), "bad-to-arg")
            << items.size();
    }
}

TEST(TimeTo, FromNumbersAndOtherTypes) {
    Cell result{};
    Cell spec = int_of(90);
    time::to(&result, &spec, TypeId::time);
    EXPECT_EQ(form(result.f64()), "0:01:30");
    spec = float_of(0.5, TypeId::percent);
    time::to(&result, &spec, TypeId::time);
    EXPECT_EQ(result.f64(), 0.5);
    spec = float_of(INFINITY);
    EXPECT_EQ(error_of([&] { time::to(&result, &spec, TypeId::time); }), "out-of-range");
    spec.reset(TypeId::none);
    EXPECT_EQ(error_of([&] { time::to(&result, &spec, TypeId::time); }), "bad-to-arg");
}

TEST(TimeTo, FromTexts) {
    const auto text = [](const char* ascii) {
        Cell s{};
        string::make_at(s, 8);
        string::append_nul_text(s.series_node(), ascii);
        return s;
    };
    Cell spec = text("-1:02:03.5 rest"), result{};
    time::to(&result, &spec, TypeId::time);
    EXPECT_EQ(result.f64(), -3723.5);
    for (const char* bad : {"", "12", "abc", "1:2:3:4"}) {
        spec = text(bad);
        EXPECT_EQ(error_of([&] { time::to(&result, &spec, TypeId::time); }), "bad-to-arg") << bad;
    }
}

TEST(TimeMaths, ResultsAndTypes) {
    Cell a = time_of(10), b = time_of(4);
    time::divide(&a, &b);
    EXPECT_TRUE(a.is(TypeId::float_));  // a ratio of durations
    EXPECT_EQ(a.f64(), 2.5);

    a = time_of(10), b = int_of(4);
    time::divide(&a, &b);
    EXPECT_TRUE(a.is(TypeId::time));
    EXPECT_EQ(form(a.f64()), "0:00:02.5");

    a = time_of(3600), b = time_of(1800);
    time::add(&a, &b);
    EXPECT_TRUE(a.is(TypeId::time));
    EXPECT_EQ(a.f64(), 5400);

    a = time_of(3600), b = float_of(1.5);
    time::multiply(&a, &b);
    EXPECT_EQ(a.f64(), 5400);

    a = time_of(100), b = int_of(60);
    time::remainder(&a, &b);
    EXPECT_EQ(a.f64(), 40);

    a = time_of(100), b = int_of(160);
    time::subtract(&a, &b);
    EXPECT_EQ(form(a.f64()), "-0:01:00");

    a = time_of(5);
    time::negate(&a);
    EXPECT_EQ(a.f64(), -5);
    time::absolute(&a);
    EXPECT_EQ(a.f64(), 5);
}

TEST(TimeMaths, Errors) {
    Cell a{}, b{};
    const auto run = [&](Cell x, Cell y, Cell* (*op)(Cell*, Cell*)) {
        a = x, b = y;
        return error_of([&] { op(&a, &b); });
    };
    EXPECT_EQ(run(time_of(1), time_of(2), time::multiply), "not-related");
    EXPECT_EQ(run(time_of(1), int_of(0), time::divide), "zero-divide");
    EXPECT_EQ(run(time_of(1), float_of(0.0), time::remainder), "zero-divide");
    EXPECT_EQ(run(time_of(1e308), int_of(10), time::multiply), "overflow");  // no infinite time
    Cell ch{};
    ch.reset(TypeId::char_);
    EXPECT_EQ(run(time_of(1), ch, time::add), "invalid-type");
    Cell date{};
    date.reset(TypeId::date);
    EXPECT_EQ(run(time_of(1), date, time::subtract), "not-related");
}

TEST(TimeFields, PathGetAndSet) {
    const PathStep step{};
    Cell t = time_of(3723);  // 1:02:03
    Cell hour = word_of("hour"), minute = word_of("minute"), second = word_of("Second");
    EXPECT_EQ(time::eval_path(&t, &hour, nullptr, step)->int_value(), 1);
    EXPECT_EQ(time::eval_path(&t, &minute, nullptr, step)->int_value(), 2);
    const Cell* s = time::eval_path(&t, &second, nullptr, step);
    EXPECT_TRUE(s->is(TypeId::float_));
    EXPECT_EQ(s->f64(), 3.0);
    Cell two = int_of(2);
    EXPECT_EQ(time::eval_path(&t, &two, nullptr, step)->int_value(), 2);
    EXPECT_EQ(t.f64(), 3723);  // a get leaves the time alone

    Cell thirty = int_of(30);
    EXPECT_EQ(time::eval_path(&t, &minute, &thirty, step), &thirty);
    EXPECT_EQ(form(t.f64()), "1:30:03");
    Cell four_and_half = float_of(4.5);
    time::eval_path(&t, &second, &four_and_half, step);
    EXPECT_EQ(form(t.f64()), "1:30:04.5");
    Cell ten = int_of(10);
    time::eval_path(&t, &hour, &ten, step);
    EXPECT_EQ(form(t.f64()), "10:30:04.5");

    // A negative time reads and sets the fields of its magnitude.
    Cell n = time_of(-5400);  // -1:30:00
    EXPECT_EQ(time::eval_path(&n, &hour, nullptr, step)->int_value(), -1);
    EXPECT_EQ(time::eval_path(&n, &minute, nullptr, step)->int_value(), 30);
    Cell fifteen = int_of(15);
    time::eval_path(&n, &minute, &fifteen, step);
    EXPECT_EQ(form(n.f64()), "-1:15:00");
    Cell minus_two = int_of(-2);
    time::eval_path(&n, &hour, &minus_two, step);
    EXPECT_EQ(form(n.f64()), "-2:15:00");
}

TEST(TimeFields, PathAndPickErrors) {
    const PathStep step{};
    Cell t = time_of(3723);
    Cell day = word_of("day"), four = int_of(4), hour = word_of("hour");
    Cell text{};
    string::make_at(text, 4);
    EXPECT_EQ(error_of([&] { time::eval_path(&t, &day, nullptr, step); }), "cannot-use");
    EXPECT_EQ(error_of([&] { time::eval_path(&t, &four, nullptr, step); }), "invalid-path");
    EXPECT_EQ(error_of([&] { time::eval_path(&t, &text, nullptr, step); }), "invalid-path");
    Cell half = float_of(0.5);
    EXPECT_EQ(error_of([&] { time::eval_path(&t, &hour, &half, step); }), "invalid-arg");
    EXPECT_EQ(t.f64(), 3723);  // a refused set changes nothing

    EXPECT_EQ(error_of([&] { time::pick(&t, &four); }), "out-of-range");
    EXPECT_EQ(error_of([&] { time::pick(&t, &day); }), "out-of-range");
    time::pick(&t, &hour);
    EXPECT_TRUE(t.is(TypeId::integer));
    EXPECT_EQ(t.int_value(), 1);
}

TEST(TimeFields, HelpersForDates) {
    EXPECT_EQ(time::get_hours(-5400), -1);
    EXPECT_EQ(time::get_minutes(-5400), 30);
    EXPECT_EQ(time::get_hours(1e20), 2147483647);
    Cell out{};
    time::get_field(-3723.5, time::second, out);
    EXPECT_EQ(out.f64(), -3.5);  // the sign is kept
    Cell hour = word_of("hour"), day = word_of("day"), none{};
    none.reset(TypeId::none);
    EXPECT_EQ(time::field_number(hour, none), time::hour);
    EXPECT_EQ(time::field_number(day, none), -1);  // a date looks up its own fields next
    Cell huge = time_of(1e15);
    EXPECT_EQ(error_of([&] { time::eval_path(&huge, &hour, nullptr, PathStep{}); }), "overflow");
}

TEST(TimeRounding, EvenOddAndRound) {
    Cell t = time_of(2);
    EXPECT_EQ(time::even_q(&t), 1);
    t = time_of(3.9);
    EXPECT_EQ(time::odd_q(&t), 1);
    t = time_of(62.9999999);  // nudged up to 63 seconds, 3 in its minute
    EXPECT_EQ(time::odd_q(&t), 1);

    const struct {
        double seconds;
        double scale;  // 0: no /to
        bool even, down;
        double result;
    } cases[] = {
        {3723.5, 0, false, false, 3724}, {3723.5, 0, true, false, 3724},
        {3722.5, 0, true, false, 3722},  {3723.7, 0, false, true, 3723},
        {3723, 60, false, false, 3720},  {3750, 60, false, false, 3780},
        {-3723.5, 0, false, false, -3724}, {1.26, 0.1, false, false, 1.3},
    };
    for (const auto& c : cases) {
        Cell v = time_of(c.seconds);
        Cell scale = c.scale >= 1 ? int_of(static_cast<std::int32_t>(c.scale)) : float_of(c.scale);
        time::round(&v, {.scale = c.scale != 0 ? &scale : nullptr, .even = c.even, .down = c.down});
        EXPECT_TRUE(v.is(TypeId::time));
        EXPECT_NEAR(v.f64(), c.result, 1e-9) << c.seconds << " " << c.scale;
    }
    Cell v = time_of(1), money{};
    money.reset(TypeId::money);
    EXPECT_EQ(error_of([&] { time::round(&v, {.scale = &money}); }),
              "not-related");
}

TEST(TimeCompare, AgainstNumbersAndTimes) {
    Cell t = time_of(3600), i = int_of(3600), later = time_of(3601), s{};
    string::make_at(s, 4);
    EXPECT_EQ(time::compare(&t, &i, CompareOp::equal), 0);
    EXPECT_NE(time::compare(&t, &i, CompareOp::strict_equal), 0);
    EXPECT_LT(time::compare(&t, &later, CompareOp::lesser), 0);
    EXPECT_GT(time::compare(&later, &t, CompareOp::sort), 0);
    Cell near = time_of(0.1 + 0.2), exact = time_of(0.3);
    EXPECT_EQ(time::compare(&near, &exact, CompareOp::equal), 0);
    EXPECT_NE(time::compare(&near, &exact, CompareOp::strict_equal), 0);
    EXPECT_EQ(time::compare(&t, &s, CompareOp::lesser), not_comparable);
}

}  // namespace
}  // namespace kiv
