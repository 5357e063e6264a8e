// The Kivbin writers: byte-exact records where the layout is fixed by the
// format, and round trips through the reader in both encodings, shared
// series and cycles included.
#include "runtime/core/collector.h"
#include "runtime/io/kivbin_encode.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/kivbin.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime({.library = true});

using Bytes = std::vector<std::uint8_t>;

// The value of a loaded text's first value (rooted by the caller's block).
Cell loaded(std::string_view text, Cell& keep_block) {
    keep_block = test::load(text);
    return block::first_cell(keep_block)[0];
}

// The payload of a compact stream without a symbol table.
Bytes payload(const Bytes& stream) {
    EXPECT_EQ(stream.at(7) & 0x04, 0);
    // magic, version, flags, varint root count 1, varint payload length (< 128 here)
    return Bytes(stream.begin() + 10, stream.end());
}

Bytes compact_payload(std::string_view text) {
    Cell blk{};
    const Cell v = loaded(text, blk);
    collector::Root keep(blk);
    return payload(kivbin::encode(v));
}

TEST(KivbinEncode, CompactRecords) {
    struct Case {
        const char* text;
        Bytes expected;
    } cases[] = {
        {"5", {0x85}},
        {"64", {0x0B, 0x80, 0x01}},
        {"-1", {0x0B, 0x01}},
        {"3.0", {0x4C, 0x06}},
        {"3.5", {0x0C, 0, 0, 0, 0, 0, 0, 0x0C, 0x40}},
        {"-0.0", {0x0C, 0, 0, 0, 0, 0, 0, 0, 0x80}},
        {"12%", {0x66, 0x18}},
        {"1.2.3", {0x27, 1, 2, 3}},
        {"1.2.3.4", {0x67, 4, 1, 2, 3, 4}},
        {"1.2.3.4.5", {0x67, 5, 1, 2, 3, 4, 5}},
        {"#\"a\"", {0x0A, 0x61}},
        {"3x-2", {0x25, 0x06, 0x03}},
        {"\"ab\"", {0x07, 0x08, 'a', 'b'}},
        {"[1 [2]]", {0x05, 0x02, 0x81, 0x05, 0x01, 0x82}},
        {"[\n1]", {0x05, 0x01, 0xC0, 0x81}},
        {"#{ABCD}", {0x29, 0x02, 0xAB, 0xCD}},
    };
    for (const Case& c : cases) EXPECT_EQ(compact_payload(c.text), c.expected) << c.text;
}

TEST(KivbinEncode, SharedSeriesAreReferences) {
    Cell v = test::eval("s: \"ab\" b: reduce [s s] b");
    collector::Root keep(v);
    // the second string: C1, the string tag, path length 2 with indices 0 and 0
    const Bytes expected = {0x05, 0x02, 0x07, 0x08, 'a', 'b', 0xC1, 0x07, 0x02, 0x00, 0x00};
    EXPECT_EQ(payload(kivbin::encode(v)), expected);
}

// The molds of the values a stream decodes to.
std::string round_trip(const Cell& v, bool compact) {
    const Bytes data = kivbin::encode(v, {.compact = compact});
    Cell target{};
    block::make_at(target, 4);
    collector::Root keep(target);
    kivbin::decode(data.data(), data.size(), target, nullptr);
    EXPECT_EQ(block::length_of(target), 1);
    return test::mold(block::first_cell(target)[0], {.all = true});
}

TEST(KivbinEncode, RoundTrips) {
    const char* texts[] = {
        "[1 -7 2147483647 -2147483648 64 1.5 -0.0 1e300 3.0 12% 0.5% 33.333% #\"x\" #\"^(20AC)\" 1x2 1.2.3 "
        "1.2.3.4.5.6.7.8.9.10.11.12 $1.25 -EUR$3 (1.5, 2) (1, 2, 3) true false none]",
        "[\"a\" \"^(20AC)\" \"^(1F600)\" %file.txt http://x.y/z <tag a=1> a@b.c @ref #{00FF}]",
        "[word set-word: :get-word 'lit-word /refinement #issue a/b/c 'a/b :a/b a/b: (1 + 2)]",
        "[10:20:30 -1:00 1:02:03.5 1-Jan-2000 1-Jan-2000/10:00 2-Feb-2020/1:02:03+5:30]",
        "[#[a: 1 \"b\" [2]] [\n a\n b]]",
    };
    for (const char* text : texts) {
        Cell blk{};
        const Cell v = loaded(text, blk);
        collector::Root keep(blk);
        const std::string expected = test::mold(v, {.all = true});
        EXPECT_EQ(round_trip(v, true), expected) << text;
        EXPECT_EQ(round_trip(v, false), expected) << text;
    }
}

TEST(KivbinEncode, MethodsUsingSelfComeBack) {
    // `self` is bound to its object at no index; it read as a look-up and failed.
    const collector::Root obj(test::eval("make object! [a: 5 f: does [self/a * 2]]"));
    for (const bool compact : {true, false}) {
        const Bytes data = kivbin::encode(obj.cell(), {.compact = compact});
        Cell target{};
        block::make_at(target, 4);
        collector::Root keep(target);
        kivbin::decode(data.data(), data.size(), target, nullptr);
        const Cell out = block::first_cell(target)[0];
        ASSERT_TRUE(out.is(TypeId::object));
        Cell name{};
        word::make_kind_at(TypeId::word, "kb-self-test", name);
        word::set_value(name, out);
        EXPECT_EQ(test::mold(test::eval("kb-self-test/a: 7 kb-self-test/f")), "14") << compact;
    }
}

TEST(KivbinEncode, CyclesAndHeads) {
    // A block that holds itself, and a series from its second value.
    Cell v = test::eval("b: [1 2] append/only b b s: next \"xyz\" reduce [b s s next b]");
    collector::Root keep(v);
    for (const bool compact : {true, false}) {
        const Bytes data = kivbin::encode(v, {.compact = compact});
        Cell target{};
        block::make_at(target, 4);
        collector::Root keep_target(target);
        kivbin::decode(data.data(), data.size(), target, nullptr);
        const Cell out = block::first_cell(target)[0];
        const Cell* cells = block::first_cell(out);
        ASSERT_TRUE(cells[0].is(TypeId::block));
        EXPECT_EQ(block::first_cell(cells[0])[2].series_node(), cells[0].series_node()) << "the block holds itself";
        EXPECT_EQ(cells[1].series_node(), cells[2].series_node()) << "one string, shared";
        EXPECT_EQ(cells[1].series_head(), 1);
        EXPECT_EQ(cells[3].series_node(), cells[0].series_node());
        EXPECT_EQ(cells[3].series_head(), 1);
    }
}

TEST(KivbinEncode, SpreadWritesEachValue) {
    Cell blk = test::load("a 1 \"s\" [b]");
    collector::Root keep(blk);
    const Bytes data = kivbin::encode(blk, {.compact = true, .spread = true});
    EXPECT_EQ(data[8], 4) << "root count";
    Cell target{};
    block::make_at(target, 4);
    collector::Root keep_target(target);
    kivbin::decode(data.data(), data.size(), target, nullptr);
    EXPECT_EQ(test::mold(target), "[a 1 \"s\" [b]]");
}

TEST(KivbinEncode, TypesWithoutRecordRaise) {
    const Cell v = Cell::fresh(TypeId::triple);
    try {
        kivbin::encode(v);
        ADD_FAILURE() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "no-codec");
    }
}

}  // namespace
}  // namespace kiv
