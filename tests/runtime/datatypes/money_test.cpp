// money!: the cell constructor the binary loader uses, and the conversions
// to and from the machine's numbers at their edges.
#include "runtime/datatypes/money.h"

#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

std::string mold_all(const Cell& v) { return test::mold(v, {.all = true}); }

TEST(Money, CellConstructorKeepsTheDigitsAndDropsTheSignOfZero) {
    const std::uint8_t digits[11] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x91, 0x23};
    Cell v{};
    money::make_at(v, true, 0, digits);
    EXPECT_EQ(mold_all(v), "-$12345678901234567.89123");
    EXPECT_EQ(money::sign_of(v), -1);
    const std::uint8_t zero[11] = {};
    money::make_at(v, true, 0, zero);
    EXPECT_FALSE(v.money_negative());
    EXPECT_EQ(money::sign_of(v), 0);
}

TEST(Money, IntegersConvertExactlyBothWays) {
    Cell v{};
    for (const std::int32_t n : {0, 1, -1, 2147483647, -2147483647 - 1}) {
        money::from_integer(v, n);
        EXPECT_EQ(money::to_integer(v), n);
    }
    money::from_integer(v, -2147483647 - 1);
    EXPECT_EQ(mold_all(v), "-$2147483648.00000");
    EXPECT_TRUE(money::make_from_text(v, false, 0, "2147483648", "99999"));
    EXPECT_EQ(error_of([&] { money::to_integer(v); }), "type-limit");
    EXPECT_TRUE(money::make_from_text(v, true, 0, "2147483648", "99999"));
    EXPECT_EQ(money::to_integer(v), -2147483647 - 1);
}

TEST(Money, FloatsConvertThroughTheirShortestDigits) {
    Cell v{};
    money::from_float(v, 0.3, true);
    EXPECT_EQ(mold_all(v), "$0.30000");
    EXPECT_EQ(money::to_float(v), 0.3);
    money::from_float(v, -12345678901234.5, true);
    EXPECT_EQ(mold_all(v), "-$12345678901234.50000");
    money::from_float(v, 1.234567, false);  // without strict the sixth decimal is cut
    EXPECT_EQ(mold_all(v), "$1.23456");
    EXPECT_EQ(error_of([&] { money::from_float(v, 1.234567, true); }), "bad-make-arg");
    for (const double bad : {1e17, -1e17, 9e-6, HUGE_VAL, std::nan("")})
        EXPECT_EQ(error_of([&] { money::from_float(v, bad, false); }), "bad-make-arg") << bad;
    EXPECT_TRUE(money::make_from_text(v, false, 0, "99999999999999999", "99999"));
    EXPECT_EQ(money::to_float(v), 1e17);
}

TEST(Money, TextBeyondSeventeenWholeDigitsIsRefused) {
    Cell v{};
    EXPECT_TRUE(money::make_from_text(v, false, 0, "000012'345'678'901'234'567", "123456789"));
    EXPECT_EQ(mold_all(v), "$12345678901234567.12345");
    EXPECT_FALSE(money::make_from_text(v, false, 0, "123456789012345678", ""));
    EXPECT_FALSE(money::make_from_text(v, false, 0, "12a", ""));
}

}  // namespace
}  // namespace kiv
