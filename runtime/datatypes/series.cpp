// series!: the position and unit handlers that every series type inherits.
// Handlers work on unit offsets, never raw pointers held across a growth;
// arguments are checked before anything changes, and a change is reported to
// the series' owner before (action word) and after (past-tense word).
#include "runtime/datatypes/series.h"

#include "runtime/core/assert.h"
#include "runtime/core/buffer.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace kiv::series {
namespace {

std::array<NodeId, 17> scratch{};  // take's scratch series, by unit size

void mark_scratch() {
    for (std::size_t unit = 1; unit < scratch.size(); ++unit) {
        if (scratch[unit] == 0) continue;
        if (unit == sizeof(Cell)) collector::mark_series_cells(scratch[unit]);
        else collector::mark_node(scratch[unit]);
    }
}

std::uint32_t unit_of(const Cell& v) { return memory::buffer(v.series_node())->unit(); }

std::uint8_t* unit_at(const Cell& v, std::int32_t index) {
    SeriesBuffer* buf = memory::buffer(v.series_node());
    return buf->head + static_cast<std::ptrdiff_t>(index) * buf->unit();
}

std::int32_t clamped_head(const Cell& v) { return std::clamp(v.series_head(), 0, buffer_length(v)); }

Cell refinement_cell(words::Ref r) { return words::refinement(r); }

[[noreturn]] void invalid_refine_arg(words::Ref r, const Cell& value) {
    const Cell ref = refinement_cell(r);
    runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, &value);
}

[[noreturn]] void invalid_arg(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &value);
}

Cell int_cell(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}

// The integer of an offset or index argument; other types raise invalid-arg.
std::int32_t int_arg(const Cell& v) {
    if (!v.is(TypeId::integer) && !v.is(TypeId::float_)) invalid_arg(v);
    return integer::from_number(v);
}

// The count that a /part argument gives from head h of value: an integer!, or
// the distance to a position of the same series.
std::int32_t part_count(const Cell& value, const Cell& part, std::int32_t h) {
    if (part.is(TypeId::integer)) return part.int_value();
    if (part.type() == value.type() && part.series_node() == value.series_node())
        return part.series_head() - h;
    invalid_refine_arg(words::Ref::part, part);
}

// Tells the series' owner about a change (the word nullopt stands for
// "remove"); true when one was told. Unowned series cost one flag test.
// Every change in place comes here first: the modification stamp is reset
// (again after the owner's handler, which may have run the series as code).
bool notify(const Cell& value, std::optional<words::Word> w, const Cell* new_value,
            std::int32_t index, std::int32_t part) {
    memory::touch(value.series_node());
    if ((memory::buffer(value.series_node())->flags & memory::flag_owned) == 0) return false;
    Cell action{};
    if (w) action = words::word(*w);
    else word::make_kind_at(TypeId::word, "remove", action);  // not among the start-up words
    return ownership::check_owner(value, action, new_value, index, part);
}

// Sets the result slot to the shared none cell.
Cell* none_result(Cell* slot) {
    *slot = none::value;
    return slot;
}

Cell* logic_result(Cell* slot, bool v) {
    logic::make_at(*slot, v);
    return slot;
}

// Removes count units at index (from the first unit), closing the gap.
void cut_units(const Cell& v, std::int32_t index, std::int32_t count) {
    SeriesBuffer* buf = memory::buffer(v.series_node());
    const std::int32_t len = buffer_length(v);
    if (index >= len || count < 1) return;
    memory::touch(v.series_node());
    const std::uint32_t unit = buf->unit();
    std::uint8_t* at = buf->head + static_cast<std::ptrdiff_t>(index) * unit;
    if (index + count >= len) {
        buf->tail = at;
        return;
    }
    std::memmove(at, at + static_cast<std::ptrdiff_t>(count) * unit,
                 static_cast<std::size_t>(len - index - count) * unit);
    buf->tail -= static_cast<std::ptrdiff_t>(count) * unit;
}

// Opens a gap of count units at index of v's buffer and copies bytes into it.
void insert_units(const Cell& v, std::int32_t index, const std::uint8_t* bytes, std::int32_t count) {
    const std::uint32_t unit = unit_of(v);
    const std::int32_t len = buffer_length(v);
    const std::int32_t need = static_cast<std::int32_t>(count * static_cast<std::int32_t>(unit));
    buffer::grow_tail(v.series_node(), need);
    std::uint8_t* at = unit_at(v, index);
    std::memmove(at + need, at, static_cast<std::size_t>(len - index) * unit);
    std::memcpy(at, bytes, static_cast<std::size_t>(need));
}

}  // namespace

// --- Shared operations ------------------------------------------------------------

bool at_tail_q(const Cell& value) { return value.series_head() >= buffer_length(value); }

std::int32_t buffer_length(const Cell& value) {
    const SeriesBuffer* buf = memory::buffer(value.series_node());
    return buf->used_bytes() / static_cast<std::int32_t>(buf->unit());
}

bool advance(Cell& value, std::int32_t n) {
    const std::int32_t len = buffer_length(value);
    const std::int64_t h = static_cast<std::int64_t>(value.series_head()) + n;
    if (h <= len) value.set_series_head(static_cast<std::int32_t>(h));
    return value.series_head() >= len;
}

std::int32_t get_length(Cell& value, bool from_first) {
    const std::int32_t len = buffer_length(value);
    if (from_first) return len;
    if (value.series_head() > len) {
        value.set_series_head(len);
        return 0;
    }
    return len - std::max(value.series_head(), 0);
}

std::int32_t at_index(std::int32_t h, std::int32_t n, std::int32_t length) {
    const std::int64_t p = n >= 1 ? static_cast<std::int64_t>(h) + n - 1 : static_cast<std::int64_t>(h) + n;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(p, 0, length));
}

std::int32_t skip_index(std::int32_t h, std::int32_t n, std::int32_t length) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(static_cast<std::int64_t>(h) + n, 0, length));
}

bool pick(const Cell& value, std::int32_t i, Cell& out) {
    if (i == 0) return false;
    const std::int64_t p = i > 0 ? static_cast<std::int64_t>(value.series_head()) + i - 1
                                 : static_cast<std::int64_t>(value.series_head()) + i;
    if (p < 0 || p >= buffer_length(value)) return false;
    const auto at = static_cast<std::int32_t>(p);
    const TypeId t = value.type();
    if (is_any_block_type(t) || t == TypeId::map) {
        out = *block::get_cell(value, at);
    } else if (t == TypeId::binary) {
        out = int_cell(*unit_at(value, at));
    } else if (is_any_string_type(t)) {
        out.reset(TypeId::char_);
        out.set_char(string::get_char(unit_at(value, at), unit_of(value)));
    } else {
        runtime::raise_error(ErrorCategory::internal, "not-done");  // vector! elements: its own module
    }
    return true;
}

NodeId copy_units(const Cell& value, std::int32_t start, std::int32_t count) {
    const SeriesBuffer* src = memory::buffer(value.series_node());
    const std::uint32_t unit = src->unit();
    const std::int32_t len = src->used_bytes() / static_cast<std::int32_t>(unit);
    start = std::clamp(start, 0, len);
    count = std::clamp(count, 0, len - start);  // never read outside the source
    // the source's own flags (bitset! complement, ...), not the memory manager's nor owned
    constexpr std::uint32_t manager_bits = memory::flag_owned | memory::flag_fixed |
        memory::flag_large | memory::flag_pinned | memory::flag_marked |
        memory::flag_head_middle | memory::flag_made | memory::flag_in_use | memory::unit_mask;
    const std::uint32_t flags = src->flags & ~manager_bits;
    const NodeId node = memory::alloc_series(std::max(count, 1), unit, 0);
    src = memory::buffer(value.series_node());  // the allocation may have moved it
    SeriesBuffer* dst = memory::buffer(node);
    const std::size_t bytes = static_cast<std::size_t>(count) * unit;
    std::memcpy(dst->head, src->head + static_cast<std::ptrdiff_t>(start) * unit, bytes);
    dst->tail = dst->head + bytes;
    dst->flags |= flags;
    return node;
}

NodeId take_scratch(std::uint32_t unit) {
    KIV_ASSERT(unit >= 1 && unit < scratch.size(), "unit size of a series");
    if (scratch[unit] == 0) {
        scratch[unit] = memory::alloc_series(16, unit, 0);
        collector::set_root(collector::RootStep::take_scratch, mark_scratch);
    }
    SeriesBuffer* buf = memory::buffer(scratch[unit]);
    buf->tail = buf->head;
    return scratch[unit];
}

// --- Handlers, in action order --------------------------------------------------------

namespace {

Cell* random(Cell* s, const RandomRefinements& how) {
    if (how.seed) {
        const std::int32_t h = clamped_head(*s);
        const SeriesBuffer* buf = memory::buffer(s->series_node());
        const std::uint8_t* from = buf->head + static_cast<std::ptrdiff_t>(h) * buf->unit();
        const std::uint32_t hash = hashtable::murmur3_bytes(from, static_cast<std::size_t>(buf->tail - from));
        random::seed(hash);
        s->reset(TypeId::unset);
        return s;
    }
    const std::int32_t len = get_length(*s, false);
    if (how.only) {
        if (len < 1) return none_result(s);
        Cell out{};
        pick(*s, random::in_range(how.secure, len), out);
        *s = out;
        return s;
    }
    const std::int32_t h = clamped_head(*s);
    const Cell series = *s;
    const bool told = notify(series, words::Word::random, nullptr, h, len);
    const std::uint32_t unit = unit_of(series);
    std::vector<std::uint8_t> tmp(unit);
    for (std::int32_t i = 0; i < len; ++i) {  // the last position draws too: seeded sequences count on it
        const std::int32_t r = random::in_range(how.secure, len - i) - 1;
        if (r == 0) continue;
        std::uint8_t* a = unit_at(series, h + i);
        std::uint8_t* b = unit_at(series, h + i + r);
        std::swap_ranges(a, a + unit, b);
    }
    if (told) notify(series, words::Word::randomized, nullptr, h, len);
    return s;
}

Cell* reflect(Cell* s, Cell* field) {
    if (!word::is_any_word(field->type()) ||
        symbol::resolve_alias(field->word_symbol()) != symbol::resolve_alias(words::id(words::Sym::owned)))
        runtime::raise_error(ErrorCategory::internal, "not-done");
    const Cell* owner = ownership::find_owner(s->series_node());
    if (owner == nullptr) return none_result(s);
    const Cell pair[2] = {owner[0], owner[1]};
    Cell blk{};
    block::make_at(blk, 2);
    block::append_copy(blk, pair[0]);
    block::append_copy(blk, pair[1]);
    *s = blk;
    return s;
}

Cell* at(Cell* s, Cell* offset) {
    if (!offset->is(TypeId::integer)) invalid_arg(*offset);
    s->set_series_head(at_index(s->series_head(), offset->int_value(), buffer_length(*s)));
    return s;
}

Cell* back(Cell* s) {
    if (s->series_head() > 0) s->set_series_head(std::min(s->series_head() - 1, buffer_length(*s)));
    return s;
}

Cell* clear(Cell* s) {
    const Cell series = *s;
    const std::int32_t h = clamped_head(series);
    const std::int32_t len = buffer_length(series) - h;
    if (len < 1) return s;
    const bool told = notify(series, words::Word::clear, nullptr, h, len);
    SeriesBuffer* buf = memory::buffer(series.series_node());
    buf->tail = buf->head + static_cast<std::ptrdiff_t>(h) * buf->unit();
    if (told) notify(series, words::Word::cleared, nullptr, h, len);
    return s;
}

Cell* copy(Cell* s, Cell* part, bool, Cell*) {
    const std::int32_t h = std::max(s->series_head(), 0);
    const std::int32_t len = buffer_length(*s);
    std::int64_t start = h;
    std::int64_t m = std::max(len - h, 0);
    if (part != nullptr) {
        m = part_count(*s, *part, s->series_head());
        if (m < 0) {
            start += m;
            m = -m;
            if (start < 0) {
                start = 0;
                m = h;
            }
        }
    }
    if (start > len) {
        start = len;
        m = 0;
    }
    if (start + m > len) m = len - start;
    const NodeId node = copy_units(*s, static_cast<std::int32_t>(start), static_cast<std::int32_t>(m));
    s->set_series_node(node);
    s->set_series_head(0);  // type, new-line marker and vector! element type stay
    return s;
}

Cell* head(Cell* s) {
    s->set_series_head(0);
    return s;
}

Cell* head_q(Cell* s) { return logic_result(s, s->series_head() <= 0); }

Cell* index_q(Cell* s) {
    *s = int_cell(s->series_head() + 1);
    return s;
}

std::int32_t length_q(Cell* s) { return get_length(*s, false); }

Cell* move(Cell* source, Cell* target, Cell* part) {
    const TypeId tt = target->type();
    if (!is_any_block_type(tt) && !is_any_string_type(tt) && tt != TypeId::binary && tt != TypeId::vector &&
        tt != TypeId::image) {
        Cell fn = words::word(words::Word::move), dt{}, arg{};
        datatype::make_at(tt, dt);
        word::make_kind_at(TypeId::word, "target", arg);
        runtime::raise_error(ErrorCategory::script, "expect-arg", &fn, &dt, &arg);
    }
    const Cell src = *source;
    Cell dst = *target;
    const TypeId st = src.type();
    const std::int32_t s = clamped_head(src);
    std::int32_t count = 1;
    if (part != nullptr) count = part_count(src, *part, src.series_head());
    if (at_tail_q(src) || count < 1) return target;
    count = std::min(count, buffer_length(src) - s);

    if (src.series_node() != dst.series_node()) {
        if ((is_any_block_type(st) && is_any_string_type(tt)) || (is_any_string_type(st) && is_any_block_type(tt)) ||
            (unit_of(src) != unit_of(dst) &&
             (st == TypeId::binary || st == TypeId::vector || tt == TypeId::binary || tt == TypeId::vector)) ||
            (unit_of(src) != unit_of(dst) && !(is_any_string_type(st) && is_any_string_type(tt)))) {
            Cell d1{}, d2{};
            datatype::make_at(st, d1);
            datatype::make_at(tt, d2);
            runtime::raise_error(ErrorCategory::script, "move-bad", &d1, &d2);
        }
        const std::int32_t t = clamped_head(dst);
        const bool told = notify(dst, words::Word::move, nullptr, t, count);
        if (unit_of(src) == unit_of(dst)) {
            const std::uint32_t unit = unit_of(src);
            std::vector<std::uint8_t> moved(unit_at(src, s), unit_at(src, s) + static_cast<std::ptrdiff_t>(count) * unit);
            insert_units(dst, t, moved.data(), count);
            cut_units(src, s, count);
        } else {
            Cell from = src;
            from.set_series_head(s);
            dst.set_series_head(t);
            string::move_chars(from, dst, count);
        }
        hash::reindex(dst);  // a hash! target indexes the cells it received
        if (told) notify(dst, words::Word::moved, nullptr, t, count);
        return target;
    }

    // One buffer: the moved units are kept aside while the rest shifts.
    const std::int32_t len = buffer_length(src);
    const std::int32_t t = clamped_head(dst);
    if (t == s) return target;
    if (t > s) {
        if (t != len && len - t < count) return source;
        if (t < s + count - 1) return target;  // inside the moved range: nothing sensible to do
    }
    const bool told = notify(dst, words::Word::move, nullptr, t, count);
    const std::uint32_t unit = unit_of(src);
    std::vector<std::uint8_t> moved(unit_at(src, s), unit_at(src, s) + static_cast<std::ptrdiff_t>(count) * unit);
    if (t > s) {
        const std::int32_t end = t == len ? len : t + 1;  // units up to and including t shift down
        std::memmove(unit_at(src, s), unit_at(src, s + count),
                     static_cast<std::size_t>(end - s - count) * unit);
        std::memcpy(unit_at(src, end - count), moved.data(), moved.size());
    } else {
        std::memmove(unit_at(src, t + count), unit_at(src, t), static_cast<std::size_t>(s - t) * unit);
        std::memcpy(unit_at(src, t), moved.data(), moved.size());
    }
    if (told) notify(dst, words::Word::moved, nullptr, t, count);
    return target;
}

Cell* next(Cell* s) {
    advance(*s, 1);
    return s;
}

Cell* pick_handler(Cell* s, Cell* index) {
    Cell out{};
    if (!pick(*s, int_arg(*index), out)) return none_result(s);
    *s = out;
    return s;
}

Cell* poke(Cell* s, Cell* index, Cell* value) {
    const Cell series = *s;
    const Cell v = *value;
    const std::int32_t i = int_arg(*index);
    const std::int64_t p = i > 0 ? static_cast<std::int64_t>(series.series_head()) + i - 1
                                 : static_cast<std::int64_t>(series.series_head()) + i;
    if (i == 0 || p < 0 || p >= buffer_length(series))
        runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    const auto at = static_cast<std::int32_t>(p);
    const TypeId t = series.type();
    std::uint8_t byte = 0;
    if (t == TypeId::binary) {
        // an integer or a char is stored as its low byte
        if (v.is(TypeId::char_)) byte = static_cast<std::uint8_t>(v.char_value());
        else if (v.is(TypeId::integer)) byte = static_cast<std::uint8_t>(v.int_value());
        else invalid_arg(v);
    } else if (is_any_string_type(t)) {
        if (!v.is(TypeId::char_)) invalid_arg(v);
    } else if (!is_any_block_type(t)) {
        runtime::raise_error(ErrorCategory::internal, "not-done");  // vector! stores through its module
    }
    const bool told = notify(series, words::Word::poke, &v, at, 1);
    if (is_any_block_type(t)) *block::get_cell(series, at) = v;
    else if (t == TypeId::binary) *unit_at(series, at) = byte;
    else string::poke_char(series.series_node(), at, v.char_value());
    if (told) notify(series, words::Word::poked, &v, at, 1);
    *s = v;
    return s;
}

Cell* remove(Cell* s, Cell* part, Cell* key) {
    const Cell series = *s;
    std::int32_t start = clamped_head(series);
    std::int32_t m = 1;
    if (part != nullptr) m = part_count(series, *part, series.series_head());
    if (m < 1) return s;
    if (key != nullptr) {
        auto find = registry::handler<Action::find>(series.type());
        if (find == nullptr) runtime::raise_error(ErrorCategory::internal, "not-done");
        Cell where = series, k = *key;
        FindRefinements refinements;
        refinements.case_ = true;
        const Cell* found = find(&where, &k, refinements);
        if (!found->is(series.type())) return none_result(s);
        start = found->series_head();
        m += 1;
    }
    if (start < buffer_length(series)) {
        const bool told = notify(series, std::nullopt, nullptr, start, m);
        cut_units(series, start, m);
        if (told) notify(series, words::Word::removed, nullptr, start, m);
    }
    s->set_series_head(start);
    return s;
}

Cell* reverse(Cell* s, Cell* part, Cell* skip) {
    const Cell series = *s;
    if (at_tail_q(series)) return s;
    const std::int32_t h = clamped_head(series);
    std::int32_t m = buffer_length(series) - h;
    if (part != nullptr) m = part_count(series, *part, series.series_head());
    if (m < 1) return s;
    std::int32_t size = 1;
    if (skip != nullptr) {
        if (!skip->is(TypeId::integer)) invalid_refine_arg(words::Ref::skip, *skip);
        size = skip->int_value();
        if (size == m) return s;
        if (size < 1) runtime::raise_error(ErrorCategory::script, "out-of-range", skip);
        if (m < size || m % size != 0) invalid_refine_arg(words::Ref::skip, *skip);
    }
    m = std::min(m, buffer_length(series) - h);  // only whole records inside the tail move
    const std::int32_t records = m / size;
    const bool told = notify(series, words::Word::reverse, nullptr, h, m);
    const std::size_t bytes = static_cast<std::size_t>(size) * unit_of(series);
    for (std::int32_t a = 0, b = records - 1; a < b; ++a, --b) {
        std::uint8_t* x = unit_at(series, h + a * size);
        std::swap_ranges(x, x + bytes, unit_at(series, h + b * size));
    }
    if (told) notify(series, words::Word::reversed, nullptr, h, m);
    return s;
}

Cell* skip(Cell* s, Cell* offset) {
    if (!offset->is(TypeId::integer)) invalid_arg(*offset);
    s->set_series_head(skip_index(s->series_head(), offset->int_value(), buffer_length(*s)));
    return s;
}

Cell* tail(Cell* s) {
    s->set_series_head(buffer_length(*s));
    return s;
}

Cell* tail_q(Cell* s) { return logic_result(s, at_tail_q(*s)); }

}  // namespace

Cell* take(Cell* s, Cell* part, bool, bool last) {
    const Cell series = *s;
    const std::int32_t len = buffer_length(series);
    const std::int32_t h = clamped_head(series);
    std::int32_t a = len - h;
    if (a < 1) return none_result(s);
    std::int32_t m = 1;
    bool before_head = false;
    if (part != nullptr) {
        if (part->is(TypeId::integer)) {
            m = part->int_value();
        } else if (part->type() == series.type() && part->series_node() == series.series_node()) {
            const std::int32_t p = std::clamp(part->series_head(), 0, len);
            m = p < h ? 0 : last ? len - p : p - h;
        } else {
            invalid_refine_arg(words::Ref::part, *part);
        }
        before_head = m <= 0;  // a /part of 0 takes nothing (see below)
    }
    if (m < 0) {
        a = h;
        m = last ? 1 : m == INT32_MIN ? INT32_MAX : -m;  // min(m, a) follows: a <= INT32_MAX
    }
    m = std::min(m, a);
    std::int32_t from = h;
    std::int32_t count = std::max(m, 1);
    if (last) {
        from = len - count;
    } else if (before_head) {
        if (m <= 0 || h < count) count = 0;  // no room before the head, or /part 0
        else from = h - count;
    }
    if (before_head && last) count = 0;
    const bool told = notify(series, words::Word::take, part, from, count);
    Cell result = series;
    result.set_series_head(0);
    if (part == nullptr) {
        const NodeId node = take_scratch(unit_of(series));
        const std::uint32_t unit = unit_of(series);
        std::uint8_t* dst = buffer::grow_tail(node, static_cast<std::int32_t>(count * static_cast<std::int32_t>(unit)));
        std::memcpy(dst, unit_at(series, from), static_cast<std::size_t>(count) * unit);
        result.set_series_node(node);
    } else {
        result.set_series_node(copy_units(series, from, count));
    }
    cut_units(series, from, count);
    if (told) notify(series, words::Word::taken, part, from, count);
    *s = result;
    return s;
}

namespace {

Cell* modify(Cell* s, Cell* field, Cell* value, bool) {
    if (word::is_any_word(field->type()) &&
        symbol::resolve_alias(field->word_symbol()) == symbol::resolve_alias(words::id(words::Sym::owned))) {
        if (value->is(TypeId::none)) {
            ownership::unset_owner_deep(*s);
        } else if (value->is(TypeId::block) && block::count_from_head(*value) >= 2) {
            Cell blk = *value;
            const Cell owner = *block::head_cell(blk);
            const Cell word = *(block::head_cell(blk) + 1);
            ownership::set_owner_deep(*s, owner, word);
        }
    }
    *s = *value;
    return s;
}

constexpr registry::Registration registration{TypeId::series, registry::table({
        {Action::random,   random},
        {Action::reflect,  reflect},
        {Action::at,       at},
        {Action::back,     back},
        {Action::clear,    clear},
        {Action::copy,     copy},
        {Action::head,     head},
        {Action::head_q,   head_q},
        {Action::index_q,  index_q},
        {Action::length_q, length_q},
        {Action::move,     move},
        {Action::next,     next},
        {Action::pick,     pick_handler},
        {Action::poke,     poke},
        {Action::remove,   remove},
        {Action::reverse,  reverse},
        {Action::skip,     skip},
        {Action::tail,     tail},
        {Action::tail_q,   tail_q},
        {Action::take,     take},
        {Action::modify,   modify},  // ORDER ACTIONS
    })};

}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::series
