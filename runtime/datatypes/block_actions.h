// The block! actions, inherited by paren! and the paths: conversion, mold,
// path steps, comparison, search and the in-place changes, plus the set
// operations the natives call. They build on the series layer of block.h.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::block {

// Every handler leaves its result in its first argument cell and returns it.
// Changes are told to the series' owner before and after; a hash! index is
// kept in step with every change.

// make: a copy of an any-block spec, an empty block with room for an integer!
// or float! count, an object's or map's body; else script bad-make-arg.
Cell* make(Cell* proto, Cell* spec, TypeId type);
// to: a copy of an any-block, an object's body, a string! loaded, typeset!
// names; any other value becomes a one-cell block. Typed as type.
Cell* to(Cell* proto, Cell* value, TypeId type);
// form: the cells formed, separated by spaces ("..." inside a cycle).
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// mold: "[" cells "]" (no brackets with only); "[...]" inside a cycle.
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// One path step: b/2 picks (pokes), b/word selects the value after the word;
// setting an absent key raises script bad-path-set.
Cell* eval_path(Cell* blk, Cell* element, Cell* new_value, const PathStep& step);
// Cell-by-cell comparison under op (any CompareOp); -2 for other types.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
// append: the value (spliced unless only) at the tail, part cells of it, dup
// times; returns the series at its head. insert: the same at the head,
// returning the position after the new cells.
Cell* append(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t dup);
// append's usual call, as the action entry takes it: one value that is no
// block at the tail of a block with room after its tail and no owner. The
// cell is written, the change stamped and series left at its head; false,
// with nothing done, for any other case (append then does it all).
inline bool append_in_room(Cell& series, const Cell& value) {
    if (is_any_block_type(value.type())) return false;
    const NodeId node = series.series_node();
    SeriesBuffer* const b = memory::buffer(node);
    if ((b->flags & memory::flag_owned) != 0 || b->data_end() - b->tail < static_cast<std::ptrdiff_t>(sizeof(Cell)))
        return false;
    *reinterpret_cast<Cell*>(b->tail) = value;
    b->tail += sizeof(Cell);
    memory::touch(node);
    series.set_series_head(0);
    return true;
}
Cell* insert(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t dup);
// change: replaces part cells (or as many as are new) at the head; returns the
// position after the new cells.
Cell* change(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t dup);
// copy: /part, /deep (internal no-cycle for a block inside itself), /types.
Cell* copy(Cell* series, Cell* part, bool deep, Cell* types);
// find: the series at the match, or none. select: the cell after it, or none.
Cell* find(Cell* series, Cell* value, const FindRefinements& refinements);
Cell* select(Cell* series, Cell* value, const FindRefinements& refinements);
// put: stores value after key (appending both when absent); returns value.
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
// sort with /case /skip /compare /part /all /reverse /stable; an error in a
// /compare function leaves the block as it was.
Cell* sort(Cell* series, const SortRefinements& how);
// swap: exchanges the head cells of two blocks; returns series1.
Cell* swap(Cell* series1, Cell* series2);
// take: the cell itself (a block with /part); /deep copies taken series.
Cell* take(Cell* series, Cell* part, bool deep, bool last);
// trim: removes the none! cells from the head on; refinements have no effect.
Cell* trim(Cell* series, const TrimRefinements& how);

// The set operations, numbered as the natives pass them.
enum class SetOp : std::int32_t { unique = 8, union_, intersect, exclude, difference };
// Runs op on first (and second, null for unique) by records of skip cells
// (null: 1; below 1 raises invalid-refine-arg); keys compare strictly with
// case_. The result, of first's type at head 0, replaces *first.
void set_operation(Cell* first, Cell* second, bool case_, Cell* skip, SetOp op);

// Registers block! with its action table (called by block::init).
void register_actions();

}  // namespace kiv::block
