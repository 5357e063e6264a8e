// pair!: a two-dimensional integer vector (x in word 2, y in word 3, signed
// 32 bits), written 10x20. Its arithmetic never wraps: an overflow, an inexact
// quotient or a float factor hands the operation to point2D! (point.h). Also
// the few helpers that pair!, point2D!, point3D! and tuple! share.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::pair {

// Makes cell a pair! of (x, y) (a fresh header).
inline void make_at(Cell& cell, std::int32_t x, std::int32_t y) {
    cell.reset(TypeId::pair);
    cell.set_pair(x, y);
}
// Appends a pair! to blk; returns the new cell.
Cell* make_in(const Cell& blk, std::int32_t x, std::int32_t y);

// A float coordinate truncated toward zero; outside the 32-bit range (or
// NaN) it is no coordinate: out-of-range naming number.
std::int32_t truncated(double d, const Cell& number);

// Turns a pair! cell into the point2D! of the same coordinates (as float32).
void promote(Cell& cell);

// pair! maths, left a pair! (slot 0) and right any value (slot 1); the
// result replaces left. Raises invalid-type for an unsupported right operand,
// invalid-arg for a non-finite float, and the integer maths' math errors.
Cell* math_op(Cell* left, Cell* right, float_::MathOp op);

// --- Shared with point2D!, point3D! and tuple! -------------------------------

// The first value that the text of spec (any-string!, from its head) loads
// to, when it has type want; otherwise raises bad-to-arg naming want and spec.
void load_text(const Cell& spec, TypeId want, Cell& out);
// Script errors that name a value's datatype, or a datatype and a value.
[[noreturn]] void raise_invalid_type(const Cell& value);
[[noreturn]] void raise_bad_to_arg(TypeId target, const Cell& value);
// not-related naming the word of an action and a datatype.
[[noreturn]] void raise_not_related(const char* action, TypeId t);
// round's refusal of a money! scale: not-related naming money! and round.
[[noreturn]] void raise_money_scale();
// invalid-path naming the path (or the element alone) and the element.
[[noreturn]] void raise_invalid_path(const Cell& element, const PathStep& step);
// The word of x, y or z as a coordinate number (1-3), or 0.
std::int32_t coordinate_of_word(const Cell& word);

// Registers pair! (type 37, no parent) and its route in float!'s maths.
void init();

}  // namespace kiv::pair
