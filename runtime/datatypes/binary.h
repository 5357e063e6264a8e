// binary!: the byte series (unit 1), a child of string! that takes its
// navigation and search from there. Its own handlers convert values to bytes,
// mold as #{...}, insert and change bytes, trim zero bytes and do bitwise
// maths. Every writer measures its value first, so a failing write changes nothing.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::binary {

// The largest binary a 32-bit size holds.
inline constexpr std::int64_t max_bytes = 0x7FFFFFF0;

// Makes cell an empty binary! (head 0) with room for n bytes (at least 1).
void make_at(Cell& cell, std::int32_t room);
// Makes cell a new binary! holding a copy of n bytes.
void make_from_bytes(Cell& cell, const std::uint8_t* bytes, std::int32_t n);
// Grows node's buffer by n bytes at the tail (copying bytes there when not
// null) and answers their address, valid until the next allocation. Raises
// internal no-memory past max_bytes.
std::uint8_t* append_bytes(NodeId node, const std::uint8_t* bytes, std::int32_t n);
// Appends the 4 bytes of v, most significant first.
void append_int32_be(std::int32_t v, NodeId node);

// Address of the byte at the head (a head past the tail is pulled back to the
// tail in the cell) and the bytes from there to the tail.
std::uint8_t* head_pointer(Cell& bin);
std::int32_t length_from_head(Cell& bin);

// Decodes the issue's name as base 16 into result (a new binary!); raises
// script invalid-data with the issue when the name is not base 16 text.
void from_issue(const Cell& issue, Cell& result);

// Registers binary! (after string!).
void init();

}  // namespace kiv::binary
