// error!: the value of every language error, and the error catalogue it names.
// An error is an object context of ten fields (code type id arg1-3 near where
// stack files); its form is the error report. The catalogue is boot data read
// at start-up; the raise path (raise.h) builds errors here, the evaluator
// throws and catches them and fills in where, near and the call trace.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include <cstdint>

namespace kiv::error {

// Fields of an error, in order. ORDER ERROR-FIELDS
enum class Field : std::int32_t {
    code = 0, type, id, arg1, arg2, arg3, near, where, stack, files,
};
inline constexpr std::int32_t field_count = 10;
// Position of `stack` among the fields; the throw code stores the frame
// position there while the error travels.
inline constexpr std::int32_t stack_field_index = 8;

// Registers error! (type 34, parent object!: the inherited slots fill in once
// object! registers before it).
void init();

// --- The catalogue (system/catalog/errors) ----------------------------------

// Reads the catalogue's boot text and builds its objects (kept in the root
// block). Needs symbols, the global context and the root block. A malformed
// catalogue is a fatal runtime error.
void load_catalog();
// Takes catalogue, the object load_catalog builds, as the catalogue instead
// (the boot image holds it, read from the text at build time). The caller
// keeps it alive (in the root block).
void install_catalog(const Cell& catalogue);
// True once load_catalog has run.
bool catalog_loaded();
// The catalogue object (object! cell whose fields are the categories), or
// null before load_catalog.
const Cell* catalog();
// Number of categories (10).
std::int32_t category_count();
// Index of the category named by sym (alias lookup), -1 when there is none.
std::int32_t find_category(symbol::SymbolId sym);
// Context node of category index (fields code, type, then one per id).
NodeId category_context(std::int32_t category);
// Field position of the id named by sym in the category (2 for the first
// id), -1 when the category has no such id.
std::int32_t find_id(std::int32_t category, symbol::SymbolId sym);
// The same for an id named by its spelling.
std::int32_t find_id(std::int32_t category, const char* id);
// Number of fields of the category (code, type and the ids).
std::int32_t category_size(std::int32_t category);
// The error code of a catalogue entry: category x 100 + position - 2.
inline std::int32_t code_of(std::int32_t category, std::int32_t position) {
    return category * 100 + position - 2;
}
// Category and position of an error code; false when the code names no entry.
bool decode(std::int32_t code, std::int32_t& category, std::int32_t& position);
// The category word and the id word at a position of a category (global
// words as the catalogue holds them).
Cell category_word(std::int32_t category);
Cell id_word(std::int32_t category, std::int32_t position);

// --- Error values --------------------------------------------------------------

// Field f of an error! (or any object-shaped value made here). Valid until
// the next allocation.
Cell* field(const Cell& error, Field f);
// Makes out a new error! for the block [category id], then copies each given
// argument into arg1-arg3. Raises as make error! does when the words name no
// catalogue entry.
void build(Cell& out, const Cell& category, const Cell& id, const Cell* arg1 = nullptr,
           const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
// build for a category index and an id spelling.
void build(Cell& out, ErrorCategory category, const char* id, const Cell* arg1 = nullptr,
           const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
// Stores value into `where` when it holds none; returns the type of the old
// field, none when the value was stored.
TypeId set_where_if_none(const Cell& error, const Cell& value);
// Symbol ids of the words in `type` and `id` (0 when not words).
symbol::SymbolId type_symbol(const Cell& error);
symbol::SymbolId id_symbol(const Cell& error);
// Appends the error report (the form of an error) to the text of out;
// returns the part budget left. Rewrites a malformed error's type, id and
// arg1 to internal invalid-error as it reports it.
std::int32_t report(const Cell& error, NodeId out, std::int32_t part);


// The stack-trace level the report uses: system/state/stack-trace when it is
// a positive integer!, else 0 (no "*** Stack: " line).
std::int32_t stack_trace_level();

// Where an error is caught (try, the console): a stack field that still
// holds the saved frame position becomes a block of the calling functions'
// words (at the stack-trace level, else 1); files becomes a copy of
// system/state/source-files when that is not empty.
void fill_stack_trace(Cell& error);

// --- Handlers -----------------------------------------------------------------------

// make: from an integer code, a [category id] block, a set-word spec block
// or a string (a user message); anything else is script bad-make-arg.
Cell* make(Cell* proto, Cell* spec, TypeId type);
// form: the error report.
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// mold: "make error! [" the fields as set-word and value pairs "]".
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// compare: field by field against another error!, not comparable otherwise.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);

}  // namespace kiv::error
