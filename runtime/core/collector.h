// The garbage collector: stop-the-world mark and compact. It runs only at safe
// points (between expressions, `recycle`), never inside an allocation. Roots are
// precise (the runtime's root steps, mark callbacks, scoped C++ roots); buffers
// that native stack words point into are pinned for that collection (compaction.h).
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

#include <cstddef>
#include <cstdint>

namespace kiv::collector {

// Pacing. Allocation counts the bytes of the buffers it hands out; once they
// pass the budget a collection is wanted at the next safe point. Each
// collection sets the budget to max(floor, live bytes * factor): a small heap
// collects every few megabytes, a large one in proportion to its size, so the
// collector's work per allocated byte stays bounded and the heap stays within
// about (1 + factor) times its live size plus the floor.
struct Pacing {
    std::size_t floor = std::size_t{4} << 20;
    std::size_t factor = 1;
};

// Collector state. enabled is off while start-up builds the library; wanted is
// set by allocation once allocated passes budget; torture (environment
// KIV_GC_TORTURE=1) collects at every safe point and checks the heap after.
struct State {
    bool enabled = false;
    bool collecting = false;
    bool wanted = false;
    bool torture = false;
    std::uint64_t cycles = 0;     // collections done
    std::uint64_t node_cycles = 0;  // collections that gave nodes back to their pools
    Pacing pacing;
    std::size_t allocated = 0;    // buffer bytes allocated since the last collection
    std::size_t budget = Pacing{}.floor;
    std::size_t live = 0;         // buffer bytes the last collection kept
};
inline State state;

// Counts an allocation of bytes against the budget (the memory manager).
inline void note_allocation(std::size_t bytes) {
    state.allocated += bytes;
    if (state.allocated > state.budget) state.wanted = true;
}

// Reads KIV_GC_TORTURE and records the native stack's top; called once at
// start-up after the memory manager.
void init();

// One full collection, whatever the enabled flag (`recycle`). Does nothing
// when a collection is already running.
void collect();
// A safe point: collects when enabled and wanted, or at every call under torture.
// The interpreter calls it where it can loop or call: between the expressions of
// a block and at its ends (so at every function entry and return and every pass
// of a loop native). Whoever calls code that reaches one must hold its values on
// the argument stack or in a Root.
inline void safe_point() {
    if (state.enabled && (state.wanted || state.torture)) collect();
}
// Collects when enabled; only for callers that stand at a safe point.
inline void collect_if_enabled() { if (state.enabled) collect(); }

inline bool is_collecting() { return state.collecting; }
inline bool enabled() { return state.enabled; }
inline void set_enabled(bool on) { state.enabled = on; }
inline std::uint64_t collection_count() { return state.cycles; }

// --- Marking --------------------------------------------------------------

using MarkFn = void (*)();

// The root steps, marked in this order, then the mark callbacks. Each module
// installs its step at its own initialisation: a function, a node (marked
// with its cells when it holds cells), or both.
enum class RootStep : std::uint8_t {
    root_block,      // the root block and its cells
    symbol_index,    // the symbol table's word index (hash table)
    owner_table,     // the owner table (hash table)
    stacks,          // argument and frame stack buffers, argument cells base to top
    frames,          // the call frames
    global_context,
    take_scratch,    // the scratch block of `take`
    code_position,   // the block of the interpreter's current code position
    lexer_states,
    slot_pool,
};
inline constexpr int root_step_count = 10;

// Installs (or with nullptr / 0 removes) the marking step of a root.
void set_root(RootStep step, MarkFn fn);
void set_root_node(RootStep step, NodeId node);

// Appends fn to the mark callbacks; remove leaves an empty entry.
void add_mark_callback(MarkFn fn);
void remove_mark_callback(MarkFn fn);

// Sets the mark of the node's buffer; true when it was not marked before.
bool mark_node(NodeId node);
// Marks the node and, when newly marked, every cell from its head to its tail.
void mark_series_cells(NodeId node);
// Marks a context series (its context! cell and owner cell).
void mark_context(NodeId node);
// Marks what each cell of [first, end) refers to, by type.
void mark_cells(const Cell* first, const Cell* end);
void mark_cell(const Cell& cell);

// Hooks that other modules fill in at their initialisation. Until the hash
// table module installs mark_hashtable, a table is marked as a plain buffer.
inline void (*mark_hashtable_hook)(NodeId table) = nullptr;
// Sweeps the owner table's dead entries (after marking, before compaction).
inline void (*sweep_owner_table_hook)() = nullptr;
// The image's own mark step, after its buffer is marked.
inline void (*mark_image_hook)(const Cell& image) = nullptr;
// Symbol id of `self`: a word of that symbol marks its context as a block.
inline std::uint32_t self_symbol = 0;

// --- Scoped C++ roots -------------------------------------------------------

// Keeps a value alive while native code holds it across a call that may reach
// a safe point. Nodes never move, so the held node or cell stays valid.
//     collector::Root keep(node);  ... evaluate ...;  memory::buffer(keep.node())
class Root {
public:
    explicit Root(NodeId node);
    explicit Root(const Cell& cell);
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

    NodeId node() const { return node_; }
    const Cell& cell() const { return cell_; }
    Cell& cell() { return cell_; }   // may be rewritten; the new value is held
    void set(NodeId node) { node_ = node; }

private:
    friend void mark_scoped_roots();
    Cell cell_{};
    NodeId node_ = 0;
    Root* prev_;
    Root* next_ = nullptr;
};

// Marks every live Root (a collector step).
void mark_scoped_roots();

}  // namespace kiv::collector
