// The external handle table: growth with stable indices, finalisers on free,
// pointer change and sweep, class 0, and per-class walks.
#include "runtime/core/externals.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv::externals {
namespace {

std::vector<void*> finalised;
void record_finalise(void* p) { finalised.push_back(p); }

class Externals : public testing::Test {
protected:
    void SetUp() override {
        init();
        finalised.clear();
        cls = static_cast<std::uint32_t>(register_class("test", record_finalise));
    }
    void TearDown() override { free_all(); }
    std::uint32_t cls = 0;
    int a = 0, b = 0;
};

TEST_F(Externals, TableDoublesAndKeepsEveryIndex) {
    std::vector<int> objects(1001);
    std::vector<std::int32_t> index;
    for (int& o : objects) index.push_back(alloc_handle(&o, cls));
    EXPECT_EQ(capacity(), 2000u);
    EXPECT_EQ(live_count(), 1001u);
    for (std::size_t i = 0; i < objects.size(); ++i) ASSERT_EQ(handle_pointer(index[i]), &objects[i]);
    EXPECT_EQ(class_name(static_cast<int>(cls)), std::string("test"));
}

TEST_F(Externals, FinalisersRunOnlyWhenAsked) {
    std::int32_t h1 = alloc_handle(&a, cls);
    std::int32_t h2 = alloc_handle(&b, cls);
    set_handle_pointer(h1, &a);                 // same pointer: nothing
    EXPECT_TRUE(finalised.empty());
    set_handle_pointer(h1, &b);                 // the old pointer is finalised
    EXPECT_EQ(finalised, std::vector<void*>{&a});
    EXPECT_EQ(free_handle(h1, false), -1);      // no finaliser
    EXPECT_EQ(finalised.size(), 1u);
    free_handle(h2, true);
    EXPECT_EQ(finalised, (std::vector<void*>{&a, &b}));
    free_handle(h2, true);                      // already free: left alone
    EXPECT_EQ(finalised.size(), 2u);
    EXPECT_EQ(live_count(), 0u);
    std::int32_t none = alloc_handle(&a, 0);    // class 0: never finalised
    free_handle(none, true);
    EXPECT_EQ(finalised.size(), 2u);
}

TEST_F(Externals, SweepFreesTheUnmarkedAndUnmarksTheRest) {
    std::int32_t kept = alloc_handle(&a, cls);
    std::int32_t lost = alloc_handle(&b, cls);
    EXPECT_TRUE(mark_handle(kept));
    EXPECT_FALSE(mark_handle(kept));            // already marked
    sweep();
    EXPECT_EQ(finalised, std::vector<void*>{&b});
    EXPECT_EQ(handle_pointer(lost), nullptr);
    EXPECT_EQ(handle_class_word(kept), cls);    // mark cleared
    sweep();                                    // now unmarked: finalised as well
    EXPECT_EQ(finalised, (std::vector<void*>{&b, &a}));
    EXPECT_EQ(alloc_handle(&a, cls), kept);     // freed records are reused
}

TEST_F(Externals, ForEachHandleWalksOneClass) {
    auto other = static_cast<std::uint32_t>(register_class("other", nullptr));
    alloc_handle(&a, cls);
    alloc_handle(&b, other);
    static std::vector<void*> seen;
    seen.clear();
    for_each_handle(static_cast<int>(other), [](void* p) { seen.push_back(p); });
    EXPECT_EQ(seen, std::vector<void*>{&b});
}

}  // namespace
}  // namespace kiv::externals
