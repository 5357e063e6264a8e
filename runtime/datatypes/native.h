// native!, action! and op!: values that wrap code other than an interpreted
// body. native! and action! hold a 1-based slot of the natives or action
// table, their spec block and a 2-cell extra block; op! copies the payload of
// the value it was made from and keeps that value's type in header bits 16-23.
// Calling them is the interpreter's business.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::native {

// Slots of the natives table that make native! accepts (113-144 are unused).
inline constexpr std::int32_t table_size = 144;

// Registers native! (type 21, no parent).
void init();

// Makes out a native! (or action!, by type) for the spec block and 1-based
// table slot n; the spec is shared, not copied. n is not checked here.
void make_at(Cell& out, TypeId type, const Cell& spec, std::int32_t n);

// make native!: spec is a block of two cells, a spec block and a slot number
// 1..120; else script error bad-make-arg.
Cell* make(Cell* proto, Cell* spec, TypeId type);
// reflect: spec (the shared spec block), body (the slot number, or an op!'s
// function body); anything else raises internal error not-done.
Cell* reflect(Cell* value, Cell* field);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// "make native! [" spec "]"
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Same type only: equality and sort kinds order the table slots; else -2.
// action! and op! inherit it.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);

}  // namespace kiv::native

namespace kiv::action {

// Registers action! (type 22, parent native!).
void init();
// make action!: as make native!, with a slot number 1..62.
Cell* make(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);

}  // namespace kiv::action

namespace kiv::op {

// Registers op! (type 23, parent native!).
void init();
// True when the spec block (from its head) describes exactly two arguments,
// the left one a plain word: the condition for making an op!.
bool valid_spec_q(const Cell& spec);
// make op! from a native!, action!, function! or routine! (else script error
// invalid-type); a spec that is not binary raises script error bad-op-spec.
// A function! or routine! source is also stored in cell 3 of its extra block.
Cell* make(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// "make op! " then "func " spec body for a function! source, else "[" spec "]".
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);

}  // namespace kiv::op
