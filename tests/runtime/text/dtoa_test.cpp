// Float text: layout rules, special values, correct rounding both ways.
#include "runtime/text/dtoa.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace kiv {
namespace {

std::uint64_t bits_of(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

double read(const std::string& text, int adjust = 0) {
    int rest = -1;
    double d = dtoa::strtod(text.data(), text.data() + text.size(), adjust, rest);
    EXPECT_EQ(rest, 0) << text;
    return d;
}

TEST(Dtoa, MoldLayout) {
    struct Case { double value; const char* text; } cases[] = {
        {1.0, "1.0"}, {0.1, "0.1"}, {1e16, "10000000000000000.0"}, {1e17, "1.0e17"},
        {1e-7, "0.0000001"}, {1e-8, "1.0e-8"}, {1.5e-10, "1.5e-10"}, {123.456, "123.456"},
        {-2.5, "-2.5"}, {0.1 + 0.2, "0.30000000000000004"}, {0.0, "0.0"}, {-0.0, "-0.0"},
        {12345678901234567e1, "1.2345678901234566e17"}, {-1e300, "-1.0e300"},
        {5e-324, "5.0e-324"}, {1.7976931348623157e308, "1.7976931348623157e308"},
        {100.0, "100.0"}, {0.5, "0.5"}, {-0.001, "-0.001"},
    };
    for (const auto& c : cases) EXPECT_STREQ(dtoa::form_float(c.value, 0, true), c.text);
}

TEST(Dtoa, WithoutPointZero) {
    struct Case { double value; int precision; const char* text; } cases[] = {
        {2.0, 6, "2"}, {0.1234567, 6, "0.123457"}, {59.9999999, 6, "60"},
        {0.0, 6, "0"}, {-0.0, 6, "-0"}, {1e20, 6, "1e20"}, {1.5e20, 0, "1.5e20"},
        {999999.5, 6, "1000000"}, {0.000123456789, 3, "0.000123"},
    };
    for (const auto& c : cases) EXPECT_STREQ(dtoa::form_float(c.value, c.precision, false), c.text);
}

TEST(Dtoa, DigitsAndPoint) {
    int point, sign, count;
    EXPECT_STREQ(dtoa::to_digits(-123.5, 0, point, sign, count, true), "1235");
    EXPECT_EQ(point, 3);
    EXPECT_EQ(sign, 1);
    EXPECT_EQ(count, 4);
    EXPECT_STREQ(dtoa::to_digits(9.99, 2, point, sign, count, true), "1");  // carry through nines
    EXPECT_EQ(point, 2);
    EXPECT_STREQ(dtoa::to_digits(0.0, 0, point, sign, count, true), "0.0");
    EXPECT_EQ(point, dtoa::point_zero);
    dtoa::to_digits(std::nan(""), 0, point, sign, count, true);
    EXPECT_EQ(point, dtoa::point_special);
    // A precision beyond the buffer is clamped, not overrun.
    const char* many = dtoa::to_digits(1.0 / 3.0, 500, point, sign, count, true);
    EXPECT_EQ(count, dtoa::max_precision);
    EXPECT_EQ(std::strlen(many), static_cast<std::size_t>(dtoa::max_precision));
}

TEST(Dtoa, SpecialTextsReadBack) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_STREQ(dtoa::form_float(inf, 0, true), "1.#INF");
    EXPECT_STREQ(dtoa::form_float(-inf, 0, true), "-1.#INF");
    EXPECT_STREQ(dtoa::form_float(-std::nan(""), 0, true), "1.#NaN");
    EXPECT_EQ(read("1.#INF"), inf);
    EXPECT_EQ(read("-1.#INF"), -inf);
    EXPECT_EQ(read("+1.#inf"), inf);
    EXPECT_EQ(bits_of(read("1.#NaN")), 0x7FF8000000000000ULL);
    EXPECT_EQ(bits_of(read("-1.#nan")), 0x7FF8000000000000ULL);
}

TEST(Dtoa, ReadEdgeCases) {
    EXPECT_EQ(read("2.2250738585072011e-308"), 2.2250738585072011e-308);
    EXPECT_EQ(bits_of(read("2.2250738585072011e-308")), 0x000FFFFFFFFFFFFFULL);
    EXPECT_EQ(read("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(read("-1e400"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(read("1e-400"), 0.0);
    EXPECT_EQ(bits_of(read("-1e-400")), bits_of(-0.0));
    EXPECT_EQ(bits_of(read("-0.0")), bits_of(-0.0));
    EXPECT_EQ(read("0"), 0.0);
    EXPECT_EQ(read("000123.4500"), 123.45);
    EXPECT_EQ(read(".5"), 0.5);
    EXPECT_EQ(read("0.000001e6"), 1.0);
    EXPECT_EQ(read("4.9406564584124654e-324"), 5e-324);
    EXPECT_EQ(read("2.4703282292062328e-324"), 5e-324);  // just above half the smallest: up
    EXPECT_EQ(read("2.4703282292062327e-324"), 0.0);     // just below: down
    EXPECT_EQ(read("1E+2"), 100.0);
    EXPECT_EQ(read("1e99999999999999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(read("12.5", -2), 0.125);  // percent texts scale the exponent
    // 60 significant digits, and a halfway case decided by a digit far out.
    EXPECT_EQ(read("123456789012345678901234567890123456789012345678901234567890"),
              std::strtod("123456789012345678901234567890123456789012345678901234567890", nullptr));
    std::string halfway = "9007199254740993";  // 2^53 + 1: a tie, rounds to even
    EXPECT_EQ(read(halfway), 9007199254740992.0);
    EXPECT_EQ(read(halfway + "." + std::string(1000, '0') + "1"), 9007199254740994.0);
    EXPECT_EQ(read(halfway + std::string(1000, '0') + "1e-1001"), 9007199254740994.0);
}

TEST(Dtoa, RestCountsWhatFollowsTheNumber) {
    int rest = -1;
    const std::string text = "12.5abc";
    EXPECT_EQ(dtoa::strtod(text.data(), text.data() + text.size(), 0, rest), 12.5);
    EXPECT_EQ(rest, 3);
    const std::string bare = "7e";
    EXPECT_EQ(dtoa::strtod(bare.data(), bare.data() + bare.size(), 0, rest), 7.0);
    EXPECT_EQ(rest, 1);
}

// Every float64 molds to a text that reads back to the same bits.
TEST(Dtoa, RandomRoundTrips) {
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 300000; ++i) {
        std::uint64_t b = rng();
        if (i % 3 == 0) b &= 0x800FFFFFFFFFFFFFULL | (std::uint64_t{rng() % 64} << 52);  // subnormals, tiny
        double d;
        std::memcpy(&d, &b, sizeof d);
        if (std::isnan(d)) continue;
        std::string text = dtoa::form_float(d, 0, true);
        ASSERT_EQ(bits_of(read(text)), b) << text;
        ASSERT_EQ(std::strtod(text.c_str(), nullptr), d) << text;
    }
}

// Random decimal texts of up to 25 digits read as the C library reads them.
TEST(Dtoa, RandomDecimalTexts) {
    std::mt19937_64 rng(777);
    for (int i = 0; i < 100000; ++i) {
        std::string text;
        int digits = 1 + static_cast<int>(rng() % 25);
        for (int k = 0; k < digits; ++k) text += static_cast<char>('0' + rng() % 10);
        text.insert(rng() % text.size(), ".");
        text += "e" + std::to_string(static_cast<int>(rng() % 640) - 330);
        ASSERT_EQ(bits_of(read(text)), bits_of(std::strtod(text.c_str(), nullptr))) << text;
    }
}

}  // namespace
}  // namespace kiv
