// Blocks: series of 16-byte value cells. Every module that builds or walks code
// or data goes through these operations: makers, navigation, append/insert,
// look-ups and the mold walk shared by every any-block mold. Cell pointers
// returned here are valid only until the next allocation; keep the block cell.
// The block! actions (find, sort, ...) build on this layer.
#pragma once

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/memory.h"

#include <cstdint>

namespace kiv::block {

// --- Counting and navigation ----------------------------------------------------

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

// Pushes a copy of the block value blk on the argument stack; returns the new cell.
Cell* push(const Cell& blk);
// Pushes a new empty block! with room for n cells (1 when n < 1); returns it.
Cell* push_empty(std::int32_t n);
// Pushes clone(blk, deep, any) on the argument stack; returns the new cell.
Cell* push_clone(const Cell& blk, bool deep, bool any);

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
// Inserts the cell at the argument base into the block in the cell just below
// it, advancing that block past the new cell.
void insert_result();
// Appends the cell just above the argument base to the block at the base.
void append_arg();
// Appends the cell at the argument base to the block in the cell just below it.
void append_result();
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
// Raised while each cell of a block is molded; read by the collector.
extern std::int32_t mold_nesting;

// --- Handlers and registration ------------------------------------------------------
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
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable);
// swap: exchanges the head cells of two blocks; returns series1.
Cell* swap(Cell* series1, Cell* series2);
// take: the cell itself (a block with /part); /deep copies taken series.
Cell* take(Cell* series, Cell* part, bool deep, bool last);
// trim: removes the none! cells from the head on; refinements have no effect.
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

// The set operations, numbered as the natives pass them.
enum class SetOp : std::int32_t { unique = 8, union_, intersect, exclude, difference };
// Runs op on first (and second, null for unique) by records of skip cells
// (null: 1; below 1 raises invalid-refine-arg); keys compare strictly with
// case_. The result, of first's type at head 0, replaces *first.
void set_operation(Cell* first, Cell* second, bool case_, Cell* skip, SetOp op);
// Registers block! (after series!); the block! actions fill in the rest.
void init();

// --- The root block -----------------------------------------------------------------

// Makes the runtime's root block (a collector root); once at start-up.
void init_root();
// The root block, which holds the boot image and other permanent values.
const Cell& root();

}  // namespace kiv::block
