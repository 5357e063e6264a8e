// The slot pool: a block whose cells native code uses as numbered slots to
// keep values alive across evaluation. Free slots are integer! cells chaining
// the 0-based index of the next free slot (-1 ends the chain); the block's
// tail always stands at its capacity.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::slot_pool {

// Makes the pool: 100 free slots chained in order (a collector root).
void init();
// Copies value into the free head slot and returns its 1-based index; a full
// pool doubles first.
std::int32_t alloc_slot(const Cell& value);
// The slot's cell, for 1 <= index <= capacity().
Cell* slot_at(std::int32_t index);
// Frees slot index; 0 is ignored.
void free_slot(std::int32_t index);
// Slots in the pool, free or not.
std::int32_t capacity();

}  // namespace kiv::slot_pool
