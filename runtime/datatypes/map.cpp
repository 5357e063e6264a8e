// map!: key/value pairs in a block, indexed by a map-kind hash table. Keys are
// normalised once, when they enter (copies of text, set-words for words), so
// lookups compare stored keys only. Removed pairs stay in the block with an
// empty value cell; the table's count is the number of live entries.
#include "runtime/datatypes/map.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <optional>
#include <string>

namespace kiv::map {
namespace {

Cell path_result{};  // a path step's answer, copied by the caller at once

Cell* cells_of(NodeId node) { return reinterpret_cast<Cell*>(memory::buffer(node)->head); }
std::int32_t count_of(NodeId node) {
    return memory::buffer(node)->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
}

// A block cell over the map's key/value block (head 0).
Cell block_cell(NodeId node) {
    Cell b{};
    b.reset(TypeId::block);
    b.set_series_node(node);
    return b;
}

bool is_text_like(TypeId t) {
    return t == TypeId::string || t == TypeId::file || t == TypeId::url ||
           t == TypeId::binary || t == TypeId::tag || t == TypeId::email || t == TypeId::ref;
}
bool is_word_kind(TypeId t) {
    return t == TypeId::word || t == TypeId::set_word || t == TypeId::lit_word ||
           t == TypeId::get_word;
}
bool is_block_spec(TypeId t) {
    return t == TypeId::block || t == TypeId::paren || t == TypeId::hash;
}

// The key's position in the map's block, or -1: the index's one probe,
// without the range and duplicate rules of a hash!'s find.
std::int32_t lookup(const Cell& m, const Cell& key, CompareOp op) {
    return hashtable::find_in_map(table_of(m), key, op);
}

bool live_at(NodeId node, std::int32_t key_index) {
    return !cells_of(node)[key_index + 1].is(TypeId::no_type);
}

// Appends a NUL-terminated ASCII text and lowers the budget by its length.
std::int32_t emit(NodeId out, const char* text, std::int32_t budget) {
    string::append_nul_text(out, text);
    return budget - static_cast<std::int32_t>(std::char_traits<char>::length(text));
}

std::int32_t mold_one(const Cell& value, NodeId out, MoldOptions options, Cell* arg,
                      std::int32_t budget, std::int32_t indent) {
    Cell c = value;
    auto mold = registry::handler<Action::mold>(c.type());
    return mold(&c, out, options, arg, budget, indent);
}

// A stored key as it is handed back: set-words become word!.
Cell key_as_given(const Cell& key) {
    Cell k = key;
    if (k.is(TypeId::set_word)) k.set_bare_type(TypeId::word);
    return k;
}

[[noreturn]] void bad_to_arg(const Cell& spec) {
    Cell type{};
    datatype::make_at(TypeId::map, type);
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, &spec);
}

bool values_equal(const Cell& a, const Cell& b, CompareOp op) {
    Cell x = a, y = b;
    auto compare = registry::handler<Action::compare>(x.type());
    return compare != nullptr && compare(&x, &y, op) == 0;
}

// make and to: a copy of a block's pairs, a sized empty map, or a map's copy.
Cell* build(Cell* proto, Cell* spec, bool sized) {
    const TypeId t = spec->type();
    if (is_block_spec(t)) {
        const std::int32_t n = block::count_from_head(*spec);
        if (n % 2 != 0) runtime::raise_error(ErrorCategory::script, "invalid-arg", spec);
        Cell copy{};
        block::clone(copy, *spec, false, false);
        for (std::int32_t i = 0, len = count_of(copy.series_node()); i < len; ++i) {
            cells_of(copy.series_node())[i].set_new_line(false);
        }
        make_at(*proto, &copy, 0);
        return proto;
    }
    if (sized && (t == TypeId::integer || t == TypeId::float_)) {
        const std::int32_t n = integer::from_number(*spec);
        if (n < 0) runtime::raise_error(ErrorCategory::script, "out-of-range", spec);
        make_at(*proto, nullptr, n == 0 ? 2 : static_cast<std::int32_t>(std::min<std::int64_t>(2LL * n, 0x3FFFFFFF)));
        return proto;
    }
    if (t == TypeId::map) {
        *proto = *spec;
        return copy(proto, nullptr, false, nullptr);
    }
    bad_to_arg(*spec);
}

}  // namespace

// --- Keys -----------------------------------------------------------------------------

bool is_key_type(TypeId t) {
    switch (t) {
    case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::char_:
    case TypeId::integer: case TypeId::float_: case TypeId::word: case TypeId::set_word:
    case TypeId::lit_word: case TypeId::get_word: case TypeId::refinement: case TypeId::issue:
    case TypeId::pair: case TypeId::percent: case TypeId::tuple: case TypeId::binary:
    case TypeId::time: case TypeId::tag: case TypeId::email: case TypeId::date:
    case TypeId::money: case TypeId::ref: case TypeId::point2d: case TypeId::point3d:
        return true;
    default:
        return false;
    }
}

void normalize_key(Cell& key, const Cell* path) {
    const TypeId t = key.type();
    if (!is_key_type(t)) {
        Cell type{};
        datatype::make_at(t, type);
        runtime::raise_error(ErrorCategory::script, "invalid-path", path ? path : &key, &type);
    }
    if (is_word_kind(t)) {
        key.set_bare_type(TypeId::set_word);  // flags dropped too
    } else if (is_text_like(t)) {
        const std::int32_t head = std::max(key.series_head(), 0);
        const SeriesBuffer* b = memory::buffer(key.series_node());
        const std::int32_t units = b->used_bytes() / static_cast<std::int32_t>(b->unit());
        const NodeId copy = series::copy_units(key, std::min(head, units),
                                               std::max(units - head, 0));
        key.set_series_node(copy);
        key.set_series_head(0);
    }
}

// --- Building and looking up ------------------------------------------------------------

void make_at(Cell& cell, const Cell* blk, std::int32_t size) {
    Cell b{};
    if (blk != nullptr) {
        b = block_cell(blk->series_node());
    } else {
        block::make_at(b, std::max(size, 2));
    }
    const NodeId node = b.series_node();
    for (std::int32_t i = 0; i < count_of(node); i += 2) {
        Cell key = cells_of(node)[i];
        normalize_key(key);
        cells_of(node)[i] = key;  // re-read: a text copy may have moved the block
    }
    const NodeId table = hashtable::create(std::max(count_of(node) / 2, size / 2),
                                           &b, hashtable::Kind::map);
    cell.reset(TypeId::map);
    cell.set_series_node(node);
    cell.set_series_extra(table);
}

std::int32_t size(const Cell& m) { return hashtable::record(table_of(m))->count; }

std::int32_t find_key(const Cell& m, const Cell& key, bool case_sensitive) {
    return lookup(m, key, case_sensitive ? CompareOp::strict_equal : CompareOp::equal);
}

void set(const Cell& m, const Cell& key, const Cell& value, bool case_sensitive,
         const Cell* path) {
    const Cell v = value;  // value may lie in the block that grows
    const NodeId node = block_of(m);
    hashtable::KeyPlace place;
    const std::int32_t at = hashtable::find_placed(
        table_of(m), key, case_sensitive ? CompareOp::strict_equal : CompareOp::equal, place);
    if (at >= 0) {
        if (!live_at(node, at)) ++hashtable::record(table_of(m))->count;  // revived in place
        cells_of(node)[at + 1] = v;
        return;
    }
    Cell k = key;
    normalize_key(k, path);
    const Cell b = block_cell(node);
    block::append_copy(b, k);
    block::append_copy(b, v);
    hashtable::put_placed(table_of(m), count_of(node) - 2, place);
}

void extend(const Cell& m, const Cell& blk, bool case_sensitive) {
    const Cell source = blk;
    const std::int32_t n = block::count_from_head(source);
    if (n % 2 != 0) runtime::raise_error(ErrorCategory::script, "invalid-arg", &source);
    const std::int32_t head = source.series_head();
    for (std::int32_t i = 0; i < n; i += 2) {
        const Cell key = *block::get_cell(source, head + i);
        const Cell value = *block::get_cell(source, head + i + 1);
        set(m, key, value, case_sensitive);
    }
}

bool set_words_from_entries(const Cell& words_blk, const Cell& entries, std::int32_t count,
                            std::int32_t& index) {
    const NodeId node = entries.series_node();
    const Cell names = words_blk;
    bool any = false;
    for (std::int32_t w = 0; w < count; ++w) {
        Cell word = *block::get_cell(names, names.series_head() + w);
        if (!word::is_any_word(word.type()))
            runtime::raise_error(ErrorCategory::script, "invalid-arg", &word);
        // A removed pair is skipped whole when the walk stands on its key.
        while (index % 2 == 0 && index + 1 < count_of(node) && !live_at(node, index)) index += 2;
        if (index < count_of(node)) {
            word::set_value(word, key_as_given(cells_of(node)[index]));
            ++index;
            any = true;
        } else {
            word::set_value(word, none::value);
        }
    }
    return any;
}

// --- Handlers, in action order ----------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId) { return build(proto, spec, true); }

Cell* reflect(Cell* value, Cell* field) {
    const Cell m = *value;
    const NodeId node = block_of(m);
    const symbol::SymbolId f =
        word::is_any_word(field->type()) ? symbol::resolve_alias(field->word_symbol()) : 0;
    const bool keys = f == symbol::resolve_alias(words::id(words::Sym::words));
    const bool values = f == symbol::resolve_alias(words::id(words::Sym::values));
    const bool body = f == symbol::resolve_alias(words::id(words::Sym::body));
    if (!keys && !values && !body) runtime::raise_error(ErrorCategory::internal, "not-done");
    Cell out{};
    block::make_at(out, (body ? 2 : 1) * std::max(size(m), 1));
    for (std::int32_t i = 0; i + 1 < count_of(node); i += 2) {
        if (!live_at(node, i)) continue;
        const Cell key = cells_of(node)[i];
        const Cell val = cells_of(node)[i + 1];
        if (keys) block::append_copy(out, key_as_given(key));
        if (values) block::append_copy(out, val);
        if (body) {
            block::append_copy(out, key)->set_new_line(true);
            block::append_copy(out, val);
        }
    }
    *value = out;
    return value;
}

Cell* to(Cell* proto, Cell* spec, TypeId) { return build(proto, spec, false); }

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    if (cycles::mold_cycle_marker(*value, out, part, false)) return part;
    const NodeId node = block_of(*value);
    cycles::Guard guard(node);
    bool first = true;
    for (std::int32_t i = 0; i + 1 < count_of(node); i += 2) {  // molding may change the map
        if (!live_at(node, i)) continue;
        if (!first) part = emit(out, "\n", part);
        first = false;
        part = mold_one(cells_of(node)[i], out, {}, arg, part, 0);
        part = emit(out, " ", part);
        part = mold_one(cells_of(node)[i + 1], out, {}, arg, part, 0);
        if (arg != nullptr && part < 1) break;
    }
    return part;
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent) {
    if (cycles::mold_cycle_marker(*value, out, part, true)) return part;
    const NodeId node = block_of(*value);
    cycles::Guard guard(node);
    const bool lines = !options.only && !options.flat;
    if (!options.only) {
        part = emit(out, "#[", part);
        if (lines && size(*value) > 0) part = emit(out, "\n", part);
    }
    bool written = false;
    for (std::int32_t i = 0; i + 1 < count_of(node); i += 2) {
        if (!live_at(node, i)) continue;
        if (written && !lines) part = emit(out, options.flat ? " " : "\n", part);
        written = true;
        if (lines) part = block::mold_indent(out, indent + 1, part);
        part = mold_one(cells_of(node)[i], out, options.nested(), arg, part, indent + 1);
        part = emit(out, " ", part);
        part = mold_one(cells_of(node)[i + 1], out, options.nested(), arg, part, indent + 1);
        if (lines) part = emit(out, "\n", part);
        if (arg != nullptr && part < 1) break;
    }
    if (!options.only) {
        if (lines && written && indent >= 1) part = block::mold_indent(out, indent, part);
        part = emit(out, "]", part);
    }
    return part;
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const Cell m = *value;
    if (new_value != nullptr) {
        set(m, *element, *new_value, false, step.path);
        return new_value;
    }
    const std::int32_t at = find_key(m, *element, false);
    if (at < 0 || !live_at(block_of(m), at)) path_result = none::value;
    else path_result = cells_of(block_of(m))[at + 1];
    return &path_result;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::map)) return not_comparable;
    const Cell a = *value1, b = *value2;
    if (op == CompareOp::sort || op == CompareOp::case_sort) {
        return (a.series_node() > b.series_node()) - (a.series_node() < b.series_node());
    }
    if (!is_equality(op)) return not_comparable;
    if (a.series_node() == b.series_node() && a.series_head() == b.series_head()) return 0;
    if (op == CompareOp::same) return -1;
    if (cycles::find(a.series_node())) return cycles::find(b.series_node()) ? 0 : 1;
    if (size(a) != size(b)) return 1;
    if (size(a) == 0) return 0;
    cycles::Guard guard_a(a.series_node());
    cycles::Guard guard_b(b.series_node());
    const NodeId na = block_of(a), nb = block_of(b);
    const bool strict = op == CompareOp::strict_equal;
    for (std::int32_t i = 0; i + 1 < count_of(na); i += 2) {
        if (!live_at(na, i)) continue;
        const Cell key = cells_of(na)[i];
        const Cell val = cells_of(na)[i + 1];
        const std::int32_t at = find_key(b, key, strict);
        if (strict) {
            if (at < 0 || !live_at(nb, at) ||
                !values_equal(val, cells_of(nb)[at + 1], CompareOp::strict_equal))
                return 1;
            continue;
        }
        // Keys equal but for case may name several entries: any one may match.
        bool matched = at >= 0 && live_at(nb, at) &&
                       values_equal(val, cells_of(nb)[at + 1], CompareOp::equal);
        for (std::int32_t j = 0; !matched && j + 1 < count_of(nb); j += 2) {
            if (!live_at(nb, j) || j == at) continue;
            matched = values_equal(cells_of(nb)[j], key, CompareOp::equal) &&
                      values_equal(val, cells_of(nb)[j + 1], CompareOp::equal);
        }
        if (!matched) return 1;
    }
    return 0;
}

Cell* clear(Cell* value) {
    hashtable::clear(table_of(*value));
    return value;
}

Cell* copy(Cell* value, Cell*, bool deep, Cell* types) {
    const Cell m = *value;
    const NodeId node = block_of(m);
    std::optional<cycles::Guard> guard;
    if (deep && types != nullptr) {
        if (cycles::find(node)) {
            cycles::reset();
            runtime::raise_error(ErrorCategory::internal, "no-cycle");
        }
        guard.emplace(node);
    }
    Cell dup{};
    block::clone(dup, block_cell(node), deep && types == nullptr, false);
    const NodeId dup_node = dup.series_node();
    const NodeId table = hashtable::copy(table_of(m), dup_node);
    if (types != nullptr) {
        for (std::int32_t i = 1; i < count_of(dup_node); i += 2) {
            Cell v = cells_of(dup_node)[i];
            if (v.is(TypeId::no_type) || !types->typeset_has(static_cast<int>(v.type()))) continue;
            auto copy_handler = registry::handler<Action::copy>(v.type());
            if (copy_handler == nullptr) continue;
            switch (v.type()) {  // series-like values only
            case TypeId::block: case TypeId::paren: case TypeId::path: case TypeId::lit_path:
            case TypeId::set_path: case TypeId::get_path: case TypeId::hash: case TypeId::map:
            case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::tag:
            case TypeId::email: case TypeId::ref: case TypeId::binary: case TypeId::vector:
            case TypeId::image:
                break;
            default:
                continue;
            }
            const Cell* r = copy_handler(&v, nullptr, deep, types);
            cells_of(dup_node)[i] = *r;
        }
    }
    value->reset(TypeId::map);
    value->set_series_node(dup_node);
    value->set_series_extra(table);
    return value;
}

Cell* find(Cell* series, Cell* value, const FindRefinements& refinements) {
    const Cell m = *series;
    const CompareOp op = refinements.same    ? CompareOp::same
                         : refinements.case_ ? CompareOp::strict_equal
                                             : CompareOp::equal;
    const std::int32_t at = lookup(m, *value, op);
    if (at < 0 || !live_at(block_of(m), at)) *series = none::value;
    else *series = key_as_given(cells_of(block_of(m))[at]);
    return series;
}

std::int32_t length_q(Cell* value) { return size(*value); }

Cell* put(Cell* value1, Cell* value2, Cell* value3, bool case_) {
    const Cell v = *value3;
    set(*value1, *value2, v, case_);
    *value1 = v;
    return value1;
}

Cell* remove(Cell* value, Cell*, Cell* key) {
    if (key == nullptr) runtime::raise_error(ErrorCategory::script, "missing-arg");
    const std::int32_t at = find_key(*value, *key, true);
    if (at >= 0 && live_at(block_of(*value), at)) hashtable::remove_entry(table_of(*value), at);
    return value;
}

Cell* select(Cell* series, Cell* value, const FindRefinements& refinements) {
    const Cell m = *series;
    const CompareOp op = refinements.same    ? CompareOp::same
                         : refinements.case_ ? CompareOp::strict_equal
                                             : CompareOp::equal;
    const std::int32_t at = lookup(m, *value, op);
    const Cell* const found = at < 0 ? nullptr : cells_of(block_of(m)) + at + 1;
    *series = found == nullptr || found->is(TypeId::no_type) ? none::value : *found;  // no_type: removed
    return series;
}

void init() {
    static constexpr registry::Registration r{TypeId::map, registry::table({
                                                  {Action::make, make},
                                                  {Action::reflect, reflect},
                                                  {Action::to, to},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::eval_path, eval_path},
                                                  {Action::compare, compare},
                                                  {Action::clear, clear},
                                                  {Action::copy, copy},
                                                  {Action::find, find},
                                                  {Action::length_q, length_q},
                                                  {Action::put, put},
                                                  {Action::remove, remove},
                                                  {Action::select, select},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace kiv::map
