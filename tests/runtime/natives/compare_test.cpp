// The comparison, logic, set-operation and sign natives, run through the
// interpreter on code from the lexer.
#include "tests/runtime/evaluator/natives_fixture.h"

namespace kiv::test {
namespace {

using NativesCompare = Natives;

TEST_F(NativesCompare, ComparisonsIdentityAndLogic) {
    const Case cases[] = {
        {"equal? 1 1.0", "true"},
        {"strict-equal? 1 1.0", "false"},
        {"not-equal? \"a\" \"A\"", "false"},
        {"strict-equal? \"a\" \"A\"", "false"},
        {"lesser? 1 2", "true"},
        {"greater-or-equal? 2.5 3", "false"},
        {"lesser-or-equal? 3 3", "true"},
        {"greater? 1:00 0:59", "true"},
        {"lesser? 1 \"a\"", "error:invalid-compare"},
        {"equal? 1 \"a\"", "false"},
        {"equal? [1 2] [1 2]", "true"},
        {"same? [1 2] [1 2]", "false"},
        {"b: [1 2] same? b b", "true"},
        {"b: [1 2] same? b next b", "false"},
        {"same? 1.5 1.5", "true"},
        {"same? none none", "true"},
        {"not none", "true"},
        {"not false", "true"},
        {"not 0", "false"},
        {"type? 1.5", "float!"},
        {"type?/word [a]", "block!"},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.code), c.expected) << c.code;
}

TEST_F(NativesCompare, SetOperations) {
    const Case cases[] = {
        {"unique [a b a c b]", "[a b c]"},
        {"union [1 2 3] [3 4 1]", "[1 2 3 4]"},
        {"intersect [1 2 3 4] [4 2 9]", "[2 4]"},
        {"exclude [1 2 3 4] [4 2 9]", "[1 3]"},
        {"difference [1 2 3] [3 4]", "[1 2 4]"},
        {"union [a A] [b]", "[a b]"},
        {"union/case [a A] [b]", "[a A b]"},
        {"union [[1] [2]] [[1] [3]]", "[[1] [2] [3]]"},
        {"unique/skip [a 1 b 2 a 3] 2", "[a 1 b 2]"},
        {"intersect/skip [a 1 b 2] [b 9] 2", "[b 2]"},
        {"unique next [a a b]", "[a b]"},
        {"unique []", "[]"},
        {"unique \"Hello\"", "\"Helo\""},
        {"union \"abc\" \"BCd\"", "\"abcd\""},
        {"intersect/case \"abc\" \"BCb\"", "\"b\""},
        {"difference \"abc\" \"bcd\"", "\"ad\""},
        {"exclude \"abcabc\" \"b\"", "\"ac\""},
        {"unique/skip \"aXbYaZ\" 2", "\"aXbY\""},
        {"union [1] \"a\"", "error:expect-val"},
        {"unique/skip [1 2] 0", "error:invalid-refine-arg"},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.code), c.expected) << c.code;
}

TEST_F(NativesCompare, SetOperationLeavesArgumentsAlone) {
    EXPECT_EQ(run("a: [1 1 2] b: [2 3] union a b a"), "[1 1 2]");
}

TEST_F(NativesCompare, MaxMinAndSigns) {
    const Case cases[] = {
        {"max 1 1.0", "1"},
        {"min 1 1.0", "1.0"},
        {"max 3 7", "7"},
        {"min \"b\" \"a\"", "\"a\""},
        {"max 1:00 2", "1:00:00"},
        {"NaN? max square-root -1 1", "true"},
        {"NaN? min 1 square-root -1", "true"},
        {"max 1 \"a\"", "error:invalid-compare"},
        {"negative? -1", "true"},
        {"negative? 0", "false"},
        {"positive? 0.5", "true"},
        {"positive? -0:01", "false"},
        {"positive? square-root -1", "false"},
        {"sign? -7", "-1"},
        {"sign? 0.0", "0"},
        {"sign? 2%", "1"},
        {"sign? square-root -1", "0"},
        {"zero? 0", "true"},
        {"zero? 0.0", "true"},
        {"zero? 0:00", "true"},
        {"zero? #\"^@\"", "true"},
        {"zero? 1", "false"},
        {"zero? \"\"", "false"},
        {"complement? 1", "error:expect-arg"},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.code), c.expected) << c.code;
}

}  // namespace
}  // namespace kiv::test
