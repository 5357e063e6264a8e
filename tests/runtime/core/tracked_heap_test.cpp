// The tracked heap: list order through allocate, resize and free, and the dump.
#include "runtime/core/tracked_heap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

namespace kiv::runtime {
namespace {

std::vector<std::int32_t> sizes_in_order() {
    std::vector<std::int32_t> sizes;
    const TrackedBlock* previous = nullptr;
    for (const TrackedBlock* b = tracked_heap().first; b; b = b->next) {
        EXPECT_EQ(b->previous, previous);  // both directions agree
        sizes.push_back(b->size);
        previous = b;
    }
    EXPECT_EQ(tracked_heap().last, previous);
    return sizes;
}

class TrackedHeap : public testing::Test {
protected:
    void TearDown() override { free_tracked_heap(); }
};

TEST_F(TrackedHeap, BlocksStayInAllocationOrderThroughResizeAndFree) {
    void* a = alloc_tracked(10);
    void* b = alloc_tracked(20);
    void* c = alloc_tracked_zeroed(30);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 16, 0u);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(static_cast<char*>(c)[i], 0);
    std::memset(b, 'x', 20);
    b = realloc_tracked(b, 100000);  // moves, keeps its place and contents
    EXPECT_EQ(static_cast<char*>(b)[19], 'x');
    EXPECT_EQ(sizes_in_order(), (std::vector<std::int32_t>{10, 100000, 30}));

    free_tracked(c);  // the last: its predecessor becomes last
    EXPECT_EQ(sizes_in_order(), (std::vector<std::int32_t>{10, 100000}));
    EXPECT_EQ(tracked_heap().last->next, nullptr);
    free_tracked(a);  // the first
    EXPECT_EQ(sizes_in_order(), (std::vector<std::int32_t>{100000}));
    int outside = 0;
    free_tracked(&outside + 16);  // not a tracked block: ignored
    free_tracked(b);  // the only one
    EXPECT_EQ(tracked_heap().first, nullptr);
    EXPECT_EQ(tracked_heap().last, nullptr);
}

TEST_F(TrackedHeap, ResizeOfNullAllocatesAndResizeToZeroFrees) {
    void* a = realloc_tracked(nullptr, 8);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(sizes_in_order(), (std::vector<std::int32_t>{8}));
    EXPECT_EQ(realloc_tracked(a, 0), nullptr);
    EXPECT_EQ(tracked_heap().first, nullptr);
}

// Everything fn writes to standard output.
template <typename Fn>
std::string stdout_of(Fn fn) {
    int pipe_fds[2];
    EXPECT_EQ(::pipe(pipe_fds), 0);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::close(pipe_fds[1]);
    fn();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(n));
    ::close(pipe_fds[0]);
    return text;
}

TEST_F(TrackedHeap, DumpListsSizesAskedAndReal) {
    EXPECT_EQ(stdout_of(dump_tracked_heap), "-- Heap-allocations --\nAsked   Real\n-- Sum: 0 --\n");
    alloc_tracked(40);
    void* b = alloc_tracked(3);
    alloc_tracked(7);
    realloc_tracked(b, 5000);  // keeps its place in the dump
    EXPECT_EQ(stdout_of(dump_tracked_heap),
              "-- Heap-allocations --\nAsked   Real\n40\t72\n5000\t5032\n7\t39\n-- Sum: 5143 --\n");
}

}  // namespace
}  // namespace kiv::runtime
