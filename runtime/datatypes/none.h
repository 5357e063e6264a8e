// none!: the empty value. Lookups that find nothing answer the shared none
// cell (callers copy it); the series actions that make sense on nothing
// (clear, find, remove, select, take, length?) accept none and answer none.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::none {

// The shared none cell: copy it, never write it.
inline constexpr Cell value = Cell::fresh(TypeId::none);

// Registers none! (type 3, no parent).
void init();

inline void make_at(Cell& cell) { cell.reset(TypeId::none); }
// Appends a none! to blk; returns the new cell.
Cell* make_in(const Cell& blk);

// make and to: none.
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
// clear, remove: none.
Cell* clear(Cell* value);
Cell* remove(Cell* value, Cell* part, Cell* key);
// find, select: none.
Cell* find(Cell* series, Cell* value, const FindRefinements& refinements);
// length?: -1, which the action turns into none.
std::int32_t length_q(Cell* value);
// take: none.
Cell* take(Cell* series, Cell* part, bool deep, bool last);

}  // namespace kiv::none
