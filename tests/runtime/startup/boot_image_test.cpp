// The program boots from the boot image the build made: the loaded block
// holds every source, file! name before block, in evaluation order.
#include "runtime/startup/boot.h"

#include "runtime/datatypes/block.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

TEST(BootImage, ProgramBootsFromItsImage) {
    ASSERT_FALSE(boot::linked_data.image.empty());
    EXPECT_TRUE(boot::linked_data.sources.empty());
    const Cell& loaded = boot::loaded();
    const std::int32_t n = block::length_of(loaded);
    ASSERT_GE(n, 6);
    EXPECT_EQ(test::mold(*block::get_cell(loaded, 0)), "%actions.kiv");
    EXPECT_EQ(test::mold(*block::get_cell(loaded, 2)).rfind("%natives/", 0), 0u);
    EXPECT_EQ(test::mold(*block::get_cell(loaded, n - 2)), "%system.kiv");
    EXPECT_GT(block::length_of(*block::get_cell(loaded, n - 1)), 0);
}

}  // namespace
}  // namespace kiv
