// The LZ77 bit stream: hand-built streams for the decoder's limits, and
// round trips through the encoder over the mixed corpus.
#include "runtime/codecs/lz77.h"

#include "tests/runtime/codecs/compress_corpus.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Builds compressed data bit by bit, least significant first.
struct Stream {
    Bytes body;
    std::uint64_t bits = 0;
    unsigned count = 0;
    std::uint32_t produced = 0;

    void block(std::uint32_t length) {
        align();
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
        produced += length;
    }
    void put(std::uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            bits |= static_cast<std::uint64_t>((value >> i) & 1) << count;
            if (++count == 8) flush();
        }
    }
    void flush() {
        body.push_back(static_cast<std::uint8_t>(bits));
        bits = 0;
        count = 0;
    }
    void align() {
        if (count > 0) flush();
    }
    void literal(std::uint8_t b) {
        put(0, 1);
        put(b, 8);
    }
    // A match of length 3 to 6 (the first length class) at offset d + 1.
    void short_match(unsigned length, std::uint32_t d) {
        put(1, 1);
        put(0, 1);
        put(length - 3, 2);
        put(0, 4);  // width 2: three bits of distance
        put(d, 3);
    }
    Bytes data() {
        align();
        Bytes out;
        const auto body_length = static_cast<std::uint32_t>(body.size());
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(body_length >> (8 * i)));
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(produced >> (8 * i)));
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }
};

TEST(Lz77, OverlappingMatchRepeatsTheByte) {
    Stream s;
    s.block(4);
    s.literal('q');
    s.short_match(3, 0);
    Bytes out;
    ASSERT_TRUE(lz77::decompress(s.data().data(), s.data().size(), out));
    EXPECT_EQ(out, (Bytes{'q', 'q', 'q', 'q'}));
}

// Every length class and distance width decodes as the encoder writes it.
TEST(Lz77, EveryLengthClassAndWidth) {
    Bytes input;
    for (unsigned length : {3u, 6u, 7u, 10u, 11u, 14u, 15u, 22u, 23u, 54u, 55u, 300u, 566u}) {
        const Bytes filler = compress_corpus::noise(9, length);
        input.insert(input.end(), filler.begin(), filler.end());
        const Bytes word = compress_corpus::noise(length, length + 1);
        input.insert(input.end(), word.begin(), word.end());
        input.insert(input.end(), word.begin(), word.end());
    }
    for (std::size_t gap : {8u, 15u, 16u, 1000u, 70'000u, 200'000u}) {
        const Bytes word = compress_corpus::noise(40, static_cast<std::uint32_t>(gap));
        input.insert(input.end(), word.begin(), word.end());
        const Bytes between = compress_corpus::noise(gap, 3);
        input.insert(input.end(), between.begin(), between.end());
        input.insert(input.end(), word.begin(), word.end());
    }
    Bytes packed(input.size()), out;
    const std::int64_t size = lz77::compress(input.data(), input.size(), packed.data());
    ASSERT_GT(size, 0);
    ASSERT_TRUE(lz77::decompress(packed.data(), static_cast<std::size_t>(size), out));
    EXPECT_EQ(out, input);
}

// Corruption: each case is one fault in an otherwise valid stream.
TEST(Lz77, CorruptStreamsGiveNothing) {
    auto two_blocks = [](bool match_first) {
        Stream s;
        s.block(2);
        s.literal('a');
        s.literal('b');
        s.block(3);
        if (match_first) s.short_match(3, 0);  // its source would lie in the first block
        else for (int i = 0; i < 3; ++i) s.literal('c');
        return s.data();
    };
    Bytes good = two_blocks(false), out;
    ASSERT_TRUE(lz77::decompress(good.data(), good.size(), out));
    EXPECT_EQ(out, (Bytes{'a', 'b', 'c', 'c', 'c'}));

    struct Case {
        const char* what;
        Bytes data;
    };
    std::vector<Case> cases = {{"match before its block", two_blocks(true)}};
    for (std::uint32_t length : {0u, 1'048'577u}) {
        Stream s;
        s.block(length);
        s.literal('a');
        cases.push_back({length == 0 ? "block length 0" : "block length 1,048,577", s.data()});
    }
    {
        Stream s;
        s.block(2);
        s.literal('a');
        s.short_match(3, 0);  // one byte more than the block holds
        cases.push_back({"match past the block end", s.data()});
    }
    {
        Bytes d = good;
        d[4] = 4;  // claims 4 bytes of output, makes 5
        cases.push_back({"more output than claimed", d});
    }
    {
        Bytes d = good;
        d[0] = static_cast<std::uint8_t>(d[0] + 1);  // body runs past the data
        cases.push_back({"body past the data", d});
    }
    {
        Bytes d = good;
        d[0] = static_cast<std::uint8_t>(d[0] - 1);  // the last block's bits run past the body
        cases.push_back({"block past the body", d});
    }
    cases.push_back({"shorter than the header", Bytes{1, 0, 0}});
    for (const Case& c : cases) {
        EXPECT_FALSE(lz77::decompress(c.data.data(), c.data.size(), out)) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
}

TEST(Lz77, ShortOrIncompressibleInputIsNotCompressed) {
    const Bytes zeros(127, 0);
    Bytes out(200);
    EXPECT_EQ(lz77::compress(zeros.data(), zeros.size(), out.data()), -1);
    const Bytes more(128, 0);
    EXPECT_GT(lz77::compress(more.data(), more.size(), out.data()), 0);
    const Bytes noise = compress_corpus::noise(5000, 9);
    out.resize(noise.size());
    EXPECT_EQ(lz77::compress(noise.data(), noise.size(), out.data()), -1);
}

TEST(Lz77, RoundTripsOverTheCorpus) {
    auto corpus = compress_corpus::mixed();
    corpus.emplace_back("three blocks of prose", compress_corpus::text(2'500'000, 21));
    corpus.emplace_back("a run over two blocks", Bytes(1'500'000, 'r'));
    for (const auto& [name, data] : corpus) {
        Bytes packed(data.size()), out;
        const std::int64_t size = lz77::compress(data.data(), data.size(), packed.data());
        if (size < 0) continue;  // short or incompressible
        ASSERT_TRUE(lz77::decompress(packed.data(), static_cast<std::size_t>(size), out)) << name;
        EXPECT_EQ(out, data) << name;
        // Every cut of the stream is refused (a sample of them: the big ones are slow).
        const std::size_t step = std::max<std::size_t>(1, static_cast<std::size_t>(size) / 97);
        for (std::size_t cut = 0; cut < static_cast<std::size_t>(size); cut += step) {
            Bytes shorter(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
            EXPECT_FALSE(lz77::decompress(shorter.data(), shorter.size(), out)) << name << " cut " << cut;
        }
    }
}

}  // namespace
}  // namespace kiv
