// The symbol table: every spelling a word ever had, interned once with a
// 1-based id in order of first use, in a block of symbol! cells kept in the
// root block and indexed by a kind-2 hash table. A spelling that differs from
// an earlier one only in letter case records that one's id as its alias, so
// case-insensitive comparison and binding work on ids alone.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>
#include <string_view>

namespace kiv::symbol {

// Symbol ids are 1-based positions in the symbol table; 0 names no symbol.
using SymbolId = std::uint32_t;

// Registers symbol! (type 13, no parent; only compare).
void init();
// Creates the symbol table (room for size symbols, 4,000 by default) and its
// index, and makes them collector roots. Needs the memory manager and the
// root block.
void init_table(std::int32_t size = 4000);

// Id of the spelling, entered when no byte-exact spelling exists yet.
SymbolId make(const char* name);
// The same for a UTF-8 spelling of length bytes (the lexer's entry).
SymbolId make_from_utf8(const char* bytes, std::int32_t length);
inline SymbolId make(std::string_view name) {
    return make_from_utf8(name.data(), static_cast<std::int32_t>(name.size()));
}
// The same for the text of an any-string value from its head.
SymbolId make_from_string(Cell& text);
// Like make, but a spelling that matches an existing one case-insensitively
// returns that one's id instead of entering a new symbol.
SymbolId make_folded(const char* name);

// Number of symbols entered.
std::int32_t count();
// The symbol! cell of id, with its name string ensured. Valid until the next
// allocation.
Cell* get_entry(SymbolId id);
// The name string! node of a symbol! cell, decoded from its UTF-8 name on
// first use and kept from then on.
NodeId ensure_name_string(Cell& entry);
// The spelling's UTF-8 bytes (NUL after them). Valid until the next allocation.
std::string_view name(SymbolId id);
// The stored alias of id: the first-entered case variant, or -1.
std::int32_t alias_of(SymbolId id);
// The canonical id: the alias when there is one, else id itself.
SymbolId resolve_alias(SymbolId id);

// Compares the spellings of two symbol ids as strings under op (ordering
// codes case-insensitive except case_sort and strict_equal).
std::int32_t compare_names(SymbolId a, SymbolId b, CompareOp op);
// compare handler of symbol!: the two symbols' spellings compared as strings.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);

}  // namespace kiv::symbol
