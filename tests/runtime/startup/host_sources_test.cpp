// A host whose image holds its sources (made by make_boot_image --host) over
// the library's image of evaluated values: the library's words come from the
// image, then the host's sources are evaluated, make-routine there for them.
#include "runtime/startup/boot.h"

#include "tests/support/kivbin_stream.h"
#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

// [%t.kiv [hs-word: 42 hs-quit: make-routine 'quit []]]: one source.
const std::vector<std::uint8_t> sources = test::kivbin_stream(
    {0x05, 2,                                        // the block of name and code pairs
     0x08, 5 << 2, 't', '.', 'k', 'i', 'v',          // %t.kiv
     0x05, 6,                                        // its code
     0x10, 0, 0x80 + 42,                             // hs-word: 42
     0x10, 1, 0x0F, 2, 0x11, 3, 0x05, 0},            // hs-quit: make-routine 'quit []
    {"hs-word", "hs-quit", "make-routine", "quit"});

const bool host_set = (boot::set_host_image(sources), true);  // before the boot below
const auto* const runtime_env = test::boot_runtime({.library = true});

TEST(HostSources, RunOverTheLibrarysValues) {
    EXPECT_TRUE(boot::booted_from_values());
    EXPECT_EQ(test::mold(test::eval("reduce [hs-word  type? :hs-quit  type? :collect  value? 'make-routine]")),
              "[42 routine! function! false]");
}

}  // namespace
}  // namespace kiv
