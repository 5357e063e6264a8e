// point2D! and point3D!: small vectors of IEEE float32 coordinates (words 1-2,
// or 1-3), written (1.5, 2) and (1, 2, 3). One design serves both; point3D!
// adds z. Arithmetic is float arithmetic per coordinate (division by zero
// gives infinities); pair! hands the operations it cannot keep integral here.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::point {

// Makes cell a point2D! of (x, y) or a point3D! of (x, y, z).
inline void make_at(Cell& cell, float x, float y) {
    cell.reset(TypeId::point2d);
    cell.set_point_coord(0, x);
    cell.set_point_coord(1, y);
}
inline void make_at(Cell& cell, float x, float y, float z) {
    cell.reset(TypeId::point3d);
    cell.set_point_coord(0, x);
    cell.set_point_coord(1, y);
    cell.set_point_coord(2, z);
}
// The number of coordinates of a point2D! (2) or point3D! (3) cell.
inline int dimensions(const Cell& cell) { return cell.is(TypeId::point3d) ? 3 : 2; }

// Point maths, left a point2D! or point3D! (slot 0), right any value; the
// result replaces left. point2D! also takes a pair!; anything but a number
// or a point of the same kind raises invalid-type naming its datatype.
Cell* math_op(Cell* left, Cell* right, float_::MathOp op);
// The compare handler of both types (pair! hands a point2D! right side here).
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);

// Registers point2D! (type 51) and point3D! (type 52), no parents, and their
// routes in float!'s maths.
void init();

}  // namespace kiv::point
