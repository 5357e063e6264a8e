// bitset!: membership through the parse-facing test, the fill bytes behind
// the tail, the set operations on complemented operands, the /part budget of
// the text, and the index limits.
#include "runtime/datatypes/bitset.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace kiv {
namespace {

using test::mold;

const auto* const runtime_env = test::boot_runtime();

Cell text(const char* s) {
    Cell t{};
    string::make_at(t, 16);
    string::append_nul_text(t.series_node(), s);
    return t;
}

Cell integer(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}

Cell make(const Cell& spec) {
    Cell bs{};
    bitset::make_from_spec(bs, spec);
    return bs;
}

// [not "spec"] or ["spec"] as a block.
Cell spec_block(const char* s, bool not_) {
    Cell blk{};
    block::make_at(blk, 2);
    if (not_) {
        Cell w{};
        word::make_kind_at(TypeId::word, "not", w);
        block::append_copy(blk, w);
    }
    block::append_copy(blk, text(s));
    return blk;
}

std::string error_id(auto&& fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

TEST(Bitset, MembershipInsideAndBeyondTheTail) {
    const Cell plain = make(text("ac"));
    const Cell not_ = make(spec_block("ac", true));
    for (std::uint32_t n : {0u, 97u, 98u, 99u, 200u, 0x10FFFFu, 0xFFFFFFFFu}) {
        const bool in = n == 97 || n == 99;
        EXPECT_EQ(bitset::has(plain, n), in) << n;
        EXPECT_EQ(bitset::has(not_, n), !in) << n;
    }
}

TEST(Bitset, GrowthFillsWithTheFlagsByte) {
    // A complemented bitset cleared far out grows with 0xFF: the bits between
    // the old tail and the cleared one stay members.
    Cell bs = make(spec_block("a", true));
    const Cell cp = integer(5000);
    bitset::spec_walk(cp, bs, bitset::Walk::clear, false, bitset::SpecError::other);
    EXPECT_FALSE(bitset::has(bs, 5000));
    EXPECT_FALSE(bitset::has(bs, 97));
    for (std::uint32_t n : {98u, 1000u, 4999u, 5001u, 100000u}) EXPECT_TRUE(bitset::has(bs, n)) << n;
    // A plain one set far out: nothing between becomes a member.
    Cell p = make(text("a"));
    bitset::spec_walk(cp, p, bitset::Walk::set, false, bitset::SpecError::other);
    for (std::uint32_t n : {98u, 1000u, 4999u, 5001u}) EXPECT_FALSE(bitset::has(p, n)) << n;
    EXPECT_TRUE(bitset::has(p, 5000));
}

TEST(Bitset, SetOperationsKeepMembershipOfComplementedOperands) {
    // Each case: operation, then membership of "a", "b", "z" and a far code point.
    struct Case { float_::MathOp op; bool a, b, z, far; };
    const Case cases[] = {
        {float_::MathOp::union_, false, true, true, true},       // (not a) or b
        {float_::MathOp::intersect, false, true, false, false},  // (not a) and b
        {float_::MathOp::and_, false, true, false, false},
        {float_::MathOp::difference, false, false, true, true},  // (not a) xor b
        {float_::MathOp::exclude, false, false, true, true},     // (not a) and not b
    };
    for (const Case& c : cases) {
        Cell left = make(spec_block("a", true));
        Cell right = make(text("b"));
        bitset::math_op(&left, &right, c.op);
        EXPECT_EQ(bitset::has(left, 'a'), c.a) << static_cast<int>(c.op);
        EXPECT_EQ(bitset::has(left, 'b'), c.b) << static_cast<int>(c.op);
        EXPECT_EQ(bitset::has(left, 'z'), c.z) << static_cast<int>(c.op);
        EXPECT_EQ(bitset::has(left, 70000), c.far) << static_cast<int>(c.op);
    }
    // Two complemented operands: their union still holds everything beyond.
    Cell l = make(spec_block("a", true));
    Cell r = make(spec_block("bcdefghijklmnopqrstuvwxyz", true));
    bitset::math_op(&l, &r, float_::MathOp::union_);
    EXPECT_TRUE(bitset::has(l, 'a'));
    EXPECT_TRUE(bitset::has(l, 70000));
}

TEST(Bitset, MoldStopsWhenThePartBudgetIsSpent) {
    const Cell bs = make(text("a"));  // 13 bytes
    EXPECT_EQ(mold(bs), "make bitset! #{00000000000000000000000040}");
    EXPECT_EQ(mold(bs, {}, 19), "make bitset! #{0000");  // the pair that spends it is the last
}

TEST(Bitset, IndexLimits) {
    Cell bs = make(text("a"));
    const Cell negative = integer(-1);
    const Cell huge = integer(0x7FFFFFFF);
    EXPECT_EQ(error_id([&] { make(negative); }), std::string("out-of-range"));
    EXPECT_EQ(error_id([&] { make(huge); }), std::string("out-of-range"));
    EXPECT_EQ(error_id([&] {
        bitset::spec_walk(huge, bs, bitset::Walk::set, false, bitset::SpecError::other);
    }), std::string("out-of-range"));
    // Testing takes them: they lie outside.
    EXPECT_EQ(bitset::spec_walk(negative, bs, bitset::Walk::test, true, bitset::SpecError::other), 0);
    EXPECT_EQ(bitset::spec_walk(huge, bs, bitset::Walk::test, true, bitset::SpecError::other), 0);
    EXPECT_EQ(bitset::length_q(&bs), 13 * 8);
}

}  // namespace
}  // namespace kiv
