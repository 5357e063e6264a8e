// Deflate (RFC 1951) with the zlib (RFC 1950) and gzip (RFC 1952) containers.
// The compressor keeps 1,024 buckets of 4 earlier positions, found by a hash
// of the next 3 bytes, and takes the first that matches. The decompressor
// decodes through tables indexed by the next bits (a primary table and
// subtables for longer codes), with a fast loop while input and output are
// plentiful and a checked loop near either end.
#include "runtime/codecs/deflate.h"

#include "runtime/codecs/checksums.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kiv::deflate {
namespace {

// --- Tables of the format -------------------------------------------------------

constexpr std::uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t distance_base[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                             33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                             1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
constexpr std::uint8_t distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the code-length code lengths are stored.
constexpr std::uint8_t length_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr std::uint32_t reverse_bits(std::uint32_t code, unsigned n) {
    std::uint32_t r = 0;
    for (unsigned i = 0; i < n; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

std::uint32_t read_le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t read_be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// --- Compressor -------------------------------------------------------------------

// The fixed codes, bit-reversed for the least-significant-first writer; a
// length's entry carries its extra bits above the code.
struct FixedCodes {
    std::uint16_t literal[257];
    std::uint8_t literal_bits[257];
    std::uint16_t length[259];  // by match length 3 to 258
    std::uint8_t length_bits[259];
    std::uint8_t distance[30];  // 5-bit codes
};

constexpr FixedCodes make_fixed_codes() {
    FixedCodes f{};
    auto literal_code = [](unsigned s, std::uint32_t& code, unsigned& bits) {
        if (s < 144) code = 0x30 + s, bits = 8;
        else if (s < 256) code = 0x190 + (s - 144), bits = 9;
        else if (s < 280) code = s - 256, bits = 7;
        else code = 0xC0 + (s - 280), bits = 8;
    };
    for (unsigned s = 0; s < 257; ++s) {
        std::uint32_t code = 0;
        unsigned bits = 0;
        literal_code(s, code, bits);
        f.literal[s] = static_cast<std::uint16_t>(reverse_bits(code, bits));
        f.literal_bits[s] = static_cast<std::uint8_t>(bits);
    }
    for (unsigned i = 0; i < 29; ++i) {
        const unsigned top = i == 27 ? 257 : i == 28 ? 258 : length_base[i] + (1u << length_extra[i]) - 1;
        for (unsigned len = length_base[i]; len <= top; ++len) {
            std::uint32_t code = 0;
            unsigned bits = 0;
            literal_code(257 + i, code, bits);
            f.length[len] = static_cast<std::uint16_t>(reverse_bits(code, bits) | (len - length_base[i]) << bits);
            f.length_bits[len] = static_cast<std::uint8_t>(bits + length_extra[i]);
        }
    }
    for (unsigned i = 0; i < 30; ++i) f.distance[i] = static_cast<std::uint8_t>(reverse_bits(i, 5));
    return f;
}

constexpr FixedCodes fixed_codes = make_fixed_codes();

// Packs bits into the caller's buffer; past its capacity it only counts.
struct BitWriter {
    std::uint8_t* out;
    std::size_t capacity;
    std::size_t at = 0;
    std::uint64_t bits = 0;
    unsigned count = 0;

    void put(std::uint64_t value, unsigned n) {
        bits |= value << count;
        count += n;
    }
    // Writes the whole bytes held (fewer than 8 are ever held between items).
    void flush() {
        const unsigned bytes = count >> 3;
        if (capacity - std::min(capacity, at) >= 8) {
            std::memcpy(out + at, &bits, 8);  // little-endian host; the bytes past the whole ones are rewritten later
            at += bytes;
        } else {
            for (unsigned i = 0; i < bytes; ++i, ++at)
                if (at < capacity) out[at] = static_cast<std::uint8_t>(bits >> (8 * i));
        }
        bits = bytes == 8 ? 0 : bits >> (8 * bytes);
        count &= 7;
    }
    void finish() {
        flush();
        if (count > 0) {
            if (at < capacity) out[at] = static_cast<std::uint8_t>(bits);
            ++at;
            bits = 0;
            count = 0;
        }
    }
};

std::uint32_t three_bytes(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
}

std::uint32_t bucket_of(std::uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & 0x3FF;
}

void put_match(BitWriter& w, std::size_t length, std::size_t distance) {
    w.put(fixed_codes.length[length], fixed_codes.length_bits[length]);
    const auto x = static_cast<std::uint32_t>(distance - 1);
    if (x < 4) {
        w.put(fixed_codes.distance[x], 5);
        return;
    }
    const unsigned high = static_cast<unsigned>(std::bit_width(x)) - 1;  // x >= 4: high >= 2
    const unsigned extra = high - 1;
    const unsigned code = 2 * high + ((x >> extra) & 1);
    w.put(fixed_codes.distance[code] | static_cast<std::uint64_t>(x & ((1u << extra) - 1)) << 5, 5 + extra);
}

constexpr std::size_t max_match = 258;
constexpr std::size_t window = 32768;

// --- Decompressor -----------------------------------------------------------------

// A table entry:  value (16 bits) | kind (3) | extra bits (5) | code bits (8)
// For a link to a subtable the value is the subtable's offset and the code
// bits are the subtable's index width.
enum Kind : std::uint32_t { literal = 0, length = 1, end_of_block = 2, link = 3, bad = 4 };

constexpr std::uint32_t entry(std::uint32_t value, Kind kind, std::uint32_t extra, std::uint32_t bits = 0) {
    return value << 16 | static_cast<std::uint32_t>(kind) << 13 | extra << 8 | bits;
}
constexpr Kind kind_of(std::uint32_t e) { return static_cast<Kind>((e >> 13) & 7); }
constexpr unsigned bits_of(std::uint32_t e) { return e & 0xFF; }
constexpr unsigned extra_of(std::uint32_t e) { return (e >> 8) & 0x1F; }
constexpr std::uint32_t value_of(std::uint32_t e) { return e >> 16; }
constexpr std::uint32_t bad_entry = entry(0, bad, 0);

constexpr unsigned literal_primary = 10, distance_primary = 8, lengths_primary = 7;
constexpr unsigned max_code_bits = 15;
// Room for the primary table and a subtable of the widest kind for every
// symbol whose code is longer than the primary index.
constexpr std::size_t literal_room = (1u << literal_primary) + 288 * (1u << (max_code_bits - literal_primary));
constexpr std::size_t distance_room = (1u << distance_primary) + 32 * (1u << (max_code_bits - distance_primary));

std::uint32_t literal_entry(unsigned s) {
    if (s < 256) return entry(s, literal, 0);
    if (s == 256) return entry(0, end_of_block, 0);
    if (s < 286) return entry(length_base[s - 257], length, length_extra[s - 257]);
    return bad_entry;
}
std::uint32_t distance_entry(unsigned s) {
    return s < 30 ? entry(distance_base[s], length, distance_extra[s]) : bad_entry;
}
std::uint32_t code_length_entry(unsigned s) { return entry(s, literal, 0); }

// Fills table from the code lengths of n symbols; false when the lengths
// over-subscribe the code. Codes left unassigned decode as bad.
bool build_table(std::uint32_t* table, unsigned primary, const std::uint8_t* lengths, unsigned n,
                 std::uint32_t (*symbol_entry)(unsigned)) {
    unsigned count[max_code_bits + 1] = {};
    for (unsigned s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    int left = 1;
    unsigned longest = 0;
    for (unsigned len = 1; len <= max_code_bits; ++len) {
        left = (left << 1) - static_cast<int>(count[len]);
        if (left < 0) return false;
        if (count[len] > 0) longest = len;
    }
    std::uint32_t next_code[max_code_bits + 1] = {};
    for (unsigned len = 1, code = 0; len <= max_code_bits; ++len) {
        code = (code + count[len - 1]) << 1;
        next_code[len] = code;
    }
    const std::uint32_t primary_size = 1u << primary;
    std::fill(table, table + primary_size, bad_entry);
    const unsigned sub_bits = longest > primary ? longest - primary : 0;
    std::uint32_t next_sub = primary_size;
    for (unsigned s = 0; s < n; ++s) {
        const unsigned len = lengths[s];
        if (len == 0) continue;
        const std::uint32_t rev = reverse_bits(next_code[len]++, len);
        const std::uint32_t e = symbol_entry(s);
        if (len <= primary) {
            for (std::uint32_t i = rev; i < primary_size; i += 1u << len) table[i] = e | len;
            continue;
        }
        std::uint32_t& head = table[rev & (primary_size - 1)];
        if (kind_of(head) != link) {
            std::fill(table + next_sub, table + next_sub + (1u << sub_bits), bad_entry);
            head = entry(next_sub, link, 0, sub_bits);
            next_sub += 1u << sub_bits;
        }
        const unsigned rest = len - primary;
        std::uint32_t* sub = table + value_of(head);
        for (std::uint32_t i = rev >> primary; i < (1u << sub_bits); i += 1u << rest) sub[i] = e | rest;
    }
    return true;
}

struct FixedTables {
    std::uint32_t literal[literal_room];
    std::uint32_t distance[distance_room];
    FixedTables() {
        std::uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        build_table(literal, literal_primary, lengths, 288, literal_entry);
        std::fill(lengths, lengths + 30, 5);
        build_table(distance, distance_primary, lengths, 30, distance_entry);
    }
};

const FixedTables& fixed_tables() {
    static const FixedTables tables;
    return tables;
}

struct Inflater {
    const std::uint8_t* in;
    const std::uint8_t* end;
    std::uint8_t* out;
    std::size_t capacity;
    std::size_t total = 0;    // bytes produced, stored or only counted
    std::uint64_t bits = 0;
    unsigned count = 0;
    std::size_t padding = 0;  // zero bytes loaded past the end of the input

    void refill() {
        if (end - in >= 8) {
            std::uint64_t word;
            std::memcpy(&word, in, 8);  // little-endian host
            bits |= word << count;
            in += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count <= 56) {
            std::uint64_t byte = 0;
            if (in < end) byte = *in++;
            else ++padding;
            bits |= byte << count;
            count += 8;
        }
    }
    void drop(unsigned n) {
        bits >>= n;
        count -= n;
    }
    std::uint32_t take(unsigned n) {
        const auto v = static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << n) - 1));
        drop(n);
        return v;
    }
    // Some of the bits consumed lay past the end of the input.
    bool overrun() const { return padding * 8 > count; }

    // The entry for the next code; its code bits are consumed.
    std::uint32_t decode(const std::uint32_t* table, unsigned primary) {
        std::uint32_t e = table[bits & ((1u << primary) - 1)];
        if (kind_of(e) == link) {
            drop(primary);
            e = table[value_of(e) + (bits & ((1u << bits_of(e)) - 1))];
        }
        drop(bits_of(e));
        return e;
    }

    Status stored_block();
    Status dynamic_block();
    Status codes(const std::uint32_t* literals, const std::uint32_t* distances);
    Status run();
};

Status Inflater::stored_block() {
    drop(count & 7);
    if (overrun()) return Status::stored_past_end;
    in -= count / 8 - padding;  // give back the whole bytes still held
    bits = 0;
    count = 0;
    padding = 0;
    if (end - in < 4) return Status::stored_past_end;
    const std::size_t len = static_cast<std::size_t>(in[0]) | static_cast<std::size_t>(in[1]) << 8;
    in += 4;  // the complement is not checked
    if (static_cast<std::size_t>(end - in) < len) return Status::stored_past_end;
    if (total < capacity) std::memcpy(out + total, in, std::min(len, capacity - total));
    total += len;
    in += len;
    return Status::ok;
}

Status Inflater::dynamic_block() {
    refill();
    const unsigned literal_count = take(5) + 257;
    const unsigned distance_count = take(5) + 1;
    const unsigned length_codes = take(4) + 4;
    std::uint8_t lengths[320] = {};
    refill();
    for (unsigned i = 0; i < length_codes; ++i) {
        if (i == 16) refill();
        lengths[length_order[i]] = static_cast<std::uint8_t>(take(3));
    }
    if (overrun()) return Status::invalid;
    std::uint32_t length_table[1u << lengths_primary];
    if (!build_table(length_table, lengths_primary, lengths, 19, code_length_entry)) return Status::invalid;
    std::fill(lengths, lengths + 19, 0);
    const unsigned all = literal_count + distance_count;
    for (unsigned i = 0; i < all;) {
        refill();
        if (overrun()) return Status::invalid;
        const std::uint32_t e = decode(length_table, lengths_primary);
        if (kind_of(e) == bad) return Status::invalid;
        const unsigned symbol = value_of(e);
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        unsigned repeat;
        std::uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0) return Status::invalid;  // nothing to repeat
            value = lengths[i - 1];
            repeat = 3 + take(2);
        } else if (symbol == 17) {
            repeat = 3 + take(3);
        } else {
            repeat = 11 + take(7);
        }
        if (repeat > all - i) return Status::invalid;
        std::fill(lengths + i, lengths + i + repeat, value);
        i += repeat;
    }
    if (overrun()) return Status::invalid;
    std::uint32_t literals[literal_room];
    std::uint32_t distances[distance_room];
    if (!build_table(literals, literal_primary, lengths, literal_count, literal_entry) ||
        !build_table(distances, distance_primary, lengths + literal_count, distance_count, distance_entry))
        return Status::invalid;
    return codes(literals, distances);
}

// Decodes the codes of one block up to its end-of-block code.
Status Inflater::codes(const std::uint32_t* literals, const std::uint32_t* distances) {
    for (;;) {
        // Fast loop: whole words of input, and room for the longest match plus
        // the 8-byte overshoot of the copies.
        while (end - in >= 8 && total < capacity && capacity - total >= max_match + 8) {
            refill();  // 15 + 5 + 15 + 13 bits at most per item
            std::uint32_t e = decode(literals, literal_primary);
            if (kind_of(e) == literal) {
                out[total++] = static_cast<std::uint8_t>(value_of(e));
                continue;
            }
            if (kind_of(e) != length) {
                if (kind_of(e) == end_of_block) return Status::ok;
                return Status::invalid;
            }
            const std::size_t len = value_of(e) + take(extra_of(e));
            e = decode(distances, distance_primary);
            if (kind_of(e) != length) return Status::invalid;
            const std::size_t d = value_of(e) + take(extra_of(e));
            if (d > total) return Status::distance_too_far;
            std::uint8_t* to = out + total;
            const std::uint8_t* from = to - d;
            if (d >= 8) {
                for (std::size_t i = 0; i < len; i += 8) std::memcpy(to + i, from + i, 8);
            } else if (d == 1) {
                std::memset(to, *from, len);
            } else {
                for (std::size_t i = 0; i < len; ++i) to[i] = from[i];
            }
            total += len;
        }
        // Counting loop: past the capacity only the size grows.
        while (end - in >= 8 && total >= capacity) {
            refill();
            std::uint32_t e = decode(literals, literal_primary);
            if (kind_of(e) == literal) {
                ++total;
                continue;
            }
            if (kind_of(e) != length) {
                if (kind_of(e) == end_of_block) return Status::ok;
                return Status::invalid;
            }
            const std::size_t len = value_of(e) + take(extra_of(e));
            e = decode(distances, distance_primary);
            if (kind_of(e) != length) return Status::invalid;
            if (value_of(e) + take(extra_of(e)) > total) return Status::distance_too_far;
            total += len;
        }
        // Checked step: one item near the end of the input or the output.
        refill();
        std::uint32_t e = decode(literals, literal_primary);
        if (overrun()) return Status::invalid;
        if (kind_of(e) == literal) {
            if (total < capacity) out[total] = static_cast<std::uint8_t>(value_of(e));
            ++total;
            continue;
        }
        if (kind_of(e) != length) {
            if (kind_of(e) == end_of_block) return Status::ok;
            return Status::invalid;
        }
        const std::size_t len = value_of(e) + take(extra_of(e));
        e = decode(distances, distance_primary);
        if (kind_of(e) != length) return Status::invalid;
        const std::size_t d = value_of(e) + take(extra_of(e));
        if (overrun()) return Status::invalid;
        if (d > total) return Status::distance_too_far;
        std::size_t i = 0;
        for (; i < len && total < capacity; ++i, ++total) out[total] = out[total - d];
        total += len - i;  // past the capacity only the count grows
    }
}

Status Inflater::run() {
    for (;;) {
        refill();
        const bool final = take(1) != 0;
        const unsigned type = take(2);
        if (overrun()) return Status::invalid;  // the data ended before its final block
        Status s = Status::ok;
        switch (type) {
        case 0: s = stored_block(); break;
        case 1: s = codes(fixed_tables().literal, fixed_tables().distance); break;
        case 2: s = dynamic_block(); break;
        default: return Status::reserved_block;
        }
        if (s != Status::ok) return s;
        if (overrun()) return Status::invalid;
        if (final) return total > capacity ? Status::too_small : Status::ok;
    }
}

}  // namespace

Status compress(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length) {
    BitWriter w{out, out == nullptr ? 0 : size};
    w.put(0b011, 3);  // BFINAL 1, BTYPE 01: fixed codes
    std::uint32_t buckets[4096] = {};  // 1,024 buckets of 4 positions, each stored plus one (0 is empty)
    std::size_t p = 0;
    while (p < length) {
        std::size_t item = 1;
        std::uint32_t bucket = 0;
        if (p + 3 <= length) {
            const std::uint32_t v = three_bytes(in + p);
            bucket = bucket_of(v) * 4;
            if (p >= 3) {
                for (unsigned i = 0; i < 4; ++i) {
                    const std::uint32_t slot = buckets[bucket + i];
                    if (slot == 0) continue;
                    const std::size_t c = slot - 1;
                    if (c >= p || p >= c + window || three_bytes(in + c) != v) continue;
                    const std::size_t longest = std::min(max_match, length - p);
                    std::size_t len = 3;
                    while (len + 8 <= longest) {
                        std::uint64_t a, b;
                        std::memcpy(&a, in + c + len, 8);
                        std::memcpy(&b, in + p + len, 8);
                        if (a != b) {
                            len += static_cast<std::size_t>(std::countr_zero(a ^ b)) >> 3;
                            goto found;
                        }
                        len += 8;
                    }
                    while (len < longest && in[c + len] == in[p + len]) ++len;
                found:
                    put_match(w, len, p - c);
                    item = len;
                    break;
                }
            }
        }
        if (item == 1) w.put(fixed_codes.literal[in[p]], fixed_codes.literal_bits[in[p]]);
        w.flush();
        const std::size_t next = p + item;
        if (next + 3 <= length) {
            const std::uint32_t v = three_bytes(in + next);
            buckets[bucket + (((v >> 14) - v) & 3)] = static_cast<std::uint32_t>(p + 1);
        }
        p = next;
    }
    w.put(fixed_codes.literal[256], fixed_codes.literal_bits[256]);
    w.finish();
    const std::size_t capacity = out == nullptr ? 0 : size;
    size = w.at;
    return w.at > capacity ? Status::too_small : Status::ok;
}

Status inflate(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length) {
    Inflater z{in, in + length, out, out == nullptr ? 0 : size};
    const Status s = z.run();
    size = z.total;
    return s;
}

Status zlib_compress(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length) {
    const std::size_t capacity = out == nullptr ? 0 : size;
    if (capacity < 6) {
        size = length + 6;
        return Status::invalid;
    }
    out[0] = 0x78;  // deflate, 32 KiB window
    out[1] = 0x01;  // fastest level, no dictionary; the header is a multiple of 31
    std::size_t body = capacity - 6;
    const Status s = compress(out + 2, body, in, length);
    if (s == Status::ok) {
        const std::uint32_t adler = checksums::adler32(in, length);
        std::uint8_t* t = out + 2 + body;
        t[0] = static_cast<std::uint8_t>(adler >> 24);
        t[1] = static_cast<std::uint8_t>(adler >> 16);
        t[2] = static_cast<std::uint8_t>(adler >> 8);
        t[3] = static_cast<std::uint8_t>(adler);
    }
    size = body + 6;
    return s;
}

Status zlib_decompress(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length) {
    if (length < 6) return Status::invalid;
    const unsigned cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != 8 || (cmf >> 4) > 7 || (flg & 0x20) != 0)
        return Status::invalid;
    const Status s = inflate(out, size, in + 2, length - 6);
    if (s != Status::ok) return s;
    if (checksums::adler32(out, size) != read_be32(in + length - 4)) return Status::invalid;
    return Status::ok;
}

Status gzip(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length) {
    const std::size_t capacity = out == nullptr ? 0 : size;
    if (length > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 0x08) {
        size = length;
        if (length > capacity) return Status::too_small;
        std::memcpy(out, in, length);
        return Status::ok;
    }
    if (capacity < 18) {
        size = length + 18;
        return Status::invalid;
    }
    constexpr std::uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 4, 4};
    std::memcpy(out, header, sizeof header);
    std::size_t body = capacity - 18;
    const Status s = compress(out + 10, body, in, length);
    if (s == Status::ok) {
        const std::uint32_t crc = checksums::crc32(in, length);
        const auto isize = static_cast<std::uint32_t>(length);
        std::uint8_t* t = out + 10 + body;
        for (int i = 0; i < 4; ++i) {
            t[i] = static_cast<std::uint8_t>(crc >> (8 * i));
            t[4 + i] = static_cast<std::uint8_t>(isize >> (8 * i));
        }
    }
    size = body + 18;
    return s;
}

Status gunzip(std::uint8_t* out, std::size_t& size, const std::uint8_t* in, std::size_t length) {
    if (length < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & 0xE0) != 0)
        return Status::invalid;
    const unsigned flags = in[3];
    const std::size_t limit = length - 8;  // the trailer
    std::size_t at = 10;
    if (flags & 0x04) {  // FEXTRA
        if (limit - at < 2) return Status::invalid;
        const std::size_t extra = static_cast<std::size_t>(in[at]) | static_cast<std::size_t>(in[at + 1]) << 8;
        at += 2;
        if (limit - at < extra) return Status::invalid;
        at += extra;
    }
    for (const unsigned text : {0x08u, 0x10u}) {  // FNAME, FCOMMENT: NUL-terminated
        if ((flags & text) == 0) continue;
        const auto* nul = static_cast<const std::uint8_t*>(std::memchr(in + at, 0, limit - at));
        if (nul == nullptr) return Status::invalid;
        at = static_cast<std::size_t>(nul - in) + 1;
    }
    if (flags & 0x02) {  // FHCRC
        if (limit - at < 2) return Status::invalid;
        const std::uint32_t crc = checksums::crc32(in, at);
        if ((crc & 0xFFFF) != (static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8))
            return Status::invalid;
        at += 2;
    }
    const std::size_t isize = read_le32(in + length - 4);
    if (isize > max_expansion(limit - at)) return Status::invalid;  // more than the data can hold
    const std::size_t capacity = out == nullptr ? 0 : size;
    if (isize > capacity) {
        size = isize;
        return Status::too_small;
    }
    std::size_t produced = capacity;
    const Status s = inflate(out, produced, in + at, limit - at);
    if (s != Status::ok) {
        size = produced;
        return s;
    }
    if (produced != isize) return Status::invalid;  // the trailer must tell the size the data makes
    if (checksums::crc32(out, isize) != read_le32(in + length - 8)) return Status::invalid;
    size = isize;
    return Status::ok;
}

}  // namespace kiv::deflate
