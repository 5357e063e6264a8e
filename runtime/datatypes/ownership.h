// Ownership: an object can own the series held in its fields, so that changing
// such a series in place tells the object through its deep-change handler. The
// owner table maps a series node (an object's context node) to {owned value,
// owner object, field word}; owned series carry the owned flag of their buffer.
// A series keeps its first owner.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::ownership {

// Gives value (and, for blocks and objects, what it contains) owner and the
// field word; values already owned keep their owner.
void set_owner_deep(const Cell& value, const Cell& owner, const Cell& field);
// set_owner_deep, then marks the owner object's context as owning (the flag
// lives on the context cell, which every copy of the object shares).
void set_owner_object(const Cell& value, const Cell& owner, const Cell& field);
// Removes ownership from value and from what it contains.
void unset_owner_deep(const Cell& value);
// unset_owner_deep on count cells of blk from unit index (from the first cell).
void unset_owner_range(const Cell& blk, std::int32_t index, std::int32_t count);
// The owner cells {owner object, field word} of node's entry, or null. Valid
// until the next allocation.
const Cell* find_owner(NodeId node);
// The owned value cell of node's entry (a copy of what was given ownership),
// or null.
const Cell* find_owned(NodeId node);
// Tells the owner of value's series (or object) about a change: action is the
// action word (before) or its past-tense pair (after), new_value the value
// stored or null. Returns true when an owner with a change handler was told.
bool check_owner(const Cell& value, const Cell& action, const Cell* new_value,
                 std::int32_t index, std::int32_t part);
// A scalar changed in place by a path set (a time's, date's or pair's field):
// when value is a cell of the owned block, paren or hash parent, its owner
// is told of a `poked` at that index. parent may be null.
void report_cell_change(const Cell* parent, Cell* value);


// Creates the owner table (a collector root); once at start-up.
void init();
// Entries in the owner table.
std::int32_t owner_count();

}  // namespace kiv::ownership
