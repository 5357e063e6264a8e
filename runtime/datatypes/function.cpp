// function! and routine!: the spec checker, the local collection of
// `function`, the makers and the handlers. A function's context is made from
// its spec and bound into a deep copy of its body; the context's owner cell
// holds the function, so a word of the body leads back to it.
#include "runtime/datatypes/function.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"

#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kiv {

namespace {

using symbol::SymbolId;

SymbolId canonical(const Cell& cell) { return symbol::resolve_alias(cell.word_symbol()); }
SymbolId canonical(words::Ref r) { return canonical(words::refinement(r)); }
SymbolId canonical(words::Sym s) { return symbol::resolve_alias(words::id(s)); }

bool is_argument_word(TypeId t) {
    return t == TypeId::word || t == TypeId::get_word || t == TypeId::lit_word;
}

std::int32_t append(NodeId out, const char* text, std::int32_t part) {
    string::append_nul_text(out, text);
    return part - static_cast<std::int32_t>(std::strlen(text));
}

[[noreturn]] void refuse(const Cell& cell) {
    runtime::raise_error(ErrorCategory::script, "bad-func-def", &cell);
}

// Pulls a head that lies past the tail back to the tail.
void clamp_head(Cell& blk) {
    const std::int32_t n = block::count_from_head(blk);
    if (n < 0) blk.set_series_head(blk.series_head() + n);
}

Cell block_at_zero(NodeId node) {
    Cell blk{};
    blk.reset(TypeId::block);
    blk.set_series_node(node);
    return blk;
}

// A type block entry must name a type: a datatype!, a typeset!, or a word
// whose value is one of those or a word!.
void check_type_block(const Cell& types) {
    const std::int32_t n = block::count_from_head(types);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell cell = *block::get_cell(types, types.series_head() + i);
        if (cell.is(TypeId::datatype) || cell.is(TypeId::typeset)) continue;
        const Cell* value = nullptr;
        if (cell.is(TypeId::word)) {
            if (cell.word_context() != 0 && cell.word_index() >= 0) {
                value = context::value_at(cell.word_context(), cell.word_index());
            } else {
                const std::int32_t at = context::find_symbol(context::global(), cell.word_symbol(), true);
                if (at >= 0) value = context::value_at(context::global(), at);
            }
        }
        if (value == nullptr ||
            !(value->is(TypeId::datatype) || value->is(TypeId::typeset) || value->is(TypeId::word)))
            runtime::raise_error(ErrorCategory::script, "invalid-type-spec", &cell);
    }
}

// The attribute block: words only; returns the header flags it asks for.
std::uint32_t attribute_flags(const Cell& attributes) {
    std::uint32_t flags = 0;
    const std::int32_t n = block::count_from_head(attributes);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell cell = *block::get_cell(attributes, attributes.series_head() + i);
        if (!cell.is(TypeId::word)) refuse(cell);
        if (canonical(cell) == canonical(words::Sym::trace)) flags |= Cell::function_trace_flag;
        else if (canonical(cell) == canonical(words::Sym::no_trace)) flags |= Cell::function_no_trace_flag;
    }
    return flags;
}

bool contains(const std::vector<SymbolId>& ids, SymbolId id) {
    for (const SymbolId x : ids)
        if (x == id) return true;
    return false;
}

// Adds the word of cell to the collection when it is not known yet.
void collect(const Cell& cell, Cell& collected, std::vector<SymbolId>& known) {
    const SymbolId id = canonical(cell);
    if (contains(known, id)) return;
    known.push_back(id);
    Cell w = cell;
    w.set_type(TypeId::word);
    block::append_copy(collected, w);
}

// Walks the body and its nested blocks and parens for set-words and the
// words that foreach, remove-each and repeat set. A body that contains
// itself raises no-cycle.
void collect_body(const Cell& body, Cell& collected, std::vector<SymbolId>& known) {
    if (cycles::find(body.series_node())) runtime::raise_error(ErrorCategory::internal, "no-cycle");
    const cycles::Guard inside(body.series_node());
    const SymbolId foreach = canonical(words::Sym::foreach);
    const SymbolId remove_each = canonical(words::Sym::remove_each);
    const SymbolId repeat = canonical(words::Sym::repeat);
    const std::int32_t n = block::count_from_head(body);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell cell = *block::get_cell(body, body.series_head() + i);  // a copy: collecting allocates
        switch (cell.type()) {
        case TypeId::set_word:
            collect(cell, collected, known);
            break;
        case TypeId::block:
        case TypeId::paren:
            collect_body(cell, collected, known);
            break;
        case TypeId::word: {
            const SymbolId id = canonical(cell);
            if ((id != foreach && id != remove_each && id != repeat) || i + 1 >= n) break;
            const Cell next = *block::get_cell(body, body.series_head() + i + 1);
            if (next.is(TypeId::word) || next.is(TypeId::set_word)) {
                collect(next, collected, known);
                ++i;
            } else if (next.is(TypeId::block) && id != repeat) {
                const std::int32_t m = block::count_from_head(next);
                for (std::int32_t j = 0; j < m; ++j) {
                    const Cell w = *block::get_cell(next, next.series_head() + j);
                    if (is_argument_word(w.type())) collect(w, collected, known);
                }
                ++i;
            }
            break;
        }
        default:
            break;
        }
    }
}

void set_code_id(Cell& extra, std::int32_t index, std::int32_t id) {
    if (id == 0) return;
    Cell* cell = block::get_cell(extra, index);
    cell->reset(TypeId::integer);
    cell->set_int(id);
}

std::vector<routine::Entry>& routine_table() {
    static std::vector<routine::Entry> table;
    return table;
}

// The routine table's ids by name (the names live as long as the table).
std::unordered_map<std::string_view, std::int32_t>& routine_ids() {
    static std::unordered_map<std::string_view, std::int32_t> ids;
    return ids;
}

}  // namespace

namespace function {

std::uint32_t trace_flags(const Cell& spec) {
    const std::int32_t n = block::count_from_head(spec);
    const Cell first = n > 0 ? *block::get_cell(spec, spec.series_head()) : Cell{};
    return n > 0 && first.is(TypeId::block) ? attribute_flags(first) : 0;
}

std::uint32_t validate_spec(const Cell& spec) {
    const SymbolId local = canonical(words::Ref::local);
    const SymbolId return_ = canonical(words::Sym::return_);
    const std::int32_t n = block::count_from_head(spec);
    auto at = [&spec](std::int32_t i) { return *block::get_cell(spec, spec.series_head() + i); };
    std::uint32_t flags = 0;
    std::int32_t i = 0;
    if (n > 0 && at(0).is(TypeId::block)) flags = attribute_flags(at(i++));
    bool local_seen = false;
    bool return_seen = false;
    std::vector<SymbolId> names;
    while (i < n) {
        const Cell cell = at(i);
        const TypeId t = cell.type();
        if (is_argument_word(t) || t == TypeId::refinement) {
            if (contains(names, canonical(cell)))
                runtime::raise_error(ErrorCategory::script, "dup-vars", &cell);
            names.push_back(canonical(cell));
        }
        if (is_argument_word(t)) {
            if (local_seen && t != TypeId::word) refuse(cell);
            if (return_seen && !local_seen) refuse(cell);
            ++i;
            if (i + 1 < n && at(i).is(TypeId::string) && at(i + 1).is(TypeId::block))
                refuse(at(i));  // a doc string goes after the type block
            if (i < n && at(i).is(TypeId::block)) check_type_block(at(i++));
            while (i < n && at(i).is(TypeId::string)) ++i;
        } else if (t == TypeId::set_word) {
            if (canonical(cell) != return_ || return_seen || local_seen) refuse(cell);
            return_seen = true;
            ++i;
            if (i >= n || !at(i).is(TypeId::block)) refuse(cell);
            check_type_block(at(i++));
            if (i < n && !at(i).is(TypeId::refinement) && !at(i).is(TypeId::string)) refuse(at(i));
        } else if (t == TypeId::refinement) {
            if (canonical(cell) == local) local_seen = true;
            else if (local_seen || return_seen) refuse(cell);
            ++i;
            if (i < n) {
                const TypeId next = at(i).type();
                if (!is_argument_word(next) && next != TypeId::refinement &&
                    next != TypeId::set_word && next != TypeId::string)
                    refuse(at(i));
            }
        } else if (t == TypeId::string) {
            ++i;
        } else {
            refuse(cell);
        }
    }
    return flags;
}

void collect_locals(Cell& spec, const Cell& body, Cell& collected) {
    const SymbolId local = canonical(words::Ref::local);
    const SymbolId extern_ = canonical(words::Ref::extern_);
    block::make_at(collected, 8);
    std::vector<SymbolId> known;  // canonical ids of every word the spec names
    const std::int32_t n = block::count_from_head(spec);
    std::int32_t extern_at = -1;
    for (std::int32_t i = 0; i < n && extern_at < 0; ++i) {
        const Cell* cell = block::get_cell(spec, spec.series_head() + i);
        if (cell->is(TypeId::refinement) && canonical(*cell) == extern_) extern_at = i;
    }
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell cell = *block::get_cell(spec, spec.series_head() + i);
        const TypeId t = cell.type();
        if (extern_at >= 0 && !word::is_any_word(t) && t != TypeId::block && t != TypeId::string)
            runtime::raise_error(ErrorCategory::script, "bad-func-extern", &cell);
        if (word::is_any_word(t)) known.push_back(canonical(cell));
    }
    if (extern_at >= 0) {
        // Locals declared after /extern's words move to the collection.
        bool after_local = false;
        for (std::int32_t i = extern_at + 1; i < n; ++i) {
            const Cell cell = *block::get_cell(spec, spec.series_head() + i);
            if (cell.is(TypeId::refinement) && canonical(cell) == local) after_local = true;
            else if (after_local && cell.is(TypeId::word)) block::append_copy(collected, cell);
        }
        block::set_tail(spec, spec.series_head() + extern_at);
    }
    collect_body(body, collected, known);
    if (block::count_from_head(collected) == 0) return;
    bool has_local = false;
    const std::int32_t m = block::count_from_head(spec);
    for (std::int32_t i = 0; i < m; ++i) {
        const Cell* cell = block::get_cell(spec, spec.series_head() + i);
        if (cell->is(TypeId::refinement) && canonical(*cell) == local) has_local = true;
    }
    if (!has_local) block::append_copy(spec, words::refinement(words::Ref::local));
    Cell local_word = words::refinement(words::Ref::local);
    local_word.set_type(TypeId::word);
    block::remove_value(collected, local_word, false);  // `local:` in a body is no local
    block::append_cells(spec, collected);
}

NodeId make_at(Cell& out, const Cell& spec_in, const Cell* body_in, NodeId ctx,
               std::int32_t code, std::int32_t code2, std::uint32_t flags) {
    Cell spec = spec_in;  // copies: the originals may lie in buffers that move
    clamp_head(spec);
    Cell body{};
    if (body_in != nullptr) {
        body = *body_in;
        clamp_head(body);
    }
    if (spec.series_head() != 0) {
        Cell copy{};
        block::clone(copy, spec, false, false);
        spec = copy;
    }
    const bool own_context = ctx == 0;
    if (own_context) ctx = context::make_from_block(spec, true, false, context::Kind::function);
    Cell extra{};
    block::make_at_filled(extra, extra_cells, false);
    if (body_in != nullptr) {
        Cell copy{};
        block::clone(copy, body, true, true);
        *block::get_cell(extra, extra_body) = copy;
        if (own_context) context::bind_block(copy, ctx, false);
    } else {
        none::make_at(*block::get_cell(extra, extra_body));
    }
    set_code_id(extra, extra_code, code);
    set_code_id(extra, extra_code2, code2);
    out.reset(TypeId::function);
    out.add_function_trace_flags(flags);
    out.set_code(ctx, spec.series_node(), extra.series_node());
    *context::owner(ctx) = out;
    return ctx;
}

namespace {

// True when ctx holds exactly the words a context made from the spec block
// (make_from_block) would hold, in the same order.
bool made_from_spec(NodeId ctx, NodeId spec) {
    const SeriesBuffer* buf = memory::buffer(spec);
    const Cell* cells = reinterpret_cast<const Cell*>(buf->head);
    const std::int32_t n = buf->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
    const std::int32_t count = context::word_count(ctx);
    const hashtable::WordFinder finder(context::context_cell(ctx)->context_words());
    std::int32_t next = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        const TypeId t = cells[i].type();
        if (t != TypeId::word && t != TypeId::get_word && t != TypeId::lit_word &&
            t != TypeId::refinement)
            continue;
        const std::int32_t at = finder.find(cells[i].word_symbol());
        if (at >= 0 && at < next) continue;   // the spelling is in already
        if (at != next || next >= count || context::word_at(ctx, next)->word_symbol() != cells[i].word_symbol())
            return false;
        ++next;
    }
    return next == count;
}

}  // namespace

void rebind_at(Cell& out, const Cell& fn_in, NodeId outer) {
    const Cell fn = fn_in;
    const Cell body = *extra_cell(fn, extra_body);
    if (!body.is(TypeId::block) || block::count_from_head(body) <= 0) refuse(fn);
    // The new context shares the old one's word list when that is still
    // what the spec makes, which it almost always is.
    const NodeId ctx = made_from_spec(fn.code_entry(), fn.code_spec())
                           ? context::share_words(fn.code_entry())
                           : context::make_from_block(block_at_zero(fn.code_spec()), true, false,
                                                      context::Kind::function);
    Cell extra{};
    block::make_at_filled(extra, extra_cells, false);
    Cell copy{};
    block::clone(copy, body, true, true);
    *block::get_cell(extra, extra_body) = copy;
    context::bind_block_within(copy, ctx, outer);
    Cell made{};
    made.reset(TypeId::function);
    made.add_function_trace_flags(fn.function_trace_flags());
    made.set_code(ctx, fn.code_spec(), extra.series_node());
    *context::owner(ctx) = made;
    out = made;
}

std::int32_t count_locals(NodeId spec, std::int32_t start, bool flag) {
    const Cell blk = block_at_zero(spec);
    const SymbolId local = canonical(words::Ref::local);
    const std::int32_t n = block::count_from_head(blk);
    for (std::int32_t i = start; i < n; ++i) {
        const Cell* cell = block::get_cell(blk, i);
        if (!cell->is(TypeId::refinement) || canonical(*cell) != local) continue;
        std::int32_t count = 1;
        for (std::int32_t j = i + 1; j < n; ++j)
            if (block::get_cell(blk, j)->is(TypeId::word)) ++count;
        return count;
    }
    return flag ? -1 : 0;
}

Cell* extra_cell(const Cell& fn, std::int32_t index) {
    return block::get_cell(block_at_zero(fn.code_extra()), index);
}

Cell* make(Cell* proto, Cell* arg, TypeId) {
    if (!arg->is(TypeId::block) || block::count_from_head(*arg) < 2) refuse(*arg);
    const Cell spec = *block::get_cell(*arg, arg->series_head());
    const Cell body = *block::get_cell(*arg, arg->series_head() + 1);
    if (!spec.is(TypeId::block) || !body.is(TypeId::block)) refuse(*arg);
    const std::uint32_t flags = validate_spec(spec);
    Cell fn{};
    make_at(fn, spec, &body, 0, 0, 0, flags);
    *proto = fn;
    return proto;
}

Cell* reflect(Cell* value, Cell* field) {
    const SymbolId sym = word::is_any_word(field->type()) ? canonical(*field) : 0;
    if (sym != 0 && sym == canonical(words::Sym::spec)) {
        *value = block_at_zero(value->code_spec());
        return value;
    }
    if (sym != 0 && sym == canonical(words::Sym::body)) {
        *value = *extra_cell(*value, extra_body);
        return value;
    }
    if (sym != 0 && sym == canonical(words::Sym::words)) {
        const NodeId ctx = value->code_entry();
        const std::int32_t n = context::word_count(ctx);
        Cell result{};
        block::make_at(result, n);
        for (std::int32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(ctx, i);
            w.set_word(ctx, w.word_symbol(), i);
            block::append_copy(result, w);
        }
        *value = result;
        return value;
    }
    runtime::raise_error(ErrorCategory::internal, "not-done");
}

std::int32_t form(Cell*, NodeId out, Cell*, std::int32_t part) { return append(out, "?function?", part); }

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg, std::int32_t part,
                  std::int32_t indent) {
    part = append(out, "func ", part);
    Cell spec = block_at_zero(value->code_spec());
    part = block::mold(&spec, out, options.nested(), arg, part, indent);
    Cell body = *extra_cell(*value, extra_body);
    if (body.is(TypeId::none)) return append(out, " none", part);
    return block::mold(&body, out, options.nested(), arg, part, indent);
}

// Orders two code values by their extra blocks (shared only by a function
// and the op! made from it). routine! inherits this handler.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (value2->type() != value1->type()) return not_comparable;
    switch (op) {
    case CompareOp::equal: case CompareOp::not_equal: case CompareOp::strict_equal:
    case CompareOp::sort: case CompareOp::case_sort: case CompareOp::same: case CompareOp::find:
        return (value1->code_extra() > value2->code_extra()) -
               (value1->code_extra() < value2->code_extra());
    default:
        return not_comparable;
    }
}

void init() {
    static constexpr registry::Registration r{TypeId::function, registry::table({
                                                  {Action::make, make},
                                                  {Action::reflect, reflect},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace function

namespace routine {

std::int32_t add(const char* name, Code code) {
    if (const std::int32_t id = find(name)) return id;  // start-up may run more than once
    routine_table().push_back(Entry{name, code});
    const auto id = static_cast<std::int32_t>(routine_table().size());
    routine_ids().emplace(name, id);
    return id;
}

std::int32_t add_host(const char* name, HostCode code, const void* data) {
    if (const std::int32_t id = find(name)) return id;
    routine_table().push_back(Entry{name, nullptr, code, data});
    const auto id = static_cast<std::int32_t>(routine_table().size());
    routine_ids().emplace(name, id);
    return id;
}

std::int32_t find(std::string_view name) {
    const auto& ids = routine_ids();
    const auto it = ids.find(name);
    return it == ids.end() ? 0 : it->second;
}

const Entry* entry(std::int32_t id) {
    if (id < 1 || id > static_cast<std::int32_t>(routine_table().size())) return nullptr;
    return &routine_table()[static_cast<std::size_t>(id - 1)];
}

void make_at(Cell& out, const Cell& spec_in, const Cell* body_in, std::int32_t code,
             std::int32_t code2, bool flag) {
    const Cell spec = spec_in;
    const Cell body = body_in != nullptr ? *body_in : none::value;
    std::uint32_t arity = 0;
    const std::int32_t n = block::count_from_head(spec);
    for (std::int32_t i = 0; i < n; ++i)
        if (block::get_cell(spec, spec.series_head() + i)->is(TypeId::word)) ++arity;
    if (arity > 31) arity = 31;  // five header bits
    const NodeId ctx = context::make_from_block(spec, true, false, context::Kind::function);
    Cell extra{};
    block::make_at_filled(extra, function::extra_cells, false);
    *block::get_cell(extra, function::extra_body) = body;
    set_code_id(extra, function::extra_code, code);
    set_code_id(extra, function::extra_code2, code2);
    out.reset(TypeId::routine);
    out.set_routine(flag, arity);
    out.set_code(ctx, spec.series_node(), extra.series_node());
}

std::int32_t form(Cell*, NodeId out, Cell*, std::int32_t part) { return append(out, "?routine?", part); }

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent) {
    part = append(out, "routine ", part);
    Cell spec = block_at_zero(value->code_spec());
    part = block::mold(&spec, out, options, arg, part, indent);
    Cell body = *function::extra_cell(*value, function::extra_body);
    if (body.is(TypeId::block)) return block::mold(&body, out, options, arg, part, indent);
    part = append(out, " ", part);
    auto mold_body = registry::handler<Action::mold>(body.type());
    if (mold_body == nullptr) return part;
    return mold_body(&body, out, options, arg, part, indent);
}


void init() {
    static constexpr registry::Registration r{TypeId::routine, registry::table({
                                                  {Action::make, registry::refuse},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace routine
}  // namespace kiv
