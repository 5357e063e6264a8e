// datatype!: a type as a value; the payload holds the type id in word 1.
// Its form is the type's name without the final "!", its mold the full name.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::datatype {

// Registers datatype! (type 1, no parent).
void init();

// Makes cell a datatype! of t.
inline void make_at(TypeId t, Cell& cell) {
    cell.reset(TypeId::datatype);
    cell.set_datatype_id(t);
}
// A datatype! of t, as a value (error arguments, constants).
inline Cell of(TypeId t) {
    Cell cell;
    make_at(t, cell);
    return cell;
}
// Appends a datatype! of t to blk; returns the new cell.
Cell* make_in(const Cell& blk, TypeId t);
// Raises script bad-make-arg with the datatype t and the value: make's answer
// to a spec its type cannot take.
[[noreturn]] void raise_bad_make_arg(TypeId t, const Cell& value);

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// The full name; with all "#(" name ")".
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Equality kinds: 0 when value2 is the same datatype, else 1; others not comparable.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);

}  // namespace kiv::datatype
