// Growable buffers: every growth goes through grow_tail, which copies
// the buffer to twice its size, so appends are amortised constant time. Bad
// indexes are faults of the runtime's own code: they are asserted.
#include "runtime/core/buffer.h"

#include "runtime/core/assert.h"
#include "runtime/core/cell.h"

#include <algorithm>
#include <cstring>

namespace kiv::buffer {
namespace {

SeriesBuffer* buf(NodeId node) { return memory::buffer(node); }

std::uint32_t* words(NodeId node) { return reinterpret_cast<std::uint32_t*>(buf(node)->head); }
std::int32_t word_count(NodeId node) { return buf(node)->used_bytes() / 4; }

}  // namespace

std::uint8_t* grow_tail(NodeId node, std::int32_t count) {
    SeriesBuffer* b = memory::buffer(node);
    KIV_ASSERT(count >= 0, "tail growth by a negative count");
    while (b->tail + count > b->data_end()) {
        const std::int64_t grown = count > b->size ? 2LL * count : 2LL * b->size;
        const std::int64_t least = 2LL * (b->tail - b->head + count);  // a head placed mid-buffer
        b = memory::copy_series(b, static_cast<std::int32_t>(
            std::min<std::int64_t>(std::max(grown, least), 0x7FFFFFF0)));
    }
    std::uint8_t* old_tail = b->tail;
    b->tail += count;
    b->stamp = 0;  // memory::touch, on the buffer in hand
    return old_tail;
}

Cell* append_cell(NodeId node) {
    auto* cell = reinterpret_cast<Cell*>(grow_tail(node, static_cast<std::int32_t>(sizeof(Cell))));
    cell->set_bare_type(TypeId::unset);  // other words as they were
    return cell;
}

NodeId new_(std::int32_t count, std::uint32_t unit) {
    KIV_ASSERT(unit == 1 || unit == 2 || unit == 4, "buffer unit");
    return memory::alloc_series_of_unit(count, unit);
}

std::int32_t length(NodeId node) {
    const SeriesBuffer* b = buf(node);
    return b->used_bytes() / static_cast<std::int32_t>(b->unit());
}

void clear(NodeId node) {
    buf(node)->tail = buf(node)->head;
    memory::touch(node);
}

void cut(NodeId node, std::int32_t index) {
    SeriesBuffer* b = buf(node);
    KIV_ASSERT(index >= 1 && index <= length(node) + 1, "buffer cut index");
    b->tail = b->head + static_cast<std::ptrdiff_t>(index - 1) * b->unit();
}

NodeId clone(NodeId node) { return memory::clone_series(buf(node)); }

std::uint8_t* head(NodeId node) { return buf(node)->head; }

void append_byte(NodeId node, std::uint8_t byte) { *grow_tail(node, 1) = byte; }

std::uint8_t byte_at(NodeId node, std::int32_t index) {
    KIV_ASSERT(index >= 1 && index <= buf(node)->used_bytes(), "buffer byte index");
    return buf(node)->head[index - 1];
}

std::uint8_t* append_bytes(NodeId node, const void* source, std::int32_t count) {
    std::uint8_t* at = grow_tail(node, count);
    if (count > 0) std::memcpy(at, source, static_cast<std::size_t>(count));
    return at;
}

void append_word(NodeId node, std::uint32_t value) { append_int(node, value); }

std::uint32_t* append_int(NodeId node, std::uint32_t value) {
    std::uint8_t* at = grow_tail(node, 4);
    std::memcpy(at, &value, 4);
    return reinterpret_cast<std::uint32_t*>(at);
}

std::uint32_t word_at(NodeId node, std::int32_t index) {
    KIV_ASSERT(index >= 1 && index <= word_count(node), "buffer word index");
    return words(node)[index - 1];
}

void set_word_at(NodeId node, std::int32_t index, std::uint32_t value) {
    KIV_ASSERT(index >= 1 && index <= word_count(node), "buffer word index");
    words(node)[index - 1] = value;
}

void insert_word(NodeId node, std::uint32_t value, std::int32_t index) {
    KIV_ASSERT(index >= 1 && index <= word_count(node) + 1, "buffer insert index");
    grow_tail(node, 4);  // may move the buffer: addresses are taken after
    std::uint32_t* w = words(node);
    const std::int32_t n = word_count(node);
    std::memmove(w + index, w + index - 1, static_cast<std::size_t>(n - index) * 4);
    w[index - 1] = value;
}

std::int32_t find_pointer(NodeId node, std::uint32_t value) {
    const std::uint32_t* w = words(node);
    const std::int32_t n = word_count(node);
    for (std::int32_t i = 0; i < n; ++i) {
        if (w[i] == value) return i * 4;
    }
    return -1;
}

void remove_word(NodeId node, std::uint32_t value) {
    const std::int32_t offset = find_pointer(node, value);
    if (offset >= 0) remove_bytes(node, offset, 4);
}

void remove_bytes(NodeId node, std::int32_t offset, std::int32_t count) {
    SeriesBuffer* b = buf(node);
    const std::int32_t used = b->used_bytes();
    KIV_ASSERT(offset >= 0 && count >= 0 && offset + count <= used, "buffer remove range");
    std::memmove(b->head + offset, b->head + offset + count,
                 static_cast<std::size_t>(used - offset - count));
    b->tail -= count;
}

}  // namespace kiv::buffer
