// The memory manager: node pools inside one reserved node table, series arenas
// and large blocks taken from the system with mmap (this file is its own small
// platform layer), buffer allocation, expansion and cloning. Invariant: every
// in-use node's slot holds its buffer and that buffer's node field names it.
#include "runtime/core/memory.h"

#include "runtime/core/assert.h"
#include "runtime/core/collector.h"
#include "runtime/core/raise.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kiv {

SeriesBuffer** memory::node_table = nullptr;

namespace memory {
namespace {

constexpr std::uint32_t pool_slots = 10000;
constexpr std::uint32_t table_slots = 1u << 26;         // 512 MB of address space, committed pool by pool
constexpr std::uint32_t max_pools = table_slots / pool_slots;
constexpr std::size_t pool_bytes = pool_slots * sizeof(SeriesBuffer*);
constexpr std::size_t arena_start_size = 1048576;
constexpr std::size_t max_arena_size = 2097152;        // also the threshold for large blocks
constexpr std::int32_t small_count_limit = 1 << 14;    // alloc_series' fast path: at most 256 KB of data

struct Pool {
    bool committed = false;
    NodeId free_head = 0;    // 0 ends the free list (node 0 is never free)
    std::uint32_t used = 0;
};

// The memory record: everything the memory manager owns.
struct Record {
    bool ready = false;
    std::size_t bytes_in_use = 0;
    std::size_t page = 4096;
    std::vector<Pool> pools;             // grows as pools are first committed
    std::uint32_t active_pool = 0;
    std::vector<Arena> arenas;           // ascending address order
    std::size_t active_arena = 0;
    std::size_t next_arena_size = arena_start_size;
    std::vector<LargeBlock> large;
    std::vector<SeriesBuffer*> fixed;
    bool release_failed = false;         // a munmap refused during a collection
};
Record record;

// A free slot holds the next free node id, tagged in bit 0 so that it can
// never be taken for a buffer address (buffers are 16-byte aligned).
SeriesBuffer* free_link(NodeId next) {
    return reinterpret_cast<SeriesBuffer*>((static_cast<std::uintptr_t>(next) << 1) | 1u);
}
NodeId free_next(SeriesBuffer* slot) {
    return static_cast<NodeId>(reinterpret_cast<std::uintptr_t>(slot) >> 1);
}
bool is_free_link(SeriesBuffer* slot) { return (reinterpret_cast<std::uintptr_t>(slot) & 1u) != 0; }

[[noreturn]] void no_memory() { runtime::raise_error(ErrorCategory::internal, "no-memory"); }

std::size_t round_up(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

void* os_map(std::size_t bytes) {
    // Pages come on first touch: a short run never pays for the parts of an arena it does not reach.
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) no_memory();
    record.bytes_in_use += bytes;
    return p;
}
// False when the system refused; the caller decides how to report it.
bool os_unmap(void* p, std::size_t bytes) {
    record.bytes_in_use -= bytes;
    return munmap(p, bytes) == 0;
}

// Byte range of pool k inside the node table.
std::uint8_t* pool_begin(std::uint32_t k) {
    return reinterpret_cast<std::uint8_t*>(node_table) + std::size_t{k} * pool_bytes;
}

// Pools known so far; the rest of the table has never been committed.
std::uint32_t pool_total() { return static_cast<std::uint32_t>(record.pools.size()); }

void commit_pool(std::uint32_t k) {
    KIV_ASSERT(k <= pool_total() && k < max_pools, "pools are committed in table order");
    if (k == pool_total()) record.pools.emplace_back();
    auto* begin = pool_begin(k);
    auto lo = reinterpret_cast<std::uintptr_t>(begin) / record.page * record.page;
    auto hi = round_up(reinterpret_cast<std::uintptr_t>(begin + pool_bytes), record.page);
    if (mprotect(reinterpret_cast<void*>(lo), hi - lo, PROT_READ | PROT_WRITE) != 0) no_memory();
    NodeId first = k * pool_slots;
    NodeId last = first + pool_slots - 1;
    NodeId start = k == 0 ? 1 : first;   // node 0 is never handed out
    if (k == 0) node_table[0] = nullptr;
    for (NodeId id = start; id < last; ++id) node_table[id] = free_link(id + 1);
    node_table[last] = free_link(0);
    Pool& pool = record.pools[k];
    pool.committed = true;
    pool.free_head = start;
    pool.used = 0;
    record.bytes_in_use += pool_bytes;
}

// Gives the pages that only pool k uses back to the system; pages shared with
// a neighbour stay committed (the pool rebuilds its slots when recommitted).
void decommit_pool(std::uint32_t k) {
    auto* begin = pool_begin(k);
    auto lo = round_up(reinterpret_cast<std::uintptr_t>(begin), record.page);
    auto hi = reinterpret_cast<std::uintptr_t>(begin + pool_bytes) / record.page * record.page;
    if (hi > lo) {
        auto* p = reinterpret_cast<void*>(lo);
        if (madvise(p, hi - lo, MADV_DONTNEED) != 0 || mprotect(p, hi - lo, PROT_NONE) != 0)
            record.release_failed = true;
    }
    Pool& pool = record.pools[k];
    pool.committed = false;
    pool.free_head = 0;
    pool.used = 0;
    record.bytes_in_use -= pool_bytes;
}

NodeId alloc_node() {
    Pool* pool = &record.pools[record.active_pool];
    if (!pool->committed || pool->free_head == 0) {
        std::uint32_t k = 0;
        while (k < pool_total() && !(record.pools[k].committed && record.pools[k].free_head != 0)) ++k;
        if (k == pool_total()) {
            k = 0;
            while (k < pool_total() && record.pools[k].committed) ++k;
            if (k == max_pools) no_memory();
            commit_pool(k);
        }
        record.active_pool = k;
        pool = &record.pools[k];
    }
    NodeId id = pool->free_head;
    pool->free_head = free_next(node_table[id]);
    node_table[id] = nullptr;
    ++pool->used;
    return id;
}

// Inserts a new arena of size bytes in address order; returns its index.
std::size_t new_arena(std::size_t size) {
    auto* base = static_cast<std::uint8_t*>(os_map(size));
    Arena arena{base, base, base + size};
    auto at = std::lower_bound(record.arenas.begin(), record.arenas.end(), base,
                               [](const Arena& a, std::uint8_t* b) { return a.base < b; });
    auto index = static_cast<std::size_t>(at - record.arenas.begin());
    record.arenas.insert(at, arena);
    return index;
}

// Room for need bytes in an arena; may take a new arena (and then asks for a collection).
std::uint8_t* carve(std::size_t need) {
    auto fits = [need](const Arena& a) { return static_cast<std::size_t>(a.end - a.free) >= need; };
    std::size_t i = record.active_arena;
    if (i >= record.arenas.size() || !fits(record.arenas[i])) {
        i = 0;
        while (i < record.arenas.size() && !fits(record.arenas[i])) ++i;
        if (i == record.arenas.size()) {
            if (need >= record.next_arena_size) record.next_arena_size = max_arena_size;
            i = new_arena(record.next_arena_size);
            if (record.next_arena_size < max_arena_size)
                record.next_arena_size = std::min(record.next_arena_size * 2, max_arena_size);
        }
        record.active_arena = i;
    }
    Arena& arena = record.arenas[i];
    std::uint8_t* at = arena.free;
    arena.free += need;
    return at;
}

[[maybe_unused]] bool valid_unit(std::uint32_t unit) {
    return unit == 1 || unit == 2 || unit == 4 || unit == 8 || unit == 16;
}

// Data size in bytes for count units, rounded up to 16; raises no-memory
// for a negative or oversized request.
std::int32_t data_size(std::int64_t count, std::uint32_t unit) {
    KIV_ASSERT(valid_unit(unit), "series unit must be 1, 2, 4, 8 or 16");
    if (count < 0) no_memory();
    std::int64_t bytes = count * unit;
    if (bytes > 0x7FFFFFF0) no_memory();
    return static_cast<std::int32_t>((bytes + 15) & ~std::int64_t{15});
}

void init_header(SeriesBuffer* buf, std::uint32_t flags, std::int32_t size, std::int32_t head_offset) {
    if (head_offset == head_middle) {
        head_offset = size / 2;
        flags |= flag_head_middle;
    }
    KIV_ASSERT(head_offset >= 0 && head_offset <= size, "head offset lies inside the data area");
    buf->flags = flags;
    buf->node = 0;
    buf->size = size;
    buf->stamp = 0;
    buf->head = buf->data() + head_offset;
    buf->tail = buf->head;
}

// A new buffer (not yet linked to a node).
SeriesBuffer* alloc_buffer(std::int64_t count, std::uint32_t unit, std::int32_t head_offset) {
    std::int32_t size = data_size(count, unit);
    std::uint32_t flags = unit | flag_in_use | flag_made;
    SeriesBuffer* buf;
    if (static_cast<std::size_t>(size) + 24 >= max_arena_size) {  // the 32-bit need (size + 24) fixes the threshold
        std::size_t bytes = round_up(header_bytes + static_cast<std::size_t>(size), record.page);
        buf = static_cast<SeriesBuffer*>(os_map(bytes));
        record.large.push_back({buf, bytes});
        flags |= flag_large;
    } else {
        buf = reinterpret_cast<SeriesBuffer*>(carve(header_bytes + static_cast<std::size_t>(size)));
    }
    collector::note_allocation(header_bytes + static_cast<std::size_t>(size));
    init_header(buf, flags, size, head_offset);
    return buf;
}

// A zero-filled buffer from the C heap, outside every arena.
// Fixed buffers of this size or more (the stacks) are mapped, not populated:
// their pages are touched only as deep as the stacks ever grow, which for most
// scripts is a small part of them.
constexpr std::size_t fixed_map_bytes = 65536;

bool fixed_is_mapped(std::size_t bytes) { return bytes >= fixed_map_bytes; }

void free_fixed(SeriesBuffer* buf) {
    const std::size_t bytes = header_bytes + static_cast<std::size_t>(buf->size);
    if (fixed_is_mapped(bytes)) munmap(buf, round_up(bytes, record.page));
    else std::free(buf);
}

SeriesBuffer* alloc_fixed_buffer(std::int64_t count, std::uint32_t unit, std::int32_t head_offset) {
    std::int32_t size = data_size(count, unit);
    std::size_t bytes = header_bytes + static_cast<std::size_t>(size);
    record.fixed.reserve(record.fixed.size() + 1);  // no leak if the list cannot grow
    void* p;
    if (fixed_is_mapped(bytes)) {
        p = mmap(nullptr, round_up(bytes, record.page), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);  // zeroed by the system
        if (p == MAP_FAILED) no_memory();
    } else {
        p = std::aligned_alloc(16, bytes);
        if (p == nullptr) no_memory();
        std::memset(p, 0, bytes);
    }
    auto* buf = static_cast<SeriesBuffer*>(p);
    init_header(buf, unit | flag_in_use | flag_made | flag_fixed, size, head_offset);
    record.fixed.push_back(buf);
    return buf;
}

NodeId link(SeriesBuffer* buf) {
    NodeId node;
    try {
        node = alloc_node();
    } catch (...) {
        buf->flags &= ~flag_in_use;  // the buffer becomes garbage for the next compaction
        throw;
    }
    node_table[node] = buf;
    buf->node = node;
    return node;
}

}  // namespace

void init() {
    if (record.ready) return;
    record = Record{};
    long page = sysconf(_SC_PAGESIZE);
    record.page = page > 0 ? static_cast<std::size_t>(page) : 4096;
    void* table = mmap(nullptr, std::size_t{table_slots} * sizeof(SeriesBuffer*), PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (table == MAP_FAILED) no_memory();
    node_table = static_cast<SeriesBuffer**>(table);
    record.ready = true;
    commit_pool(0);
    record.active_arena = new_arena(record.next_arena_size);
    record.next_arena_size = max_arena_size;  // arenas are 1 MB, then 2 MB
}

void free_all() {
    if (!record.ready) return;
    for (Arena& a : record.arenas) munmap(a.base, static_cast<std::size_t>(a.end - a.base));
    for (LargeBlock& b : record.large) munmap(b.buffer, b.bytes);
    for (SeriesBuffer* f : record.fixed) free_fixed(f);
    munmap(node_table, std::size_t{table_slots} * sizeof(SeriesBuffer*));
    node_table = nullptr;
    record = Record{};
}

NodeId alloc_series(std::int32_t count, std::uint32_t unit, std::int32_t head_offset) {
    // Most buffers are small and fit the active arena, and the active pool
    // has a free node: carve, note, init_header and alloc_node in one straight
    // run. Anything else (a large or refused size, a head in the middle, a full
    // arena or pool) takes the general path, which behaves the same.
    if (count >= 0 && count <= small_count_limit && head_offset >= 0 && unit - 1u < 16u && (unit & (unit - 1u)) == 0 &&
        record.active_arena < record.arenas.size()) {
        const auto size = static_cast<std::int32_t>((static_cast<std::uint32_t>(count) * unit + 15) & ~15u);
        const std::size_t need = header_bytes + static_cast<std::size_t>(size);
        Arena& arena = record.arenas[record.active_arena];
        Pool& pool = record.pools[record.active_pool];
        if (static_cast<std::size_t>(arena.end - arena.free) >= need && pool.committed &&
            pool.free_head != 0 && head_offset <= size) {
            auto* buf = reinterpret_cast<SeriesBuffer*>(arena.free);
            arena.free += need;
            collector::note_allocation(need);
            const NodeId node = pool.free_head;
            pool.free_head = free_next(node_table[node]);
            ++pool.used;
            buf->flags = unit | flag_in_use | flag_made;
            buf->node = node;
            buf->size = size;
            buf->stamp = 0;
            buf->head = buf->data() + head_offset;
            buf->tail = buf->head;
            node_table[node] = buf;
            return node;
        }
    }
    return link(alloc_buffer(count, unit, head_offset));
}

NodeId alloc_fixed_series(std::int32_t count, std::uint32_t unit, std::int32_t head_offset) {
    return link(alloc_fixed_buffer(count, unit, head_offset));
}

NodeId alloc_cells(std::int32_t count) { return alloc_series(count, 16, 0); }

NodeId alloc_unset_cells(std::int32_t count) {
    NodeId node = alloc_cells(count);
    SeriesBuffer* buf = buffer(node);
    Cell unset = Cell::fresh(TypeId::unset);
    for (std::uint8_t* p = buf->data(); p < buf->data_end(); p += sizeof(Cell))
        std::memcpy(p, &unset, sizeof unset);
    return node;
}

NodeId alloc_bytes(std::int32_t size) { return alloc_series(size == 0 ? 16 : size, 1, 0); }

NodeId alloc_series_of_unit(std::int32_t count, std::uint32_t unit) {
    if (count == 0) count = 16 >> (unit / 2);   // 16 bytes' worth for units 1-4, one unit of 8, none of 16
    return alloc_series(count, unit, 0);
}

NodeId alloc_bytes_filled(std::int32_t size, std::uint8_t byte) {
    NodeId node = alloc_bytes(size);
    SeriesBuffer* buf = buffer(node);
    std::memset(buf->data(), byte, static_cast<std::size_t>(buf->size));
    return node;
}

void set_series_flags(NodeId node, std::uint32_t flags) { buffer(node)->flags |= flags; }

SeriesBuffer* expand_series(SeriesBuffer* buf, std::int32_t new_size) {
    KIV_ASSERT((buf->flags & flag_in_use) != 0 && buf->node != 0, "only a live buffer is expanded");
    std::int64_t size = new_size == 0 ? std::int64_t{buf->size} * 2 : new_size;
    if (new_size == 0 && size == 0) size = 16;       // doubling an empty buffer gives room, not an error
    if (size <= 0 || size > 0x7FFFFFF0) no_memory();
    size = std::max<std::int64_t>(size, buf->used_bytes());  // never cut off live units
    std::uint32_t unit = buf->unit();
    std::int64_t units = (size + unit - 1) / unit;
    SeriesBuffer* nb;
    if ((buf->flags & flag_fixed) != 0)
        nb = alloc_fixed_buffer(units, unit, 0);  // a fixed series stays outside the arenas
    else
        nb = alloc_buffer(units, unit, 0);
    NodeId node = buf->node;
    nb->flags = (buf->flags & ~(flag_large | flag_marked | flag_pinned)) | (nb->flags & flag_large) |
                flag_in_use | flag_made;
    nb->node = node;
    nb->tail = nb->head + buf->used_bytes();
    node_table[node] = nb;
    buf->node = 0;
    buf->flags &= ~flag_in_use;
    return nb;
}

SeriesBuffer* copy_series(SeriesBuffer* buf, std::int32_t new_size) {
    std::uint8_t* old_head = buf->head;
    auto used = static_cast<std::size_t>(buf->used_bytes());
    SeriesBuffer* nb = expand_series(buf, new_size);
    std::memcpy(nb->head, old_head, used);  // the old buffer is abandoned, not yet reclaimed
    return nb;
}

SeriesBuffer* expand_series_filled(SeriesBuffer* buf, std::int32_t new_size, std::uint8_t byte) {
    SeriesBuffer* nb = copy_series(buf, new_size);
    std::memset(nb->tail, byte, static_cast<std::size_t>(nb->data_end() - nb->tail));  // nothing stale stays behind the copy
    return nb;
}

NodeId clone_series(SeriesBuffer* buf) {
    NodeId node = alloc_series(buf->size, 1, 0);
    SeriesBuffer* nb = buffer(node);
    std::memcpy(nb->data(), buf->data(), static_cast<std::size_t>(buf->size));
    nb->flags = (buf->flags & ~(flag_large | flag_fixed | flag_marked | flag_pinned)) |
                (nb->flags & flag_large) | flag_in_use | flag_made;
    nb->head = nb->data() + (buf->head - buf->data());
    nb->tail = nb->data() + (buf->tail - buf->data());
    return node;
}

std::size_t bytes_in_use() { return record.bytes_in_use; }

bool node_in_use(NodeId node) {
    if (node == 0 || node / pool_slots >= pool_total() || !record.pools[node / pool_slots].committed) return false;
    SeriesBuffer* slot = node_table[node];
    return slot != nullptr && !is_free_link(slot);
}

std::size_t nodes_in_use() {
    std::size_t n = 0;
    for (const Pool& p : record.pools) n += p.used;
    return n;
}

std::size_t node_pool_count() {
    return static_cast<std::size_t>(
        std::count_if(record.pools.begin(), record.pools.end(), [](const Pool& p) { return p.committed; }));
}

std::vector<PoolUse> pool_use() {
    std::vector<PoolUse> out;
    for (const Pool& p : record.pools)
        if (p.committed) out.push_back({p.used, pool_slots});
    return out;
}

std::vector<Arena>& arenas() { return record.arenas; }
std::vector<LargeBlock>& large_blocks() { return record.large; }
std::vector<SeriesBuffer*>& fixed_buffers() { return record.fixed; }

const std::uint8_t* node_table_begin() { return reinterpret_cast<const std::uint8_t*>(node_table); }
const std::uint8_t* node_table_end() {
    return node_table_begin() + std::size_t{table_slots} * sizeof(SeriesBuffer*);
}

void release_nodes(std::vector<NodeId>& nodes, std::size_t reserve_slots) {
    // Pushed last to first, so that the nodes of the lowest dead buffers are
    // handed out first. Not sorted: a sort cost more than all the rest of a
    // collection of a heap that is mostly garbage.
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
        NodeId id = *it;
        if (id == 0) continue;                                     // an abandoned buffer has no node
        Pool& pool = record.pools[id / pool_slots];
        KIV_ASSERT(pool.used > 0, "a released node was in use");
        node_table[id] = free_link(pool.free_head);
        pool.free_head = id;
        --pool.used;
    }
    nodes.clear();
    // Empty pools stay committed while their slots are within the reserve, the
    // lowest first: the allocations before the next collection take them again,
    // and recommitting means a system call and rebuilding 10,000 free links.
    std::size_t kept = 0;
    for (std::uint32_t k = 1; k < pool_total(); ++k) {  // pool 0 holds node 0 and always stays
        if (!record.pools[k].committed || record.pools[k].used != 0) continue;
        if (kept + pool_slots <= reserve_slots) kept += pool_slots;
        else decommit_pool(k);
    }
    std::uint32_t k = 0;
    while (k < pool_total() && !(record.pools[k].committed && record.pools[k].free_head != 0)) ++k;
    record.active_pool = k < pool_total() ? k : 0;
}

void release_abandoned_fixed() {
    auto& fixed = record.fixed;
    auto keep = std::remove_if(fixed.begin(), fixed.end(), [](SeriesBuffer* f) {
        if ((f->flags & (flag_in_use | flag_pinned)) != 0) return false;
        free_fixed(f);
        return true;
    });
    fixed.erase(keep, fixed.end());
}

void trim_arenas(std::size_t reserve_bytes) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < record.arenas.size(); ++i) {
        const Arena& a = record.arenas[i];
        if (a.free != a.base) continue;
        kept += static_cast<std::size_t>(a.end - a.base);
        if (kept > reserve_bytes && record.arenas.size() > 1) {
            kept -= static_cast<std::size_t>(a.end - a.base);
            release_arena(i--);
        }
    }
}

void release_arena(std::size_t index) {
    Arena a = record.arenas[index];
    record.arenas.erase(record.arenas.begin() + static_cast<std::ptrdiff_t>(index));
    if (!os_unmap(a.base, static_cast<std::size_t>(a.end - a.base))) record.release_failed = true;
    record.active_arena = 0;
}

void release_large_block(std::size_t index) {
    LargeBlock b = record.large[index];
    record.large.erase(record.large.begin() + static_cast<std::ptrdiff_t>(index));
    if (!os_unmap(b.buffer, b.bytes)) record.release_failed = true;
}

void raise_deferred_release_error() {
    if (!record.release_failed) return;
    record.release_failed = false;
    runtime::raise_error(ErrorCategory::internal, "wrong-mem");
}

void choose_active_arena() {
    std::size_t i = 0;
    while (i < record.arenas.size() &&
           static_cast<std::size_t>(record.arenas[i].end - record.arenas[i].free) < arena_reuse_room)
        ++i;
    record.active_arena = i < record.arenas.size() ? i : record.arenas.size() - 1;
}

void check_heap() {
    std::size_t live = 0;
    auto check_buffer = [&live](SeriesBuffer* b) {
        KIV_ASSERT((b->flags & (flag_marked | flag_pinned)) == 0, "no mark or pin outlives a collection");
        KIV_ASSERT(b->size >= 0 && b->size % 16 == 0, "buffer size is a multiple of 16");
        if ((b->flags & flag_in_use) == 0) return;
        KIV_ASSERT(valid_unit(b->unit()), "buffer unit is valid");
        KIV_ASSERT(b->node != 0 && node_table[b->node] == b, "a live buffer's node points back at it");
        KIV_ASSERT(b->data() <= b->head && b->head <= b->tail && b->tail <= b->data_end(),
                   "head and tail lie inside the data area");
        ++live;
    };
    for (std::size_t i = 0; i < record.arenas.size(); ++i) {
        const Arena& a = record.arenas[i];
        KIV_ASSERT(i == 0 || record.arenas[i - 1].base < a.base, "arenas are in address order");
        std::uint8_t* p = a.base;
        while (p < a.free) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            check_buffer(b);
            KIV_ASSERT((b->flags & (flag_large | flag_fixed)) == 0, "an arena buffer is neither large nor fixed");
            p += buffer_need(b);
        }
        KIV_ASSERT(p == a.free && a.free <= a.end, "buffers tile the arena up to its free pointer");
    }
    for (const LargeBlock& lb : record.large) {
        check_buffer(lb.buffer);
        KIV_ASSERT((lb.buffer->flags & flag_large) != 0, "a large block's buffer has the large flag");
    }
    for (SeriesBuffer* f : record.fixed) check_buffer(f);
    std::size_t used = 0;
    for (std::uint32_t k = 0; k < pool_total(); ++k) {
        const Pool& pool = record.pools[k];
        if (!pool.committed) continue;
        std::uint32_t in_use = 0;
        for (NodeId id = k * pool_slots; id < (k + 1) * pool_slots; ++id) {
            if (id == 0) continue;
            SeriesBuffer* slot = node_table[id];
            if (is_free_link(slot)) continue;
            KIV_ASSERT(slot != nullptr && slot->node == id, "an in-use node's buffer names it");
            ++in_use;
        }
        KIV_ASSERT(in_use == pool.used, "a pool's used count matches its slots");
        used += in_use;
    }
    KIV_ASSERT(used == live, "every node in use has exactly one live buffer");
}

}  // namespace memory
}  // namespace kiv
