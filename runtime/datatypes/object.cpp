// object!: making (spec blocks evaluated in the new context, prototypes,
// construction without evaluation), copying with function rebinding, field
// access through paths, put and select, reflection, mold, comparison and the
// change handlers. The context module stores fields; this module decides
// what a field assignment means for the object that holds it.
#include "runtime/datatypes/object.h"

#include "runtime/core/assert.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/services.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace kiv::object {

namespace {

std::int32_t class_counter = 0;

constexpr std::uint32_t owning_flag = Cell::context_owning_flag;  // shared with ownership
constexpr std::uint32_t no_handler = 0xFFFF;    // record word 2, high half: no such field

constexpr Cell unset_cell = Cell::fresh(TypeId::unset);

NodeId ctx_of(const Cell& obj) { return obj.object_context(); }

std::int32_t canonical(std::uint32_t sym) {
    return static_cast<std::int32_t>(symbol::resolve_alias(sym));
}

bool same_symbol(std::uint32_t a, words::Sym s) {
    return canonical(a) == canonical(words::id(s));
}

bool same_symbol(std::uint32_t a, words::Word w) {
    return canonical(a) == canonical(words::word(w).word_symbol());
}

bool is_handler_field(std::uint32_t sym) {
    return same_symbol(sym, words::Word::on_change_star) ||
           same_symbol(sym, words::Word::on_deep_change_star);
}

bool is_block_kind(TypeId t) {
    switch (t) {
    case TypeId::block: case TypeId::paren: case TypeId::path: case TypeId::lit_path:
    case TypeId::set_path: case TypeId::get_path:
        return true;
    default:
        return false;
    }
}

bool is_deep_copied(TypeId t) {
    switch (t) {
    case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::tag:
    case TypeId::email: case TypeId::ref:
        return true;
    default:
        return is_block_kind(t);
    }
}

// Stores obj as its context's self; every made object value passes here.
void store_self(const Cell& obj) { *context::owner(ctx_of(obj)) = obj; }

// A copy of value that does not share its series; block kinds are cloned
// deeply and bound to ctx.
Cell deep_copy_value(const Cell& value, NodeId ctx) {
    Cell v = value;
    if (is_block_kind(v.type())) {
        Cell out{};
        block::clone(out, v, true, true);
        out.set_header_from(v);  // keep the kind and the new-line marker
        context::bind_block(out, ctx, true);
        return out;
    }
    if (auto copy = registry::handler<Action::copy>(v.type())) return *copy(&v, nullptr, false, nullptr);
    return v;
}

// --- Method templates ---
//
// Copying an object gives each function! field a copy of its own: the body
// cloned deeply, every word of the clone looked up in the function's words and
// the object's (function::rebind_at). Objects made again and again from one
// prototype get the same clone each time but for its new nodes, so the first
// copy records the outcome as a template: the source as it was (the function's
// body cell, every cloned block's cells, the spec, the function's and the
// object's words) and the clone as binding left it, with the cells that name a
// new node (the function's new context, the object, a cloned block). A later
// copy whose source still reads the same, byte for byte, is filled from the
// template without a lookup; any difference takes rebind_at and records
// again. Templates hold no node alive: each is checked against what is there.
// Only copies of the prototype's own shape record one (a spec that adds
// fields makes a shape of its own each time), and only a function met
// before: most are copied once, and recording costs more than a copy.

struct MethodTemplate {
    struct Block {
        std::int32_t first;  // its first cell in source and result
        std::int32_t count;
    };
    enum : std::int32_t { to_function = -1, to_object = -2 };  // Patch::target, else a block
    struct Patch {
        std::int32_t at;      // a cell of result
        std::int32_t block;   // the block holding it
        std::int32_t target;
    };
    NodeId extra = 0;                // the source function's extra block: the table key
    Cell body{};                     // the source's body cell
    std::vector<Cell> spec;          // the source's spec cells
    std::vector<std::uint32_t> inner;  // the source's word symbols, in order
    std::vector<std::uint32_t> outer;  // the object's word symbols, in order
    std::vector<Block> blocks;       // preorder, as block::clone makes them; 0 is the body
    std::vector<Cell> source;        // the cells each block was cloned from
    std::vector<Cell> result;        // the same cells as bound in the clone
    Cell root{};                     // the clone's body cell
    std::vector<Patch> patches;
    std::int32_t depth = 0;          // blocks nested in the deepest chain
};

constexpr std::int32_t template_max_blocks = 64;
constexpr std::int32_t template_max_cells = 512;  // with 256 templates, at most 8 MB held
constexpr std::int32_t template_max_depth = 32;
constexpr std::uint32_t template_table_bits = 8;

struct TemplateSlot {
    NodeId seen = 0;      // the extra block of the function last copied through this slot
    bool refused = false;  // seen's body has no template (too big, a hash!): not tried again
    std::unique_ptr<MethodTemplate> made;
};
TemplateSlot templates[1u << template_table_bits];

TemplateSlot& template_slot(NodeId extra) {
    return templates[(extra * 2654435761u) >> (32 - template_table_bits)];
}

// The series block::clone with any copies nested: the block kinds.
bool clones_nested(TypeId t) { return is_block_kind(t); }

bool is_word_cell(TypeId t) { return t >= TypeId::word && t <= TypeId::refinement; }

// The cells block::clone copies from blk: from its head to its tail.
const Cell* cloned_cells(const Cell& blk, std::int32_t& count) {
    const std::int32_t head = block::clamped_head(blk);
    count = block::length_of(blk) - head;
    return block::first_cell(blk) + head;
}

// Appends blk and its nested blocks, preorder, to t's source; false when the
// tree is too big or holds a hash! (binding walks it in place).
bool record_source(MethodTemplate& t, const Cell& blk, std::int32_t depth) {
    if (depth > template_max_depth || static_cast<std::int32_t>(t.blocks.size()) >= template_max_blocks)
        return false;
    t.depth = std::max(t.depth, depth);
    std::int32_t count = 0;
    const Cell* cells = cloned_cells(blk, count);
    const auto first = static_cast<std::int32_t>(t.source.size());
    if (first + count > template_max_cells) return false;
    t.blocks.push_back({first, count});
    t.source.insert(t.source.end(), cells, cells + count);
    for (std::int32_t i = first; i < first + count; ++i) {
        const Cell c = t.source[static_cast<std::size_t>(i)];
        if (c.is(TypeId::hash)) return false;
        if (clones_nested(c.type()) && !record_source(t, c, depth + 1)) return false;
    }
    return true;
}

// Appends the clone's blocks, preorder, to t's result with the patches its
// new nodes need; false when its shape is not the source's.
bool record_result(MethodTemplate& t, const Cell& blk, NodeId fn_ctx, NodeId obj_ctx,
                   std::int32_t& next) {
    const std::int32_t b = next++;
    if (b >= static_cast<std::int32_t>(t.blocks.size())) return false;
    std::int32_t count = 0;
    const Cell* cells = cloned_cells(blk, count);
    const MethodTemplate::Block block = t.blocks[static_cast<std::size_t>(b)];
    if (count != block.count || block::clamped_head(blk) != 0) return false;
    t.result.insert(t.result.end(), cells, cells + count);
    for (std::int32_t i = block.first; i < block.first + count; ++i) {
        const Cell c = t.result[static_cast<std::size_t>(i)];
        if (clones_nested(c.type())) {
            t.patches.push_back({i, b, next});
            if (!record_result(t, c, fn_ctx, obj_ctx, next)) return false;
        } else if (is_word_cell(c.type()) && c.word_context() == fn_ctx) {
            t.patches.push_back({i, b, MethodTemplate::to_function});
        } else if (is_word_cell(c.type()) && c.word_context() == obj_ctx) {
            t.patches.push_back({i, b, MethodTemplate::to_object});
        }
    }
    return true;
}

void word_symbols(NodeId ctx, std::vector<std::uint32_t>& out) {
    const std::int32_t n = context::word_count(ctx);
    out.resize(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) out[static_cast<std::size_t>(i)] = context::word_at(ctx, i)->word_symbol();
}

bool same_symbols(NodeId ctx, const std::vector<std::uint32_t>& symbols) {
    if (context::word_count(ctx) != static_cast<std::int32_t>(symbols.size())) return false;
    const Cell* words = symbols.empty() ? nullptr : context::word_at(ctx, 0);
    for (std::size_t i = 0; i < symbols.size(); ++i)
        if (words[i].word_symbol() != symbols[i]) return false;
    return true;
}

bool same_cells(const Cell* a, const Cell* b, std::int32_t count) {
    return std::memcmp(a, b, static_cast<std::size_t>(count) * sizeof(Cell)) == 0;
}

// The spec's cells from its first to its tail (the function's words come from all of them).
const Cell* spec_cells(const Cell& fn, std::int32_t& count) {
    const SeriesBuffer* buf = memory::buffer(fn.code_spec());
    count = buf->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
    return reinterpret_cast<const Cell*>(buf->head);
}

// Records how rebind_at copied fn for the object context obj_ctx into made,
// the second time fn is met.
void record_template(const Cell& fn, const Cell& made, NodeId obj_ctx) {
    TemplateSlot& slot = template_slot(fn.code_extra());
    if (slot.seen != fn.code_extra()) {
        slot.seen = fn.code_extra();
        slot.refused = false;
        return;
    }
    if (slot.refused) return;
    const NodeId fn_ctx = made.code_entry();
    if (context::context_cell(fn_ctx)->context_words() !=
        context::context_cell(fn.code_entry())->context_words())
        return;  // the copy has words of its own: its spec changed since it was made
    auto t = std::make_unique<MethodTemplate>();
    t->extra = fn.code_extra();
    t->body = *function::extra_cell(fn, function::extra_body);
    std::int32_t n = 0;
    const Cell* spec = spec_cells(fn, n);
    t->spec.assign(spec, spec + n);
    word_symbols(fn.code_entry(), t->inner);
    word_symbols(obj_ctx, t->outer);
    if (!record_source(*t, t->body, 1)) {
        slot.refused = true;
        return;
    }
    t->root = *function::extra_cell(made, function::extra_body);
    std::int32_t next = 0;
    if (!record_result(*t, t->root, fn_ctx, obj_ctx, next) ||
        next != static_cast<std::int32_t>(t->blocks.size())) {
        slot.refused = true;
        return;
    }
    slot.made = std::move(t);
}

// True when blk (block b of t's source, as the tree is walked) and its nested
// blocks read as when t was made.
bool source_unchanged(const MethodTemplate& t, const Cell& blk, std::int32_t& next) {
    if (next >= static_cast<std::int32_t>(t.blocks.size())) return false;
    const MethodTemplate::Block block = t.blocks[static_cast<std::size_t>(next++)];
    std::int32_t count = 0;
    const Cell* cells = cloned_cells(blk, count);
    const Cell* was = t.source.data() + block.first;
    if (count != block.count || !same_cells(cells, was, count)) return false;
    for (std::int32_t i = 0; i < count; ++i)
        if (clones_nested(was[i].type()) && !source_unchanged(t, was[i], next)) return false;
    return true;
}

// The template of fn for the object context obj_ctx, when it still holds.
const MethodTemplate* template_for(const Cell& fn, NodeId obj_ctx) {
    const MethodTemplate* t = template_slot(fn.code_extra()).made.get();
    if (t == nullptr || t->extra != fn.code_extra()) return nullptr;
    if (!same_cells(function::extra_cell(fn, function::extra_body), &t->body, 1)) return nullptr;
    if (cycles::depth() + t->depth >= cycles::limit) return nullptr;  // the clone would raise too-deep
    std::int32_t n = 0;
    const Cell* spec = spec_cells(fn, n);
    if (n != static_cast<std::int32_t>(t->spec.size()) || !same_cells(spec, t->spec.data(), n)) return nullptr;
    if (!same_symbols(fn.code_entry(), t->inner) || !same_symbols(obj_ctx, t->outer)) return nullptr;
    std::int32_t next = 0;
    if (!source_unchanged(*t, t->body, next)) return nullptr;
    return t;
}

// rebind_at's copy of fn for obj_ctx, filled from t.
void rebind_from_template(const MethodTemplate& t, Cell& out, const Cell& fn, NodeId obj_ctx) {
    const NodeId fn_ctx = context::share_words(fn.code_entry());
    Cell extra{};
    block::make_at_filled(extra, function::extra_cells, false);
    NodeId nodes[template_max_blocks];
    const auto blocks = static_cast<std::int32_t>(t.blocks.size());
    for (std::int32_t b = 0; b < blocks; ++b)
        nodes[b] = memory::alloc_series(std::max(t.blocks[static_cast<std::size_t>(b)].count, 1),
                                        sizeof(Cell), 0);
    for (std::int32_t b = 0; b < blocks; ++b) {  // allocation never moves a buffer
        const MethodTemplate::Block block = t.blocks[static_cast<std::size_t>(b)];
        SeriesBuffer* buf = memory::buffer(nodes[b]);
        std::memcpy(buf->head, t.result.data() + block.first, static_cast<std::size_t>(block.count) * sizeof(Cell));
        buf->tail = buf->head + static_cast<std::ptrdiff_t>(block.count) * static_cast<std::ptrdiff_t>(sizeof(Cell));
    }
    for (const MethodTemplate::Patch& p : t.patches) {
        Cell* c = reinterpret_cast<Cell*>(memory::buffer(nodes[p.block])->head) +
                  (p.at - t.blocks[static_cast<std::size_t>(p.block)].first);
        if (p.target == MethodTemplate::to_function) c->set_word_context(fn_ctx);
        else if (p.target == MethodTemplate::to_object) c->set_word_context(obj_ctx);
        else c->set_series_node(nodes[p.target]);
    }
    Cell root = t.root;
    root.set_series_node(nodes[0]);
    *block::get_cell(extra, function::extra_body) = root;
    Cell made{};
    made.reset(TypeId::function);
    made.add_function_trace_flags(fn.function_trace_flags());
    made.set_code(fn_ctx, fn.code_spec(), extra.series_node());
    *context::owner(fn_ctx) = made;
    out = made;
}

// A copy of the function fn for the object context obj_ctx (function::rebind_at);
// with same_shape, the object has the words of fn's object, in order.
void rebind_function(Cell& out, const Cell& fn, NodeId obj_ctx, bool same_shape) {
    if (!same_shape) {
        function::rebind_at(out, fn, obj_ctx);
        return;
    }
    if (const MethodTemplate* t = template_for(fn, obj_ctx)) {
        rebind_from_template(*t, out, fn, obj_ctx);
        return;
    }
    function::rebind_at(out, fn, obj_ctx);
    record_template(fn, out, obj_ctx);
}

// Rebinds every function! field of obj to it; with series, also copies its
// series values (deep) and rebinds the blocks among them. same_shape: obj
// has the words of the object its fields were copied from, in order.
void rebind_fields(const Cell& obj, bool series, bool same_shape) {
    const NodeId ctx = ctx_of(obj);
    for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
        const Cell v = *context::value_at(ctx, i);
        if (v.is(TypeId::function)) {
            Cell nf{};
            rebind_function(nf, v, ctx, same_shape);
            *context::value_at(ctx, i) = nf;
        } else if (series && is_deep_copied(v.type())) {
            const Cell nv = deep_copy_value(v, ctx);
            *context::value_at(ctx, i) = nv;
        }
    }
}

// A new object with the words of src (bound to it) and a shallow copy of
// its values; class and record left to the caller.
Cell clone_context(const Cell& src) {
    Cell obj{};
    obj.reset(TypeId::object);
    obj.set_object(context::clone(ctx_of(src), context::Kind::object, true), 0, 0);
    store_self(obj);
    return obj;
}

void clear_flags_and_markers(const Cell& obj) {
    const NodeId ctx = ctx_of(obj);
    const std::int32_t n = context::word_count(ctx);
    if (n == 0) return;
    Cell* const words = context::word_at(ctx, 0);
    Cell* const values = context::value_at(ctx, 0);
    for (std::int32_t i = 0; i < n; ++i) {
        words[i].set_field_changed(false);
        values[i].set_new_line(false);
    }
}

// Gives ownership of every field value of obj to owner, with the field word
// of obj as the field; nested objects are walked with their own words.
void own_fields(const Cell& obj, const Cell& owner) {
    const Cell o = obj, own = owner;
    const NodeId ctx = ctx_of(o);
    const NodeId values = context::context_cell(ctx)->context_values();
    if (values == 0 || cycles::find(values)) return;
    cycles::Guard guard(values);
    for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
        const Cell v = *context::value_at(ctx, i);
        Cell w = *context::word_at(ctx, i);
        w.set_word_context(ctx);
        if (v.is(TypeId::object)) {
            if (ctx_of(v) == ctx_of(own)) continue;  // the owner itself
            if (!context::context_cell(ctx_of(v))->context_owning()) own_fields(v, own);
        } else {
            ownership::set_owner_deep(v, own, w);
        }
    }
}

void make_owner(const Cell& obj) {
    context::context_cell(ctx_of(obj))->set_context_owning(true);
    own_fields(obj, obj);
}

bool owning_q(const Cell& obj) {
    return context::context_cell(ctx_of(obj))->context_owning();
}

// Record cell k (0 on-change*, 1 on-deep-change*) of obj, or null.
Cell* record_cell(const Cell& obj, std::int32_t k) {
    if (obj.object_handlers() == 0) return nullptr;
    return reinterpret_cast<Cell*>(memory::buffer(obj.object_handlers())->head) + k;
}

std::int32_t record_index(const Cell& rec) {
    const std::uint32_t hi = rec.handler_field();
    return hi == no_handler ? -1 : static_cast<std::int32_t>(hi);
}

// Slots of fn after its first `args` arguments: /local and its words.
std::int32_t local_count(const Cell& fn, std::int32_t args) {
    const std::int32_t n = context::word_count(fn.code_entry()) - args;
    return n < 0 ? 0 : n;
}

// Calls handler fn (a function!) of obj with the arguments already built.
void call_handler(const Cell& obj, std::int32_t k, const Cell& fn, const Cell* args,
                  std::int32_t count, words::Word name_word) {
    Cell* rec = record_cell(obj, k);
    const std::int32_t locals = local_count(fn, count);
    if (rec != nullptr && rec->handler_spec() != fn.code_spec()) {  // the handler was replaced
        rec->set_handler_locals(static_cast<std::uint32_t>(locals), fn.code_spec());
    }
    callback::call(fn, args, count, words::word(name_word));
}

[[noreturn]] void path_error(const char* id, const Cell& a, const Cell& b) {
    runtime::raise_error(ErrorCategory::script, id, &a, &b);
}

Cell int_cell(std::int32_t v) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}

std::int32_t append_text(NodeId out, const char* text, std::int32_t part) {
    std::int32_t n = 0;
    for (const char* p = text; *p != 0; ++p) ++n;
    string::append_nul_text(out, text);
    return part - n;
}

// Evaluates spec (bound to obj's context) with obj kept alive; the value is dropped.
void evaluate_spec(const Cell& obj, const Cell& spec) {
    collector::Root keep_obj(obj);
    collector::Root keep_spec(spec);
    interpreter::run_block(spec);
}

}  // namespace

// --- Class ids and field access -------------------------------------------------------

std::int32_t new_class_id() { return ++class_counter; }

void reserve_class_ids(std::int32_t highest) { class_counter = std::max(class_counter, highest); }

std::int32_t find_word_index(const Cell& obj, const Cell& word) {
    return context::find_symbol(ctx_of(obj), word.word_symbol(), true);
}

const Cell* get_word_field(const Cell& obj, const Cell& word) {
    const std::int32_t i = find_word_index(obj, word);
    return i < 0 ? &none::value : context::value_at(ctx_of(obj), i);
}

std::int32_t count_words(const Cell& obj) { return context::word_count(ctx_of(obj)); }

bool slot_holds_class_q(NodeId ctx, std::int32_t index, std::int32_t class_id) {
    const Cell* v = context::value_at(ctx, index);
    return v != nullptr && v->is(TypeId::object) &&
           static_cast<std::int32_t>(v->object_class()) == class_id;
}

// --- Making ---------------------------------------------------------------------------

void make_at(Cell& cell, std::int32_t n) {
    const NodeId ctx = context::make(n, false, true, context::Kind::object);
    cell.reset(TypeId::object);
    cell.set_object(ctx, 0, 0);
    store_self(cell);
}

namespace {
void install_handlers(Cell& obj, bool in_place);
}  // namespace

void install_change_handlers(Cell& obj) { install_handlers(obj, false); }

void fill_change_handlers(Cell& obj) { install_handlers(obj, obj.object_handlers() != 0); }

namespace {
void install_handlers(Cell& obj, bool in_place) {
    const NodeId ctx = ctx_of(obj);
    const hashtable::WordFinder finder(context::context_cell(ctx)->context_words());
    const std::int32_t on_change = finder.find(words::word(words::Word::on_change_star).word_symbol());
    const std::int32_t on_deep = finder.find(words::word(words::Word::on_deep_change_star).word_symbol());
    if (on_change < 0 && on_deep < 0) {
        obj.set_object_handlers(0);
        store_self(obj);
        return;
    }
    std::uint32_t entries[2] = {no_handler << 16, no_handler << 16};
    std::uint32_t specs[2] = {0, 0};
    const std::int32_t fields[2] = {on_change, on_deep};
    const std::int32_t args[2] = {3, 7};
    for (int k = 0; k < 2; ++k) {
        if (fields[k] < 0) continue;
        const Cell v = *context::value_at(ctx, fields[k]);
        if (!v.is(TypeId::function) && !v.is(TypeId::routine)) {
            Cell w = *context::word_at(ctx, fields[k]);
            Cell type{};
            datatype::make_at(v.type(), type);
            runtime::raise_error(ErrorCategory::script, "bad-field-set", &w, &type);
        }
        entries[k] = (static_cast<std::uint32_t>(fields[k]) << 16) |
                     static_cast<std::uint32_t>(local_count(v, args[k]));
        specs[k] = v.code_spec();
    }
    Cell rec{};
    if (in_place) {
        rec.reset(TypeId::block);
        rec.set_series_node(obj.object_handlers());
    } else {
        block::make_at_filled(rec, 2, false);
    }
    Cell* cells = reinterpret_cast<Cell*>(memory::buffer(rec.series_node())->head);
    for (int k = 0; k < 2; ++k) {
        cells[k].reset(TypeId::pair);  // plain data for the collector
        cells[k].set_handler(entries[k] >> 16, entries[k] & 0xFFFF, specs[k]);
    }
    obj.set_object_handlers(rec.series_node());
    store_self(obj);
    if (on_deep >= 0) make_owner(obj);
}
}  // namespace

Cell copy(const Cell& obj, bool deep) {
    const Cell src = obj;
    Cell out = clone_context(src);
    collector::Root keep(out);
    out.set_object_class(src.object_class());
    store_self(out);
    rebind_fields(out, deep, true);
    keep.cell() = out;
    install_change_handlers(out);
    return out;
}

Cell make_from_spec(const Cell* proto, const Cell& spec) {
    const Cell s = spec;
    const bool has_proto = proto != nullptr && proto->is(TypeId::object);
    const Cell p = has_proto ? *proto : none::value;
    if (!s.is(TypeId::block) && !s.is(TypeId::object))
        runtime::raise_error(ErrorCategory::syntax, "malconstruct", &s);
    Cell obj{};
    if (has_proto) obj = clone_context(p);
    else make_at(obj, 4);
    collector::Root keep(obj);
    const NodeId ctx = ctx_of(obj);
    bool grew = false;
    if (s.is(TypeId::object)) {
        const NodeId sctx = ctx_of(s);
        for (std::int32_t i = 0; i < context::word_count(sctx); ++i) {
            const Cell w = *context::word_at(sctx, i);
            std::int32_t position = 0;
            std::int32_t index = context::find_or_add_symbol(ctx, w.word_symbol(), true, position);
            if (index < 0) {
                index = position;
                grew = true;
            }
            *context::value_at(ctx, index) = *context::value_at(sctx, i);
        }
        obj.set_object_class(static_cast<std::uint32_t>(grew || !has_proto ? new_class_id()
                                                                   : static_cast<std::int32_t>(p.object_class())));
        store_self(obj);
        rebind_fields(obj, true, has_proto && !grew);
    } else {
        grew = context::collect_set_words(ctx, s);
        context::bind_block(s, ctx, true);
        obj.set_object_class(static_cast<std::uint32_t>(grew || !has_proto ? new_class_id()
                                                                   : static_cast<std::int32_t>(p.object_class())));
        store_self(obj);
        if (has_proto) rebind_fields(obj, true, !grew);
        keep.cell() = obj;
        evaluate_spec(obj, s);
        clear_flags_and_markers(obj);
    }
    install_change_handlers(obj);
    return obj;
}

Cell push_from_spec(const Cell* proto, const Cell& spec, bool raw) {
    const Cell s = spec;
    Cell obj{};
    if (proto != nullptr && proto->is(TypeId::object)) {
        obj = copy(*proto, true);
    } else {
        make_at(obj, 4);
        obj.set_object_class(static_cast<std::uint32_t>(new_class_id()));
        store_self(obj);
    }
    collector::Root keep(obj);
    const NodeId ctx = ctx_of(obj);
    const std::int32_t head = s.series_head();
    const std::int32_t end = head + block::count_from_head(s);
    for (std::int32_t i = head; i < end;) {
        if (!block::get_cell(s, i)->is(TypeId::set_word)) {
            ++i;
            continue;
        }
        std::int32_t j = i;
        while (j < end && block::get_cell(s, j)->is(TypeId::set_word)) ++j;
        Cell value = j < end ? *block::get_cell(s, j) : none::value;
        if (!raw && value.is(TypeId::word)) {
            const std::uint32_t sym = value.word_symbol();
            if (same_symbol(sym, words::Sym::true_) || same_symbol(sym, words::Sym::yes) ||
                same_symbol(sym, words::Sym::on)) value = logic::true_value;
            else if (same_symbol(sym, words::Sym::false_) || same_symbol(sym, words::Sym::no) ||
                     same_symbol(sym, words::Sym::off)) value = logic::false_value;
            else if (same_symbol(sym, words::Sym::none)) value = none::value;
        }
        for (std::int32_t k = i; k < j; ++k) {
            const Cell w = *block::get_cell(s, k);
            context::put_word_value(ctx, w, value);
        }
        i = j + 1;
    }
    clear_flags_and_markers(obj);
    install_change_handlers(obj);
    return obj;
}

void set_field(const Cell& obj, std::int32_t index, const Cell& value) {
    const Cell o = obj, v = value;
    const NodeId ctx = ctx_of(o);
    Cell* slot = context::value_at(ctx, index);
    const Cell old_value = *slot;
    *slot = v;
    Cell* const field = context::word_at(ctx, index);
    Cell word = *field;  // taken before the flag is set, as the hooks always saw it
    field->set_field_changed(true);
    word.set_word_context(ctx);
    if (owning_q(o) && !v.is(TypeId::object)) ownership::set_owner_deep(v, o, word);
    if (o.object_handlers() != 0 && !is_handler_field(word.word_symbol()))
        fire_on_change(o, word, old_value, v);
}

void set_fields(Cell& target, const Cell& source, SetOptions options) {
    const Cell t = target, src = source;
    const NodeId ctx = ctx_of(t);
    const std::int32_t n = context::word_count(ctx);
    const bool from_object = !options.only && src.is(TypeId::object);
    const bool from_block = !options.only && src.is(TypeId::block);
    if (!from_object && !from_block) {
        for (std::int32_t i = 0; i < n; ++i) set_field(t, i, src);
        return;
    }
    // The value for field i, or null when the field stays as it is.
    auto source_value = [&](std::int32_t i, Cell& out) -> bool {
        if (from_object) {
            const Cell w = *context::word_at(ctx, i);
            const std::int32_t j = find_word_index(src, w);
            if (j < 0) return false;
            out = *context::value_at(ctx_of(src), j);
            return true;
        }
        out = i < block::count_from_head(src) ? *block::get_cell(src, src.series_head() + i)
                                              : none::value;
        return true;
    };
    Cell v{};
    if (!options.some && !options.any) {
        for (std::int32_t i = 0; i < n; ++i) {
            if (source_value(i, v) && v.is(TypeId::unset)) {
                Cell w = *context::word_at(ctx, i);
                runtime::raise_error(ErrorCategory::script, "need-value", &w);
            }
        }
    }
    for (std::int32_t i = 0; i < n; ++i) {
        if (!source_value(i, v)) continue;
        if (options.some && v.is(TypeId::none)) continue;
        set_field(t, i, v);
    }
}

// --- Change notification ---------------------------------------------------------------

void field_changed(const Cell& owner, const Cell& word, const Cell& old_value, const Cell& new_value) {
    if (owner.object_handlers() == 0 || is_handler_field(word.word_symbol())) return;
    fire_on_change(owner, word, old_value, new_value);
}

void fire_on_change(const Cell& obj, const Cell& word, const Cell& old_value,
                    const Cell& new_value) {
    const Cell o = obj;
    const Cell* rec = record_cell(o, 0);
    if (rec == nullptr) return;
    const std::int32_t field = record_index(*rec);
    if (field < 0) return;
    const Cell fn = *context::value_at(ctx_of(o), field);
    if (!fn.is(TypeId::function))
        runtime::raise_error(ErrorCategory::script, "invalid-obj-evt", &fn);
    Cell w = word;
    w.set_type(TypeId::word);   // a set-word bound to the field arrives here as it was written
    if (w.word_context() != ctx_of(o)) context::bind_word(ctx_of(o), w);
    const Cell args[3] = {w, old_value, new_value};
    collector::Root keep(o);
    call_handler(o, 0, fn, args, 3, words::Word::on_change_star);
}

bool fire_on_deep_change(const Cell& owner, const Cell& word, const Cell& target,
                         const Cell& action, const Cell& new_value, std::int32_t index,
                         std::int32_t part) {
    const Cell o = owner;
    const Cell* rec = record_cell(o, 1);
    if (rec == nullptr) runtime::raise_error(ErrorCategory::script, "invalid-obj-evt", &o);
    const std::int32_t field = record_index(*rec);
    if (field < 0) return false;
    const Cell fn = *context::value_at(ctx_of(o), field);
    if (!fn.is(TypeId::function)) return false;
    const Cell args[7] = {o, word, target, action, new_value, int_cell(index), int_cell(part)};
    collector::Root keep(o);
    call_handler(o, 1, fn, args, 7, words::Word::on_deep_change_star);
    return true;
}

// --- Text ---------------------------------------------------------------------------------

std::int32_t mold_body(const Cell& obj, NodeId out, MoldOptions options,
                       std::int32_t part, std::int32_t indent) {
    const Cell o = obj;
    const NodeId ctx = ctx_of(o);
    cycles::Guard guard(ctx);
    bool first = true;
    for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
        if (part < 1) break;
        const Cell w = *context::word_at(ctx, i);
        if (!options.all && is_handler_field(w.word_symbol())) continue;
        Cell* slot = context::value_at(ctx, i);
        if (slot->type() == TypeId::no_type) slot->reset(TypeId::unset);
        Cell v = *slot;
        if (options.flat) {
            if (!first) part = append_text(out, " ", part);
        } else if (options.only) {
            if (!first) part = append_text(out, "\n", part);
        } else {
            part = block::mold_indent(out, indent + 1, part);
        }
        first = false;
        part = word::append_name(w.word_symbol(), out, part);
        part = append_text(out, ": ", part);
        if (v.is(TypeId::word)) part = append_text(out, "'", part);
        auto mold_value = registry::handler<Action::mold>(v.type());
        KIV_ASSERT(mold_value != nullptr, "every datatype molds");
        part = mold_value(&v, out, options.nested(), nullptr, part, indent + 1);
        if (!options.flat && !options.only) part = append_text(out, "\n", part);
    }
    return part;
}

// --- Handlers, in action order ---------------------------------------------------------------

namespace {

Cell* make(Cell* proto, Cell* spec, TypeId) {
    const Cell p = *proto;
    const Cell s = *spec;
    *proto = make_from_spec(p.is(TypeId::object) ? &p : nullptr, s);
    return proto;
}

Cell* reflect(Cell* value, Cell* field) {
    const Cell o = *value;
    const NodeId ctx = ctx_of(o);
    const std::int32_t n = context::word_count(ctx);
    const std::uint32_t sym = field->is(TypeId::word) ? field->word_symbol() : 0;
    auto is = [&](words::Sym s) { return sym != 0 && same_symbol(sym, s); };
    Cell out{};
    if (is(words::Sym::words) || is(words::Sym::values) || is(words::Sym::body)) {
        const bool body = is(words::Sym::body);
        block::make_at(out, body ? 2 * n : n);
        collector::Root keep(out);
        for (std::int32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(ctx, i);
            w.set_bare_type(TypeId::word);
            w.set_word_context(ctx);
            if (is(words::Sym::values)) {
                block::append_copy(out, *context::value_at(ctx, i));
                continue;
            }
            if (!body) {
                block::append_copy(out, w);
                continue;
            }
            w.set_type(TypeId::set_word);
            w.set_new_line(true);
            block::append_copy(out, w);
            Cell v = *context::value_at(ctx, i);
            if (v.is(TypeId::word)) v.set_type(TypeId::lit_word);
            else if (v.is(TypeId::path)) v.set_type(TypeId::lit_path);
            v.set_new_line(false);
            block::append_copy(out, v);
        }
    } else if (is(words::Sym::class_)) {
        out = int_cell(static_cast<std::int32_t>(o.object_class()));
    } else if (sym != 0 && canonical(sym) == canonical(words::word(words::Word::changed).word_symbol())) {
        block::make_at(out, 4);
        collector::Root keep(out);
        for (std::int32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(ctx, i);
            if (!w.field_changed()) continue;
            w.set_bare_type(TypeId::word);
            w.set_word_context(ctx);
            block::append_copy(out, w);
        }
    } else if (is(words::Sym::owner)) {
        out = owning_q(o) ? logic::true_value : logic::false_value;
    } else if (is(words::Sym::events_q)) {
        out = o.object_handlers() != 0 ? logic::true_value : logic::false_value;
    } else {
        runtime::raise_error(ErrorCategory::internal, "not-done");
    }
    *value = out;
    return value;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    if (cycles::mold_cycle_marker(*value, out, part, false)) return part;
    return mold_body(*value, out, {.only = true}, part, 0);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell*,
                  std::int32_t part, std::int32_t indent) {
    if (cycles::mold_cycle_marker(*value, out, part, true)) return part;
    if (!options.only)
        part = append_text(out, options.flat ? "make object! [" : "make object! [\n", part);
    part = mold_body(*value, out, options, part, indent);
    if (!options.only) {
        if (!options.flat) part = block::mold_indent(out, indent, part);
        part = append_text(out, "]", part);
    }
    return part;
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const Cell o = *value;
    const Cell e = *element;
    const Cell path = step.path != nullptr ? *step.path : e;
    if (!word::is_any_word(e.type()) || e.is(TypeId::refinement))
        path_error("invalid-path", e, path);
    const NodeId ctx = ctx_of(o);
    const std::int32_t index = context::find_symbol(ctx, e.word_symbol(), true);
    if (new_value != nullptr) {
        if (same_symbol(e.word_symbol(), words::Sym::self) || index < 0)
            path_error("invalid-path", e, path);
        const Cell v = *new_value;
        set_field(o, index, v);
        return new_value;
    }
    Cell* slot = index >= 0 ? context::value_at(ctx, index) : nullptr;
    if (slot != nullptr && !slot->is(TypeId::unset)) return slot;
    if (same_symbol(e.word_symbol(), words::Sym::self)) return context::owner(ctx);
    static Cell unset_result{};
    if (step.get && step.last) {
        unset_result = unset_cell;
        return &unset_result;
    }
    if (step.last) path_error("invalid-path", e, path);
    path_error("unset-path", path, e);
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::object)) return not_comparable;
    const Cell a = *value1, b = *value2;
    const NodeId ca = ctx_of(a), cb = ctx_of(b);
    if (ca == cb) return 0;
    if (op == CompareOp::same) return -1;
    if (cycles::find(ca)) return cycles::find(cb) ? 0 : -1;
    const std::int32_t na = context::word_count(ca), nb = context::word_count(cb);
    if (na != nb) return na > nb ? 1 : -1;
    cycles::Guard guard(ca);
    for (std::int32_t i = 0; i < na; ++i) {
        const std::int32_t sa = canonical(context::word_at(ca, i)->word_symbol());
        const std::int32_t sb = canonical(context::word_at(cb, i)->word_symbol());
        if (sa != sb) return sa < sb ? -1 : 1;
        Cell va = *context::value_at(ca, i), vb = *context::value_at(cb, i);
        std::int32_t r = va.type() != vb.type() ? not_comparable : actions::compare_order(&va, &vb, op);
        if (r == not_comparable)  // incomparable values order by type id
            r = static_cast<int>(va.type()) < static_cast<int>(vb.type()) ? -1 : 1;
        if (r != 0) return r;
    }
    return 0;
}

Cell* copy_(Cell* value, Cell* part, bool deep, Cell* types) {
    if (part != nullptr) {
        Cell ref{};
        word::make_kind_at(TypeId::refinement, "part", ref);
        runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref);
    }
    const Cell o = *value;
    if (types != nullptr && cycles::find(ctx_of(o)))
        runtime::raise_error(ErrorCategory::internal, "no-cycle");
    Cell out = copy(o, deep && types == nullptr);
    if (types != nullptr && types->is(TypeId::typeset)) {
        collector::Root keep(out);
        cycles::Guard guard(ctx_of(o));
        const NodeId ctx = ctx_of(out);
        for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
            const Cell v = *context::value_at(ctx, i);
            if (is_deep_copied(v.type()) && types->typeset_has(static_cast<int>(v.type()))) {
                const Cell nv = deep_copy_value(v, ctx);
                *context::value_at(ctx, i) = nv;
            }
        }
    }
    *value = out;
    return value;
}

Cell* put(Cell* value1, Cell* key, Cell* value3, bool) {
    if (!key->is(TypeId::word)) {
        Cell type{};
        datatype::make_at(key->type(), type);
        runtime::raise_error(ErrorCategory::script, "invalid-key-type", &type);
    }
    const Cell o = *value1;
    const std::int32_t index = find_word_index(o, *key);
    if (index < 0) path_error("invalid-path", *key, *key);
    const Cell v = *value3;
    set_field(o, index, v);
    *value1 = v;
    return value1;
}

Cell* select(Cell* series, Cell* key, const FindRefinements&) {
    if (!word::is_any_word(key->type())) {
        Cell type{};
        datatype::make_at(key->type(), type);
        runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
    }
    const Cell v = *get_word_field(*series, *key);
    *series = v;
    return series;
}

Cell* modify(Cell* value1, Cell* field, Cell* value3, bool) {
    const Cell o = *value1, v = *value3;
    const std::uint32_t sym = field->is(TypeId::word) ? field->word_symbol() : 0;
    if (sym != 0 && canonical(sym) == canonical(words::word(words::Word::changed).word_symbol())) {
        if (!v.is(TypeId::none)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &v);
        const NodeId ctx = ctx_of(o);
        for (std::int32_t i = 0; i < context::word_count(ctx); ++i)
            context::word_at(ctx, i)->set_field_changed(false);
    } else if (sym != 0 && same_symbol(sym, words::Sym::owner)) {
        make_owner(o);
    } else if (sym != 0 && same_symbol(sym, words::Sym::owned)) {
        if (v.is(TypeId::none)) {
            context::context_cell(ctx_of(o))->set_context_owning(false);
            const NodeId ctx = ctx_of(o);
            for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
                const Cell fv = *context::value_at(ctx, i);
                ownership::unset_owner_deep(fv);
            }
        } else if (v.is(TypeId::block) && block::count_from_head(v) >= 2 &&
                   block::get_cell(v, v.series_head())->is(TypeId::object)) {
            const Cell owner = *block::get_cell(v, v.series_head());
            const Cell w = *block::get_cell(v, v.series_head() + 1);
            const NodeId ctx = ctx_of(o);
            for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
                const Cell fv = *context::value_at(ctx, i);
                ownership::set_owner_deep(fv, owner, w);
            }
        } else {
            runtime::raise_error(ErrorCategory::script, "invalid-arg", &v);
        }
    } else {
        runtime::raise_error(ErrorCategory::script, "invalid-arg", field);
    }
    *value1 = v;
    return value1;
}

constexpr registry::Registration registration{TypeId::object, registry::table({
    {Action::make,      make},
    {Action::reflect,   reflect},
    {Action::form,      form},
    {Action::mold,      mold},
    {Action::eval_path, eval_path},
    {Action::compare,   compare},
    {Action::copy,      copy_},
    {Action::put,       put},
    {Action::select,    select},
    {Action::modify,    modify},  // ORDER ACTIONS
})};

}  // namespace

void init() {
    registry::register_type(registration);
}

}  // namespace kiv::object
