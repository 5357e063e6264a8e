// char!: one Unicode code point, U+0000 to U+10FFFF, in word 2. Arithmetic is
// integer! arithmetic that must land on a valid code point (else math error
// overflow); the mold escapes (#"^/", #"^(1E)") are shared with string! molds.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::char_ {

inline constexpr std::uint32_t max_code_point = 0x10FFFF;

// Sets the cell to char! (flags kept) holding cp (<= max_code_point).
inline void make_at(Cell& cell, std::uint32_t cp) {
    cell.set_type(TypeId::char_);
    cell.clear_payload();
    cell.set_char(cp);
}
// Appends a new char! to the block value; returns the new cell.
Cell* make_in(const Cell& blk, std::uint32_t cp);

// Appends the mold form of one code point (without quotes) to the string of
// node out: "^/"-style escapes, "^(1E)" hex escapes (every code point above
// 127 too when all), "^~" for DEL; others as themselves. Returns the
// number of characters appended.
std::int32_t append_escaped(NodeId out, std::uint32_t cp, bool all);

// Registers char! (type 10, after integer!, its parent).
void init();

// Handlers, in action order. make and to: from a text (its head code point),
// char!, integer!, float!, percent! (in range, else script out-of-range) or
// binary! (UTF-8 at the head); else script error bad-to-arg.
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Code-point order against a char! or integer!; strict equality needs a char!.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
// The arithmetic handlers: the second argument is a char!, integer! or float!
// (truncated); the result must be a code point, else math error overflow.
Cell* add(Cell* value1, Cell* value2);
Cell* divide(Cell* value1, Cell* value2);
Cell* multiply(Cell* value1, Cell* value2);
Cell* remainder(Cell* value1, Cell* value2);
Cell* subtract(Cell* value1, Cell* value2);
Cell* and_(Cell* value1, Cell* value2);
Cell* or_(Cell* value1, Cell* value2);
Cell* xor_(Cell* value1, Cell* value2);

}  // namespace kiv::char_
