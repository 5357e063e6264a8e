// Contexts and binding. The word list is a kind-2 hash table whose value
// block holds the words in order (entry i carries index i); a heap context
// keeps one value per word in a values block grown with the word list.
// Lookups never allocate, so cell addresses they return stay valid until the
// caller allocates; entering a word may move the word and value blocks.
#include "runtime/datatypes/context.h"

#include "runtime/core/assert.h"
#include "runtime/core/buffer.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"

namespace kiv::context {

namespace {

NodeId global_ctx = 0;
SymbolId self_id = 0;

SymbolId self_symbol() {
    if (self_id == 0) self_id = symbol::make("self");
    return self_id;
}

Cell* cells_of(NodeId node) { return reinterpret_cast<Cell*>(memory::buffer(node)->head); }

// The one place that reads a stack context's values.
Cell* stack_value(const Cell& cc, std::int32_t index) {
    KIV_ASSERT(stack_values_origin != nullptr, "stack context used without an argument stack");
    return stack_values_origin + (cc.context_values() - 1) + index;
}

void mark_global() { collector::mark_context(global_ctx); }

bool binds_recursively(TypeId t) {
    switch (t) {
    case TypeId::block: case TypeId::paren: case TypeId::path: case TypeId::lit_path:
    case TypeId::set_path: case TypeId::get_path: case TypeId::hash:
        return true;
    default:
        return false;
    }
}

}  // namespace

void init() {
    static constexpr registry::Registration r{TypeId::context, registry::table({})};
    registry::register_type(r);
}

void init_global(std::int32_t size) {
    self_id = 0;
    global_ctx = make(size, false, false, Kind::plain);
    collector::set_root(collector::RootStep::global_context, mark_global);
}

NodeId global() { return global_ctx; }

NodeId make(std::int32_t count, bool stack, bool self, Kind kind) {
    const std::int32_t n = count < 1 ? 1 : count;
    Cell node_cell{};
    block::make_at_filled(node_cell, 2, false);   // context! cell and owner, both unset
    const NodeId ctx = node_cell.series_node();
    const NodeId words = hashtable::create_word_list(n);  // its buckets come at the first lookup that needs them
    NodeId values = 0;
    if (!stack) {
        Cell values_cell{};
        block::make_at(values_cell, n);
        values = values_cell.series_node();
    }
    Cell& cc = *context_cell(ctx);
    cc.reset(TypeId::context);
    cc.set_context(static_cast<std::uint32_t>(kind), stack, self, words, values);
    return ctx;
}

NodeId clone(NodeId ctx, Kind kind, bool self) {
    const Cell cc = *context_cell(ctx);
    Cell node_cell{};
    block::make_at_filled(node_cell, 2, false);   // context! cell and owner, both unset
    const NodeId copy = node_cell.series_node();
    const NodeId old_words = cc.context_words();
    const NodeId entries = memory::clone_series(memory::buffer(hashtable::values_of(old_words)));
    const NodeId words = hashtable::copy(old_words, entries);
    const std::int32_t n = hashtable::record(words)->count;
    Cell* const entry = cells_of(entries);
    for (std::int32_t i = 0; i < n; ++i) entry[i].set_word_context(copy);
    NodeId values = 0;
    if (!cc.context_on_stack()) values = memory::clone_series(memory::buffer(cc.context_values()));
    Cell& out = *context_cell(copy);
    out.reset(TypeId::context);
    out.set_context(static_cast<std::uint32_t>(kind), cc.context_on_stack(), self, words, values);
    return copy;
}

NodeId share_words(NodeId ctx) {
    const Cell cc = *context_cell(ctx);
    KIV_ASSERT(cc.context_on_stack(), "only a function context shares its words");
    Cell node_cell{};
    block::make_at_filled(node_cell, 2, false);   // context! cell and owner, both unset
    const NodeId copy = node_cell.series_node();
    Cell& out = *context_cell(copy);
    out.reset(TypeId::context);
    out.set_context(cc.context_kind(), true, cc.context_has_self(), cc.context_words(), 0);
    return copy;
}

NodeId make_from_block(const Cell& blk, bool stack, bool self, Kind kind) {
    const SeriesBuffer* buf = memory::buffer(blk.series_node());
    const std::int32_t n = buf->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
    const NodeId ctx = make(n, stack, self, kind);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell c = *block::get_cell(blk, i);
        switch (c.type()) {
        case TypeId::word: case TypeId::get_word: case TypeId::lit_word: case TypeId::refinement: {
            std::int32_t position = 0;
            find_or_add_symbol(ctx, c.word_symbol(), true, position);
            break;
        }
        default:
            break;
        }
    }
    return ctx;
}

Cell* context_cell(NodeId ctx) { return cells_of(ctx); }
Cell* owner(NodeId ctx) { return cells_of(ctx) + 1; }

std::int32_t word_count(NodeId ctx) {
    return hashtable::record(context_cell(ctx)->context_words())->count;
}

Cell* word_at(NodeId ctx, std::int32_t index) {
    KIV_ASSERT(index >= 0 && index < word_count(ctx), "word index outside the context");
    return cells_of(hashtable::values_of(context_cell(ctx)->context_words())) + index;
}

Cell* value_at(NodeId ctx, std::int32_t index) {
    const Cell& cc = *context_cell(ctx);
    KIV_ASSERT(index >= 0 && index < word_count(ctx), "value index outside the context");
    if (cc.context_values() == 0) return nullptr;
    if (cc.context_on_stack()) return stack_value(cc, index);
    return cells_of(cc.context_values()) + index;
}

std::int32_t find_symbol(NodeId ctx, SymbolId sym, bool alias) {
    std::int32_t unused = 0;
    return hashtable::context_word_index(context_cell(ctx)->context_words(), sym, alias, 0, unused);
}

std::int32_t find_or_add_symbol(NodeId ctx, SymbolId sym, bool alias, std::int32_t& position) {
    const std::int32_t index =
        hashtable::context_word_index(context_cell(ctx)->context_words(), sym, alias, ctx, position);
    if (index < 0) {
        const Cell& cc = *context_cell(ctx);
        if (!cc.context_on_stack()) buffer::append_cell(cc.context_values());
    }
    return index;
}

std::int32_t append_new_symbol(NodeId ctx, SymbolId sym) {
    const std::int32_t index = hashtable::append_new_word(context_cell(ctx)->context_words(), sym, ctx);
    const Cell& cc = *context_cell(ctx);
    if (!cc.context_on_stack()) buffer::append_cell(cc.context_values());
    return index;
}

std::int32_t find_or_add_word(NodeId ctx, const Cell& word) {
    std::int32_t position = 0;
    const std::int32_t index = find_or_add_symbol(ctx, word.word_symbol(), true, position);
    return index >= 0 ? index : position;
}

void add_word_with_value(NodeId ctx, const Cell& word, const Cell& value) {
    const Cell v = value;   // value may lie in a block that entering moves
    std::int32_t position = 0;
    if (find_or_add_symbol(ctx, word.word_symbol(), true, position) >= 0) return;
    if (Cell* slot = value_at(ctx, position)) *slot = v;
}

void put_word_value(NodeId ctx, const Cell& word, const Cell& value) {
    const Cell v = value;
    const std::int32_t index = find_or_add_word(ctx, word);
    if (Cell* slot = value_at(ctx, index)) *slot = v;
}

Cell* find_or_add_global_word(SymbolId sym, bool alias, bool copy) {
    const NodeId words = context_cell(global_ctx)->context_words();
    std::int32_t unused = 0;
    const std::int32_t first = hashtable::context_word_index(words, sym, true, 0, unused);
    std::int32_t index = alias ? first : hashtable::context_word_index(words, sym, false, 0, unused);
    if (index >= 0) {
        Cell* entry = word_at(global_ctx, index);
        if (!(alias && copy && entry->word_symbol() != sym)) return entry;
        Cell variant = *entry;   // the first spelling's slot under the asked spelling
        variant.set_word_symbol(sym);
        return block::append_copy(block::root(), variant);
    }
    // The spelling is absent (no word of it, or none at all of its case
    // variants): entered with no further lookup.
    const std::int32_t position = append_new_symbol(global_ctx, sym);
    Cell* entry = word_at(global_ctx, position);
    // A case variant shares the first spelling's value slot.
    if (first >= 0) entry->set_word_index(first);
    return entry;
}

Cell* add_global_symbol(SymbolId sym) {
    Cell* entry = find_or_add_global_word(sym, false, false);
    if (!words::recording) return entry;
    const Cell w = *entry;
    return block::append_copy(block::root(), w);
}

Cell* symbol_value_cell(NodeId ctx, SymbolId sym) {
    if (context_cell(ctx)->context_on_stack()) ctx = global_ctx;
    const std::int32_t index = find_symbol(ctx, sym, true);
    KIV_ASSERT(index >= 0, "symbol_value_cell of a symbol the context lacks");
    return value_at(ctx, index);
}

Cell* get_word_cell_in(const Cell& word, NodeId ctx) {
    const std::int32_t index = word.word_index();
    if (index < 0) {
        if (word.word_symbol() == self_symbol() && word.word_context() != 0)
            return owner(word.word_context());
        runtime::raise_error(ErrorCategory::script, "no-value", &word);
    }
    Cell* slot = value_at(ctx, index);
    if (slot == nullptr) runtime::raise_error(ErrorCategory::script, "not-in-context", &word);
    return slot;
}

Cell* get_word_cell(const Cell& word) {
    if (word.word_context() == 0) runtime::raise_error(ErrorCategory::script, "no-value", &word);
    return get_word_cell_in(word, word.word_context());
}

Cell* set_word_value(Cell& word, const Cell& value, NodeId ctx, bool notify) {
    const Cell v = value;   // value may lie in a block that entering moves
    if (word.word_index() < 0) {
        std::int32_t index = find_symbol(ctx, word.word_symbol(), false);
        if (index < 0) index = find_or_add_word(ctx, word);
        word.set_word_index(index);
    }
    const std::int32_t index = word.word_index();
    Cell* slot = value_at(ctx, index);
    if (slot == nullptr) runtime::raise_error(ErrorCategory::script, "not-defined", &word);
    if (context_cell(ctx)->context_on_stack()) {
        *slot = v;
        return slot;
    }
    if (static_cast<Kind>(context_cell(ctx)->context_kind()) == Kind::object) {
        word_at(ctx, index)->set_field_changed(true);
        if (notify && owner(ctx)->is(TypeId::object)) {
            const Cell old_value = *slot;
            *slot = v;
            const Cell own = *owner(ctx);
            object::field_changed(own, word, old_value, v);
            return value_at(ctx, index);
        }
    }
    *slot = v;
    return slot;
}

Cell* set_word_general(Cell& word, const Cell& value) {
    if (word.word_context() == 0) runtime::raise_error(ErrorCategory::script, "not-defined", &word);
    return set_word_value(word, value, word.word_context(), true);
}

std::int32_t bind_word(NodeId ctx, Cell& word) {
    const std::int32_t index = find_symbol(ctx, word.word_symbol(), true);
    if (index >= 0) {
        word.set_word_context(ctx);
        word.set_word_index(index);
    }
    return index;
}

namespace {

// Calls bind(cell) for each word cell of blk from its head to its tail and of
// its nested blocks, parens, paths and hash!, in place. A block met again
// through a cycle is walked once. bind must not allocate.
template <class Bind>
void walk_words(const Cell& blk, const Bind& bind) {
    const NodeId node = blk.series_node();
    if (cycles::find(node)) return;   // met again through a cycle: bound already
    cycles::Guard guard(node);
    memory::touch(node);  // rebound words: code compiled from the block is stale
    const std::int32_t end =
        memory::buffer(node)->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
    Cell* const cells = block::get_cell(blk, 0);
    for (std::int32_t i = blk.series_head(); i < end; ++i) {
        Cell* c = cells + i;
        const TypeId t = c->type();
        if (t >= TypeId::word && t <= TypeId::refinement) {
            bind(*c);
        } else if (binds_recursively(t)) {
            const Cell inner = *c;
            walk_words(inner, bind);
        }
    }
}

}  // namespace

void bind_block(const Cell& blk, NodeId ctx, bool self) {
    const SymbolId self_sym = self ? self_symbol() : 0;
    // Binding allocates nothing: the word index and the block stay where they are.
    const hashtable::WordFinder finder(context_cell(ctx)->context_words());
    walk_words(blk, [&](Cell& c) {
        if (self && c.type() == TypeId::word && c.word_symbol() == self_sym) {
            c.set_word_context(ctx);
            c.set_word_index(-1);
        } else if (const std::int32_t index = finder.find(c.word_symbol()); index >= 0) {
            c.set_word_context(ctx);
            c.set_word_index(index);
        }
    });
}

void bind_block_within(const Cell& blk, NodeId inner, NodeId outer) {
    const SymbolId self_sym = self_symbol();
    const hashtable::WordFinder in_inner(context_cell(inner)->context_words());
    const hashtable::WordFinder in_outer(context_cell(outer)->context_words());
    walk_words(blk, [&](Cell& c) {
        const SymbolId canonical = in_inner.canonical_of(c.word_symbol());
        if (const std::int32_t index = in_inner.find_canonical(canonical); index >= 0) {
            c.set_word_context(inner);
            c.set_word_index(index);
        } else if (c.type() == TypeId::word && c.word_symbol() == self_sym) {
            c.set_word_context(outer);
            c.set_word_index(-1);
        } else if (const std::int32_t at = in_outer.find_canonical(canonical); at >= 0) {
            c.set_word_context(outer);
            c.set_word_index(at);
        }
    });
}

bool collect_set_words(NodeId ctx, const Cell& blk) {
    const std::int32_t end =
        memory::buffer(blk.series_node())->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
    bool grew = false;
    std::int32_t i = blk.series_head();
    {
        // Words already present are looked up without entering anything; the
        // first absent one ends this pass, as entering it changes the index.
        const hashtable::WordFinder finder(context_cell(ctx)->context_words());
        const Cell* const cells = block::get_cell(blk, 0);
        for (; i < end; ++i)
            if (cells[i].is(TypeId::set_word) && finder.find(cells[i].word_symbol()) < 0) break;
    }
    for (; i < end; ++i) {
        const Cell c = *block::get_cell(blk, i);
        if (!c.is(TypeId::set_word)) continue;
        std::int32_t position = 0;
        if (find_or_add_symbol(ctx, c.word_symbol(), true, position) < 0) grew = true;
    }
    return grew;
}

void renew(Cell& value, Kind kind) {
    const NodeId old_ctx = value.own_context();
    const Cell old_cell = *context_cell(old_ctx);
    const std::int32_t n = word_count(old_ctx);
    const NodeId ctx = make(n, old_cell.context_on_stack(), old_cell.context_has_self(), kind);
    for (std::int32_t i = 0; i < n; ++i) {
        const SymbolId sym = word_at(old_ctx, i)->word_symbol();
        std::int32_t position = 0;
        find_or_add_symbol(ctx, sym, false, position);
    }
    value.set_own_context(ctx);
    *owner(ctx) = value;   // the owner is the function or object itself
}

void set_argument_stack(Cell* first) { stack_values_origin = first; }

std::int32_t set_stack_values(NodeId ctx, std::int32_t stack_index) {
    Cell& cc = *context_cell(ctx);
    KIV_ASSERT(cc.context_on_stack(), "set_stack_values on a heap context");
    const std::int32_t previous = cc.context_stack_index();
    cc.set_context_stack_index(stack_index);
    return previous;
}

}  // namespace kiv::context
