#include "runtime/core/cell.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(Cell, TypeAndFlagsShareTheHeader) {
    Cell c{};
    c.header = 0x00AB1200;
    c.set_type(TypeId::block);
    EXPECT_EQ(c.type(), TypeId::block);
    EXPECT_EQ(c.header & ~Cell::type_mask, 0x00AB1200u);
    c.set_new_line(true);
    c.set_type(TypeId::paren);
    EXPECT_TRUE(c.new_line());
    EXPECT_EQ(static_cast<int>(TypeId::event), 54);
}

TEST(Cell, Float64PayloadRoundTrips) {
    Cell c{};
    c.set_f64(-0.1);
    EXPECT_EQ(c.f64(), -0.1);
    EXPECT_EQ(c.data1, 0u);
}

}  // namespace
}  // namespace kiv
