// Native stack scan and arena compaction. The scan is conservative: any stack
// word that points into a buffer pins that buffer, and a pinned buffer neither
// moves nor dies in this collection. Compaction slides the other live buffers
// down and leaves a dead filler header in front of each pinned one.
#include "runtime/core/compaction.h"

#include "runtime/core/assert.h"
#include "runtime/core/collector.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

namespace kiv::compaction {
namespace {

std::uintptr_t stack_top = 0;
std::vector<std::uintptr_t> candidates;   // stack words that point into a series arena

// A pinned buffer stays where it is and lives through this collection. Cells
// are marked at once (native code may still read them); other units may hold
// node ids that only their owner's marking knows (a hash table's side arrays),
// so they keep no mark bit here and are still marked in full when reached.
void pin(SeriesBuffer* buf) {
    buf->flags |= memory::flag_pinned;
    if ((buf->flags & memory::flag_in_use) != 0 && buf->node != 0 && buf->unit() == sizeof(Cell))
        collector::mark_series_cells(buf->node);
}

// Pins every buffer whose extent [header, data end] holds a candidate; a
// candidate on the boundary of two buffers pins both (it may be a tail).
void resolve_candidates() {
    std::sort(candidates.begin(), candidates.end());
    auto it = candidates.begin();
    for (memory::Arena& arena : memory::arenas()) {
        auto lo = reinterpret_cast<std::uintptr_t>(arena.base);
        auto free = reinterpret_cast<std::uintptr_t>(arena.free);
        it = std::lower_bound(it, candidates.end(), lo);
        std::uint8_t* p = arena.base;
        while (p < arena.free && it != candidates.end() && *it <= free) {
            auto* buf = reinterpret_cast<SeriesBuffer*>(p);
            std::uint8_t* end = p + memory::buffer_need(buf);
            auto start = reinterpret_cast<std::uintptr_t>(p);
            while (it != candidates.end() && *it < start) ++it;
            if (it != candidates.end() && *it <= reinterpret_cast<std::uintptr_t>(end)) pin(buf);
            p = end;
        }
    }
    candidates.clear();
}

std::uint8_t* moved(SeriesBuffer* buf, std::uint8_t* to) {
    auto* from = reinterpret_cast<std::uint8_t*>(buf);
    std::size_t need = memory::buffer_need(buf);
    if (to == from) return to + need;
    std::ptrdiff_t delta = to - from;
    std::memmove(to, from, need);
    auto* nb = reinterpret_cast<SeriesBuffer*>(to);
    nb->head += delta;
    nb->tail += delta;
    memory::node_table[nb->node] = nb;
    return to + need;
}

// A dead buffer covering [at, at + bytes), so that the arena stays a chain of buffers.
void write_filler(std::uint8_t* at, std::size_t bytes) {
    KIV_ASSERT(bytes >= memory::header_bytes && bytes % 16 == 0, "a gap holds at least a header");
    auto* f = reinterpret_cast<SeriesBuffer*>(at);
    f->flags = 0;
    f->node = 0;
    f->size = static_cast<std::int32_t>(bytes - memory::header_bytes);
    f->stamp = 0;
    f->head = f->data();
    f->tail = f->data();
    if (collector::state.torture) std::memset(f->data(), poison_byte, static_cast<std::size_t>(f->size));
}

}  // namespace

void init() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* addr = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0)
        stack_top = reinterpret_cast<std::uintptr_t>(addr) + size;
    pthread_attr_destroy(&attr);
}

__attribute__((no_sanitize_address)) void scan_words(const std::uintptr_t* first,
                                                     const std::uintptr_t* last) {
    auto& arenas = memory::arenas();
    auto& large = memory::large_blocks();
    auto nodes_lo = reinterpret_cast<std::uintptr_t>(memory::node_table_begin());
    auto nodes_hi = reinterpret_cast<std::uintptr_t>(memory::node_table_end());
    std::uintptr_t arenas_lo = arenas.empty() ? 0 : reinterpret_cast<std::uintptr_t>(arenas.front().base);
    std::uintptr_t arenas_hi = arenas.empty() ? 0 : reinterpret_cast<std::uintptr_t>(arenas.back().end);
    for (const std::uintptr_t* w = first; w < last; ++w) {
        std::uintptr_t v = *w;
        if (v < 0x10000) continue;  // small integers are never addresses
        if (v >= nodes_lo && v < nodes_hi) {
            auto node = static_cast<NodeId>((v - nodes_lo) / sizeof(SeriesBuffer*));
            if (memory::node_in_use(node)) pin(memory::buffer(node));
            continue;
        }
        if (v >= arenas_lo && v <= arenas_hi) {
            auto at = std::upper_bound(arenas.begin(), arenas.end(), v, [](std::uintptr_t x, const memory::Arena& a) {
                return x < reinterpret_cast<std::uintptr_t>(a.base);
            });
            if (at != arenas.begin() && v <= reinterpret_cast<std::uintptr_t>((at - 1)->free)) {
                candidates.push_back(v);
                continue;
            }
        }
        for (memory::LargeBlock& b : large) {  // few large blocks: a linear walk is enough
            auto lo = reinterpret_cast<std::uintptr_t>(b.buffer);
            if (v >= lo && v <= reinterpret_cast<std::uintptr_t>(b.buffer->data_end())) {
                pin(b.buffer);
                break;
            }
        }
    }
    resolve_candidates();
}

namespace {
__attribute__((noinline, no_sanitize_address)) void scan_from_here() {
    volatile std::uintptr_t marker = 0;
    auto* first = const_cast<const std::uintptr_t*>(&marker);
    if (stack_top == 0 || reinterpret_cast<std::uintptr_t>(first) >= stack_top) return;
    scan_words(first, reinterpret_cast<const std::uintptr_t*>(stack_top));
}
}  // namespace

__attribute__((noinline)) void scan_native_stack() {
    __builtin_unwind_init();  // callee-saved registers go to this frame, which the scan covers
    scan_from_here();
}

std::size_t compact_arenas(std::vector<NodeId>& dead_nodes) {
    auto& arenas = memory::arenas();
    std::size_t live = 0;
    if (arenas.empty()) return live;
    std::size_t lowest = 0;  // lowest arena that may still take buffers from above
    auto room_of = [](const memory::Arena& x) { return static_cast<std::size_t>(x.end - x.free); };
    for (std::size_t ai = 0; ai < arenas.size(); ++ai) {
        memory::Arena& a = arenas[ai];
        std::uint8_t* dest = a.base;  // where the next buffer that stays in a goes
        std::uint8_t* p = a.base;
        std::uint8_t* old_free = a.free;
        while (p < old_free) {
            auto* buf = reinterpret_cast<SeriesBuffer*>(p);
            std::size_t need = memory::buffer_need(buf);
            std::uint8_t* next = p + need;
            std::uint32_t flags = buf->flags;
            if ((flags & memory::flag_pinned) != 0) {
                live += need;
                if (dest < p) write_filler(dest, static_cast<std::size_t>(p - dest));
                buf->flags = flags & ~(memory::flag_pinned | memory::flag_marked);
                dest = next;
            } else if ((flags & memory::flag_marked) != 0) {
                live += need;
                buf->flags = flags & ~memory::flag_marked;
                while (lowest < ai && room_of(arenas[lowest]) <= memory::arena_reuse_room) ++lowest;
                std::size_t t = lowest;  // first lower arena with room for this buffer
                while (t < ai && (room_of(arenas[t]) <= memory::arena_reuse_room || room_of(arenas[t]) < need)) ++t;
                if (t < ai)
                    arenas[t].free = moved(buf, arenas[t].free);
                else
                    dest = moved(buf, dest);
            } else if ((flags & memory::flag_in_use) != 0) {
                dead_nodes.push_back(buf->node);
            }
            p = next;
        }
        a.free = dest;
        if (collector::state.torture) std::memset(dest, poison_byte, static_cast<std::size_t>(old_free - dest));
    }
    return live;  // emptied arenas stay: the collector keeps a reserve (memory::trim_arenas)
}

std::size_t sweep_large_blocks(std::vector<NodeId>& dead_nodes) {
    auto& large = memory::large_blocks();
    std::size_t live = 0;
    for (std::size_t i = large.size(); i-- > 0;) {
        SeriesBuffer* buf = large[i].buffer;
        if ((buf->flags & (memory::flag_pinned | memory::flag_marked)) != 0) {
            buf->flags &= ~(memory::flag_pinned | memory::flag_marked);
            live += large[i].bytes;
            continue;
        }
        if ((buf->flags & memory::flag_in_use) != 0) dead_nodes.push_back(buf->node);
        memory::release_large_block(i);
    }
    return live;
}

}  // namespace kiv::compaction
