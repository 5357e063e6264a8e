// Two steps of each collection: the conservative scan of the native stack,
// which pins (and keeps alive) every buffer a stack word points into, and the
// compaction of the series arenas, which slides the unpinned live buffers down
// and rewrites their nodes. No stack word is ever rewritten.
#pragma once

#include "runtime/core/memory.h"

#include <cstdint>
#include <vector>

namespace kiv::compaction {

// Records the top of the native stack of the calling (runtime) thread.
void init();

// Scans the native stack from the caller's frame to its top (callee-saved
// registers spilled first): a word inside an arena or large block pins the
// buffer it points into and marks it when it is in use; a word inside the node
// table marks that node. Call after the precise roots are marked.
void scan_native_stack();
// Scans [first, last) as the native stack scan does (tests, and the stack scan itself).
void scan_words(const std::uintptr_t* first, const std::uintptr_t* last);

// Compacts every series arena in address order, moving buffers into the free
// end of the lowest arena below that has room; clears marks and pins; queues
// the nodes of dead buffers on dead_nodes. Arenas left empty stay (the
// collector trims them). Returns the bytes of the buffers kept.
std::size_t compact_arenas(std::vector<NodeId>& dead_nodes);
// Frees unmarked, unpinned large blocks, queueing their nodes; unmarks the
// rest. Returns the bytes of the blocks kept.
std::size_t sweep_large_blocks(std::vector<NodeId>& dead_nodes);

// Byte written over freed memory under torture.
inline constexpr std::uint8_t poison_byte = 0xDB;

}  // namespace kiv::compaction
