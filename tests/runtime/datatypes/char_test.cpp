// char!: the literal form and its escapes, conversions, comparison by code
// point, and arithmetic that must stay within U+0000 to U+10FFFF.
#include "runtime/core/buffer.h"
#include "runtime/datatypes/char.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

Cell char_of(std::uint32_t cp) {
    Cell c{};
    char_::make_at(c, cp);
    return c;
}
Cell int_of(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}
Cell float_of(double v) {
    Cell c{};
    c.reset(TypeId::float_);
    c.set_f64(v);
    return c;
}
Cell string_of(const char* ascii) {
    Cell s{};
    string::make_at(s, 8);
    string::append_nul_text(s.series_node(), ascii);
    return s;
}
Cell binary_of(const char* bytes) {
    const auto n = static_cast<std::int32_t>(std::strlen(bytes));
    Cell b{};
    b.reset(TypeId::binary);
    b.set_series_node(memory::alloc_bytes(n));
    if (n > 0) std::memcpy(buffer::grow_tail(b.series_node(), n), bytes, static_cast<std::size_t>(n));
    return b;
}

// Code points as a string of "U+hex" for messages; the text as UTF-32 here.
std::u32string text_of(NodeId node) {
    Cell s{};
    s.reset(TypeId::string);
    s.set_series_node(node);
    std::u32string out;
    for (std::int32_t i = 0, n = string::length_from_start(s); i < n; ++i)
        out += static_cast<char32_t>(string::get_char_at_index(s, i));
    return out;
}

std::u32string mold(std::uint32_t cp, bool all) {
    Cell out{};
    string::make_at(out, 16);
    Cell c = char_of(cp);
    EXPECT_EQ(char_::mold(&c, out.series_node(), {.all = all}, nullptr, 10, 0), 6);
    return text_of(out.series_node());
}

std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

TEST(CharMold, Escapes) {
    const struct {
        std::uint32_t cp;
        bool all;
        std::u32string text;
    } cases[] = {
        {'\t', false, U"#\"^-\""},    {'\n', false, U"#\"^/\""},   {0, false, U"#\"^@\""},
        {'"', false, U"#\"^\"\""},    {30, false, U"#\"^(1E)\""},  {127, false, U"#\"^~\""},
        {'^', false, U"#\"^^\""},     {27, false, U"#\"^[\""},     {31, false, U"#\"^_\""},
        {0xE9, false, U"#\"\u00E9\""}, {0xE9, true, U"#\"^(E9)\""}, {0x85, false, U"#\"^(85)\""},
        {'a', true, U"#\"a\""},       {0x10FFFF, true, U"#\"^(10FFFF)\""},
        {0x1F600, false, U"#\"\U0001F600\""},
    };
    for (const auto& c : cases) EXPECT_EQ(mold(c.cp, c.all), c.text) << c.cp;
}

TEST(CharForm, AppendsTheCodePoint) {
    Cell out{};
    string::make_at(out, 4);
    Cell c = char_of(0x20AC);
    EXPECT_EQ(char_::form(&c, out.series_node(), nullptr, 5), 4);
    EXPECT_EQ(text_of(out.series_node()), U"\u20AC");
}

TEST(CharMaths, StaysWithinCodePoints) {
    const struct {
        Cell* (*op)(Cell*, Cell*);
        std::uint32_t cp;
        Cell arg;
        std::uint32_t result;
    } cases[] = {
        {char_::add, 'a', int_of(1), 'b'},
        {char_::add, 'a', float_of(1.9), 'b'},  // the float is truncated
        {char_::subtract, 'b', char_of(1), 'a'},
        {char_::multiply, 0x20, int_of(2), 0x40},
        {char_::divide, 'a', int_of(2), 48},  // truncated, never a float
        {char_::remainder, 'a', int_of(10), 7},
        {char_::and_, 'a', int_of(0xDF), 'A'},
        {char_::or_, 'A', int_of(0x20), 'a'},
        {char_::xor_, 'a', char_of(0x20), 'A'},
        {char_::add, 0x10FFFE, int_of(1), 0x10FFFF},
    };
    for (const auto& c : cases) {
        Cell v = char_of(c.cp), arg = c.arg;
        c.op(&v, &arg);
        EXPECT_TRUE(v.is(TypeId::char_));
        EXPECT_EQ(v.char_value(), c.result) << c.cp;
    }
}

TEST(CharMaths, Errors) {
    const struct {
        Cell* (*op)(Cell*, Cell*);
        std::uint32_t cp;
        Cell arg;
        const char* error;
    } cases[] = {
        {char_::add, 0x10FFFF, int_of(1), "overflow"},
        {char_::subtract, 0, int_of(1), "overflow"},
        {char_::multiply, 0x10000, int_of(0x10000), "overflow"},  // no 32-bit wrap to a valid value
        {char_::add, 'a', int_of(2147483647), "overflow"},
        {char_::or_, 'a', int_of(-1), "overflow"},
        {char_::add, 'a', float_of(1e300), "overflow"},
        {char_::divide, 'a', int_of(0), "zero-divide"},
        {char_::remainder, 'a', char_of(0), "zero-divide"},
        {char_::add, 'a', string_of("b"), "invalid-type"},
    };
    for (const auto& c : cases) {
        Cell v = char_of(c.cp), arg = c.arg;
        EXPECT_EQ(error_of([&] { c.op(&v, &arg); }), c.error) << c.cp;
        EXPECT_EQ(v.char_value(), c.cp);  // unchanged on error
    }
}

TEST(CharTo, FromEachKind) {
    const struct {
        Cell spec;
        std::uint32_t cp;
    } good[] = {
        {int_of(65), 'A'},           {char_of(0x10FFFF), 0x10FFFF}, {float_of(65.9), 'A'},
        {string_of("xyz"), 'x'},     {binary_of("\xC3\xA9"), 0xE9}, {binary_of("\xC3"), 0xFFFE},
        {binary_of("\xFF\x41"), 0xFFFE},
    };
    for (const auto& g : good) {
        Cell spec = g.spec, result{};
        char_::to(&result, &spec, TypeId::char_);
        EXPECT_TRUE(result.is(TypeId::char_));
        EXPECT_EQ(result.char_value(), g.cp);
    }
    Cell none{};
    none.reset(TypeId::none);
    const struct {
        Cell spec;
        const char* error;
    } bad[] = {
        {int_of(1114112), "out-of-range"}, {int_of(-1), "out-of-range"},
        {float_of(-0.5 - 1), "out-of-range"}, {float_of(1e10), "out-of-range"},
        {string_of(""), "bad-to-arg"}, {binary_of(""), "bad-to-arg"}, {none, "bad-to-arg"},
    };
    for (const auto& b : bad) {
        Cell spec = b.spec, result{};
        EXPECT_EQ(error_of([&] { char_::to(&result, &spec, TypeId::char_); }), b.error);
    }
}

TEST(CharCompare, CaseAndIntegers) {
    Cell a = char_of('a'), upper_a = char_of('A'), b = char_of('B'), n = int_of(97);
    Cell text = string_of("a");
    EXPECT_EQ(char_::compare(&a, &n, CompareOp::equal), 0);
    EXPECT_EQ(char_::compare(&a, &n, CompareOp::strict_equal), 1);
    EXPECT_GT(char_::compare(&a, &upper_a, CompareOp::equal), 0);  // code points, never folded
    EXPECT_GT(char_::compare(&a, &upper_a, CompareOp::same), 0);
    EXPECT_GT(char_::compare(&a, &b, CompareOp::lesser), 0);       // 97 > 66
    EXPECT_EQ(char_::compare(&a, &text, CompareOp::equal), not_comparable);
    EXPECT_EQ(char_::compare(&a, &text, CompareOp::find), 1);
}

}  // namespace
}  // namespace kiv
