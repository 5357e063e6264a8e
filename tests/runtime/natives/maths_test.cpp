// The maths natives: degree folding, exact zeros and infinities, logarithms,
// NaN, shifts and to-hex, run through the interpreter on code from the lexer.
#include "tests/runtime/evaluator/natives_fixture.h"

#include <cmath>
#include <numbers>

namespace kiv::test {
namespace {

using NativesMaths = Natives;

TEST_F(NativesMaths, Values) {
    struct Number {
        const char* code;
        double expected;
    };
    const double inf = HUGE_VAL;
    const Number cases[] = {
        {"sine 180", 0.0}, {"sine 390", 0.5}, {"sine -30", -0.5}, {"sine 270", -1.0},
        {"cosine 90", 0.0}, {"cosine 180", -1.0}, {"cosine 60", 0.5},
        {"tangent 90", inf}, {"tangent -90", -inf}, {"tangent 45", 1.0}, {"tangent 225", 1.0},
        {"arcsine 1", 90.0}, {"arcsine/radians 1", std::numbers::pi / 2},
        {"arccosine 0", 90.0}, {"arctangent 1", 45.0}, {"arctangent2 1 -1", 135.0},
        {"arctangent2/radians 0 -1", std::numbers::pi},
        {"sine/radians 0.0", 0.0}, {"sine 50%", std::sin(0.5 * std::numbers::pi / 180)},
        {"log-2 8", 3.0}, {"log-10 1000", 3.0}, {"log-e 1", 0.0}, {"exp 0", 1.0},
        {"square-root 16", 4.0}, {"log-e 0", -inf},
    };
    for (const Number& c : cases) {
        const Cell r = eval(c.code);
        ASSERT_TRUE(r.is(TypeId::float_)) << c.code;
        if (std::isinf(c.expected)) EXPECT_EQ(r.f64(), c.expected) << c.code;
        else EXPECT_NEAR(r.f64(), c.expected, 1e-12) << c.code;
    }
    // Exact zeros, not tiny residues of pi.
    EXPECT_EQ(eval("sine 180").f64(), 0.0);
    EXPECT_EQ(eval("cosine 90").f64(), 0.0);
}

TEST_F(NativesMaths, ShiftHexAndNaN) {
    const Case cases[] = {
        {"shift -8 1", "-4"},
        {"shift/logical -8 1", "2147483644"},
        {"shift 8 40", "0"},
        {"shift -8 40", "-1"},
        {"shift/logical -8 40", "0"},
        {"shift/left 1 31", "-2147483648"},
        {"shift/left 1 32", "0"},
        {"shift/left/logical 1 4", "16"},
        {"shift 8 -3", "8"},
        {"to-hex 255", "#000000FF"},
        {"to-hex/size 255 2", "#FF"},
        {"to-hex/size 255 12", "#000000FF"},
        {"to-hex -1", "#FFFFFFFF"},
        {"to-hex/size 1 0", "error:invalid-arg"},
        {"NaN? square-root -1", "true"},
        {"NaN? 1.0", "false"},
        {"NaN? 3", "false"},
        {"sine \"a\"", "error:expect-arg"},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.code), c.expected) << c.code;
}

}  // namespace
}  // namespace kiv::test
