#include "runtime/datatypes/image_quad.h"

#include "runtime/datatypes/image.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv::image_quad {
namespace {

const auto* const runtime_env = test::boot_runtime();

// A w x h image whose pixel (x, y) is 0xFF000000 | y << 8 | x.
Cell ramp(std::int32_t w, std::int32_t h) {
    Cell img{};
    image::make_at(img, w, h, 0);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            image::pixels(img)[y * w + x] = 0xFF000000u | static_cast<std::uint32_t>(y << 8 | x);
    return img;
}

Cell pair(std::int32_t x, std::int32_t y) {
    Cell c{};
    c.reset(TypeId::pair);
    c.set_pair(x, y);
    return c;
}

Cell point(float x, float y) {
    Cell c{};
    c.reset(TypeId::point2d);
    c.set_point_coord(0, x);
    c.set_point_coord(1, y);
    return c;
}

std::vector<std::uint32_t> pixels_of(const Placed& p) {
    const std::uint32_t* from = image::pixels(p.image);
    const auto n = static_cast<std::size_t>(image::width_of(p.image) * image::height_of(p.image));
    return from == nullptr ? std::vector<std::uint32_t>{} : std::vector<std::uint32_t>(from, from + n);
}

TEST(ImageQuad, OnePointPlacesTheImageAtItsOwnSize) {
    const Cell img = ramp(3, 2);
    const Cell at = pair(5, -7);
    Placed out;
    ASSERT_TRUE(build(img, nullptr, &at, 1, false, false, out));
    EXPECT_EQ(out.x, 5);
    EXPECT_EQ(out.y, -7);
    EXPECT_EQ(image::width_of(out.image), 3);
    EXPECT_EQ(pixels_of(out), std::vector<std::uint32_t>(image::pixels(img), image::pixels(img) + 6));
}

TEST(ImageQuad, CropAndTwoPointsStretch) {
    const Cell img = ramp(4, 4);
    const Crop crop{2, 1, 1, 10};  // column 2, rows 1 to 3 (clipped)
    const Cell box[2] = {point(0, 0), point(2, 3)};
    Placed out;
    ASSERT_TRUE(build(img, &crop, box, 2, false, false, out));
    EXPECT_EQ(image::width_of(out.image), 2);
    EXPECT_EQ(image::height_of(out.image), 3);
    EXPECT_EQ(pixels_of(out), (std::vector<std::uint32_t>{0xFF000102, 0xFF000102, 0xFF000202, 0xFF000202,
                                                          0xFF000302, 0xFF000302}));
}

TEST(ImageQuad, MirrorsFlipThePicture) {
    const Cell img = ramp(3, 2);
    const Cell at = pair(0, 0);
    Placed out;
    ASSERT_TRUE(build(img, nullptr, &at, 1, true, false, out));
    EXPECT_EQ(pixels_of(out), (std::vector<std::uint32_t>{0xFF000002, 0xFF000001, 0xFF000000, 0xFF000102,
                                                          0xFF000101, 0xFF000100}));
    ASSERT_TRUE(build(img, nullptr, &at, 1, true, true, out));
    EXPECT_EQ(pixels_of(out), (std::vector<std::uint32_t>{0xFF000102, 0xFF000101, 0xFF000100, 0xFF000002,
                                                          0xFF000001, 0xFF000000}));
    // A mirrored trapezoid keeps its corners running the right way round: the
    // figure is drawn, not left empty.
    const Cell img2 = ramp(8, 8);
    const Cell trapezoid[4] = {pair(0, 0), pair(16, 4), pair(16, 12), pair(0, 16)};
    for (const bool mx : {false, true}) {
        ASSERT_TRUE(build(img2, nullptr, trapezoid, 4, mx, !mx, out));
        EXPECT_EQ(image::width_of(out.image), 16);
        EXPECT_NE(pixels_of(out)[8 * 16 + 8], 0u) << mx;  // the middle is inside
    }
}

TEST(ImageQuad, RefusesWhatGivesNoFigure) {
    const Cell img = ramp(2, 2);
    Cell empty{};
    image::make_at(empty, 0, 0, 0);
    const Cell points[4] = {pair(0, 0), pair(1, 0), pair(1, 1), pair(0, 1)};
    Cell integer{};
    integer.reset(TypeId::integer);
    const Crop outside{5, 0, 1, 1};
    const Cell huge[2] = {point(0, 0), point(1e6f, 1e6f)};
    Placed out;
    EXPECT_FALSE(build(empty, nullptr, points, 1, false, false, out));
    EXPECT_FALSE(build(img, &outside, points, 1, false, false, out));
    EXPECT_FALSE(build(img, nullptr, points, 3, false, false, out));
    EXPECT_FALSE(build(img, nullptr, points, 0, false, false, out));
    EXPECT_FALSE(build(img, nullptr, &integer, 1, false, false, out));
    EXPECT_FALSE(build(img, nullptr, huge, 2, false, false, out));
    EXPECT_FALSE(build(integer, nullptr, points, 1, false, false, out));
}

}  // namespace
}  // namespace kiv::image_quad
