// block! actions: make/to, form/mold, path steps, comparison, search, the
// in-place changes (append, insert, change, put, sort, swap, take, trim) and
// the set operations; paren! and the paths inherit them. Cells a change writes
// are copied out first, since the target may be their source; the series
// layer (block.cpp) supplies positions, copies and the mold walk.
#include "runtime/datatypes/block_actions.h"

#include "runtime/core/buffer.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/services.h"
#include "runtime/io/lexer.h"
#include "runtime/core/raise.h"
#include "runtime/core/sorting.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kiv::block {
namespace {

constexpr std::int32_t cell_size = static_cast<std::int32_t>(sizeof(Cell));

// The series types whose values a deep copy replaces by copies.
bool is_copied_series(TypeId t) {
    return is_any_block_type(t) || is_any_string_type(t) || t == TypeId::binary ||
           t == TypeId::vector || t == TypeId::image;
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

[[noreturn]] void no_memory() { runtime::raise_error(ErrorCategory::internal, "no-memory"); }

Cell* none_result(Cell* slot) {
    *slot = none::value;
    return slot;
}

// Tells the series' owner about a change; true when one was told. Unowned
// series cost one flag test.
// Every change in place comes here first, so the modification stamp is
// reset here (and again after the owner's handler ran: it may have run the
// block as code before the change).
bool notify(const Cell& s, const Cell& action, const Cell* new_value, std::int32_t index,
            std::int32_t part) {
    memory::touch(s.series_node());
    if ((memory::buffer(s.series_node())->flags & memory::flag_owned) == 0) return false;
    return ownership::check_owner(s, action, new_value, index, part);
}

// The hash index of a hash! value, or 0.
NodeId index_of(const Cell& s) { return s.is(TypeId::hash) ? s.series_extra() : 0; }

// Brings a hash! index back in line with its block after cells moved.
void reindex(const Cell& s) { hash::reindex(s); }

// Ordering of two cells as the comparison dispatch gives it; -2 when the
// first value's type has no comparison.
std::int32_t order_of(Cell a, Cell b, CompareOp op) {
    if (registry::handler<Action::compare>(a.type()) == nullptr) return not_comparable;
    return actions::compare_order(&a, &b, op);
}

// Equality of find, select, put and the set operations (0 is equal).
bool cells_equal(const Cell& value, const Cell& candidate, CompareOp op) {
    auto compare = registry::handler<Action::compare>(value.type());
    if (compare == nullptr) return false;
    Cell a = value, b = candidate;
    return compare(&a, &b, op) == 0;
}

// The count a /part argument gives from head h: an integer!, or the distance
// to a position of the same series; else invalid-refine-arg.
std::int32_t part_count(const Cell& s, const Cell& part, std::int32_t h) {
    if (part.is(TypeId::integer)) return part.int_value();
    if (is_any_block_type(part.type()) && part.series_node() == s.series_node()) return part.series_head() - h;
    invalid_refine_arg(words::Ref::part, part);
}

// A /skip size: an integer!, else invalid-refine-arg.
std::int32_t skip_size(const Cell& skip) {
    if (!skip.is(TypeId::integer)) invalid_refine_arg(words::Ref::skip, skip);
    return skip.int_value();
}

// The cells of value that insert, append and change write (spliced unless
// only), copied out first since the source may be the target's own buffer.
std::vector<Cell> source_cells(const Cell& value, bool only) {
    if (only || !is_any_block_type(value.type())) return {value};
    const std::int32_t h = clamped_head(value);
    const Cell* first = first_cell(value);
    return std::vector<Cell>(first + h, first + length_of(value));
}

// Where find met its value: the cell position and the matched run's length.
struct Match {
    std::int32_t position = -1;
    std::int32_t run = 1;
    std::int32_t step = 1;
    bool backward = false;
};

// The search of find and select; position -1 when nothing matched.
Match search(const Cell& s, const Cell& value, const FindRefinements& r) {
    Match m;
    const std::int32_t len = length_of(s);
    std::int32_t head = std::max(s.series_head(), 0);
    if (len == 0) return m;
    if (head >= len && !r.reverse) return m;
    head = std::min(head, len);
    if (r.skip != nullptr) {
        m.step = skip_size(*r.skip);
        if (m.step < 1) runtime::raise_error(ErrorCategory::script, "out-of-range", r.skip);
    }
    std::int32_t limit = len - 1;  // the last cell examined
    if (r.part != nullptr) {
        if (r.part->is(TypeId::integer)) {
            if (r.part->int_value() < 1) return m;
            limit = static_cast<std::int32_t>(std::min<std::int64_t>(
                static_cast<std::int64_t>(head) + r.part->int_value() - 1, len - 1));
        } else if (is_any_block_type(r.part->type()) && r.part->series_node() == s.series_node()) {
            limit = std::min(r.part->series_head(), len) - 1;  // exclusive, as copy/part
            if (limit < head && !r.reverse && !r.last) return m;
        } else {
            invalid_refine_arg(words::Ref::part, *r.part);
        }
    }

    const TypeId vt = value.type();
    const bool by_type = !r.only && vt == TypeId::datatype;
    const bool by_typeset = !r.only && vt == TypeId::typeset;
    const bool run = !r.only && is_any_block_type(vt);
    std::vector<Cell> wanted;
    if (run) wanted = source_cells(value, false);
    m.run = run ? static_cast<std::int32_t>(wanted.size()) : 1;
    const CompareOp op = r.same ? CompareOp::same : r.case_ ? CompareOp::strict_equal : CompareOp::find;
    m.backward = r.reverse || r.last;

    const NodeId table = index_of(s);
    if (table != 0 && !r.match && !run && !by_type && !by_typeset &&
        (r.same || vt != TypeId::object) && (m.step == 1 || !m.backward)) {
        if (!m.backward) {
            std::int32_t at = hashtable::find(table, value, head, limit + 1, op, 0);
            while (at >= 0 && (at - head) % m.step != 0) at = hashtable::find_next(table, value, at, op);
            if (at > limit) at = -1;
            m.position = at;
        } else {
            const std::int32_t start = r.part != nullptr ? limit : r.reverse ? head - 1 : len - 1;
            m.position = start < 0 ? -1 : hashtable::find(table, value, 0, start + 1, op, hashtable::find_reverse);
        }
        return m;
    }

    auto matches = [&](std::int32_t i) {
        const Cell* c = get_cell(s, i);
        if (by_type) return c->type() == value.datatype_id();
        if (by_typeset) return typeset::contains(value, c->type());
        if (!run) return cells_equal(value, *c, op);
        for (std::int32_t k = 0; k < m.run; ++k)
            if (!cells_equal(wanted[static_cast<std::size_t>(k)], *get_cell(s, i + k), op)) return false;
        return true;
    };

    if (!m.backward) {
        for (std::int32_t i = head; i <= limit && i + m.run - 1 <= limit;
             i = series::step_to(i, m.step, limit + 1)) {
            if (matches(i)) {
                m.position = i;
                return m;
            }
            if (r.match) break;
        }
        return m;
    }
    std::int32_t start = r.part != nullptr ? limit - m.run + 1
                       : r.reverse ? head - m.run : len - m.run;
    start = std::min(start, len - m.run);
    for (std::int32_t i = start; i >= 0; i -= m.step) {
        if (matches(i)) {
            m.position = i;
            return m;
        }
        if (r.match) break;
    }
    return m;
}

// Deep-copies every series among count cells of blk from index (take /deep).
void copy_series_cells(const Cell& blk, std::int32_t index, std::int32_t count) {
    for (std::int32_t i = index; i < index + count; ++i) {
        Cell c = *get_cell(blk, i);
        if (!is_copied_series(c.type())) continue;
        auto copier = registry::handler<Action::copy>(c.type());
        if (copier == nullptr) continue;
        const Cell made = *copier(&c, nullptr, true, nullptr);
        *get_cell(blk, i) = made;
    }
}

// What the sort comparators read from their flags word.
constexpr std::uintptr_t sort_reverse = 1;
constexpr std::uintptr_t sort_records = 2;
constexpr int sort_shift = 2;

// Sort order of two cells: the compare handler's, or the order of the type
// ids when the values cannot be compared.
// The sort order ranks by type id first (integer!, float! and percent! rank
// together, by value), so that mixed blocks sort the same whatever their
// order: comparisons across types are not transitive (2 < #"c", 1.5 < 2).
int sort_rank(TypeId t) {
    return static_cast<int>(t == TypeId::float_ || t == TypeId::percent ? TypeId::integer : t);
}

int sort_order(const Cell& a, const Cell& b, std::int32_t op) {
    if (const int by_rank = sort_rank(a.type()) - sort_rank(b.type())) return by_rank;
    const std::int32_t r = order_of(a, b, static_cast<CompareOp>(op));
    if (r == not_comparable) return static_cast<int>(a.type()) - static_cast<int>(b.type());
    return r;
}

int sort_compare(const void* a, const void* b, std::int32_t op, std::uintptr_t flags) {
    const Cell* x = static_cast<const Cell*>(a);
    const Cell* y = static_cast<const Cell*>(b);
    if (flags & sort_reverse) std::swap(x, y);
    if (flags & sort_records) {
        const auto size = static_cast<std::int32_t>(flags >> sort_shift);
        for (std::int32_t k = 0; k < size; ++k)
            if (const int r = sort_order(x[k], y[k], op)) return r;
        return 0;
    }
    const auto field = static_cast<std::ptrdiff_t>(flags >> sort_shift);
    return sort_order(x[field], y[field], op);
}

// State of a sort by a language function (its address travels in flags).
struct FunctionSort {
    Cell fn;
    bool reverse;
    std::int32_t record;      // cells per record handed over as a block; 0: one cell
    Cell scratch[2];          // the two record blocks
};

int sort_compare_function(const void* a, const void* b, std::int32_t, std::uintptr_t flags) {
    FunctionSort& f = *reinterpret_cast<FunctionSort*>(flags);
    Cell args[2] = {*static_cast<const Cell*>(a), *static_cast<const Cell*>(b)};
    if (f.record > 0) {
        for (int k = 0; k < 2; ++k) {
            Cell& blk = f.scratch[k];
            set_tail(blk, f.record);  // the function may have changed the record block
            std::memcpy(first_cell(blk), k == 0 ? a : b, static_cast<std::size_t>(f.record) * sizeof(Cell));
            args[k] = blk;
        }
    }
    const Cell result = callback::call(f.fn, {f.reverse ? args[0] : args[1], f.reverse ? args[1] : args[0]},
                                       words::word(words::Word::sort));
    switch (result.type()) {
    case TypeId::logic: return result.logic_value() ? 1 : -1;
    case TypeId::integer: return result.int_value() > 0 ? 1 : result.int_value() < 0 ? -1 : 0;
    case TypeId::float_: return result.f64() > 0 ? 1 : result.f64() < 0 ? -1 : 0;
    case TypeId::none: return -1;
    default: return 1;
    }
}

Cell path_result{};  // the value a path step reads, handed back by address

}  // namespace

// --- Handlers, in action order ----------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type) {
    const Cell v = *spec;
    Cell made{};
    switch (v.type()) {
    case TypeId::integer: case TypeId::float_:
        make_at(made, integer::from_number(v));
        break;
    case TypeId::object: case TypeId::map: {
        Cell field{};
        word::make_at(words::id(words::Sym::body), field);
        auto reflect = registry::handler<Action::reflect>(v.type());
        if (reflect == nullptr) datatype::raise_bad_make_arg(type, v);
        Cell value = v;
        made = *reflect(&value, &field);
        if (!is_any_block_type(made.type())) datatype::raise_bad_make_arg(type, v);
        break;
    }
    case TypeId::vector:
        return to(proto, spec, type);
    default:
        if (!is_any_block_type(v.type())) datatype::raise_bad_make_arg(type, v);
        clone(made, v, false, false);
        break;
    }
    made.set_type(type);
    made.set_new_line(false);
    made.set_series_extra(0);
    if (type == TypeId::hash) made.set_series_extra(hashtable::create(length_of(made), &made, hashtable::Kind::hash));
    *proto = made;
    return proto;
}

Cell* to(Cell* proto, Cell* value, TypeId type) {
    const Cell v = *value;
    Cell made{};
    if (is_any_block_type(v.type())) {
        clone(made, v, false, false);
    } else if (v.is(TypeId::object) || v.is(TypeId::map)) {
        return make(proto, value, type);
    } else if (v.is(TypeId::typeset)) {
        typeset::to_block(v, made);
    } else if (v.is(TypeId::string)) {
        Cell text = v;
        lexer::ScanRequest request;
        lexer::scan_string(&made, text, -1, request, nullptr);
        if (!is_any_block_type(made.type())) make_at(made, 1);
    } else if (v.is(TypeId::vector)) {
        auto pick = registry::handler<Action::pick>(TypeId::vector);
        if (pick == nullptr) runtime::raise_error(ErrorCategory::internal, "not-done");
        Cell vec = v;
        const std::int32_t n = series::get_length(vec, false);
        make_at(made, n);
        for (std::int32_t i = 1; i <= n; ++i) {
            Cell slot = vec, index = int_cell(i);
            const Cell element = *pick(&slot, &index);
            append_copy(made, element);
        }
    } else {
        make_at(made, 1);
        Cell one = v;
        one.set_new_line(false);
        append_copy(made, one);
    }
    made.set_type(type);
    made.set_new_line(false);
    made.set_series_extra(0);
    if (type == TypeId::hash) made.set_series_extra(hashtable::create(length_of(made), &made, hashtable::Kind::hash));
    *proto = made;
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    if (cycles::mold_cycle_marker(*value, out, part, false)) return part;
    return form_cells(*value, out, arg, part);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent) {
    if (cycles::mold_cycle_marker(*value, out, part, true)) return part;
    if (!options.only) {
        string::append_char(out, '[');
        --part;
    }
    part = mold_cells(*value, out, options, arg, part, indent);
    if (!options.only) {
        string::append_char(out, ']');
        --part;
    }
    return part;
}

Cell* eval_path(Cell* blk, Cell* element, Cell* new_value, const PathStep& step) {
    Cell b = *blk;
    if (element->is(TypeId::integer)) {
        if (new_value == nullptr) {
            path_result = none::value;
            series::pick(b, element->int_value(), path_result);
            return &path_result;
        }
        auto poke = registry::handler<Action::poke>(b.type());
        Cell index = *element, v = *new_value;
        poke(&b, &index, &v);
        return new_value;
    }
    if (new_value == nullptr) {
        if (element->is(TypeId::word) && !b.is(TypeId::hash)) {
            path_result = select_word(b, *element, false);
            return &path_result;
        }
        FindRefinements r;
        r.only = true;
        const Match m = search(b, *element, r);
        const std::int32_t after = m.position + 1;
        path_result = m.position >= 0 && after < length_of(b) ? *get_cell(b, after) : none::value;
        return &path_result;
    }
    FindRefinements r;
    r.only = true;
    const Match m = search(b, *element, r);
    if (m.position < 0) {
        const Cell path = step.path != nullptr ? *step.path : b;
        runtime::raise_error(ErrorCategory::script, "bad-path-set", &path, element);
    }
    const Cell v = *new_value;
    const std::int32_t after = m.position + 1;
    const bool told = notify(b, words::word(words::Word::poke), &v, after, 1);
    if (after < length_of(b)) *get_cell(b, after) = v;
    else append_copy(b, v);  // a key at the tail gets its value appended
    if (index_of(b) != 0) reindex(b);
    if (told) notify(b, words::word(words::Word::poked), &v, after, 1);
    return new_value;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    const Cell a = *value1, b = *value2;
    if (a.type() != b.type()) {
        const bool parse = op == CompareOp::parse_strict || op == CompareOp::parse_equal;
        const bool paths = (a.is(TypeId::path) && b.is(TypeId::lit_path)) ||
                           (a.is(TypeId::lit_path) && b.is(TypeId::path));
        if (!(parse && paths)) return not_comparable;
    }
    const bool same_place = a.series_node() == b.series_node() && a.series_head() == b.series_head();
    if (op == CompareOp::same) return same_place ? 0 : -1;
    if (same_place) return 0;
    if (cycles::find(a.series_node())) return cycles::find(b.series_node()) ? 0 : -1;
    const std::int32_t l1 = std::max(length_of(a) - std::max(a.series_head(), 0), 0);
    const std::int32_t l2 = std::max(length_of(b) - std::max(b.series_head(), 0), 0);
    const bool equality = is_equality(op) || op == CompareOp::parse_strict || op == CompareOp::parse_equal;
    if (l1 != l2 && equality) return 1;
    if (l1 == 0) return 0;
    cycles::Guard guard1(a.series_node());
    cycles::Guard guard2(b.series_node());
    const std::int32_t pairs = std::min(l1, l2);
    for (std::int32_t i = 0; i < pairs; ++i) {
        // A compare handler may run code that shortens a block: never read past a tail.
        if (a.series_head() + i >= length_of(a) || b.series_head() + i >= length_of(b)) break;
        const Cell x = *get_cell(a, a.series_head() + i);
        const Cell y = *get_cell(b, b.series_head() + i);
        const TypeId tx = x.type(), ty = y.type();
        const auto number = [](TypeId t) {
            return t == TypeId::integer || t == TypeId::float_ || t == TypeId::percent;
        };
        const bool comparable = tx == ty || (word::is_any_word(tx) && word::is_any_word(ty)) ||
                                (number(tx) && number(ty));
        if (!comparable) return tx < ty ? -1 : 1;
        std::int32_t r = order_of(x, y, op);
        if (r == not_comparable) return tx < ty ? -1 : tx > ty ? 1 : -1;
        if (r != 0) return r;
    }
    return l1 < l2 ? -1 : l1 > l2 ? 1 : 0;
}

namespace {

// insert and append: the worker, with at_tail for append.
Cell* insert_at(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t dup,
                bool at_tail) {
    Cell s = *series;
    // The usual append: one value at the tail of a block that no index and no
    // owner watches, straight into the room after the tail when there is some.
    if (at_tail && dup == 1 && part != 0 && (only || !is_any_block_type(value->type())) &&
        index_of(s) == 0 &&
        (memory::buffer(s.series_node())->flags & memory::flag_owned) == 0) {
        const Cell v = *value;
        const NodeId node = s.series_node();
        if ((static_cast<std::int64_t>(length_of(s)) + 1) * cell_size > INT32_MAX) no_memory();
        SeriesBuffer* b = memory::buffer(node);
        Cell* const cell = b->tail + cell_size <= b->data_end()
                               ? reinterpret_cast<Cell*>(std::exchange(b->tail, b->tail + cell_size))
                               : reinterpret_cast<Cell*>(buffer::grow_tail(node, cell_size));
        *cell = v;
        memory::touch(node);
        s.set_series_head(0);
        *series = s;
        return series;
    }
    // One value (the usual append) is copied into a cell here, without a vector.
    const Cell single = *value;
    const bool splice = !only && is_any_block_type(single.type());
    std::vector<Cell> spliced;
    if (splice) spliced = source_cells(single, false);
    const Cell* const cells = splice ? spliced.data() : &single;
    const auto n = splice ? static_cast<std::int32_t>(spliced.size()) : 1;
    const std::int32_t len = length_of(s);
    if (s.series_head() > len) s.set_series_head(len);
    if (s.series_head() < 0) s.set_series_head(0);
    if (part < 0 || part > n) part = n;
    const std::int64_t total = static_cast<std::int64_t>(part) * std::max(dup, 0);
    if (total > INT32_MAX || (static_cast<std::int64_t>(len) + total) * cell_size > INT32_MAX) no_memory();
    const std::int32_t at = at_tail ? len : s.series_head();
    if (total > 0) {
        const Cell action = at_tail ? words::word(words::Word::append) : words::global(words::Global::insert);
        const bool told = notify(s, action, value, at, static_cast<std::int32_t>(total));
        buffer::grow_tail(s.series_node(), static_cast<std::int32_t>(total) * cell_size);
        Cell* gap = first_cell(s) + at;
        std::memmove(gap + total, gap, static_cast<std::size_t>(len - at) * sizeof(Cell));
        for (std::int64_t k = 0; k < total; ++k) gap[k] = cells[k % part];
        if (const NodeId table = index_of(s)) {
            if (at == len) hashtable::put_all(table, at, 1);
            else reindex(s);
        }
        if (told) {
            const Cell past = at_tail ? words::word(words::Word::appended) : words::word(words::Word::inserted);
            notify(s, past, value, at, static_cast<std::int32_t>(total));
        }
    }
    if (at_tail) s.set_series_head(0);
    else s.set_series_head(std::min(at + static_cast<std::int32_t>(total), length_of(s)));
    *series = s;
    return series;
}

}  // namespace

Cell* append(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t dup) {
    return insert_at(series, value, part, only, dup, true);
}

Cell* insert(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t dup) {
    return insert_at(series, value, part, only, dup, false);
}

Cell* change(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t dup) {
    Cell s = *series;
    const std::int32_t len = length_of(s);
    const std::int32_t at = std::clamp(s.series_head(), 0, len);
    const std::int32_t a = len - at;
    const std::vector<Cell> cells = source_cells(*value, only);
    const auto n = static_cast<std::int32_t>(cells.size());
    const std::int64_t d = static_cast<std::int64_t>(n) * std::max(dup, 0);
    if (d > INT32_MAX || (static_cast<std::int64_t>(len) + d) * cell_size > INT32_MAX) no_memory();
    const std::int32_t r = part >= 0 ? std::min(a, part) : static_cast<std::int32_t>(std::min<std::int64_t>(a, d));
    const bool told = notify(s, words::word(words::Word::change), value, at, static_cast<std::int32_t>(d));
    const std::int64_t delta = d - r;
    if (delta > 0) buffer::grow_tail(s.series_node(), static_cast<std::int32_t>(delta) * cell_size);
    Cell* from = first_cell(s) + at;
    if (delta != 0) {
        std::memmove(from + d, from + r, static_cast<std::size_t>(len - at - r) * sizeof(Cell));
        if (delta < 0) memory::buffer(s.series_node())->tail -= static_cast<std::ptrdiff_t>(-delta) * cell_size;
    }
    for (std::int64_t k = 0; k < d; ++k) from[k] = cells[static_cast<std::size_t>(k % n)];
    reindex(s);
    if (told) notify(s, words::word(words::Word::changed), value, at, static_cast<std::int32_t>(d));
    s.set_series_head(std::min(at + static_cast<std::int32_t>(d), length_of(s)));
    *series = s;
    return series;
}

Cell* copy(Cell* series, Cell* part, bool deep, Cell* types) {
    if (types != nullptr && !types->is(TypeId::datatype) && !types->is(TypeId::typeset))
        runtime::raise_error(ErrorCategory::script, "invalid-arg", types);
    const Cell source = *series;
    auto shallow = registry::handler<Action::copy>(TypeId::series);
    Cell result = source;
    shallow(&result, part, false, nullptr);
    if (source.is(TypeId::hash)) {
        result.set_type(TypeId::block);  // hash! rebuilds its own index from this
        result.set_series_extra(0);
    }
    if (deep || types != nullptr) {
        if (deep && cycles::find(source.series_node())) {
            cycles::reset();
            runtime::raise_error(ErrorCategory::internal, "no-cycle");
        }
        if (deep) cycles::push(source.series_node());
        struct Pop {
            bool on;
            ~Pop() { if (on) cycles::pop(); }
        } pop{deep};
        const std::int32_t n = length_of(result);
        if (types == nullptr) {
            for (std::int32_t i = 0; i < n; ++i) {
                Cell c = *get_cell(result, i);
                if (!is_copied_series(c.type())) continue;
                auto copier = registry::handler<Action::copy>(c.type());
                if (copier == nullptr) continue;
                const Cell made = *copier(&c, nullptr, true, nullptr);
                *get_cell(result, i) = made;
            }
        } else {
            copy_matching_in_place(result, 0, n, 1, deep, *types);
        }
    }
    *series = result;
    return series;
}

Cell* find(Cell* series, Cell* value, const FindRefinements& refinements) {
    const Cell s = *series;
    const Match m = search(s, *value, refinements);
    if (m.position < 0) return none_result(series);
    std::int32_t at = m.position;
    if (refinements.tail) at += m.run > 1 || m.backward ? m.run : m.step;
    series->set_series_head(std::min(at, length_of(s)));
    return series;
}

Cell* select(Cell* series, Cell* value, const FindRefinements& refinements) {
    const Cell s = *series;
    FindRefinements r = refinements;
    r.tail = r.match = false;
    const Match m = search(s, *value, r);
    const std::int32_t after = m.position + m.run;
    if (m.position < 0 || after >= length_of(s)) return none_result(series);
    *series = *get_cell(s, after);
    return series;
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    const Cell s = *series;
    const Cell k = *key, v = *value;
    FindRefinements r;
    r.only = true;  // a key is one cell, as it is appended
    r.case_ = case_;
    const Match m = search(s, k, r);
    const Cell put_word = words::word(words::Word::put);
    if (m.position < 0) {
        const std::int32_t len = length_of(s);
        const bool told = notify(s, put_word, &v, len, 2);
        append_copy(s, k);
        append_copy(s, v);
        if (const NodeId table = index_of(s)) hashtable::put_all(table, len, 1);
        if (told) notify(s, words::word(words::Word::put_ed), &v, len, 2);
    } else {
        const std::int32_t after = m.position + 1;
        const bool told = notify(s, put_word, &v, after, 1);
        if (after >= length_of(s)) {
            append_copy(s, v);
            if (const NodeId table = index_of(s)) hashtable::put(table, after);
        } else if (!cells_equal(*get_cell(s, after), v, CompareOp::find)) {
            *get_cell(s, after) = v;
            reindex(s);
        }
        if (told) notify(s, words::word(words::Word::put_ed), &v, after, 1);
    }
    *series = v;
    return series;
}

Cell* sort(Cell* series, const SortRefinements& how) {
    Cell s = *series;
    const std::int32_t len = length_of(s);
    std::int32_t head = std::clamp(s.series_head(), 0, len);
    std::int32_t count = len - head;
    if (how.part != nullptr) {
        count = part_count(s, *how.part, s.series_head());
        if (count < 0) {
            if (head + count < 0) {
                series->set_series_head(0);
                return series;
            }
            head += count;
            count = -count;
            series->set_series_head(head);
        }
        count = std::min(count, len - head);
    }
    std::int32_t size = 1;
    if (how.skip != nullptr) {
        size = skip_size(*how.skip);
        if (size < 1 || (count > 0 && (size > count || count % size != 0)))
            invalid_refine_arg(words::Ref::skip, *how.skip);
    }
    if (how.all && how.skip == nullptr) runtime::raise_error(ErrorCategory::script, "bad-refines");
    std::uintptr_t flags = how.reverse ? sort_reverse : 0;
    FunctionSort by_function{};
    sorting::Comparator compare_fn = sort_compare;
    if (how.comparator == nullptr) {
        if (how.all) flags |= sort_records | (static_cast<std::uintptr_t>(size) << sort_shift);
    } else if (how.comparator->is(TypeId::function)) {
        by_function.fn = *how.comparator;
        by_function.reverse = how.reverse;
        by_function.record = how.all ? size : 0;
        compare_fn = sort_compare_function;
    } else if (how.comparator->is(TypeId::integer)) {
        if (how.skip == nullptr || how.all) runtime::raise_error(ErrorCategory::script, "bad-refines");
        const std::int32_t field = how.comparator->int_value();
        if (field < 1 || field > size) runtime::raise_error(ErrorCategory::script, "out-of-range", how.comparator);
        flags |= static_cast<std::uintptr_t>(field - 1) << sort_shift;
    } else {
        invalid_refine_arg(words::Ref::compare, *how.comparator);
    }
    if (count <= 0) return series;
    const std::int32_t op = static_cast<std::int32_t>(how.case_ ? CompareOp::case_sort : CompareOp::sort);
    const auto records = static_cast<std::size_t>(count / size);
    const std::size_t record_bytes = static_cast<std::size_t>(size) * sizeof(Cell);
    const bool told = notify(s, words::word(words::Word::sort), nullptr, head, count);
    if (compare_fn == sort_compare) {
        Cell* base = first_cell(s) + head;
        if (how.stable) sorting::merge_sort(base, records, record_bytes, op, flags, compare_fn, true);
        else sorting::quick_sort(base, records, record_bytes, op, flags, compare_fn);
    } else {
        // Language code runs between comparisons: sort a private copy, so an
        // error (or a comparator that changes the block) leaves it as it was.
        Cell work{};
        make_at(work, count);
        std::memcpy(first_cell(work), first_cell(s) + head, static_cast<std::size_t>(count) * sizeof(Cell));
        set_tail(work, count);
        collector::Root keep_work(work);
        collector::Root keep_fn(by_function.fn);
        Cell scratch[2]{};
        if (by_function.record > 0) {
            for (Cell& blk : scratch) make_at_filled(blk, size, false);
        }
        collector::Root keep_a(scratch[0]), keep_b(scratch[1]);
        by_function.scratch[0] = scratch[0];
        by_function.scratch[1] = scratch[1];
        const auto state = reinterpret_cast<std::uintptr_t>(&by_function);
        Cell* base = first_cell(work);
        if (how.stable) sorting::merge_sort(base, records, record_bytes, op, state, compare_fn, true);
        else sorting::quick_sort(base, records, record_bytes, op, state, compare_fn);
        const std::int32_t room = std::clamp(length_of(s) - head, 0, count);
        std::memcpy(first_cell(s) + head, first_cell(work), static_cast<std::size_t>(room) * sizeof(Cell));
    }
    reindex(s);
    if (told) notify(s, words::word(words::Word::sorted), nullptr, head, count);
    return series;
}

Cell* swap(Cell* series1, Cell* series2) {
    if (!is_any_block_type(series2->type())) runtime::raise_error(ErrorCategory::script, "invalid-arg", series2);
    const Cell a = *series1, b = *series2;
    if (at_tail_q(a) || at_tail_q(b) || a.series_head() < 0 || b.series_head() < 0) return series1;
    const Cell word = words::word(words::Word::swap);
    const bool told_a = notify(a, word, nullptr, a.series_head(), 1);
    const bool told_b = notify(b, word, nullptr, b.series_head(), 1);
    std::swap(*get_cell(a, a.series_head()), *get_cell(b, b.series_head()));
    reindex(a);
    if (b.series_node() != a.series_node()) reindex(b);
    const Cell past = words::word(words::Word::swaped);
    if (told_a) notify(a, past, nullptr, a.series_head(), 1);
    if (told_b) notify(b, past, nullptr, b.series_head(), 1);
    return series1;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    const Cell source = *series;
    series::take(series, part, deep, last);
    if (series->is(TypeId::none)) return series;
    reindex(source);
    const Cell taken = *series;
    if (deep) copy_series_cells(taken, 0, length_of(taken));
    if (part == nullptr) {
        *series = length_of(taken) > 0 ? *get_cell(taken, 0) : none::value;
    } else {
        series->set_type(TypeId::block);
        series->set_series_extra(0);
    }
    return series;
}

Cell* trim(Cell* series, const TrimRefinements&) {
    const Cell s = *series;
    const std::int32_t len = length_of(s);
    const std::int32_t head = std::clamp(s.series_head(), 0, len);
    const bool told = notify(s, words::word(words::Word::trim), nullptr, head, len - head);
    Cell* cells = first_cell(s);
    std::int32_t kept = head;
    for (std::int32_t i = head; i < len; ++i)
        if (!cells[i].is(TypeId::none)) cells[kept++] = cells[i];
    set_tail(s, kept);
    reindex(s);
    if (told) notify(s, words::word(words::Word::trimmed), nullptr, head, len - head);
    return series;
}

// --- Set operations ------------------------------------------------------------------------

namespace {

// A temporary index of cells by hash, for membership and duplicate tests.
class CellIndex {
public:
    explicit CellIndex(bool case_sensitive)
        : case_(case_sensitive), op_(case_sensitive ? CompareOp::strict_equal : CompareOp::equal) {}
    void add(const Cell& c, std::int32_t position) { index_.emplace(hashtable::hash_key(c, case_), position); }
    // True when a cell of blk at an indexed position equals c.
    bool contains(const Cell& blk, const Cell& c) const {
        auto [from, to] = index_.equal_range(hashtable::hash_key(c, case_));
        for (auto it = from; it != to; ++it)
            if (cells_equal(c, *get_cell(blk, it->second), op_)) return true;
        return false;
    }

private:
    bool case_;
    CompareOp op_;
    std::unordered_multimap<std::uint32_t, std::int32_t> index_;
};

// True when blk holds a cell equal to c among its cells from its head
// (block-like cells: found as one cell, as find/only finds them).
bool holds(const Cell& blk, const CellIndex* index, const Cell& c, bool case_) {
    if (index != nullptr && !is_any_block_type(c.type())) return index->contains(blk, c);
    FindRefinements r;
    r.only = true;
    r.case_ = case_;
    return search(blk, c, r).position >= 0;
}

}  // namespace

void set_operation(Cell* first, Cell* second, bool case_, Cell* skip, SetOp op) {
    std::int32_t size = 1;
    if (skip != nullptr) {
        size = skip_size(*skip);
        if (size < 1) invalid_refine_arg(words::Ref::skip, *skip);
    }
    Cell a = *first;
    Cell b = second != nullptr ? *second : a;
    a.set_series_head(clamped_head(a));
    b.set_series_head(clamped_head(b));
    const bool two_passes = op == SetOp::union_ || op == SetOp::difference;
    const bool membership = op == SetOp::intersect || op == SetOp::exclude || op == SetOp::difference;
    const std::int32_t room = count_from_head(a) + (op == SetOp::union_ ? count_from_head(b) : 0);
    Cell result{};
    make_at(result, std::max(room, 1));
    CellIndex seen(case_);
    for (int pass = 0; pass < (two_passes ? 2 : 1); ++pass) {
        const Cell& walked = pass == 0 ? a : b;
        const Cell& other = pass == 0 ? b : a;
        CellIndex members(case_);
        if (membership) {
            for (std::int32_t i = other.series_head(); i < length_of(other); ++i)
                members.add(*get_cell(other, i), i);
        }
        for (std::int32_t i = walked.series_head(); i < length_of(walked);
             i = series::step_to(i, size, length_of(walked))) {
            const Cell key = *get_cell(walked, i);
            if (membership) {
                const bool present = holds(other, &members, key, case_);
                if (present != (op == SetOp::intersect)) continue;
            }
            const Cell in_result = result;
            if (is_any_block_type(key.type()) ? holds(in_result, nullptr, key, case_) : seen.contains(result, key))
                continue;
            seen.add(key, length_of(result));
            const std::int32_t end = series::step_to(i, size, length_of(walked));
            for (std::int32_t k = i; k < end; ++k) append_copy(result, *get_cell(walked, k));
        }
    }
    TypeId type = first->type();
    if (two_passes && second != nullptr && second->is(TypeId::hash)) type = TypeId::hash;
    result.set_type(type);
    if (type == TypeId::hash)
        result.set_series_extra(hashtable::create(length_of(result), &result, hashtable::Kind::hash));
    *first = result;
}

namespace {

constexpr registry::Registration registration{TypeId::block, registry::table({
        {Action::make,      make},
        {Action::to,        to},
        {Action::form,      form},
        {Action::mold,      mold},
        {Action::eval_path, eval_path},
        {Action::compare,   compare},
        {Action::append,    append},   // append and insert share one worker
        {Action::change,    change},
        {Action::copy,      copy},
        {Action::find,      find},
        {Action::insert,    insert},
        {Action::put,       put},
        {Action::select,    select},
        {Action::sort,      sort},
        {Action::swap,      swap},
        {Action::take,      take},
        {Action::trim,      trim},
    })};

}  // namespace

void register_actions() { registry::register_type(registration); }

}  // namespace kiv::block
