// The word types: word!, set-word!, lit-word!, get-word! and refinement!
// share one payload (context node, symbol id, index in the context, -1 when
// unbound); a word's kind is only its type byte, so retyping keeps the
// binding. issue! reuses the payload. Their handlers: make/to, form, the five
// molds, compare and index?.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::word {

using symbol::SymbolId;

// True for word!, set-word!, lit-word!, get-word! and refinement!.
inline bool is_any_word(TypeId t) { return t >= TypeId::word && t <= TypeId::refinement; }
// True for the word types and issue!.
inline bool is_word_like(TypeId t) { return t >= TypeId::word && t <= TypeId::issue; }

// Registers word!, lit-word!, set-word!, get-word! and refinement!; each call
// registers one, in the fixed order the registry asks for.
void init();
void init_lit_word();
void init_set_word();
void init_get_word();
void init_refinement();

// A word! of the name bound in the global context (alias lookup with the
// exact-spelling copy). While word recording is on the cell is a copy
// appended to the root block; otherwise it is the global word-list entry.
Cell* make_from_name(const char* name);
// Makes cell a word! of the symbol bound in the global context, entering the
// symbol there when missing.
void make_at(SymbolId sym, Cell& cell);
// Appends such a word at blk's tail; returns the new cell.
Cell* make_in(SymbolId sym, const Cell& blk);
// Makes cell a word of kind t (any word type) of the name, bound in the
// global context.
void make_kind_at(TypeId t, const char* name, Cell& cell);

// The global context's entry for sym when ctx lacks it (exact lookup first in ctx).
Cell* find_in_context_or_global(NodeId ctx, SymbolId sym);
// Copies the value of a bound word into out; an unset value raises script
// error no-value with the word.
void get_value(const Cell& word, Cell& out);
// Sets word to value in its context; an unset value raises script error
// need-value with the word. Returns the value cell.
Cell* set_value(Cell& word, const Cell& value);

// Appends the spelling of sym (UTF-8, decoded) to the text of out; returns the
// part budget less the characters appended.
std::int32_t append_name(SymbolId sym, NodeId out, std::int32_t part);
// A new string! of the symbol's name in out, head 0.
void name_string(SymbolId sym, Cell& out);

// --- Handlers ---------------------------------------------------------------

// make and to: the word of a datatype's name, of true/false, of a text that
// scans as one word, or the word itself retyped to type; else bad-to-arg.
Cell* to(Cell* proto, Cell* spec, TypeId type);
// The symbol's name.
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// word! molds as its form; the other kinds add their mark.
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Comparison of any two word kinds and issue! (see the operation codes).
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
// none when unbound, else the 1-based index.
Cell* index_q(Cell* value);

}  // namespace kiv::word
