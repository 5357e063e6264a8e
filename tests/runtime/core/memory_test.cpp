// The memory manager: buffer sizes and flags, expansion, cloning, large
// buffers, node hand-out and the no-memory error.
#include "runtime/core/memory.h"

#include "runtime/core/collector.h"
#include "runtime/core/raise.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace kiv::memory {
namespace {

class Memory : public testing::Test {
protected:
    void SetUp() override { init(); }
    void TearDown() override { free_all(); }
};

bool in_arena(const SeriesBuffer* b) {
    auto* p = reinterpret_cast<const std::uint8_t*>(b);
    for (const Arena& a : arenas())
        if (p >= a.base && p < a.free) return true;
    return false;
}

std::string raised_id(void (*f)()) {
    try {
        f();
    } catch (const LanguageError& e) {
        EXPECT_EQ(e.category, ErrorCategory::internal);
        return e.id;
    }
    return "";
}

TEST_F(Memory, SizesRoundToSixteenAndEmptyRequestsFollowTheirUnit) {
    struct Case { std::int32_t count; std::uint32_t unit; std::int32_t size; };
    const Case cases[] = {
        {0, 1, 16}, {0, 2, 16}, {0, 4, 16}, {0, 8, 16}, {0, 16, 0},   // alloc_series_of_unit's empty sizes
        {1, 1, 16}, {17, 1, 32}, {3, 4, 16}, {5, 4, 32}, {3, 16, 48},
    };
    for (const Case& c : cases) {
        SeriesBuffer* b = buffer(alloc_series_of_unit(c.count, c.unit));
        EXPECT_EQ(b->size, c.size) << c.count << " x " << c.unit;
        EXPECT_EQ(b->unit(), c.unit);
        EXPECT_EQ(b->flags & (flag_in_use | flag_made), flag_in_use | flag_made);
        EXPECT_EQ(b->head, b->data());
        EXPECT_EQ(b->tail, b->head);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b->data()) % 16, 0u);
    }
    EXPECT_EQ(buffer(alloc_bytes(0))->size, 16);
    check_heap();
}

TEST_F(Memory, HeadInTheMiddleMovesToTheStartOnExpansion) {
    NodeId n = alloc_series(32, 1, head_middle);
    SeriesBuffer* b = buffer(n);
    EXPECT_EQ(b->head, b->data() + 16);
    EXPECT_NE(b->flags & flag_head_middle, 0u);
    std::memcpy(b->head, "abcde", 5);
    b->tail = b->head + 5;

    SeriesBuffer* nb = copy_series(b, 0);
    EXPECT_EQ(nb->size, 64);             // 0 doubles
    EXPECT_EQ(buffer(n), nb);            // same node, new buffer
    EXPECT_EQ(nb->node, n);
    EXPECT_EQ(nb->head, nb->data());
    EXPECT_EQ(nb->used_bytes(), 5);
    EXPECT_EQ(std::memcmp(nb->head, "abcde", 5), 0);
    EXPECT_EQ(b->node, 0u);              // the old buffer is abandoned
    EXPECT_EQ(b->flags & flag_in_use, 0u);
    check_heap();
}

TEST_F(Memory, ExpansionEdgeCases) {
    // An empty buffer doubles to 16 bytes instead of failing.
    NodeId empty = alloc_cells(0);
    EXPECT_EQ(expand_series(buffer(empty), 0)->size, 16);

    // A smaller new size never cuts off live units.
    NodeId n = alloc_bytes(64);
    SeriesBuffer* b = buffer(n);
    std::memset(b->head, 'x', 64);
    b->tail = b->head + 64;
    SeriesBuffer* nb = copy_series(b, 16);
    EXPECT_EQ(nb->size, 64);
    EXPECT_EQ(nb->used_bytes(), 64);
    EXPECT_EQ(nb->head[63], 'x');

    // The filled expansion leaves no stale byte after the copied units.
    nb->tail = nb->head + 3;
    SeriesBuffer* filled = expand_series_filled(nb, 128, 0xFF);
    EXPECT_EQ(filled->used_bytes(), 3);
    EXPECT_EQ(filled->head[2], 'x');
    for (std::uint8_t* p = filled->tail; p < filled->data_end(); ++p) ASSERT_EQ(*p, 0xFF);
    check_heap();
}

TEST_F(Memory, RefusedSizesRaiseNoMemory) {
    EXPECT_EQ(raised_id([] { alloc_series(-1, 1, 0); }), "no-memory");
    EXPECT_EQ(raised_id([] { alloc_series(0x7FFFFFFF, 16, 0); }), "no-memory");
    EXPECT_EQ(raised_id([] { expand_series(buffer(alloc_bytes(16)), -16); }), "no-memory");
    EXPECT_EQ(raised_id([] {
        SeriesBuffer* b = buffer(alloc_bytes(16));
        b->size = 0x40000000;  // doubling overflows 32 bits
        expand_series(b, 0);
    }), "no-memory");
}

TEST_F(Memory, LargeBufferThreshold) {
    SeriesBuffer* in_arena_buf = buffer(alloc_bytes(2097120));   // 32-bit need 2,097,144
    SeriesBuffer* large = buffer(alloc_bytes(2097136));          // 32-bit need 2,097,160
    EXPECT_EQ(in_arena_buf->flags & flag_large, 0u);
    EXPECT_TRUE(in_arena(in_arena_buf));
    EXPECT_NE(large->flags & flag_large, 0u);
    EXPECT_FALSE(in_arena(large));
    EXPECT_EQ(large_blocks().size(), 1u);
    // Expanding a small buffer into a large one carries the large flag over.
    SeriesBuffer* grown = expand_series(buffer(alloc_bytes(16)), 3000000);
    EXPECT_NE(grown->flags & flag_large, 0u);
    check_heap();
}

TEST_F(Memory, CloneKeepsFlagsContentsAndOffsets) {
    NodeId n = alloc_series(8, 2, head_middle);
    SeriesBuffer* b = buffer(n);
    set_series_flags(n, flag_bitset_not);
    std::memcpy(b->head, "hi", 2);
    b->tail = b->head + 2;
    NodeId c = clone_series(b);
    SeriesBuffer* cb = buffer(c);
    EXPECT_NE(c, n);
    EXPECT_EQ(cb->flags, b->flags);
    EXPECT_EQ(cb->head - cb->data(), b->head - b->data());
    EXPECT_EQ(cb->used_bytes(), 2);
    EXPECT_EQ(std::memcmp(cb->head, "hi", 2), 0);
}

TEST_F(Memory, UnsetCellsAndFilledBytes) {
    SeriesBuffer* cells = buffer(alloc_unset_cells(3));
    auto* c = reinterpret_cast<Cell*>(cells->data());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(c[i].is(TypeId::unset));
    SeriesBuffer* bytes = buffer(alloc_bytes_filled(5, 0xAB));
    for (std::uint8_t* p = bytes->data(); p < bytes->data_end(); ++p) ASSERT_EQ(*p, 0xAB);
}

TEST_F(Memory, FixedSeriesLiveOutsideTheArenas) {
    NodeId n = alloc_fixed_series(4, 16, 0);
    SeriesBuffer* b = buffer(n);
    EXPECT_EQ(b->flags & 0xFFF00000u, 0xA0100000u);
    EXPECT_FALSE(in_arena(b));
    // Expansion keeps a fixed series fixed.
    EXPECT_NE(expand_series(b, 0)->flags & flag_fixed, 0u);
    check_heap();
}

TEST_F(Memory, NodesAreUniqueNeverZeroAndSpanPools) {
    std::set<NodeId> seen;
    for (int i = 0; i < 25000; ++i) {
        NodeId n = alloc_series(0, 16, 0);
        ASSERT_NE(n, 0u);
        ASSERT_TRUE(seen.insert(n).second);
    }
    EXPECT_EQ(nodes_in_use(), 25000u);
    EXPECT_EQ(node_pool_count(), 3u);
    EXPECT_TRUE(node_in_use(*seen.begin()));
    EXPECT_FALSE(node_in_use(0));
    check_heap();
}

TEST_F(Memory, ArenasGrowFromOneToTwoMegabytesAndAllocationAsksForACollectionPastTheBudget) {
    const collector::State saved = collector::state;
    collector::state.wanted = false;
    collector::state.allocated = 0;
    collector::state.budget = 3000000;
    EXPECT_EQ(arenas().size(), 1u);
    EXPECT_EQ(arenas()[0].end - arenas()[0].base, 1048576);
    alloc_bytes(1000000);
    alloc_bytes(1000000);        // does not fit the first arena
    EXPECT_EQ(arenas().size(), 2u);
    EXPECT_FALSE(collector::state.wanted);  // a new arena alone is no reason to collect
    EXPECT_EQ(collector::state.allocated, 2 * (header_bytes + 1000000));
    std::size_t total = 0;
    for (const Arena& a : arenas()) total += static_cast<std::size_t>(a.end - a.base);
    EXPECT_EQ(total, 1048576u + 2097152u);
    alloc_bytes(1000000);
    EXPECT_TRUE(collector::state.wanted);   // past the budget
    collector::state = saved;
}

// Small buffers come from a straight path (the active arena's free pointer
// and the active pool's free list); the edges around it take the general one.
// Both must give the same buffer, counted the same.
TEST_F(Memory, SmallAndGeneralAllocationsAgree) {
    struct Case { std::int32_t count; std::uint32_t unit; std::int32_t head; std::int32_t size; std::int32_t at; };
    const Case cases[] = {
        {0, 16, 0, 0, 0}, {1, 16, 0, 16, 0}, {5, 4, 16, 32, 16}, {3, 8, 24, 32, 24},
        {4, 1, 16, 16, 16}, {16384, 16, 0, 262144, 0}, {16385, 16, 0, 262160, 0},   // past the straight path's limit
        {8, 2, head_middle, 16, 8}, {7, 1, 16, 16, 16},
    };
    for (const Case& c : cases) {
        const std::size_t before = collector::state.allocated;
        const NodeId n = alloc_series(c.count, c.unit, c.head);
        SeriesBuffer* b = buffer(n);
        EXPECT_EQ(b->node, n);
        EXPECT_EQ(b->size, c.size) << c.count << " x " << c.unit;
        EXPECT_EQ(b->flags & ~flag_head_middle, c.unit | flag_in_use | flag_made);
        EXPECT_EQ(b->head - b->data(), c.at);
        EXPECT_EQ(b->tail, b->head);
        EXPECT_EQ(b->stamp, 0u);
        EXPECT_EQ(collector::state.allocated - before, header_bytes + static_cast<std::size_t>(c.size));
    }
    check_heap();
}

TEST_F(Memory, SmallAllocationsCrossFullArenasAndPools) {
    // 40,000 buffers of 48 bytes: two arenas and four pools fill on the way.
    std::set<NodeId> seen;
    for (int i = 0; i < 40000; ++i) {
        const NodeId n = alloc_series(1, 16, 0);
        ASSERT_TRUE(seen.insert(n).second);
        ASSERT_TRUE(in_arena(buffer(n)));
    }
    EXPECT_EQ(nodes_in_use(), 40000u);
    EXPECT_EQ(node_pool_count(), 5u);   // node 0 takes a slot of the first
    EXPECT_GE(arenas().size(), 2u);
    check_heap();
}

TEST_F(Memory, AFreedNodeIsHandedOutAgain) {
    const NodeId first = alloc_series(1, 16, 0);
    const NodeId second = alloc_series(1, 16, 0);
    buffer(first)->flags &= ~flag_in_use;     // as a collection leaves a dead buffer
    std::vector<NodeId> dead{first};
    release_nodes(dead);
    const NodeId again = alloc_series(2, 16, 0);
    EXPECT_EQ(again, first);
    EXPECT_NE(again, second);
    EXPECT_EQ(buffer(again)->node, again);
}

TEST(MemoryDeath, BrokenBackReferenceFailsTheHeapCheck) {
    EXPECT_DEATH({
        init();
        NodeId n = alloc_bytes(16);
        buffer(n)->node = n + 1;
        check_heap();
    }, "node points back");
}

}  // namespace
}  // namespace kiv::memory
