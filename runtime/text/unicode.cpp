// UTF-8 and UTF-16 coders, the text loaders and the display-width tests. The
// loaders measure a text before storing it, so each load sizes its series once
// and writes every unit at its final width; a malformed text raises before
// anything is stored. Unit sizes other than 1, 2 or 4 are runtime faults.
#include "runtime/text/unicode.h"

#include "runtime/core/assert.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kiv::unicode {

namespace {

constexpr std::array<std::uint8_t, 364> make_utf8_dfa() {
    std::array<std::uint8_t, 364> t{};
    for (int b = 0; b < 256; ++b) {
        std::uint8_t c = 0;
        if (b >= 0x80 && b <= 0x8F) c = 1;
        else if (b >= 0x90 && b <= 0x9F) c = 9;
        else if (b >= 0xA0 && b <= 0xBF) c = 7;
        else if (b == 0xC0 || b == 0xC1) c = 8;
        else if (b >= 0xC2 && b <= 0xDF) c = 2;
        else if (b == 0xE0) c = 10;
        else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) c = 3;
        else if (b == 0xED) c = 4;
        else if (b == 0xF0) c = 11;
        else if (b >= 0xF1 && b <= 0xF3) c = 6;
        else if (b == 0xF4) c = 5;
        else if (b >= 0xF5) c = 8;
        t[static_cast<std::size_t>(b)] = c;
    }
    constexpr std::uint8_t rows[9][12] = {
        {0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72},
        {12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12},
        {12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12},
        {12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12},
        {12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12},
        {12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12},
        {12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12},
        {12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12},
        {12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12},
    };
    for (std::size_t r = 0; r < 9; ++r)
        for (std::size_t c = 0; c < 12; ++c) t[256 + r * 12 + c] = rows[r][c];
    return t;
}

void check_unit(std::uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
}

inline std::uint32_t unit_for(std::uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

[[noreturn]] void raise_invalid_char(std::uint32_t cp) {
    Cell arg{};
    arg.reset(TypeId::integer);
    arg.set_int(static_cast<std::int32_t>(cp));
    runtime::raise_error(ErrorCategory::script, "invalid-char", &arg);
}

// The argument is the sequence's bytes, at most 4 and never past the input.
[[noreturn]] void raise_invalid_utf8(const std::uint8_t* p, std::int32_t available) {
    std::int32_t n = available < 4 ? available : 4;
    NodeId node = memory::alloc_bytes(n);
    SeriesBuffer* buf = memory::buffer(node);
    std::memcpy(buf->head, p, static_cast<std::size_t>(n));
    buf->tail = buf->head + n;
    Cell arg{};
    arg.reset(TypeId::binary);
    arg.set_series_node(node);
    runtime::raise_error(ErrorCategory::access, "invalid-utf8", &arg);
}

void terminate_bad_utf16() {
    // An unpaired high surrogate cannot be stored or reported as a value.
    std::fputs("*** Input Error: invalid UTF-16LE codepoint", stdout);
    std::fflush(stdout);
    std::exit(1);  // a failure: the input was refused
}

inline std::uint32_t utf16_at(const std::uint8_t* text, std::int32_t i) {
    return static_cast<std::uint32_t>(text[2 * i] | (text[2 * i + 1] << 8));
}

inline bool is_high_surrogate(std::uint32_t u) { return (u & 0xFC00) == 0xD800; }
inline bool is_low_surrogate(std::uint32_t u) { return (u & 0xFC00) == 0xDC00; }

// Bytes [p, p + 8) all below 0x80.
inline bool ascii8(const std::uint8_t* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return (w & 0x8080808080808080ull) == 0;
}

}  // namespace

[[noreturn]] void bad_unit() {
    runtime::report_runtime_error(runtime::error_no_switch, KIV_CALLER_ADDRESS());
}

constexpr std::array<std::uint8_t, 364> utf8_dfa = make_utf8_dfa();
namespace {
const auto& dfa = utf8_dfa;
}  // namespace

// --- Single code points ------------------------------------------------------

const std::uint8_t* decode_utf8_char(const std::uint8_t* p, const std::uint8_t* end,
                                     std::int32_t* cp) {
    KIV_ASSERT(p < end, "decoding needs at least one byte");
    std::uint8_t b = *p++;
    std::uint8_t cls = dfa[b];
    std::uint32_t code = (0xFFu >> cls) & b;
    std::uint32_t state = dfa[256u + cls];
    while (state != dfa_accept && state != dfa_reject) {
        if (p == end) {  // cut short by the end of the input
            *cp = -1;
            return p;
        }
        b = *p++;
        code = (code << 6) | (b & 0x3Fu);
        state = dfa[256u + state + dfa[b]];
    }
    *cp = state == dfa_accept ? static_cast<std::int32_t>(code) : -1;
    return p;
}

std::int32_t count_utf8_chars(const std::uint8_t* start, const std::uint8_t* end) {
    std::int32_t n = 0;
    std::int32_t cp;
    while (start < end) {
        start = decode_utf8_char(start, end, &cp);
        ++n;
    }
    return n;
}

const std::uint8_t* skip_utf8_chars(const std::uint8_t* p, const std::uint8_t* end,
                                    std::int32_t count) {
    std::int32_t cp;
    while (count-- > 0 && p < end) p = decode_utf8_char(p, end, &cp);
    return p;
}

int utf8_lead_size(std::uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

int utf8_char_size(std::int32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= 0x10FFFF) return 4;
    raise_invalid_char(static_cast<std::uint32_t>(cp));
}

std::int32_t utf8_size_of_range(const std::uint8_t* start, const std::uint8_t* end,
                                std::uint32_t unit) {
    check_unit(unit);
    std::int32_t size = 0;
    for (; start < end; start += unit) {
        std::uint32_t cp = read_unit(start, unit);
        if (cp > 0x10FFFF) raise_invalid_char(cp);
        size += utf8_char_size(static_cast<std::int32_t>(cp));
    }
    return size;
}

int encode_utf8_char(std::uint32_t cp, std::uint8_t* dst) {
    if (cp <= 0x7F) {
        dst[0] = static_cast<std::uint8_t>(cp);
        return 1;
    }
    if (cp <= 0x7FF) {
        dst[0] = static_cast<std::uint8_t>(0xC0 | (cp >> 6));
        dst[1] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp <= 0xFFFF) {
        dst[0] = static_cast<std::uint8_t>(0xE0 | (cp >> 12));
        dst[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        dst[2] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= 0x10FFFF) {
        dst[0] = static_cast<std::uint8_t>(0xF0 | (cp >> 18));
        dst[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F));
        dst[2] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        dst[3] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 4;
    }
    raise_invalid_char(cp);
}

int encode_utf8_char_bounded(std::uint32_t cp, std::uint8_t* dst, std::int32_t room) {
    std::uint8_t bytes[4];
    int n = encode_utf8_char(cp, bytes);
    int fit = room < n ? (room > 0 ? static_cast<int>(room) : 0) : n;
    std::memcpy(dst, bytes, static_cast<std::size_t>(fit));
    return fit;
}

std::int32_t decode_utf8_strict(const std::uint8_t* p, std::int32_t* count) {
    std::int32_t available = *count;
    KIV_ASSERT(available >= 1, "strict decoding needs at least one byte");
    std::uint32_t b = p[0];
    if (b < 0x80) {
        *count = 1;
        return static_cast<std::int32_t>(b);
    }
    std::int32_t need;
    std::uint32_t cp;
    if (b < 0xC0) raise_invalid_utf8(p, available);
    else if (b < 0xE0) need = 2, cp = b - 0xC0;
    else if (b < 0xF0) need = 3, cp = b - 0xE0;
    else if (b < 0xF8) need = 4, cp = b - 0xF0;
    else raise_invalid_utf8(p, available);
    if (need > available) {
        *count = 0;
        return -1;
    }
    for (std::int32_t i = 1; i < need; ++i) {
        std::uint32_t c = p[i];
        if ((c & 0xC0) != 0x80) raise_invalid_utf8(p, available);
        cp = (cp << 6) | (c & 0x3F);
    }
    bool bad = cp == 0xFFFE || (need == 3 && cp >= 0xDC00 && cp <= 0xDCFF) || cp > 0x10FFFF;
    if (bad) raise_invalid_utf8(p, available);
    *count = need;
    return static_cast<std::int32_t>(cp);
}

// --- Core conversions -------------------------------------------------------------

Utf8Measure measure_utf8(const std::uint8_t* text, std::int32_t size, bool cr) {
    Utf8Measure m{0, 0, 1};
    std::int32_t i = 0;
    std::uint32_t widest = 0;
    while (i < size) {
        if (size - i >= 8 && ascii8(text + i)) {
            if (cr) {
                for (std::int32_t k = 0; k < 8; ++k)  // CR LF is one character
                    if (text[i + k] == '\r' && i + k + 1 < size && text[i + k + 1] == '\n') --m.chars;
            }
            m.chars += 8;
            i += 8;
            continue;
        }
        std::int32_t n = size - i;
        std::int32_t cp = decode_utf8_strict(text + i, &n);
        if (cp < 0) break;  // incomplete tail
        if (cr && cp == '\r' && i + 1 < size && text[i + 1] == '\n') --m.chars;
        widest |= static_cast<std::uint32_t>(cp);
        ++m.chars;
        i += n;
    }
    m.used = i;
    m.unit = unit_for(widest);  // the OR of all code points bounds the widest
    return m;
}

std::int32_t decode_utf8_units(const std::uint8_t* text, std::int32_t used, bool cr,
                               std::uint8_t* out, std::uint32_t unit) {
    check_unit(unit);
    std::int32_t i = 0;
    std::int32_t n = 0;
    while (i < used) {
        if (unit == 1 && !cr && used - i >= 8 && ascii8(text + i)) {
            std::memcpy(out + n, text + i, 8);
            n += 8;
            i += 8;
            continue;
        }
        std::uint32_t cp = text[i];
        if (cp < 0x80) {
            ++i;
            if (cr && cp == '\r') {
                if (i < used && text[i] == '\n') continue;  // the LF follows
                cp = '\n';
            }
        } else {
            std::int32_t k = used - i;
            cp = static_cast<std::uint32_t>(decode_utf8_strict(text + i, &k));
            KIV_ASSERT(k > 0, "decoding a measured text");
            i += k;
        }
        KIV_ASSERT(unit_for(cp) <= unit, "the unit holds every code point");
        write_unit(out + static_cast<std::size_t>(n) * unit, unit, cp);
        ++n;
    }
    return n;
}

namespace {

// Writes the ASCII units at the head of units[0, count) to out as bytes,
// eight bytes of units at a time, and returns how many it wrote: runs of
// ASCII, the bulk of source text, in texts of every width.
template <std::uint32_t unit>
std::int32_t ascii_run(const std::uint8_t* units, std::int32_t count, std::uint8_t* out) {
    constexpr std::int32_t per_word = 8 / unit;
    constexpr std::uint64_t high = unit == 1   ? 0x8080808080808080ull
                                   : unit == 2 ? 0xFF80FF80FF80FF80ull
                                               : 0xFFFFFF80FFFFFF80ull;
    std::int32_t i = 0;
#if defined(__SSE2__)
    if constexpr (unit == 1) {  // sixteen at a time
        for (; i + 16 <= count; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
            if (_mm_movemask_epi8(v) != 0) break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
        }
    }
    if constexpr (unit == 2) {  // eight units at a time, narrowed in one instruction
        const __m128i high16 = _mm_set1_epi16(static_cast<short>(0xFF80));
        for (; i + 8 <= count; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + static_cast<std::size_t>(i) * 2));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high16), _mm_setzero_si128())) != 0xFFFF)
                break;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
        }
    }
#endif
    for (; i + per_word <= count; i += per_word) {
        std::uint64_t w;
        std::memcpy(&w, units + static_cast<std::size_t>(i) * unit, 8);
        if ((w & high) != 0) break;
        if constexpr (unit == 1) {
            std::memcpy(out + i, &w, 8);
        } else {
            for (std::int32_t k = 0; k < per_word; ++k)
                out[i + k] = static_cast<std::uint8_t>(w >> (k * 8 * static_cast<int>(unit)));
        }
    }
    return i;
}

template <std::uint32_t unit>
std::int32_t encode_runs_utf8(const std::uint8_t* units, std::int32_t count, std::uint8_t* dst) {
    std::uint8_t* out = dst;
    std::int32_t i = 0;
    while (i < count) {
        const std::int32_t run = ascii_run<unit>(units + static_cast<std::size_t>(i) * unit, count - i, out);
        out += run;
        i += run;
        if (i >= count) break;
        const std::uint32_t cp = read_unit(units + static_cast<std::size_t>(i++) * unit, unit);
        if (cp < 0x80) *out++ = static_cast<std::uint8_t>(cp);
        else out += encode_utf8_char(cp, out);
    }
    return static_cast<std::int32_t>(out - dst);
}

}  // namespace

std::int32_t encode_units_utf8(const std::uint8_t* units, std::int32_t count,
                               std::uint32_t unit, std::uint8_t* dst, bool crlf) {
    check_unit(unit);
    if (!crlf) {
        switch (unit) {
        case 1: return encode_runs_utf8<1>(units, count, dst);
        case 2: return encode_runs_utf8<2>(units, count, dst);
        default: return encode_runs_utf8<4>(units, count, dst);
        }
    }
    std::uint8_t* out = dst;
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint32_t cp = read_unit(units + static_cast<std::size_t>(i) * unit, unit);
        if (cp < 0x80) {
            if (cp == '\n') *out++ = '\r';
            *out++ = static_cast<std::uint8_t>(cp);
        } else {
            out += encode_utf8_char(cp, out);
        }
    }
    return static_cast<std::int32_t>(out - dst);
}

std::int32_t encode_units_utf8_bounded(const std::uint8_t* units, std::int32_t count,
                                       std::uint32_t unit, std::uint8_t* dst,
                                       std::int32_t size) {
    check_unit(unit);
    std::int32_t written = 0;
    for (std::int32_t i = 0; i < count && written < size; ++i) {
        std::uint32_t cp = read_unit(units + static_cast<std::size_t>(i) * unit, unit);
        written += encode_utf8_char_bounded(cp, dst + written, size - written);
    }
    return written;
}

std::int32_t encode_units_utf16(const std::uint8_t* units, std::int32_t count,
                                std::uint32_t unit, std::uint16_t* dst, bool crlf) {
    check_unit(unit);
    std::uint16_t* out = dst;
    if (unit == 2 && !crlf) {
        std::memcpy(dst, units, static_cast<std::size_t>(count) * 2);
        return count;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint32_t cp = read_unit(units + static_cast<std::size_t>(i) * unit, unit);
        if (cp <= 0xFFFF) {
            if (crlf && cp == '\n') *out++ = '\r';
            *out++ = static_cast<std::uint16_t>(cp);
        } else if (cp <= 0x10FFFF) {
            cp -= 0x10000;
            *out++ = static_cast<std::uint16_t>(0xD800 | (cp >> 10));
            *out++ = static_cast<std::uint16_t>(0xDC00 | (cp & 0x3FF));
        } else {
            return -1;
        }
    }
    return static_cast<std::int32_t>(out - dst);
}

std::int32_t utf16_extra_units(const std::uint8_t* start, const std::uint8_t* end,
                               std::uint32_t unit) {
    check_unit(unit);
    std::int32_t extra = 0;
    for (; start < end; start += unit) {
        std::uint32_t cp = read_unit(start, unit);
        if (cp == '\n' || cp > 0xFFFF) extra += 2;
    }
    return extra;
}

std::uint32_t utf16_unit_size(const std::uint8_t* text, std::int32_t count) {
    std::uint32_t unit = 1;
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint8_t high = text[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high != 0) unit = 2;
    }
    return unit;
}

std::int32_t measure_utf16(const std::uint8_t* text, std::int32_t count, bool cr) {
    std::int32_t n = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint32_t u = utf16_at(text, i);
        if (is_high_surrogate(u)) {
            if (i + 1 >= count || !is_low_surrogate(utf16_at(text, i + 1))) terminate_bad_utf16();
            ++i;
        } else if (cr && u == '\r') {
            continue;
        }
        ++n;
    }
    return n;
}

std::int32_t decode_utf16_units(const std::uint8_t* text, std::int32_t count, bool cr,
                                std::uint8_t* out, std::uint32_t unit) {
    check_unit(unit);
    if (unit == 2 && !cr) {
        std::memcpy(out, text, static_cast<std::size_t>(count) * 2);
        return count;
    }
    std::int32_t n = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint32_t u = utf16_at(text, i);
        if (is_high_surrogate(u)) {
            if (i + 1 >= count) terminate_bad_utf16();
            std::uint32_t low = utf16_at(text, i + 1);
            if (!is_low_surrogate(low)) terminate_bad_utf16();
            u = 0x10000 + (((u & 0x3FF) << 10) | (low & 0x3FF));
            ++i;
        } else if (cr && u == '\r') {
            continue;
        }
        KIV_ASSERT(unit_for(u) <= unit, "the unit holds every code point");
        write_unit(out + static_cast<std::size_t>(n) * unit, unit, u);
        ++n;
    }
    return n;
}

void widen_nul_text(const char* text, std::uint16_t* dst) {
    while (*text) *dst++ = static_cast<std::uint8_t>(*text++);
    *dst = 0;
}

// --- Series -------------------------------------------------------------------------

namespace {

SeriesBuffer* widen(SeriesBuffer* buf, std::uint32_t from, std::uint32_t to) {
    KIV_ASSERT(buf->unit() == from, "widening from the buffer's own unit");
    std::int32_t n = buf->used_bytes() / static_cast<std::int32_t>(from);
    std::int32_t need = n * static_cast<std::int32_t>(to) + static_cast<std::int32_t>(to);
    if (buf->data_end() - buf->head < need)
        buf = memory::copy_series(buf, static_cast<std::int32_t>(buf->head - buf->data()) + need);
    std::uint8_t* h = buf->head;
    for (std::int32_t i = n; i-- > 0;)  // last unit first: nothing is overwritten unread
        write_unit(h + static_cast<std::size_t>(i) * to, to,
                   read_unit(h + static_cast<std::size_t>(i) * from, from));
    buf->tail = h + static_cast<std::size_t>(n) * to;
    buf->flags = (buf->flags & ~memory::unit_mask) | to;
    return buf;
}

// Makes room from the head of node's buffer for bytes (contents not kept).
SeriesBuffer* room_from_head(NodeId node, std::int32_t bytes) {
    SeriesBuffer* buf = memory::buffer(node);
    if (buf->data_end() - buf->head < bytes)
        buf = memory::expand_series(buf, static_cast<std::int32_t>(buf->head - buf->data()) + bytes);
    return buf;
}

std::int32_t checked_size(std::int64_t bytes) {
    if (bytes > 0x7FFFFFF0) runtime::raise_error(ErrorCategory::internal, "no-memory");
    return static_cast<std::int32_t>(bytes);
}

// The units of a text value from its head (clamped to the tail), at most limit
// when 0 <= limit.
struct TextRange {
    const std::uint8_t* head;
    std::int32_t count;
    std::uint32_t unit;
};

TextRange text_range(const Cell& value, std::int32_t limit) {
    SeriesBuffer* buf = memory::buffer(value.series_node());
    std::uint32_t unit = buf->unit();
    check_unit(unit);
    std::int32_t length = buf->used_bytes() / static_cast<std::int32_t>(unit);
    std::int32_t head = value.series_head();
    if (head > length) head = length;
    KIV_ASSERT(head >= 0, "a head index is never negative");
    std::int32_t count = length - head;
    if (limit >= 0 && limit < count) count = limit;
    return {buf->head + static_cast<std::size_t>(head) * unit, count, unit};
}

std::int32_t utf8_bytes_per_unit(std::uint32_t unit) { return unit == 1 ? 2 : unit == 2 ? 3 : 4; }

}  // namespace

SeriesBuffer* widen_1_to_2(SeriesBuffer* buf) { return widen(buf, 1, 2); }
SeriesBuffer* widen_1_to_4(SeriesBuffer* buf) { return widen(buf, 1, 4); }
SeriesBuffer* widen_2_to_4(SeriesBuffer* buf) { return widen(buf, 2, 4); }

NodeId load_utf8(const std::uint8_t* text, std::int32_t size, NodeId target,
                 std::int32_t* left, bool cr) {
    bool bom = size >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF;
    if (bom) {
        text += 3;
        size -= 3;
    }
    Utf8Measure m = measure_utf8(text, size, cr);  // raises before anything changes
    std::uint32_t unit = m.unit;
    NodeId node = target;
    SeriesBuffer* buf;
    if (node != 0) {
        std::uint32_t own = memory::buffer(node)->unit();
        check_unit(own);
        if (own > unit) unit = own;  // a target never narrows
        buf = room_from_head(node, checked_size(std::int64_t{m.chars} * unit));
        buf->flags = (buf->flags & ~memory::unit_mask) | unit;
    } else {
        node = memory::alloc_series(m.chars > 0 ? m.chars : 1, unit, 0);
        buf = memory::buffer(node);
    }
    std::int32_t n = decode_utf8_units(text, m.used, cr, buf->head, unit);
    buf->tail = buf->head + static_cast<std::size_t>(n) * unit;
    if (m.used < size) *left = size - m.used;
    else if (bom && size == 0) *left = 0;
    return node;
}

NodeId load_utf8_into(const std::uint8_t* text, std::int32_t size, Cell& value,
                      std::int32_t* left) {
    return load_utf8(text, size, value.series_node(), left, false);
}

NodeId utf8_to_string(const std::uint8_t* text, std::int32_t size) {
    std::int32_t left = 0;
    return load_utf8(text, size, 0, &left, false);
}

NodeId load_utf16(const std::uint8_t* text, std::int32_t count, Cell* target, bool cr) {
    if (text == nullptr) {
        KIV_ASSERT(target && target->series_extra() != 0, "text comes from the scratch buffer");
        text = memory::buffer(target->series_extra())->head;
    }
    std::uint32_t unit = utf16_unit_size(text, count);
    std::int32_t n = measure_utf16(text, count, cr);  // ends the process before anything changes
    NodeId node;
    SeriesBuffer* buf;
    if (target != nullptr) {
        node = target->series_node();
        buf = room_from_head(node, checked_size(std::int64_t{count} * unit));
    } else {
        node = memory::alloc_series(n > 0 ? n : 1, unit, 0);
        buf = memory::buffer(node);
    }
    buf->flags = (buf->flags & ~memory::unit_mask) | unit | flag_from_utf16;
    std::int32_t stored = decode_utf16_units(text, count, cr, buf->head, unit);
    buf->tail = buf->head + static_cast<std::size_t>(stored) * unit;
    return node;
}

NodeId utf16_to_string(const std::uint8_t* bytes, std::int32_t size, bool big_endian) {
    const std::int32_t count = size / 2;
    const auto unit_at = [&](std::int32_t i) -> std::uint32_t {
        const std::uint8_t* p = bytes + 2 * static_cast<std::size_t>(i);
        return big_endian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
    };
    // The code point at i and the units it takes.
    const auto char_at = [&](std::int32_t i, std::int32_t& used) -> std::uint32_t {
        const std::uint32_t u = unit_at(i);
        used = 1;
        if (is_high_surrogate(u) && i + 1 < count && is_low_surrogate(unit_at(i + 1))) {
            used = 2;
            return 0x10000 + (((u & 0x3FF) << 10) | (unit_at(i + 1) & 0x3FF));
        }
        return (u & 0xF800) == 0xD800 ? 0xFFFD : u;  // a lone surrogate
    };
    std::int32_t chars = size % 2;  // the odd byte's U+FFFD
    std::uint32_t unit = size % 2 != 0 ? 2 : 1;
    for (std::int32_t i = 0, used = 0; i < count; i += used) {
        unit = std::max(unit, unit_for(char_at(i, used)));
        ++chars;
    }
    const NodeId node = memory::alloc_series(chars > 0 ? chars : 1, unit, 0);
    SeriesBuffer* buf = memory::buffer(node);
    for (std::int32_t i = 0, used = 0; i < count; i += used) {
        write_unit(buf->tail, unit, char_at(i, used));
        buf->tail += unit;
    }
    if (size % 2 != 0) {
        write_unit(buf->tail, unit, 0xFFFD);
        buf->tail += unit;
    }
    return node;
}

// --- Whole text values ---------------------------------------------------------------

std::uint8_t* scratch_buffer(Cell& value, std::int32_t size) {
    NodeId node = value.series_extra();
    if (node == 0) {
        node = memory::alloc_bytes(size);
        value.set_series_extra(node);
    } else if (memory::buffer(node)->data_end() - memory::buffer(node)->head < size) {
        memory::copy_series(memory::buffer(node), size);
    }
    SeriesBuffer* buf = memory::buffer(node);
    buf->tail = buf->head + size;  // all of it is live: a later growth keeps it
    return buf->head;
}

std::uint8_t* to_utf8(Cell& value, std::int32_t* length) {
    return to_utf8_eol(value, length, false);
}

std::uint8_t* to_utf8_eol(Cell& value, std::int32_t* length, bool crlf) {
    TextRange r = text_range(value, *length);
    std::int32_t room = checked_size((std::int64_t{r.count} + 1) * utf8_bytes_per_unit(r.unit));
    std::uint8_t* dst = scratch_buffer(value, room);
    r = text_range(value, *length);  // the scratch allocation may have moved it
    std::int32_t n = encode_units_utf8(r.head, r.count, r.unit, dst, crlf);
    dst[n] = 0;
    *length = n;
    return dst;
}

std::int32_t write_utf8(Cell& value, std::uint8_t* dst, std::int32_t limit, bool nul) {
    TextRange r = text_range(value, limit);
    std::int32_t n = encode_units_utf8(r.head, r.count, r.unit, dst, false);
    if (nul) dst[n] = 0;
    return n;
}

std::int32_t write_utf8_bounded(Cell& value, std::uint8_t* dst, std::int32_t size,
                                std::int32_t limit, bool nul) {
    if (size <= 0) return 0;
    TextRange r = text_range(value, limit > 0 ? limit : -1);
    std::int32_t room = nul ? size - 1 : size;  // the NUL stays inside the destination
    std::int32_t n = encode_units_utf8_bounded(r.head, r.count, r.unit, dst, room);
    if (nul) dst[n] = 0;
    return n;
}

std::uint16_t* to_utf16(Cell& value, std::int32_t* length, bool crlf) {
    TextRange r = text_range(value, *length);
    std::int64_t room = 2 * std::int64_t{r.count} + 2 +
                        utf16_extra_units(r.head, r.head + static_cast<std::size_t>(r.count) * r.unit, r.unit);
    auto* dst = reinterpret_cast<std::uint16_t*>(scratch_buffer(value, checked_size(room)));
    r = text_range(value, *length);
    std::int32_t n = encode_units_utf16(r.head, r.count, r.unit, dst, crlf);
    if (n < 0) return nullptr;
    dst[n] = 0;
    *length = n;
    return dst;
}

std::uint16_t* to_utf16_crlf(Cell& value) {
    std::int32_t length = -1;
    return to_utf16(value, &length, true);
}

// --- Display width ---------------------------------------------------------------

bool in_ranges_q(std::uint32_t cp, const std::uint32_t* table, std::size_t entries) {
    if (entries == 0 || cp < table[0] || cp > table[entries - 1]) return false;
    std::size_t lo = 0;
    std::size_t hi = entries / 2;  // ranges
    while (lo < hi) {
        std::size_t mid = (lo + hi) / 2;
        if (cp > table[2 * mid + 1]) lo = mid + 1;
        else if (cp < table[2 * mid]) hi = mid;
        else return true;
    }
    return false;
}

int char_width(std::uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (in_ranges_q(cp, zero_width_ranges, zero_width_ranges_count)) return 0;
    if (in_ranges_q(cp, wide_ranges, wide_ranges_count)) return 2;
    return 1;
}

int char_width_cjk(std::uint32_t cp) {
    if (in_ranges_q(cp, ambiguous_ranges, ambiguous_ranges_count)) return 2;
    return char_width(cp);
}

}  // namespace kiv::unicode
