// binary! handlers: to, form and mold, compare, append/insert, change, trim,
// and~ or~ xor~ and complement, with thin wrappers that let string!'s find,
// select, sort, swap and take read bytes. Values become bytes in two passes,
// measure then write, so every error is raised before a byte moves.
#include "runtime/datatypes/binary.h"

#include "runtime/core/assert.h"
#include "runtime/codecs/base_n.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kiv::binary {
namespace {

SeriesBuffer* buf_of(const Cell& v) { return memory::buffer(v.series_node()); }

std::int32_t used(const Cell& v) { return buf_of(v)->used_bytes(); }

std::int32_t head_of(const Cell& v) { return std::clamp(v.series_head(), 0, used(v)); }

Cell bin_cell(NodeId node, std::int32_t head) {
    Cell c{};
    c.reset(TypeId::binary);
    c.set_series_node(node);
    c.set_series_head(head);
    return c;
}

[[noreturn]] void no_memory() { runtime::raise_error(ErrorCategory::internal, "no-memory"); }

[[noreturn]] void bad_to_arg(const Cell& value) {
    Cell t{};
    t.reset(TypeId::datatype);
    t.set_datatype_id(TypeId::binary);
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &t, &value);
}

[[noreturn]] void invalid_arg(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &value);
}

// Makes node's buffer hold at least n bytes in all, growing to twice its size
// when that is enough. Answers the buffer.
SeriesBuffer* reserve(NodeId node, std::int64_t n) {
    SeriesBuffer* b = memory::buffer(node);
    if (n > max_bytes) no_memory();
    if (b->head + n <= b->data_end()) return b;
    const std::int64_t twice = static_cast<std::int64_t>(b->size) * 2;
    return memory::copy_series(b, static_cast<std::int32_t>(std::min(std::max(n, twice), max_bytes)));
}

bool notify(const Cell& series, const Cell& action, const Cell* value, std::int32_t index, std::int32_t part) {
    if ((buf_of(series)->flags & memory::flag_owned) == 0) return false;
    return ownership::check_owner(series, action, value, index, part);
}
bool notify(const Cell& series, words::Word w, const Cell* value, std::int32_t index, std::int32_t part) {
    return notify(series, words::word(w), value, index, part);
}

// --- Values as bytes ------------------------------------------------------------------

// What happens to a value that has no bytes of its own.
enum class Others { refuse, form };

bool text_like(TypeId t) { return is_any_string_type(t); }

// Units of a text from its head, at most part (part < 0: all).
std::int32_t text_span(const Cell& text, std::int32_t part) {
    const SeriesBuffer* b = buf_of(text);
    const std::int32_t units = b->used_bytes() / static_cast<std::int32_t>(b->unit());
    const std::int32_t n = units - std::clamp(text.series_head(), 0, units);
    return part >= 0 ? std::min(n, part) : n;
}

const std::uint8_t* text_head(const Cell& text) {
    const SeriesBuffer* b = buf_of(text);
    const std::int32_t units = b->used_bytes() / static_cast<std::int32_t>(b->unit());
    return b->head + static_cast<std::ptrdiff_t>(std::clamp(text.series_head(), 0, units)) * b->unit();
}

std::int64_t capped(std::int64_t n, std::int32_t part) { return part >= 0 ? std::min<std::int64_t>(n, part) : n; }

// The bytes value adds (part: a cap on one value's bytes, or on a block's
// values). Raises for a value that cannot be bytes.
std::int64_t measure(const Cell& value, std::int32_t part, Others others) {
    switch (value.type()) {
    case TypeId::char_: return capped(unicode::utf8_char_size(static_cast<std::int32_t>(value.char_value())), part);
    case TypeId::integer:
        if (value.int_value() < -128 || value.int_value() > 255) invalid_arg(value);
        return 1;
    case TypeId::binary: return capped(used(value) - head_of(value), part);
    case TypeId::tuple: return capped(value.tuple_length(), part);
    case TypeId::block: case TypeId::paren: case TypeId::hash: {
        if (cycles::find(value.series_node())) bad_to_arg(value);  // a block inside itself has no end
        cycles::Guard guard(value.series_node());
        const std::int32_t n = block::count_from_head(value);
        const std::int32_t h = std::max(value.series_head(), 0);
        std::int64_t total = 0;
        for (std::int32_t i = 0; i < n && (part < 0 || i < part); ++i) {
            total += measure(*block::get_cell(value, h + i), -1, others);
            if (total > max_bytes) no_memory();
        }
        return total;
    }
    default:
        if (text_like(value.type())) {
            const SeriesBuffer* b = buf_of(value);
            const std::uint8_t* p = text_head(value);
            return unicode::utf8_size_of_range(p, p + static_cast<std::ptrdiff_t>(text_span(value, part)) * b->unit(),
                                               b->unit());
        }
        if (others == Others::refuse) bad_to_arg(value);
        KIV_ASSERT(false, "formed values are texts before they are measured");
        return 0;
    }
}

// Writes the bytes that measure counted at dst; returns their number.
std::int64_t write(const Cell& value, std::int32_t part, std::uint8_t* dst) {
    switch (value.type()) {
    case TypeId::char_: {
        std::uint8_t bytes[4];
        const int n = unicode::encode_utf8_char(value.char_value(), bytes);
        const auto k = static_cast<std::size_t>(capped(n, part));
        std::memcpy(dst, bytes, k);
        return static_cast<std::int64_t>(k);
    }
    case TypeId::integer: *dst = static_cast<std::uint8_t>(value.int_value()); return 1;
    case TypeId::binary: {
        const std::int64_t n = capped(used(value) - head_of(value), part);
        std::memmove(dst, buf_of(value)->head + head_of(value), static_cast<std::size_t>(n));
        return n;
    }
    case TypeId::tuple: {
        const std::int64_t n = capped(value.tuple_length(), part);
        std::memcpy(dst, value.tuple_bytes(), static_cast<std::size_t>(n));
        return n;
    }
    case TypeId::block: case TypeId::paren: case TypeId::hash: {
        const std::int32_t n = block::count_from_head(value);
        const std::int32_t h = std::max(value.series_head(), 0);
        std::int64_t total = 0;
        for (std::int32_t i = 0; i < n && (part < 0 || i < part); ++i)
            total += write(*block::get_cell(value, h + i), -1, dst + total);
        return total;
    }
    default: {
        const SeriesBuffer* b = buf_of(value);
        return unicode::encode_units_utf8(text_head(value), text_span(value, part), b->unit(), dst, false);
    }
    }
}

// True when the value (or, for a block, any value inside it) has no bytes
// of its own and change must write its formed text instead.
bool needs_form(const Cell& value) {
    const TypeId t = value.type();
    if (t == TypeId::block || t == TypeId::paren || t == TypeId::hash) {
        if (cycles::find(value.series_node())) return false;  // measure refuses it
        cycles::Guard guard(value.series_node());
        const std::int32_t n = block::count_from_head(value);
        const std::int32_t h = std::max(value.series_head(), 0);
        for (std::int32_t i = 0; i < n; ++i)
            if (needs_form(*block::get_cell(value, h + i))) return true;
        return false;
    }
    return !(t == TypeId::char_ || t == TypeId::integer || t == TypeId::binary || t == TypeId::tuple ||
             text_like(t));
}

// The bytes of value in a vector (for writes whose target may be the source).
std::vector<std::uint8_t> bytes_of(const Cell& value, std::int32_t part, Others others) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(measure(value, part, others)));
    if (!out.empty()) write(value, part, out.data());
    return out;
}

// Repeats the run [p, p + n) until count runs stand, by doubling copies.
void repeat_run(std::uint8_t* p, std::int64_t n, std::int64_t count) {
    const std::int64_t total = n * count;
    for (std::int64_t done = n; done < total;) {
        const std::int64_t k = std::min(done, total - done);
        std::memcpy(p + done, p, static_cast<std::size_t>(k));
        done += k;
    }
}

// --- Molding -------------------------------------------------------------------------

void indent_line(std::string& s, std::int32_t level) {
    s += '\n';
    s.append(static_cast<std::size_t>(std::max(level, 0)) * 4, ' ');
}

// The #{...} text of n bytes at p; a budget (limited) stops the bytes once
// fewer than 3 characters of it remain.
std::string mold_text(const std::uint8_t* p, std::int32_t n, MoldOptions options, bool limited,
                      std::int32_t budget, std::int32_t level) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(static_cast<std::size_t>(n) * 2 + static_cast<std::size_t>(n / 32 + 2) * (level + 2) * 4 + 4);
    if (!options.only) s += "#{";
    const bool lines = n > 30 && !options.flat;
    if (lines) indent_line(s, level + 1);
    for (std::int32_t i = 0; i < n; ++i) {
        s += hex[p[i] >> 4];
        s += hex[p[i] & 15];
        if (limited && budget - static_cast<std::int32_t>(s.size()) < 3) return s;
        if (lines && (i + 1) % 32 == 0) indent_line(s, i + 1 == n ? level : level + 1);  // the brace closes outside
    }
    if (lines && n % 32 != 0) indent_line(s, level);
    if (!options.only) s += '}';
    return s;
}

// --- Handlers, in action order ----------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, TypeId) {
    const Cell value = *spec;
    Cell c{};
    switch (value.type()) {
    case TypeId::issue: from_issue(value, c); break;
    case TypeId::integer: {
        make_at(c, 4);
        append_int32_be(value.int_value(), c.series_node());
        break;
    }
    case TypeId::float_: case TypeId::percent: {
        make_at(c, 8);
        append_int32_be(static_cast<std::int32_t>(value.f64_high()), c.series_node());
        append_int32_be(static_cast<std::int32_t>(value.f64_low()), c.series_node());
        break;
    }
    case TypeId::bitset: {
        const SeriesBuffer* b = buf_of(value);
        make_from_bytes(c, b->head, b->used_bytes());
        break;
    }
    case TypeId::char_: case TypeId::binary: case TypeId::tuple: case TypeId::block: case TypeId::paren:
    case TypeId::hash: case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::tag:
    case TypeId::email: case TypeId::ref: {
        const std::int64_t n = measure(value, -1, Others::refuse);
        make_at(c, static_cast<std::int32_t>(std::max<std::int64_t>(n, 16)));
        SeriesBuffer* b = buf_of(c);
        write(value, -1, b->head);
        b->tail = b->head + n;
        break;
    }
    case TypeId::image: image::stored_bytes(c, value); break;
    default: bad_to_arg(value);
    }
    *proto = c;
    return proto;
}

Cell* make(Cell* proto, Cell* spec, TypeId type) {
    if (spec->is(TypeId::integer) || spec->is(TypeId::float_)) {
        const std::int32_t room = integer::from_number(*spec);
        if (room < 0) runtime::raise_error(ErrorCategory::script, "out-of-range", spec);
        Cell c{};
        make_at(c, room);
        *proto = c;
        return proto;
    }
    return to(proto, spec, type);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg, std::int32_t part,
                  std::int32_t indent) {
    const Cell v = *value;
    const std::string s = mold_text(buf_of(v)->head + head_of(v), used(v) - head_of(v), options,
                                    arg != nullptr, part, indent);
    string::append_bytes(out, reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<std::int32_t>(s.size()));
    return part - static_cast<std::int32_t>(s.size());
}

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    return mold(value, out, MoldOptions{}, arg, part, 0);
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::binary)) return not_comparable;
    const Cell a = *value1, b = *value2;
    const bool same_place = a.series_node() == b.series_node() && a.series_head() == b.series_head();
    if (op == CompareOp::same) return same_place ? 0 : -1;
    if (same_place && is_equality(op)) return 0;
    const std::int32_t len1 = used(a) - head_of(a), len2 = used(b) - head_of(b);
    if (len1 != len2 && is_equality(op)) return 1;
    const int c = std::memcmp(buf_of(a)->head + head_of(a), buf_of(b)->head + head_of(b),
                              static_cast<std::size_t>(std::min(len1, len2)));
    if (c != 0) return c < 0 ? -1 : 1;
    return len1 < len2 ? -1 : len1 > len2 ? 1 : 0;
}

// The rest of the bitwise maths: a and b from their heads into a new binary
// of the longer length, which replaces value1.
template <typename Op>
Cell* bitwise(Cell* value1, Cell* value2, bool keep_rest, Op op) {
    if (!value2->is(TypeId::binary)) invalid_arg(*value2);
    const Cell a = *value1, b = *value2;
    const std::int32_t la = used(a) - head_of(a), lb = used(b) - head_of(b);
    const std::int32_t n = std::max(la, lb);
    Cell c{};
    make_at(c, n);
    SeriesBuffer* r = buf_of(c);
    const std::uint8_t* pa = buf_of(a)->head + head_of(a);
    const std::uint8_t* pb = buf_of(b)->head + head_of(b);
    const std::int32_t common = std::min(la, lb);
    for (std::int32_t i = 0; i < common; ++i) r->head[i] = op(pa[i], pb[i]);
    const std::uint8_t* longer = la > lb ? pa : pb;
    for (std::int32_t i = common; i < n; ++i) r->head[i] = keep_rest ? longer[i] : 0;
    r->tail = r->head + n;
    *value1 = c;
    return value1;
}

Cell* and_(Cell* value1, Cell* value2) {
    return bitwise(value1, value2, false, [](std::uint8_t x, std::uint8_t y) { return static_cast<std::uint8_t>(x & y); });
}
Cell* or_(Cell* value1, Cell* value2) {
    return bitwise(value1, value2, true, [](std::uint8_t x, std::uint8_t y) { return static_cast<std::uint8_t>(x | y); });
}
Cell* xor_(Cell* value1, Cell* value2) {
    return bitwise(value1, value2, true, [](std::uint8_t x, std::uint8_t y) { return static_cast<std::uint8_t>(x ^ y); });
}

Cell* complement(Cell* value) {
    SeriesBuffer* b = buf_of(*value);
    for (std::uint8_t* p = b->head + head_of(*value); p < b->tail; ++p) *p = static_cast<std::uint8_t>(~*p);
    return value;
}

// The bytes count runs of value take, checked against the largest binary.
std::int64_t run_bytes(std::int64_t measured, std::int32_t count, std::int64_t already) {
    const std::int64_t runs = std::max(count, 0);
    if (measured > 0 && runs > (max_bytes - already) / measured) no_memory();
    return measured * runs;
}

Cell* insert_value(Cell* series, Cell* value, std::int32_t part, std::int32_t count, bool append) {
    const Cell s = *series;
    const Cell v = *value;
    const NodeId node = s.series_node();
    std::int32_t h = head_of(s);
    const bool at_tail = append || h >= used(s);
    const bool told = notify(s, words::Word::append, &v, h, part);
    const std::int64_t measured = measure(v, part, Others::refuse);
    if (measured > 0 && count > 0) {
        const std::int32_t before = used(s);
        const std::int64_t added = run_bytes(measured, count, before);
        if (at_tail) {
            SeriesBuffer* b = reserve(node, before + added);
            write(v, part, b->head + before);  // reads the source where it stands: the tail has not moved
            repeat_run(b->head + before, measured, added / measured);
            b->tail = b->head + before + added;
        } else {
            const std::vector<std::uint8_t> bytes = bytes_of(v, part, Others::refuse);  // the source may be this binary
            SeriesBuffer* b = reserve(node, before + added);
            std::memmove(b->head + h + added, b->head + h, static_cast<std::size_t>(before - h));
            std::memcpy(b->head + h, bytes.data(), bytes.size());
            repeat_run(b->head + h, measured, added / measured);
            b->tail = b->head + before + added;
            h += static_cast<std::int32_t>(added);
        }
    }
    if (told) notify(s, words::Word::appended, &v, h, part);
    series->set_series_head(append ? 0 : at_tail ? used(s) : h);
    return series;
}

Cell* append(Cell* series, Cell* value, std::int32_t part, bool, std::int32_t count) {
    return insert_value(series, value, part, count, true);
}

Cell* insert(Cell* series, Cell* value, std::int32_t part, bool, std::int32_t count) {
    return insert_value(series, value, part, count, false);
}

Cell* change(Cell* series, Cell* value, std::int32_t part, bool, std::int32_t count) {
    const Cell s = *series;
    Cell v = *value;
    const NodeId node = s.series_node();
    const std::int32_t h = head_of(s);
    const std::int32_t left = used(s) - h;
    Cell text{};
    collector::Root hold(text);
    if (needs_form(v)) {  // change writes the text of what has no bytes
        string::make_at(hold.cell(), 16);
        const auto form_handler = registry::handler<Action::form>(v.type());
        form_handler(&v, hold.cell().series_node(), nullptr, INT32_MAX);
        v = hold.cell();
    }
    const std::vector<std::uint8_t> bytes = bytes_of(v, -1, Others::refuse);
    const auto measured = static_cast<std::int64_t>(bytes.size());
    const std::int64_t added = run_bytes(measured, std::max(count, 0), used(s));
    const std::int32_t replaced =
        part >= 0 ? std::min(part, left) : static_cast<std::int32_t>(std::min<std::int64_t>(added, left));
    if (used(s) - replaced + added > max_bytes) no_memory();
    const bool told = notify(s, words::Word::change, value, h, replaced);
    const std::int32_t before = used(s);
    SeriesBuffer* b = reserve(node, before - replaced + added);
    std::memmove(b->head + h + added, b->head + h + replaced, static_cast<std::size_t>(before - h - replaced));
    if (added > 0) {
        std::memcpy(b->head + h, bytes.data(), bytes.size());
        repeat_run(b->head + h, measured, added / measured);
    }
    b->tail = b->head + before - replaced + added;
    if (told) notify(s, words::Word::changed, value, h, replaced);
    series->set_series_head(static_cast<std::int32_t>(std::min<std::int64_t>(h + added, used(s))));
    return series;
}

// find, select and sort see a text pattern as its UTF-8 bytes and an integer
// as one byte, and compare bytes exactly.
Cell* find_bytes(Cell* series, Cell* value, const FindRefinements& refinements, bool select) {
    FindRefinements r = refinements;
    r.case_ = true;
    Cell pattern = *value;
    collector::Root hold(pattern);
    if (text_like(pattern.type()) || pattern.is(TypeId::integer)) {
        if (pattern.is(TypeId::integer) && (pattern.int_value() < 0 || pattern.int_value() > 255)) {
            *series = Cell::fresh(TypeId::none);
            return series;
        }
        if (pattern.is(TypeId::integer)) {
            const auto byte = static_cast<std::uint8_t>(pattern.int_value());
            make_from_bytes(hold.cell(), &byte, 1);
        } else {
            to(&hold.cell(), value, TypeId::binary);
        }
    }
    Cell* result = select ? string::select(series, &hold.cell(), r) : string::find(series, &hold.cell(), r);
    if (result->is(TypeId::char_)) {  // select answers the next unit: a byte
        const auto byte = static_cast<std::int32_t>(result->char_value());
        result->reset(TypeId::integer);
        result->set_int(byte);
    }
    return result;
}

Cell* find(Cell* series, Cell* value, const FindRefinements& refinements) {
    return find_bytes(series, value, refinements, false);
}

Cell* select(Cell* series, Cell* value, const FindRefinements& refinements) {
    return find_bytes(series, value, refinements, true);
}

Cell* sort(Cell* series, const SortRefinements& how) {
    SortRefinements h = how;
    h.case_ = true;  // bytes, not letters
    return string::sort(series, h);
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* result = string::take(series, part, deep, last);
    if (part == nullptr && result->is(TypeId::binary) && used(*result) == 1) {
        const std::int32_t byte = buf_of(*result)->head[0];
        result->reset(TypeId::integer);
        result->set_int(byte);
    }
    return result;
}

Cell* trim(Cell* series, const TrimRefinements& how) {
    const Cell s = *series;
    if (how.with == nullptr && !how.all && (how.auto_ || how.lines))
        runtime::raise_error(ErrorCategory::internal, "not-done");
    Cell with{};
    if (how.with != nullptr) with = *how.with;
    const bool told = notify(s, words::Word::trim, nullptr, head_of(s), 0);
    Cell target = s;
    if (how.with != nullptr) {
        string::trim_with(target, &with);
    } else {
        SeriesBuffer* b = buf_of(s);
        const std::int32_t h = head_of(s);
        std::uint8_t* p = b->head + h;
        std::int32_t n = b->used_bytes() - h;
        if (how.all) {
            n = static_cast<std::int32_t>(std::remove(p, p + n, std::uint8_t{0}) - p);
        } else {
            std::int32_t first = 0;
            if (!(how.tail && !how.head))
                while (first < n && p[first] == 0) ++first;
            if (!(how.head && !how.tail))
                while (n > first && p[n - 1] == 0) --n;
            std::memmove(p, p + first, static_cast<std::size_t>(n - first));
            n -= first;
        }
        b->tail = p + n;
    }
    if (told) notify(s, words::Word::trimmed, nullptr, head_of(s), 0);
    return series;
}

constexpr registry::Registration registration{TypeId::binary, registry::table({
        {Action::make,       make},
        {Action::to,         to},
        {Action::form,       form},
        {Action::mold,       mold},
        {Action::compare,    compare},
        {Action::and_,       and_},
        {Action::complement, complement},
        {Action::or_,        or_},
        {Action::xor_,       xor_},
        {Action::append,     append},
        {Action::change,     change},
        {Action::find,       find},
        {Action::insert,     insert},
        {Action::select,     select},
        {Action::sort,       sort},
        {Action::take,       take},
        {Action::trim,       trim},
    })};

}  // namespace

void make_at(Cell& cell, std::int32_t room) {
    const NodeId node = memory::alloc_series(std::max(room, 1), 1, 0);
    cell = bin_cell(node, 0);
}

void make_from_bytes(Cell& cell, const std::uint8_t* bytes, std::int32_t n) {
    make_at(cell, n);
    SeriesBuffer* b = buf_of(cell);
    if (n > 0) std::memcpy(b->head, bytes, static_cast<std::size_t>(n));
    b->tail = b->head + std::max(n, 0);
}

std::uint8_t* append_bytes(NodeId node, const std::uint8_t* bytes, std::int32_t n) {
    const std::int32_t before = memory::buffer(node)->used_bytes();
    SeriesBuffer* b = reserve(node, static_cast<std::int64_t>(before) + n);
    std::uint8_t* at = b->head + before;
    if (bytes != nullptr && n > 0) std::memcpy(at, bytes, static_cast<std::size_t>(n));
    b->tail = at + n;
    return at;
}

void append_int32_be(std::int32_t v, NodeId node) {
    const auto u = static_cast<std::uint32_t>(v);
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16),
                                   static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
    append_bytes(node, bytes, 4);
}

std::uint8_t* head_pointer(Cell& bin) {
    const std::int32_t h = head_of(bin);
    if (bin.series_head() != h && bin.series_head() > 0) bin.set_series_head(h);
    return buf_of(bin)->head + h;
}

std::int32_t length_from_head(Cell& bin) { return used(bin) - head_of(bin); }

void from_issue(const Cell& issue, Cell& result) {
    const std::string_view name = symbol::name(issue.word_symbol());
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(base_n::decoded_room(16, static_cast<std::int64_t>(name.size()))) + 1);
    const std::int64_t n = base_n::decode(16, reinterpret_cast<const std::uint8_t*>(name.data()),
                                          static_cast<std::int64_t>(name.size()), 1, bytes.data());
    if (n < 0) runtime::raise_error(ErrorCategory::script, "invalid-data", &issue);
    make_from_bytes(result, bytes.data(), static_cast<std::int32_t>(n));
}

void init() { registry::register_type(registration); }

}  // namespace kiv::binary
