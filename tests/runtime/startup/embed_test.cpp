// The embedding interface as a host sees it: handles that keep their values
// through collections, text that arrives as any bytes, evaluation under a
// barrier, the system object's fields.
#include "runtime/startup/embed.h"

#include "runtime/core/collector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv::embed {
namespace {

class Embed : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static const bool booted = (boot(), true);
        (void)booted;
    }
};

TEST_F(Embed, HandlesKeepTheirValuesThroughCollections) {
    std::vector<Value> kept;
    for (int i = 0; i < 100; ++i) kept.push_back(eval_text("append copy \"n\" " + std::to_string(i)).value);
    Value copy = kept[7];
    kept.erase(kept.begin(), kept.begin() + 50);  // their slots are freed and taken again below
    for (int i = 0; i < 50; ++i) kept.push_back(text("again"));
    collector::collect();
    EXPECT_EQ(form(kept[0]), "n50");
    EXPECT_EQ(form(copy), "n7");
    EXPECT_EQ(form(kept.back()), "again");
    EXPECT_EQ(form(Value()), "none");
}

TEST_F(Embed, TextTakesAnyBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},              // a byte that starts no character
        {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},        // a cut sequence: one for each byte
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
        {std::string("n\0l", 3), std::string("n\0l", 3)},
    };
    for (const auto& [bytes, shown] : cases) EXPECT_EQ(form(text(bytes)), shown);
}

TEST_F(Embed, EvaluationEndsInAValueOrItsError) {
    const Result sum = eval_text("1 + 2");
    EXPECT_TRUE(sum.ok);
    EXPECT_EQ(mold(sum.value), "3");
    const Result failed = eval_text("1 / 0");
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(error_report(failed.value).rfind("*** Math Error: attempt to divide by zero", 0), 0u);
    EXPECT_EQ(error_report(sum.value), "");
    const Result unloaded = load("[");
    EXPECT_FALSE(unloaded.ok);
    EXPECT_NE(error_report(unloaded.value).find("missing ]"), std::string::npos);
    EXPECT_EQ(mold(load("a #{01}").value, true), "[a #{01}]");
    EXPECT_FALSE(eval_text("throw 1").ok);  // a throw that nothing catches
    EXPECT_TRUE(truthy(eval_text("0").value));
    for (const char* falsy : {"none", "false", "()"}) EXPECT_FALSE(truthy(eval_text(falsy).value)) << falsy;
}

TEST_F(Embed, FieldsOfTheSystemObject) {
    EXPECT_TRUE(set_field("options/quiet", logic(true)));
    EXPECT_EQ(mold(field("options/quiet")), "true");
    EXPECT_FALSE(set_field("options/no-such-field", logic(true)));
    EXPECT_EQ(mold(field("no/such/path")), "none");
    EXPECT_TRUE(set_field("options/quiet", logic(false)));
    EXPECT_EQ(mold(pair(3, -4)), "3x-4");
}

}  // namespace
}  // namespace kiv::embed
