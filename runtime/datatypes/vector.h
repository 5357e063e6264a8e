// vector! (type 35, a child of string!): a packed series of numbers of one
// element type (char!, integer!, float!, percent!) at a fixed width, the
// buffer's unit: 1, 2 or 4 bytes for char!/integer!, 4 or 8 for float!, 8 for
// percent!. The element type lives in the cell's series extra word. Elements
// are stored little-endian; integers wrap to their width, floats round to it.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::vector {

// The element type of a vector cell.
inline TypeId element_type(const Cell& v) { return static_cast<TypeId>(v.series_extra() & 0xFF); }

// The default width in bytes of an element type: 4 for char!/integer!, 8 for
// float!/percent!.
std::uint32_t default_width(TypeId element);

// Makes cell an empty vector with room for count elements of the type and
// width. A count x width beyond 32 bits raises internal no-memory.
void make_at(Cell& cell, std::int32_t count, TypeId element, std::uint32_t width);
// Elements from the head to the tail (a head past the tail counts as the tail).
std::int32_t length_from_head(const Cell& v);

// The element at p as a value of the element type (char! elements read
// unsigned; a code point past U+10FFFF reads as U+FFFD).
Cell read_element(const std::uint8_t* p, TypeId element, std::uint32_t width);
// Stores value into the element at p: char!/integer! into char!/integer!
// vectors, float!/percent! into float!/percent! ones. The other numeric kind
// raises script invalid-arg with the value, anything else script
// invalid-type with its datatype.
void store_element(std::uint8_t* p, const Cell& value, TypeId element, std::uint32_t width);

// Fills the block with the vector's elements from its head, as values.
void to_block(const Cell& v, const Cell& block);

// Element-wise maths of a vector with a scalar, in place; the vector is also
// the result. scalar_first: the scalar is the left operand (n - v).
Cell* math_op_scalar(float_::MathOp op, Cell* vector, const Cell& scalar, bool scalar_first);

// Registers vector! (after string!) and its maths route from float!.
void init();

}  // namespace kiv::vector
