// The slot pool. The pool block is a collector root; free slots hold integer!
// cells, so marking the whole block is always safe. A full pool doubles and
// links its new half into the free chain before the slot is taken.
#include "runtime/datatypes/slot_pool.h"

#include "runtime/core/assert.h"
#include "runtime/core/buffer.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"

namespace kiv::slot_pool {
namespace {

Cell pool{};
std::int32_t free_head = -1;

void make_free(std::int32_t index, std::int32_t next) {
    Cell* slot = block::get_cell(pool, index);
    slot->reset(TypeId::integer);
    slot->set_int(next);
}

// Links slots [from, to) into the chain in order, ahead of the old free head.
void link_free(std::int32_t from, std::int32_t to) {
    for (std::int32_t i = from; i < to; ++i) make_free(i, i + 1 < to ? i + 1 : free_head);
    if (from < to) free_head = from;
}

}  // namespace

void init() {
    block::make_at_filled(pool, 100, false);
    free_head = -1;
    link_free(0, 100);
    collector::set_root_node(collector::RootStep::slot_pool, pool.series_node());
}

std::int32_t capacity() { return block::count_from_head(pool); }

std::int32_t alloc_slot(const Cell& value) {
    const Cell v = value;
    if (free_head < 0) {
        const std::int32_t old = capacity();
        buffer::grow_tail(pool.series_node(), old * static_cast<std::int32_t>(sizeof(Cell)));
        link_free(old, 2 * old);
    }
    const std::int32_t index = free_head;
    free_head = block::get_cell(pool, index)->int_value();
    *block::get_cell(pool, index) = v;
    return index + 1;
}

Cell* slot_at(std::int32_t index) {
    KIV_ASSERT(index >= 1 && index <= capacity(), "slot index within the pool");
    return block::get_cell(pool, index - 1);
}

void free_slot(std::int32_t index) {
    if (index == 0) return;
    KIV_ASSERT(index >= 1 && index <= capacity(), "slot index within the pool");
    make_free(index - 1, free_head);
    free_head = index - 1;
}

}  // namespace kiv::slot_pool
