// logic!: true and false (word 1 holds 1 or 0), the shared true and false
// cells, and the truth test behind every conditional: only none and false are
// false; unset! counts as true except where a check asks for a value.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::logic {

// The shared true and false cells: copy them, never write them.
inline constexpr Cell true_value = Cell::logic_of(true);
inline constexpr Cell false_value = Cell::logic_of(false);

// Registers logic! (type 4, no parent).
void init();

inline void make_at(Cell& cell, bool v) {
    cell.reset(TypeId::logic);
    cell.set_logic(v);
}
// Appends a logic! to blk; returns the new cell.
Cell* make_in(const Cell& blk, bool v);
// The 0 or 1 of a logic! cell.
inline std::uint32_t get(const Cell& cell) { return cell.logic_value(); }

// False for none! and for a logic! whose value is not 1, else true. With
// check an unset! raises script error no-value with the cell.
bool true_value_q(const Cell& cell, bool check);
// The truth of a result; an unset! result raises script error no-return.
bool true_result_q(const Cell& result);
// True when the result is none! or false: the test behind conditionals.
inline bool false_result_q(const Cell& result) {
    return result.is(TypeId::none) || (result.is(TypeId::logic) && result.logic_value() != 1);
}

// make: from an integer!, float! or percent! true when not zero (NaN is
// true); anything else as to.
Cell* make(Cell* proto, Cell* spec, TypeId type);
// With seed the generator is seeded and the result is unset!; otherwise a
// random logic!.
Cell* random(Cell* value, const RandomRefinements& how);
// to: a logic! stays, none! gives false, anything else true.
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Equality kinds and sort orders: value1 minus value2; others not comparable.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
// and~, or~, xor~: value2 must be a logic! (else script error expect-arg).
Cell* and_(Cell* value1, Cell* value2);
Cell* complement(Cell* value);
Cell* or_(Cell* value1, Cell* value2);
Cell* xor_(Cell* value1, Cell* value2);

}  // namespace kiv::logic
