// The value cell: every language value is one 16-byte cell, a header word and
// three payload words. Only this header knows the bit layout; every module
// reads and writes cells through the accessors below.
//
//   header:  31  30  29 ............................ 8  7 ......... 0
//           [ . ][NL][ type-specific flags            ][  type id   ]
//   NL: new-line marker, a line break stands before this value.
//   payload: words 1-3, laid out per type. A reference to a series, context
//   or other runtime object is a 32-bit node id, never a pointer.
#pragma once

#include <cstdint>
#include <cstring>

namespace kiv {

// Type ids are part of the binary value format: never renumber.
enum class TypeId : std::uint8_t {
    no_type = 0,
    datatype = 1, unset, none, logic, block, paren, string, file, url, char_,
    integer, float_, symbol, context, word, set_word, lit_word, get_word,
    refinement, issue, native, action, op, function, path, lit_path, set_path,
    get_path, routine, bitset, triple, object, typeset, error, vector, hash,
    pair, percent, tuple, map, binary, series, time, tag, email, handle, date,
    port, money, ref, point2d, point3d, image, event,
};
inline constexpr int type_count = 55;  // ids 0-54

struct Cell {
    std::uint32_t header;
    std::uint32_t data1;
    std::uint32_t data2;
    std::uint32_t data3;

    static constexpr std::uint32_t type_mask = 0xFF;
    static constexpr std::uint32_t new_line_flag = 0x40000000;

    TypeId type() const { return static_cast<TypeId>(header & type_mask); }
    bool is(TypeId t) const { return type() == t; }
    // Replaces the type id, keeping the flag bits.
    void set_type(TypeId t) { header = (header & ~type_mask) | static_cast<std::uint32_t>(t); }
    bool new_line() const { return (header & new_line_flag) != 0; }
    void set_new_line(bool on) { header = on ? (header | new_line_flag) : (header & ~new_line_flag); }

    // A 64-bit payload (float!, time!, ...) lives in words 2-3.
    double f64() const { double d; std::memcpy(&d, &data2, sizeof d); return d; }
    void set_f64(double d) { std::memcpy(&data2, &d, sizeof d); }
};
static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");

}  // namespace kiv
