// The string! actions: conversion, mold, comparison, search and the in-place
// changes (append, insert, change, swap, take, trim, sort, set operations).
// The other text types inherit these handlers; no handler reads outside a
// buffer whatever its /part, and bad arguments raise language errors.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::string {

// Appends the mold form of one code point (no quotes) to the text of out.
void append_escaped_char(NodeId out, std::uint32_t cp, bool all);

// Compares two texts from their heads (a symbol! stands for its name): -1, 0
// or 1. Folded to upper case unless op is strict_equal or case_sort. match:
// value2 is a prefix test (its length 0 gives 1 for the find op, else 0).
std::int32_t compare_values(const Cell& value1, const Cell& value2, CompareOp op, bool match);

// The set operations on texts, records of skip units keyed on their first.
enum class SetOp : std::uint8_t { unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12 };
// Writes into result a new text (of a's type, head 0) built from a and b (b
// unused for unique). Raises script invalid-refine-arg when skip < 1.
void set_operation(SetOp op, const Cell& a, const Cell* b, bool case_, std::int32_t skip,
                   Cell& result);

// Removes every unit of text (from its head) found in the set: tab, LF, CR
// and space without a set; the units of a string! or binary!, or one char! or
// integer!. Returns the number of entries of the set.
std::int32_t trim_with(Cell& text, const Cell* set);

// Registers string! with its action table (called by string::init).
void register_actions();

// Handlers registered for string! (and inherited by the other text types).
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step);
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
Cell* append(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t count);
Cell* change(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t count);
Cell* find(Cell* series, Cell* value, const FindRefinements& refinements);
Cell* insert(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t count);
Cell* select(Cell* series, Cell* value, const FindRefinements& refinements);
Cell* sort(Cell* series, const SortRefinements& how);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, const TrimRefinements& how);

// split: out := a new block of the pieces of series (from its head) between
// the matches of delimiter (a char! or string!, folded, or a bitset! of single
// characters); pieces keep the series' type. A text ending at a delimiter ends
// with an empty string!; an empty delimiter gives one copy of the whole text.
void split(const Cell& series, const Cell& delimiter, Cell& out);

// replace/all of the text of pattern (from its head; folded unless case_) in
// series from its head, in one pass: each match becomes what change puts for
// value, and replacements are not searched again. False, with nothing done,
// when the text has an owner, which must hear of each change on its own.
bool replace_all(Cell& series, const Cell& pattern, const Cell& value, bool case_);

// Maps a char! value, or in place the characters of a text value from its
// head (all, or as many as part says: an integer! count, or a value of the
// same type on the same series), widening the buffer when a mapping needs it.
// Returns value. Raises script invalid-refine-arg on any other part.
Cell& change_case(Cell& value, const Cell* part, bool to_upper);


}  // namespace kiv::string
