// The random generator: its seeded sequence, the clear top bit of every
// output, the ranges and the uniformity of in_range, and the secure source.
#include "runtime/core/random.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace kiv::random {
namespace {

TEST(Random, SeededSequenceShiftsArithmetically) {
    seed(5489);  // the textbook generator would start 3499211612
    EXPECT_EQ(next(), 46662977u);
    EXPECT_EQ(next(), 1228475205u);
    EXPECT_EQ(next(), 1486624396u);
    seed(5489);
    EXPECT_EQ(next(), 46662977u);  // seeding restarts the sequence
}

TEST(Random, EveryOutputHasItsTopBitClear) {
    seed(1);
    for (int i = 0; i < 5000; ++i) ASSERT_LT(next(), 0x80000000u) << "draw " << i;  // spans regenerations
    for (int i = 0; i < 100; ++i) ASSERT_LT(secure_next(), 0x80000000u);
}

TEST(Random, InRangeBounds) {
    seed(7);
    EXPECT_EQ(in_range(false, 0), 0);
    EXPECT_EQ(in_range(false, 1), 1);
    EXPECT_EQ(in_range(false, -1), -1);
    for (int i = 0; i < 1000; ++i) {
        const std::int32_t up = in_range(false, 6), down = in_range(true, -6);
        ASSERT_TRUE(up >= 1 && up <= 6) << up;
        ASSERT_TRUE(down >= -6 && down <= -1) << down;
    }
    const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
    EXPECT_LT(in_range(false, lowest), 0);  // the complement of a draw with its top bit clear
}

TEST(Random, InRangeIsUniform) {
    seed(19650218);
    std::array<int, 10> counts{};
    const int draws = 100000;
    for (int i = 0; i < draws; ++i) ++counts[static_cast<std::size_t>(in_range(false, 10) - 1)];
    for (int c : counts) {  // 10,000 expected; 5 standard deviations is about 475
        EXPECT_GT(c, 9500);
        EXPECT_LT(c, 10500);
    }
}

}  // namespace
}  // namespace kiv::random
