// The system, memory and word-state natives: now's refinements, wait,
// the environment, stats and recycle, value?, unset, context?.
#include "tests/runtime/evaluator/natives_fixture.h"

#include "runtime/core/collector.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace kiv::test {
namespace {

using NativesSystem = Natives;

TEST_F(NativesSystem, NowFields) {
    const std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&t, &utc);
    const Cell year = eval("now/year/utc");
    ASSERT_TRUE(year.is(TypeId::integer));
    EXPECT_NEAR(year.int_value(), utc.tm_year + 1900, 1);
    const Cell weekday = eval("now/weekday/utc");
    EXPECT_EQ(weekday.int_value(), utc.tm_wday == 0 ? 7 : utc.tm_wday);  // the day may turn
    EXPECT_EQ(eval("now/yearday/utc").int_value(), utc.tm_yday + 1);
    const Cell time = eval("now/time/utc");
    ASSERT_TRUE(time.is(TypeId::time));
    EXPECT_GE(time.f64(), 0.0);
    EXPECT_LT(time.f64(), 86400.0);
    EXPECT_EQ(time.f64(), std::floor(time.f64()));
    EXPECT_TRUE(eval("now/time/precise").is(TypeId::time));
    EXPECT_EQ(eval("now/zone/utc").f64(), 0.0);
    EXPECT_EQ(run("now/year/month"), "error:bad-refines");
    EXPECT_TRUE(eval("now").is(TypeId::date));
    EXPECT_TRUE(eval("now/date").is(TypeId::date));
}

TEST_F(NativesSystem, WaitAndEnvironment) {
    EXPECT_EQ(run("wait 0"), "none");
    EXPECT_EQ(run("wait 0:00"), "none");
    EXPECT_EQ(run("wait \"x\""), "error:invalid-arg");  // refused by wait itself
    EXPECT_EQ(run("set-env \"KIV_NATIVES_TEST\" \"a b\""), "\"a b\"");
    EXPECT_STREQ(std::getenv("KIV_NATIVES_TEST"), "a b");
    EXPECT_EQ(run("get-env 'KIV_NATIVES_TEST"), "\"a b\"");
    EXPECT_EQ(run("set-env \"KIV_NATIVES_TEST\" none"), "none");
    EXPECT_EQ(std::getenv("KIV_NATIVES_TEST"), nullptr);
    EXPECT_EQ(run("get-env \"KIV_NATIVES_TEST\""), "none");
    setenv("KIV_NATIVES_EMPTY", "", 1);
    EXPECT_EQ(run("get-env \"KIV_NATIVES_EMPTY\""), "none");
    setenv("KIV_NATIVES_LISTED", "x=y", 1);
    const Cell env = eval("list-env");
    ASSERT_TRUE(env.is(TypeId::block));
    bool found = false;
    for (std::int32_t i = 0; i + 1 < block::count_from_head(env); i += 2)
        if (utf8_of(*block::get_cell(env, i)) == "KIV_NATIVES_LISTED")
            found = utf8_of(*block::get_cell(env, i + 1)) == "x=y";
    EXPECT_TRUE(found);
}

TEST_F(NativesSystem, StatsAndRecycle) {
    const Cell in_use = eval("stats");
    ASSERT_TRUE(in_use.is(TypeId::integer));
    EXPECT_GT(in_use.int_value(), 0);
    EXPECT_EQ(run("length? stats/info"), "5");
    const bool was = collector::enabled();
    const std::uint64_t before = collector::collection_count();
    EXPECT_TRUE(eval("recycle").is(TypeId::integer));
    EXPECT_EQ(collector::collection_count(), before + 1);
    EXPECT_EQ(run("recycle/off"), "unset");
    EXPECT_FALSE(collector::enabled());
    EXPECT_EQ(run("recycle/on"), "unset");
    EXPECT_TRUE(collector::enabled());
    collector::set_enabled(was);
}

TEST_F(NativesSystem, WordState) {
    const Case cases[] = {
        {"natives-test-a: none value? 'natives-test-a", "true"},
        {"value? 'natives-test-never-set", "false"},
        {"value? 1", "true"},
        {"natives-test-b: 1 unset 'natives-test-b value? 'natives-test-b", "false"},
        {"natives-test-c: 1 natives-test-d: 2 unset [natives-test-c 5 natives-test-d] "
         "value? 'natives-test-d", "false"},
        {"unset 1", "error:expect-arg"},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.code), c.expected) << c.code;
}

}  // namespace
}  // namespace kiv::test
