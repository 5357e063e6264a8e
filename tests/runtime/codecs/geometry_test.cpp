#include "runtime/codecs/geometry.h"

#include "runtime/codecs/pixels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kiv::geometry {
namespace {

// A w x h buffer whose pixel at (x, y) is 0xFF000000 | y << 8 | x.
std::vector<std::uint32_t> ramp(std::int32_t w, std::int32_t h) {
    std::vector<std::uint32_t> p;
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) p.push_back(0xFF000000u | static_cast<std::uint32_t>(y << 8 | x));
    return p;
}

TEST(Geometry, VectorHelpers) {
    Vector v;
    vector(v, 1, 2, 4, 6);
    EXPECT_DOUBLE_EQ(length(v), 5.0);
    normalize(v);
    EXPECT_DOUBLE_EQ(v.x, 0.6);
    EXPECT_DOUBLE_EQ(v.y, 0.8);
    Vector zero;
    normalize(zero);  // stays zero rather than turning into NaN
    EXPECT_EQ(zero.x, 0.0);
    EXPECT_EQ(zero.y, 0.0);
    EXPECT_DOUBLE_EQ(cross({1, 0}, {0, 1}), 1.0);
    EXPECT_DOUBLE_EQ(cross({0, 1}, {1, 0}), -1.0);
}

TEST(Geometry, InsideQuadCountsEdgesAsInside) {
    const Quad square{0, 0, 10, 0, 10, 10, 0, 10};
    struct Case {
        double x, y;
        bool inside;
    } cases[] = {{5, 5, true},   {0, 0, true},    {10, 10, true},  {10, 5, true},  {5, 0, true},
                 {-0.01, 5, false}, {5, 10.01, false}, {11, 11, false}, {5, -1, false}};
    for (const Case& c : cases) EXPECT_EQ(inside_quad_q(square, c.x, c.y), c.inside) << c.x << "," << c.y;
    EXPECT_TRUE(right_of_q(5, -1, 0, 0, 10, 0));
    EXPECT_FALSE(right_of_q(5, 0, 0, 0, 10, 0));  // on the line
}

TEST(Geometry, MirrorAboutAxis) {
    Quad q{0, 0, 10, 0, 10, 4, 0, 4};
    mirror_x(q, 10);
    EXPECT_EQ(q, (Quad{20, 0, 10, 0, 10, 4, 20, 4}));
    mirror_y(q, 1);
    EXPECT_EQ(q, (Quad{20, 2, 10, 2, 10, -2, 20, -2}));
}

TEST(Geometry, CopyRectClipsAndRefuses) {
    const std::vector<std::uint32_t> src = ramp(4, 3);
    std::vector<std::uint32_t> out;
    Size s = copy_rect(src.data(), 4, 3, 1, 1, 2, 2, out);
    EXPECT_EQ(s.width, 2);
    EXPECT_EQ(s.height, 2);
    EXPECT_EQ(out, (std::vector<std::uint32_t>{0xFF000101, 0xFF000102, 0xFF000201, 0xFF000202}));
    s = copy_rect(src.data(), 4, 3, 3, 2, 100, 100, out);  // clipped to the source
    EXPECT_EQ(s.width, 1);
    EXPECT_EQ(s.height, 1);
    EXPECT_EQ(out, (std::vector<std::uint32_t>{0xFF000203}));
    for (const auto& [x, y] : {std::pair{-1, 0}, {0, -1}, {4, 0}, {0, 3}}) {
        s = copy_rect(src.data(), 4, 3, x, y, 2, 2, out);
        EXPECT_EQ(s.width, 0);
        EXPECT_TRUE(out.empty());
    }
}

TEST(Geometry, QuadOfTheSourceRectangleReproducesIt) {
    const std::vector<std::uint32_t> src = ramp(7, 5);
    const auto mapped = quad_transform(src.data(), 7, 5, Quad{0, 0, 7, 0, 7, 5, 0, 5});
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->x, 0);
    EXPECT_EQ(mapped->width, 7);
    EXPECT_EQ(mapped->height, 5);
    EXPECT_EQ(mapped->pixels, src);
}

TEST(Geometry, QuadTransformPlacesTheBox) {
    // A 2 x 2 source stretched onto a 4 x 4 square at (10, 20): the left
    // column blends from the first source column towards the second.
    const std::vector<std::uint32_t> src{0xFF000000, 0xFF0000FF, 0xFF000000, 0xFF0000FF};
    const auto mapped = quad_transform(src.data(), 2, 2, Quad{10, 20, 14, 20, 14, 24, 10, 24});
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->x, 10);
    EXPECT_EQ(mapped->y, 20);
    EXPECT_EQ(mapped->width, 4);
    EXPECT_EQ(mapped->height, 4);
    const std::uint32_t expected_row[] = {0xFF000000, 0xFF000080, 0xFF0000FF, 0xFF0000FF};
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) EXPECT_EQ(mapped->pixels[row * 4 + col], expected_row[col]) << row << col;
}

TEST(Geometry, PixelsOutsideATriangularQuadStayZero) {
    const std::vector<std::uint32_t> src(16, 0xFFFFFFFF);
    // Two corners meet: the quad is a triangle with its long side on the diagonal.
    const auto mapped = quad_transform(src.data(), 4, 4, Quad{0, 0, 8, 0, 8, 8, 8, 8});
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->pixels[7 * 8 + 0], 0u);  // below the diagonal
    EXPECT_NE(mapped->pixels[0 * 8 + 7], 0u);  // above it
}

TEST(Geometry, DegenerateQuadsAndSources) {
    const std::vector<std::uint32_t> src = ramp(3, 3);
    EXPECT_FALSE(quad_transform(src.data(), 0, 3, Quad{0, 0, 3, 0, 3, 3, 0, 3}));
    EXPECT_FALSE(quad_transform(src.data(), 3, -1, Quad{0, 0, 3, 0, 3, 3, 0, 3}));
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(quad_transform(src.data(), 3, 3, Quad{0, 0, inf, 0, 3, 3, 0, 3}));
    EXPECT_FALSE(quad_transform(src.data(), 3, 3, Quad{nan, 0, 3, 0, 3, 3, 0, 3}));
    EXPECT_FALSE(quad_transform(src.data(), 3, 3, Quad{0, 0, 1e7f, 0, 1e7f, 1e7f, 0, 1e7f}));  // box too large
    // Every corner on one point: an empty result, not a division by zero.
    auto point = quad_transform(src.data(), 3, 3, Quad{5, 5, 5, 5, 5, 5, 5, 5});
    ASSERT_TRUE(point);
    EXPECT_EQ(point->width, 0);
    EXPECT_TRUE(point->pixels.empty());
    // A flat quad (zero height): one row of pixels, each read without a NaN.
    auto line = quad_transform(src.data(), 3, 3, Quad{0, 0, 3, 0, 3, 0, 0, 0});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->height, 0);
}

TEST(Geometry, ScaleBuffer) {
    const std::vector<std::uint32_t> src = ramp(2, 2);
    auto same = scale_buffer(src.data(), 2, 2, 2, 2);
    ASSERT_TRUE(same);
    EXPECT_EQ(*same, src);
    auto bigger = scale_buffer(src.data(), 2, 2, 6, 3);
    ASSERT_TRUE(bigger);
    EXPECT_EQ(bigger->size(), 18u);
    EXPECT_EQ((*bigger)[0], src[0]);
    EXPECT_FALSE(scale_buffer(src.data(), 0, 2, 4, 4));   // no source columns
    EXPECT_FALSE(scale_buffer(src.data(), 2, 2, -4, 4));  // the box is 4 wide, not -4
}

TEST(Pixels, Yuy2KnownColours) {
    struct Case {
        std::uint8_t yuyv[4];
        std::uint32_t first, second;
    } cases[] = {
        {{235, 128, 16, 128}, 0xFFEBEBEB, 0xFF101010},  // white then black
        {{81, 90, 81, 240}, 0xFF0D0FEE, 0xFF0D0FEE},    // red: R 238, G 15, B 13
        {{0, 0, 255, 255}, 0xFF0000B2, 0xFF1CD0FF},     // offsets clamp at both ends
    };
    for (const Case& c : cases) {
        std::uint32_t out[2] = {};
        pixels::yuy2_convert(2, 1, c.yuyv, out);
        EXPECT_EQ(out[0], c.first);
        EXPECT_EQ(out[1], c.second);
    }
}

TEST(Pixels, Yuy2OddWidthWritesOnlyTheRow) {
    const std::uint8_t src[] = {235, 128, 16, 128, 16, 128, 235, 128,   // row 0: 3 pixels from 2 pairs
                                16, 128, 16, 128, 235, 128, 235, 128};  // row 1
    std::uint32_t out[7];
    std::fill(std::begin(out), std::end(out), 0u);
    pixels::yuy2_convert(3, 2, src, out);
    EXPECT_EQ(out[0], 0xFFEBEBEBu);
    EXPECT_EQ(out[2], 0xFF101010u);
    EXPECT_EQ(out[3], 0xFF101010u);  // row 1 starts at its own pair
    EXPECT_EQ(out[5], 0xFFEBEBEBu);
    EXPECT_EQ(out[6], 0u);  // nothing past width x rows
}

}  // namespace
}  // namespace kiv::geometry
