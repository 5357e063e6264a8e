// Text buffers: unit widening on append and store, concatenation, hex text.
#include "runtime/datatypes/string.h"

#include "runtime/core/memory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

class StringBuffer : public testing::Test {
protected:
    void SetUp() override { memory::init(); }
    void TearDown() override { memory::free_all(); }

    static Cell text(const char* ascii, std::uint32_t unit = 1) {
        Cell c{};
        string::make_at_unit(c, 4, unit);
        string::append_nul_text(c.series_node(), ascii);
        return c;
    }
    static std::uint32_t unit(const Cell& c) { return memory::buffer(c.series_node())->unit(); }
    static std::vector<std::uint32_t> chars(Cell c) {
        std::vector<std::uint32_t> out;
        for (std::int32_t i = 0; i < string::length_from_start(c); ++i)
            out.push_back(string::get_char_at_index(c, i));
        return out;
    }
};

TEST_F(StringBuffer, AppendWidensOnlyWhenTheCodePointDoesNotFit) {
    Cell c = text("ab");
    string::append_char(c.series_node(), 127);
    EXPECT_EQ(unit(c), 1u);
    string::append_char(c.series_node(), 200);  // appends keep 1-byte units for 0-127 only
    EXPECT_EQ(unit(c), 2u);
    string::append_char(c.series_node(), 0x1F600);
    EXPECT_EQ(unit(c), 4u);
    EXPECT_EQ(chars(c), (std::vector<std::uint32_t>{'a', 'b', 127, 200, 0x1F600}));
}

TEST_F(StringBuffer, StoreKeepsLatin1InOneByteUnits) {
    Cell c = text("abc");
    string::poke_char(c.series_node(), 1, 200);
    EXPECT_EQ(unit(c), 1u);
    string::poke_char(c.series_node(), 2, 0x3A9);
    EXPECT_EQ(unit(c), 2u);
    string::store_char_at(c.series_node(), 3, 'd');  // at the tail: the tail moves on
    string::insert_char_at(c.series_node(), 0, 0x10000);
    EXPECT_EQ(unit(c), 4u);
    EXPECT_EQ(chars(c), (std::vector<std::uint32_t>{0x10000, 'a', 200, 0x3A9, 'd'}));
    string::remove_at(c, 1, 100);  // a count past the tail cuts at the index
    EXPECT_EQ(chars(c), (std::vector<std::uint32_t>{0x10000}));
}

TEST_F(StringBuffer, EmptyNulTextAppendsNothing) {
    Cell c = text("");
    EXPECT_EQ(string::length_from_start(c), 0);
    EXPECT_TRUE(string::at_tail_q(c));
}

TEST_F(StringBuffer, ConcatenateWidensAndPlacesByMode) {
    Cell target = text("xyz");
    Cell wide = text("", 4);
    string::append_char(wide.series_node(), 0x1F600);
    string::concatenate(target, wide, -1, 0, false, string::ConcatMode::insert);
    EXPECT_EQ(unit(target), 4u);
    EXPECT_EQ(chars(target), (std::vector<std::uint32_t>{0x1F600, 'x', 'y', 'z'}));

    Cell narrow = text("ab");
    string::concatenate(target, narrow, 1, 0, true, string::ConcatMode::append);  // limit 1
    EXPECT_EQ(unit(narrow), 1u) << "keep-width leaves the source alone";
    string::overwrite(target, narrow, -1, 3, false);  // runs past the old tail
    EXPECT_EQ(chars(target), (std::vector<std::uint32_t>{0x1F600, 'x', 'y', 'a', 'b'}));
}

TEST_F(StringBuffer, ConcatenateIntoItself) {
    Cell c = text("abc");
    Cell from = c;
    from.set_series_head(1);
    string::concatenate(c, from, -1, 1, false, string::ConcatMode::insert);
    EXPECT_EQ(chars(c), (std::vector<std::uint32_t>{'a', 'b', 'c', 'b', 'c'}));
}

TEST_F(StringBuffer, HeadPastTheTailReadsAsTheTail) {
    Cell c = text("abcd");
    Cell later = c;
    later.set_series_head(3);
    string::remove_at(c, 0, 3);
    EXPECT_TRUE(string::at_tail_q(later));
    EXPECT_EQ(string::length_from_head(later), 0);
    EXPECT_EQ(later.series_head(), 1);
    EXPECT_EQ(string::find_char(later, 'd'), -1);
    EXPECT_EQ(string::get_char_at_index(later, 5), 0u);
}

TEST_F(StringBuffer, MoveCharsAcrossWidths) {
    Cell src = text("", 2);
    string::append_char(src.series_node(), 0x3A9);
    string::append_char(src.series_node(), 'q');
    Cell dst = text("ab");
    dst.set_series_head(1);
    string::move_chars(src, dst, 5);
    EXPECT_EQ(chars(dst), (std::vector<std::uint32_t>{'a', 0x3A9, 'q', 'b'}));
    EXPECT_EQ(string::length_from_start(src), 0);
}

TEST(StringHex, Digits) {
    struct Case { std::int32_t value; bool trim; const char* text; };
    for (const Case& k : {Case{255, true, "FF"}, Case{0, true, "00"}, Case{-1, false, "FFFFFFFF"},
                          Case{255, false, "000000FF"}, Case{-256, false, "FFFFFF00"},
                          Case{0x12345, true, "12345"}})
        EXPECT_STREQ(string::to_hex(k.value, k.trim), k.text) << k.value;
    EXPECT_STREQ(string::byte_to_hex(0xA7), "A7");
}

}  // namespace
}  // namespace kiv
