#include "runtime/datatypes/string_actions.h"

#include "runtime/text/case_folding.h"
#include "runtime/core/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kiv {
namespace {

class CaseChange : public ::testing::Test {
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
        c.set_int(n);
        return c;
    }
};

TEST_F(CaseChange, ChangesCharsAndTextsInPlace) {
    Cell ch{};
    ch.reset(TypeId::char_);
    ch.set_char(0x00E9);
    EXPECT_EQ(string::change_case(ch, nullptr, true).char_value(), 0x00C9u);

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
        string::change_case(text, c.part == -99 ? nullptr : &part, true);
        EXPECT_EQ(chars_of(text), c.want) << c.part;
    }

    // /part as a position in the same series, counted from the value's head.
    Cell text = make_text({'A', 'B', 'C', 'D'}, 1);
    text.set_series_head(1);
    Cell end = text;
    end.set_series_head(3);
    string::change_case(text, &end, false);
    EXPECT_EQ(chars_of(text), (std::vector<std::uint32_t>{'A', 'b', 'c', 'D'}));

    // A head past the tail is pulled back and changes nothing.
    text.set_series_head(9);
    string::change_case(text, nullptr, true);
    EXPECT_EQ(text.series_head(), 4);
}

TEST_F(CaseChange, WidensWhenAMappingLeavesTheUnit) {
    Cell text = make_text({'a', 0xFF, 'b'}, 1);  // y with diaeresis: U+0178 in upper case
    std::uint32_t unit;
    string::change_case(text, nullptr, true);
    EXPECT_EQ(chars_of(text, &unit), (std::vector<std::uint32_t>{'A', 0x178, 'B'}));
    EXPECT_EQ(unit, 2u);
    Cell wide = make_text({0x1E922, 'x'}, 4);
    string::change_case(wide, nullptr, true);
    EXPECT_EQ(chars_of(wide), (std::vector<std::uint32_t>{0x1E900, 'X'}));
}

}  // namespace
}  // namespace kiv
