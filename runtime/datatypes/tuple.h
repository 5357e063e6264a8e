// tuple!: 3 to 12 bytes held in the cell itself (count in the header, bytes
// in words 1-3, the unused ones 0), written 1.2.3. Arithmetic works byte by
// byte and clamps every result to 0..255; nothing wraps.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::tuple {

inline constexpr std::int32_t max_count = 12;

// Makes cell a tuple! of the first count bytes (count 3-12).
void make_at(Cell& cell, const std::uint8_t* bytes, std::int32_t count);
// True when every component is 0 (the zero? native).
bool zero_q(const Cell& cell);

// Sets component index (1..count) of the tuple: an integer! clamped to 0..255,
// or none!, which drops the components from index on (the count staying at
// least 3). Raises out-of-range for another index, invalid-type for another value.
void poke(Cell& cell, std::int32_t index, const Cell& value);

// tuple! maths: one side a tuple!, the other a number or a tuple! (a number
// on the left is handed over by float!: subtract and divide then raise
// not-related). The result replaces left.
Cell* math_op(Cell* left, Cell* right, float_::MathOp op);

// Registers tuple! (type 39, no parent) and its route in float!'s maths.
void init();

}  // namespace kiv::tuple
