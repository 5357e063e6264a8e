// series!: the internal parent of every series type. Its handlers only move a
// position or work on units without reading them, so cell blocks and text or
// byte series share them through inheritance. A head index may lie past a
// shortened tail: every operation here clamps it and never reads outside the
// buffer. Changes are reported to the series' owner before and after.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::series {

// True when the head lies at or past the tail.
bool at_tail_q(const Cell& value);
// Units from the buffer's first unit to the tail, head ignored.
std::int32_t buffer_length(const Cell& value);
// Moves the head on by n units unless that passes the tail (reaching the tail
// is allowed); true when the head is then at or past the tail.
bool advance(Cell& value, std::int32_t n);
// Units from the head (or from the first unit with from_first) to the tail; a
// negative head counts as 0; a head past the tail is reset to the tail and
// the result is 0.
std::int32_t get_length(Cell& value, bool from_first);
// The head index that at (n) and skip (n) give from head h on a series of
// length L: at 0 and at 1 both stay; both clamp into 0..L.
std::int32_t at_index(std::int32_t h, std::int32_t n, std::int32_t length);
std::int32_t skip_index(std::int32_t h, std::int32_t n, std::int32_t length);

// The position step units after i, or limit when that lies at or past limit:
// a walk by a user's /skip size never overflows (i <= limit, step >= 1).
inline std::int32_t step_to(std::int32_t i, std::int32_t step, std::int32_t limit) {
    return step >= limit - i ? limit : i + step;
}

// The element at 1-based index i from the head as pick gives it (the cell for
// any-block types, a char! for text, an integer! for binary!), into out;
// false (out untouched) when there is none.
bool pick(const Cell& value, std::int32_t i, Cell& out);

// Copies count units from unit offset start of value's buffer (from its first
// unit; both clamped to the buffer) into a new buffer with the source's own
// flags less the owned flag; returns the new node. Reload buffer addresses.
NodeId copy_units(const Cell& value, std::int32_t start, std::int32_t count);

// The shared scratch series that take without /part fills, for the caller to
// turn into a single value (a collector root); made on first use.
NodeId take_scratch(std::uint32_t unit);

// The worker of take (block! and string! take call it): the units taken from
// the head (or the tail with last, or before the head for a negative part) as
// a new series in *s; without part they go to the shared take scratch series.
// A part of 0 takes nothing. none when the series is at its tail.
Cell* take(Cell* s, Cell* part, bool deep, bool last);

// Registers series! with the datatype registry.
void init();

}  // namespace kiv::series
