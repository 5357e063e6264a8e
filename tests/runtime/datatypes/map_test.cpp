// map!: building from blocks (duplicates, normalised keys, bad specs), the
// entry life cycle (remove, revive in place, growth past removed entries),
// case rules, reflect, mold layouts and equality.
#include "runtime/datatypes/map.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/io/lexer.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace kiv {
namespace {

using test::mold;
using test::form;

const auto* const runtime_env = test::boot_runtime();

std::string error_id(auto&& fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

Cell word_of(const char* name, TypeId kind = TypeId::word) {
    Cell w{};
    word::make_kind_at(kind, name, w);
    return w;
}
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
Cell block_of(std::initializer_list<Cell> cells) {
    Cell b{};
    block::make_at(b, 4);
    for (const Cell& c : cells) block::append_copy(b, c);
    return b;
}
Cell make_map(std::initializer_list<Cell> cells) {
    Cell m{}, spec = block_of(cells);
    datatype::make_at(TypeId::map, m);
    return *map::make(&m, &spec, TypeId::map);
}
Cell select(const Cell& m, Cell key, bool case_ = false) {
    Cell r = m;
    FindRefinements refinements;
    refinements.case_ = case_;
    return *map::select(&r, &key, refinements);
}
void put(const Cell& m, Cell key, Cell value, bool case_ = false) {
    Cell r = m;
    map::put(&r, &key, &value, case_);
}
void remove_key(const Cell& m, Cell key) {
    Cell r = m;
    map::remove(&r, nullptr, &key);
}

TEST(Map, MakeFoldsDuplicatesAndNormalisesKeys) {
    // A key met again gives its value to the first pair; word kinds are one key.
    const Cell m = make_map({word_of("a"), int_of(1), word_of("b"), int_of(2),
                             word_of("a", TypeId::lit_word), int_of(3)});
    EXPECT_EQ(map::size(m), 2);
    EXPECT_EQ(select(m, word_of("a", TypeId::set_word)).int_value(), 3);
    EXPECT_EQ(mold(m), "#[\n    a: 3\n    b: 2\n]");
    // A text key is stored as a copy: changing the original changes nothing.
    Cell key = str_of("k");
    const Cell m2 = make_map({key, int_of(1)});
    string::append_nul_text(key.series_node(), "x");
    EXPECT_EQ(select(m2, str_of("k")).int_value(), 1);
}

TEST(Map, BadSpecsRaise) {
    Cell m{};
    datatype::make_at(TypeId::map, m);
    Cell odd = block_of({word_of("a"), int_of(1), word_of("b")});
    EXPECT_EQ(error_id([&] { map::make(&m, &odd, TypeId::map); }), "invalid-arg");
    Cell negative = int_of(-1);
    EXPECT_EQ(error_id([&] { map::make(&m, &negative, TypeId::map); }), "out-of-range");
    Cell number = int_of(3);
    EXPECT_EQ(error_id([&] { map::to(&m, &number, TypeId::map); }), "bad-to-arg");
    Cell bad_key = block_of({block_of({}), int_of(1)});
    EXPECT_EQ(error_id([&] { map::make(&m, &bad_key, TypeId::map); }), "invalid-path");
    const Cell ok = make_map({});
    EXPECT_EQ(error_id([&] { remove_key(ok, word_of("a")); }), "");
    Cell r = ok;
    EXPECT_EQ(error_id([&] { map::remove(&r, nullptr, nullptr); }), "missing-arg");
}

TEST(Map, RemovedEntryIsRevivedInPlace) {
    const Cell m = make_map({word_of("a"), int_of(1), word_of("b"), int_of(2)});
    remove_key(m, word_of("a"));
    EXPECT_EQ(map::size(m), 1);
    EXPECT_TRUE(select(m, word_of("a")).is(TypeId::none));
    EXPECT_EQ(mold(m, {.flat = true}), "#[b: 2]");
    put(m, word_of("a"), int_of(3));
    EXPECT_EQ(map::size(m), 2);
    EXPECT_EQ(mold(m, {.flat = true}), "#[a: 3 b: 2]");  // its old place in the block
    // Setting none keeps the key.
    put(m, word_of("b"), none::value);
    EXPECT_EQ(map::size(m), 2);
}

TEST(Map, GrowsPastManyRemovedEntries) {
    // Removed entries keep their buckets: the table must still grow, never fill.
    const Cell m = make_map({});
    for (std::int32_t i = 0; i < 200; ++i) put(m, int_of(i), int_of(i));
    for (std::int32_t i = 0; i < 190; ++i) remove_key(m, int_of(i));
    for (std::int32_t i = 1000; i < 3000; ++i) put(m, int_of(i), int_of(-i));
    EXPECT_EQ(map::size(m), 2010);
    EXPECT_TRUE(select(m, int_of(5)).is(TypeId::none));
    EXPECT_EQ(select(m, int_of(195)).int_value(), 195);
    EXPECT_EQ(select(m, int_of(2999)).int_value(), -2999);
    // Removing everything, then setting a removed key again, revives it.
    for (std::int32_t i = 190; i < 200; ++i) remove_key(m, int_of(i));
    for (std::int32_t i = 1000; i < 3000; ++i) remove_key(m, int_of(i));
    EXPECT_EQ(map::size(m), 0);
    put(m, int_of(7), int_of(70));
    EXPECT_EQ(map::size(m), 1);
    EXPECT_EQ(select(m, int_of(7)).int_value(), 70);
}

TEST(Map, CaseRules) {
    const Cell m = make_map({});
    put(m, str_of("A"), int_of(1), true);
    put(m, str_of("a"), int_of(2), true);
    EXPECT_EQ(map::size(m), 2);
    EXPECT_EQ(select(m, str_of("a"), true).int_value(), 2);
    EXPECT_EQ(select(m, str_of("A"), true).int_value(), 1);
    EXPECT_FALSE(select(m, str_of("a")).is(TypeId::none));  // either, without /case
    // Without /case an existing key of other case takes the value.
    const Cell m2 = make_map({str_of("Key"), int_of(1)});
    put(m2, str_of("KEY"), int_of(5));
    EXPECT_EQ(map::size(m2), 1);
    EXPECT_EQ(mold(m2, {.flat = true}), "#[\"Key\" 5]");
}

TEST(Map, MoldLayouts) {
    const Cell m = make_map({word_of("a"), int_of(1), word_of("b"), int_of(2)});
    EXPECT_EQ(mold(m, {}, -1, nullptr, 1), "#[\n        a: 1\n        b: 2\n    ]");
    EXPECT_EQ(mold(m, {.only = true}), "a: 1\nb: 2");
    EXPECT_EQ(mold(make_map({})), "#[]");
    EXPECT_EQ(form(m), "a: 1\nb: 2");
}

TEST(Map, ReflectAndFind) {
    const Cell m = make_map({word_of("a"), int_of(1), str_of("s"), int_of(2)});
    auto reflect = [&](words::Sym field) {
        Cell r = m, f{};
        word::make_at(words::id(field), f);
        return mold(*map::reflect(&r, &f));
    };
    EXPECT_EQ(reflect(words::Sym::words), "[a \"s\"]");
    EXPECT_EQ(reflect(words::Sym::values), "[1 2]");
    EXPECT_EQ(reflect(words::Sym::body), "[\n    a: 1\n    \"s\" 2\n]");
    Cell r = m, key = word_of("a", TypeId::get_word);
    EXPECT_TRUE(map::find(&r, &key, FindRefinements{})->is(TypeId::word));
}

TEST(Map, Equality) {
    const Cell a = make_map({word_of("x"), int_of(1), word_of("y"), str_of("t")});
    const Cell b = make_map({word_of("y"), str_of("T"), word_of("x"), int_of(1)});
    Cell x = a, y = b;
    EXPECT_EQ(map::compare(&x, &y, CompareOp::equal), 0);
    EXPECT_NE(map::compare(&x, &y, CompareOp::strict_equal), 0);
    EXPECT_NE(map::compare(&x, &y, CompareOp::same), 0);
    remove_key(b, word_of("x"));
    EXPECT_NE(map::compare(&x, &y, CompareOp::equal), 0);
    Cell n = int_of(1);
    EXPECT_EQ(map::compare(&x, &n, CompareOp::equal), not_comparable);
    // A copy is equal and independent.
    Cell c = a;
    map::copy(&c, nullptr, false, nullptr);
    EXPECT_EQ(map::compare(&x, &c, CompareOp::strict_equal), 0);
    put(c, word_of("z"), int_of(3));
    EXPECT_EQ(map::size(a), 2);
    EXPECT_EQ(map::size(c), 3);
}

TEST(Map, Literals) {
    auto load = [](const std::string& text) {
        Cell out{};
        lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(text.data()),
                    static_cast<std::int32_t>(text.size()), lexer::ScanRequest{}, nullptr);
        return *block::get_cell(out, 0);
    };
    const Cell m = load("#[a 1 \"k\" [2] 'a 3]");
    ASSERT_TRUE(m.is(TypeId::map));
    EXPECT_EQ(map::size(m), 2);
    EXPECT_EQ(mold(m, {.flat = true}), "#[a: 3 \"k\" [2]]");
    EXPECT_EQ(map::size(load("#[]")), 0);
    // Odd counts and keys that cannot be keys are syntax errors.
    EXPECT_EQ(error_id([&] { load("#[a 1 b]"); }), "invalid");
    EXPECT_EQ(error_id([&] { load("#[[x] 1]"); }), "invalid");
}

}  // namespace
}  // namespace kiv
