#include "runtime/datatypes/image_quad.h"

#include "runtime/datatypes/image.h"
#include "runtime/codecs/geometry.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace kiv::image_quad {

namespace {

bool point_of(const Cell& p, float& x, float& y) {
    if (p.is(TypeId::pair)) {
        x = static_cast<float>(p.pair_x());
        y = static_cast<float>(p.pair_y());
        return true;
    }
    if (p.is(TypeId::point2d)) {
        x = p.point_coord(0);
        y = p.point_coord(1);
        return true;
    }
    return false;
}

// The four corners of the figure for the given points.
bool corners(const Cell* points, std::int32_t count, float width, float height, geometry::Quad& quad) {
    float p[8];
    if (count != 1 && count != 2 && count != 4) return false;
    for (std::int32_t k = 0; k < count; ++k)
        if (!point_of(points[k], p[2 * k], p[2 * k + 1])) return false;
    if (count == 4) {
        std::copy(p, p + 8, quad.begin());
        return true;
    }
    const float right = count == 2 ? p[2] : p[0] + width;
    const float bottom = count == 2 ? p[3] : p[1] + height;
    quad = {p[0], p[1], right, p[1], right, bottom, p[0], bottom};
    return true;
}

// Reflecting the corners turns their order round; swapping the corners that
// trade places brings it back, and the pixels flip instead.
void mirror(geometry::Quad& quad, std::vector<std::uint32_t>& pixels, std::int32_t width, std::int32_t height,
            bool across_x) {
    float low = quad[across_x ? 0 : 1], high = low;
    for (int k = across_x ? 0 : 1; k < 8; k += 2) {
        low = std::min(low, quad[k]);
        high = std::max(high, quad[k]);
    }
    const float axis = (low + high) / 2;
    const auto swap_corners = [&](int a, int b) {
        std::swap(quad[2 * a], quad[2 * b]);
        std::swap(quad[2 * a + 1], quad[2 * b + 1]);
    };
    const auto w = static_cast<std::size_t>(width);
    if (across_x) {
        geometry::mirror_x(quad, axis);
        swap_corners(0, 1);
        swap_corners(2, 3);
        for (std::int32_t row = 0; row < height; ++row)
            std::reverse(pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(row) * w),
                         pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(row + 1) * w));
    } else {
        geometry::mirror_y(quad, axis);
        swap_corners(0, 3);
        swap_corners(1, 2);
        for (std::int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(top) * w),
                             pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(top + 1) * w),
                             pixels.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(bottom) * w));
    }
}

}  // namespace

bool build(const Cell& image, const Crop* crop, const Cell* points, std::int32_t count, bool mirror_x,
           bool mirror_y, Placed& out) {
    if (!image.is(TypeId::image) || image::pixels(image) == nullptr) return false;
    const std::int32_t width = image::width_of(image), height = image::height_of(image);
    const Crop part = crop != nullptr ? *crop : Crop{0, 0, width, height};
    std::vector<std::uint32_t> pixels;
    const geometry::Size size =
        geometry::copy_rect(image::pixels(image), width, height, part.x, part.y, part.width, part.height, pixels);
    if (size.width == 0 || size.height == 0) return false;
    geometry::Quad quad;
    if (!corners(points, count, static_cast<float>(size.width), static_cast<float>(size.height), quad)) return false;
    if (mirror_x) mirror(quad, pixels, size.width, size.height, true);
    if (mirror_y) mirror(quad, pixels, size.width, size.height, false);
    std::optional<geometry::Mapped> mapped = geometry::quad_transform(pixels.data(), size.width, size.height, quad);
    if (!mapped) return false;
    image::make_at(out.image, mapped->width, mapped->height, 0);
    if (!mapped->pixels.empty()) std::copy(mapped->pixels.begin(), mapped->pixels.end(), image::pixels(out.image));
    out.x = mapped->x;
    out.y = mapped->y;
    return true;
}

}  // namespace kiv::image_quad
