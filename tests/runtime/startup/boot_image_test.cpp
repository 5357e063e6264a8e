// The program boots from the boot image the build made: the loaded block
// holds every source, file! name before block, in evaluation order.
#include "runtime/startup/boot.h"

#include "runtime/startup/embed.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

TEST(BootImage, ProgramBootsFromItsImage) {
    ASSERT_FALSE(boot::linked_data.image.empty());
    EXPECT_TRUE(boot::linked_data.sources.empty());
    const Cell& loaded = boot::loaded();
    const std::int32_t n = embed::length(loaded);
    ASSERT_GE(n, 6);
    EXPECT_EQ(embed::mold(embed::pick(loaded, 0)), "%actions.kiv");
    EXPECT_EQ(embed::mold(embed::pick(loaded, 2)).rfind("%natives/", 0), 0u);
    EXPECT_EQ(embed::mold(embed::pick(loaded, n - 2)), "%system.kiv");
    EXPECT_GT(embed::length(embed::pick(loaded, n - 1)), 0);
}

}  // namespace
}  // namespace kiv
