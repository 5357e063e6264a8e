// typeset!: the bit layout, building from blocks and spec type blocks, the
// text, comparison, the set operations, complement and find.
#include "runtime/datatypes/typeset.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
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

const auto* const runtime_env = test::boot_runtime({.library = false}, [] {
    // The datatype words get their values from boot data; set the few used here.
    for (TypeId t : {TypeId::integer, TypeId::float_, TypeId::string, TypeId::block,
                     TypeId::percent, TypeId::unset}) {
        Cell w = registry::type_name(t).word;
        Cell dt{};
        datatype::make_at(t, dt);
        word::set_value(w, dt);
    }
});

std::string error_id(auto&& fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

Cell word_of(const char* name) {
    Cell w{};
    word::make_kind_at(TypeId::word, name, w);
    return w;
}

Cell block_of(std::initializer_list<Cell> cells) {
    Cell b{};
    block::make_at(b, 4);
    for (const Cell& c : cells) block::append_copy(b, c);
    return b;
}

Cell dt(TypeId t) {
    Cell c{};
    datatype::make_at(t, c);
    return c;
}

Cell set_of(std::initializer_list<TypeId> types) {
    Cell ts{};
    typeset::make_at(ts, 0, 0, 0);
    for (TypeId t : types) ts.typeset_set(static_cast<int>(t));
    return ts;
}

Cell make(Cell spec) {
    Cell out{};
    typeset::to(&out, &spec, TypeId::typeset);
    return out;
}

TEST(Typeset, BitLayoutIsHighBitFirstPerByte) {
    // Ids 0-7 in the low byte of word 1, id 0 its top bit; id 11 is byte 1, bit 0x10.
    EXPECT_EQ(set_of({TypeId::no_type}).data1, 0x80u);
    EXPECT_EQ(set_of({TypeId::integer}).data1, 0x1000u);
    EXPECT_EQ(set_of({TypeId::typeset}).data2, 0x40u);  // id 33: byte 4
    Cell top{};
    typeset::make_at(top, 0, 0, 0);
    top.typeset_set(95);
    EXPECT_EQ(top.data3, 0x01000000u);
    EXPECT_TRUE(typeset::contains(top, static_cast<TypeId>(95)));
}

TEST(Typeset, DefaultHoldsEverythingButUnset) {
    Cell b = block_of({});
    const Cell ts = *typeset::make_default_in(b);
    EXPECT_FALSE(typeset::contains(ts, TypeId::unset));
    for (int t = 0; t < 96; ++t) {
        if (t == static_cast<int>(TypeId::unset)) continue;
        EXPECT_TRUE(ts.typeset_has(t)) << t;
    }
}

TEST(Typeset, MakeAndMold) {
    const Cell number = make(block_of({word_of("integer!"), word_of("float!")}));
    EXPECT_EQ(mold(number), "make typeset! [integer! float!]");
    EXPECT_EQ(mold(number, {.only = true}), "integer! float!");
    EXPECT_EQ(mold(make(block_of({}))), "make typeset! []");
    EXPECT_EQ(mold(make(block_of({})), {.only = true}), "");
    std::int32_t left = 0;
    mold(number, {}, 100, &left);
    EXPECT_EQ(left, 100 - 31);
    // Names come out in id order whatever order the block lists them in, and
    // a word whose value is a typeset adds all of its types.
    Cell w = word_of("number!");
    word::set_value(w, number);
    const Cell both = make(block_of({dt(TypeId::string), w}));
    EXPECT_EQ(mold(both), "make typeset! [string! integer! float!]");
    EXPECT_EQ(form(both, 100), "make typeset! [string! integer! float!]");
    // The part budget is checked before each name.
    EXPECT_EQ(mold(both, {}, 20), "make typeset! [string! ");
    Cell same = both;
    EXPECT_EQ(make(same).data1, both.data1);
}

TEST(Typeset, MakeRefusesOtherValues) {
    Cell i{};
    i.reset(TypeId::integer);
    EXPECT_EQ(error_id([&] { make(i); }), "bad-to-arg");
    EXPECT_EQ(error_id([&] { make(block_of({i})); }), "invalid-arg");
    EXPECT_EQ(error_id([&] { make(block_of({word_of("no-such-value")})); }), "no-value");
}

TEST(Typeset, FromFunctionSpec) {
    Cell holder = block_of({});
    Cell inner = block_of({});
    Cell field = word_of("field-name");
    Cell ref = word_of("some-field");
    word::set_value(ref, field);  // a word naming a word stands for an object's field
    const Cell spec = block_of({word_of("integer!"), inner, ref, dt(TypeId::block)});
    const Cell ts = *typeset::make_from_spec_in(holder, spec);
    EXPECT_EQ(typeset::count(ts), 3);
    EXPECT_TRUE(typeset::contains(ts, TypeId::object));
    EXPECT_TRUE(typeset::contains(ts, TypeId::block));
    Cell text{};
    string::make_at(text, 4);
    EXPECT_EQ(error_id([&] { typeset::make_from_spec_in(holder, block_of({text})); }),
              "invalid-type-spec");
}

TEST(Typeset, CompareAndSortOrder) {
    Cell a = set_of({TypeId::integer, TypeId::float_});
    Cell b = set_of({TypeId::float_, TypeId::integer});
    Cell c = set_of({TypeId::string});
    EXPECT_EQ(typeset::compare(&a, &b, CompareOp::equal), 0);
    EXPECT_EQ(typeset::compare(&a, &b, CompareOp::strict_equal), 0);
    EXPECT_NE(typeset::compare(&a, &c, CompareOp::equal), 0);
    EXPECT_GT(typeset::compare(&a, &c, CompareOp::sort), 0);  // fewer types sort first
    EXPECT_LT(typeset::compare(&c, &a, CompareOp::case_sort), 0);
    EXPECT_EQ(typeset::compare(&a, &c, CompareOp::lesser), not_comparable);
    Cell d = dt(TypeId::integer);
    EXPECT_EQ(typeset::compare(&a, &d, CompareOp::equal), not_comparable);
}

TEST(Typeset, SetOperations) {
    using O = float_::MathOp;
    struct Case {
        O op;
        Cell right;
        Cell expected;
    };
    const Cell left = set_of({TypeId::integer, TypeId::float_});
    const Cell right = set_of({TypeId::float_, TypeId::string});
    const Case cases[] = {
        {O::or_, right, set_of({TypeId::integer, TypeId::float_, TypeId::string})},
        {O::union_, dt(TypeId::block), set_of({TypeId::integer, TypeId::float_, TypeId::block})},
        {O::and_, right, set_of({TypeId::float_})},
        {O::intersect, dt(TypeId::integer), set_of({TypeId::integer})},
        {O::xor_, right, set_of({TypeId::integer, TypeId::string})},
        {O::difference, right, set_of({TypeId::integer, TypeId::string})},
        {O::exclude, right, set_of({TypeId::integer})},
        {O::unique, right, left},
    };
    for (Case c : cases) {
        Cell l = left;
        typeset::math_op(&l, &c.right, c.op);
        EXPECT_EQ(l.type(), TypeId::typeset);
        EXPECT_EQ(typeset::compare(&l, &c.expected, CompareOp::equal), 0)
            << static_cast<int>(c.op) << " " << mold(l);
    }
    Cell l = left;
    Cell i{};
    i.reset(TypeId::integer);
    EXPECT_EQ(error_id([&] { typeset::or_(&l, &i); }), "invalid-arg");
    // The action handlers route to the same operations.
    Cell r = right;
    typeset::and_(&l, &r);
    EXPECT_EQ(mold(l), "make typeset! [float!]");
}

TEST(Typeset, ComplementFlipsAllNinetySixBits) {
    Cell empty = set_of({});
    typeset::complement(&empty);
    EXPECT_EQ(empty.data1, 0xFFFFFFFFu);
    EXPECT_EQ(empty.data2, 0xFFFFFFFFu);
    EXPECT_EQ(empty.data3, 0xFFFFFFFFu);
    Cell some = set_of({TypeId::integer});
    typeset::complement(&some);
    EXPECT_FALSE(typeset::contains(some, TypeId::integer));
    EXPECT_TRUE(typeset::contains(some, TypeId::float_));
}

TEST(Typeset, FindAndToBlock) {
    const Cell ts = set_of({TypeId::integer, TypeId::percent});
    for (auto [t, found] : {std::pair{TypeId::integer, 1u}, std::pair{TypeId::float_, 0u}}) {
        Cell s = ts, v = dt(t);
        Cell* r = typeset::find(&s, &v, FindRefinements{});
        EXPECT_EQ(r->type(), TypeId::logic);
        EXPECT_EQ(r->logic_value(), found);
    }
    Cell s = ts;
    Cell i{};
    i.reset(TypeId::integer);
    EXPECT_EQ(error_id([&] { typeset::find(&s, &i, FindRefinements{}); }), "invalid-arg");

    Cell blk{};
    typeset::to_block(ts, blk);
    ASSERT_EQ(block::count_from_head(blk), 2);
    EXPECT_EQ(block::get_cell(blk, 0)->word_symbol(), symbol::make("integer!"));
    EXPECT_EQ(block::get_cell(blk, 1)->word_symbol(), symbol::make("percent!"));
}

}  // namespace
}  // namespace kiv
