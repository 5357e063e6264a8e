// Shared entry points: series part copies, boot literals, number
// arguments and mold indentation. None of them collects; growth copies the
// buffer, so callers re-read every buffer address after them.
#include "runtime/datatypes/entry.h"

#include "runtime/assert.h"
#include "runtime/buffer.h"
#include "runtime/datatypes/string.h"
#include "runtime/raise.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kiv::runtime {
namespace {

NodeId literal_block = 0;

}  // namespace

Cell* append_cell(const Cell& blk) { return buffer::append_cell(blk.series_node()); }

NodeId copy_series_part(const Cell& value, std::int32_t offset, std::int32_t count) {
    const SeriesBuffer* src = memory::buffer(value.series_node());
    const std::uint32_t unit = src->unit();
    const std::int32_t len = src->used_bytes() / static_cast<std::int32_t>(unit);
    offset = std::clamp(offset, 0, len);
    count = std::clamp(count, 0, len - offset);  // never read outside the source
    // the source's own flags (bitset! complement, ...), not the memory manager's nor owned
    constexpr std::uint32_t manager_bits = memory::flag_owned | memory::flag_fixed |
        memory::flag_large | memory::flag_pinned | memory::flag_marked |
        memory::flag_head_middle | memory::flag_made | memory::flag_in_use | memory::unit_mask;
    const std::uint32_t flags = src->flags & ~manager_bits;
    const NodeId node = memory::alloc_series(std::max(count, 1), unit, 0);
    src = memory::buffer(value.series_node());
    SeriesBuffer* dst = memory::buffer(node);
    const std::size_t bytes = static_cast<std::size_t>(count) * unit;
    std::memcpy(dst->head, src->head + static_cast<std::ptrdiff_t>(offset) * unit, bytes);
    dst->tail = dst->head + bytes;
    dst->flags |= flags;
    return node;
}

void set_literals(NodeId node) { literal_block = node; }

const Cell* literal_at(std::int32_t index) {
    const SeriesBuffer* buf = memory::buffer(literal_block);
    KIV_ASSERT(literal_block != 0 && index >= 0 &&
               index < buf->used_bytes() / static_cast<std::int32_t>(sizeof(Cell)),
               "boot literal index");
    return reinterpret_cast<const Cell*>(buf->head) + index;
}

std::uint32_t literal_payload(std::int32_t index) { return literal_at(index)->payload_word(1); }

void raise_bad_make_arg(TypeId type, const Cell& value) {
    Cell dt{};
    dt.reset(TypeId::datatype);
    dt.set_datatype_id(type);
    raise_error(ErrorCategory::script, "bad-make-arg", &dt, &value);
}

std::int32_t get_int_from_number(const Cell& value) {
    if (!value.is(TypeId::float_)) return value.int_value();
    const double d = value.f64();
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
        raise_error(ErrorCategory::script, "out-of-range", &value);
    return static_cast<std::int32_t>(d);  // truncates toward zero
}

std::int32_t mold_indent(NodeId out, std::int32_t level, std::int32_t budget) {
    for (std::int32_t i = 0; i < level; ++i) string::append_nul_text(out, "    ");
    return budget - 4 * std::max(level, 0);
}

}  // namespace kiv::runtime
