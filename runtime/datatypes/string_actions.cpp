// string! actions: make/to, form, mold, compare, find/select, path steps and
// the in-place changes. Positions are unit indexes re-read from the node after
// anything that may grow, widen or evaluate; a raw buffer pointer never lives
// across such a call. The series! layer supplies navigation and take.
#include "runtime/datatypes/string_actions.h"

#include "runtime/core/assert.h"
#include "runtime/core/buffer.h"
#include "runtime/text/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/services.h"
#include "runtime/core/raise.h"
#include "runtime/core/sorting.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace kiv::string {
namespace {

// Stores cp over unit index of node's buffer, widening the buffer first when
// cp does not fit its unit. Returns the buffer as it now is.
SeriesBuffer* store_unit(NodeId node, std::int32_t index, std::uint32_t cp) {
    SeriesBuffer* buf = memory::buffer(node);
    std::uint32_t unit = buf->unit();
    if (unit == 1 && cp > 0xFF) buf = cp > 0xFFFF ? unicode::widen_1_to_4(buf) : unicode::widen_1_to_2(buf);
    else if (unit == 2 && cp > 0xFFFF) buf = unicode::widen_2_to_4(buf);
    unit = buf->unit();
    unicode::write_unit(buf->head + static_cast<std::size_t>(index) * unit, unit, cp);
    return buf;
}

Cell word_cell(TypeId type, const char* name) {
    Cell c{};
    c.reset(type);
    c.set_word(0, symbol::make(name), -1);
    return c;
}

constexpr std::int64_t max_bytes = 0x7FFFFFF0;  // the largest buffer a 32-bit size holds

// --- Unit access ------------------------------------------------------------------

std::uint32_t unit_of(NodeId node) { return memory::buffer(node)->unit(); }

std::int32_t units(NodeId node) {
    const SeriesBuffer* b = memory::buffer(node);
    return b->used_bytes() / static_cast<std::int32_t>(b->unit());
}

std::uint32_t at(const SeriesBuffer* b, std::int32_t i) {
    return get_char(b->head + static_cast<std::ptrdiff_t>(i) * b->unit(), b->unit());
}

void put(SeriesBuffer* b, std::int32_t i, std::uint32_t cp) {
    std::uint8_t* p = b->head + static_cast<std::ptrdiff_t>(i) * b->unit();
    switch (b->unit()) {
    case 1: *p = static_cast<std::uint8_t>(cp); break;
    case 2: { const auto u = static_cast<std::uint16_t>(cp); std::memcpy(p, &u, 2); break; }
    default: std::memcpy(p, &cp, 4); break;
    }
}

std::int32_t head_of(const Cell& t) { return std::clamp(t.series_head(), 0, units(t.series_node())); }

std::uint32_t upper(std::uint32_t cp) { return case_folding::fold_char(cp, true); }

// The unit that holds cp when stored at a position.
std::uint32_t unit_for(std::uint32_t cp) { return cp > 0xFFFF ? 4 : cp > 0xFF ? 2 : 1; }

// The code points of count units from unit index from.
std::vector<std::uint32_t> read_units(NodeId node, std::int32_t from, std::int32_t count) {
    const SeriesBuffer* b = memory::buffer(node);
    std::vector<std::uint32_t> out(static_cast<std::size_t>(std::max(count, 0)));
    for (std::int32_t i = 0; i < count; ++i) out[static_cast<std::size_t>(i)] = at(b, from + i);
    return out;
}

Cell text_cell(NodeId node, TypeId type, std::int32_t head) {
    Cell c{};
    c.reset(type);
    c.set_series_node(node);
    c.set_series_head(head);
    return c;
}

Cell int_cell(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}

[[noreturn]] void invalid_refine_arg(words::Ref r, const Cell& value) {
    const Cell ref = words::refinement(r);
    runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, &value);
}

[[noreturn]] void invalid_arg(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &value);
}

// Replaces removed units at pos of node's text by dup copies of src; widens,
// grows and checks the size before anything moves.
void splice(NodeId node, std::int32_t pos, std::int32_t removed, const std::vector<std::uint32_t>& src,
            std::int32_t dup) {
    std::uint32_t need = 1;
    for (const std::uint32_t cp : src) need = std::max(need, unit_for(cp));
    const std::int32_t len = units(node);
    KIV_ASSERT(pos >= 0 && pos + removed <= len, "splice range inside the text");
    const std::int64_t new_len = len - removed + static_cast<std::int64_t>(src.size()) * dup;
    if (new_len * std::max<std::uint32_t>(need, unit_of(node)) > max_bytes)
        runtime::raise_error(ErrorCategory::internal, "no-memory");
    widen_to(node, need);
    SeriesBuffer* b = memory::buffer(node);
    const std::int64_t unit = b->unit();
    const std::int64_t bytes = new_len * unit;
    while (b->head + bytes > b->data_end())
        b = memory::copy_series(b, static_cast<std::int32_t>(
                                       std::min<std::int64_t>(std::max<std::int64_t>(bytes + bytes / 2, b->size * 2LL), max_bytes)));
    const std::int32_t added = static_cast<std::int32_t>(src.size()) * dup;
    std::memmove(b->head + (pos + added) * unit, b->head + (pos + removed) * unit,
                 static_cast<std::size_t>((len - pos - removed) * unit));
    b->tail = b->head + bytes;
    std::int32_t i = pos;
    for (const std::uint32_t cp : src) put(b, i++, cp);
    const std::size_t once = src.size() * static_cast<std::size_t>(unit);
    std::uint8_t* first = b->head + pos * unit;
    for (std::int32_t d = 1; d < dup; ++d) std::memcpy(first + d * once, first, once);
}

// Tells the series' owner about a change; true when one was told.
bool notify(const Cell& series, const Cell& action, const Cell* value, std::int32_t index,
            std::int32_t part) {
    if ((memory::buffer(series.series_node())->flags & memory::flag_owned) == 0) return false;
    return ownership::check_owner(series, action, value, index, part);
}
bool notify(const Cell& series, words::Word w, const Cell* value, std::int32_t index, std::int32_t part) {
    return notify(series, words::word(w), value, index, part);
}

// Appends value's form to the text of out within budget; returns the budget left.
std::int32_t form_into(const Cell& value, NodeId out, std::int32_t budget) {
    Cell v = value;
    auto form_handler = registry::handler<Action::form>(v.type());
    KIV_ASSERT(form_handler != nullptr, "every datatype forms");
    return form_handler(&v, out, nullptr, budget);
}

// A temporary string! held for the collector while code runs.
struct TempText {
    Cell cell{};
    collector::Root root;
    explicit TempText(std::int32_t room) : root(made(cell, room)) {}
    NodeId node() const { return root.cell().series_node(); }
    static const Cell& made(Cell& c, std::int32_t room) {
        make_at(c, room);
        return c;
    }
};

// The code points that append, insert and change add for value: a text from
// its head (at most part units; a tag! within "<" ">"), a char!, or forms.
std::vector<std::uint32_t> new_units(const Cell& value, std::int32_t part, bool only) {
    const TypeId t = value.type();
    if (t == TypeId::char_) return part == 0 ? std::vector<std::uint32_t>{} : std::vector<std::uint32_t>{value.char_value()};
    if (is_any_string_type(t)) {
        const std::int32_t h = head_of(value);
        std::int32_t n = units(value.series_node()) - h;
        std::vector<std::uint32_t> out;
        if (t == TypeId::tag) {
            const std::int64_t budget = part < 0 ? INT64_MAX : part;
            out.push_back('<');
            const std::vector<std::uint32_t> body = read_units(value.series_node(), h, n);
            out.insert(out.end(), body.begin(), body.end());
            out.push_back('>');
            if (static_cast<std::int64_t>(out.size()) > budget) out.resize(static_cast<std::size_t>(budget));
            return out;
        }
        if (part >= 0) n = std::min(n, part);
        return read_units(value.series_node(), h, n);
    }
    TempText tmp(16);
    const NodeId out = tmp.node();
    if (t == TypeId::block || t == TypeId::paren || t == TypeId::hash) {
        Cell blk = value;
        const std::int32_t h = std::max(blk.series_head(), 0);
        const std::int32_t n = block::count_from_head(blk);
        std::int32_t budget = only && part >= 0 ? part : INT32_MAX;
        for (std::int32_t i = 0; i < n; ++i) {
            if (!only && part >= 0 && i >= part) break;
            if (only && part >= 0 && budget <= 0) break;
            const Cell item = *block::get_cell(blk, h + i);
            budget = form_into(item, out, budget);
        }
        if (only && part >= 0) truncate_buffer(out, part);
    } else {
        form_into(value, out, only && part >= 0 ? part : INT32_MAX);
        if (only && part >= 0) truncate_buffer(out, part);
    }
    return read_units(out, 0, units(out));
}

// --- Mold -----------------------------------------------------------------------------

// True when the "{" at start closes before end.
bool braces_balanced_q(const SeriesBuffer* b, std::int32_t start, std::int32_t end) {
    std::int32_t depth = 0;
    for (std::int32_t i = start; i < end; ++i) {
        const std::uint32_t c = at(b, i);
        if (c == '{') ++depth;
        else if (c == '}' && --depth == 0) return true;
    }
    return false;
}

// --- Search ---------------------------------------------------------------------------

// What find looks for.
struct Pattern {
    std::vector<std::uint32_t> text;  // code points (folded when fold)
    const Cell* bitset = nullptr;
    bool single = false;              // one code point (char!)
};

// A complemented bitset keeps its stored bits flipped already: the flag
// speaks only for the bits past the tail.
bool in_bitset(const Cell& bits, std::uint32_t cp) { return bitset::has(bits, cp); }

// Index of the match found by find (from the buffer's first unit) and its
// length, or -1.
struct Match {
    std::int32_t index = -1;
    std::int32_t length = 0;
};

Match search(const Cell& series, const Cell& value, const FindRefinements& r, bool select) {
    Match none;
    const NodeId node = series.series_node();
    const std::int32_t len = units(node);
    const std::int32_t head = std::max(series.series_head(), 0);
    if (len == 0) return none;
    const bool backward = r.last || r.reverse;
    if (head >= len && !r.reverse) return none;
    if (r.any || r.with != nullptr) runtime::raise_error(ErrorCategory::internal, "not-done");
    std::int32_t step = 1;
    if (r.skip != nullptr) {
        if (!r.skip->is(TypeId::integer) || r.skip->int_value() < 1)
            runtime::raise_error(ErrorCategory::script, "out-of-range", r.skip);
        step = r.skip->int_value();
    }
    const std::int32_t h = std::min(head, len);
    std::int32_t count = len - h;
    bool limited = false;
    if (r.part != nullptr) {
        if (r.part->is(TypeId::integer)) count = r.part->int_value();
        else if (r.part->type() == series.type() && r.part->series_node() == node)
            count = r.part->series_head() - series.series_head();
        else invalid_refine_arg(words::Ref::part, *r.part);
        if (count < 1) return none;
        limited = true;
    }
    const bool fold = !r.case_ && !r.same;

    Pattern p;
    const TypeId vt = value.type();
    if (vt == TypeId::char_) {
        p.single = true;
        p.text.push_back(fold ? upper(value.char_value()) : value.char_value());
    } else if (vt == TypeId::bitset) {
        p.single = true;
        p.bitset = &value;
    } else if (vt == TypeId::binary && !series.is(TypeId::binary)) {
        invalid_arg(value);
    } else if (is_any_string_type(vt) || vt == TypeId::binary) {
        p.text = read_units(value.series_node(), head_of(value), units(value.series_node()) - head_of(value));
    } else {
        TempText tmp(16);
        form_into(value, tmp.node(), INT32_MAX);
        p.text = read_units(tmp.node(), 0, units(tmp.node()));
    }
    if (fold && p.bitset == nullptr)
        for (std::uint32_t& c : p.text) c = upper(c);
    const std::int32_t plen = p.bitset ? 1 : static_cast<std::int32_t>(p.text.size());
    if (plen == 0) return none;  // an empty text matches nowhere

    // The range [lo, hi) that a match must lie in.
    std::int32_t lo = h, hi = h + std::min(count, len - h);
    if (r.reverse && !r.last) {
        hi = h;
        lo = limited ? std::max(0, h - count) : 0;
        if (h == 0) return none;
    }
    if (hi - lo < plen) return none;

    const SeriesBuffer* b = memory::buffer(node);
    auto matches_at = [&](std::int32_t i) {
        if (p.bitset) return in_bitset(*p.bitset, at(b, i));
        for (std::int32_t k = 0; k < plen; ++k) {
            std::uint32_t c = at(b, i + k);
            if (fold) c = upper(c);
            if (c != p.text[static_cast<std::size_t>(k)]) return false;
        }
        return true;
    };
    Match found;
    if (!backward) {
        for (std::int32_t i = lo; i + plen <= hi; i = series::step_to(i, step, hi)) {
            if (matches_at(i)) { found.index = i; break; }
            if (r.match) break;
        }
    } else {
        for (std::int32_t i = hi - plen; i >= lo; i -= step) {
            if (matches_at(i)) { found.index = i; break; }
            if (r.match) break;
        }
    }
    if (found.index >= 0) found.length = select || r.tail ? plen : 0;
    return found;
}

// --- Trim -----------------------------------------------------------------------------

bool horizontal_space_q(std::uint32_t c) {
    return c == ' ' || c == '\t' || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool space_q(std::uint32_t c) { return (c >= 1 && c <= 32) || horizontal_space_q(c); }

// Rewrites the units of text from its head with kept (never more units than
// before, all from the same buffer, so nothing widens or grows).
void rewrite_from_head(const Cell& text, const std::vector<std::uint32_t>& kept) {
    SeriesBuffer* b = memory::buffer(text.series_node());
    const std::int32_t h = head_of(text);
    for (std::size_t i = 0; i < kept.size(); ++i) put(b, h + static_cast<std::int32_t>(i), kept[i]);
    b->tail = b->head + static_cast<std::ptrdiff_t>(h + static_cast<std::int32_t>(kept.size())) * b->unit();
}

void trim_lines(const Cell& text) {
    const std::int32_t h = head_of(text);
    const std::vector<std::uint32_t> in = read_units(text.series_node(), h, units(text.series_node()) - h);
    std::vector<std::uint32_t> out;
    out.reserve(in.size());
    bool pending = false;
    for (const std::uint32_t c : in) {
        if (space_q(c)) { pending = !out.empty(); continue; }
        if (pending) out.push_back(' ');
        pending = false;
        out.push_back(c);
    }
    rewrite_from_head(text, out);
}

void trim_spaces(const Cell& text, bool head, bool tail) {
    const std::int32_t h = head_of(text);
    const std::vector<std::uint32_t> in = read_units(text.series_node(), h, units(text.series_node()) - h);
    std::size_t first = 0, last = in.size();
    if (!(tail && !head))
        while (first < last && space_q(in[first])) ++first;
    bool trailing_lf = false;
    if (!(head && !tail))
        while (last > first && space_q(in[last - 1])) {
            if (in[last - 1] == '\n') trailing_lf = true;
            --last;
        }
    std::vector<std::uint32_t> out;
    out.reserve(in.size());
    if (!head && !tail) {
        bool line_start = false;
        for (std::size_t i = first; i < last; ++i) {
            const std::uint32_t c = in[i];
            if (line_start && horizontal_space_q(c)) continue;  // indentation
            line_start = false;
            if (c == '\n') {
                while (!out.empty() && horizontal_space_q(out.back())) out.pop_back();
                line_start = true;
            }
            out.push_back(c);
        }
    } else {
        out.assign(in.begin() + static_cast<std::ptrdiff_t>(first), in.begin() + static_cast<std::ptrdiff_t>(last));
    }
    if (trailing_lf && !tail) out.push_back('\n');
    rewrite_from_head(text, out);
}

// --- Sort -----------------------------------------------------------------------------

struct SortState {
    std::uint32_t unit;
    std::int32_t offset;     // compared unit within a record
    std::int32_t record;     // units per record
    bool all;                // compare whole records
    bool reverse;
    bool case_;
    const Cell* function;    // user comparator, or null
};

std::uint32_t sort_key(std::uint32_t c, const SortState& s) {
    if (s.case_) return c;
    if (s.unit == 1) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return upper(c);
}

// The user comparator's verdict on records a and b.
int call_function(const std::uint8_t* a, const std::uint8_t* b, const SortState& s) {
    const std::uint8_t* first = s.reverse ? a : b;  // the second item goes first unless reversed
    const std::uint8_t* second = s.reverse ? b : a;
    // Nothing collects before the call pushes the values: they need no root.
    Cell args[2];
    for (int i = 0; i < 2; ++i) {
        const std::uint8_t* rec = i == 0 ? first : second;
        if (s.all && s.record >= 2) {
            TempText t(s.record);
            for (std::int32_t k = 0; k < s.record; ++k)
                append_char(t.node(), get_char(rec + static_cast<std::ptrdiff_t>(k) * s.unit, s.unit));
            args[i] = t.root.cell();
        } else {
            char_::make_at(args[i], get_char(rec, s.unit));
        }
    }
    const Cell result = callback::call(*s.function, args, 2, words::word(words::Word::compare_callback));
    switch (result.type()) {
    case TypeId::logic: return result.logic_value() != 0 ? 1 : -1;
    case TypeId::integer: return -result.int_value();
    case TypeId::float_: return result.f64() > 0 ? -1 : result.f64() < 0 ? 1 : 0;
    case TypeId::none: return -1;
    default: return 1;
    }
}

int compare_records(const void* a, const void* b, std::int32_t, std::uintptr_t flags) {
    const SortState& s = *reinterpret_cast<const SortState*>(flags);
    const auto* pa = static_cast<const std::uint8_t*>(a);
    const auto* pb = static_cast<const std::uint8_t*>(b);
    if (s.function) return call_function(pa, pb, s);
    const std::int32_t from = s.all ? 0 : s.offset;
    const std::int32_t to = s.all ? s.record : s.offset + 1;
    for (std::int32_t k = from; k < to; ++k) {
        const std::uint32_t x = sort_key(get_char(pa + static_cast<std::ptrdiff_t>(k) * s.unit, s.unit), s);
        const std::uint32_t y = sort_key(get_char(pb + static_cast<std::ptrdiff_t>(k) * s.unit, s.unit), s);
        if (x != y) return (x < y ? -1 : 1) * (s.reverse ? -1 : 1);
    }
    return 0;
}

// --- Set operations -------------------------------------------------------------------

std::uint32_t key_of(std::uint32_t c, bool case_) { return case_ ? c : upper(c); }

std::unordered_set<std::uint32_t> keys_of(const Cell& text, std::int32_t skip, bool case_) {
    std::unordered_set<std::uint32_t> keys;
    const SeriesBuffer* b = memory::buffer(text.series_node());
    for (std::int32_t i = head_of(text), n = units(text.series_node()); i < n; i = series::step_to(i, skip, n))
        keys.insert(key_of(at(b, i), case_));
    return keys;
}

}  // namespace

// --- Shared routines ----------------------------------------------------------------

void append_escaped_char(NodeId out, std::uint32_t cp, bool all) { char_::append_escaped(out, cp, all); }

std::int32_t compare_values(const Cell& value1, const Cell& value2, CompareOp op, bool match) {
    auto as_text = [](const Cell& v) {
        if (!v.is(TypeId::symbol)) return v;
        return text_cell(v.symbol_name_string(), TypeId::string, 0);
    };
    const Cell a = as_text(value1), b = as_text(value2);
    const bool same_place = a.series_node() == b.series_node() && a.series_head() == b.series_head();
    if (op == CompareOp::same) return same_place ? 0 : -1;
    if (same_place && is_equality(op)) return 0;
    const std::int32_t h1 = head_of(a), h2 = head_of(b);
    const std::int32_t len1 = units(a.series_node()) - h1;
    std::int32_t len2 = units(b.series_node()) - h2;
    if (match) {
        if (len2 == 0) return op == CompareOp::find ? 1 : 0;
        if (len2 > len1) return 1;
    } else if (len1 != len2) {
        if (is_equality(op) || len2 == 0) return 1;
    } else if (len1 == 0) {
        return 0;
    }
    const bool fold = op != CompareOp::strict_equal && op != CompareOp::case_sort;
    const std::int32_t n = std::min(len1, len2);
    const SeriesBuffer* ba = memory::buffer(a.series_node());
    const SeriesBuffer* bb = memory::buffer(b.series_node());
    for (std::int32_t i = 0; i < n; ++i) {
        std::uint32_t x = at(ba, h1 + i), y = at(bb, h2 + i);
        if (fold) { x = upper(x); y = upper(y); }
        if (x != y) return x < y ? -1 : 1;
    }
    if (match) return 0;
    return len1 < len2 ? -1 : len1 > len2 ? 1 : 0;
}

void set_operation(SetOp op, const Cell& a, const Cell* b, bool case_, std::int32_t skip, Cell& result) {
    if (skip < 1) {
        const Cell size = int_cell(skip);
        invalid_refine_arg(words::Ref::skip, size);
    }
    const Cell first = a;
    const Cell second = b != nullptr ? *b : a;
    const std::int32_t room = units(first.series_node()) - head_of(first) +
                              (op == SetOp::union_ ? units(second.series_node()) - head_of(second) : 0);
    TempText out(std::max(room, 1));
    std::unordered_set<std::uint32_t> seen;
    auto walk = [&](const Cell& text, const std::unordered_set<std::uint32_t>* other, bool keep_present) {
        const std::int32_t n = units(text.series_node());
        for (std::int32_t i = head_of(text); i < n; i = series::step_to(i, skip, n)) {
            const std::uint32_t key = key_of(get_char_at_index(text, i), case_);
            if (other != nullptr && (other->count(key) != 0) != keep_present) continue;
            if (!seen.insert(key).second) continue;
            for (std::int32_t k = i; k < series::step_to(i, skip, n); ++k)
                append_char(out.node(), get_char_at_index(text, k));  // reads by index: the buffer may move
        }
    };
    switch (op) {
    case SetOp::unique: walk(first, nullptr, true); break;
    case SetOp::union_: walk(first, nullptr, true); walk(second, nullptr, true); break;
    case SetOp::intersect: { const auto k = keys_of(second, skip, case_); walk(first, &k, true); break; }
    case SetOp::exclude: { const auto k = keys_of(second, skip, case_); walk(first, &k, false); break; }
    case SetOp::difference: {
        const auto k2 = keys_of(second, skip, case_);
        const auto k1 = keys_of(first, skip, case_);
        walk(first, &k2, false);
        walk(second, &k1, false);
        break;
    }
    }
    result = text_cell(out.node(), first.type(), 0);
}

std::int32_t trim_with(Cell& text, const Cell* set) {
    std::vector<std::uint32_t> members;
    if (set == nullptr || set->is(TypeId::none)) {
        members = {9, 10, 13, 32};
    } else if (is_any_string_type(set->type()) || set->is(TypeId::binary)) {
        members = read_units(set->series_node(), head_of(*set), units(set->series_node()) - head_of(*set));
    } else if (set->is(TypeId::char_)) {
        members = {set->char_value()};
    } else if (set->is(TypeId::integer)) {
        members = {static_cast<std::uint32_t>(set->int_value())};
    } else {
        invalid_arg(*set);
    }
    std::sort(members.begin(), members.end());
    SeriesBuffer* b = memory::buffer(text.series_node());
    const std::int32_t n = units(text.series_node());
    std::int32_t w = head_of(text);
    for (std::int32_t i = w; i < n; ++i) {
        const std::uint32_t c = at(b, i);
        if (!std::binary_search(members.begin(), members.end(), c)) put(b, w++, c);
    }
    b->tail = b->head + static_cast<std::ptrdiff_t>(w) * b->unit();
    return static_cast<std::int32_t>(members.size());
}

// --- Handlers, in action order ----------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type) {
    if (spec->is(TypeId::integer) || spec->is(TypeId::float_)) {
        const std::int32_t room = integer::from_number(*spec);
        if (room < 0) runtime::raise_error(ErrorCategory::script, "out-of-range", spec);
        Cell c{};
        make_at(c, room);
        c.set_type(type);
        *proto = c;
        return proto;
    }
    return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, TypeId type) {
    const Cell value = *spec;
    Cell c{};
    switch (value.type()) {
    case TypeId::none: {
        Cell t{};
        t.reset(TypeId::datatype);
        t.set_datatype_id(type);
        runtime::raise_error(ErrorCategory::script, "bad-to-arg", &t, &value);
    }
    case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::tag:
    case TypeId::email: case TypeId::ref: {
        const std::int32_t h = head_of(value);
        c = text_cell(series::copy_units(value, h, units(value.series_node()) - h), type, 0);
        break;
    }
    case TypeId::binary: {
        const SeriesBuffer* b = memory::buffer(value.series_node());
        const std::int32_t h = std::clamp(value.series_head(), 0, b->used_bytes());
        const std::vector<std::uint8_t> bytes(b->head + h, b->tail);  // decoding allocates
        const auto size = static_cast<std::int32_t>(bytes.size());
        const unicode::Utf8Measure m = unicode::measure_utf8(bytes.data(), size, false);
        if (m.used < size) {  // a sequence cut by the end
            Cell rest{};
            rest.reset(TypeId::binary);
            rest.set_series_node(memory::alloc_series(size - m.used, 1, 0));
            SeriesBuffer* rb = memory::buffer(rest.series_node());
            std::memcpy(rb->head, bytes.data() + m.used, static_cast<std::size_t>(size - m.used));
            rb->tail = rb->head + (size - m.used);
            runtime::raise_error(ErrorCategory::access, "invalid-utf8", &rest);
        }
        make_at_unit(c, std::max(m.chars, 1), m.unit);
        SeriesBuffer* tb = memory::buffer(c.series_node());
        const std::int32_t n = unicode::decode_utf8_units(bytes.data(), m.used, false, tb->head, m.unit);
        tb->tail = tb->head + static_cast<std::ptrdiff_t>(n) * m.unit;
        break;
    }
    case TypeId::block: case TypeId::paren: case TypeId::hash: {
        const std::vector<std::uint32_t> text = new_units(value, -1, false);
        make_at(c, static_cast<std::int32_t>(text.size()));
        splice(c.series_node(), 0, 0, text, 1);
        break;
    }
    case TypeId::refinement: {
        Cell t{};
        make_at(t, 16);
        collector::Root hold(t);
        if (type != TypeId::string) append_char(t.series_node(), '/');
        form_into(value, t.series_node(), INT32_MAX);
        c = hold.cell();
        break;
    }
    default: {
        Cell t{};
        make_at(t, 16);
        collector::Root hold(t);
        form_into(value, t.series_node(), INT32_MAX);
        c = hold.cell();
        break;
    }
    }
    c.set_type(type);
    *proto = c;
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    const std::int32_t len = length_from_head(*value);
    const NodeId node = value->series_node();
    if (arg == nullptr && node != out && unit_of(node) == unit_of(out)) {  // the units copied as they are
        const std::size_t bytes = static_cast<std::size_t>(len) * unit_of(node);
        if (bytes > 0) {
            std::uint8_t* to = buffer::grow_tail(out, static_cast<std::int32_t>(bytes));
            std::memcpy(to, memory::buffer(node)->head + static_cast<std::size_t>(head_of(*value)) * unit_of(node), bytes);
        }
        return part - len;
    }
    Cell target = text_cell(out, TypeId::string, 0);
    concatenate(target, *value, arg != nullptr ? std::max(part, 0) : -1, 0, true, ConcatMode::append);
    return part - len;
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg, std::int32_t part,
                  std::int32_t) {
    const Cell v = *value;
    const NodeId node = v.series_node();
    const std::int32_t h = head_of(v);
    const std::int32_t len = units(node) - h;
    const std::int32_t span = arg != nullptr ? std::clamp(part, 0, len) : len;
    std::int32_t quotes = 0, lines = 0;
    {
        const SeriesBuffer* b = memory::buffer(node);
        for (std::int32_t i = h; i < h + span; ++i) {
            const std::uint32_t c = at(b, i);
            quotes += c == '"';
            lines += c == '\n';
        }
    }
    const bool braces = lines >= 3 || quotes >= 1 || len >= 50;
    append_char(out, braces ? '{' : '"');
    bool balanced = true;
    std::int32_t depth = 0;
    for (std::int32_t i = h; i < h + span; ++i) {
        const std::uint32_t c = get_char_at_index(v, i);  // out may share nothing, but appends allocate
        if (!braces) {
            char_::append_escaped(out, c, options.all);
        } else if (c == '"') {
            append_char(out, '"');
        } else if (c == '{') {
            if (balanced && depth == 0) balanced = braces_balanced_q(memory::buffer(node), i, h + span);
            if (balanced) {
                append_char(out, '{');
                ++depth;
            } else {
                append_nul_text(out, "^{");
            }
        } else if (c == '}') {
            if (depth > 0) {
                --depth;
                append_char(out, '}');
            } else {
                append_nul_text(out, "^}");
            }
        } else {
            char_::append_escaped(out, c, options.all);
        }
    }
    append_char(out, braces ? '}' : '"');
    return part - span - 2;
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const Cell path = step.path != nullptr ? *step.path : *value;
    if (element->is(TypeId::integer)) {
        if (new_value == nullptr) return registry::handler<Action::pick>(TypeId::series)(value, element);
        const Cell v = *new_value;
        registry::handler<Action::poke>(TypeId::series)(value, element, new_value);
        *value = v;
        return value;
    }
    if (element->is(TypeId::word)) runtime::raise_error(ErrorCategory::script, "invalid-path", &path, element);
    if (new_value == nullptr) return select(value, element, FindRefinements{});
    const Cell v = *new_value;
    Cell where = *value;
    const Cell* found = find(&where, element, FindRefinements{});
    if (!is_any_string_type(found->type())) runtime::raise_error(ErrorCategory::script, "bad-path-set", &path, element);
    Cell target = *found;
    Cell index = int_cell(2);
    Cell nv = v;
    registry::handler<Action::poke>(TypeId::series)(&target, &index, &nv);
    *value = v;
    return value;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (value1->type() != value2->type()) {
        if (!is_any_string_type(value2->type()) || (op != CompareOp::equal && op != CompareOp::not_equal))
            return not_comparable;
    }
    return compare_values(*value1, *value2, op, false);
}

namespace {

// append with the notify flag: insert and change call it with announcements off.
Cell* append_to(Cell* series, const Cell& value, std::int32_t part, bool only, std::int32_t count,
                bool announce) {
    const Cell s = *series;
    const NodeId node = s.series_node();
    const bool told = announce && notify(s, words::Word::append, &value, s.series_head(), part);
    if (value.is(TypeId::char_) && count == 1 && part != 0) {
        append_char(node, value.char_value());
    } else if (is_any_string_type(value.type()) && !value.is(TypeId::tag) && count == 1) {
        Cell target = s;
        concatenate(target, value, part, 0, false, ConcatMode::append);
    } else {
        const std::vector<std::uint32_t> text = new_units(value, part, only);
        splice(node, units(node), 0, text, count);
    }
    if (told) notify(s, words::Word::appended, &value, s.series_head(), part);
    series->set_series_head(0);
    return series;
}

}  // namespace

Cell* append(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t count) {
    return append_to(series, *value, part, only, count, true);
}

Cell* change(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t count) {
    const Cell s = *series;
    const Cell v = *value;
    const NodeId node = s.series_node();
    const std::int32_t h = head_of(s);
    const std::int32_t left = units(node) - h;
    const std::vector<std::uint32_t> text = new_units(v, -1, only);
    const std::int64_t added = static_cast<std::int64_t>(text.size()) * count;
    const std::int32_t replaced = static_cast<std::int32_t>(std::min<std::int64_t>(part >= 0 ? part : added, left));
    const bool told = notify(s, words::Word::change, &v, h, replaced);
    splice(node, h, replaced, text, count);
    if (told) notify(s, words::Word::changed, &v, h, replaced);
    series->set_series_head(std::min(h + static_cast<std::int32_t>(added), units(node)));
    return series;
}

namespace {

// The index of the first byte c in p[i, n), or n. Short distances (fields,
// words) are scanned in line; memchr takes the rest of a long one.
[[gnu::always_inline]] inline std::int32_t scan_byte(const std::uint8_t* p, std::int32_t i, std::int32_t n, std::uint8_t c) {
    for (const std::int32_t quick = std::min(n, i + 32); i < quick; ++i)
        if (p[i] == c) return i;
    if (i >= n) return n;
    const void* hit = std::memchr(p + i, c, static_cast<std::size_t>(n - i));
    return hit == nullptr ? n : static_cast<std::int32_t>(static_cast<const std::uint8_t*>(hit) - p);
}

// A text (folded unless case_) or a bitset's characters searched for in a
// text from a unit index on, as find does; one-byte buffers test their first
// unit through a table.
class Finder {
public:
    Finder(const Cell& target, bool case_) : fold_(!case_) {
        if (target.is(TypeId::bitset)) {
            bits_ = &target;
            length_ = 1;
        } else if (target.is(TypeId::char_)) {
            what_.push_back(target.char_value());
        } else {
            what_ = read_units(target.series_node(), head_of(target), units(target.series_node()) - head_of(target));
        }
        if (fold_)
            for (std::uint32_t& c : what_) c = upper(c);
        if (bits_ == nullptr) length_ = static_cast<std::int32_t>(what_.size());
        int starts = 0;
        for (std::uint32_t c = 0; c < 256; ++c) {
            first_[c] = length_ > 0 && (bits_ != nullptr ? in_bitset(*bits_, c) : key(c) == what_[0]);
            if (first_[c]) only_ = ++starts == 1 ? static_cast<int>(c) : -1;
        }
    }
    // Units a match covers (0: an empty text, which matches nowhere).
    std::int32_t length() const { return length_; }
    // The indexes in the one-byte text p[from, len) where a match of one
    // unit starts (length() is 1), added to out.
    void byte_matches(const std::uint8_t* p, std::int32_t from, std::int32_t len, std::vector<std::int32_t>& out) const {
        if (only_ >= 0) {
            for (std::int32_t i = from; (i = scan_byte(p, i, len, static_cast<std::uint8_t>(only_))) < len; ++i)
                out.push_back(i);
            return;
        }
        for (std::int32_t i = from; i < len; ++i)
            if (first_[p[i]]) out.push_back(i);
    }
    // All the matches in b's text from index from, none overlapping, added to out.
    void all_matches(const SeriesBuffer* b, std::int32_t from, std::int32_t len, std::vector<std::int32_t>& out) const {
        if (length_ == 1 && b->unit() == 1) return byte_matches(b->head, from, len, out);
        if (length_ == 0) return;
        for (std::int32_t found; from < len && (found = next(b, from, len)) >= 0; from = found + length_)
            out.push_back(found);
    }
    // The unit index of the first match at or after from, or -1.
    std::int32_t next(const SeriesBuffer* b, std::int32_t from, std::int32_t len) const {
        const std::int32_t last = len - length_;
        if (b->unit() == 1) {
            const std::uint8_t* p = b->head;
            const bool* first = first_;
            if (only_ >= 0) {  // one byte starts a match
                for (std::int32_t i = from; i <= last; ++i) {
                    i = scan_byte(p, i, last + 1, static_cast<std::uint8_t>(only_));
                    if (i > last) return -1;
                    if (length_ == 1 || rest_matches(b, i)) return i;
                }
                return -1;
            }
            for (std::int32_t i = from; i <= last; ++i)
                if (first[p[i]] && rest_matches(b, i)) return i;
            return -1;
        }
        for (std::int32_t i = from; i <= last; ++i) {
            const std::uint32_t c = at(b, i);
            if ((bits_ != nullptr ? in_bitset(*bits_, c) : key(c) == what_[0]) && rest_matches(b, i)) return i;
        }
        return -1;
    }

private:
    std::uint32_t key(std::uint32_t c) const { return fold_ ? upper(c) : c; }
    bool rest_matches(const SeriesBuffer* b, std::int32_t i) const {
        for (std::int32_t k = 1; k < length_; ++k)
            if (key(at(b, i + k)) != what_[static_cast<std::size_t>(k)]) return false;
        return true;
    }

    std::vector<std::uint32_t> what_;
    const Cell* bits_ = nullptr;
    std::int32_t length_ = 0;
    bool fold_;
    bool first_[256];
    int only_ = -1;  // the one byte value that starts a match, if only one does
};

}  // namespace

void split(const Cell& series, const Cell& delimiter, Cell& out) {
    const NodeId node = series.series_node();
    const TypeId type = series.type();
    const Finder finder(delimiter, false);
    const std::int32_t dlen = finder.length();
    const std::int32_t len = units(node);
    const std::int32_t head = head_of(series);
    // The matches first, so that the block is made once at its size: each
    // piece but the last ends at a match. An empty delimiter would never
    // advance: it gives the whole text.
    std::vector<std::int32_t> ends;
    finder.all_matches(memory::buffer(node), head, len, ends);
    block::make_at(out, static_cast<std::int32_t>(ends.size()) + 1);
    // No allocation here collects, so the source's buffer stays where it is.
    const SeriesBuffer* src = memory::buffer(node);
    const std::uint32_t unit = src->unit();
    // A piece is a new text of the series' type holding units [start, end).
    const auto piece = [&](std::int32_t start, std::int32_t end, TypeId piece_type) {
        Cell text{};
        make_at_unit(text, end - start, unit);
        SeriesBuffer* dst = memory::buffer(text.series_node());
        const std::size_t bytes = static_cast<std::size_t>(end - start) * unit;
        if (bytes > 0) std::memcpy(dst->head, src->head + static_cast<std::size_t>(start) * unit, bytes);
        dst->tail = dst->head + bytes;
        text.set_type(piece_type);
        block::append_copy(out, text);
    };
    std::int32_t start = head;
    for (const std::int32_t end : ends) {
        piece(start, end, type);
        start = end + dlen;
    }
    // A text that ends at a delimiter (or a series at its tail) ends with an
    // empty string!.
    if (dlen > 0 && start >= len) piece(start, start, TypeId::string);
    else piece(start, len, type);
}

namespace {

// replace/all where the result keeps the text's unit: the matches are found
// first, then the text is rewritten in place, each unit moved once (from
// the back when the text grows, so that nothing is overwritten before it
// has moved; from the front when it shrinks).
void replace_matches(NodeId node, const std::vector<std::int32_t>& at, std::int32_t plen,
                     const std::vector<std::uint32_t>& with) {
    SeriesBuffer* b = memory::buffer(node);
    const std::int64_t unit = b->unit();
    const std::int64_t wlen = static_cast<std::int64_t>(with.size());
    const std::int64_t len = units(node);
    const std::int64_t n = static_cast<std::int64_t>(at.size());
    const std::int64_t new_len = len + n * (wlen - plen);
    const std::int64_t bytes = new_len * unit;
    if (bytes > max_bytes) runtime::raise_error(ErrorCategory::internal, "no-memory");
    while (b->head + bytes > b->data_end())
        b = memory::copy_series(b, static_cast<std::int32_t>(
                                       std::min<std::int64_t>(std::max<std::int64_t>(bytes + bytes / 2, b->size * 2LL), max_bytes)));
    std::uint8_t* const p = b->head;
    const auto put_with = [&](std::int64_t i) {
        std::uint8_t* q = p + i * unit;
        for (const std::uint32_t cp : with) {
            if (unit == 1) *q = static_cast<std::uint8_t>(cp);
            else unicode::write_unit(q, static_cast<std::uint32_t>(unit), cp);
            q += unit;
        }
    };
    const auto move = [&](std::int64_t to, std::int64_t from, std::int64_t count) {
        if (count > 0 && to != from) std::memmove(p + to * unit, p + from * unit, static_cast<std::size_t>(count * unit));
    };
    if (wlen >= plen) {
        std::int64_t src_end = len, dst_end = new_len;
        for (std::int64_t k = n - 1; k >= 0; --k) {
            const std::int64_t rest = at[static_cast<std::size_t>(k)] + plen;  // the units after match k
            move(dst_end - (src_end - rest), rest, src_end - rest);
            dst_end -= (src_end - rest) + wlen;
            put_with(dst_end);
            src_end = at[static_cast<std::size_t>(k)];
        }
    } else {
        std::int64_t dst = at[0], src = at[0];
        for (std::int64_t k = 0; k < n; ++k) {
            const std::int64_t m = at[static_cast<std::size_t>(k)];
            move(dst, src, m - src);
            dst += m - src;
            put_with(dst);
            dst += wlen;
            src = m + plen;
        }
        move(dst, src, len - src);
    }
    b->tail = p + bytes;
}

}  // namespace

bool replace_all(Cell& series, const Cell& pattern, const Cell& value, bool case_) {
    const NodeId node = series.series_node();
    if ((memory::buffer(node)->flags & memory::flag_owned) != 0) return false;  // the owner hears of each change
    const std::vector<std::uint32_t> with = new_units(value, -1, false);  // read before the text changes: value may be it
    const Finder finder(pattern, case_);
    const std::int32_t plen = finder.length();
    if (plen == 0) return true;
    const std::int32_t h = head_of(series);
    const std::int32_t len = units(node);
    const SeriesBuffer* b = memory::buffer(node);
    // Matches never overlap and replacements are not searched again.
    std::vector<std::int32_t> matches;
    finder.all_matches(b, h, len, matches);
    if (matches.empty()) return true;
    std::uint32_t need = b->unit();
    for (const std::uint32_t cp : with) need = std::max(need, unit_for(cp));
    if (need == b->unit()) {
        replace_matches(node, matches, plen, with);
        return true;
    }
    // The replacement needs wider units: the result is built as code points.
    std::vector<std::uint32_t> out;
    std::int32_t copied = h;  // units before this index are in out or stay as they are
    for (const std::int32_t found : matches) {
        for (std::int32_t j = copied; j < found; ++j) out.push_back(at(b, j));
        out.insert(out.end(), with.begin(), with.end());
        copied = found + plen;
    }
    for (std::int32_t j = copied; j < len; ++j) out.push_back(at(b, j));
    splice(node, h, len - h, out, 1);
    return true;
}

Cell* find(Cell* series, Cell* value, const FindRefinements& refinements) {
    const Match m = search(*series, *value, refinements, false);
    if (m.index < 0) {
        *series = none::value;
        return series;
    }
    series->set_series_head(m.index + m.length);
    return series;
}

Cell* insert(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t count) {
    const Cell s = *series;
    const Cell v = *value;
    const NodeId node = s.series_node();
    const std::int32_t h = head_of(s);
    const bool told = notify(s, words::global(words::Global::insert), &v, h, part);
    const std::int32_t before = units(node);
    if (h >= before) {
        Cell tail = s;
        append_to(&tail, v, part, only, count, false);
    } else {
        const std::vector<std::uint32_t> text = new_units(v, part, only);
        splice(node, h, 0, text, count);
    }
    const std::int32_t added = units(node) - before;
    if (told) notify(s, words::Word::inserted, &v, h, added);
    series->set_series_head(std::min(h + added, units(node)));
    return series;
}

Cell* select(Cell* series, Cell* value, const FindRefinements& refinements) {
    FindRefinements r = refinements;
    r.tail = r.match = false;
    const Match m = search(*series, *value, r, true);
    const std::int32_t next = m.index + m.length;
    if (m.index < 0 || next >= units(series->series_node())) {
        *series = none::value;
        return series;
    }
    const std::uint32_t cp = get_char_at_index(*series, next);
    series->reset(TypeId::char_);
    char_::make_at(*series, cp);
    return series;
}

Cell* sort(Cell* series, const SortRefinements& how) {
    const Cell s = *series;
    const NodeId node = s.series_node();
    const std::int32_t len = units(node);
    std::int32_t from = head_of(s);
    std::int32_t count = len - from;
    if (how.part != nullptr) {
        std::int32_t n = 0;
        if (how.part->is(TypeId::integer)) n = how.part->int_value();
        else if (how.part->type() == s.type() && how.part->series_node() == node)
            n = how.part->series_head() - s.series_head();
        else invalid_refine_arg(words::Ref::part, *how.part);
        if (n < 0) {
            const std::int32_t start = std::max(from + n, 0);
            count = from - start;
            from = start;
        } else {
            count = std::min(n, count);
        }
    }
    std::int32_t record = 1;
    if (how.skip != nullptr) {
        if (!how.skip->is(TypeId::integer)) invalid_refine_arg(words::Ref::skip, *how.skip);
        record = how.skip->int_value();
        if (record < 1 || record > count || count % record != 0) invalid_refine_arg(words::Ref::skip, *how.skip);
    }
    if (how.all && how.skip == nullptr) runtime::raise_error(ErrorCategory::script, "bad-refines");
    std::int32_t offset = 0;
    const Cell* function = nullptr;
    const Cell fn = how.comparator != nullptr ? *how.comparator : none::value;  // a stable copy for the calls
    if (how.comparator != nullptr) {
        if (how.comparator->is(TypeId::function)) {
            function = &fn;
        } else if (how.comparator->is(TypeId::integer)) {
            if (how.skip == nullptr || how.all) runtime::raise_error(ErrorCategory::script, "bad-refines");
            offset = how.comparator->int_value();
            if (offset < 1 || offset > record) runtime::raise_error(ErrorCategory::script, "out-of-range", how.comparator);
            --offset;
        } else {
            invalid_refine_arg(words::Ref::compare, *how.comparator);
        }
    }
    if (count < 2 || count / record < 2) return series;
    const SortState state{unit_of(node), offset, record, how.all, how.reverse, how.case_, function};
    const std::size_t item = static_cast<std::size_t>(record) * state.unit;
    const std::size_t items = static_cast<std::size_t>(count / record);
    const bool told = notify(s, words::Word::sort, nullptr, from, count);
    const auto flags = reinterpret_cast<std::uintptr_t>(&state);
    const std::int32_t op = how.case_ ? static_cast<std::int32_t>(CompareOp::strict_equal) : 0;
    if (function != nullptr) {
        // The user function may change the text: sort a copy, then write back
        // what still fits.
        const SeriesBuffer* b = memory::buffer(node);
        std::vector<std::uint8_t> copy(b->head + static_cast<std::ptrdiff_t>(from) * state.unit,
                                       b->head + static_cast<std::ptrdiff_t>(from + count) * state.unit);
        if (how.stable) sorting::merge_sort(copy.data(), items, item, op, flags, compare_records);
        else sorting::quick_sort(copy.data(), items, item, op, flags, compare_records);
        SeriesBuffer* now = memory::buffer(node);
        if (now->unit() == state.unit && units(node) >= from + count)
            std::memcpy(now->head + static_cast<std::ptrdiff_t>(from) * state.unit, copy.data(), copy.size());
    } else {
        std::uint8_t* base = memory::buffer(node)->head + static_cast<std::ptrdiff_t>(from) * state.unit;
        if (how.stable) sorting::merge_sort(base, items, item, op, flags, compare_records);
        else sorting::quick_sort(base, items, item, op, flags, compare_records);
    }
    if (told) notify(s, words::Word::sorted, nullptr, from, count);
    return series;
}

Cell* swap(Cell* series1, Cell* series2) {
    const Cell a = *series1, b = *series2;
    if (!is_any_string_type(b.type()) && !b.is(TypeId::binary)) invalid_arg(b);
    if (at_tail_q(a) || at_tail_q(b)) return series1;
    const std::int32_t ha = head_of(a), hb = head_of(b);
    const std::uint32_t ca = get_char_at_index(a, ha), cb = get_char_at_index(b, hb);
    if ((b.is(TypeId::binary) && ca > 0xFF) || (a.is(TypeId::binary) && cb > 0xFF)) {
        const Cell c = int_cell(static_cast<std::int32_t>(b.is(TypeId::binary) && ca > 0xFF ? ca : cb));
        runtime::raise_error(ErrorCategory::script, "out-of-range", &c);  // a byte holds no larger code point
    }
    const bool told1 = notify(a, words::Word::swap, &b, ha, 1);
    const bool told2 = notify(b, words::Word::swap, &a, hb, 1);
    poke_char(a.series_node(), ha, cb);
    if (b.is(TypeId::binary)) memory::buffer(b.series_node())->head[hb] = static_cast<std::uint8_t>(ca);
    else poke_char(b.series_node(), hb, ca);
    if (told1) notify(a, words::Word::swaped, &b, ha, 1);
    if (told2) notify(b, words::Word::swaped, &a, hb, 1);
    return series1;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    Cell* result = series::take(series, part, deep, last);
    if (part == nullptr && is_any_string_type(result->type()) && units(result->series_node()) == 1) {
        const std::uint32_t cp = get_char_at_index(*result, 0);
        result->reset(TypeId::char_);
        char_::make_at(*result, cp);
    }
    return result;
}

Cell* trim(Cell* series, const TrimRefinements& how) {
    Cell s = *series;
    const bool told = notify(s, words::Word::trim, nullptr, head_of(s), 0);
    if (how.all || how.with != nullptr) trim_with(s, how.with);
    else if (how.auto_) runtime::raise_error(ErrorCategory::internal, "not-done");
    else if (how.lines) trim_lines(s);
    else trim_spaces(s, how.head, how.tail);
    if (told) notify(s, words::Word::trimmed, nullptr, head_of(s), 0);
    return series;
}

// --- Registration -----------------------------------------------------------------------

namespace {

constexpr registry::Registration registration{TypeId::string, registry::table({
        {Action::make,      make},
        {Action::to,        to},
        {Action::form,      form},
        {Action::mold,      mold},
        {Action::eval_path, eval_path},
        {Action::compare,   compare},
        {Action::append,    append},
        {Action::change,    change},
        {Action::find,      find},
        {Action::insert,    insert},
        {Action::select,    select},
        {Action::sort,      sort},
        {Action::swap,      swap},
        {Action::take,      take},
        {Action::trim,      trim},
    })};

}  // namespace

void register_actions() { registry::register_type(registration); }

Cell& change_case(Cell& value, const Cell* part, bool to_upper) {
    if (value.is(TypeId::char_)) {
        value.set_char(case_folding::fold_char(value.char_value(), to_upper));
        return value;
    }
    KIV_ASSERT(is_any_string_type(value.type()), "case changes apply to chars and texts");
    NodeId node = value.series_node();
    SeriesBuffer* buf = memory::buffer(node);
    std::uint32_t unit = buf->unit();
    if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
    std::int32_t length = buf->used_bytes() / static_cast<std::int32_t>(unit);
    std::int32_t head = value.series_head();
    if (head > length) {
        head = length;
        value.set_series_head(head);
    }
    std::int32_t count = length - head;
    if (part != nullptr) {
        std::int32_t n;
        if (part->is(TypeId::integer)) {
            n = part->int_value();
        } else if (part->type() == value.type() && part->series_node() == node) {
            n = part->series_head() - head;
        } else {
            Cell refinement = word_cell(TypeId::refinement, "part");
            runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &refinement, part);
        }
        if (n < 0) n = 0;
        if (n < count) count = n;
    }
    for (std::int32_t i = head; i < head + count; ++i) {
        std::uint32_t cp = unicode::read_unit(buf->head + static_cast<std::size_t>(i) * buf->unit(), buf->unit());
        std::uint32_t mapped = case_folding::fold_char(cp, to_upper);
        if (mapped != cp) buf = store_unit(node, i, mapped);
    }
    if ((memory::buffer(node)->flags & memory::flag_owned) != 0) {  // only owned series have an owner to tell
        Cell action = word_cell(TypeId::word, to_upper ? "uppercase" : "lowercase");
        ownership::check_owner(value, action, nullptr, head, count);
    }
    return value;
}

}  // namespace kiv::string
