#include "runtime/text/case_folding.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv {
namespace {

class CaseFolding : public ::testing::Test {
protected:
    static void SetUpTestSuite() { case_folding::init(); }
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

}  // namespace
}  // namespace kiv
