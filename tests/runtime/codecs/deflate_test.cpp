// Deflate, zlib and gzip: the fixed-code compressor's exact output, the
// status codes, and round trips against the system zlib and gzip(1), which
// serve here as the reference implementation (the runtime never links them).
#include "runtime/codecs/deflate.h"

#include "runtime/codecs/checksums.h"
#include "tests/runtime/codecs/compress_corpus.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kiv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using deflate::Status;
using Routine = Status (*)(std::uint8_t*, std::size_t&, const std::uint8_t*, std::size_t);

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Runs a routine the way its callers do: a counting pass, then the real one,
// then once more with the size it asks for.
Status run(Routine routine, const Bytes& in, Bytes& out) {
    std::size_t size = 0;
    Status s = routine(nullptr, size, in.data(), in.size());
    if (s != Status::too_small && s != Status::ok && s != Status::invalid) return s;
    for (int attempt = 0; attempt < 2; ++attempt) {
        out.assign(size, 0);
        s = routine(out.data(), size, in.data(), in.size());
        if (s != Status::too_small) break;
    }
    out.resize(s == Status::ok ? size : 0);
    return s;
}

// The system zlib's view of our output: windowBits -15 raw, 15 zlib, 31 gzip.
bool system_inflate(const Bytes& in, int window_bits, Bytes& out) {
    z_stream z{};
    if (inflateInit2(&z, window_bits) != Z_OK) return false;
    out.assign(in.size() * 4 + 1024, 0);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (z.total_out == out.size()) out.resize(out.size() * 2);
        z.next_out = out.data() + z.total_out;
        z.avail_out = static_cast<uInt>(out.size() - z.total_out);
        rc = inflate(&z, Z_NO_FLUSH);
    }
    out.resize(z.total_out);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

Bytes system_deflate(const Bytes& in, int level, int window_bits, int strategy = Z_DEFAULT_STRATEGY,
                     int mem_level = 8) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, window_bits, mem_level, strategy), Z_OK);
    Bytes out(deflateBound(&z, static_cast<uLong>(in.size())) + 64);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(::deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TEST(Checksums, KnownValues) {
    const Bytes digits = bytes("123456789");
    EXPECT_EQ(checksums::crc32(digits.data(), digits.size()), 0xCBF43926u);
    EXPECT_EQ(checksums::adler32(digits.data(), digits.size()), 0x091E01DEu);
    const Bytes text = compress_corpus::text(100'000, 7);
    EXPECT_EQ(checksums::crc32(text.data(), text.size()), ::crc32(0, text.data(), static_cast<uInt>(text.size())));
    EXPECT_EQ(checksums::adler32(text.data(), text.size()),
              ::adler32(1, text.data(), static_cast<uInt>(text.size())));
}

// Every length around the folding paths' edges (64 bytes and 16-byte steps),
// from unaligned starts, whole and carried over two pieces, against zlib.
TEST(Checksums, Crc32AllLengthsAndSplits) {
    const Bytes text = compress_corpus::text(1'000, 3);
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t n = 0; start + n <= 300; ++n) {
            const std::uint8_t* p = text.data() + start;
            const auto want = static_cast<std::uint32_t>(::crc32(0, p, static_cast<uInt>(n)));
            ASSERT_EQ(checksums::crc32(p, n), want) << "start " << start << " length " << n;
            const std::size_t half = n / 3;
            ASSERT_EQ(checksums::crc32(p + half, n - half, checksums::crc32(p, half)), want);
        }
    }
}

// The compressor's exact bits: a fixed block of literals, the first-fit match
// (one that starts at position 0 included), the end-of-block code.
TEST(Deflate, CompressorExactOutput) {
    struct Case {
        const char* input;
        Bytes expected;
    } cases[] = {
        {"ab", {0x4B, 0x4C, 0x02, 0x00}},              // two literals and the end code
        {"abcabcabc", {0x4B, 0x4C, 0x4A, 0x86, 0x20, 0x00}},  // a b c, then length 6 at distance 3
        {"", {0x03, 0x00}},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_EQ(run(deflate::compress, bytes(c.input), out), Status::ok) << c.input;
        EXPECT_EQ(out, c.expected) << c.input;
    }
}

TEST(Deflate, ContainersAroundTheData) {
    const Bytes in = bytes("abcabcabc");
    Bytes z;
    ASSERT_EQ(run(deflate::zlib_compress, in, z), Status::ok);
    EXPECT_EQ(Bytes(z.begin(), z.begin() + 2), (Bytes{0x78, 0x01}));
    const std::uint32_t adler = checksums::adler32(in.data(), in.size());
    EXPECT_EQ(Bytes(z.end() - 4, z.end()), (Bytes{static_cast<std::uint8_t>(adler >> 24),
                                                  static_cast<std::uint8_t>(adler >> 16),
                                                  static_cast<std::uint8_t>(adler >> 8),
                                                  static_cast<std::uint8_t>(adler)}));
    Bytes g;
    ASSERT_EQ(run(deflate::gzip, in, g), Status::ok);
    EXPECT_EQ(Bytes(g.begin(), g.begin() + 10), (Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4}));
    EXPECT_EQ(Bytes(g.end() - 4, g.end()), (Bytes{9, 0, 0, 0}));
    // Data that already is a gzip member passes through unchanged.
    Bytes again;
    ASSERT_EQ(run(deflate::gzip, g, again), Status::ok);
    EXPECT_EQ(again, g);
}

// Sizes: capacity 0 learns the full size; too small a buffer says how much is
// needed and keeps the bytes that fit; the containers need room for their frame.
TEST(Deflate, SizesAndCapacity) {
    const Bytes text = compress_corpus::text(50'000, 3);
    Bytes packed;
    ASSERT_EQ(run(deflate::compress, text, packed), Status::ok);
    std::size_t size = 0;
    EXPECT_EQ(deflate::inflate(nullptr, size, packed.data(), packed.size()), Status::too_small);
    EXPECT_EQ(size, text.size());
    Bytes part(text.size() - 1);
    size = part.size();
    EXPECT_EQ(deflate::inflate(part.data(), size, packed.data(), packed.size()), Status::too_small);
    EXPECT_EQ(size, text.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), text.begin()));

    Bytes small(packed.size() - 1);
    size = small.size();
    EXPECT_EQ(deflate::compress(small.data(), size, text.data(), text.size()), Status::too_small);
    EXPECT_EQ(size, packed.size());
    Bytes five(5), seventeen(17);
    size = 5;
    EXPECT_EQ(deflate::zlib_compress(five.data(), size, text.data(), text.size()), Status::invalid);
    EXPECT_EQ(size, text.size() + 6);
    size = 17;
    EXPECT_EQ(deflate::gzip(seventeen.data(), size, text.data(), text.size()), Status::invalid);
    EXPECT_EQ(size, text.size() + 18);
    size = packed.size() + 5;  // room for the data but not the trailer
    Bytes z(size);
    EXPECT_EQ(deflate::zlib_compress(z.data(), size, text.data(), text.size()), Status::too_small);
    EXPECT_EQ(size, packed.size() + 6);
}

// Each failure has its own status; hand-made streams show each one.
TEST(Deflate, StatusCodes) {
    struct Case {
        const char* what;
        Routine routine;
        Bytes input;
        Status expected;
    } cases[] = {
        {"stored block running past the input", deflate::inflate, {0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b'},
         Status::stored_past_end},
        {"stored block without its lengths", deflate::inflate, {0x01, 0x05}, Status::stored_past_end},
        {"reserved block type", deflate::inflate, {0x07, 0x00}, Status::reserved_block},
        {"match before the output", deflate::inflate, {0x03, 0x02, 0x00}, Status::distance_too_far},
        {"non-final block, then the end", deflate::inflate, {0x00, 0x01, 0x00, 0xFE, 0xFF, 'x'}, Status::invalid},
        {"empty input", deflate::inflate, {}, Status::invalid},
        {"zlib header 78 9D", deflate::zlib_decompress, {0x78, 0x9D, 0x03, 0x00, 0, 0, 0, 1}, Status::invalid},
        {"zlib with a dictionary", deflate::zlib_decompress, {0x78, 0xBB, 0x03, 0x00, 0, 0, 0, 1}, Status::invalid},
        {"zlib trailer mismatch", deflate::zlib_decompress, {0x78, 0x9C, 0x03, 0x00, 0, 0, 0, 2}, Status::invalid},
        {"gzip too short", deflate::gunzip, {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3}, Status::invalid},
        {"gzip reserved flag", deflate::gunzip, {0x1F, 0x8B, 8, 0x20, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         Status::invalid},
        {"gzip name without its end", deflate::gunzip, {0x1F, 0x8B, 8, 0x08, 0, 0, 0, 0, 0, 3, 'a', 'b', 0, 0, 0, 0, 0, 0, 0, 0},
         Status::invalid},
        {"gzip size beyond what the data holds", deflate::gunzip,
         {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 0x03, 0x00, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}, Status::invalid},
    };
    for (const Case& c : cases) {
        Bytes out(64);
        std::size_t size = out.size();
        EXPECT_EQ(c.routine(out.data(), size, c.input.data(), c.input.size()), c.expected) << c.what;
    }
    // A zlib stream with header 78 9C (the default level) decodes.
    const Bytes z = system_deflate(bytes("hello, hello"), 6, 15);
    ASSERT_EQ(z[1], 0x9C);
    Bytes out;
    EXPECT_EQ(run(deflate::zlib_decompress, z, out), Status::ok);
    EXPECT_EQ(out, bytes("hello, hello"));
}

// Our output through the system zlib, and the system zlib's output (every
// level, strategy and window) through ours, over a mixed corpus.
TEST(Deflate, RoundTripsWithSystemZlib) {
    ASSERT_FALSE(compress_corpus::shared_files().empty()) << "the shared corpus at " << KIV_TESTDATA;
    for (const auto& [name, data] : compress_corpus::mixed()) {
        Bytes raw, z, g, back;
        ASSERT_EQ(run(deflate::compress, data, raw), Status::ok) << name;
        ASSERT_EQ(run(deflate::zlib_compress, data, z), Status::ok) << name;
        ASSERT_EQ(run(deflate::gzip, data, g), Status::ok) << name;
        if (!(data.size() > 2 && data[0] == 0x1F && data[1] == 0x8B && data[2] == 8)) {
            EXPECT_TRUE(system_inflate(g, 31, back) && back == data) << name;
        }
        EXPECT_TRUE(system_inflate(raw, -15, back) && back == data) << name;
        EXPECT_TRUE(system_inflate(z, 15, back) && back == data) << name;
        ASSERT_EQ(run(deflate::inflate, raw, back), Status::ok) << name;
        EXPECT_EQ(back, data) << name;
        ASSERT_EQ(run(deflate::zlib_decompress, z, back), Status::ok) << name;
        EXPECT_EQ(back, data) << name;

        for (int level = 0; level <= 9; ++level) {
            ASSERT_EQ(run(deflate::zlib_decompress, system_deflate(data, level, 15), back), Status::ok)
                << name << " level " << level;
            EXPECT_EQ(back, data) << name << " level " << level;
        }
        struct Variant {
            int level, window_bits, strategy, mem_level;
        } variants[] = {{6, -15, Z_FIXED, 8}, {6, -15, Z_HUFFMAN_ONLY, 8}, {6, -15, Z_RLE, 8},
                        {9, -9, Z_FILTERED, 1}, {1, -10, Z_DEFAULT_STRATEGY, 9}};
        for (const Variant& v : variants) {
            ASSERT_EQ(run(deflate::inflate, system_deflate(data, v.level, v.window_bits, v.strategy, v.mem_level), back),
                      Status::ok)
                << name << " strategy " << v.strategy;
            EXPECT_EQ(back, data) << name << " strategy " << v.strategy;
        }
        ASSERT_EQ(run(deflate::gunzip, system_deflate(data, 6, 31), back), Status::ok) << name;
        EXPECT_EQ(back, data) << name;
    }
}

// Files made by gzip(1): a header with the file name, every level.
TEST(Deflate, GzipFilesFromTheTool) {
    const std::string path = compress_corpus::write_temp(compress_corpus::text(300'000, 11));
    for (const char* level : {"-1", "-6", "-9"}) {
        const std::string command = std::string("gzip -c ") + level + " " + path;
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        Bytes gz;
        std::uint8_t chunk[65536];
        for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) gz.insert(gz.end(), chunk, chunk + n);
        ASSERT_EQ(pclose(pipe), 0) << "gzip(1) is needed for this test";
        ASSERT_TRUE(gz.size() > 3 && (gz[3] & 0x08)) << "the member names its file";
        Bytes back;
        ASSERT_EQ(run(deflate::gunzip, gz, back), Status::ok) << level;
        EXPECT_EQ(back, compress_corpus::text(300'000, 11)) << level;
    }
    std::remove(path.c_str());
}

// A header checksum and extra field are checked and skipped.
TEST(Deflate, GzipOptionalHeaderFields) {
    const Bytes text = bytes("the data of a member with every optional field");
    const Bytes plain = system_deflate(text, 6, 31);
    Bytes member(plain.begin(), plain.begin() + 10);
    member[3] = 0x04 | 0x08 | 0x10 | 0x02;
    const Bytes fields = {3, 0, 'x', 'y', 'z', 'n', 0, 'c', 0};  // extra field of 3, name, comment
    member.insert(member.end(), fields.begin(), fields.end());
    const std::uint32_t crc = checksums::crc32(member.data(), member.size());
    member.push_back(static_cast<std::uint8_t>(crc));
    member.push_back(static_cast<std::uint8_t>(crc >> 8));
    member.insert(member.end(), plain.begin() + 10, plain.end());
    Bytes back;
    ASSERT_EQ(run(deflate::gunzip, member, back), Status::ok);
    EXPECT_EQ(back, text);
    member[19] ^= 1;  // the header checksum
    EXPECT_EQ(run(deflate::gunzip, member, back), Status::invalid);
}

// A trailer whose size differs from what the data makes is refused, however
// its checksum reads, so that no member decodes to a part of its data.
TEST(Deflate, GzipSizeMustMatchTheData) {
    Bytes member = system_deflate(bytes("twelve bytes"), 6, 31);
    for (std::size_t i = member.size() - 8; i < member.size(); ++i) member[i] = 0;  // CRC and size of no bytes
    Bytes back;
    EXPECT_EQ(run(deflate::gunzip, member, back), Status::invalid);
}

// Every truncation and many single-byte changes of valid streams end with a
// status: never a crash, a hang, or bytes written past the buffer.
TEST(Deflate, DamagedStreamsEndWithAStatus) {
    const Bytes text = compress_corpus::text(20'000, 5);
    const Bytes streams[] = {system_deflate(text, 9, -15), system_deflate(text, 1, -15, Z_FIXED)};
    for (const Bytes& stream : streams) {
        for (std::size_t cut = 0; cut < stream.size(); cut += 7) {
            Bytes prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)), back;
            EXPECT_NE(run(deflate::inflate, prefix, back), Status::ok) << cut;
        }
        Bytes changed = stream;
        for (std::size_t at = 0; at < stream.size(); at += 13) {
            changed[at] ^= static_cast<std::uint8_t>(0x5A);
            Bytes back;
            run(deflate::inflate, changed, back);
            changed[at] = stream[at];
        }
    }
}

}  // namespace
}  // namespace kiv
