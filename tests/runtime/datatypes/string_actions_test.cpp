// string! actions: mold delimiters and escapes, comparison, find/select with
// their refinements, the in-place changes, conversions and their errors.
#include "runtime/core/buffer.h"
#include "runtime/datatypes/string_actions.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
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

Cell text(const std::u32string& s, TypeId type = TypeId::string) {
    Cell c{};
    string::make_at(c, 8);
    for (const char32_t ch : s) string::append_char(c.series_node(), static_cast<std::uint32_t>(ch));
    c.set_type(type);
    return c;
}
Cell text(const char* ascii) {
    std::u32string s;
    for (; *ascii; ++ascii) s += static_cast<char32_t>(static_cast<unsigned char>(*ascii));
    return text(s);
}
Cell int_of(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}
Cell char_of(std::uint32_t cp) {
    Cell c{};
    char_::make_at(c, cp);
    return c;
}
// The text from the head, as UTF-32; empty for a none!.
std::u32string str(const Cell& c) {
    std::u32string out;
    if (!is_any_string_type(c.type())) return out;
    for (std::int32_t i = std::max(c.series_head(), 0), n = string::length_from_start(c); i < n; ++i)
        out += static_cast<char32_t>(string::get_char_at_index(c, i));
    return out;
}
std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

std::u32string mold(const Cell& v, bool all = false) {
    Cell out{};
    string::make_at(out, 16);
    Cell value = v;
    string::mold(&value, out.series_node(), {.all = all}, nullptr, 1000, 0);
    out.set_series_head(0);
    return str(out);
}

TEST(StringMold, DelimitersAndEscapes) {
    const struct {
        std::u32string in;
        bool all;
        std::u32string out;
    } cases[] = {
        {U"ab", false, U"\"ab\""},
        {U"a\nb\nc", false, U"\"a^/b^/c\""},           // two line feeds keep quotes
        {U"a\nb\nc\nd", false, U"{a^/b^/c^/d}"},       // three go to braces, escapes stay
        {std::u32string(49, U'x'), false, U"\"" + std::u32string(49, U'x') + U"\""},
        {std::u32string(50, U'x'), false, U"{" + std::u32string(50, U'x') + U"}"},
        {U"a\"b", false, U"{a\"b}"},                    // a quote inside braces is plain
        {U"a{b\"", false, U"{a^{b\"}"},                 // unbalanced brace is escaped
        {U"a{b}c\"", false, U"{a{b}c\"}"},
        {U"}{\"", false, U"{^}^{\"}"},
        {U"\x1E", false, U"\"^(1E)\""},
        {U"\x85", false, U"\"^(85)\""},
        {U"\xE9", false, U"\"\xE9\""},
        {U"\xE9", true, U"\"^(E9)\""},
        {U"\x7F^\t", false, U"\"^~^^^-\""},
    };
    for (const auto& c : cases) EXPECT_EQ(mold(text(c.in), c.all), c.out);
}

TEST(StringCompare, CaseKindsAndTypes) {
    Cell a = text("abc"), b = text("ABC"), c = text("abd");
    EXPECT_EQ(string::compare(&a, &b, CompareOp::equal), 0);
    EXPECT_NE(string::compare(&a, &b, CompareOp::strict_equal), 0);
    EXPECT_LT(string::compare(&a, &c, CompareOp::lesser), 0);
    EXPECT_LT(string::compare(&b, &a, CompareOp::case_sort), 0);  // "A" sorts before "a" only with case
    Cell shorter = text("ab");
    EXPECT_GT(string::compare(&a, &shorter, CompareOp::lesser), 0);
    Cell f = text(U"ABC", TypeId::file);
    EXPECT_EQ(string::compare(&a, &f, CompareOp::strict_equal), not_comparable);
    EXPECT_EQ(string::compare(&a, &f, CompareOp::equal), 0);
    Cell i = int_of(1);
    EXPECT_EQ(string::compare(&a, &i, CompareOp::equal), not_comparable);
}

TEST(StringFind, Refinements) {
    Cell two = int_of(2), three = int_of(3), zero = int_of(0);
    const struct {
        const char* hay;
        Cell needle;
        FindRefinements r;
        int index;  // of the result from the first unit; -1 for none
    } cases[] = {
        {"abc", text("B"), {}, 1},
        {"abc", text("B"), {.case_ = true}, -1},
        {"abcabc", text("bc"), {.last = true}, 4},
        {"abcabc", text("bc"), {.tail = true}, 3},
        {"abc", text("bc"), {.match = true}, -1},             // match tries the head only
        {"abc", text("ab"), {.match = true}, 0},
        {"abcd", text("c"), {.skip = &two}, 2},
        {"abcd", text("b"), {.skip = &two}, -1},
        {"abcd", text("cd"), {.part = &three}, -1},           // the range ends before "d"
        {"abcd", text("cd"), {.part = &zero}, -1},
        {"abc", char_of('C'), {}, 2},
        {"abc", text("abcd"), {}, -1},
        {"", text("a"), {}, -1},
        {"a12b", int_of(12), {}, 1},                          // other values are sought as their form
    };
    for (const auto& c : cases) {
        Cell s = text(c.hay), v = c.needle;
        const Cell* r = string::find(&s, &v, c.r);
        if (c.index < 0) EXPECT_TRUE(r->is(TypeId::none)) << c.hay;
        else EXPECT_EQ(r->series_head(), c.index) << c.hay;
    }
    // reverse searches before the head; a huge /part never reads past the tail
    Cell s = text("abcabc");
    s.set_series_head(4);
    Cell v = text("b");
    EXPECT_EQ(string::find(&s, &v, {.reverse = true})->series_head(), 1);
    Cell big = int_of(1 << 30), t = text("abc"), w = text("c");
    EXPECT_EQ(string::find(&t, &w, {.part = &big})->series_head(), 2);
    Cell bad = char_of('x'), u = text("abc"), x = text("a"), neg = int_of(0);
    EXPECT_EQ(error_of([&] { string::find(&u, &x, {.part = &bad}); }), "invalid-refine-arg");
    EXPECT_EQ(error_of([&] { string::find(&u, &x, {.skip = &neg}); }), "out-of-range");
    EXPECT_EQ(error_of([&] { string::find(&u, &x, {.any = true}); }), "not-done");
}

TEST(StringSelect, TheUnitAfterTheMatch) {
    Cell s = text("abc"), b = text("b");
    const Cell* r = string::select(&s, &b, {});
    ASSERT_TRUE(r->is(TypeId::char_));
    EXPECT_EQ(r->char_value(), U'c');
    Cell t = text("abc"), c = text("c");
    EXPECT_TRUE(string::select(&t, &c, {})->is(TypeId::none));
    Cell u = text("a12b"), n = int_of(12);
    EXPECT_EQ(string::select(&u, &n, {})->char_value(), U'b');  // past the whole formed text
}

Cell block_of(std::initializer_list<Cell> cells) {
    Cell b{};
    block::make_at(b, 4);
    for (const Cell& c : cells) block::append_copy(b, c);
    return b;
}

TEST(StringAppend, ValuesPartsAndDup) {
    const struct {
        Cell value;
        std::int32_t part;
        bool only;
        std::int32_t dup;
        const char* out;
    } cases[] = {
        {text("ab"), -1, false, 3, "xababab"},
        {block_of({int_of(1), text("a"), char_of('b')}), -1, false, 1, "x1ab"},
        {block_of({int_of(1), text("a"), char_of('b')}), 2, false, 1, "x1a"},
        {block_of({int_of(1), text("a"), char_of('b')}), 2, true, 1, "x1a"},
        {block_of({int_of(123), int_of(4)}), 2, false, 1, "x1234"},
        {block_of({int_of(123), int_of(4)}), 2, true, 1, "x12"},
        {text(U"t", TypeId::tag), -1, false, 1, "x<t>"},
        {text(U"t", TypeId::tag), 1, false, 1, "x<"},
        {char_of('z'), -1, false, 2, "xzz"},
        {int_of(42), -1, false, 1, "x42"},
    };
    for (const auto& c : cases) {
        Cell s = text("x");
        string::append_char(s.series_node(), 'y');
        string::remove_at(s, 1, 1);
        s.set_series_head(1);  // the result is at the first unit whatever the head
        Cell v = c.value;
        const Cell* r = string::append(&s, &v, c.part, c.only, c.dup);
        EXPECT_EQ(r->series_head(), 0);
        std::u32string want;
        for (const char* p = c.out; *p; ++p) want += static_cast<char32_t>(*p);
        EXPECT_EQ(str(*r), want) << c.out;
    }
    Cell s = text("ab"), wide = char_of(0x1F600);
    string::append(&s, &wide, -1, false, 1);
    EXPECT_EQ(str(s), U"ab\U0001F600");
}

TEST(StringInsertChange, PositionsAfterTheNewText) {
    Cell s = text("abcd"), v = text("XY");
    s.set_series_head(2);
    Cell r = *string::insert(&s, &v, -1, false, 2);
    EXPECT_EQ(r.series_head(), 6);
    r.set_series_head(0);
    EXPECT_EQ(str(r), U"abXYXYcd");
    Cell t = text("ab"), w = text("c");
    t.set_series_head(2);
    EXPECT_EQ(string::insert(&t, &w, -1, false, 1)->series_head(), 3);  // at the tail: the new tail

    const struct {
        const char* value;
        std::int32_t part;
        std::int32_t dup;
        const char32_t* out;
        std::int32_t head;
    } cases[] = {
        {"X", -1, 1, U"Xbc", 1},
        {"X", 0, 1, U"Xabc", 1},          // part 0 inserts
        {"XYZW", -1, 1, U"XYZW", 4},      // longer than what is left
        {"X", 3, 1, U"X", 1},
        {"XY", -1, 2, U"XYXY", 4},
        {"\xE9", 1, 1, U"\xE9" U"bc", 1},
    };
    for (const auto& c : cases) {
        Cell x = text("abc"), nv = text(c.value);
        Cell out = *string::change(&x, &nv, c.part, false, c.dup);
        EXPECT_EQ(out.series_head(), c.head) << c.value;
        out.set_series_head(0);
        EXPECT_EQ(str(out), c.out) << c.value;
    }
}

TEST(StringTrim, Modes) {
    Cell ab = text("ab");
    const struct {
        const char32_t* in;
        bool head, tail, lines, all;
        const Cell* with;
        const char32_t* out;
    } cases[] = {
        {U"  a  b  ", false, false, false, false, nullptr, U"a  b"},
        {U"  a  b  ", false, false, true, false, nullptr, U"a b"},
        {U"  a  b  ", false, false, false, true, nullptr, U"ab"},
        {U"a\n", false, false, false, false, nullptr, U"a\n"},
        {U"a\n", false, true, false, false, nullptr, U"a"},
        {U" a ", true, false, false, false, nullptr, U"a "},
        {U" a ", false, true, false, false, nullptr, U" a"},
        {U"  x  \n    y\n\n", false, false, false, false, nullptr, U"x\ny\n"},
        {U"\x3000" U"a\xA0", false, false, false, false, nullptr, U"a"},
        {U"abcab", false, false, false, true, &ab, U"c"},
        {U"", false, false, false, false, nullptr, U""},
    };
    for (const auto& c : cases) {
        Cell s = text(c.in);
        Cell* w = c.with ? const_cast<Cell*>(c.with) : nullptr;
        string::trim(&s, {.head = c.head, .tail = c.tail, .lines = c.lines, .all = c.all, .with = w});
        EXPECT_EQ(str(s), c.out);
    }
    Cell s = text("a");
    EXPECT_EQ(error_of([&] { string::trim(&s, {.auto_ = true}); }), "not-done");
}

TEST(StringSort, OrdersAndRecords) {
    Cell two = int_of(2), three = int_of(3), offset2 = int_of(2);
    const struct {
        const char* in;
        bool case_, reverse, all;
        Cell* skip;
        Cell* compare;
        const char* out;
    } cases[] = {
        {"cBa", false, false, false, nullptr, nullptr, "aBc"},
        {"cBa", false, true, false, nullptr, nullptr, "cBa"},
        {"cBa", true, false, false, nullptr, nullptr, "Bac"},
        {"b1a2", false, false, false, &two, nullptr, "a2b1"},
        {"a2b1", false, false, false, &two, &offset2, "b1a2"},
        {"b2a1b1", false, false, true, &two, nullptr, "a1b1b2"},
    };
    for (const auto& c : cases) {
        Cell s = text(c.in);
        string::sort(&s, {.case_ = c.case_, .skip = c.skip, .comparator = c.compare, .all = c.all,
                          .reverse = c.reverse});
        Cell want = text(c.out);
        EXPECT_EQ(str(s), str(want)) << c.in;
    }
    Cell s = text("abcd");
    EXPECT_EQ(error_of([&] { string::sort(&s, {.skip = &three}); }),
              "invalid-refine-arg");
    EXPECT_EQ(error_of([&] { string::sort(&s, {.all = true}); }),
              "bad-refines");
    Cell off = int_of(3);
    EXPECT_EQ(error_of([&] { string::sort(&s, {.skip = &two, .comparator = &off}); }),
              "out-of-range");
    Cell part = int_of(-2);  // sorts the two units before the head
    Cell t = text("dcba");
    t.set_series_head(2);
    string::sort(&t, {.part = &part, .stable = true});
    t.set_series_head(0);
    EXPECT_EQ(str(t), U"cdba");
}

TEST(StringTakeSwap, SingleUnitsBecomeChars) {
    Cell s = text("abc");
    Cell r = *string::take(&s, nullptr, false, false);
    ASSERT_TRUE(r.is(TypeId::char_));
    EXPECT_EQ(r.char_value(), U'a');
    Cell a = text("xy"), b = text(U"\x3A9z");
    string::swap(&a, &b);
    EXPECT_EQ(str(a), U"\x3A9y");
    EXPECT_EQ(str(b), U"xz");
    Cell n = int_of(1);
    EXPECT_EQ(error_of([&] { string::swap(&a, &n); }), "invalid-arg");
}

TEST(StringSetOperations, KeysAndRecords) {
    const struct {
        string::SetOp op;
        const char* a;
        const char* b;
        bool case_;
        std::int32_t skip;
        const char* out;
    } cases[] = {
        {string::SetOp::unique, "abcabC", nullptr, false, 1, "abc"},
        {string::SetOp::unique, "abcabC", nullptr, true, 1, "abcC"},
        {string::SetOp::union_, "ab", "bcd", false, 1, "abcd"},
        {string::SetOp::intersect, "abcd", "db", false, 1, "bd"},
        {string::SetOp::exclude, "abcd", "db", false, 1, "ac"},
        {string::SetOp::difference, "abc", "bcd", false, 1, "ad"},
        {string::SetOp::unique, "a1b2a3", nullptr, false, 2, "a1b2"},
    };
    for (const auto& c : cases) {
        Cell a = text(c.a), b = c.b ? text(c.b) : Cell{}, out{};
        string::set_operation(c.op, a, c.b ? &b : nullptr, c.case_, c.skip, out);
        EXPECT_EQ(str(out), str(text(c.out))) << c.a;
    }
    Cell a = text("a"), out{};
    EXPECT_EQ(error_of([&] { string::set_operation(string::SetOp::unique, a, nullptr, false, 0, out); }),
              "invalid-refine-arg");
}

TEST(StringConversion, MakeAndTo) {
    Cell proto = text(""), room = int_of(10);
    EXPECT_EQ(str(*string::make(&proto, &room, TypeId::string)), U"");
    Cell neg = int_of(-1);
    EXPECT_EQ(error_of([&] { string::make(&proto, &neg, TypeId::string); }), "out-of-range");
    Cell n{};
    n.reset(TypeId::none);
    EXPECT_EQ(error_of([&] { string::to(&proto, &n, TypeId::string); }), "bad-to-arg");
    Cell blk = block_of({int_of(1), text("a"), char_of('b')});
    EXPECT_EQ(str(*string::to(&proto, &blk, TypeId::string)), U"1ab");
    Cell i = int_of(-42);
    Cell* r = string::to(&proto, &i, TypeId::file);
    EXPECT_TRUE(r->is(TypeId::file));
    EXPECT_EQ(str(*r), U"-42");
    Cell bin{};
    bin.reset(TypeId::binary);
    bin.set_series_node(memory::alloc_bytes(3));
    const std::uint8_t bytes[] = {'a', 0xC3, 0xA9};
    std::memcpy(buffer::grow_tail(bin.series_node(), 3), bytes, 3);
    EXPECT_EQ(str(*string::to(&proto, &bin, TypeId::string)), U"a\xE9");
    buffer::grow_tail(bin.series_node(), 1)[0] = 0xC3;  // a sequence cut by the end
    EXPECT_EQ(error_of([&] { string::to(&proto, &bin, TypeId::string); }), "invalid-utf8");
}

}  // namespace
}  // namespace kiv
