// date!: the day-number calendar over the whole range a date holds, checked
// against a plain day-by-day walk, and the packing of make_at.
#include "runtime/datatypes/date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace kiv {
namespace {

// Walking one day at a time from 1-Jan of the smallest year must meet every
// day number in order, and converting back must give the same date.
TEST(DateCalendar, DayNumbersRoundTripOverTheWholeRange) {
    std::int64_t expected = date::day_number(-16384, 1, 1);
    for (std::int32_t y = -16384; y <= 16383; ++y) {
        for (std::int32_t m = 1; m <= 12; ++m) {
            for (std::int32_t d = 1; d <= date::month_length(y, m); ++d) {
                const std::int64_t n = date::day_number(y, m, d);
                ASSERT_EQ(n, expected) << y << "-" << m << "-" << d;
                std::int32_t y2 = 0, m2 = 0, d2 = 0;
                date::from_day_number(n, y2, m2, d2);
                ASSERT_EQ(y2, y);
                ASSERT_EQ(m2, m);
                ASSERT_EQ(d2, d);
                ++expected;
            }
        }
    }
}

TEST(DateCalendar, KnownDays) {
    EXPECT_EQ(date::day_number(1970, 1, 1), 719468);
    EXPECT_EQ(date::weekday_of(719468), 4);  // a Thursday
    EXPECT_EQ(date::day_number(2000, 3, 1) - date::day_number(2000, 2, 28), 2);
    EXPECT_EQ(date::day_number(2100, 3, 1) - date::day_number(2100, 2, 28), 1);
    EXPECT_EQ(date::day_number(-4, 3, 1) - date::day_number(-4, 2, 28), 2);  // year -4 is leap
    EXPECT_EQ(date::day_number(2020, 1, 32), date::day_number(2020, 2, 1));  // days carry
    EXPECT_EQ(date::day_number(2020, 3, 0), date::day_number(2020, 2, 29));
}

// Packed words from outside (the binary format) are taken only when they
// are dates this module makes itself.
TEST(DatePacked, AcceptsOnlyWellFormedWords) {
    Cell made{};
    date::make_at(made, 2026, 12, 10, 3600.0, 120, true);  // 10-Dec-2026/1:00+02:00
    Cell c{};
    ASSERT_TRUE(date::make_from_packed(c, made.date_word(), made.f64()));
    EXPECT_TRUE(c.is(TypeId::date));
    EXPECT_TRUE(c.same_payload(made));
    const std::uint32_t w = made.date_word();
    struct Case { std::uint32_t word; double time; };
    const Case bad[] = {
        {w & ~0xF000u, -3600.0},                        // month 0
        {(w & ~0xF000u) | 0xD000u, -3600.0},            // month 13
        {w & ~0xF80u, -3600.0},                         // day 0
        {(w & ~0xF000u & ~0xF80u) | 0x2000u | (30u << 7), -3600.0},  // 30 February
        {w, 86400.0},                                   // time past the day
        {w, -7201.0},                                   // time before it
        {w, std::nan("")},
        {w & ~Cell::date_time_flag, -3600.0},           // time without the flag
        {(w & ~Cell::date_time_flag), 0.0},             // zone without the flag
    };
    for (const Case& k : bad) EXPECT_FALSE(date::make_from_packed(c, k.word, k.time)) << std::hex << k.word;
    EXPECT_TRUE(date::make_from_packed(c, (w & ~Cell::date_time_flag) & ~0x7Fu, 0.0));
}

}  // namespace
}  // namespace kiv
