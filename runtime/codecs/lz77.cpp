// LZ77 codec. Bits are packed least significant first, and a field of n bits
// is written with its least significant bit first. An item is a 0 flag and a
// literal byte, or a 1 flag, a length class with its extra bits, a 4-bit
// distance width and the distance. The encoder keeps a 3-byte hash (one
// candidate) and a 4-byte hash with chains through the window.
#include "runtime/codecs/lz77.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kiv::lz77 {
namespace {

// Length classes: prefix 0, 10, 110, 1110, 11110, 11111 (in reading order),
// then extra bits; the match length is extra + base + 3.
constexpr unsigned class_extra[6] = {2, 2, 2, 3, 5, 9};
constexpr unsigned class_base[6] = {0, 4, 8, 12, 20, 52};

std::uint32_t read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void write32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Reads the bits of one block. Past the body it supplies zero bytes and counts
// them, so that a block which consumed any of them is known to be truncated.
struct BitReader {
    const std::uint8_t* data;  // the body
    std::size_t end;           // body length
    std::size_t next;          // next byte to load
    std::size_t padding = 0;   // zero bytes loaded past the end
    std::uint64_t bits = 0;
    unsigned count = 0;

    void refill() {
        if (end - next >= 8) {
            std::uint64_t word;
            std::memcpy(&word, data + next, 8);  // little-endian host
            bits |= word << count;
            next += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count <= 56) {
            std::uint64_t byte = 0;
            if (next < end) byte = data[next++];
            else ++padding;
            bits |= byte << count;
            count += 8;
        }
    }
    std::uint32_t take(unsigned n) {
        const auto v = static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    bool overrun() const { return padding * 8 > count; }
    // Offset of the byte after the last one the block touched.
    std::size_t finish() const { return next + padding - (count >> 3); }
};

// Decodes one block of n output bytes into dst; false when corrupt.
bool decode_block(BitReader& r, std::uint8_t* dst, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        r.refill();  // 36 bits at most per item
        if (r.overrun()) return false;
        if ((r.bits & 1) == 0) {
            r.take(1);
            dst[done++] = static_cast<std::uint8_t>(r.take(8));
            continue;
        }
        r.take(1);
        const unsigned ones = static_cast<unsigned>(std::countr_one(r.bits & 0x1F));
        const unsigned cls = ones < 5 ? ones : 5;
        r.take(ones < 5 ? ones + 1 : 5);
        const std::size_t length = r.take(class_extra[cls]) + class_base[cls] + 3;
        const unsigned width = r.take(4) + 2;
        const std::size_t d = width == 2 ? r.take(3) : (std::size_t{1} << width) + r.take(width);
        if (d + 1 > done || length > n - done) return false;  // before the block, or past its end
        const std::uint8_t* src = dst + done - d - 1;
        std::uint8_t* to = dst + done;
        for (std::size_t i = 0; i < length; ++i) to[i] = src[i];  // overlapping copies repeat bytes
        done += length;
    }
    return !r.overrun();
}

// Writes bits into out up to a limit; a write past it sets full.
struct BitWriter {
    std::uint8_t* out;
    std::size_t limit;
    std::size_t at;
    std::uint64_t bits = 0;
    unsigned count = 0;
    bool full = false;

    void put(std::uint32_t value, unsigned n) {
        bits |= static_cast<std::uint64_t>(value) << count;
        count += n;
        while (count >= 8) {
            if (at < limit) out[at++] = static_cast<std::uint8_t>(bits);
            else full = true;
            bits >>= 8;
            count -= 8;
        }
    }
    void align() {
        if (count > 0) put(0, 8 - count);
    }
};

void put_match(BitWriter& w, std::size_t length, std::size_t distance) {
    const unsigned v = static_cast<unsigned>(length - 3);
    unsigned cls = 5;
    for (unsigned c = 0; c < 5; ++c)
        if (v < class_base[c] + (1u << class_extra[c])) {
            cls = c;
            break;
        }
    w.put(1, 1);
    if (cls < 5) w.put((1u << cls) - 1, cls + 1);  // cls ones, then a zero
    else w.put(0x1F, 5);
    w.put(v - class_base[cls], class_extra[cls]);
    const auto d = static_cast<std::uint32_t>(distance - 1);
    if (d < 8) {
        w.put(0, 4);
        w.put(d, 3);
    } else {
        const unsigned width = static_cast<unsigned>(std::bit_width(d)) - 1;  // 2^width <= d
        w.put(width - 2, 4);
        w.put(d - (1u << width), width);
    }
}

constexpr unsigned hash3_bits = 19, hash4_bits = 20;
constexpr std::uint32_t hash3_mask = (1u << hash3_bits) - 1, hash4_mask = (1u << hash4_bits) - 1;
constexpr std::size_t chain_mask = window_size - 1;
constexpr int max_chain = 256;
constexpr std::size_t far_three = 65536;  // a 3-byte match farther back costs more than its literals

struct Encoder {
    std::vector<std::int32_t> heads;  // the 3-byte table, then the 4-byte table
    std::vector<std::int32_t> chain;  // earlier position of the same 4-byte hash
    std::vector<std::uint8_t> block;  // the block, zero-padded past its end for the hashes

    Encoder()
        : heads((std::size_t{1} << hash3_bits) + (std::size_t{1} << hash4_bits)),
          chain(window_size),
          block(block_size + max_length) {}

    void encode(const std::uint8_t* in, std::size_t n, BitWriter& w) {
        std::memcpy(block.data(), in, n);
        std::memset(block.data() + n, 0, max_length);
        std::fill(heads.begin(), heads.end(), -1);
        std::int32_t* head3 = heads.data();
        std::int32_t* head4 = heads.data() + (std::size_t{1} << hash3_bits);
        const std::uint8_t* b = block.data();
        std::uint32_t h3 = 0, h4 = 0;
        for (int i = 0; i < 3; ++i) h3 = ((h3 << 7) + b[i]) & hash3_mask;
        for (int i = 0; i < 4; ++i) h4 = ((h4 << 5) + b[i]) & hash4_mask;

        std::size_t p = 0;
        while (p < n) {
            std::size_t best_length = min_length - 1, best_distance = window_size;
            const std::size_t longest = std::min(max_length, n - p);
            auto consider = [&](std::int32_t candidate) {
                const std::size_t c = static_cast<std::size_t>(candidate);
                const std::size_t distance = p - c;
                std::size_t len = 0;
                while (len < longest && b[c + len] == b[p + len]) ++len;
                unsigned cost = 0;
                while (((distance >> 4) >> (3 * cost)) > best_distance) ++cost;
                if (len > best_length + cost) {
                    best_length = len;
                    best_distance = distance;
                }
            };
            if (longest >= min_length) {
                const std::int32_t c3 = head3[h3];
                if (c3 >= 0 && p - static_cast<std::size_t>(c3) <= window_size) consider(c3);
                std::int32_t c = head4[h4];
                for (int steps = 0; steps < max_chain && best_length < longest; ++steps) {
                    if (c < 0 || p - static_cast<std::size_t>(c) > window_size) break;
                    if (c != c3) consider(c);
                    const std::int32_t older = chain[static_cast<std::size_t>(c) & chain_mask];
                    if (older >= c) break;  // a stale link
                    c = older;
                }
                if (best_length == min_length && best_distance > far_three) best_length = 0;
            }
            std::size_t advance = 1;
            if (best_length >= min_length) {
                put_match(w, best_length, best_distance);
                advance = best_length;
            } else {
                w.put(0, 1);
                w.put(b[p], 8);
            }
            if (w.full) return;
            for (std::size_t end = p + advance; p < end; ++p) {
                chain[p & chain_mask] = head4[h4];
                head4[h4] = static_cast<std::int32_t>(p);
                head3[h3] = static_cast<std::int32_t>(p);
                h3 = ((h3 << 7) + b[p + 3]) & hash3_mask;
                h4 = ((h4 << 5) + b[p + 4]) & hash4_mask;
            }
        }
        w.align();
    }
};

}  // namespace

bool decompress(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    out.clear();
    if (size < header_size) return false;
    const std::size_t body = read32(data);
    const std::size_t declared = read32(data + 4);
    if (body > size - header_size) return false;
    // Every bit of the body yields at most 26 bytes (a 566-byte match in 22
    // bits), so a larger claim needs no room before it fails.
    out.reserve(std::min(declared, body * 208));
    BitReader r{data + header_size, body, 0};
    std::size_t at = 0;
    while (at < body) {
        if (body - at < 4) return out.clear(), false;
        const std::size_t n = read32(data + header_size + at);
        if (n < 1 || n > block_size || n > declared - out.size()) return out.clear(), false;
        const std::size_t used = out.size();
        out.resize(used + n);
        r = BitReader{data + header_size, body, at + 4};
        if (!decode_block(r, out.data() + used, n)) return out.clear(), false;
        at = r.finish();
        if (at > body) return out.clear(), false;
    }
    return true;
}

std::int64_t compress(const std::uint8_t* in, std::size_t length, std::uint8_t* out) {
    if (length < min_input || length > UINT32_MAX) return -1;
    Encoder encoder;
    BitWriter w{out, length, header_size};
    for (std::size_t start = 0; start < length; start += block_size) {
        const std::size_t n = std::min(block_size, length - start);
        if (length - w.at < 4) return -1;
        write32(out + w.at, static_cast<std::uint32_t>(n));
        w.at += 4;
        encoder.encode(in + start, n, w);
        if (w.full) return -1;
    }
    write32(out, static_cast<std::uint32_t>(w.at - header_size));
    write32(out + 4, static_cast<std::uint32_t>(length));
    return static_cast<std::int64_t>(w.at);
}

}  // namespace kiv::lz77
