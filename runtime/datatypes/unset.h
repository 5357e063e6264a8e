// unset!: the absence of a value, the result of expressions that return
// nothing. No payload; it forms as empty text and molds as "unset".
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::unset {

// Registers unset! (type 2, no parent).
void init();

inline constexpr Cell value = Cell::fresh(TypeId::unset);

inline void make_at(Cell& cell) { cell.reset(TypeId::unset); }
// Appends an unset! to blk; returns the new cell.
Cell* make_in(const Cell& blk);

// make and to: unset!.
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);

}  // namespace kiv::unset
