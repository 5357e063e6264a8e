// triple!: no script can make one, so its text and its refusal of every other
// action are checked on cells built here.
#include "runtime/datatypes/triple.h"

#include "runtime/datatypes/registry.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

TEST(Triple, FormAndMoldAreTheConstructionText) {
    struct Case {
        std::int32_t a, b, c;
        const char* text;
    };
    const Case cases[] = {
        {1, -2, 3, "make triple! [1 -2 3]"},
        {0, -2147483647 - 1, 7, "make triple! [0 -2147483648 7]"},
        {2147483647, 0, -1, "make triple! [2147483647 0 -1]"},
    };
    for (const Case& k : cases) {
        Cell t{};
        triple::make_at(t, k.a, k.b, k.c);
        std::int32_t left = 0;
        EXPECT_EQ(test::form(t, 100, &left), k.text);
        EXPECT_EQ(left, 100 - static_cast<std::int32_t>(std::string(k.text).size()));
        EXPECT_EQ(test::mold(t), k.text);
    }
}

TEST(Triple, EveryOtherActionIsMissing) {
    // An empty slot is what makes dispatch raise its missing-action error.
    for (int a = 1; a <= action_count; ++a) {
        const auto action = static_cast<Action>(a);
        const bool shown = action == Action::form || action == Action::mold;
        EXPECT_EQ(registry::handler_slot(TypeId::triple, action) != nullptr, shown) << "slot " << a;
    }
}

}  // namespace
}  // namespace kiv
