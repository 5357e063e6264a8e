// The modification stamp of series buffers: every way the language has to
// change a block's cells in place (the block and series actions, paths,
// parse, binding, the natives that fill a block) resets the stamp that the
// evaluator's compiled steps are checked against. A way that forgot would
// let a changed block run its old steps.
#include "runtime/core/memory.h"
#include "runtime/datatypes/block.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

const auto* const env = test::boot_runtime({.library = true});

constexpr std::uint32_t token = 0x5EED;

const char* const mixed = "b: [x 1 [2] (3) y: 4 none 5 6 z] b";

// Makes `b` a fresh block (setup's value) with a non-zero stamp, runs the
// change, and returns the block's stamp after it.
std::uint32_t stamp_after(const std::string& change, const char* setup = mixed) {
    const Cell b = test::eval(setup);
    EXPECT_TRUE(b.is(TypeId::block));
    collector::Root keep(b);
    const NodeId node = b.series_node();
    memory::buffer(node)->stamp = token;
    test::eval(change);
    return memory::buffer(node)->stamp;
}

TEST(ModificationStamp, EveryChangeInPlaceResetsIt) {
    const char* const changes[] = {
        "append b 7",
        "append/only b [7]",
        "append b [7 8]",
        "append/dup b 0 3",
        "insert b 0",
        "insert at b 3 [a b]",
        "insert tail b 1",
        "change b 9",
        "change/part next b [1 2] 3",
        "poke b 2 99",
        "b/2: 99",
        "b/y: 10",
        "put b 'y 10",
        "put b 'w 10",
        "remove b",
        "remove/part next b 2",
        "clear at b 5",
        "take b",
        "take/last b",
        "take/part b 2",
        "reverse b",
        "swap b next b",
        "trim b",
        "random b",
        "move b next next b",
        "remove-each v b [integer? v]",
        "alter b 'x",
        "bind b context [x: 1 y: 2]",
        "reduce/into [1 + 2] b",
        "compose/into [(1 + 2)] b",
        "parse b [remove word! to end]",
        "parse b [change word! (0) to end]",
        "parse b [insert (0) to end]",
    };
    for (const char* change : changes) EXPECT_EQ(stamp_after(change), 0u) << change;
    const char* const numbers = "b: [3 1 2 5 4] b";
    for (const char* change : {"sort b", "sort/reverse b", "sort/compare b func [a b] [a > b]"})
        EXPECT_EQ(stamp_after(change, numbers), 0u) << change;
}

TEST(ModificationStamp, ReadingLeavesItAlone) {
    const char* const reads[] = {
        "first b", "copy b", "find b 4", "select b 'y", "pick b 3", "length? b",
        "foreach v b [v]", "parse b [to end]", "mold b", "do [b/2]",
    };
    for (const char* read : reads) EXPECT_EQ(stamp_after(read), token) << read;
}

TEST(ModificationStamp, MovedBuffersKeepItAndCollectionsDoNotClearIt) {
    const Cell b = test::eval("b: [1 2 3] b");
    collector::Root keep(b);
    memory::buffer(b.series_node())->stamp = token;
    test::eval("loop 3 [c: make block! 10000 recycle]");
    EXPECT_EQ(memory::buffer(b.series_node())->stamp, token);
}

}  // namespace
}  // namespace kiv
