// Text buffers: every text value (string!, file!, url!, tag!, email!, ref!)
// keeps its code points in one series buffer of 1-, 2- or 4-byte units; every
// stored code point fits its unit, and units only widen (string::reset aside).
// Writers take the buffer's node and reload the buffer after anything that may
// grow or widen it; the string! actions and the Unicode coders live elsewhere.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

#include <cstdint>
#include <string>

namespace kiv::string {

// --- Accessors ----------------------------------------------------------------

// The code point stored at p in a buffer of the given unit size (1, 2, 4).
std::uint32_t get_char(const std::uint8_t* p, std::uint32_t unit);
// Address of the head unit; a head index past the tail is first pulled back
// to the tail (the cell is updated). Valid until the next allocation.
std::uint8_t* head_pointer(Cell& text);
// Address just past the last unit.
std::uint8_t* tail_pointer(const Cell& text);
// Units from the head to the tail (head clamped as in head_pointer).
std::int32_t length_from_head(Cell& text);
// The UTF-8 of a text value from its head (a head past the tail gives "").
std::string utf8_of(const Cell& text);
// Units from the buffer's first unit to the tail.
std::int32_t length_from_start(const Cell& text);
// True when the head is at or past the tail.
bool at_tail_q(const Cell& text);
// Code point of unit index counted from the buffer's first unit (head ignored).
std::uint32_t get_char_at_index(const Cell& text, std::int32_t index);
// Index from the head of the first unit equal to cp, -1 when absent.
std::int32_t find_char(Cell& text, std::uint32_t cp);
// True when the text has at least as many units as bytes and each leading
// unit equals the byte at its place.
bool starts_with_nul_text_q(Cell& text, const char* bytes);

// --- Makers -------------------------------------------------------------------

// Makes cell an empty string! (head 0, word 3 0) with room for capacity
// 1-byte units (at least 1). The cell reads unset! until the buffer exists.
void make_at(Cell& cell, std::int32_t capacity);
// The same with the given unit size (1, 2 or 4).
void make_at_unit(Cell& cell, std::int32_t capacity, std::uint32_t unit);
// Empties the buffer, narrows it to unit 1 and sets the head to 0.
void reset(Cell& text);
// Cuts the buffer of node to n units when it is longer.
void truncate_buffer(NodeId node, std::int32_t n);

// --- Writers (each may move the buffer: reload it from the node) --------------

// Appends one code point; the buffer widens first when the code point does
// not fit (1-byte units keep 0-127 on append, 2-byte units 0-0xFFFF).
void append_char(NodeId node, std::uint32_t cp);
// Appends every byte before the NUL as one code point.
void append_nul_text(NodeId node, const char* bytes);
// Appends n bytes, each as one code point.
void append_bytes(NodeId node, const std::uint8_t* bytes, std::int32_t n);
// Appends a UTF-8 text (used by form and mold for names and messages).
void append_utf8(NodeId node, const char* utf8, std::int32_t n);
// Stores cp over the existing unit at index (from the first unit), widening
// first when cp does not fit (1-byte units keep 0-255 on store).
void poke_char(NodeId node, std::int32_t index, std::uint32_t cp);
// Stores cp at index, growing the buffer as needed; the tail moves past index
// when index was at or past it.
void store_char_at(NodeId node, std::int32_t index, std::uint32_t cp);
// Opens a gap of one unit at index (from the first unit) and stores cp there.
void insert_char_at(NodeId node, std::int32_t index, std::uint32_t cp);
// Removes count units at index (from the first unit), closing the gap;
// nothing when index is at or past the tail.
void remove_at(const Cell& text, std::int32_t index, std::int32_t count);
// Removes one unit at index.
void remove_char_at(const Cell& text, std::int32_t index);
// Inserts the first count units of source (from its head) into target at its
// head and removes them from the source.
void move_chars(Cell& source, Cell& target, std::int32_t count);

// Where string::concatenate puts the copied units.
enum class ConcatMode : std::uint8_t { append = 0, insert = 1, overwrite = 2 };

// Copies the source's units from its head (all of them, or limit when
// 0 <= limit < length) into target: at the tail, inserted at offset from the
// target's head, or over the units there. The narrower side is widened first
// (the source only when keep_width is false). source may be a symbol!.
void concatenate(Cell& target, const Cell& source, std::int32_t limit, std::int32_t offset,
                 bool keep_width, ConcatMode mode);
// concatenate in overwrite mode.
void overwrite(Cell& target, const Cell& source, std::int32_t limit, std::int32_t offset,
               bool keep_width);
// Widens the buffer of node from its unit to new_unit (2 or 4), keeping every
// code point; nothing when the unit is already as wide.
void widen_to(NodeId node, std::uint32_t new_unit);
// Exchanges two adjacent byte runs [p, p + first) and [p + first, p + first + second).
void rotate_runs(std::uint8_t* p, std::int32_t first, std::int32_t second);

// --- Hexadecimal text (static results, overwritten by the next call) -----------

// Two upper-case hex digits.
const char* byte_to_hex(std::uint8_t byte);
// Eight upper-case hex digits ("F"-filled for negative values); with trim only
// the significant ones ("00" for 0).
const char* to_hex(std::int32_t value, bool trim);

// Registers string! (after series!): the series actions for now; the string!
// actions (form, mold, find, ...) fill in the rest.
void init();

}  // namespace kiv::string
