// Case tables: the BMP tables are filled from the generated pair lists
// (case_tables.cpp) by init; the other planes are served straight from their
// sorted lists. Case changes of text values are string_actions::change_case.
#include "runtime/text/case_folding.h"

#include "runtime/core/assert.h"
#include "runtime/core/runtime_error.h"
#include "runtime/text/unicode.h"

namespace kiv::case_folding {

std::uint32_t upper_table[0x10000];
std::uint32_t lower_table[0x10000];

namespace {

// The tables start zeroed (static storage), and 0 reads as "no mapping", so
// init writes only the entries that map elsewhere: clearing each 256 KB table
// first would touch every page of it at start-up for nothing. A pair mapping
// a code point to itself reads the same as 0 and is left out.
void fill(std::uint32_t* table, const CasePair* pairs, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (pairs[i].to != pairs[i].from) table[pairs[i].from] = pairs[i].to;
}

}  // namespace

void init() {
    fill(upper_table, upper_bmp_pairs, upper_bmp_pairs_count);
    fill(lower_table, lower_bmp_pairs, lower_bmp_pairs_count);
}

std::uint32_t fold_plane_char(std::uint32_t cp, bool to_upper) {
    const CasePair* pairs = to_upper ? upper_plane_pairs : lower_plane_pairs;
    std::size_t count = to_upper ? upper_plane_pairs_count : lower_plane_pairs_count;
    if (cp < pairs[0].from || cp > pairs[count - 1].from) return cp;
    for (std::size_t i = 0; i < count && pairs[i].from <= cp; ++i)
        if (pairs[i].from == cp) return pairs[i].to;
    return cp;
}

std::uint32_t swap_case(std::uint32_t cp) {
    std::uint32_t up = fold_char(cp, true);
    return up != cp ? up : fold_char(cp, false);
}

std::uint32_t to_upper(std::uint32_t cp) { return fold_char(cp, true); }

}  // namespace kiv::case_folding
