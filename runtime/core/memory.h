// The memory manager: series buffers, the node table and the arenas that hold
// the buffers. Values reach a buffer only through its node (a 32-bit index into
// one contiguous node table), so a buffer can move by rewriting one slot.
// Allocation never collects; it asks the collector for a run at the next safe
// point (collector.h) and takes more memory from the system instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv {

// Index of a node in the node table. Node 0 is never handed out.
using NodeId = std::uint32_t;

//   flags:  31  30  29  28  27 ... 24 ... 20  19  17 ... 4 ....... 0
//          [IU][  ][MD][HM][MK]   [LG]  [FX][BN][OW]     [ unit   ]
//   IU in use, MD made, HM head placed in the middle, MK collector mark,
//   LG in a large arena, FX fixed (outside every arena), BN bitset!
//   complemented, OW owned (has an owner-table entry); unit 1, 2, 4, 8 or 16.
//   Bit 26 (PN) pins a buffer a native stack word points into, during a collection only.
struct SeriesBuffer {
    std::uint32_t flags;
    NodeId node;            // back-reference; 0 once expansion abandoned the buffer
    std::int32_t size;      // capacity of the data area in bytes, a multiple of 16
    std::uint32_t stamp;    // modification stamp: see memory::touch
    std::uint8_t* head;     // first unit of the series
    std::uint8_t* tail;     // one past the last unit
    // data follows, 16-byte aligned

    std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(this + 1); }
    std::uint8_t* data_end() { return data() + size; }
    std::uint32_t unit() const { return flags & 0x1F; }
    std::int32_t used_bytes() const { return static_cast<std::int32_t>(tail - head); }
};
static_assert(sizeof(SeriesBuffer) == 32);

namespace memory {

inline constexpr std::uint32_t unit_mask = 0x1F;
inline constexpr std::uint32_t flag_owned = 0x00020000;
inline constexpr std::uint32_t flag_bitset_not = 0x00080000;
inline constexpr std::uint32_t flag_fixed = 0x00100000;
inline constexpr std::uint32_t flag_large = 0x01000000;
inline constexpr std::uint32_t flag_pinned = 0x04000000;  // bit 26: a native stack word points here; set only during a collection
inline constexpr std::uint32_t flag_marked = 0x08000000;
inline constexpr std::uint32_t flag_head_middle = 0x10000000;
inline constexpr std::uint32_t flag_made = 0x20000000;
inline constexpr std::uint32_t flag_in_use = 0x80000000;

inline constexpr std::int32_t head_middle = -1;  // head offset asking for the middle

// The node table: slot i holds the buffer of node i (free slots chain the
// free list). Reserved once at start-up; it never moves.
extern SeriesBuffer** node_table;

// The buffer that node refers to.
inline SeriesBuffer* buffer(NodeId node) { return node_table[node]; }

// The modification stamp. A buffer starts with stamp 0; the evaluator gives a
// block it has compiled into steps a stamp of its own and runs the steps only
// while the stamp is unchanged. Every change of a series' units in place
// (an action that writes, moves or cuts them, a binding) calls touch, which
// sets it back to 0. A moved buffer keeps its stamp; an expanded one starts
// again at 0.
inline void touch(NodeId node) { node_table[node]->stamp = 0; }

// Sets up the memory record, the first node pool and the first arena.
void init();
// Returns every pool and arena to the system (shutdown and tests).
void free_all();

// New buffer of count units of the given size (1, 2, 4, 8, 16) and a fresh
// node; head_offset is a byte offset or head_middle. Raises internal
// no-memory when the system refuses memory.
NodeId alloc_series(std::int32_t count, std::uint32_t unit, std::int32_t head_offset);
// The same with a buffer outside every arena (never moved, never swept).
NodeId alloc_fixed_series(std::int32_t count, std::uint32_t unit, std::int32_t head_offset);
NodeId alloc_cells(std::int32_t count);
NodeId alloc_unset_cells(std::int32_t count);
NodeId alloc_bytes(std::int32_t size);        // a size of 0 gives 16 bytes
NodeId alloc_series_of_unit(std::int32_t count, std::uint32_t unit);
NodeId alloc_bytes_filled(std::int32_t size, std::uint8_t byte);
void set_series_flags(NodeId node, std::uint32_t flags);

// New larger buffer for the same node (new_size 0 doubles, an empty buffer
// gets 16 bytes; a size below the used length is raised to it); contents are
// not copied. Returns the new buffer; the old one is abandoned.
SeriesBuffer* expand_series(SeriesBuffer* buf, std::int32_t new_size);
// expand_series, then copies the live units to the new head.
SeriesBuffer* copy_series(SeriesBuffer* buf, std::int32_t new_size);
// copy_series, then fills the bytes from head + old size to head + new size.
SeriesBuffer* expand_series_filled(SeriesBuffer* buf, std::int32_t new_size, std::uint8_t byte);
// New series with the same flags and contents; returns its node.
NodeId clone_series(SeriesBuffer* buf);

// Bytes taken from the system by the memory manager.
std::size_t bytes_in_use();

// True when node is handed out (its slot holds a buffer).
bool node_in_use(NodeId node);
// Nodes handed out, and node pools committed.
std::size_t nodes_in_use();
std::size_t node_pool_count();
// Each committed node pool's slots handed out and slots in all, in pool order.
struct PoolUse {
    std::uint32_t used;
    std::uint32_t capacity;
};
std::vector<PoolUse> pool_use();

// --- The heap as the collector and the statistics see it -------------------

// A buffer takes its 32-byte header plus its data in an arena; buffers follow
// one another from base up to free.
inline constexpr std::size_t header_bytes = sizeof(SeriesBuffer);
inline std::size_t buffer_need(const SeriesBuffer* buf) { return header_bytes + static_cast<std::size_t>(buf->size); }

// A series arena; the arena list is kept in ascending address order.
struct Arena {
    std::uint8_t* base;
    std::uint8_t* free;  // first byte after the last buffer
    std::uint8_t* end;
};
// One system block holding exactly one large buffer.
struct LargeBlock {
    SeriesBuffer* buffer;
    std::size_t bytes;  // size of the block as mapped
};

std::vector<Arena>& arenas();
std::vector<LargeBlock>& large_blocks();
// Buffers outside every arena (alloc_fixed_series).
std::vector<SeriesBuffer*>& fixed_buffers();
// First and one-past-last byte of the committed-or-not node table reservation.
const std::uint8_t* node_table_begin();
const std::uint8_t* node_table_end();

// Collector steps. release_nodes returns the nodes of dead buffers to their
// pools and gives back the empty pools beyond reserve_slots free slots;
// trim_arenas gives back the empty arenas beyond reserve_bytes (the lowest stay,
// and so does one arena); release_arena returns arena i and release_large_block
// large block i to the system (a refusal is remembered and raised by
// raise_deferred_release_error once the collection is over).
void release_nodes(std::vector<NodeId>& nodes, std::size_t reserve_slots = 0);
void trim_arenas(std::size_t reserve_bytes);
void release_arena(std::size_t index);
void release_abandoned_fixed();  // fixed buffers left behind by expansion, unless pinned
void release_large_block(std::size_t index);
void raise_deferred_release_error();
// Picks the arena new buffers come from after a collection: the lowest one
// with at least arena_reuse_room bytes free, else the last one.
void choose_active_arena();
inline constexpr std::size_t arena_reuse_room = 52428;  // 0xCCCC: less room is not worth a move or a reuse

// Checks every invariant of the heap (buffers tile each arena, nodes and
// buffers point at each other, no mark or pin survives a collection, pool
// counts); a violation is a fatal runtime error.
void check_heap();

}  // namespace memory
}  // namespace kiv
