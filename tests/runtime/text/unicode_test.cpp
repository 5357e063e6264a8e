#include "runtime/text/unicode.h"

#include "runtime/core/raise.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace kiv {
namespace {

using Bytes = std::vector<std::uint8_t>;

class Unicode : public ::testing::Test {
protected:
    void SetUp() override { memory::init(); }
    void TearDown() override { memory::free_all(); }

    // A string! cell over a new series holding cps at the given unit.
    static Cell make_text(const std::vector<std::uint32_t>& cps, std::uint32_t unit) {
        NodeId node = memory::alloc_series(static_cast<std::int32_t>(cps.size()) + 1, unit, 0);
        SeriesBuffer* buf = memory::buffer(node);
        for (std::uint32_t cp : cps) {
            std::memcpy(buf->tail, &cp, unit);  // little-endian: the low bytes
            buf->tail += unit;
        }
        Cell c{};
        c.reset(TypeId::string);
        c.set_series_node(node);
        return c;
    }

    // The code points of node's series, and its unit.
    static std::vector<std::uint32_t> units_of(NodeId node, std::uint32_t* unit = nullptr) {
        SeriesBuffer* buf = memory::buffer(node);
        if (unit) *unit = buf->unit();
        std::vector<std::uint32_t> out;
        for (std::uint8_t* p = buf->head; p < buf->tail; p += buf->unit()) {
            std::uint32_t cp = 0;
            std::memcpy(&cp, p, buf->unit());
            out.push_back(cp);
        }
        return out;
    }

    static NodeId load(const Bytes& text, std::int32_t* left, bool cr = false, NodeId target = 0) {
        return unicode::load_utf8(text.data(), static_cast<std::int32_t>(text.size()), target, left, cr);
    }

    // The error raised by f, its id and first argument.
    template <typename F>
    static LanguageError error_of(F f) {
        try {
            f();
        } catch (const LanguageError& e) {
            return e;
        }
        ADD_FAILURE() << "no error raised";
        return LanguageError{};
    }
};

// Every code point survives encoding and automaton decoding; surrogates are
// the automaton's to reject.
TEST_F(Unicode, AutomatonRoundTripsEveryCodePoint) {
    std::uint8_t buf[4];
    for (std::uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        int n = unicode::encode_utf8_char(cp, buf);
        ASSERT_EQ(n, unicode::utf8_char_size(static_cast<std::int32_t>(cp)));
        std::int32_t got;
        const std::uint8_t* end = unicode::decode_utf8_char(buf, buf + n, &got);
        bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;  // rejected at the second byte
        ASSERT_EQ(end, buf + (surrogate ? 2 : n)) << cp;
        ASSERT_EQ(got, surrogate ? -1 : static_cast<std::int32_t>(cp)) << cp;
    }
}

TEST_F(Unicode, AutomatonRejectsAndNeverReadsPastTheEnd) {
    struct Case {
        Bytes bytes;
        std::size_t end;       // bytes the decoder may read
        std::int32_t cp;
        std::size_t consumed;
    } cases[] = {
        {{0xC0, 0x80}, 2, -1, 1},              // overlong: rejected at the lead
        {{0xED, 0xA0, 0x80}, 3, -1, 2},        // surrogate
        {{0xF4, 0x90, 0x80, 0x80}, 4, -1, 2},  // above U+10FFFF
        {{0x80}, 1, -1, 1},                    // stray continuation
        {{0xFF}, 1, -1, 1},
        {{0xE2, 0x82, 0xAC}, 2, -1, 2},        // cut by the end though a byte follows
        {{0xF0, 0x9F, 0x98, 0x80}, 1, -1, 1},
        {{0xE2, 0x82, 0xAC}, 3, 0x20AC, 3},
    };
    for (const Case& c : cases) {
        std::int32_t cp;
        const std::uint8_t* p = unicode::decode_utf8_char(c.bytes.data(), c.bytes.data() + c.end, &cp);
        EXPECT_EQ(cp, c.cp);
        EXPECT_EQ(static_cast<std::size_t>(p - c.bytes.data()), c.consumed);
    }
    Bytes text = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 0xE2, 0x82};
    const std::uint8_t* end = text.data() + text.size();
    EXPECT_EQ(unicode::count_utf8_chars(text.data(), end), 5);
    EXPECT_EQ(unicode::skip_utf8_chars(text.data(), end, 3), text.data() + 6);
    EXPECT_EQ(unicode::skip_utf8_chars(text.data(), end, 99), end);
}

TEST_F(Unicode, StrictDecoderAcceptsWhatTheLoaderAllows) {
    struct Case {
        Bytes bytes;
        std::int32_t cp;
        std::int32_t used;
    } cases[] = {
        {{0x41}, 0x41, 1},
        {{0xC0, 0x80}, 0, 2},                     // overlong forms pass
        {{0xE0, 0x80, 0x80}, 0, 3},
        {{0xED, 0xA0, 0x80}, 0xD800, 3},          // a high surrogate passes
        {{0xEF, 0xBF, 0xBF}, 0xFFFF, 3},
        {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
        {{0xE2, 0x82}, -1, 0},                    // incomplete: nothing used
        {{0xF0, 0x9F, 0x98}, -1, 0},
    };
    for (const Case& c : cases) {
        std::int32_t n = static_cast<std::int32_t>(c.bytes.size());
        EXPECT_EQ(unicode::decode_utf8_strict(c.bytes.data(), &n), c.cp);
        EXPECT_EQ(n, c.used);
    }
}

TEST_F(Unicode, StrictDecoderRaisesOnEveryMalformedClass) {
    const Bytes cases[] = {
        {0x80}, {0xBF, 0x41},                  // stray continuation bytes
        {0xF8, 0x80, 0x80, 0x80}, {0xFF},      // leads that UTF-8 never uses
        {0xC3, 0x41},                          // a continuation missing
        {0xE2, 0x82, 0x41}, {0xF0, 0x9F, 0xC0, 0x80},
        {0xED, 0xB0, 0x80}, {0xED, 0xB3, 0xBF},  // U+DC00-U+DCFF
        {0xEF, 0xBF, 0xBE}, {0xF0, 0x8F, 0xBF, 0xBE},  // U+FFFE, also overlong
        {0xF4, 0x90, 0x80, 0x80}, {0xF7, 0xBF, 0xBF, 0xBF},  // above U+10FFFF
    };
    for (const Bytes& bytes : cases) {
        std::int32_t n = static_cast<std::int32_t>(bytes.size());
        LanguageError e = error_of([&] { unicode::decode_utf8_strict(bytes.data(), &n); });
        EXPECT_EQ(e.category, ErrorCategory::access);
        ASSERT_STREQ(e.id, "invalid-utf8");
        ASSERT_EQ(e.args[0].type(), TypeId::binary);
        SeriesBuffer* arg = memory::buffer(e.args[0].series_node());
        std::size_t shown = bytes.size() < 4 ? bytes.size() : 4;  // never past the input
        ASSERT_EQ(static_cast<std::size_t>(arg->used_bytes()), shown);
        EXPECT_EQ(std::memcmp(arg->head, bytes.data(), shown), 0);
    }
}

TEST_F(Unicode, SizesAndEncodersRejectAboveTheLastCodePoint) {
    EXPECT_EQ(unicode::utf8_char_size(-5), 1);
    EXPECT_EQ(unicode::utf8_char_size(0x7FF), 2);
    EXPECT_EQ(unicode::utf8_char_size(0x10FFFF), 4);
    for (auto f : {+[] { unicode::utf8_char_size(0x110000); },
                   +[] { std::uint8_t b[4]; unicode::encode_utf8_char(0x110000, b); }}) {
        LanguageError e = error_of(f);
        EXPECT_STREQ(e.id, "invalid-char");
        EXPECT_EQ(e.args[0].type(), TypeId::integer);
        EXPECT_EQ(e.args[0].int_value(), 0x110000);
    }
    std::uint8_t out[4] = {0, 0, 0, 0};
    EXPECT_EQ(unicode::encode_utf8_char_bounded(0x20AC, out, 2), 2);
    EXPECT_EQ(out[1], 0x82);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(unicode::utf8_lead_size(0xF0), 4);
    EXPECT_EQ(unicode::utf8_lead_size(0xE1), 3);
    EXPECT_EQ(unicode::utf8_lead_size(0xC3), 2);
    EXPECT_EQ(unicode::utf8_lead_size(0x9F), 0);
    std::uint32_t units[] = {0x41, 0xE9, 0x20AC, 0x1F600};
    auto* p = reinterpret_cast<const std::uint8_t*>(units);
    EXPECT_EQ(unicode::utf8_size_of_range(p, p + sizeof units, 4), 10);
    EXPECT_EQ(unicode::utf16_extra_units(p, p + sizeof units, 4), 2);
}

TEST_F(Unicode, Utf8LoadWidensAsCodePointsArrive) {
    std::int32_t left = 0;
    std::uint32_t unit;
    EXPECT_EQ(units_of(load({0xC3, 0xA9}, &left), &unit), (std::vector<std::uint32_t>{0xE9}));
    EXPECT_EQ(unit, 1u);
    EXPECT_EQ(units_of(load({0xC3, 0xA9, 0xE2, 0x82, 0xAC}, &left), &unit),
              (std::vector<std::uint32_t>{0xE9, 0x20AC}));
    EXPECT_EQ(unit, 2u);
    EXPECT_EQ(units_of(load({0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}, &left), &unit),
              (std::vector<std::uint32_t>{0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(unit, 4u);
    EXPECT_EQ(left, 0);
    // A long ASCII run ahead of a wide character is stored at the wide unit.
    Bytes text(40, 'x');
    text.insert(text.end(), {0xE2, 0x82, 0xAC});
    std::vector<std::uint32_t> expect(40, 'x');
    expect.push_back(0x20AC);
    EXPECT_EQ(units_of(load(text, &left)), expect);
}

TEST_F(Unicode, Utf8LoadHandlesMarkTailAndLineEnds) {
    std::int32_t left = 7;
    EXPECT_TRUE(units_of(load({0xEF, 0xBB, 0xBF}, &left)).empty());
    EXPECT_EQ(left, 0);
    left = 0;
    EXPECT_EQ(units_of(load({0xEF, 0xBB, 0xBF, 'A'}, &left)), (std::vector<std::uint32_t>{'A'}));
    EXPECT_TRUE(units_of(load({}, &left)).empty());
    EXPECT_EQ(left, 0);
    EXPECT_EQ(units_of(load({'a', 'b', 0xE2, 0x82}, &left)), (std::vector<std::uint32_t>{'a', 'b'}));
    EXPECT_EQ(left, 2);
    left = 0;
    // CR LF and a lone CR become LF, also around the eight-byte ASCII path.
    Bytes crlf = {'A', '\r', '\n', 'B', '\r', 'C', 'd', 'e', 'f', 'g', 'h', 'i', 'j', '\r', '\n', 'k'};
    std::vector<std::uint32_t> want = {'A', '\n', 'B', '\n', 'C', 'd', 'e', 'f', 'g', 'h', 'i', 'j', '\n', 'k'};
    EXPECT_EQ(units_of(load(crlf, &left, true)), want);
    EXPECT_EQ(left, 0);
}

TEST_F(Unicode, Utf8LoadIntoATargetKeepsItsUnitAndFailsCleanly) {
    Cell target = make_text({0x263A, 'z'}, 2);
    std::int32_t left = 0;
    NodeId node = unicode::load_utf8_into(reinterpret_cast<const std::uint8_t*>("hello, world"), 12, target, &left);
    std::uint32_t unit;
    std::vector<std::uint32_t> got = units_of(node, &unit);
    EXPECT_EQ(node, target.series_node());
    EXPECT_EQ(unit, 2u);
    EXPECT_EQ(std::u32string(got.begin(), got.end()), U"hello, world");
    Bytes bad = {'o', 'k', 0xC3, 0x28};
    EXPECT_STREQ(error_of([&] { load(bad, &left, false, node); }).id, "invalid-utf8");
    EXPECT_EQ(units_of(node).size(), 12u);  // nothing changed
}

TEST_F(Unicode, Utf16LoadChoosesTheUnitAndCombinesPairs) {
    struct Case {
        Bytes bytes;
        bool cr;
        std::uint32_t unit;
        std::vector<std::uint32_t> cps;
    } cases[] = {
        {{0x3D, 0xD8, 0x00, 0xDE}, false, 4, {0x1F600}},
        {{'A', 0, '\r', 0, '\n', 0, 'B', 0, '\r', 0, 'C', 0}, true, 1, {'A', '\n', 'B', 'C'}},
        {{0xE9, 0, 0xAC, 0x20}, false, 2, {0xE9, 0x20AC}},
        {{0xAC, 0x20, '\r', 0}, true, 2, {0x20AC}},
        {{0x00, 0xDC, 'a', 0}, false, 4, {0xDC00, 'a'}},  // a lone low surrogate stays
    };
    for (const Case& c : cases) {
        NodeId node = unicode::load_utf16(c.bytes.data(), static_cast<std::int32_t>(c.bytes.size() / 2),
                                          nullptr, c.cr);
        std::uint32_t unit;
        EXPECT_EQ(units_of(node, &unit), c.cps);
        EXPECT_EQ(unit, c.unit);
        EXPECT_NE(memory::buffer(node)->flags & unicode::flag_from_utf16, 0u);
    }
    // From the target's scratch buffer into the target's own series.
    Cell target = make_text({'q'}, 1);
    std::memcpy(unicode::scratch_buffer(target, 4), "\x3D\xD8\x00\xDE", 4);
    NodeId node = unicode::load_utf16(nullptr, 2, &target, false);
    EXPECT_EQ(node, target.series_node());
    EXPECT_EQ(units_of(node), (std::vector<std::uint32_t>{0x1F600}));
}

TEST_F(Unicode, Utf16LoadRefusesAnUnpairedHighSurrogate) {
    const Bytes followed = {0x3D, 0xD8, 0x41, 0x00};
    const Bytes last = {'a', 0, 0x3D, 0xD8};
    for (const Bytes* b : {&followed, &last}) {
        EXPECT_EXIT(unicode::load_utf16(b->data(), static_cast<std::int32_t>(b->size() / 2), nullptr, false),
                    ::testing::ExitedWithCode(1), "");
    }
}

TEST_F(Unicode, Utf16ToStringReplacesWhatFormsNoCharacter) {
    struct Case {
        Bytes bytes;
        bool big_endian;
        std::uint32_t unit;
        std::vector<std::uint32_t> cps;
    } cases[] = {
        {{'a', 0, 0xE9, 0}, false, 1, {'a', 0xE9}},
        {{0, 'a', 0x20, 0xAC}, true, 2, {'a', 0x20AC}},
        {{0xD8, 0x3D, 0xDE, 0x00}, true, 4, {0x1F600}},
        {{0x3D, 0xD8, 'a', 0}, false, 2, {0xFFFD, 'a'}},  // a high surrogate without its low one
        {{'a', 0, 0x3D, 0xD8}, false, 2, {'a', 0xFFFD}},  // ... at the end
        {{0x00, 0xDC, 'b', 0}, false, 2, {0xFFFD, 'b'}},  // a lone low surrogate
        {{'c', 0, 'd'}, false, 2, {'c', 0xFFFD}},         // an odd last byte
        {{}, false, 1, {}},
    };
    for (const Case& c : cases) {
        const NodeId node =
            unicode::utf16_to_string(c.bytes.data(), static_cast<std::int32_t>(c.bytes.size()), c.big_endian);
        std::uint32_t unit;
        EXPECT_EQ(units_of(node, &unit), c.cps);
        EXPECT_EQ(unit, c.unit);
    }
}

TEST_F(Unicode, WideningKeepsEveryValue) {
    NodeId node = memory::alloc_series(16, 1, 0);
    SeriesBuffer* buf = memory::buffer(node);
    for (int i = 0; i < buf->size; ++i) *buf->tail++ = static_cast<std::uint8_t>(200 + i);
    std::int32_t n = buf->size;  // full: widening must copy to a larger buffer
    buf = unicode::widen_1_to_2(buf);
    EXPECT_EQ(buf, memory::buffer(node));
    buf = unicode::widen_2_to_4(buf);
    std::uint32_t unit;
    std::vector<std::uint32_t> got = units_of(node, &unit);
    EXPECT_EQ(unit, 4u);
    ASSERT_EQ(static_cast<std::int32_t>(got.size()), n);
    for (std::int32_t i = 0; i < n; ++i) EXPECT_EQ(got[static_cast<std::size_t>(i)], 200u + static_cast<std::uint32_t>(i));
    NodeId small = memory::alloc_series(64, 1, 0);
    memory::buffer(small)->tail += 3;
    std::memcpy(memory::buffer(small)->head, "abc", 3);
    EXPECT_EQ(units_of(unicode::widen_1_to_4(memory::buffer(small))->node),
              (std::vector<std::uint32_t>{'a', 'b', 'c'}));
}

TEST_F(Unicode, WholeValuesEncodeIntoTheScratchBuffer) {
    Cell text = make_text({'a', 0xE9, '\n', 'b'}, 1);
    std::int32_t len = -1;
    std::uint8_t* p = unicode::to_utf8_eol(text, &len, true);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p), static_cast<std::size_t>(len) + 1),
              std::string("a\xC3\xA9\r\nb", 7));
    EXPECT_NE(text.series_extra(), 0u);
    len = 2;
    EXPECT_STREQ(reinterpret_cast<char*>(unicode::to_utf8(text, &len)), "a\xC3\xA9");
    EXPECT_EQ(len, 3);

    Cell wide = make_text({0x10000, '\n'}, 4);
    len = -1;
    std::uint16_t* u = unicode::to_utf16(wide, &len, true);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(len, 4);
    EXPECT_EQ((std::vector<std::uint16_t>(u, u + 5)), (std::vector<std::uint16_t>{0xD800, 0xDC00, '\r', '\n', 0}));

    Cell bad = make_text({'x', 0x110000}, 4);
    len = -1;
    EXPECT_EQ(unicode::to_utf16(bad, &len, false), nullptr);
    EXPECT_STREQ(error_of([&] { unicode::to_utf8(bad, &len); }).id, "invalid-char");

    Cell past = make_text({'a', 'b'}, 1);
    past.set_series_head(5);  // a head past the tail reads as empty
    len = -1;
    EXPECT_STREQ(reinterpret_cast<char*>(unicode::to_utf8(past, &len)), "");
}

TEST_F(Unicode, BoundedWritesStayInsideTheDestination) {
    Cell text = make_text({'a', 0x20AC, 'b'}, 2);
    std::uint8_t out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(unicode::write_utf8_bounded(text, out, 3, -1, true), 2);  // "a", then a cut euro
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[1], 0xE2);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0xEE);
    EXPECT_EQ(unicode::write_utf8_bounded(text, out, 8, 1, false), 1);
    EXPECT_EQ(unicode::write_utf8(text, out, -1, true), 5);
    EXPECT_STREQ(reinterpret_cast<char*>(out), "a\xE2\x82\xAC" "b");
    std::uint16_t wide[4];
    unicode::widen_nul_text("h\xE9", wide);
    EXPECT_EQ((std::vector<std::uint16_t>(wide, wide + 3)), (std::vector<std::uint16_t>{'h', 0xE9, 0}));
}

TEST_F(Unicode, DisplayWidth) {
    struct Case {
        std::uint32_t cp;
        int width;
        int cjk;
    } cases[] = {
        {0x0000, 0, 0}, {0x0007, 1, 1}, {0x0041, 1, 1}, {0x0085, 1, 1}, {0x0301, 0, 2},  // combining marks are ambiguous too
        {0x200B, 0, 0}, {0x4E00, 2, 2}, {0xFF21, 2, 2}, {0x1F600, 2, 2}, {0x3FFFD, 2, 2},
        {0x00A1, 1, 2}, {0x10FFFD, 1, 2}, {0xE01EF, 0, 2}, {0x10FFFF, 1, 1}, {0x0378, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unicode::char_width(c.cp), c.width) << std::hex << c.cp;
        EXPECT_EQ(unicode::char_width_cjk(c.cp), c.cjk) << std::hex << c.cp;
    }
    const std::uint32_t* t = unicode::zero_width_ranges;
    for (std::size_t i = 2; i < unicode::zero_width_ranges_count; i += 2) ASSERT_GT(t[i], t[i - 1]);
}

// Runs of ASCII go to UTF-8 a machine word of units at a time, in texts of
// every unit width: the bytes must be those of the character-by-character
// encoding wherever the other characters fall and whatever the length.
TEST_F(Unicode, EncodingUnitsCopiesAsciiRunsExactly) {
    std::mt19937 rng(99);
    const std::uint32_t others[] = {0x7F, 0x80, 0xE9, 0xFF, 0x100, 0x20AC, 0xFFFF, 0x1F600};
    for (const std::uint32_t unit : {1u, 2u, 4u}) {
        for (int round = 0; round < 3000; ++round) {
            const int n = static_cast<int>(rng() % 40);
            std::vector<std::uint8_t> units(static_cast<std::size_t>(n) * unit);
            std::string expected;
            for (int i = 0; i < n; ++i) {
                std::uint32_t cp = rng() % 5 == 0 ? others[rng() % 8] : 'a' + rng() % 26;
                if (cp > (unit == 1 ? 0xFFu : unit == 2 ? 0xFFFFu : 0x10FFFFu)) cp = '~';
                unicode::write_unit(units.data() + static_cast<std::size_t>(i) * unit, unit, cp);
                std::uint8_t bytes[4];
                expected.append(reinterpret_cast<char*>(bytes),
                                static_cast<std::size_t>(unicode::encode_utf8_char(cp, bytes)));
            }
            std::vector<std::uint8_t> out(static_cast<std::size_t>(n) * 4 + 1);
            const std::int32_t length = unicode::encode_units_utf8(units.data(), n, unit, out.data(), false);
            EXPECT_EQ(std::string(out.begin(), out.begin() + length), expected) << "unit " << unit;
        }
    }
}

}  // namespace
}  // namespace kiv
