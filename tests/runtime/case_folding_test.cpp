#include "runtime/case_folding.h"

#include "runtime/memory.h"
#include "runtime/raise.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kiv {
namespace {

class CaseFolding : public ::testing::Test {
protected:
    static void SetUpTestSuite() { case_folding::init(); }
    void SetUp() override { memory::init(); }
    void TearDown() override { memory::free_all(); }

    static Cell make_text(const std::vector<std::uint32_t>& cps, std::uint32_t unit) {
        NodeId node = memory::alloc_series(static_cast<std::int32_t>(cps.size()) + 1, unit, 0);
        SeriesBuffer* buf = memory::buffer(node);
        for (std::uint32_t cp : cps) {
            std::memcpy(buf->tail, &cp, unit);
            buf->tail += unit;
        }
        Cell c{};
        c.reset(TypeId::string);
        c.set_series_node(node);
        return c;
    }

    static std::vector<std::uint32_t> chars_of(const Cell& text, std::uint32_t* unit = nullptr) {
        SeriesBuffer* buf = memory::buffer(text.series_node());
        if (unit) *unit = buf->unit();
        std::vector<std::uint32_t> out;
        for (std::uint8_t* p = buf->head; p < buf->tail; p += buf->unit()) {
            std::uint32_t cp = 0;
            std::memcpy(&cp, p, buf->unit());
            out.push_back(cp);
        }
        return out;
    }

    static Cell integer(std::int32_t n) {
        Cell c{};
        c.reset(TypeId::integer);
        c.data2 = static_cast<std::uint32_t>(n);
        return c;
    }
};

TEST_F(CaseFolding, MapsWithoutLocaleByTheUnicode11Rules) {
    struct Case {
        std::uint32_t cp;
        std::uint32_t upper;
        std::uint32_t lower;
    } cases[] = {
        {0x0000, 0x0000, 0x0000},
        {0x0069, 0x0049, 0x0069}, {0x0131, 0x0049, 0x0131},  // dotless i
        {0x0130, 0x0130, 0x0069},                            // simple lower mapping
        {0x00DF, 0x0053, 0x00DF},                            // first of the full upper mapping
        {0x0149, 0x02BC, 0x0149}, {0x1F80, 0x1F08, 0x1F80}, {0x0390, 0x0399, 0x0390},
        {0x01C5, 0x01C4, 0x01C6},                            // title case goes both ways
        {0x10D0, 0x1C90, 0x10D0},                            // Mtavruli, new in 11.0
        {0xA7B9, 0xA7B8, 0xA7B9},                            // new in 11.0
        {0xA7BA, 0xA7BA, 0xA7BA}, {0x2C5F, 0x2C5F, 0x2C5F},  // assigned after 11.0
        {0xFF5A, 0xFF3A, 0xFF5A},
        {0x10428, 0x10400, 0x10428}, {0x10400, 0x10400, 0x10428},
        {0x1E922, 0x1E900, 0x1E922}, {0x1E943, 0x1E921, 0x1E943}, {0x1E900, 0x1E900, 0x1E922},
        {0x16E60, 0x16E40, 0x16E60},                         // Medefaidrin, new in 11.0
        {0x10597, 0x10597, 0x10597},                         // Vithkuqi: after 11.0
        {0x1F600, 0x1F600, 0x1F600}, {0x110000, 0x110000, 0x110000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(case_folding::fold_char(c.cp, true), c.upper) << std::hex << c.cp;
        EXPECT_EQ(case_folding::fold_char(c.cp, false), c.lower) << std::hex << c.cp;
    }
    EXPECT_EQ(case_folding::swap_case('a'), 'A');
    EXPECT_EQ(case_folding::swap_case('A'), 'a');
    EXPECT_EQ(case_folding::to_upper(0x00E9), 0x00C9u);
}

// The lists must stay sorted and split by plane: fold_plane_char stops its
// scan at the first larger source.
TEST_F(CaseFolding, GeneratedListsAreSortedAndComplete) {
    struct List {
        const case_folding::CasePair* pairs;
        std::size_t count;
        std::size_t expected;
        bool bmp;
    } lists[] = {
        {case_folding::upper_bmp_pairs, case_folding::upper_bmp_pairs_count, 1250, true},
        {case_folding::lower_bmp_pairs, case_folding::lower_bmp_pairs_count, 1158, true},
        {case_folding::upper_plane_pairs, case_folding::upper_plane_pairs_count, 225, false},
        {case_folding::lower_plane_pairs, case_folding::lower_plane_pairs_count, 225, false},
    };
    for (const List& l : lists) {
        EXPECT_EQ(l.count, l.expected);
        for (std::size_t i = 0; i < l.count; ++i) {
            ASSERT_EQ(l.pairs[i].from <= 0xFFFF, l.bmp);
            ASSERT_NE(l.pairs[i].to, 0u);
            if (i > 0) {
                ASSERT_LT(l.pairs[i - 1].from, l.pairs[i].from);
            }
        }
    }
}

TEST_F(CaseFolding, ChangesCharsAndTextsInPlace) {
    Cell ch{};
    ch.reset(TypeId::char_);
    ch.data2 = 0x00E9;
    EXPECT_EQ(case_folding::change_case(ch, nullptr, true).data2, 0x00C9u);

    struct Case {
        std::int32_t part;  // -99: no /part
        std::vector<std::uint32_t> want;
    } cases[] = {
        {-99, {'A', 'B', 'C'}}, {10, {'A', 'B', 'C'}}, {2, {'A', 'B', 'c'}}, {0, {'a', 'b', 'c'}},
        {-1, {'a', 'b', 'c'}},
    };
    for (const Case& c : cases) {
        Cell text = make_text({'a', 'b', 'c'}, 1);
        Cell part = integer(c.part);
        case_folding::change_case(text, c.part == -99 ? nullptr : &part, true);
        EXPECT_EQ(chars_of(text), c.want) << c.part;
    }

    // /part as a position in the same series, counted from the value's head.
    Cell text = make_text({'A', 'B', 'C', 'D'}, 1);
    text.set_series_head(1);
    Cell end = text;
    end.set_series_head(3);
    case_folding::change_case(text, &end, false);
    EXPECT_EQ(chars_of(text), (std::vector<std::uint32_t>{'A', 'b', 'c', 'D'}));

    // A head past the tail is pulled back and changes nothing.
    text.set_series_head(9);
    case_folding::change_case(text, nullptr, true);
    EXPECT_EQ(text.series_head(), 4);
}

TEST_F(CaseFolding, WidensWhenAMappingLeavesTheUnit) {
    Cell text = make_text({'a', 0xFF, 'b'}, 1);  // y with diaeresis: U+0178 in upper case
    std::uint32_t unit;
    case_folding::change_case(text, nullptr, true);
    EXPECT_EQ(chars_of(text, &unit), (std::vector<std::uint32_t>{'A', 0x178, 'B'}));
    EXPECT_EQ(unit, 2u);
    Cell wide = make_text({0x1E922, 'x'}, 4);
    case_folding::change_case(wide, nullptr, true);
    EXPECT_EQ(chars_of(wide), (std::vector<std::uint32_t>{0x1E900, 'X'}));
}

}  // namespace
}  // namespace kiv
