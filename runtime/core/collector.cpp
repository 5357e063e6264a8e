// The collector: marks from the root steps, the native stack, the scoped C++
// roots and the mark callbacks through one mark-by-type table, then sweeps the
// external handles and the owner table, compacts the arenas and frees large
// blocks and nodes. Marking uses a work list, so deep nesting costs no stack.
#include "runtime/core/collector.h"

#include "runtime/core/assert.h"
#include "runtime/core/compaction.h"
#include "runtime/core/externals.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kiv::collector {
namespace {

struct RootEntry {
    MarkFn fn = nullptr;
    NodeId node = 0;
};
std::array<RootEntry, root_step_count> roots;
std::vector<MarkFn> callbacks;
std::vector<NodeId> work;   // marked series of cells whose cells are still to mark
std::vector<NodeId> dead;   // nodes of dead buffers, released in one batch
Root* scoped_top = nullptr;

// The smallest buffer an allocation takes (a header and 16 bytes of data): the
// node reserve is the budget in buffers of this size.
constexpr std::size_t min_buffer_bytes = memory::header_bytes + 16;

// What a payload word holds, for the mark-by-type table: the words of the mark
// column of runtime/types.table (cmake/type_table.cmake checks them).
enum class Ref : std::uint8_t {
    none,
    node,          // a series buffer
    cells,         // a series of cells, marked with its cells
    context,       // a context series (collector::mark_context)
    table,         // a hash table (hashtable mark hook)
    handle,        // an external handle index, -1 for none
    word_context,  // a word's context: as cells when the word is `self`, else as a context
    op_context,    // an op!'s context when made from function! or routine!
    values,        // a context's values block, unless they live on the argument stack
    image,         // an image buffer, then the image's own mark step
    event,         // an event's block when the event says it has one
};
struct MarkRule {
    Ref word1 = Ref::none, word2 = Ref::none, word3 = Ref::none;
};

// The one table of payload words that hold references, by type id
// (generated from the mark column of runtime/types.table).
#include "generated/type_marks.h"

void mark_word(const Cell& cell, Ref ref, std::uint32_t w) {
    switch (ref) {
    case Ref::none: return;
    case Ref::handle:
        if (static_cast<std::int32_t>(w) >= 0) externals::mark_handle(static_cast<std::int32_t>(w));
        return;
    default: break;
    }
    if (w == 0) return;  // node 0 is never a series
    switch (ref) {
    case Ref::node: mark_node(w); return;
    case Ref::cells: mark_series_cells(w); return;
    case Ref::context: mark_context(w); return;
    case Ref::table:
        if (mark_hashtable_hook != nullptr) mark_hashtable_hook(w);
        else mark_node(w);
        return;
    case Ref::word_context:
        if (self_symbol != 0 && cell.word_symbol() == self_symbol) mark_series_cells(w);
        else mark_context(w);
        return;
    case Ref::op_context: {
        std::uint32_t source = static_cast<std::uint32_t>(cell.op_source());
        if (source == static_cast<std::uint32_t>(TypeId::function) ||
            source == static_cast<std::uint32_t>(TypeId::routine))
            mark_context(w);
        return;
    }
    case Ref::values:
        if (!cell.context_on_stack()) mark_series_cells(w);
        return;
    case Ref::image:
        mark_node(w);
        if (mark_image_hook != nullptr) mark_image_hook(cell);
        return;
    case Ref::event:
        if (cell.event_has_block()) mark_series_cells(w);
        return;
    default: return;
    }
}

void drain() {
    while (!work.empty()) {
        NodeId node = work.back();
        work.pop_back();
        SeriesBuffer* buf = memory::buffer(node);
        mark_cells(reinterpret_cast<const Cell*>(buf->head), reinterpret_cast<const Cell*>(buf->tail));
    }
}

void run_root(const RootEntry& root) {
    if (root.fn != nullptr) root.fn();
    if (root.node != 0) mark_series_cells(root.node);
    drain();
}

void clear_fixed_marks() {
    memory::release_abandoned_fixed();
    for (SeriesBuffer* f : memory::fixed_buffers()) f->flags &= ~(memory::flag_marked | memory::flag_pinned);
}

// Clears the collecting flag however the collection ends.
struct CollectingScope {
    CollectingScope() {
        state.collecting = true;
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }
    ~CollectingScope() {
        state.collecting = false;
        std::atomic_thread_fence(std::memory_order_seq_cst);
    }
};

}  // namespace

void init() {
    const char* torture = std::getenv("KIV_GC_TORTURE");
    state.torture = torture != nullptr && std::strcmp(torture, "1") == 0;
    compaction::init();
}

void collect() {
    if (state.collecting) return;
    {
        CollectingScope scope;
        state.wanted = false;
        // Mark. The native stack goes first: the words it holds must be read
        // before this function's own frame fills with buffer addresses of its
        // own, and a buffer it pins must have its cells marked like any root.
        // Then the precise roots in their fixed order, the scoped C++ roots and
        // the callbacks; each step drains the work list, so marking a deep
        // structure costs list entries, not native stack.
        compaction::scan_native_stack();
        drain();
        for (const RootEntry& root : roots) run_root(root);
        mark_scoped_roots();
        drain();
        for (std::size_t i = 0; i < callbacks.size(); ++i) {  // a callback may add another
            if (callbacks[i] != nullptr) callbacks[i]();
            drain();
        }
        // Sweep what refers to series without keeping them alive: handles whose
        // value is gone are finalised, and owner entries of dead series dropped.
        // An entry that survives may hold values of its own, so drain again.
        externals::sweep();
        if (sweep_owner_table_hook != nullptr) {
            sweep_owner_table_hook();
            drain();
        }
        // Compact. Marking is complete, so every unmarked, unpinned buffer is
        // garbage: compaction slides the live ones down (values reach them only
        // through their nodes, which it rewrites) and collects the dead nodes.
        std::size_t live = compaction::compact_arenas(dead);
        live += compaction::sweep_large_blocks(dead);
        // Pace the next collection by what survived this one, and keep the
        // emptied pools and arenas that the allocations until then will need.
        state.live = live;
        state.allocated = 0;
        state.budget = std::max(state.pacing.floor, live * state.pacing.factor);
        if (!dead.empty()) ++state.node_cycles;
        memory::release_nodes(dead, state.budget / min_buffer_bytes);
        memory::trim_arenas(state.budget);
        clear_fixed_marks();
        memory::choose_active_arena();
        ++state.cycles;
    }
    if (state.torture) memory::check_heap();
    memory::raise_deferred_release_error();
}

void set_root(RootStep step, MarkFn fn) { roots[static_cast<std::size_t>(step)].fn = fn; }
void set_root_node(RootStep step, NodeId node) { roots[static_cast<std::size_t>(step)].node = node; }

void add_mark_callback(MarkFn fn) { callbacks.push_back(fn); }
void remove_mark_callback(MarkFn fn) {
    for (MarkFn& f : callbacks)
        if (f == fn) f = nullptr;
}

bool mark_node(NodeId node) {
    KIV_ASSERT(memory::node_in_use(node), "a marked node is in use");
    SeriesBuffer* buf = memory::buffer(node);
    if ((buf->flags & memory::flag_marked) != 0) return false;
    buf->flags |= memory::flag_marked;
    return true;
}

void mark_series_cells(NodeId node) {
    if (mark_node(node) && memory::buffer(node)->unit() == sizeof(Cell)) work.push_back(node);
}

void mark_context(NodeId node) { mark_series_cells(node); }  // the context! cell, then its owner cell

void mark_cells(const Cell* first, const Cell* end) {
    for (const Cell* c = first; c < end; ++c) mark_cell(*c);
}

void mark_cell(const Cell& cell) {
    auto type = static_cast<std::size_t>(cell.type());
    if (type >= mark_rules.size()) return;
    const MarkRule& rule = mark_rules[type];
    mark_word(cell, rule.word1, cell.payload_word(1));
    mark_word(cell, rule.word2, cell.payload_word(2));
    mark_word(cell, rule.word3, cell.payload_word(3));
}

Root::Root(NodeId node) : node_(node), prev_(scoped_top) {
    if (prev_ != nullptr) prev_->next_ = this;
    scoped_top = this;
}

Root::Root(const Cell& cell) : cell_(cell), prev_(scoped_top) {
    if (prev_ != nullptr) prev_->next_ = this;
    scoped_top = this;
}

Root::~Root() {
    if (next_ != nullptr) next_->prev_ = prev_;
    else scoped_top = prev_;
    if (prev_ != nullptr) prev_->next_ = next_;
}

void mark_scoped_roots() {
    for (Root* r = scoped_top; r != nullptr; r = r->prev_) {
        if (r->node_ != 0) mark_series_cells(r->node_);
        mark_cell(r->cell_);
    }
}

}  // namespace kiv::collector
