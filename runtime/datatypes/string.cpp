// Text buffers: unit access, widening and the append, store, insert and
// concatenate writers. Buffers are reached through their node again after any
// call that may grow or widen them; a raw pointer never survives one.
#include "runtime/datatypes/string.h"

#include "runtime/core/assert.h"
#include "runtime/core/buffer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/core/runtime_error.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kiv::string {
namespace {

[[noreturn]] void bad_unit() {
    runtime::report_runtime_error(runtime::error_no_switch, KIV_CALLER_ADDRESS());
}

void put_char(std::uint8_t* p, std::uint32_t unit, std::uint32_t cp) {
    switch (unit) {
    case 1: *p = static_cast<std::uint8_t>(cp); break;
    case 2: {
        const std::uint16_t u = static_cast<std::uint16_t>(cp);
        std::memcpy(p, &u, 2);  // little-endian host: low byte first
        break;
    }
    case 4: std::memcpy(p, &cp, 4); break;
    default: bad_unit();
    }
}

// Unit that rule B (store at a position) needs for cp in a buffer of unit.
std::uint32_t unit_to_store(std::uint32_t unit, std::uint32_t cp) {
    if (cp > 0xFFFF) return 4;
    if (cp > 0xFF && unit < 2) return 2;
    return unit;
}

std::int32_t units_of(const SeriesBuffer* buf) {
    return static_cast<std::int32_t>(buf->used_bytes() / static_cast<std::int32_t>(buf->unit()));
}

// Makes room for at least need units from the first unit; returns the buffer.
SeriesBuffer* ensure_units(NodeId node, std::int32_t need) {
    SeriesBuffer* buf = memory::buffer(node);
    const std::int32_t unit = static_cast<std::int32_t>(buf->unit());
    const std::int64_t need_bytes = static_cast<std::int64_t>(need) * unit;
    while (buf->head + need_bytes > buf->data_end()) {
        const std::int64_t grown = std::max<std::int64_t>(need_bytes * 2, buf->size * 2LL);
        buf = memory::copy_series(buf, static_cast<std::int32_t>(std::min<std::int64_t>(grown, 0x7FFFFFF0)));
    }
    return buf;
}

std::int32_t clamped_head(const Cell& text) {
    const std::int32_t len = length_from_start(text);
    return std::clamp(text.series_head(), 0, len);
}

}  // namespace

// --- Accessors ----------------------------------------------------------------------

std::uint32_t get_char(const std::uint8_t* p, std::uint32_t unit) {
    switch (unit) {
    case 1: return *p;
    case 2: { std::uint16_t u; std::memcpy(&u, p, 2); return u; }
    case 4: { std::uint32_t u; std::memcpy(&u, p, 4); return u; }
    default: bad_unit();
    }
}

std::uint8_t* head_pointer(Cell& text) {
    SeriesBuffer* buf = memory::buffer(text.series_node());
    const std::int32_t len = units_of(buf);
    if (text.series_head() > len) text.set_series_head(len);
    const std::int32_t h = std::max(text.series_head(), 0);
    return buf->head + static_cast<std::ptrdiff_t>(h) * buf->unit();
}

std::uint8_t* tail_pointer(const Cell& text) { return memory::buffer(text.series_node())->tail; }

std::int32_t length_from_head(Cell& text) {
    const std::int32_t len = length_from_start(text);
    if (text.series_head() > len) text.set_series_head(len);
    return len - std::max(text.series_head(), 0);
}

std::string utf8_of(const Cell& text) {
    Cell t = text;
    const std::int32_t first = std::max(t.series_head(), 0);
    const std::int32_t end = first + length_from_head(t);
    std::string out;
    std::uint8_t bytes[4];
    for (std::int32_t i = first; i < end; ++i) {
        const int n = unicode::encode_utf8_char(get_char_at_index(t, i), bytes);
        out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
    }
    return out;
}

std::int32_t length_from_start(const Cell& text) { return units_of(memory::buffer(text.series_node())); }

bool at_tail_q(const Cell& text) { return text.series_head() >= length_from_start(text); }

std::uint32_t get_char_at_index(const Cell& text, std::int32_t index) {
    const SeriesBuffer* buf = memory::buffer(text.series_node());
    if (index < 0 || index >= units_of(buf)) return 0;  // never read outside the buffer
    return get_char(buf->head + static_cast<std::ptrdiff_t>(index) * buf->unit(), buf->unit());
}

std::int32_t find_char(Cell& text, std::uint32_t cp) {
    const std::uint8_t* p = head_pointer(text);
    const SeriesBuffer* buf = memory::buffer(text.series_node());
    const std::uint32_t unit = buf->unit();
    for (std::int32_t i = 0; p < buf->tail; p += unit, ++i)
        if (get_char(p, unit) == cp) return i;
    return -1;
}

bool starts_with_nul_text_q(Cell& text, const char* bytes) {
    const std::uint8_t* p = head_pointer(text);
    const SeriesBuffer* buf = memory::buffer(text.series_node());
    const std::uint32_t unit = buf->unit();
    for (; *bytes != '\0'; ++bytes, p += unit) {
        if (p >= buf->tail) return false;
        if (get_char(p, unit) != static_cast<std::uint8_t>(*bytes)) return false;
    }
    return true;
}

// --- Makers -------------------------------------------------------------------------

void make_at(Cell& cell, std::int32_t capacity) { make_at_unit(cell, capacity, 1); }

void make_at_unit(Cell& cell, std::int32_t capacity, std::uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    cell.reset(TypeId::unset);  // the collector sees a valid cell until the buffer exists
    const NodeId node = memory::alloc_series(std::max(capacity, 1), unit, 0);
    cell.set_series_node(node);
    cell.set_type(TypeId::string);
}

void reset(Cell& text) {
    SeriesBuffer* buf = memory::buffer(text.series_node());
    buf->tail = buf->head;
    buf->flags = (buf->flags & ~memory::unit_mask) | 1u;
    text.set_series_head(0);
}

void truncate_buffer(NodeId node, std::int32_t n) {
    SeriesBuffer* buf = memory::buffer(node);
    if (n >= 0 && units_of(buf) > n) buf->tail = buf->head + static_cast<std::ptrdiff_t>(n) * buf->unit();
}

// --- Writers ------------------------------------------------------------------------

void widen_to(NodeId node, std::uint32_t new_unit) {
    SeriesBuffer* buf = memory::buffer(node);
    const std::uint32_t unit = buf->unit();
    if (new_unit <= unit) return;
    if (unit == 1 && new_unit == 2) unicode::widen_1_to_2(buf);
    else if (unit == 1 && new_unit == 4) unicode::widen_1_to_4(buf);
    else if (unit == 2 && new_unit == 4) unicode::widen_2_to_4(buf);
    else bad_unit();
    KIV_ASSERT(memory::buffer(node)->unit() == new_unit, "widening sets the new unit");
}

void append_char(NodeId node, std::uint32_t cp) {
    const std::uint32_t unit = memory::buffer(node)->unit();
    if (unit == 1 && cp > 127) widen_to(node, cp > 0xFFFF ? 4 : 2);
    else if (unit == 2 && cp > 0xFFFF) widen_to(node, 4);
    const std::uint32_t now = memory::buffer(node)->unit();
    std::uint8_t* p = buffer::grow_tail(node, static_cast<std::int32_t>(now));
    put_char(p, now, cp);
}

void append_nul_text(NodeId node, const char* bytes) {
    append_bytes(node, reinterpret_cast<const std::uint8_t*>(bytes), static_cast<std::int32_t>(std::strlen(bytes)));
}

void append_bytes(NodeId node, const std::uint8_t* bytes, std::int32_t n) {
    if (n <= 16 && memory::buffer(node)->unit() == 1) {  // a short run (a number's digits) checked in one pass
        std::uint8_t high = 0;
        for (std::int32_t i = 0; i < n; ++i) high |= bytes[i];
        if (high < 128) {
            if (n > 0) std::memcpy(buffer::grow_tail(node, n), bytes, static_cast<std::size_t>(n));
            return;
        }
    }
    for (std::int32_t i = 0; i < n;) {
        // The run the buffer's unit takes as it is goes in one growth.
        const std::uint32_t unit = memory::buffer(node)->unit();
        std::int32_t end = i;
        if (unit == 1) while (end < n && bytes[end] < 128) ++end;
        else end = n;
        if (end == i) {
            append_char(node, bytes[i++]);  // widens the buffer
            continue;
        }
        std::uint8_t* p = buffer::grow_tail(node, (end - i) * static_cast<std::int32_t>(unit));
        if (unit == 1) std::memcpy(p, bytes + i, static_cast<std::size_t>(end - i));
        else for (std::int32_t k = i; k < end; ++k, p += unit) put_char(p, unit, bytes[k]);
        i = end;
    }
}

void append_utf8(NodeId node, const char* utf8, std::int32_t n) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(utf8);
    const std::uint8_t* end = p + n;
    if (std::all_of(p, end, [](std::uint8_t c) { return c < 128; }))  // ASCII (most names): its bytes are its characters
        return append_bytes(node, p, n);
    while (p < end) {
        std::int32_t cp = 0;
        p = unicode::decode_utf8_char(p, end, &cp);
        append_char(node, cp < 0 ? 0xFFFDu : static_cast<std::uint32_t>(cp));  // runtime text is valid; never drop a character
    }
}

void poke_char(NodeId node, std::int32_t index, std::uint32_t cp) {
    widen_to(node, unit_to_store(memory::buffer(node)->unit(), cp));
    SeriesBuffer* buf = memory::buffer(node);
    KIV_ASSERT(index >= 0 && index < units_of(buf), "poke_char stores over an existing unit");
    put_char(buf->head + static_cast<std::ptrdiff_t>(index) * buf->unit(), buf->unit(), cp);
}

void store_char_at(NodeId node, std::int32_t index, std::uint32_t cp) {
    KIV_ASSERT(index >= 0, "store position");
    widen_to(node, unit_to_store(memory::buffer(node)->unit(), cp));
    SeriesBuffer* buf = ensure_units(node, index + 1);
    const std::uint32_t unit = buf->unit();
    std::uint8_t* p = buf->head + static_cast<std::ptrdiff_t>(index) * unit;
    put_char(p, unit, cp);
    if (p + unit > buf->tail) buf->tail = p + unit;
}

void insert_char_at(NodeId node, std::int32_t index, std::uint32_t cp) {
    widen_to(node, unit_to_store(memory::buffer(node)->unit(), cp));
    const std::uint32_t unit = memory::buffer(node)->unit();
    buffer::grow_tail(node, static_cast<std::int32_t>(unit));
    SeriesBuffer* buf = memory::buffer(node);
    const std::int32_t len = units_of(buf) - 1;
    index = std::clamp(index, 0, len);
    std::uint8_t* p = buf->head + static_cast<std::ptrdiff_t>(index) * unit;
    std::memmove(p + unit, p, static_cast<std::size_t>(len - index) * unit);
    put_char(p, unit, cp);
}

void remove_at(const Cell& text, std::int32_t index, std::int32_t count) {
    SeriesBuffer* buf = memory::buffer(text.series_node());
    const std::int32_t len = units_of(buf);
    if (index < 0 || index >= len || count < 1) return;
    count = std::min(count, len - index);
    const std::uint32_t unit = buf->unit();
    std::uint8_t* p = buf->head + static_cast<std::ptrdiff_t>(index) * unit;
    std::memmove(p, p + static_cast<std::ptrdiff_t>(count) * unit,
                 static_cast<std::size_t>(len - index - count) * unit);
    buf->tail -= static_cast<std::ptrdiff_t>(count) * unit;
}

void remove_char_at(const Cell& text, std::int32_t index) { remove_at(text, index, 1); }

void move_chars(Cell& source, Cell& target, std::int32_t count) {
    count = std::min(count, length_from_head(source));
    const std::int32_t from = clamped_head(source);
    const std::int32_t to = clamped_head(target);
    for (std::int32_t i = 0; i < count; ++i)
        insert_char_at(target.series_node(), to + i, get_char_at_index(source, from + i));
    remove_at(source, from, count);
}

void concatenate(Cell& target, const Cell& source, std::int32_t limit, std::int32_t offset,
                 bool keep_width, ConcatMode mode) {
    Cell src = source;
    if (src.is(TypeId::symbol)) {  // a symbol stands for its name string
        KIV_ASSERT(src.symbol_name_string() != 0, "symbol name string made before use");
        src.reset(TypeId::string);
        src.set_series_node(source.symbol_name_string());
    }
    const NodeId tnode = target.series_node();
    const NodeId snode = src.series_node();
    const std::uint32_t su0 = memory::buffer(snode)->unit();
    const std::uint32_t tu0 = memory::buffer(tnode)->unit();
    if (tu0 < su0) widen_to(tnode, su0);
    else if (su0 < tu0 && !keep_width) widen_to(snode, tu0);

    std::int32_t count = length_from_head(src);
    if (limit >= 0 && limit < count) count = limit;
    if (count <= 0) return;

    const std::int32_t len = length_from_start(target);
    const std::int32_t th = clamped_head(target);
    const std::int32_t pos = mode == ConcatMode::append ? len : std::clamp(th + offset, 0, len);
    const std::int32_t end = mode == ConcatMode::overwrite ? std::max(len, pos + count) : len + count;

    // Copy the source units aside when they share the target's buffer: the
    // growth and the gap below may move them.
    const std::int32_t sh = clamped_head(src);
    std::vector<std::uint8_t> aside;
    const std::uint32_t su = memory::buffer(snode)->unit();
    if (snode == tnode) {
        const SeriesBuffer* b = memory::buffer(snode);
        const std::uint8_t* s = b->head + static_cast<std::ptrdiff_t>(sh) * su;
        aside.assign(s, s + static_cast<std::ptrdiff_t>(count) * su);
    }
    SeriesBuffer* tbuf = ensure_units(tnode, end);
    const std::uint32_t tu = tbuf->unit();
    std::uint8_t* dst = tbuf->head + static_cast<std::ptrdiff_t>(pos) * tu;
    if (mode == ConcatMode::insert)
        std::memmove(dst + static_cast<std::ptrdiff_t>(count) * tu, dst,
                     static_cast<std::size_t>(len - pos) * tu);
    const std::uint8_t* from = aside.empty()
        ? memory::buffer(snode)->head + static_cast<std::ptrdiff_t>(sh) * su
        : aside.data();
    if (su == tu) {
        std::memmove(dst, from, static_cast<std::size_t>(count) * tu);
    } else {
        KIV_ASSERT(su < tu, "the target is at least as wide as the source");
        for (std::int32_t i = 0; i < count; ++i)
            put_char(dst + static_cast<std::ptrdiff_t>(i) * tu, tu,
                     get_char(from + static_cast<std::ptrdiff_t>(i) * su, su));
    }
    tbuf->tail = tbuf->head + static_cast<std::ptrdiff_t>(end) * tu;
}

void overwrite(Cell& target, const Cell& source, std::int32_t limit, std::int32_t offset,
               bool keep_width) {
    concatenate(target, source, limit, offset, keep_width, ConcatMode::overwrite);
}

void rotate_runs(std::uint8_t* p, std::int32_t first, std::int32_t second) {
    std::rotate(p, p + first, p + first + second);
}

// --- Hexadecimal text ---------------------------------------------------------------

const char* byte_to_hex(std::uint8_t byte) {
    static char out[3];
    static constexpr char digits[] = "0123456789ABCDEF";
    out[0] = digits[byte >> 4];
    out[1] = digits[byte & 15];
    out[2] = '\0';
    return out;
}

const char* to_hex(std::int32_t value, bool trim) {
    static char out[9];
    static constexpr char digits[] = "0123456789ABCDEF";
    out[8] = '\0';
    int i = 8;
    std::int32_t v = value;
    do {
        out[--i] = digits[v & 15];
        v >>= 4;  // arithmetic: a negative value ends at -1
    } while (i > 0 && v != 0 && v != -1);
    if (trim) {
        if (value == 0) return "00";
        return out + i;
    }
    while (i > 0) out[--i] = value < 0 ? 'F' : '0';
    return out;
}

// --- Registration -----------------------------------------------------------------------

// The action table lives with the handlers (string_actions.cpp).
void init() { register_actions(); }

}  // namespace kiv::string
