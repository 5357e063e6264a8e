// The Kivbin stream reader: hand-built compact streams (the format's own
// examples, nesting, symbols, references, compression) and the errors of
// damaged ones, which must raise with the position of the bad read.
#include "runtime/core/collector.h"
#include "runtime/io/kivbin.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/codecs/lz77.h"
#include "runtime/core/raise.h"
#include "runtime/startup/embed.h"

#include "tests/support/kivbin_stream.h"
#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

using Bytes = std::vector<std::uint8_t>;

// A compact stream: the symbol names, then the records.
Bytes stream(const Bytes& records, const std::vector<std::string>& names = {}, std::uint8_t extra_flags = 0) {
    return test::kivbin_stream(records, names, extra_flags);
}

// The mold of the values a stream decodes to, each new-line marker shown as "|".
std::string decode(const Bytes& data) {
    Cell target{};
    block::make_at(target, 4);
    collector::Root keep(target);
    kivbin::decode(data.data(), data.size(), target, nullptr);
    std::string out;
    for (std::int32_t i = 0; i < block::length_of(target); ++i) {
        const Cell v = block::first_cell(target)[i];
        if (!out.empty()) out += ' ';
        if (v.new_line()) out += '|';
        out += test::mold(v);
    }
    return out;
}

// The error a stream raises: "id arg1".
std::string error_of(const Bytes& data) {
    try {
        decode(data);
    } catch (const LanguageError& e) {
        std::string out = e.id;
        if (e.arg_count > 0) out += " " + test::mold(e.args[0]);
        return out;
    }
    return "no error";
}

TEST(Kivbin, ScalarRecords) {
    struct Case {
        Bytes records;
        const char* expected;
    } cases[] = {
        {{0xC0, 0x85}, "|5"},                                   // a one-byte integer with the new-line marker
        {{0x0B, 0x80, 0x01}, "64"},                             // zigzag 128
        {{0x0B, 0x03}, "-2"},
        {{0x0B, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F}, "2147483647"},
        {{0xC2, 0xC3, 0x02, 0x03}, "true false unset none"},
        {{0x0A, 0xE9, 0x07}, "#\"\xCF\xA9\""},                 // char U+03E9
        {{0x4C, 0x07}, "-4.0"},                                 // float from zigzag -4
        {{0x0C, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, "1.5"},          // float halves, low first
        {{0x66, 0x32}, "25%"},                                  // percent from zigzag 25
        {{0x01, 0x05}, "block!"},
        {{0x25, 0x06, 0x03}, "3x-2"},                            // pair! of zigzag components
        {{0x27, 1, 2, 3}, "1.2.3"},                              // tuple! with F clear: 3 components
        {{0x67, 4, 10, 20, 30, 40}, "10.20.30.40"},
        {{0x33, 0, 0, 0x80, 0x3F, 0, 0, 0, 0xC0}, "(1, -2)"},   // point2D! of float32 bits
        {{0x71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x30, 0x00}, "-$1.23"},  // money!, F negative
        {{0x21, 1, 0x30}, "make typeset! [unset! none!]"},
        {{0x1E, 2, 0x80, 0x01}, "make bitset! #{8001}"},
        {{0x23, 0x2D, 2, 1, 0, 0xFE, 0xFF}, "make vector! [integer! 16 [1 -2]]"},  // 2-byte integers
        {{0x63, 1, 0x32, 2, 0, 0, 0x80, 0x3F, 0, 0, 0, 0x40}, "make vector! [float! 32 [2.0]]"},
        {{0x5E, 1, 0x80}, "make bitset! [not #{7F}]"},       // F: complemented
    };
    for (const Case& c : cases) EXPECT_EQ(decode(stream(c.records)), c.expected) << c.expected;
}

TEST(Kivbin, SeriesRecords) {
    struct Case {
        Bytes records;
        const char* expected;
    } cases[] = {
        // three two-byte units: varint 13 (3 shl 2 or 1), then 6 bytes
        {{0x07, 0x0D, 'a', 0, 0x3B, 0x04, 'c', 0}, "\"a\xD0\xBB" "c\""},
        {{0x07, 0x0C, 'a', 'b', 'c'}, "\"abc\""},
        {{0x47, 0x01, 0x0C, 'a', 'b', 'c'}, "\"bc\""},          // F: a head of 1
        {{0x08, 0x08, 'a', '.', 0x29, 0x02, 0xAB, 0xCD}, "%a. #{ABCD}"},
        {{0x05, 0x02, 0x81, 0x06, 0x01, 0x82}, "[1 (2)]"},
        {{0x05, 0x00}, "[]"},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(stream(c.records)), c.expected) << c.expected;
}

TEST(Kivbin, WordsAndReferences) {
    // [a: 'b] and then b/c, the symbols through the table.
    const Bytes words = stream({0x05, 0x02, 0x10, 0x00, 0x11, 0x01, 0x19, 0x02, 0x0F, 0x01, 0x0F, 0x02},
                               {"a", "b", "c"});
    EXPECT_EQ(decode(words), "[a: 'b] b/c");
    // A copy of an earlier value (FF) and a series sharing an earlier block (C1).
    const Bytes shared = stream({0x05, 0x02, 0x81, 0x82, 0xFF, 0x01, 0x00, 0xC1, 0x46, 0x01, 0x01, 0x00});
    EXPECT_EQ(decode(shared), "[1 2] [1 2] (2)");
    EXPECT_EQ(decode(stream({0x05, 0x01, 0x05, 0x00, 0xFF, 0x02, 0x00, 0x00})), "[[]] []") << "a path two deep";
}

// A fixed stream: 32-bit words, the names padded to 8 bytes.
Bytes fixed_stream(const std::vector<std::uint32_t>& words, const std::vector<std::string>& names = {}) {
    Bytes body;
    auto put = [&body](std::uint32_t w) {
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    };
    put(1);
    put(static_cast<std::uint32_t>(words.size() * 4));
    std::uint8_t flags = 0;
    if (!names.empty()) {
        flags = 0x04;
        Bytes area;
        std::vector<std::uint32_t> offsets;
        for (const std::string& n : names) {
            offsets.push_back(static_cast<std::uint32_t>(area.size()));
            area.insert(area.end(), n.begin(), n.end());
            do area.push_back(0); while (area.size() % 8 != 0);
        }
        put(static_cast<std::uint32_t>(names.size()));
        put(static_cast<std::uint32_t>(area.size()));
        for (std::uint32_t o : offsets) put(o);
        body.insert(body.end(), area.begin(), area.end());
    }
    for (std::uint32_t w : words) put(w);
    Bytes out = {'K', 'I', 'V', 'B', 'I', 'N', 2, flags};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

TEST(Kivbin, FixedEncoding) {
    const Bytes data = fixed_stream(
        {
            0x8000000B, 5,                     // integer 5 with the new-line marker
            0, 0x0C, 0x3FF80000, 0,            // a filler, then float 1.5: high half first
            0x107, 0, 3, 0x00636261,           // string "abc" of 1-byte units, padded
            0x05, 1, 2, 0x0B, 7, 0x0F, 0, 0,   // block [7 a] from its second value
            0x29, 0, 2, 0xCDAB,                // binary #{ABCD}
            0x80001E, 1, 0x80,                 // a complemented bitset of one byte
            0x223, 0, 3, 11, 0x00020001, 3,    // a vector of three 2-byte integers
            0x427, 0x04030201, 0, 0,           // tuple of 4
            0x80006, 0, 255, 1, 3,             // a paren! sharing the block
            255, 2, 3, 0,                      // a copy of the block's first value
        },
        {"a"});
    EXPECT_EQ(decode(data), "|5 1.5 \"abc\" [a] #{ABCD} make bitset! [not #{7F}] make vector! [integer! 16 [1 2 3]] 1.2.3.4 (7 a) 7");
    struct Case {
        Bytes data;
        const char* expected;
    } cases[] = {
        {fixed_stream({0x227, 0x04030201, 0, 0}), "kb-invalid-record 17"},  // a tuple of 3 to 12
        {fixed_stream({0x307, 0, 1, 0x61}), "kb-invalid-record 17"},        // unit size 3
        {fixed_stream({0x05, 0, 9, 0x0B}), "kb-invalid-record 25"},         // more values than words left
        {fixed_stream({0x107, 0, 5, 0x61}), "kb-invalid-record 25"},         // text past the payload
        {fixed_stream({0xFE}), "kb-invalid-record 17"},
        {fixed_stream({0x323, 0, 1, 11, 0}), "kb-invalid-record 17"},     // integers 3 bytes wide
        {{'K', 'I', 'V', 'B', 'I', 'N', 2, 0, 1, 0}, "invalid-data"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.data), c.expected) << c.expected;
}

TEST(Kivbin, ContextRecords) {
    // context!: kind 2, self, values follow; one word a, value 5
    const Bytes context = stream({0x0E, 0x1A, 0x01, 0x00, 0x85}, {"a"});
    EXPECT_EQ(decode(context), "make object! [\n    a: 5\n]");
    Cell target{};
    block::make_at(target, 1);
    collector::Root keep(target);
    kivbin::decode(context.data(), context.size(), target, nullptr);
    EXPECT_EQ(block::first_cell(target)[0].object_class(), 0xFFFFFFFFu) << "a class of its own";
    // A word bound to an object given in full after it (owner byte 0x20),
    // then a second word bound to the same object through a path to the first.
    const Bytes words = stream({0x4F, 0x00, 0x00, 0x20, 0x02, 0x0E, 0x1A, 0x01, 0x00, 0x86,  //
                                0xC1, 0x4F, 0x00, 0x00, 0x01, 0x00},
                               {"a"});
    Cell out{};
    block::make_at(out, 2);
    collector::Root keep_out(out);
    kivbin::decode(words.data(), words.size(), out, nullptr);
    ASSERT_EQ(block::length_of(out), 2);
    const Cell w1 = block::first_cell(out)[0], w2 = block::first_cell(out)[1];
    EXPECT_EQ(w1.word_context(), w2.word_context());
    Cell value{};
    word::get_value(w2, value);
    EXPECT_EQ(test::mold(value), "6");
    struct Case {
        Bytes data;
        const char* expected;
    } cases[] = {
        {stream({0x0E, 0x1E, 0x01, 0x00}, {"a"}), "kb-invalid-record 20"},               // an object's values on the stack
        {stream({0x0E, 0x1A, 0x02, 0x00, 0x00, 0x81, 0x82}, {"a"}), "kb-invalid-record 23"},  // a word named twice
        {stream({0x4F, 0x00, 0x02, 0x20, 0x02, 0x0E, 0x1A, 0x01, 0x00, 0x86}, {"a"}), "kb-invalid-record 21"},  // index 1 of 1
        {stream({0x4F, 0x00, 0x00, 0x21}, {"a"}), "kb-invalid-record 22"},               // an owner of no context
        {stream({0xC1, 0x4F, 0x00, 0x00, 0x01, 0x00}, {"a"}), "kb-invalid-record 24"},   // a path into nothing yet
        {stream({0x2F, 0x00, 0x00, 0x01, 0x00}), "kb-invalid-record 12"},                // has-time bit without F
        {stream({0x16, 0x00, 0x05, 0x00}), "kb-invalid-record 12"},                      // action slot 0
        {stream({0x22, 0x80, 0x80, 0x04}), "kb-invalid-record 12"},                      // error code 65536
        // a hash! of values its index cannot compare (an integer and a float vector)
        {stream({0x24, 0x02, 0x23, 0x2C, 0x01, 0x01, 0x23, 0x33, 0x01, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}),
         "kb-invalid-record 12"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.data), c.expected) << c.expected;
}

TEST(Kivbin, CompressedBody) {
    Bytes records;
    for (int i = 0; i < 60; ++i) records.insert(records.end(), {0x07, 0x0C, 'x', 'y', 'z'});
    const Bytes plain = stream(records);
    Bytes body(plain.begin() + 8, plain.end()), packed(body.size());
    const std::int64_t n = lz77::compress(body.data(), body.size(), packed.data());
    ASSERT_GT(n, 0);
    Bytes data = {'K', 'I', 'V', 'B', 'I', 'N', 2, 0x03};
    data.insert(data.end(), packed.begin(), packed.begin() + n);
    EXPECT_EQ(decode(data), decode(plain));
    data[12] = 1;  // an uncompressed length of 1
    data[13] = data[14] = data[15] = 0;
    EXPECT_EQ(error_of(data), "invalid-data");
}

TEST(Kivbin, Errors) {
    struct Case {
        Bytes data;
        const char* expected;
    } cases[] = {
        {{'K', 'I', 'V', 'B', 'I', 'X', 2, 1, 0, 0}, "invalid-data"},
        {stream({0xC4, 0x0F, 0x00}, {"a"}), "kb-invalid-record 19"},    // a definition outside the boot image
        {stream({0x05, 0x03, 0x81}), "kb-invalid-record 12"},           // a count beyond the bytes left
        {stream({0x0B, 0x80, 0x80, 0x80, 0x80, 0x10}), "kb-invalid-record 16"},  // a fifth varint byte above 15
        {stream({0x07, 0x0F, 'a'}), "kb-invalid-record 12"},            // unit code 3
        {stream({0x07, 0x0E, 'a', 0, 'b'}), "kb-invalid-record 12"},    // four-byte units past the payload
        {stream({0x0F, 0x03}, {"a"}), "kb-invalid-record 20"},          // a symbol index past the table
        {stream({0x47, 0x04, 0x0C, 'a', 'b', 'c'}), "kb-invalid-record 12"},  // a head past the tail
        {stream({0xFF, 0x01, 0x05}), "kb-invalid-record 13"},           // a path index past the block
        {stream({0x00}), "kb-invalid-record 11"},                       // type 0
        {stream({0xC7}), "kb-invalid-record 11"},
        {stream({0x04}), "kb-invalid-record 11"},                       // logic! only as C2 or C3
        {stream({0xC1, 0x85}), "kb-invalid-record 12"},                 // a reference to a one-byte value
        {stream({0x2E}), "no-codec handle!"},
        {stream({0x67, 2, 1, 2}), "kb-invalid-record 12"},              // a tuple! of 2
        {stream({0x31, 0, 0x0A}), "kb-invalid-record 13"},              // money! digits are decimal
        {stream({0x21, 13}), "kb-invalid-record 12"},
        {stream({0x23, 0x2F, 1, 0}), "kb-invalid-record 12"},           // integers 8 bytes wide
        {stream({0x23, 0x2C, 3, 1}), "kb-invalid-record 13"},           // elements past the payload
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.data), c.expected) << c.expected;
    // Too deep a nesting is refused rather than exhausting the stack.
    Bytes deep;
    for (int i = 0; i < 100'000; ++i) deep.insert(deep.end(), {0x05, 0x01});
    deep.push_back(0x81);
    EXPECT_EQ(error_of(stream(deep)).rfind("kb-invalid-record", 0), 0u);
    // Nested containers that each claim 150,000 values reserve no room for
    // them up front (4,000 x 150,000 cells would be gigabytes).
    Bytes claims;
    for (int i = 0; i < 4000; ++i) claims.insert(claims.end(), {0x05, 0xF0, 0x93, 0x09});
    claims.insert(claims.end(), 160'000, 0x81);
    EXPECT_EQ(error_of(stream(claims)).rfind("kb-invalid-record", 0), 0u);
}

// Every cut and many single-byte changes of a valid stream raise or decode.
TEST(Kivbin, DamagedStreams) {
    const Bytes good = stream({0x05, 0x04, 0x10, 0x00, 0x07, 0x0D, 'a', 0, 'b', 0, 'c', 0, 0x46, 0x01, 0x02, 0x81,
                               0x0F, 0x01, 0xFF, 0x02, 0x00, 0x00, 0x29, 0x01, 0x07},
                              {"key", "value"});
    ASSERT_NO_THROW(decode(good));
    for (std::size_t cut = 8; cut < good.size(); ++cut) {
        const Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_NE(error_of(part), "no error") << cut;
    }
    for (std::size_t at = 8; at < good.size(); ++at) {
        for (const int x : {0x01, 0x40, 0x80, 0xFF}) {
            Bytes changed = good;
            changed[at] = static_cast<std::uint8_t>(changed[at] ^ x);
            error_of(changed);
        }
    }
}

}  // namespace
}  // namespace kiv
