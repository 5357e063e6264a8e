// Contexts: a word list (kind-2 hash table over a block of words) and one value
// cell per word. A context is a 2-cell block, its context-node: cell 0 the
// context! cell, cell 1 the owner (function or object value, else unset).
// Heap contexts keep values in a block; function contexts keep them on the
// argument stack while a call runs. Words bound to a context carry its node
// and their index, so reading a word is an index, never a search.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::context {

using symbol::SymbolId;

// Context kinds (context! header bits 11-12).
enum class Kind : std::uint32_t { plain = 0, function = 1, object = 2 };

// Registers context! (type 14, no parent, no actions).
void init();
// Makes the global context (room for size words, 4,000 by default; plain,
// heap values) and makes it a collector root. Needs the symbol table.
void init_global(std::int32_t size = 4000);
// The global context's node (0 before init_global).
NodeId global();

// A new context for count words (0 is taken as 1); a heap context also gets a
// values block. self marks an object context that has a self.
NodeId make(std::int32_t count, bool stack, bool self, Kind kind);
// A context holding, in order and once each, every word!, get-word!,
// lit-word! and refinement! of blk's whole buffer (set-words are not taken).
NodeId make_from_block(const Cell& blk, bool stack, bool self, Kind kind);

// A new context of the kind given, with self when asked, holding ctx's words
// in their order (the word index copied, not rebuilt) and, for a heap
// context, a shallow copy of its values; a stack context's copy is outside
// any call. The owner is unset.
NodeId clone(NodeId ctx, Kind kind, bool self);

// A new stack context (outside any call, owner unset) over the word index of
// the stack context ctx itself: a function's word list never changes once
// made, so copies of a function can share it.
NodeId share_words(NodeId ctx);

// The context! cell and the owner cell (valid until the next allocation).
Cell* context_cell(NodeId ctx);
Cell* owner(NodeId ctx);
// Words in the context.
std::int32_t word_count(NodeId ctx);
// The word-list entry at index (a word! whose index is its position).
Cell* word_at(NodeId ctx, std::int32_t index);
// Value index of the context, or null when the context has no values (a
// function context outside a call).
Cell* value_at(NodeId ctx, std::int32_t index);

// Index of the symbol in the context (alias: by canonical id), or -1.
std::int32_t find_symbol(NodeId ctx, SymbolId sym, bool alias);
// Index of the symbol when present; else appends it (value unset for a heap
// context), stores its index in position and returns -1.
std::int32_t find_or_add_symbol(NodeId ctx, SymbolId sym, bool alias, std::int32_t& position);
// Appends the symbol's word, which the caller knows ctx to lack, with no
// lookup (the boot image's contexts, checked when it was made): as
// find_or_add_symbol when absent. Returns its index.
std::int32_t append_new_symbol(NodeId ctx, SymbolId sym);
// Index of the word's symbol (alias lookup), appending the word when absent.
std::int32_t find_or_add_word(NodeId ctx, const Cell& word);
// Enters the word with a copy of value when it is absent; nothing when present.
void add_word_with_value(NodeId ctx, const Cell& word, const Cell& value);
// Copies value into the word's slot, entering the word first when absent.
void put_word_value(NodeId ctx, const Cell& word, const Cell& value);

// The global word-list entry of the symbol, entered (value unset) when
// missing; a case variant entered fresh points (word 3) at the first
// spelling's slot. When found under another spelling and both alias and copy
// are set, a copy carrying sym is appended to the root block and returned.
Cell* find_or_add_global_word(SymbolId sym, bool alias, bool copy);
// find_or_add_global_word with exact lookup; while start-up word recording
// is on, a copy of the word is appended to the root block and returned.
Cell* add_global_symbol(SymbolId sym);
// Address of the symbol's value cell in ctx (alias lookup); a stack context
// is looked up in the global context instead. The symbol must be present.
Cell* symbol_value_cell(NodeId ctx, SymbolId sym);

// Address of the word's value cell in ctx. Index -1: the owner cell for
// `self`, else script error no-value; a context without values raises
// script error not-in-context.
Cell* get_word_cell_in(const Cell& word, NodeId ctx);
// The same in the word's own context.
Cell* get_word_cell(const Cell& word);
// The argument stack's first cell (set_argument_stack), for peek_word_cell.
inline Cell* stack_values_origin = nullptr;
// The word's value cell when it is bound by index to a context with values,
// else null (get_word_cell then raises the matching error). Inline: the
// interpreter reads every word through it.
inline Cell* peek_word_cell(const Cell& word) {
    const NodeId ctx = word.word_context();
    const std::int32_t index = word.word_index();
    if (ctx == 0 || index < 0) return nullptr;
    const Cell& cc = *reinterpret_cast<const Cell*>(memory::buffer(ctx)->head);  // the context cell
    const std::uint32_t values = cc.context_values();
    if (values == 0) return nullptr;
    if (cc.context_on_stack()) return stack_values_origin + (values - 1) + index;
    return reinterpret_cast<Cell*>(memory::buffer(values)->head) + index;
}
// Stores a copy of value for the word in ctx (entering it when its index is
// -1 and storing the index in the word); a context without values raises
// script error not-defined. Returns the value cell.
Cell* set_word_value(Cell& word, const Cell& value, NodeId ctx, bool notify);
// set_word for what its inline part leaves: object fields, words not bound
// by index, contexts without values.
Cell* set_word_general(Cell& word, const Cell& value);
// set_word_value in the word's own context, with notification. Inline: a
// bound word of a plain or function context goes straight into its slot, as
// set_word_value would store it (only object fields note changes).
inline Cell* set_word(Cell& word, const Cell& value) {
    if (Cell* slot = peek_word_cell(word);
        slot != nullptr && static_cast<Kind>(reinterpret_cast<const Cell*>(memory::buffer(word.word_context())->head)
                                                   ->context_kind()) != Kind::object) {
        *slot = value;
        return slot;
    }
    return set_word_general(word, value);
}

// Binds the word to ctx when ctx holds its symbol (alias lookup); returns
// the index, or -1 and leaves the word as it was.
std::int32_t bind_word(NodeId ctx, Cell& word);
// Binds the words of blk from its head to its tail in place, recursing into
// nested blocks, parens, paths and hash!; self binds `self` with index -1.
// A block met again through a cycle is bound once.
void bind_block(const Cell& blk, NodeId ctx, bool self);
// bind_block(blk, outer, true) and then bind_block(blk, inner, false) in one
// walk: a word takes inner when inner holds its symbol, else `self` and the
// words of outer take outer.
void bind_block_within(const Cell& blk, NodeId inner, NodeId outer);
// Enters every set-word! of blk from its head; true when the context grew.
bool collect_set_words(NodeId ctx, const Cell& blk);
// Gives the function or object value (context node in word 1) a fresh
// context of the same size, flags and words, bound to the new node.
void renew(Cell& value, Kind kind);

// --- Values on the argument stack -------------------------------------------

// The evaluator hands over its argument stack here; stack contexts read
// their values through it.
void set_argument_stack(Cell* first);
// Sets where a stack context's values start on the argument stack (an index
// in cells), or -1 when no call of its function is active. Returns the
// previous setting for the call frame to restore.
std::int32_t set_stack_values(NodeId ctx, std::int32_t stack_index);

}  // namespace kiv::context
