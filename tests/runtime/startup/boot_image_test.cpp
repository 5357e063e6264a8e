// The program boots from the boot image the build made: the global context
// as the library's top level left it, nothing left to evaluate.
#include "runtime/startup/boot.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/io/kivbin.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

TEST(BootImage, ProgramBootsFromItsImage) {
    ASSERT_FALSE(boot::linked_data.image.empty());
    EXPECT_TRUE(boot::linked_data.sources.empty());
    EXPECT_TRUE(boot::booted_from_values());
    EXPECT_EQ(block::length_of(boot::loaded()), 0);  // no source left to evaluate
    ASSERT_NE(system_object::get(), nullptr);
    ASSERT_NE(error::catalog(), nullptr);
    EXPECT_EQ(system_object::field("catalog/errors")->object_context(), error::catalog()->object_context());
    EXPECT_EQ(test::mold(test::eval("reduce [type? :collect  type? :make  type? :integer?  collect [keep 1]]")),
              "[function! action! routine! [1]]");
}

// The symbol table and the global context were made with room for the
// image's names: the image's count is what start-up reads.
TEST(BootImage, TablesMadeForTheImagesNames) {
    const std::int32_t named = boot::image_symbols();
    EXPECT_GT(named, 500);
    EXPECT_EQ(named, kivbin::symbol_count(boot::linked_data.image.data(), boot::linked_data.image.size()));
    EXPECT_LE(named, symbol::count());  // the image's and the runtime's own
    EXPECT_LE(context::word_count(context::global()), symbol::count());
}

}  // namespace
}  // namespace kiv
