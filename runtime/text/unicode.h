// Where the runtime's text encodings meet: UTF-8 and UTF-16LE from outside,
// 1-, 2- or 4-byte code units inside. Decoders never read past the end they
// are given. The core coders work on plain units; the loaders and whole-value
// encoders wrap them around series (memory.h) and text cells (string.h).
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kiv::unicode {

// The UTF-8 decoding automaton: 256 class bytes, then the transitions indexed
// by state + class (states are multiples of 12: 0 accept, 12 reject).
extern const std::array<std::uint8_t, 364> utf8_dfa;
inline constexpr std::uint8_t dfa_accept = 0;
inline constexpr std::uint8_t dfa_reject = 12;

// --- Code units ---------------------------------------------------------------

// Ends the process: a unit size other than 1, 2 or 4 is a fault of the runtime.
[[noreturn]] void bad_unit();
// The code point in the unit at p (little-endian, as stored).
inline std::uint32_t read_unit(const std::uint8_t* p, std::uint32_t unit) {
    switch (unit) {
    case 1: return *p;
    case 2: return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
    case 4: { std::uint32_t v; std::memcpy(&v, p, 4); return v; }
    default: bad_unit();
    }
}
// Stores cp in the unit at p; the caller has made sure it fits.
inline void write_unit(std::uint8_t* p, std::uint32_t unit, std::uint32_t cp) {
    switch (unit) {
    case 1: *p = static_cast<std::uint8_t>(cp); break;
    case 2:
        p[0] = static_cast<std::uint8_t>(cp);
        p[1] = static_cast<std::uint8_t>(cp >> 8);
        break;
    case 4: std::memcpy(p, &cp, 4); break;
    default: bad_unit();
    }
}

// --- Single code points ------------------------------------------------------

// Decodes one sequence with the automaton, reading no byte at or after end
// (p < end). Returns the address after the bytes consumed (at least one); cp
// is -1 on reject and on a sequence cut by end.
const std::uint8_t* decode_utf8_char(const std::uint8_t* p, const std::uint8_t* end,
                                     std::int32_t* cp);
// Number of code points in [start, end), one automaton step each.
std::int32_t count_utf8_chars(const std::uint8_t* start, const std::uint8_t* end);
// Advances over count code points, stopping at end; returns the new address.
const std::uint8_t* skip_utf8_chars(const std::uint8_t* p, const std::uint8_t* end,
                                    std::int32_t count);
// Sequence length announced by a lead byte: 4, 3 or 2; 0 for other bytes
// (ASCII and 80-BF alike).
int utf8_lead_size(std::uint8_t lead);
// Bytes of cp in UTF-8 (negative values count 1). Raises script invalid-char
// above U+10FFFF.
int utf8_char_size(std::int32_t cp);
// Sum of the UTF-8 sizes of the units in [start, end) of the given unit size.
// Raises script invalid-char on a unit above U+10FFFF.
std::int32_t utf8_size_of_range(const std::uint8_t* start, const std::uint8_t* end,
                                std::uint32_t unit);
// Writes cp in UTF-8 (1 to 4 bytes) and returns the count. Raises script
// invalid-char above U+10FFFF.
int encode_utf8_char(std::uint32_t cp, std::uint8_t* dst);
// As encode_utf8_char, writing only the leading bytes that fit in room; returns
// the number written.
int encode_utf8_char_bounded(std::uint32_t cp, std::uint8_t* dst, std::int32_t room);
// Decodes one sequence with explicit checks. *count holds the bytes available
// on entry and the bytes used on return. Returns -1 (nothing used) when the
// lead byte asks for more bytes than are available. Overlong forms and U+D800-
// U+DBFF pass; U+DC00-U+DCFF, U+FFFE, above U+10FFFF, stray continuation and
// F8-FF lead bytes raise access invalid-utf8 (argument: the sequence's bytes).
std::int32_t decode_utf8_strict(const std::uint8_t* p, std::int32_t* count);

// --- Core conversions between plain buffers -------------------------------------

// What a UTF-8 text holds, measured before it is stored.
struct Utf8Measure {
    std::int32_t chars;  // code points (after CR handling)
    std::int32_t used;   // bytes decoded; the rest is an incomplete tail
    std::uint32_t unit;  // narrowest unit that holds every code point: 1, 2 or 4
};
// Measures text with the strict decoder; with cr, CR LF counts as one code
// point. Raises access invalid-utf8 on a malformed sequence.
Utf8Measure measure_utf8(const std::uint8_t* text, std::int32_t size, bool cr);
// Decodes the first used bytes of text (a measured, valid prefix) into units
// of the given size, which must hold every code point; with cr, CR LF becomes
// LF and a lone CR becomes LF. Returns the units written.
std::int32_t decode_utf8_units(const std::uint8_t* text, std::int32_t used, bool cr,
                               std::uint8_t* out, std::uint32_t unit);
// Encodes count units as UTF-8 (no NUL); with crlf a CR goes before each LF.
// dst needs count x (2, 3 or 4 by unit) bytes. Returns the bytes written.
// Raises script invalid-char on a unit above U+10FFFF.
std::int32_t encode_units_utf8(const std::uint8_t* units, std::int32_t count,
                               std::uint32_t unit, std::uint8_t* dst, bool crlf);
// As encode_units_utf8 into size bytes at most: a sequence that does not fit
// whole is cut. Returns the bytes written.
std::int32_t encode_units_utf8_bounded(const std::uint8_t* units, std::int32_t count,
                                       std::uint32_t unit, std::uint8_t* dst,
                                       std::int32_t size);
// Encodes count units as UTF-16 (host order, no NUL); with crlf a CR goes
// before each LF. dst needs 2 x count bytes plus utf16_extra_units of the
// range. Returns the units written, or -1 at a unit above U+10FFFF.
std::int32_t encode_units_utf16(const std::uint8_t* units, std::int32_t count,
                                std::uint32_t unit, std::uint16_t* dst, bool crlf);
// Extra bytes that UTF-16 needs over 2 a unit: 2 for every LF and every code
// point above U+FFFF in [start, end).
std::int32_t utf16_extra_units(const std::uint8_t* start, const std::uint8_t* end,
                               std::uint32_t unit);
// Unit size for count UTF-16LE units: 4 when any is a surrogate, else 2 when
// any is above U+00FF, else 1.
std::uint32_t utf16_unit_size(const std::uint8_t* text, std::int32_t count);
// Units that count UTF-16LE units load into (pairs combine; with cr every CR
// is dropped). Ends the process on an unpaired high surrogate.
std::int32_t measure_utf16(const std::uint8_t* text, std::int32_t count, bool cr);
// Stores count UTF-16LE units as units of the given size (from
// utf16_unit_size or wider); pairs combine, with cr every CR is dropped.
// Returns the units written. Ends the process on an unpaired high surrogate.
std::int32_t decode_utf16_units(const std::uint8_t* text, std::int32_t count, bool cr,
                                std::uint8_t* out, std::uint32_t unit);
// Copies each byte of a NUL-terminated text as one UTF-16 unit, then a NUL.
void widen_nul_text(const char* text, std::uint16_t* dst);

// --- Series -------------------------------------------------------------------------

// Series-buffer flag the UTF-16 loader sets on the series it fills.
inline constexpr std::uint32_t flag_from_utf16 = 0x00040000;

// Widens every unit of buf in place (1 to 2, 1 to 4, 2 to 4), from the last
// unit to the first; a buffer too small is replaced by a larger copy first.
// Returns the buffer that now holds the units.
SeriesBuffer* widen_1_to_2(SeriesBuffer* buf);
SeriesBuffer* widen_1_to_4(SeriesBuffer* buf);
SeriesBuffer* widen_2_to_4(SeriesBuffer* buf);

// Decodes a UTF-8 text (a leading BOM skipped) into target's series from its
// first unit (target 0: a new series), widening as code points need; with cr,
// CR LF and lone CR become LF. Returns the series node. When an incomplete
// sequence ends the text, *left gets its byte count (else it is untouched;
// a text that is only the BOM sets 0). Raises access invalid-utf8.
NodeId load_utf8(const std::uint8_t* text, std::int32_t size, NodeId target,
                 std::int32_t* left, bool cr);
// load_utf8 into the series of a text value, without CR handling.
NodeId load_utf8_into(const std::uint8_t* text, std::int32_t size, Cell& value,
                      std::int32_t* left);
// load_utf8 into a new series, without CR handling.
NodeId utf8_to_string(const std::uint8_t* text, std::int32_t size);
// Loads count UTF-16LE units into target's series (nullptr: a new series) with
// the unit utf16_unit_size chooses; text nullptr reads the target's scratch
// buffer. Returns the node. Ends the process on an unpaired high surrogate.
NodeId load_utf16(const std::uint8_t* text, std::int32_t count, Cell* target, bool cr);
// Decodes size bytes of UTF-16 (little- or big-endian, no byte-order mark)
// into a new series: units that form no character, and a last odd byte,
// become U+FFFD. Nothing is refused.
NodeId utf16_to_string(const std::uint8_t* bytes, std::int32_t size, bool big_endian);

// --- Whole text values (head to tail; results live in the value's scratch buffer) ---

// Data address of the value's scratch buffer, with room for size bytes (made,
// or grown keeping its contents, as needed). Valid until the next allocation.
std::uint8_t* scratch_buffer(Cell& value, std::int32_t size);
// NUL-terminated UTF-8 of the value; *length: character limit or -1 in, bytes
// out (NUL not counted). Raises script invalid-char.
std::uint8_t* to_utf8(Cell& value, std::int32_t* length);
// to_utf8; with crlf a CR goes before every LF.
std::uint8_t* to_utf8_eol(Cell& value, std::int32_t* length, bool crlf);
// Encodes into dst (the caller sizes it); limit -1 or >= the length means
// all. Returns the bytes written, the NUL (when asked) not counted.
std::int32_t write_utf8(Cell& value, std::uint8_t* dst, std::int32_t limit, bool nul);
// As write_utf8 into size bytes at most (limit used when 0 < limit < length);
// the NUL, when asked, follows the last byte written and counts in size.
std::int32_t write_utf8_bounded(Cell& value, std::uint8_t* dst, std::int32_t size,
                                std::int32_t limit, bool nul);
// NUL-terminated UTF-16 of the value; *length: character limit or -1 in,
// units out (NUL not counted). nullptr when a code point is above U+10FFFF.
std::uint16_t* to_utf16(Cell& value, std::int32_t* length, bool crlf);
// to_utf16 of the whole value with CR before each LF.
std::uint16_t* to_utf16_crlf(Cell& value);

// --- Display width ---------------------------------------------------------------

// Sorted inclusive code point ranges, two entries (first, last) a range.
extern const std::uint32_t zero_width_ranges[];
extern const std::size_t zero_width_ranges_count;
extern const std::uint32_t wide_ranges[];
extern const std::size_t wide_ranges_count;
extern const std::uint32_t ambiguous_ranges[];
extern const std::size_t ambiguous_ranges_count;

// True when cp lies in one of the ranges of table (entries: twice the ranges).
bool in_ranges_q(std::uint32_t cp, const std::uint32_t* table, std::size_t entries);
// Terminal columns of cp: 0 for NUL and zero-width characters, 1 for C0 and
// C1 controls, 2 for wide characters, else 1.
int char_width(std::uint32_t cp);
// char_width, with East Asian ambiguous characters 2 columns wide.
int char_width_cjk(std::uint32_t cp);

}  // namespace kiv::unicode
