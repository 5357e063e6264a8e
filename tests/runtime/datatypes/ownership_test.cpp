// Ownership walks (self-containing blocks, first owner kept, removal) and the
// slot pool's free chain and doubling.
#include "runtime/datatypes/ownership.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/slot_pool.h"
#include "runtime/datatypes/string.h"
#include "runtime/core/memory.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

class Ownership : public testing::Test {
protected:
    void SetUp() override {
        memory::init();
        hashtable::init();
        ownership::init();
    }
    void TearDown() override { memory::free_all(); }

    static Cell tag(int n) {  // stands for an owner object or a field word
        Cell c{};
        c.reset(TypeId::integer);
        c.set_int(n);
        return c;
    }
    static bool owned(const Cell& v) {
        return (memory::buffer(v.series_node())->flags & memory::flag_owned) != 0;
    }
};

TEST_F(Ownership, SelfContainingBlockIsWalkedOnce) {
    Cell b{}, s{};
    block::make_at(b, 2);
    string::make_at(s, 4);
    block::append_copy(b, s);
    block::append_copy(b, b);
    ownership::set_owner_deep(b, tag(1), tag(2));
    EXPECT_TRUE(owned(b));
    EXPECT_TRUE(owned(s));
    EXPECT_EQ(ownership::owner_count(), 2);
    const Cell* owner = ownership::find_owner(s.series_node());
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(owner[0].int_value(), 1);
    EXPECT_EQ(owner[1].int_value(), 2);

    ownership::unset_owner_deep(b);
    EXPECT_FALSE(owned(b));
    EXPECT_FALSE(owned(s));
    EXPECT_EQ(ownership::owner_count(), 0);
    EXPECT_EQ(ownership::find_owner(s.series_node()), nullptr);
}

TEST_F(Ownership, ASeriesKeepsItsFirstOwner) {
    Cell s{};
    string::make_at(s, 4);
    ownership::set_owner_deep(s, tag(1), tag(10));
    ownership::set_owner_deep(s, tag(2), tag(20));
    EXPECT_EQ(ownership::find_owner(s.series_node())[0].int_value(), 1);
    EXPECT_TRUE(ownership::find_owned(s.series_node())->is(TypeId::string));
}

TEST_F(Ownership, AnOwnerThatIsNoObjectHearsNothing) {
    Cell s{};
    string::make_at(s, 4);
    ownership::set_owner_deep(s, tag(1), tag(2));
    EXPECT_FALSE(ownership::check_owner(s, tag(3), nullptr, 0, 1));  // delivery: object_test
}

TEST_F(Ownership, AnOwnerObjectsContextIsMarkedOwning) {
    const NodeId ctx = context::make(1, false, true, context::Kind::object);
    Cell obj{}, s{};
    obj.reset(TypeId::object);
    obj.set_object(ctx, 0, 0);
    string::make_at(s, 4);
    const Cell before = obj;
    ownership::set_owner_object(s, obj, tag(2));
    EXPECT_TRUE(owned(s));
    EXPECT_EQ(ownership::find_owner(s.series_node())[0].object_context(), ctx);
    EXPECT_TRUE(context::context_cell(ctx)->context_owning());
    EXPECT_EQ(obj.header, before.header);  // the object value itself is left as it was
}

TEST_F(Ownership, SlotPoolChainsAndDoubles) {
    slot_pool::init();
    for (int i = 1; i <= 100; ++i) EXPECT_EQ(slot_pool::alloc_slot(tag(i)), i);
    EXPECT_EQ(slot_pool::capacity(), 100);
    EXPECT_EQ(slot_pool::alloc_slot(tag(101)), 101);
    EXPECT_EQ(slot_pool::capacity(), 200);
    EXPECT_EQ(slot_pool::slot_at(50)->int_value(), 50);
    slot_pool::free_slot(0);  // ignored
    slot_pool::free_slot(7);
    slot_pool::free_slot(3);
    EXPECT_EQ(slot_pool::alloc_slot(tag(-3)), 3);
    EXPECT_EQ(slot_pool::alloc_slot(tag(-7)), 7);
    EXPECT_EQ(slot_pool::alloc_slot(tag(0)), 102);
    EXPECT_EQ(slot_pool::slot_at(7)->int_value(), -7);
}

}  // namespace
}  // namespace kiv
