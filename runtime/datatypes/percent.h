// percent!: a float! shown and read as a percentage. The cell holds the
// fraction itself (50% is 0.5); only form and mold differ from float!, whose
// handlers it inherits. Registered after float!.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::percent {

// Makes cell a percent! of the fraction v (0.5 for 50%).
inline void make_at(Cell& cell, double v) {
    cell.reset(TypeId::percent);
    cell.set_f64(v);
}
// Appends a percent! of the fraction v to blk; returns the new cell.
Cell* make_in(const Cell& blk, double v);

// The value times 100 with "%" ("50%", "0.5%"); mold is the same text.
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);

// Registers percent! (type 38, parent float!).
void init();

}  // namespace kiv::percent
