// The tracked heap: malloc'd blocks linked in allocation order behind a header.
#include "runtime/core/tracked_heap.h"

#include "runtime/core/assert.h"
#include "runtime/os/platform.h"
#include "runtime/core/runtime_error.h"

#include <cstdlib>
#include <cstring>

namespace kiv::runtime {

namespace {

TrackedHeapList list{nullptr, nullptr};

constexpr std::size_t header_size = sizeof(TrackedBlock);

TrackedBlock* header_of(void* address) {
    return reinterpret_cast<TrackedBlock*>(static_cast<char*>(address) - header_size);
}
void* bytes_of(TrackedBlock* block) { return reinterpret_cast<char*>(block) + header_size; }

void append(TrackedBlock* block) {
    block->previous = list.last;
    block->next = nullptr;
    if (list.last) list.last->next = block;
    else list.first = block;
    list.last = block;
}

void unlink(TrackedBlock* block) {
    if (block->previous) block->previous->next = block->next;
    else list.first = block->next;
    if (block->next) block->next->previous = block->previous;
    else list.last = block->previous;
}

bool listed(const TrackedBlock* block) {
    for (const TrackedBlock* b = list.first; b; b = b->next)
        if (b == block) return true;
    return false;
}

}  // namespace

TrackedHeapList& tracked_heap() { return list; }

[[gnu::noinline]] void* alloc_tracked(std::int32_t size) {
    KIV_ASSERT(size >= 0, "negative tracked-heap size");
    auto* block = static_cast<TrackedBlock*>(std::malloc(header_size + static_cast<std::size_t>(size)));
    if (!block) report_runtime_error(error_out_of_memory, KIV_CALLER_ADDRESS());
    block->size = size;
    append(block);
    return bytes_of(block);
}

[[gnu::noinline]] void* alloc_tracked_zeroed(std::int32_t size) {
    KIV_ASSERT(size >= 0, "negative tracked-heap size");
    // calloc: fresh pages from the system are not written over again.
    auto* block = static_cast<TrackedBlock*>(std::calloc(1, header_size + static_cast<std::size_t>(size)));
    if (!block) report_runtime_error(error_out_of_memory, KIV_CALLER_ADDRESS());
    block->size = size;
    append(block);
    return bytes_of(block);
}

[[gnu::noinline]] void* realloc_tracked(void* address, std::int32_t size) {
    if (!address) return alloc_tracked(size);
    if (size == 0) {
        free_tracked(address);
        return nullptr;
    }
    KIV_ASSERT(size > 0, "negative tracked-heap size");
    TrackedBlock* old = header_of(address);
    TrackedBlock* previous = old->previous;
    TrackedBlock* next = old->next;
    auto* block = static_cast<TrackedBlock*>(std::realloc(old, header_size + static_cast<std::size_t>(size)));
    if (!block) report_runtime_error(error_out_of_memory, KIV_CALLER_ADDRESS());
    block->size = size;
    if (next) next->previous = block;  // the neighbours now point at the moved header
    else list.last = block;
    if (previous) previous->next = block;
    else list.first = block;
    return bytes_of(block);
}

void free_tracked(void* address) {
    if (!address) return;
    TrackedBlock* block = header_of(address);
    if (!listed(block)) return;  // not ours: ignored
    unlink(block);
    std::free(block);
}

void free_tracked_heap() {
    TrackedBlock* block = list.first;
    while (block) {
        TrackedBlock* next = block->next;
        std::free(block);
        block = next;
    }
    list = {nullptr, nullptr};
}

void dump_tracked_heap() {
    platform::print_line({"-- Heap-allocations --"});
    platform::print_line({"Asked   Real"});
    std::int64_t sum = 0;
    for (const TrackedBlock* b = list.first; b; b = b->next) {
        const std::int64_t real = b->size + static_cast<std::int64_t>(header_size);
        platform::print_line({b->size, '\t', real});
        sum += real;
    }
    platform::print_line({"-- Sum: ", sum, " --"});
}

}  // namespace kiv::runtime
