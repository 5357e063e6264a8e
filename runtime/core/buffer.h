// Growable buffers: raw arrays of bytes or 32-bit words kept in an ordinary
// series (unit 1, 2 or 4) and reached through its node, so the collector keeps
// and moves them like any series. Element indexes are 1-based, byte offsets
// 0-based. Addresses returned are valid until the next allocation.
#pragma once

#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv {
struct Cell;
}

namespace kiv::buffer {

// Advances the tail of node's buffer by count bytes, first copying the buffer
// to twice its size (twice count when count exceeds the size) when they do
// not fit. Returns the old tail, in the buffer as it now is.
std::uint8_t* grow_tail(NodeId node, std::int32_t count);
// Appends one cell at the tail of the cell buffer of node (grow_tail); the new
// cell reads unset!, its other words as they were. Returns the cell.
Cell* append_cell(NodeId node);

// New empty buffer with room for count units of unit bytes; returns its node.
NodeId new_(std::int32_t count, std::uint32_t unit);
// Units between head and tail.
std::int32_t length(NodeId node);
// Empties the buffer (tail = head).
void clear(NodeId node);
// Drops the unit at the 1-based index and all after it.
void cut(NodeId node, std::int32_t index);
// A new buffer with the same flags and contents.
NodeId clone(NodeId node);
// Address of the first unit.
std::uint8_t* head(NodeId node);

// Appends a byte.
void append_byte(NodeId node, std::uint8_t byte);
// The byte at 1-based index.
std::uint8_t byte_at(NodeId node, std::int32_t index);
// Appends count bytes from source; returns their address in the buffer.
std::uint8_t* append_bytes(NodeId node, const void* source, std::int32_t count);
// Appends a 32-bit value; append_int also returns its address.
void append_word(NodeId node, std::uint32_t value);
std::uint32_t* append_int(NodeId node, std::uint32_t value);
// The 32-bit element at 1-based index.
std::uint32_t word_at(NodeId node, std::int32_t index);
// Stores value in the 32-bit element at 1-based index.
void set_word_at(NodeId node, std::int32_t index, std::uint32_t value);
// Inserts value as the 32-bit element at 1-based index (length + 1 appends).
void insert_word(NodeId node, std::uint32_t value, std::int32_t index);
// Byte offset of the first 32-bit element equal to value, or -1.
std::int32_t find_pointer(NodeId node, std::uint32_t value);
// Removes the first 32-bit element equal to value, when there is one.
void remove_word(NodeId node, std::uint32_t value);
// Removes count bytes at byte offset, moving the rest down.
void remove_bytes(NodeId node, std::int32_t offset, std::int32_t count);

}  // namespace kiv::buffer
