// Case mapping of code points, with no locale: two direct tables for the
// Basic Multilingual Plane, filled once from the generated pair lists, and a
// short sorted list per direction for the other planes. Hashing, comparison,
// searching and the uppercase/lowercase natives all fold through fold_char.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::case_folding {

// One mapping: source code point to mapped code point.
struct CasePair {
    std::uint32_t from;
    std::uint32_t to;
};

// Generated lists (case_tables.cpp), sorted by source. Upper: the first code
// point of the full upper-case mapping; lower: the simple lower-case mapping.
extern const CasePair upper_bmp_pairs[];
extern const std::size_t upper_bmp_pairs_count;
extern const CasePair lower_bmp_pairs[];
extern const std::size_t lower_bmp_pairs_count;
extern const CasePair upper_plane_pairs[];
extern const std::size_t upper_plane_pairs_count;
extern const CasePair lower_plane_pairs[];
extern const std::size_t lower_plane_pairs_count;

// BMP tables indexed by code point: the mapped code point, 0 for none.
extern std::uint32_t upper_table[0x10000];
extern std::uint32_t lower_table[0x10000];

// Fills both BMP tables from the pair lists; runs once at start-up, before
// symbols are hashed. Calling it again is harmless.
void init();

// Mapping of a code point above U+FFFF (itself when it has none).
std::uint32_t fold_plane_char(std::uint32_t cp, bool to_upper);

// The code point mapped to upper (to_upper) or lower case; itself when it has
// no mapping.
inline std::uint32_t fold_char(std::uint32_t cp, bool to_upper) {
    if (cp > 0xFFFF) return fold_plane_char(cp, to_upper);
    std::uint32_t mapped = to_upper ? upper_table[cp] : lower_table[cp];
    return mapped != 0 ? mapped : cp;
}

// The upper-case mapping when it differs from cp, else the lower-case one.
std::uint32_t swap_case(std::uint32_t cp);
// The upper-case mapping of cp.
std::uint32_t to_upper(std::uint32_t cp);

}  // namespace kiv::case_folding
