// handle!: the hex form, both molds with the class names, comparison by value
// alone, and the constructors native code uses.
#include "runtime/core/collector.h"
#include "runtime/datatypes/handle.h"

#include "runtime/datatypes/block.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

Cell handle_of(std::uint32_t value, handle::Class c) {
    Cell h{};
    handle::make_at(h, value, c);
    return h;
}

TEST(Handle, FormsAsEightHexDigitsAndH) {
    EXPECT_EQ(test::form(handle_of(0, handle::Class::null)), "00000000h");
    EXPECT_EQ(test::form(handle_of(0xA1F2C0, handle::Class::window)), "00A1F2C0h");
    EXPECT_EQ(test::form(handle_of(0xFFFFFFFF, handle::Class::fd)), "FFFFFFFFh");
}

TEST(Handle, MoldsAsItsTypeNameAndWithAllAsConstruction) {
    const struct { std::uint32_t value; handle::Class c; const char* all; } cases[] = {
        {0, handle::Class::null, "#[handle! 00000000h]"},
        {1, handle::Class::fd, "#[handle! 00000001h fd]"},
        {0x10, handle::Class::monitor, "#[handle! 00000010h monitor]"},
        {0xBEEF, handle::Class::window, "#[handle! 0000BEEFh window]"},
        {2, handle::Class::font, "#[handle! 00000002h font]"},
        {3, handle::Class::rich_text, "#[handle! 00000003h rich-text]"},
        {4, static_cast<handle::Class>(77), "#[handle! 00000004h 77]"},
    };
    for (const auto& c : cases) {
        const Cell h = handle_of(c.value, c.c);
        EXPECT_EQ(test::mold(h), "handle!");
        EXPECT_EQ(test::mold(h, {.all = true}), c.all);
    }
}

TEST(Handle, ComparesValuesAsSigned32BitsWhateverTheClass) {
    auto compare = registry::handler<Action::compare>(TypeId::handle);
    ASSERT_NE(compare, nullptr);
    Cell a = handle_of(5, handle::Class::font), b = handle_of(5, handle::Class::window);
    EXPECT_EQ(compare(&a, &b, CompareOp::equal), 0);
    EXPECT_EQ(compare(&a, &b, CompareOp::same), 0);
    Cell negative = handle_of(0xFFFFFFFF, handle::Class::fd);  // -1 as a signed value
    EXPECT_EQ(compare(&negative, &a, CompareOp::lesser), -1);
    EXPECT_EQ(compare(&a, &negative, CompareOp::greater), 1);
    Cell i{};
    i.reset(TypeId::integer);
    i.set_int(5);
    EXPECT_EQ(compare(&a, &i, CompareOp::equal), not_comparable);
}

TEST(Handle, ConstructorsWriteTheWholePayload) {
    const Cell h = handle_of(0x1234, handle::Class::font);
    EXPECT_TRUE(h.is(TypeId::handle));
    EXPECT_EQ(h.handle_value(), 0x1234u);
    EXPECT_EQ(h.handle_class(), 4u);
    EXPECT_EQ(h.payload_word(3), 0xFFFFFFFFu);  // no external-table entry for the collector

    Cell blk{};
    block::make_at(blk, 2);
    collector::Root keep(blk);
    handle::make_in(blk, 7, handle::Class::window);
    ASSERT_EQ(block::count_from_head(blk), 1);
    EXPECT_EQ(block::head_cell(blk)->handle_value(), 7u);
}

TEST(Handle, EveryOtherActionIsMissing) {
    EXPECT_EQ(registry::handler<Action::add>(TypeId::handle), nullptr);
    EXPECT_EQ(registry::handler<Action::make>(TypeId::handle), nullptr);
    EXPECT_EQ(registry::handler<Action::to>(TypeId::handle), nullptr);
}

}  // namespace
}  // namespace kiv
