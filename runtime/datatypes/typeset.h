// typeset!: a set of datatypes held in the cell itself, a 96-bit mask over
// type ids 0-95 (layout in cell.h). Function specs keep one per argument and
// test it with `contains`; the set operations combine masks word by word.
// Type names come from the registry's type-name table.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::typeset {

// The mask of an untyped function argument: every bit but unset!'s.
inline constexpr std::uint32_t default_words[3] = {
    ~(Cell::typeset_bit(static_cast<int>(TypeId::unset))), 0xFFFFFFFFu, 0xFFFFFFFFu};

// True when type t is in the typeset ts: the argument check of every call.
inline bool contains(const Cell& ts, TypeId t) { return ts.typeset_has(static_cast<int>(t)); }

// Makes cell a typeset! of the three mask words.
void make_at(Cell& cell, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3);
// Appends a typeset! of the mask words to blk; returns the new cell.
Cell* make_in(const Cell& blk, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3);
// Appends the default argument typeset to blk; returns the new cell.
Cell* make_default_in(const Cell& blk);
// Appends the typeset of a function spec's type block to blk; returns it.
// Words are replaced by their values (an unset word raises no-value); a
// datatype! sets its bit, a typeset! is or-ed in, a word value adds object!,
// a block! is skipped; anything else raises script error invalid-type-spec.
Cell* make_from_spec_in(const Cell& blk, const Cell& spec);
// Adds value to ts: a word is replaced by its value, a typeset! is or-ed in,
// a datatype! sets its bit; anything else raises script error invalid-arg.
void add(Cell& ts, const Cell& value);
// Makes blk a new block of the type-name words of the set bits, ascending
// from id 1 to the highest registered id.
void to_block(const Cell& ts, Cell& blk);
// Number of set bits among ids 1 to the highest registered id.
std::int32_t count(const Cell& ts);

// Set operation on typesets: union (or_, union_), intersect (and_,
// intersect), exclusive or (xor_, difference), exclude (first and not second);
// unique answers the first unchanged. right must be a typeset! or a datatype!
// (a one-type set), else script error invalid-arg. The result replaces left.
Cell* math_op(Cell* left, Cell* right, float_::MathOp op);

// --- Handlers ---------------------------------------------------------------

// make and to: a typeset! stays, a block! builds one (see add); anything else
// raises script error bad-to-arg.
Cell* to(Cell* proto, Cell* spec, TypeId type);
// "make typeset! [integer! float!]"; with only just the names.
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Equality: same mask; sort orders: by count; other codes not comparable.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
Cell* and_(Cell* value1, Cell* value2);
// Every one of the 96 bits inverted.
Cell* complement(Cell* value);
Cell* or_(Cell* value1, Cell* value2);
Cell* xor_(Cell* value1, Cell* value2);
// A logic!: whether the datatype! value is in the set; any other value
// raises script error invalid-arg.
Cell* find(Cell* series, Cell* value, const FindRefinements& refinements);

// Registers typeset! (type 33, no parent).
void init();

}  // namespace kiv::typeset
