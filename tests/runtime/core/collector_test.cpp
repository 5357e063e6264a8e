// The collector: reachability through roots, cells of every referencing type,
// scoped roots and callbacks; compaction and its pins; finalisers; safe points
// and the torture switch.
#include "runtime/core/collector.h"

#include "runtime/core/compaction.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/core/externals.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

namespace kiv::collector {
namespace {

using memory::buffer;

Cell cell_of(TypeId type, std::uint32_t d1, std::uint32_t d2, std::uint32_t d3, std::uint32_t flags = 0) {
    return Cell{static_cast<std::uint32_t>(type) | flags, d1, d2, d3};
}

void append(NodeId block, const Cell& c) {
    SeriesBuffer* b = buffer(block);
    if (b->tail + sizeof(Cell) > b->data_end()) b = memory::copy_series(b, 0);
    std::memcpy(b->tail, &c, sizeof c);
    b->tail += sizeof(Cell);
}

NodeId make_string(const char* text) {
    auto len = static_cast<std::int32_t>(std::strlen(text));
    NodeId n = memory::alloc_bytes(len);
    SeriesBuffer* b = buffer(n);
    std::memcpy(b->head, text, static_cast<std::size_t>(len));
    b->tail = b->head + len;
    return n;
}

std::string text_of(NodeId n) {
    SeriesBuffer* b = buffer(n);
    return {reinterpret_cast<char*>(b->head), static_cast<std::size_t>(b->used_bytes())};
}

// Clears the stack below the caller, so that no stale word pins a buffer.
__attribute__((noinline)) void scrub_stack() {
    volatile std::uint8_t area[1 << 16];
    for (auto& b : area) b = 0;
}

// A collection from a clean stack.
__attribute__((noinline)) void clean_collect() {
    scrub_stack();
    collect();
}

// Runs f a kilobyte below its caller's frame, inside the area that the next
// clean_collect scrubs. The scan takes any stack word that looks like an
// address as a reference, and sanitizer builds leave more such words behind;
// what f handled then cannot stay pinned by a copy in the test's own frame.
__attribute__((noinline)) void below(const std::function<void()>& f) {
    volatile std::uint8_t pad[1024];
    pad[0] = 0;
    f();
    pad[sizeof pad - 1] = pad[0];
}

NodeId root_block = 0;

class Collector : public testing::Test {
protected:
    void SetUp() override {
        memory::init();
        externals::init();
        init();
        state = State{};
        state.enabled = true;
        root_block = memory::alloc_cells(4);
        set_root_node(RootStep::root_block, root_block);
    }
    void TearDown() override {
        for (int i = 0; i < root_step_count; ++i) {
            set_root(static_cast<RootStep>(i), nullptr);
            set_root_node(static_cast<RootStep>(i), 0);
        }
        externals::free_all();
        memory::free_all();
        state = State{};
    }
};

// Builds garbage, then a rooted block holding a string; out of line, so that
// no word of the test's own frame points into the buffers.
__attribute__((noinline)) void build_reachable(NodeId& garbage, NodeId& text, std::uintptr_t& hidden) {
    garbage = make_string("garbage, allocated first so that the live data slides down");
    NodeId inner = memory::alloc_cells(1);
    text = make_string("kept");
    append(inner, cell_of(TypeId::string, 0, text, 0));
    append(root_block, cell_of(TypeId::block, 0, inner, 0));
    hidden = ~reinterpret_cast<std::uintptr_t>(buffer(text));  // not an address the scan would take
}

TEST_F(Collector, ReachableSurvivesMovedUnreachableIsReclaimed) {
    NodeId garbage, text;
    std::uintptr_t before;
    build_reachable(garbage, text, before);
    clean_collect();
    EXPECT_FALSE(memory::node_in_use(garbage));
    ASSERT_TRUE(memory::node_in_use(text));
    EXPECT_LT(reinterpret_cast<std::uintptr_t>(buffer(text)), ~before);  // moved; the node followed
    EXPECT_EQ(text_of(text), "kept");
    memory::check_heap();
}

TEST_F(Collector, EveryReferencingPayloadWordIsMarked) {
    // {cell, the node it refers to, whether that node must survive}
    struct Case { TypeId type; int word; std::uint32_t flags; bool kept; };
    const Case cases[] = {
        {TypeId::block, 2, 0, true},     {TypeId::get_path, 2, 0, true},
        {TypeId::string, 2, 0, true},    {TypeId::string, 3, 0, true},   {TypeId::ref, 3, 0, true},
        {TypeId::symbol, 2, 0, true},    {TypeId::symbol, 3, 0, true},
        {TypeId::binary, 2, 0, true},    {TypeId::vector, 2, 0, true},   {TypeId::bitset, 2, 0, true},
        {TypeId::native, 2, 0, true},    {TypeId::action, 3, 0, true},
        {TypeId::function, 1, 0, true},  {TypeId::routine, 3, 0, true},
        {TypeId::object, 1, 0, true},    {TypeId::error, 3, 0, true},    {TypeId::port, 1, 0, true},
        {TypeId::word, 1, 0, true},      {TypeId::refinement, 1, 0, true},
        {TypeId::hash, 2, 0, true},      {TypeId::map, 3, 0, true},
        {TypeId::context, 1, 0, true},   {TypeId::context, 2, 0, true},
        {TypeId::context, 2, 0x400000, false},                          // values on the argument stack
        {TypeId::op, 1, 24u << 16, true}, {TypeId::op, 1, 21u << 16, false},  // word 1 of a native's op is an index
        {TypeId::event, 2, 0x1000, true}, {TypeId::event, 2, 0, false},
        {TypeId::image, 2, 0, true},
        {TypeId::issue, 2, 0, false},    {TypeId::integer, 1, 0, false}, {TypeId::word, 2, 0, false},
    };
    std::vector<NodeId> nodes;
    below([&] {
        for (const Case& c : cases) {
            NodeId n = memory::alloc_cells(0);
            nodes.push_back(n);
            std::uint32_t w[3] = {0, 0, 0};
            w[c.word - 1] = n;
            append(root_block, cell_of(c.type, w[0], w[1], w[2], c.flags));
        }
    });
    clean_collect();
    for (std::size_t i = 0; i < nodes.size(); ++i)
        EXPECT_EQ(memory::node_in_use(nodes[i]), cases[i].kept)
            << "type " << int(cases[i].type) << " word " << cases[i].word;
}

TEST_F(Collector, DeepNestingIsMarkedWithoutRecursion) {
    NodeId outer = root_block;
    NodeId last = 0;
    for (int i = 0; i < 200000; ++i) {
        last = memory::alloc_cells(1);
        append(outer, cell_of(TypeId::block, 0, last, 0));
        outer = last;
    }
    clean_collect();
    EXPECT_TRUE(memory::node_in_use(last));
    EXPECT_EQ(memory::nodes_in_use(), 200001u);
}

TEST_F(Collector, ScopedRootsAndCallbacksKeepValuesOnlyWhileTheyExist) {
    NodeId by_node = 0, by_cell = 0;
    below([&] {
        by_node = make_string("a");
        by_cell = make_string("b");
        Root keep_node(by_node);
        Root keep_cell(cell_of(TypeId::string, 0, by_cell, 0));
        {
            Root inner(make_string("c"));  // destroyed first: the chain must stay sound
        }
        clean_collect();
        EXPECT_TRUE(memory::node_in_use(by_node));
        EXPECT_TRUE(memory::node_in_use(by_cell));
    });
    clean_collect();
    EXPECT_FALSE(memory::node_in_use(by_node));
    EXPECT_FALSE(memory::node_in_use(by_cell));

    static NodeId held;
    auto mark = [] { mark_node(held); };
    below([&] {
        held = make_string("held by a callback");
        add_mark_callback(mark);
        clean_collect();
        EXPECT_TRUE(memory::node_in_use(held));
        remove_mark_callback(mark);
    });
    clean_collect();
    EXPECT_FALSE(memory::node_in_use(held));
}

// The buffer's only reference is a pointer into it held by this frame.
__attribute__((noinline)) void check_pinned_by_local(NodeId* out) {
    make_string("dead space below, so that an unpinned buffer would move");
    NodeId n = make_string("pinned!");
    std::uint8_t* volatile inside = buffer(n)->head + 3;
    SeriesBuffer* before = buffer(n);
    *out = n;
    collect();
    EXPECT_TRUE(memory::node_in_use(n));
    EXPECT_EQ(buffer(n), before);  // not moved
    EXPECT_EQ(*inside, 'n');
    memory::check_heap();
}

TEST_F(Collector, ABufferReferencedOnlyFromTheNativeStackSurvivesUnmoved) {
    NodeId live = make_string("live, after the pinned one");  // gets slid down past a filler
    append(root_block, cell_of(TypeId::string, 0, live, 0));
    NodeId pinned = 0;
    scrub_stack();
    check_pinned_by_local(&pinned);
    EXPECT_EQ(text_of(live), "live, after the pinned one");
    clean_collect();                                    // the pointer is gone: now it dies
    EXPECT_FALSE(memory::node_in_use(pinned));
    memory::check_heap();
}

TEST_F(Collector, ScannedWordsPinLargeBlocksAndNodeSlots) {
    NodeId large = memory::alloc_bytes(3000000);
    NodeId by_slot = make_string("x");
    std::uintptr_t words[2] = {reinterpret_cast<std::uintptr_t>(buffer(large)->data() + 100),
                               reinterpret_cast<std::uintptr_t>(&memory::node_table[by_slot])};
    state.collecting = true;  // scan by hand, as the collection does
    compaction::scan_words(words, words + 2);
    state.collecting = false;
    EXPECT_NE(buffer(large)->flags & memory::flag_pinned, 0u);
    EXPECT_NE(buffer(by_slot)->flags & memory::flag_pinned, 0u);
    std::vector<NodeId> dead;
    compaction::compact_arenas(dead);
    compaction::sweep_large_blocks(dead);
    memory::release_nodes(dead);
    EXPECT_TRUE(memory::node_in_use(large));
    EXPECT_TRUE(memory::node_in_use(by_slot));
    memory::check_heap();
}

// Regression: a stale stack word into a hash table's record used to set the
// record's mark bit, so that marking the table later stopped at the record and
// its side arrays were freed under a live table.
TEST_F(Collector, APinnedTableRecordStillMarksItsSideArrays) {
    hashtable::init();
    NodeId table = hashtable::create(8, nullptr, hashtable::Kind::words);
    const hashtable::HashTable* record = hashtable::record(table);
    const NodeId keys = record->keys;
    std::uintptr_t word = reinterpret_cast<std::uintptr_t>(buffer(table)->data());
    state.collecting = true;
    compaction::scan_words(&word, &word + 1);
    hashtable::mark(table);  // the table reached the ordinary way afterwards
    state.collecting = false;
    EXPECT_NE(buffer(keys)->flags & memory::flag_marked, 0u);
    mark_hashtable_hook = nullptr;
}

// Allocates out of line, so that no address of the garbage stays behind in
// the test's own frame for the stack scan to find.
__attribute__((noinline)) NodeId fill_three_arenas() {
    for (int i = 0; i < 9; ++i) memory::alloc_bytes(100000);  // fills the first arena with garbage
    memory::alloc_bytes(1000000);                             // second arena: garbage too
    NodeId live = make_string("moves down an arena");
    append(root_block, cell_of(TypeId::string, 0, live, 0));
    for (int i = 0; i < 25; ++i) memory::alloc_bytes(100000);  // third arena, garbage
    return live;
}

TEST_F(Collector, LiveDataMovesIntoTheArenaBelowAndEmptyArenasBeyondTheReserveGoBack) {
    const Pacing saved = state.pacing;
    NodeId live = fill_three_arenas();
    ASSERT_EQ(memory::arenas().size(), 3u);
    state.pacing.floor = 4u << 20;   // the emptied arenas (3 MB) fit the reserve and stay
    clean_collect();
    EXPECT_EQ(memory::arenas().size(), 3u);
    auto* p = reinterpret_cast<std::uint8_t*>(buffer(live));
    EXPECT_TRUE(p >= memory::arenas()[0].base && p < memory::arenas()[0].free);
    EXPECT_EQ(text_of(live), "moves down an arena");
    EXPECT_EQ(state.allocated, 0u);
    EXPECT_GE(state.live, memory::header_bytes + 16);
    EXPECT_EQ(state.budget, state.pacing.floor);
    std::size_t before = memory::bytes_in_use();
    state.pacing.floor = 1u << 20;   // a smaller budget: the 2 MB ones go back, never the last one
    clean_collect();
    EXPECT_EQ(memory::arenas().size(), 2u);
    EXPECT_LT(memory::bytes_in_use(), before);
    EXPECT_EQ(text_of(live), "moves down an arena");
    state.pacing = saved;
}

// The node pools emptied by a collection stay committed as far as the reserve
// goes, so that churning allocations do not commit and decommit them each time.
__attribute__((noinline)) void fill_three_pools() {
    for (int i = 0; i < 25000; ++i) memory::alloc_bytes(16);
}

TEST_F(Collector, EmptiedNodePoolsStayAsAReserve) {
    const Pacing saved = state.pacing;
    below(fill_three_pools);
    ASSERT_EQ(memory::node_pool_count(), 3u);
    state.pacing.floor = 4u << 20;   // room for 87,381 nodes
    clean_collect();
    EXPECT_EQ(memory::node_pool_count(), 3u);
    state.pacing.floor = 10000 * (memory::header_bytes + 16);  // one pool's worth
    clean_collect();
    EXPECT_EQ(memory::node_pool_count(), 2u);  // pool 0 always stays
    memory::check_heap();
    state.pacing = saved;
}

int finalised = 0;
void count_finalise(void*) { ++finalised; }

TEST_F(Collector, UnreachableHandlesAreFinalisedOnce) {
    finalised = 0;
    int cls = externals::register_class("test", count_finalise);
    std::int32_t kept = externals::alloc_handle(&finalised, static_cast<std::uint32_t>(cls));
    std::int32_t lost = externals::alloc_handle(&finalised, static_cast<std::uint32_t>(cls));
    append(root_block, cell_of(TypeId::handle, 0, 0, static_cast<std::uint32_t>(kept)));
    append(root_block, cell_of(TypeId::handle, 0, 0, 0xFFFFFFFF));  // no handle
    clean_collect();
    EXPECT_EQ(finalised, 1);
    EXPECT_EQ(externals::handle_pointer(lost), nullptr);
    EXPECT_EQ(externals::handle_pointer(kept), &finalised);
    clean_collect();
    EXPECT_EQ(finalised, 1);
}

TEST_F(Collector, SafePointsHonourTheEnabledFlagButRecycleDoesNot) {
    state.wanted = true;
    state.enabled = false;
    safe_point();
    EXPECT_EQ(collection_count(), 0u);
    collect();  // recycle
    EXPECT_EQ(collection_count(), 1u);
    state.enabled = true;
    state.wanted = true;
    safe_point();
    EXPECT_EQ(collection_count(), 2u);
    EXPECT_FALSE(state.wanted);
    safe_point();  // nothing wanted
    EXPECT_EQ(collection_count(), 2u);
}

TEST_F(Collector, TortureSwitchComesFromTheEnvironment) {
    setenv("KIV_GC_TORTURE", "1", 1);
    init();
    EXPECT_TRUE(state.torture);
    setenv("KIV_GC_TORTURE", "0", 1);
    init();
    EXPECT_FALSE(state.torture);
    unsetenv("KIV_GC_TORTURE");
}

// A mutator under torture: strings are made, dropped and replaced in a rooted
// block while every step is a safe point; the heap check runs after each one.
TEST_F(Collector, MutatorUnderTortureKeepsEveryLiveValue) {
    state.torture = true;
    constexpr int slots = 64;
    NodeId table = memory::alloc_cells(slots);
    append(root_block, cell_of(TypeId::block, 0, table, 0));
    std::vector<std::string> expected(slots);
    for (int i = 0; i < slots; ++i) {
        expected[static_cast<std::size_t>(i)] = "s" + std::to_string(i);
        append(table, cell_of(TypeId::string, 0, make_string(expected[static_cast<std::size_t>(i)].c_str()), 0));
    }
    std::mt19937 rng(7);
    for (int step = 0; step < 400; ++step) {
        auto i = static_cast<std::size_t>(rng() % slots);
        std::string text = "v" + std::to_string(step) + std::string(rng() % 300, 'x');
        make_string("garbage");
        NodeId s = make_string(text.c_str());
        if (step % 7 == 0) memory::copy_series(buffer(s), 0);  // abandoned buffers too
        auto* cells = reinterpret_cast<Cell*>(buffer(table)->head);
        cells[i].set_series_node(s);
        expected[i] = text;
        safe_point();
    }
    auto* cells = reinterpret_cast<Cell*>(buffer(table)->head);
    for (std::size_t i = 0; i < slots; ++i) EXPECT_EQ(text_of(cells[i].series_node()), expected[i]);
    EXPECT_EQ(collection_count(), 400u);
}

}  // namespace
}  // namespace kiv::collector
