// Shared entry points: tail growth, series part copies, boot literals, number
// arguments and mold indentation. None of them collects; growth copies the
// buffer, so callers re-read every buffer address after them.
#include "runtime/entry.h"

#include "runtime/assert.h"
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

Cell* append_cell(const Cell& blk) { return append_cell_to_buffer(blk.series_node()); }

Cell* append_cell_to_buffer(NodeId node) {
    auto* cell = reinterpret_cast<Cell*>(grow_tail(node, static_cast<std::int32_t>(sizeof(Cell))));
    cell->header = static_cast<std::uint32_t>(TypeId::unset);  // other words as they were
    return cell;
}

std::uint8_t* grow_tail(NodeId node, std::int32_t count) {
    SeriesBuffer* buf = memory::buffer(node);
    KIV_ASSERT(count >= 0, "tail growth by a negative count");
    while (buf->tail + count > buf->data_end()) {
        const std::int64_t grown = count > buf->size ? 2LL * count : 2LL * buf->size;
        const std::int64_t least = 2LL * (buf->tail - buf->head + count);  // a head placed mid-buffer
        buf = memory::copy_series(buf, static_cast<std::int32_t>(
            std::min<std::int64_t>(std::max(grown, least), 0x7FFFFFF0)));
    }
    std::uint8_t* old_tail = buf->tail;
    buf->tail += count;
    return old_tail;
}

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

std::uint32_t literal_payload(std::int32_t index) { return literal_at(index)->data1; }

void raise_bad_make_arg(TypeId type, const Cell& value) {
    Cell dt{};
    dt.reset(TypeId::datatype);
    dt.data1 = static_cast<std::uint32_t>(type);  // datatype! keeps its id in word 1
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
