// The tracked heap: the runtime's own long-lived tables, allocated from the C
// library's heap and linked into one list, so that the exit path frees them in
// one sweep and a dump can list them. Language values never live here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::runtime {

// Header before every tracked block; callers see only the bytes after it.
struct alignas(16) TrackedBlock {
    TrackedBlock* previous;
    TrackedBlock* next;
    std::int32_t size;  // bytes asked by the caller
};
static_assert(sizeof(TrackedBlock) == 32);

// The list, in allocation order (a resized block keeps its place).
struct TrackedHeapList {
    TrackedBlock* first;
    TrackedBlock* last;
};
TrackedHeapList& tracked_heap();

// size bytes, not cleared. Ends the process with runtime error 94 when the
// heap is exhausted; never returns null.
void* alloc_tracked(std::int32_t size);
// As alloc_tracked, the bytes set to zero.
void* alloc_tracked_zeroed(std::int32_t size);
// Null address allocates; size 0 frees and returns null; else resizes in place
// in the list. Runtime error 94 when the heap is exhausted.
void* realloc_tracked(void* address, std::int32_t size);
// Frees a tracked block; an address not in the list is ignored.
void free_tracked(void* address);
// Frees every block and empties the list.
void free_tracked_heap();
// Prints the list: each block's size asked and its real size.
void dump_tracked_heap();

}  // namespace kiv::runtime
