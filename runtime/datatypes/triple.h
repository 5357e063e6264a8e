// triple!: three signed 32-bit integers (words 1-3). The type is registered so
// that such values can be shown; it has no constructor, arithmetic or
// comparison, so every action but form and mold raises the registry's error.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::triple {

// Makes cell a triple! of (a, b, c).
inline void make_at(Cell& cell, std::int32_t a, std::int32_t b, std::int32_t c) {
    cell.reset(TypeId::triple);
    cell.set_triple(a, b, c);
}

// Registers triple! (type 31, no parent).
void init();

}  // namespace kiv::triple
