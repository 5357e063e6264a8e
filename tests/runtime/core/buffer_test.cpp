// Growable buffers: indexes, growth that keeps contents, searches and removal.
#include "runtime/core/buffer.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

class Buffer : public ::testing::Test {
protected:
    void SetUp() override { memory::init(); }
    void TearDown() override { memory::free_all(); }
};

TEST_F(Buffer, WordsInsertFindRemove) {
    const NodeId b = buffer::new_(0, 4);
    for (std::uint32_t v : {10u, 20u, 30u}) buffer::append_word(b, v);
    buffer::insert_word(b, 15, 2);
    buffer::insert_word(b, 5, 1);
    buffer::insert_word(b, 40, 6);  // length + 1 appends
    const std::uint32_t expected[] = {5, 10, 15, 20, 30, 40};
    ASSERT_EQ(buffer::length(b), 6);
    for (std::int32_t i = 1; i <= 6; ++i) EXPECT_EQ(buffer::word_at(b, i), expected[i - 1]);

    EXPECT_EQ(buffer::find_pointer(b, 20), 12);
    EXPECT_EQ(buffer::find_pointer(b, 99), -1);
    buffer::remove_word(b, 99);  // absent: nothing changes
    EXPECT_EQ(buffer::length(b), 6);
    buffer::remove_word(b, 5);
    EXPECT_EQ(buffer::word_at(b, 1), 10u);
    buffer::set_word_at(b, 5, 41);
    EXPECT_EQ(*buffer::append_int(b, 50), 50u);
    EXPECT_EQ(buffer::word_at(b, 5), 41u);
    EXPECT_EQ(buffer::length(b), 6);
}

TEST_F(Buffer, BytesGrowCutAndClone) {
    const NodeId b = buffer::new_(16, 1);
    for (std::uint8_t i = 0; i < 16; ++i) buffer::append_byte(b, i);
    EXPECT_EQ(memory::buffer(b)->size, 16);
    buffer::append_byte(b, 16);  // full: the buffer grows, nothing is lost
    EXPECT_GE(memory::buffer(b)->size, 32);
    for (std::int32_t i = 1; i <= 17; ++i) ASSERT_EQ(buffer::byte_at(b, i), i - 1);

    const char text[] = "abcdefghij";
    const std::uint8_t* at = buffer::append_bytes(b, text, 10);
    EXPECT_EQ(at, buffer::head(b) + 17);
    buffer::remove_bytes(b, 17, 3);  // "abc" goes
    EXPECT_EQ(buffer::byte_at(b, 18), 'd');
    EXPECT_EQ(buffer::length(b), 24);

    const NodeId c = buffer::clone(b);
    EXPECT_NE(c, b);
    EXPECT_EQ(buffer::length(c), 24);
    EXPECT_EQ(buffer::byte_at(c, 24), 'j');

    buffer::cut(b, 25);  // length + 1: unchanged
    EXPECT_EQ(buffer::length(b), 24);
    buffer::cut(b, 5);
    EXPECT_EQ(buffer::length(b), 4);
    buffer::cut(b, 1);
    EXPECT_EQ(buffer::length(b), 0);
    buffer::append_byte(c, 1);
    buffer::clear(c);
    EXPECT_EQ(buffer::length(c), 0);
}

}  // namespace
}  // namespace kiv
