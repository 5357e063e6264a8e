// Base 2, 16, 58 and 64 codecs. The decoders share one character walk: a ";"
// comment runs to the line feed, a skip character is passed over, anything
// outside the base's table makes the text invalid. Base 64 has a fast path
// for runs of four plain digits in 1-byte text, the common case by far.
#include "runtime/codecs/base_n.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kiv::base_n {
namespace {

constexpr char digits_58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char digits_64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char digits_16[] = "0123456789ABCDEF";

// Decoding table entries besides digit values.
constexpr std::uint8_t skip = 0x80;     // blanks and the apostrophe
constexpr std::uint8_t pad = 0x40;      // "=" of base 64
constexpr std::uint8_t invalid = 0xFF;

using Table = std::array<std::uint8_t, 256>;  // codes 128-255 stay invalid

constexpr Table make_table(const char* alphabet, int size, bool blanks_skip) {
    Table t{};
    for (auto& e : t) e = invalid;
    for (int i = 0; i < size; ++i) t[static_cast<std::uint8_t>(alphabet[i])] = static_cast<std::uint8_t>(i);
    if (blanks_skip)
        for (const int c : {8, 9, 10, 12, 13, 32, 39}) t[static_cast<std::size_t>(c)] = skip;
    return t;
}

constexpr Table table_58 = make_table(digits_58, 58, true);
constexpr Table table_64 = [] {
    Table t = make_table(digits_64, 64, true);
    t['='] = pad;
    return t;
}();
constexpr Table table_16 = [] {
    Table t = make_table(digits_16, 16, false);
    for (int c = 'a'; c <= 'f'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'a' + 10);
    for (int c = 0; c <= 32; ++c) t[static_cast<std::size_t>(c)] = skip;  // every control and the space
    return t;
}();
constexpr Table table_2 = [] {
    Table t{};
    for (auto& e : t) e = invalid;
    t['0'] = 0;
    t['1'] = 1;
    for (int c = 0; c <= 32; ++c) t[static_cast<std::size_t>(c)] = skip;
    return t;
}();

// Reads the text's units one by one; a code above 255 reads as 255 (invalid
// in every table). Comments are passed over here.
class Reader {
public:
    Reader(const std::uint8_t* text, std::int64_t count, std::uint32_t unit)
        : text_(text), count_(count), unit_(unit) {}
    bool done() const { return i_ >= count_; }
    std::uint32_t raw(std::int64_t i) const {
        switch (unit_) {
        case 1: return text_[i];
        case 2: { std::uint16_t u; std::memcpy(&u, text_ + i * 2, 2); return u; }
        default: { std::uint32_t u; std::memcpy(&u, text_ + i * 4, 4); return u; }
        }
    }
    // The next character that is not inside a comment, or -1 at the end.
    std::int64_t next() {
        while (i_ < count_) {
            const std::uint32_t c = raw(i_++);
            if (c != ';') return c;
            while (i_ < count_ && raw(i_) != '\n') ++i_;
        }
        return -1;
    }
    std::int64_t position() const { return i_; }
    void move_to(std::int64_t i) { i_ = i; }

private:
    const std::uint8_t* text_;
    std::int64_t count_;
    std::uint32_t unit_;
    std::int64_t i_ = 0;
};

std::uint8_t look_up(const Table& t, std::int64_t c) { return c > 255 ? invalid : t[static_cast<std::size_t>(c)]; }

std::int64_t decode_2(Reader& r, std::uint8_t* out) {
    std::int64_t n = 0;
    std::uint32_t acc = 0;
    int bits = 0;
    for (std::int64_t c; (c = r.next()) >= 0;) {
        const std::uint8_t v = look_up(table_2, c);
        if (v == skip) continue;
        if (v == invalid) return -1;
        acc = (acc << 1) | v;
        if (++bits == 8) {
            out[n++] = static_cast<std::uint8_t>(acc);
            acc = 0;
            bits = 0;
        }
    }
    return bits == 0 ? n : -1;
}

std::int64_t decode_16(Reader& r, std::uint8_t* out) {
    std::int64_t n = 0;
    std::uint32_t high = 0;
    bool half = false;
    for (std::int64_t c; (c = r.next()) >= 0;) {
        const std::uint8_t v = look_up(table_16, c);
        if (v == skip) continue;
        if (v > 15) return -1;
        if (half) out[n++] = static_cast<std::uint8_t>((high << 4) | v);
        else high = v;
        half = !half;
    }
    return n;  // an odd final digit is dropped
}

std::int64_t decode_64(Reader& r, const std::uint8_t* text, std::int64_t count, bool bytes,
                       std::uint8_t* out) {
    std::int64_t n = 0;
    std::uint32_t acc = 0;
    int digits = 0;
    while (true) {
        if (bytes && digits == 0) {  // whole groups of plain digits
            std::int64_t i = r.position();
            while (i + 4 <= count) {
                const std::uint32_t a = table_64[text[i]], b = table_64[text[i + 1]],
                                    c = table_64[text[i + 2]], d = table_64[text[i + 3]];
                if (((a | b | c | d) & 0xC0) != 0) break;
                const std::uint32_t g = (a << 18) | (b << 12) | (c << 6) | d;
                out[n] = static_cast<std::uint8_t>(g >> 16);
                out[n + 1] = static_cast<std::uint8_t>(g >> 8);
                out[n + 2] = static_cast<std::uint8_t>(g);
                n += 3;
                i += 4;
            }
            r.move_to(i);
        }
        const std::int64_t c = r.next();
        if (c < 0) return n;  // the digits of an unpadded last group are dropped
        const std::uint8_t v = look_up(table_64, c);
        if (v == skip) continue;
        if (v == invalid) return -1;
        if (v == pad) {
            if (digits == 3) {
                out[n++] = static_cast<std::uint8_t>(acc >> 10);
                out[n++] = static_cast<std::uint8_t>(acc >> 2);
                return n;
            }
            if (digits == 2) {
                out[n++] = static_cast<std::uint8_t>(acc >> 4);
                return n;
            }
            return -1;
        }
        acc = (acc << 6) | v;
        if (++digits == 4) {
            out[n++] = static_cast<std::uint8_t>(acc >> 16);
            out[n++] = static_cast<std::uint8_t>(acc >> 8);
            out[n++] = static_cast<std::uint8_t>(acc);
            acc = 0;
            digits = 0;
        }
    }
}

// Base 58 works on big numbers held in 32-bit limbs, least significant
// first: the conversion is quadratic, so each pass takes several digits.
constexpr std::uint64_t pow58[] = {1, 58, 3364, 195112, 11316496, 656356768};

std::int64_t decode_58(Reader& r, std::uint8_t* out) {
    std::vector<std::uint8_t> digits;
    for (std::int64_t c; (c = r.next()) >= 0;) {
        if (c > 127) break;  // ends the text
        const std::uint8_t v = table_58[static_cast<std::size_t>(c)];
        if (v == skip) continue;
        if (v == invalid) return -1;
        digits.push_back(v);
    }
    std::size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) ++zeros;
    std::vector<std::uint32_t> limbs;  // the number in base 2^32
    for (std::size_t k = zeros; k < digits.size();) {
        const std::size_t take = std::min<std::size_t>(5, digits.size() - k);
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < take; ++j) carry = carry * 58 + digits[k + j];
        k += take;
        for (std::uint32_t& limb : limbs) {
            carry += static_cast<std::uint64_t>(limb) * pow58[take];
            limb = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
        if (carry != 0) limbs.push_back(static_cast<std::uint32_t>(carry));
    }
    std::memset(out, 0, zeros);
    std::int64_t n = static_cast<std::int64_t>(zeros);
    bool leading = true;
    for (auto it = limbs.rbegin(); it != limbs.rend(); ++it)
        for (int shift = 24; shift >= 0; shift -= 8) {
            const auto byte = static_cast<std::uint8_t>(*it >> shift);
            if (leading && byte == 0) continue;
            leading = false;
            out[n++] = byte;
        }
    return n;
}

std::int64_t encode_58(const std::uint8_t* src, std::int64_t n, char* dst) {
    std::int64_t zeros = 0;
    while (zeros < n && src[zeros] == 0) ++zeros;
    std::vector<std::uint32_t> limbs;  // the number in base 58^5, least significant first
    for (std::int64_t k = zeros; k < n;) {
        const std::int64_t take = std::min<std::int64_t>(3, n - k);
        std::uint64_t carry = 0;
        for (std::int64_t j = 0; j < take; ++j) carry = (carry << 8) | src[k + j];
        k += take;
        for (std::uint32_t& limb : limbs) {
            carry += static_cast<std::uint64_t>(limb) << (8 * take);
            limb = static_cast<std::uint32_t>(carry % pow58[5]);
            carry /= pow58[5];
        }
        while (carry != 0) {
            limbs.push_back(static_cast<std::uint32_t>(carry % pow58[5]));
            carry /= pow58[5];
        }
    }
    char* p = dst;
    for (std::int64_t k = 0; k < zeros; ++k) *p++ = '1';
    bool leading = true;
    for (auto it = limbs.rbegin(); it != limbs.rend(); ++it)
        for (int d = 4; d >= 0; --d) {
            const auto digit = static_cast<std::size_t>(*it / pow58[d] % 58);
            if (leading && digit == 0) continue;
            leading = false;
            *p++ = digits_58[digit];
        }
    return p - dst;
}

// Two base 64 digits for each 12-bit value: half a group in one look-up.
const std::array<std::uint16_t, 4096>& pairs_64() {
    static const std::array<std::uint16_t, 4096> table = [] {
        std::array<std::uint16_t, 4096> t{};
        for (std::size_t v = 0; v < 4096; ++v) {
            const char two[2] = {digits_64[v >> 6], digits_64[v & 63]};
            std::memcpy(&t[v], two, 2);
        }
        return t;
    }();
    return table;
}

std::int64_t encode_64(const std::uint8_t* src, std::int64_t n, char* dst) {
    const std::array<std::uint16_t, 4096>& pairs = pairs_64();
    char* p = dst;
    std::int64_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t g = (static_cast<std::uint32_t>(src[i]) << 16) |
                                (static_cast<std::uint32_t>(src[i + 1]) << 8) | src[i + 2];
        std::memcpy(p, &pairs[g >> 12], 2);
        std::memcpy(p + 2, &pairs[g & 4095], 2);
        p += 4;
    }
    if (n - i == 1) {
        const std::uint32_t b0 = src[i];
        *p++ = digits_64[b0 >> 2];
        *p++ = digits_64[(b0 & 3) << 4];
        *p++ = '=';
        *p++ = '=';
    } else if (n - i == 2) {
        const std::uint32_t b0 = src[i], b1 = src[i + 1];
        *p++ = digits_64[b0 >> 2];
        *p++ = digits_64[((b0 & 3) << 4) | (b1 >> 4)];
        *p++ = digits_64[(b1 & 15) << 2];
        *p++ = '=';
    }
    return p - dst;
}

}  // namespace

bool known_base(std::int32_t base) { return base == 2 || base == 16 || base == 58 || base == 64; }

std::int64_t encoded_size(std::int32_t base, std::int64_t n) {
    switch (base) {
    case 2: return n * 8;
    case 16: return n * 2;
    case 58: return n * 2 + 1;
    default: return (n + 2) / 3 * 4;
    }
}

std::int64_t encode(std::int32_t base, const std::uint8_t* src, std::int64_t n, char* dst) {
    switch (base) {
    case 2:
        for (std::int64_t i = 0; i < n; ++i)
            for (int bit = 7; bit >= 0; --bit) *dst++ = static_cast<char>('0' + ((src[i] >> bit) & 1));
        return n * 8;
    case 16:
        for (std::int64_t i = 0; i < n; ++i) {
            *dst++ = digits_16[src[i] >> 4];
            *dst++ = digits_16[src[i] & 15];
        }
        return n * 2;
    case 58: return encode_58(src, n, dst);
    default: return encode_64(src, n, dst);
    }
}

std::int64_t decoded_room(std::int32_t base, std::int64_t count) {
    switch (base) {
    case 2: return count / 8;
    case 16: return count / 2;
    case 58: return count;
    default: return (count * 3 + 9) / 4;
    }
}

std::int64_t decode(std::int32_t base, const std::uint8_t* text, std::int64_t count, std::uint32_t unit,
                    std::uint8_t* out) {
    Reader r(text, count, unit);
    switch (base) {
    case 2: return decode_2(r, out);
    case 16: return decode_16(r, out);
    case 58: return decode_58(r, out);
    default: return decode_64(r, text, count, unit == 1, out);
    }
}

}  // namespace kiv::base_n
