// map!: a dictionary of key/value pairs kept in a block (key1 value1 key2 ...)
// and indexed by a hash table of the map kind. A removed entry keeps its pair
// in the block with the value cell emptied (type 0) and is revived in place
// when its key is set again; every walk skips it. Word keys are set-words.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::map {

// The key/value block and the table of a map! cell (payload: word 1 head
// index 0, word 2 the block's node, word 3 the table's node).
inline NodeId block_of(const Cell& m) { return m.series_node(); }
inline NodeId table_of(const Cell& m) { return m.series_extra(); }

// True when values of type t may be map keys.
bool is_key_type(TypeId t);
// Prepares a new key in place: string-like keys become copies, word kinds
// become set-word! (header replaced), scalars stay. Any other type raises
// script invalid-path (path, or the key when path is null, and the datatype).
void normalize_key(Cell& key, const Cell* path = nullptr);

// Writes a map! into cell over the key/value block blk (taken as it is: keys
// are normalised, later duplicates fold into the first pair), or over a new
// block with room for size cells when blk is null.
void make_at(Cell& cell, const Cell* blk, std::int32_t size);
// Live entries.
std::int32_t size(const Cell& m);

// Cell index (in the block) of the live or removed entry keyed key, or -1;
// case_sensitive compares with strict equality, else case-insensitively.
std::int32_t find_key(const Cell& m, const Cell& key, bool case_sensitive);
// select with no refinement, as the action entry takes it: the value keyed
// key (case-insensitively) into m, or none when absent or removed.
inline void select_plain(Cell& m, const Cell& key) {
    const std::int32_t at = hashtable::find_in_map(table_of(m), key, CompareOp::equal);
    const Cell* const found = at < 0 ? nullptr : reinterpret_cast<const Cell*>(memory::buffer(block_of(m))->head) + at + 1;
    if (found == nullptr || found->is(TypeId::no_type)) m = none::value;
    else m = *found;
}
// Sets key to value (put, set-paths, extend): a new key is normalised and
// appended, a removed one revived. path is for the invalid-path error.
void set(const Cell& m, const Cell& key, const Cell& value, bool case_sensitive,
         const Cell* path = nullptr);
// Adds the pairs of blk (native extend); an odd count raises invalid-arg.
void extend(const Cell& m, const Cell& blk, bool case_sensitive);
// One step of foreach over a map: sets the words of words_blk in order from
// the cells of entries (a map!, or its block) at *index, skipping removed
// pairs; set-word keys are given as word!; words left over get none. A
// non-word raises invalid-arg. Advances *index; true when any word was set.
bool set_words_from_entries(const Cell& words_blk, const Cell& entries, std::int32_t count,
                            std::int32_t& index);

// Handlers (map! has no parent).
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* reflect(Cell* value, Cell* field);
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step);
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
Cell* clear(Cell* value);
Cell* copy(Cell* value, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, const FindRefinements& refinements);
std::int32_t length_q(Cell* value);
Cell* put(Cell* value1, Cell* value2, Cell* value3, bool case_);
Cell* remove(Cell* value, Cell* part, Cell* key);
Cell* select(Cell* series, Cell* value, const FindRefinements& refinements);

// Registers map!.
void init();

}  // namespace kiv::map
