// Token loaders of the lexer: one per token class, each checking the token's
// text and, when building, pushing its value on the value stack; and the
// text-to-number conversions behind the to actions. Loaders never read past
// the token (or, for raw strings, past the input end) and fail through the
// syntax-error routine with the token's datatype.
#include "runtime/io/lexer_state.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/text/dtoa.h"
#include "runtime/core/memory.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace kiv::lexer {

namespace {

using Bytes = const std::uint8_t*;

std::int32_t i32(std::ptrdiff_t n) { return static_cast<std::int32_t>(n); }
int tint(TypeId t) { return static_cast<int>(t); }

[[noreturn]] void fail(State& s, Bytes start, Bytes end, TypeId t) {
    syntax_error(s, start, end, tint(t));
}

bool digit_q(std::uint8_t b) { return b >= '0' && b <= '9'; }

int hex_value(std::uint8_t b) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'a' && b <= 'f') return b - 'a' + 10;
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    return -1;
}

bool equal_folded(Bytes p, std::size_t n, const char* name) {
    if (std::strlen(name) != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(p[i]) != name[i]) return false;
    return true;
}

// --- Escapes and text -------------------------------------------------------------

// Decodes one escape after "^" at p; returns the position after it, or null
// when the escape is malformed.
Bytes decode_escape(Bytes p, Bytes end, std::uint32_t& cp) {
    if (p >= end) { cp = '^'; return p; }
    const std::uint8_t c = *p;
    switch (c) {
    case '"': cp = '"'; return p + 1;
    case '-': cp = '\t'; return p + 1;
    case '/': cp = '\n'; return p + 1;
    case '^': cp = '^'; return p + 1;
    case '{': cp = '{'; return p + 1;
    case '}': cp = '}'; return p + 1;
    case '~': cp = 127; return p + 1;
    case '(': {
        Bytes close = p + 1;
        while (close < end && *close != ')') ++close;
        if (close >= end) return nullptr;
        const std::size_t n = static_cast<std::size_t>(close - (p + 1));
        static constexpr struct { const char* name; std::uint32_t cp; } names[] = {
            {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
        };
        for (const auto& e : names)
            if (equal_folded(p + 1, n, e.name)) { cp = e.cp; return close + 1; }
        if (n < 1 || n > 6) return nullptr;
        std::uint32_t v = 0;
        for (Bytes q = p + 1; q < close; ++q) {
            const int h = hex_value(*q);
            if (h < 0) return nullptr;
            v = v * 16 + static_cast<std::uint32_t>(h);
        }
        if (v > 0x10FFFF) return nullptr;
        cp = v;
        return close + 1;
    }
    default:
        if (c >= 'a' && c <= 'z') { cp = static_cast<std::uint32_t>(c - 'a' + 1); return p + 1; }
        if (c >= '@' && c <= '_') { cp = static_cast<std::uint32_t>(c - 64); return p + 1; }
        return nullptr;  // "anything else as itself" is taken below, with UTF-8 decoding
    }
}

// Code points of [start, end) into out; false on bad UTF-8 or a bad escape.
bool decode_points(Bytes start, Bytes end, bool escapes, std::vector<std::uint32_t>& out) {
    out.clear();
    Bytes p = start;
    while (p < end) {
        if (escapes && *p == '^') {
            std::uint32_t cp = 0;
            Bytes after = decode_escape(p + 1, end, cp);
            if (after != nullptr) {
                out.push_back(cp);
                p = after;
                continue;
            }
            if (p + 1 < end && p[1] == '(') return false;  // a malformed ^(...)
            ++p;  // any other character stands for itself
            if (p >= end) { out.push_back('^'); break; }
        }
        if (*p < 0x80) {
            out.push_back(*p++);
            continue;
        }
        std::int32_t cp = 0;
        p = unicode::decode_utf8_char(p, end, &cp);
        if (cp < 0) return false;
        out.push_back(static_cast<std::uint32_t>(cp));
    }
    return true;
}

std::vector<std::uint32_t> points;  // scratch; loaders do not nest

void make_text(const std::vector<std::uint32_t>& cps, TypeId t, Cell& out) {
    std::uint32_t widest = 0;
    for (std::uint32_t cp : cps) widest = std::max(widest, cp);
    const std::uint32_t unit = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    const auto n = static_cast<std::int32_t>(cps.size());
    string::make_at_unit(out, n, unit);
    SeriesBuffer* buf = memory::buffer(out.series_node());
    std::uint8_t* p = buf->head;
    for (std::uint32_t cp : cps) {
        if (unit == 1) *p = static_cast<std::uint8_t>(cp);
        else if (unit == 2) { const auto v = static_cast<std::uint16_t>(cp); std::memcpy(p, &v, 2); }
        else std::memcpy(p, &cp, 4);
        p += unit;
    }
    buf->tail = p;
    out.set_type(t);
}

// %XX sequences as url! and file! decode them.
bool percent_decode(Bytes start, Bytes end, std::vector<std::uint32_t>& out) {
    out = url::decode_bytes(start, static_cast<std::int32_t>(end - start));
    return true;
}

// Decodes ASCII text [start, end) straight into a new 1-byte text of type t
// in out; false when an escape gives a character wider than a byte or is
// malformed (the caller then takes the general road, which reports it).
bool ascii_text(Bytes start, Bytes end, bool escapes, TypeId t, Cell& out) {
    string::make_at_unit(out, i32(end - start), 1);
    SeriesBuffer* buf = memory::buffer(out.series_node());
    std::uint8_t* dst = buf->head;
    if (!escapes) {
        std::memcpy(dst, start, static_cast<std::size_t>(end - start));
        dst += end - start;
    } else {
        for (Bytes p = start; p < end;) {
            if (*p == '^') {
                std::uint32_t cp = 0;
                Bytes after = decode_escape(p + 1, end, cp);
                if (after != nullptr) {
                    if (cp > 0xFF) return false;
                    *dst++ = static_cast<std::uint8_t>(cp);
                    p = after;
                    continue;
                }
                if (p + 1 < end && p[1] == '(') return false;
                ++p;  // any other character stands for itself
                if (p >= end) { *dst++ = '^'; break; }
            }
            *dst++ = *p++;
        }
    }
    buf->tail = dst;
    out.set_type(t);
    return true;
}

// Pushes a text value of type t from [start, end), failing as fail_type;
// ascii when no byte of it is above 0x7F.
void load_text(State& s, Bytes start, Bytes end, bool escapes, TypeId t, TypeId fail_type,
               bool build, bool ascii = false) {
    if (ascii && (build || !escapes)) {
        if (!build) return;  // plain ASCII is always good text
        Cell value{};
        if (ascii_text(start, end, escapes, t, value)) {
            push(s, value);
            return;
        }
    }
    if (!decode_points(start, end, escapes, points)) fail(s, start, end, fail_type);
    if (!build) return;
    Cell value{};
    make_text(points, t, value);
    push(s, value);
}

// --- Numbers ---------------------------------------------------------------------------

// The float syntax checker over [p, end), of any length: long texts are
// read correctly rounded like short ones.
bool float_syntax_q(Bytes p, Bytes end) {
    enum { R = -1 };
    int st = 0;
    for (; p < end; ++p) {
        const std::uint8_t c = *p;
        const int cls = (c == '+' || c == '-') ? 1 : digit_q(c) ? 2 : (c == 'e' || c == 'E') ? 3
                      : c == '.' ? 4 : c == '\'' ? 5 : 0;
        switch (st) {
        case 0: st = cls == 1 ? 0 : cls == 2 ? 1 : cls == 4 ? 4 : R; break;
        case 1: st = cls == 2 ? 1 : cls == 3 ? 6 : cls == 4 ? 5 : cls == 5 ? 2 : R; break;
        case 2: st = cls == 2 ? 1 : R; break;
        case 3: st = cls == 2 ? 3 : cls == 3 ? 6 : cls == 5 ? 4 : R; break;
        case 4: st = cls == 2 ? 3 : R; break;
        case 5: st = cls == 2 ? 3 : R; break;
        case 6: st = cls == 1 ? 7 : cls == 2 ? 8 : R; break;
        case 7: st = cls == 2 ? 8 : R; break;
        case 8: st = cls == 2 ? 8 : R; break;
        default: return false;
        }
        if (st == R) return false;
    }
    return st == 1 || st == 2 || st == 3 || st == 4 || st == 5 || st == 8;
}

// Float of checked text: separators dropped, "," read as ".".
double parse_float(Bytes p, Bytes end, int adjust) {
    int rest = 0;
    if (std::find_if(p, end, [](std::uint8_t b) { return b == '\'' || b == ','; }) == end)
        return dtoa::strtod(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end),
                            adjust, rest);  // the common text, read in place
    std::string text;
    text.reserve(static_cast<std::size_t>(end - p));
    for (; p < end; ++p) {
        if (*p == '\'') continue;
        text += *p == ',' ? '.' : static_cast<char>(*p);
    }
    return dtoa::strtod(text.data(), text.data() + text.size(), adjust, rest);
}

// Integer of an optional sign and digits (quote separators allowed when
// quotes); status 0 ok, -1 bad text, -2 too long or overflow.
std::int32_t parse_integer(Bytes p, Bytes end, bool quotes, int& status) {
    status = 0;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p >= end) { status = -1; return 0; }
    std::int64_t v = 0;
    int digits = 0;
    bool last_quote = false;
    for (; p < end; ++p) {
        if (*p == '\'' && quotes) {
            if (last_quote || digits == 0) { status = -1; return 0; }
            last_quote = true;
            continue;
        }
        if (!digit_q(*p)) { status = -1; return 0; }
        last_quote = false;
        if (++digits > 10) { status = -2; continue; }
        v = v * 10 + (*p - '0');
    }
    if (last_quote) { status = -1; return 0; }
    if (status != 0) return 0;
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max() || v < std::numeric_limits<std::int32_t>::min()) {
        status = -2;
        return 0;
    }
    return static_cast<std::int32_t>(v);
}

void push_float(State& s, TypeId t, double d) {
    Cell value{};
    value.reset(t);
    value.set_f64(d);
    push(s, value);
}

void load_float(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    if (!float_syntax_q(start, end)) fail(s, start, end, TypeId::float_);
    s.type = tint(TypeId::float_);
    if (build) push_float(s, TypeId::float_, parse_float(start, end, 0));
    s.pos = end;
}

void load_integer(State& s, Bytes start, Bytes end, std::uint32_t flags, bool build) {
    int status = 0;
    const std::int32_t v = parse_integer(start, end, (flags & flag_quote) != 0, status);
    if (status == -1) fail(s, start, end, TypeId::integer);
    if (status == -2) {
        load_float(s, start, end, flags, build);  // too large for an integer
        return;
    }
    if (build) {
        Cell value{};
        value.reset(TypeId::integer);
        value.set_int(v);
        push(s, value);
    }
    s.pos = end;
}

void load_hex(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    Bytes digits_end = end - 1;  // before the "h"
    const std::int32_t n = i32(digits_end - start);
    if (n == 1 && !digit_q(*start)) fail(s, start, end, TypeId::word);
    if (n < 2 || n > 8) fail(s, start, end, TypeId::integer);
    std::uint32_t v = 0;
    for (Bytes p = start; p < digits_end; ++p) {
        const int h = hex_value(*p);
        if (h < 0) fail(s, start, end, TypeId::integer);
        v = v * 16 + static_cast<std::uint32_t>(h);
    }
    if (build) {
        Cell value{};
        value.reset(TypeId::integer);
        value.set_int(static_cast<std::int32_t>(v));
        push(s, value);
    }
    s.pos = end;
}

void load_percent(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    if (!float_syntax_q(start, end)) fail(s, start, end + 1, TypeId::float_);
    if (build) push_float(s, TypeId::percent, parse_float(start, end, -2));
    s.pos = end + 1;  // the "%"
}

void load_special_float(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    Bytes p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p != 6 || std::memcmp(p, "1.#", 3) != 0) fail(s, start, end, TypeId::float_);
    double d = 0;
    if (equal_folded(p + 3, 3, "nan")) d = std::numeric_limits<double>::quiet_NaN();
    else if (equal_folded(p + 3, 3, "inf")) d = negative ? -HUGE_VAL : HUGE_VAL;
    else fail(s, start, end, TypeId::float_);
    if (build) push_float(s, TypeId::float_, d);
    s.pos = end;
}

void load_time(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    Bytes p = start;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    auto number = [&](double& v) {
        Bytes from = p;
        v = 0;
        while (p < end && digit_q(*p) && p - from < 12) v = v * 10 + (*p++ - '0');
        return p > from && (p >= end || !digit_q(*p));
    };
    double h = 0, m = 0, sec = 0;
    if (!number(h) || p >= end || *p != ':') fail(s, start, end, TypeId::time);
    ++p;
    if (!number(m)) fail(s, start, end, TypeId::time);
    if (p < end && *p == '.') {  // h:m.f reads as minutes:seconds
        Bytes from = p;
        while (from > start && digit_q(from[-1])) --from;
        if (std::find(p, end, ':') != end || !float_syntax_q(from, end)) fail(s, start, end, TypeId::time);
        sec = parse_float(from, end, 0);
        p = end;
        m = h;
        h = 0;
    } else if (p < end && *p == ':') {
        ++p;
        Bytes from = p;
        while (p < end && (digit_q(*p) || *p == '.' || *p == ',')) ++p;
        if (p != end || from == end || !float_syntax_q(from, end)) fail(s, start, end, TypeId::time);
        bool comma_ok = true;
        for (Bytes q = from; q < end; ++q) if (*q == ',' && q + 1 >= end) comma_ok = false;
        if (!comma_ok) fail(s, start, end, TypeId::time);
        sec = parse_float(from, end, 0);
    }
    if (p != end || sec >= 60) fail(s, start, end, TypeId::time);
    double total = h * 3600 + m * 60 + sec;
    if (negative) total = -total;
    if (build) push_float(s, TypeId::time, total);
    s.pos = end;
}

void load_string(State& s, Bytes start, Bytes end, std::uint32_t flags, bool build) {
    // start at the opening quote, end at the closing one
    const TypeId t = s.expected_type > 0 ? static_cast<TypeId>(s.expected_type) : TypeId::string;
    load_text(s, start + 1, end, (flags & flag_escape) != 0, TypeId::string, t, build,
              (flags & flag_non_ascii) == 0);
    s.pos = end + 1;
}

void load_char(State& s, Bytes start, Bytes end, std::uint32_t flags, bool build) {
    // #"x": start at "#", end at the closing quote
    if (end - start < 3 || start[1] != '"') fail(s, start, end + 1, TypeId::char_);
    if (!decode_points(start + 2, end, (flags & flag_escape) != 0, points) || points.size() != 1 ||
        points[0] > 0x10FFFF)
        fail(s, start, end + 1, TypeId::char_);
    if (build) {
        Cell value{};
        value.reset(TypeId::char_);
        value.set_int(static_cast<std::int32_t>(points[0]));
        push(s, value);
    }
    s.pos = end + 1;
}

void load_file(State& s, Bytes start, Bytes end, std::uint32_t flags, bool build) {
    if (end - start >= 2 && start[1] == '"') {  // end at the closing quote
        load_text(s, start + 2, end, (flags & flag_escape) != 0, TypeId::file, TypeId::file, build);
        s.pos = end + 1;
        return;
    }
    if ((flags & flag_percent) != 0 && std::find(start + 1, end, '%') != end) {
        percent_decode(start + 1, end, points);
        if (build) {
            Cell value{};
            make_text(points, TypeId::file, value);
            push(s, value);
        }
    } else {
        load_text(s, start + 1, end, false, TypeId::file, TypeId::file, build);
    }
    s.pos = end;
}

void load_tag(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    if (*start != '<') fail(s, start, end + 1, TypeId::tag);
    load_text(s, start + 1, end, false, TypeId::tag, TypeId::tag, build);
    s.pos = end + 1;
}

void load_url(State& s, Bytes start, Bytes end, std::uint32_t flags, bool build) {
    if (*start == ':') fail(s, start, end, TypeId::get_word);
    if (*start == '\'') fail(s, start, end, TypeId::lit_word);
    if ((flags & flag_percent) != 0) {
        percent_decode(start, end, points);
        if (build) {
            Cell value{};
            make_text(points, TypeId::url, value);
            push(s, value);
        }
    } else {
        load_text(s, start, end, false, TypeId::url, TypeId::url, build);
    }
    s.pos = end;
}

void load_email(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    load_text(s, start, end, false, TypeId::email, TypeId::email, build);
    s.pos = end;
}

void load_ref(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    load_text(s, start + 1, end, false, TypeId::ref, TypeId::ref, build);
    s.pos = end;
}

void load_raw_string(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    Bytes p = start;
    std::int32_t opening = 0;
    while (p < end && *p == '%') { ++opening; ++p; }
    if (p >= end || *p != '{') fail(s, start, end, TypeId::string);
    Bytes body = p + 1;
    // The body ends at the first "}" followed by exactly as many "%"; a "}"
    // with fewer is part of the text, more is an error.
    for (Bytes q = body; q < s.input_end; ++q) {
        if (*q != '}') continue;
        std::int32_t closing = 0;
        Bytes r = q + 1;
        while (r < s.input_end && *r == '%') { ++closing; ++r; }
        if (closing < opening) continue;
        if (closing > opening) fail(s, start, r, TypeId::string);
        if (r > end) s.line += i32(std::count(std::max(end, body), r, '\n'));  // past the token
        load_text(s, body, q, false, TypeId::string, TypeId::string, build);
        s.pos = r;
        return;
    }
    fail(s, start, s.input_end, TypeId::string);
}

void load_tuple(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    std::uint8_t bytes[12] = {};
    int count = 0;
    Bytes p = start;
    while (true) {
        if (count == 12) fail(s, start, end, TypeId::tuple);
        int v = 0;
        Bytes from = p;
        while (p < end && digit_q(*p) && p - from < 4) v = v * 10 + (*p++ - '0');
        if (p == from || v > 255 || (p < end && digit_q(*p))) fail(s, start, end, TypeId::tuple);
        bytes[count++] = static_cast<std::uint8_t>(v);
        if (p >= end) break;
        if (*p != '.') fail(s, start, end, TypeId::tuple);
        ++p;
    }
    if (count < 3) fail(s, start, end, TypeId::tuple);
    if (build) {
        Cell value{};
        value.reset(TypeId::tuple);
        value.set_tuple(bytes, static_cast<std::uint32_t>(count));
        push(s, value);
    }
    s.pos = end;
}

void load_pair(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    if (std::find(start, end, '.') != end) fail(s, start, end, TypeId::pair);
    Bytes x = start;
    while (x < end && *x != 'x' && *x != 'X') ++x;
    int status_a = 0, status_b = 0;
    const std::int32_t a = parse_integer(start, x, false, status_a);
    const std::int32_t b = x < end ? parse_integer(x + 1, end, false, status_b) : 0;
    if (x >= end || status_a != 0 || status_b != 0) fail(s, start, end, TypeId::pair);
    if (build) {
        Cell value{};
        value.reset(TypeId::pair);
        value.set_pair(a, b);
        push(s, value);
    }
    s.pos = end;
}

void load_binary(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    // start at the base digits or "#", end at "}"
    Bytes hash = std::find(start, end, '#');
    int base = 16;
    if (hash != start) {
        int status = 0;
        base = parse_integer(start, hash, false, status);
        if (status != 0 || (base != 2 && base != 16 && base != 64)) fail(s, start, end + 1, TypeId::binary);
    }
    if (hash + 1 >= end || hash[1] != '{') fail(s, start, end + 1, TypeId::binary);
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    int bits = 0;
    int pad = 0;
    for (Bytes p = hash + 2; p < end; ++p) {
        const std::uint8_t c = *p;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        if (c == ';') {
            while (p < end && *p != '\n') ++p;
            continue;
        }
        int v = -1;
        int width = 0;
        if (base == 16) { v = hex_value(c); width = 4; }
        else if (base == 2) { v = c == '0' ? 0 : c == '1' ? 1 : -1; width = 1; }
        else {
            width = 6;
            if (c >= 'A' && c <= 'Z') v = c - 'A';
            else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
            else if (digit_q(c)) v = c - '0' + 52;
            else if (c == '+') v = 62;
            else if (c == '/') v = 63;
            else if (c == '=') { ++pad; continue; }
        }
        if (v < 0 || pad > 0) fail(s, p, end + 1, TypeId::binary);
        acc = (acc << width) | static_cast<std::uint32_t>(v);
        bits += width;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    // Left-over bits: none for base 2 and 16; base 64 drops the pad bits, and
    // its "=" must follow two or three characters of a group.
    if ((base != 64 && bits != 0) || (base == 64 && (bits >= 6 || pad > 2 || (pad > 0 && bits == 0))))
        fail(s, start, end + 1, TypeId::binary);
    if (build) {
        Cell value{};
        const auto n = static_cast<std::int32_t>(out.size());
        const NodeId node = memory::alloc_series(std::max(n, 1), 1, 0);
        SeriesBuffer* buf = memory::buffer(node);
        if (n > 0) std::memcpy(buf->head, out.data(), out.size());
        buf->tail = buf->head + n;
        value.reset(TypeId::binary);
        value.set_series_node(node);
        push(s, value);
    }
    s.pos = end + 1;
}

// --- Dates ---------------------------------------------------------------------------

// A date token read left to right; fails on the first thing out of place.
struct DateReader {
    Bytes p;
    Bytes end;

    bool at(char c) const { return p < end && *p == c; }
    bool eat(char c) {
        if (!at(c)) return false;
        ++p;
        return true;
    }
    // Up to max digits (at least one); false when there is none.
    bool digits(int max, std::int32_t& v, int& count) {
        v = 0;
        count = 0;
        while (p < end && digit_q(*p) && count < max) {
            v = v * 10 + (*p++ - '0');
            ++count;
        }
        return count > 0;
    }
    // Exactly n digits.
    bool exact(int n, std::int32_t& v) {
        int count = 0;
        return digits(n, v, count) && count == n;
    }
    // Seconds with an optional fraction ("." or ","), below 60.
    bool seconds(double& v) {
        Bytes from = p;
        while (p < end && digit_q(*p)) ++p;
        if (p == from) return false;
        if (p < end && (*p == '.' || *p == ',')) {
            ++p;
            while (p < end && digit_q(*p)) ++p;
        }
        if (p - from > 40) return false;
        if (p[-1] == '.' || p[-1] == ',') return false;
        v = parse_float(from, p, 0);
        return v < 60;
    }
};

// Month from its number or an English name written with 3 to 9 letters.
bool read_month(DateReader& r, std::int32_t& month) {
    int count = 0;
    if (r.digits(2, month, count)) return true;
    Bytes from = r.p;
    while (r.p < r.end && std::isalpha(*r.p)) ++r.p;
    const auto n = static_cast<std::size_t>(r.p - from);
    if (n < 3 || n > 9) return false;
    static constexpr const char* names[] = {"january", "february", "march", "april", "may", "june", "july",
                                            "august", "september", "october", "november", "december"};
    for (int i = 0; i < 12; ++i) {
        if (std::strlen(names[i]) < n) continue;
        bool same = true;
        for (std::size_t k = 0; k < n && same; ++k) same = std::tolower(from[k]) == names[i][k];
        if (same) { month = i + 1; return true; }
    }
    return false;
}

// The zone after a time: Z, or a sign, hours, an optional ":" and minutes.
bool read_zone(DateReader& r, std::int32_t& minutes_east, bool compact) {
    if (r.eat('Z') || r.eat('z')) return true;
    if (!r.at('+') && !r.at('-')) return !compact || r.p == r.end;
    const bool west = *r.p++ == '-';
    std::int32_t h = 0, m = 0;
    int count = 0;
    if (compact) {
        if (!r.exact(2, h) || !r.exact(2, m)) return false;
    } else {
        if (!r.digits(2, h, count)) return false;
        r.eat(':');
        if (r.p < r.end && !r.digits(2, m, count)) return false;
    }
    if (h > 15 || m > 59) return false;
    minutes_east = west ? -(h * 60 + m) : h * 60 + m;
    return true;
}

void load_date(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    DateReader r{start, end};
    std::int32_t year = 0, month = 0, day = 0, week = 0, weekday = 1, ordinal = 0;
    std::int32_t hours = 0, minutes = 0, zone = 0;
    double secs = 0;
    bool has_time = false;
    const bool negative = r.eat('-');
    std::int32_t first = 0;
    int first_digits = 0;
    if (!r.digits(4, first, first_digits)) fail(s, start, end, TypeId::date);
    if (negative) first = -first;
    if (r.p < end && digit_q(*r.p)) {
        // compact: yyyymmddThhmm[ss[.f]][Z|+hhmm]
        year = first;
        if (!r.exact(2, month) || !r.exact(2, day) || !(r.eat('T') || r.eat('t')) ||
            !r.exact(2, hours) || !r.exact(2, minutes))
            fail(s, start, end, TypeId::date);
        if (r.p < end && digit_q(*r.p) && !r.seconds(secs)) fail(s, start, end, TypeId::date);
        has_time = true;
        if (!read_zone(r, zone, true)) fail(s, start, end, TypeId::date);
    } else if (first_digits == 4 && r.p + 1 < end && *r.p == '-' && (r.p[1] == 'W' || r.p[1] == 'w')) {
        // ISO week date: yyyy-Www[-d]
        r.p += 2;
        int count = 0;
        year = first;
        if (!r.digits(2, week, count) || week < 1 || week > 53) fail(s, start, end, TypeId::date);
        if (r.eat('-') && (!r.exact(1, weekday) || weekday < 1 || weekday > 7))
            fail(s, start, end, TypeId::date);
        month = 1;
        day = 1;
    } else {
        const char sep = r.p < end ? static_cast<char>(*r.p) : 0;
        if (sep != '-' && sep != '/') fail(s, start, end, TypeId::date);
        ++r.p;
        Bytes after_sep = r.p;
        std::int32_t three = 0;
        if (first_digits == 4 && !negative && r.exact(3, three) &&
            (r.p == end || *r.p == '/' || *r.p == 'T' || *r.p == 't')) {
            // ordinal date: yyyy-ddd
            year = first;
            ordinal = three;
            if (ordinal < 1 || ordinal > (date::leap_year_q(year) ? 366 : 365)) fail(s, start, end, TypeId::date);
            month = 1;
            day = 1;
        } else {
            r.p = after_sep;
            if (!read_month(r, month) || !r.eat(sep)) fail(s, start, end, TypeId::date);
            const bool last_negative = r.eat('-');
            std::int32_t last = 0;
            int last_digits = 0;
            if (!r.digits(4, last, last_digits)) fail(s, start, end, TypeId::date);
            if (last_negative) last = -last;
            std::int32_t year_digits = last_digits;
            if (last >= 0 && last <= 31 && first > 99) {
                year = first;
                day = last;
                year_digits = first_digits;
            } else {
                day = first;
                year = last;
            }
            if (year_digits <= 2 && year >= 0 && year <= 99) year += year > 49 ? 1900 : 2000;
        }
    }
    if (!has_time && (r.eat('/') || r.eat('T') || r.eat('t'))) {
        int count = 0;
        if (!r.digits(2, hours, count) || !r.eat(':') || !r.digits(2, minutes, count))
            fail(s, start, end, TypeId::date);
        if (r.eat(':') && !r.seconds(secs)) fail(s, start, end, TypeId::date);
        has_time = true;
        if (!read_zone(r, zone, false)) fail(s, start, end, TypeId::date);
    }
    if (r.p != end || month < 1 || month > 12 || year < -9999 || year > 9999 || day < 1 ||
        day > date::month_length(year, month) || hours > 23 || minutes > 59)
        fail(s, start, end, TypeId::date);
    if (build) {
        Cell value{};
        date::make_at(value, year, month, day, hours * 3600.0 + minutes * 60.0 + secs, zone, has_time);
        if (week > 0 || ordinal > 0) {
            // Monday of ISO week 1, or 1 January, then the week and day
            std::int64_t n = date::day_number(year, 1, 1);
            if (week > 0) {
                const std::int64_t b = ((n + 2) % 7 + 7) % 7;
                n = (b >= 4 ? n - b + 7 : n - b) + 7 * (week - 1) + (weekday - 1);
            } else {
                n += ordinal - 1;
            }
            std::int32_t y = 0, m = 0, d = 0;
            date::from_day_number(n, y, m, d);
            date::make_at(value, y, m, d, hours * 3600.0 + minutes * 60.0 + secs, zone, has_time);
        }
        push(s, value);
    }
    s.pos = end;
}

// Reads money text: an optional sign, an optional three-letter currency code,
// "$" (required in a token and after a code), whole digits with single "'"
// separators between them, then an optional point and at most 5 decimals.
// Leading zeros do not count towards the 17 whole digits. A token may use ","
// for the point. Makes the value into out unless out is null; false for bad
// text or an unknown currency.
bool read_money(Bytes p, Bytes end, bool token, Cell* out) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::int32_t currency = 0;
    if (p < end && std::isalpha(*p)) {
        if (end - p < 5 || !std::isalpha(p[1]) || !std::isalpha(p[2]) || p[3] != '$') return false;
        currency = money::currency_index(std::string_view(reinterpret_cast<const char*>(p), 3));
        if (currency < 0) return false;
        p += 3;
    } else if (token && (p >= end || *p != '$')) {
        return false;
    }
    if (p < end && *p == '$') ++p;
    const Bytes whole = p;
    int digits = 0;
    bool after_separator = true;  // no separator first
    for (; p < end && *p != '.' && !(token && *p == ','); ++p) {
        if (*p == '\'') {
            if (after_separator) return false;
            after_separator = true;
            continue;
        }
        if (!digit_q(*p)) return false;
        after_separator = false;
        if (digits > 0 || *p != '0') ++digits;
    }
    if (after_separator || digits > money::integer_digits) return false;
    const Bytes whole_end = p;
    Bytes fraction = p;
    if (p < end) {
        fraction = ++p;
        for (; p < end; ++p)
            if (!digit_q(*p)) return false;
        if (p == fraction || (token && p - fraction > money::fraction_digits)) return false;
    }
    if (out == nullptr) return true;
    const auto text = [](Bytes a, Bytes b) {
        return std::string_view(reinterpret_cast<const char*>(a), static_cast<std::size_t>(b - a));
    };
    return money::make_from_text(*out, negative, static_cast<std::uint32_t>(currency),
                                 text(whole, whole_end), text(fraction, p));
}

void load_money(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    Cell value{};
    if (!read_money(start, end, true, build ? &value : nullptr)) fail(s, start, end, TypeId::money);
    if (build) push(s, value);
    s.pos = end;
}

// A special float inside a point: optional sign, "1.#", then NaN or INF.
bool point_special_q(Bytes p, Bytes end, double& d) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p != 6 || std::memcmp(p, "1.#", 3) != 0) return false;
    if (equal_folded(p + 3, 3, "nan")) d = std::numeric_limits<double>::quiet_NaN();
    else if (equal_folded(p + 3, 3, "inf")) d = negative ? -HUGE_VAL : HUGE_VAL;
    else return false;
    return true;
}

// (a, b) or (a, b, c): start after the "(", end at the ")".
void load_point(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    s.start_state = 0;
    s.token_lines = s.point_lines;
    Bytes open = start;  // the error names the whole literal, parentheses too
    while (open > s.input_start && (open[-1] == ' ' || open[-1] == '\t')) --open;
    if (open > s.input_start && open[-1] == '(') --open;
    auto blank_q = [](std::uint8_t b) { return b == ' ' || b == '\t'; };
    double c[3] = {0.0, 0.0, 0.0};
    int n = 0;
    Bytes p = start;
    while (true) {
        const TypeId t = n < 2 ? TypeId::point2d : TypeId::point3d;
        while (p < end && blank_q(*p)) ++p;
        Bytes from = p;
        while (p < end && *p != ',' && !blank_q(*p)) ++p;
        if (p == from) fail(s, open, end + 1, TypeId::point2d);
        if (std::find(from, p, '#') != p) {
            if (!point_special_q(from, p, c[n])) fail(s, open, end + 1, t);
        } else {
            if (!float_syntax_q(from, p)) fail(s, open, end + 1, t);
            if (build) c[n] = parse_float(from, p, 0);
        }
        ++n;
        while (p < end && blank_q(*p)) ++p;
        if (p >= end) break;  // at the ")"
        if (*p != ',' || n == 3) fail(s, open, end + 1, t);
        ++p;
    }
    if (n < 2) fail(s, open, end + 1, TypeId::point2d);
    const TypeId t = n == 2 ? TypeId::point2d : TypeId::point3d;
    s.type = tint(t);
    if (build) {
        Cell value{};
        value.reset(t);
        for (int i = 0; i < n; ++i) value.set_point_coord(i, static_cast<float>(c[i]));
        push(s, value);
    }
    s.pos = end + 1;  // the ")"
}

void load_issue(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    load_word(s, start, end, TypeId::issue, build);
}

void load_refinement(State& s, Bytes start, Bytes end, std::uint32_t, bool build) {
    s.type = tint(TypeId::refinement);
    load_word(s, start, end, TypeId::refinement, build);
}

}  // namespace

bool decode_text(Bytes start, Bytes end, bool escapes, TypeId t, Cell* out, bool ascii) {
    if (ascii && out != nullptr && ascii_text(start, end, escapes, t, *out)) return true;
    if (ascii && out == nullptr && !escapes) return true;
    if (!decode_points(start, end, escapes, points)) return false;
    if (out != nullptr) make_text(points, t, *out);
    return true;
}

namespace {

std::int32_t cached_symbols = 0;  // the symbols there were when the cache was last checked

symbol::SymbolId make_symbol(Bytes name, std::int32_t length) {
    return symbol::make_from_utf8(reinterpret_cast<const char*>(name), length);
}

}  // namespace

void new_word(CachedWord& slot, Bytes name, std::int32_t length, TypeId t, Cell& out) {
    Cell w{};
    word::make_at(make_symbol(name, length), w);
    out.reset(t);
    out.set_word(w.word_context(), w.word_symbol(), w.word_index());
    if (length < static_cast<std::int32_t>(sizeof slot.name)) {
        if (slot.length != 0) word_cache[static_cast<std::size_t>(&slot - word_cache.data()) ^ 1] = slot;
        slot.length = static_cast<std::uint8_t>(length);
        std::memcpy(slot.name, name, static_cast<std::size_t>(length));
        slot.symbol = w.word_symbol();
        slot.index = w.word_index();
    }
}

void reset_word_cache() {
    if (cached_context == context::global() && cached_symbols <= symbol::count()) {
        cached_symbols = symbol::count();
        return;
    }
    word_cache.fill(CachedWord{});
    cached_context = context::global();
    cached_symbols = symbol::count();
}

void load_word(State& s, Bytes start, Bytes end, TypeId t, bool build, bool ascii) {
    Bytes name = start;
    Bytes name_end = end;
    switch (t) {
    case TypeId::get_word: case TypeId::lit_word: case TypeId::refinement: case TypeId::issue:
        ++name;
        break;
    case TypeId::set_word:
        --name_end;
        break;
    default:
        break;
    }
    if (name >= name_end) fail(s, start, end, t);
    for (Bytes p = ascii ? name_end : name; p < name_end;) {
        if (*p < 0x80) {  // ASCII is always well formed: nothing to decode
            ++p;
            continue;
        }
        std::int32_t cp = 0;
        p = unicode::decode_utf8_char(p, name_end, &cp);
        if (cp < 0) fail(s, start, end, t == TypeId::issue ? TypeId::issue : TypeId::word);
    }
    s.pos = end;
    if (!build) return;
    Cell value{};
    if (t == TypeId::issue) {
        value.reset(t);
        value.set_word(context::global(), make_symbol(name, i32(name_end - name)), -1);
    } else {
        word_of(name, i32(name_end - name), t, value);
    }
    push(s, value);
}

Loader loader_of(TokenClass token_class) {
    switch (token_class) {
    case TokenClass::string: return load_string;
    case TokenClass::issue: return load_issue;
    case TokenClass::integer: return load_integer;
    case TokenClass::refinement: return load_refinement;
    case TokenClass::char_: return load_char;
    case TokenClass::file: return load_file;
    case TokenClass::binary: return load_binary;
    case TokenClass::percent: return load_percent;
    case TokenClass::float_: return load_float;
    case TokenClass::special_float: return load_special_float;
    case TokenClass::tuple: return load_tuple;
    case TokenClass::date: return load_date;
    case TokenClass::pair: return load_pair;
    case TokenClass::point: return load_point;
    case TokenClass::time: return load_time;
    case TokenClass::money: return load_money;
    case TokenClass::tag: return load_tag;
    case TokenClass::url: return load_url;
    case TokenClass::email: return load_email;
    case TokenClass::hex_integer: return load_hex;
    case TokenClass::raw_string: return load_raw_string;
    case TokenClass::ref: return load_ref;
    default: return load_string;
    }
}

// --- Text to number ---------------------------------------------------------------------

namespace {
// The units of a text as ASCII bytes; a unit above 127 becomes 0xFF (never valid).
std::vector<std::uint8_t> narrow(const std::uint8_t* text, std::uint32_t unit, std::int32_t count) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(std::max(0, count)));
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t cp = string::get_char(text + static_cast<std::size_t>(i) * unit, unit);
        out[static_cast<std::size_t>(i)] = cp < 128 ? static_cast<std::uint8_t>(cp) : 0xFF;
    }
    return out;
}
}  // namespace

std::int32_t string_to_integer(const std::uint8_t* text, std::uint32_t unit, std::int32_t count,
                               std::int32_t& error) {
    const std::vector<std::uint8_t> t = narrow(text, unit, count);
    Bytes p = t.data();
    Bytes end = p + t.size();
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::int64_t v = 0;
    error = 0;
    bool any = false;
    for (; p < end; ++p) {
        if (*p == '\'') continue;
        if (!digit_q(*p)) { error = -1; break; }
        any = true;
        v = v * 10 + (*p - '0');
        if (v > 2147483648LL) { error = -2; return 0; }
    }
    if (!any && error == 0) error = -1;
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max()) { error = -2; return 0; }
    return static_cast<std::int32_t>(v);
}

double string_to_float(const std::uint8_t* text, std::int32_t count, std::uint32_t unit,
                       std::int32_t& error) {
    error = 0;
    std::vector<std::uint8_t> t = narrow(text, unit, count);
    for (auto& b : t) if (b == ',') b = '.';
    if (!float_syntax_q(t.data(), t.data() + t.size())) {
        error = -1;
        return std::numeric_limits<double>::quiet_NaN();
    }
    return parse_float(t.data(), t.data() + t.size(), 0);
}

bool string_to_money(const std::uint8_t* text, std::int32_t count, std::uint32_t unit, Cell& out) {
    const std::vector<std::uint8_t> t = narrow(text, unit, count);
    return read_money(t.data(), t.data() + t.size(), false, &out);
}

}  // namespace kiv::lexer
