// Case tables and in-place case changes of text values. The BMP tables are
// filled from the generated pair lists (case_tables.cpp) by init; the other
// planes are served straight from their sorted lists. The string! module owns
// text buffers; this module only reads and stores their units.
#include "runtime/case_folding.h"

#include "runtime/assert.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/raise.h"
#include "runtime/runtime_error.h"
#include "runtime/unicode.h"

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

// Stores cp over unit index of node's buffer, widening the buffer first when
// cp does not fit its unit. Returns the buffer as it now is.
SeriesBuffer* store_unit(NodeId node, std::int32_t index, std::uint32_t cp) {
    SeriesBuffer* buf = memory::buffer(node);
    std::uint32_t unit = buf->unit();
    if (unit == 1 && cp > 0xFF) buf = cp > 0xFFFF ? unicode::widen_1_to_4(buf) : unicode::widen_1_to_2(buf);
    else if (unit == 2 && cp > 0xFFFF) buf = unicode::widen_2_to_4(buf);
    unit = buf->unit();
    unicode::write_unit(buf->head + static_cast<std::size_t>(index) * unit, unit, cp);
    return buf;
}

Cell word_cell(TypeId type, const char* name) {
    Cell c{};
    c.reset(type);
    c.set_word(0, symbol::make(name), -1);
    return c;
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

Cell& change_case(Cell& value, const Cell* part, bool to_upper) {
    if (value.is(TypeId::char_)) {
        value.data2 = fold_char(value.data2, to_upper);  // char! keeps its code point in word 2
        return value;
    }
    KIV_ASSERT(is_any_string_type(value.type()), "case changes apply to chars and texts");
    NodeId node = value.series_node();
    SeriesBuffer* buf = memory::buffer(node);
    std::uint32_t unit = buf->unit();
    if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
    std::int32_t length = buf->used_bytes() / static_cast<std::int32_t>(unit);
    std::int32_t head = value.series_head();
    if (head > length) {
        head = length;
        value.set_series_head(head);
    }
    std::int32_t count = length - head;
    if (part != nullptr) {
        std::int32_t n;
        if (part->is(TypeId::integer)) {
            n = static_cast<std::int32_t>(part->data2);  // integer! keeps its value in word 2
        } else if (part->type() == value.type() && part->series_node() == node) {
            n = part->series_head() - head;
        } else {
            Cell refinement = word_cell(TypeId::refinement, "part");
            runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &refinement, part);
        }
        if (n < 0) n = 0;
        if (n < count) count = n;
    }
    for (std::int32_t i = head; i < head + count; ++i) {
        std::uint32_t cp = unicode::read_unit(buf->head + static_cast<std::size_t>(i) * buf->unit(), buf->unit());
        std::uint32_t mapped = fold_char(cp, to_upper);
        if (mapped != cp) buf = store_unit(node, i, mapped);
    }
    if ((memory::buffer(node)->flags & memory::flag_owned) != 0) {  // only owned series have an owner to tell
        Cell action = word_cell(TypeId::word, to_upper ? "uppercase" : "lowercase");
        ownership::check_owner(value, action, nullptr, head, count);
    }
    return value;
}

std::uint32_t swap_case(std::uint32_t cp) {
    std::uint32_t up = fold_char(cp, true);
    return up != cp ? up : fold_char(cp, false);
}

std::uint32_t to_upper(std::uint32_t cp) { return fold_char(cp, true); }

}  // namespace kiv::case_folding
