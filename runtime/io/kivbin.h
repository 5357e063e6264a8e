// Kivbin, the binary form of values: the stream reader of the codec. A stream
// is the magic "KIVBIN", a version byte, a flags byte (bit 0 compact, bit 1
// LZ77-compressed body, bit 2 symbol table) and the body: counts, the symbol
// table, then one record per value, nested values after their container.
// Both encodings are read; a reference path names a value decoded earlier,
// counted from the target block. The writers are kivbin_encode.h.
#pragma once

#include "runtime/core/cell.h"

#include <cstddef>
#include <cstdint>

namespace kiv::kivbin {

inline constexpr std::uint8_t flag_compact = 0x01;
inline constexpr std::uint8_t flag_compressed = 0x02;
inline constexpr std::uint8_t flag_symbols = 0x04;

// Deepest nesting of containers a stream may hold.
inline constexpr int max_depth = 4096;

// Appends the values of the stream's records to target (a block). Raises
// script invalid-data with input (when not null) for data that is not a
// Kivbin stream or whose compressed body is corrupt; script kb-invalid-record
// with the 1-based byte position of a bad read (counted in the uncompressed
// stream); access no-codec with the datatype for a type that has no record.
void decode(const std::uint8_t* data, std::size_t length, const Cell& target, const Cell* input);

// The number of names in the symbol table of a stream that is not
// compressed, read from its counts; 0 for any other stream (no table,
// compressed, too short to say).
std::int32_t symbol_count(const std::uint8_t* data, std::size_t length);

// decode for the boot image, whose records may also be definitions (0xC4: a
// word, then the value it is set to, neither left in target), words bound to
// the context of root value c (the c-th value appended by this stream), and
// routines by name; reference paths start at the first value appended, and
// objects keep their class ids (later classes come after them). An object's
// change handlers are installed once the last record has set its fields.
// Returns the root base: how many values target held before.
std::int32_t decode_boot(const std::uint8_t* data, std::size_t length, const Cell& target);

}  // namespace kiv::kivbin
