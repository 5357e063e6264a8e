// Blocks: series of 16-byte value cells. Every module that builds or walks code
// or data goes through these operations: makers, navigation, append/insert,
// look-ups and the mold walk shared by every any-block mold. Cell pointers
// returned here are valid only until the next allocation; keep the block cell.
// The block! actions (block_actions.h) build on this layer.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <algorithm>
#include <cstdint>

namespace kiv::block {

// --- Counting and navigation ----------------------------------------------------

// Address of the first cell (the head ignored).
inline Cell* first_cell(const Cell& blk) {
    return reinterpret_cast<Cell*>(memory::buffer(blk.series_node())->head);
}
// Cells from the first cell to the tail.
inline std::int32_t length_of(const Cell& blk) {
    return memory::buffer(blk.series_node())->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
}
// The same for a block's node, as code positions name it.
inline Cell* cell_at(NodeId code, std::int32_t i) {
    return reinterpret_cast<Cell*>(memory::buffer(code)->head) + i;
}
inline std::int32_t tail_of(NodeId code) {
    const SeriesBuffer* buf = memory::buffer(code);
    // Unsigned: the byte count is never negative, and the division becomes a shift.
    return static_cast<std::int32_t>(static_cast<std::size_t>(buf->tail - buf->head) / sizeof(Cell));
}
// The head index pulled into 0..length_of.
inline std::int32_t clamped_head(const Cell& blk) {
    return std::clamp(blk.series_head(), 0, length_of(blk));
}

// Cells from the head to the tail; negative when the head lies past the tail.
std::int32_t count_from_head(const Cell& blk);
// Moves the head on by one cell unless that passes the tail; true when the
// head is then at the tail.
bool advance(Cell& blk);
// Address of the head cell; a head past the tail is first pulled back to it.
Cell* head_cell(Cell& blk);
// Address just past the last cell.
Cell* tail_cell(const Cell& blk);
// True when the head cell is at (or past) the tail.
bool at_tail_q(const Cell& blk);
// Address of cell index counted from the first cell (head ignored).
Cell* get_cell(const Cell& blk, std::int32_t index);
// Cuts the block at its head.
void clear_from_head(Cell& blk);
// Sets the tail to n cells from the first cell (n within the capacity).
void set_tail(const Cell& blk, std::int32_t n);
// Drops the last cell, if any; a head now past the tail is pulled back.
void remove_last(Cell& blk);

// --- Making -----------------------------------------------------------------------

// Makes cell an empty block! with room for n cells (1 when n < 1), head 0. The
// cell reads unset! until the buffer exists.
void make_at(Cell& cell, std::int32_t n);
// The same, with the n cells preset to unset! (tail at n); with fixed the
// buffer lies outside the collector (never moved or swept).
void make_at_filled(Cell& cell, std::int32_t n, bool fixed);
// Appends to parent (the root block when null) a new block of n fixed cells;
// returns the new cell.
Cell* make_fixed_in(const Cell* parent, std::int32_t n);
// Appends to parent (the root block when null) a new empty block with room
// for n cells; returns the new cell.
Cell* make_in(const Cell* parent, std::int32_t n);
// Makes out a new block of copies of src's cells from its head, of src's type;
// with deep nested block! values are cloned too, with any also paren! and
// path values. out may not lie inside a series buffer.
void clone(Cell& out, const Cell& src, bool deep, bool any);


// --- Adding and removing ------------------------------------------------------------

// Appends a copy of value at the tail (growing the buffer); returns the new cell.
Cell* append_copy(const Cell& blk, const Cell& value);
// Appends copies of every cell of source from its head.
void append_cells(const Cell& target, const Cell& source);
// Inserts a copy of value at the head (at the first cell with from_first);
// with advance the head moves past the new cell. Returns the new cell.
Cell* insert_value(Cell& blk, const Cell& value, bool from_first, bool advance);
// Inserts source's cells one after another at target's head, advancing it.
void insert_cells(Cell& target, const Cell& source);
// Removes the first cell find-equal to value (from the head, or from the
// first cell); false when nothing matched.
bool remove_value(const Cell& blk, const Cell& value, bool from_first);

// --- Looking up ---------------------------------------------------------------------

// The cell after the first cell find-equal to value, or the shared none cell
// when there is no match or the match is the last cell.
const Cell& select_value(const Cell& blk, const Cell& value);
// The cell after the first word-kind cell naming word's symbol (exact: that
// spelling; else by canonical alias), or the shared none cell.
const Cell& select_word(const Cell& blk, const Cell& word, bool exact);
// For cells begin, begin + step, ... before end (indexes from blk's first cell)
// whose type is the datatype! or in the typeset! types and that hold a series
// or an object: replaces each by its copy (copy action, with deep when set).
void copy_matching_in_place(const Cell& blk, std::int32_t begin, std::int32_t end,
                            std::int32_t step, bool deep, const Cell& types);

// --- Mold walk ------------------------------------------------------------------------

// Molds the cells of blk from its head into the text of node out, separated by
// spaces, honouring new-line markers with four-space indentation (unless
// flat); no brackets. part is the /part argument or null. Returns the budget left.
std::int32_t mold_cells(const Cell& blk, NodeId out, MoldOptions options,
                        Cell* part, std::int32_t budget, std::int32_t indent);
// The form of blk's cells separated by single spaces; returns the budget left.
std::int32_t form_cells(const Cell& blk, NodeId out, Cell* part, std::int32_t budget);
// Appends level times four spaces to the text of node out; returns budget less
// four per level.
std::int32_t mold_indent(NodeId out, std::int32_t level, std::int32_t budget);
// Raised while each cell of a block is molded; read by the collector.
extern std::int32_t mold_nesting;

// Registers block! (after series!) with its actions (block_actions.h).
void init();

// --- The root block -----------------------------------------------------------------

// Makes the runtime's root block (a collector root); once at start-up.
void init_root();
// The root block, which holds the boot image and other permanent values.
const Cell& root();

}  // namespace kiv::block
