// Kivbin writers: one value and everything reachable from it become a stream
// (the reader is kivbin.h). Series, contexts, objects and functions met a
// second time are written as references to where they were first written, so
// shared structure and cycles come back as they were. Nothing is allocated in
// the language heap while a value is walked; only the result binary is.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>
#include <vector>

namespace kiv::kivbin {

struct EncodeOptions {
    // The compact encoding (bytes and varints) instead of the fixed one
    // (32-bit words).
    bool compact = true;
    // Writes each value of the block given, from its head, as a top-level
    // record (the root count is their number) instead of the block itself as
    // one record. A reference path then starts at the value's index among
    // them, as the reader resolves paths from its target block.
    bool spread = false;
};

// The stream of value: magic "KIVBIN", version 2, the flags, root count and
// payload length, the symbol table when any symbol was written, then the
// records. Raises access no-codec with the datatype for a value that has no
// record (triple!, routine!, handle!, port!, event!, an op! or function! of
// native code) and internal too-deep past the reader's nesting limit.
std::vector<std::uint8_t> encode(const Cell& value, const EncodeOptions& options = {});

// The boot image of the global context as it stands (compact, with a
// symbol table, version 1): root value 0 is a block of the global words in their
// order; then each object that the global words reach, as a record without
// its values, and each function they reach in full, every word bound to one
// of these written with the root index of its owner; then the values that
// paths may name; then definitions (0xC4): each object field's and global
// word's value, in place or as a copy of a root value. Raises access
// no-codec for a value that has no record, or internal no-cycle for
// functions whose records would each name the other.
std::vector<std::uint8_t> encode_boot();

// encode into a new binary! at out (out must not lie in a series buffer).
void encode_to_binary(const Cell& value, bool compact, Cell& out);

}  // namespace kiv::kivbin
