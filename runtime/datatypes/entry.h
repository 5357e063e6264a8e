// Entry points that library code and the datatypes share to build values
// without knowing buffer layouts: copies of
// series parts, boot literals by index, number arguments and mold indentation.
// Language errors are raised through raise.h; the cycle stack is cycles.h.
#pragma once

#include "runtime/cell.h"
#include "runtime/memory.h"

#include <cstdint>

namespace kiv::runtime {

// Appends one cell to the block value's buffer (memory::append_cell_to_buffer).
Cell* append_cell(const Cell& blk);
// New series of count units copied from unit offset of value's buffer (from
// its first unit), with the source's flags less the owned flag; returns its node.
NodeId copy_series_part(const Cell& value, std::int32_t offset, std::int32_t count);

// The boot literals: the cells of a block that the boot loader hands over;
// literal n is cell n of that block.
void set_literals(NodeId node);
// Address of literal index.
const Cell* literal_at(std::int32_t index);
// Payload word 1 of literal index.
std::uint32_t literal_payload(std::int32_t index);

// Script error bad-make-arg with the datatype and the value.
[[noreturn]] void raise_bad_make_arg(TypeId type, const Cell& value);
// The 32-bit integer of an integer!, or of a float! truncated toward zero; a
// float! outside the 32-bit range (or NaN) raises script out-of-range.
std::int32_t get_int_from_number(const Cell& value);

// Appends level times four spaces to the text of node; returns budget less
// four per level.
std::int32_t mold_indent(NodeId out, std::int32_t level, std::int32_t budget);

}  // namespace kiv::runtime
