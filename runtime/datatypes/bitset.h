// bitset!: a set of non-negative integers and code points, a bit array in a
// byte series (bit n: byte n >> 3, mask 0x80 >> (n & 7)). The buffer's
// complemented flag makes every bit past the tail a member; allocated bytes
// past the tail always hold the matching fill byte (0x00 plain, 0xFF not).
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::bitset {

// True when the buffer of a bitset is complemented.
inline bool complemented(const SeriesBuffer* buf) { return (buf->flags & memory::flag_bitset_not) != 0; }

// Membership of bit n in the bitset's buffer: the stored bit when its byte
// lies before the tail, else the complemented flag. The scanning loops of
// parse take the buffer once and call this per character.
inline bool has(const SeriesBuffer* buf, std::uint32_t n) {
    const std::uint32_t byte = n >> 3;
    if (byte < static_cast<std::uint32_t>(buf->tail - buf->head))
        return (buf->head[byte] & (0x80u >> (n & 7))) != 0;
    return complemented(buf);
}
// Membership of bit n in the bitset! value bs.
inline bool has(const Cell& bs, std::uint32_t n) { return has(memory::buffer(bs.series_node()), n); }

// What a spec walk does with each value met.
enum class Walk : std::int32_t { measure = 0, set = 1, test = 2, clear = 3 };
// Which error an unsupported spec value raises: bad-make-arg, bad-to-arg,
// or invalid-arg.
enum class SpecError : std::int32_t { make = 0, to = 1, other = 2 };

// Walks spec (char!, integer!, float!, string!, block! with ranges a - b)
// over the bitset bs. measure and set answer the highest bit met (at the
// outermost level: the byte count it needs); test answers 1 when every value
// is a member, else 0. Raises the spec's errors (see SpecError).
std::int64_t spec_walk(const Cell& spec, const Cell& bs, Walk op, bool nested, SpecError kind);

// Makes cell a bitset! of a new buffer of bytes bytes, every byte fill,
// tail at head + bytes; the flag complemented when not_.
void make_at(Cell& cell, std::int32_t bytes, bool not_);
// Makes cell a bitset! built from spec as make does (a block may start with
// the word not). Raises what make raises.
void make_from_spec(Cell& cell, const Cell& spec);

// Set operation on bitsets (union, intersect, difference, exclude, and~,
// or~, xor~; unique answers left unchanged). right must be a bitset!, else
// script error invalid-type. The result replaces left.
Cell* math_op(Cell* left, Cell* right, float_::MathOp op);

// --- Handlers, in action order ----------------------------------------------

// make and to: bitset!, integer! or float! (make only: that many bits, all
// absent), binary!, or any spec the walk accepts; [not ...] complements.
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
// reflect: only owned.
Cell* reflect(Cell* value, Cell* field);
// "make bitset! #{00F0}", "make bitset! [not #{80}]".
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// bs/n reads a bit as pick does; bs/n: value writes it as poke does.
Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step);
// Byte length first, then the flag (plain lower), then bytes from the last.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
// complement and negate: every bit's membership flips (a new bitset).
Cell* complement(Cell* value);
Cell* and_(Cell* value1, Cell* value2);
Cell* or_(Cell* value1, Cell* value2);
Cell* xor_(Cell* value1, Cell* value2);
// append and insert: sets the bits of value.
Cell* insert(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t count);
// Every stored byte back to the fill byte.
Cell* clear(Cell* value);
Cell* copy(Cell* value, Cell* part, bool deep, Cell* types);
// true when every bit of value is a member, else none.
Cell* find(Cell* series, Cell* value, const FindRefinements& refinements);
std::int32_t length_q(Cell* value);
// true or false: every bit of index is a member.
Cell* pick(Cell* value, Cell* index);
// Sets the bits of index, or clears them when value is none, false, 0 or 0.0.
Cell* poke(Cell* value, Cell* index, Cell* new_value);
// remove/part: clears the bits of the part value; /part is required.
Cell* remove(Cell* value, Cell* part, Cell* unused);
// modify bs 'owned value.
Cell* modify(Cell* value, Cell* field, Cell* new_value, bool case_);

// Registers bitset! (type 30, no parent).
void init();

}  // namespace kiv::bitset
