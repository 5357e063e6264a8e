// issue!: a word-like value written with a leading "#" (#abc), a symbol with
// no binding of its own. It shares the word payload, takes form from word!
// and adds its own maker, mold and comparison.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::issue {

// Registers issue! (type 20, parent word!).
void init();

// Makes cell an issue! of the name: global context, symbol found or added,
// index -1.
void make_at(const char* name, Cell& cell);
// Appends such an issue! to blk; returns the new cell.
Cell* make_in(const char* name, const Cell& blk);
// make_in on the root block (start-up: the cell lives there for good).
Cell* make_from_name(const char* name);

// make and to: from a string!, a char!, or any word kind (retyped, binding
// kept); anything else as word!'s to.
Cell* to(Cell* proto, Cell* spec, TypeId type);
// "#" followed by the word's form.
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// not_comparable unless value2 is an issue!; else word!'s comparison.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);

}  // namespace kiv::issue
