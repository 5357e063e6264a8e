// hash!: a block whose cells are indexed by a hash table of the hash kind
// (node in word 3 of the cell), so that find and select need not walk it.
// Invariant: after every action the index holds exactly the block's cells at
// their positions. block!'s own actions keep it; the series! actions that
// block! inherits are wrapped here and the index rebuilt after them.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::hash {

// The hash table of a hash! cell.
inline NodeId table_of(const Cell& h) { return h.series_extra(); }

// Makes cell a hash! over the block blk's buffer (taken as it is, head kept)
// and indexes every cell of it.
void make_at(Cell& cell, const Cell& blk);
// Rebuilds the index of h from its buffer (after a change made behind it).
void reindex(const Cell& h);

// Handlers of its own: make and to (an integer: an empty hash! with room for
// that many values; a block!: a copy from its head; a hash!: its copy; else
// to block! of the spec), mold ("make hash! [...]") and copy (a new index).
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
Cell* copy(Cell* value, Cell* part, bool deep, Cell* types);

// Registers hash! (after block!).
void init();

}  // namespace kiv::hash
