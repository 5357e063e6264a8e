// Drawing an image into four corners: the builder that crops an image!, maps
// it onto a quadrilateral given by points (runtime/geometry's transform) and
// gives the result as a new image! with its place. Meant for the drawing
// code; pixels outside the figure are transparent.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::image_quad {

// A part of the image, clipped to it.
struct Crop {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

struct Placed {
    Cell image{};        // the new image!, the size of the figure's box
    std::int32_t x = 0;  // where its top-left pixel goes
    std::int32_t y = 0;
};

// Maps image (its crop part, or the whole of it) onto the corners given by
// count pair! or point2D! points: one is the top-left corner of the image's
// own size, two the top-left and bottom-right corners, four the corners
// clockwise from the one of the image's top-left. mirror_x and mirror_y show
// the figure as a mirror about its box's vertical (horizontal) centre line
// would. False for an image or crop without pixels, another count, another
// point type, and corners that give no figure.
bool build(const Cell& image, const Crop* crop, const Cell* points, std::int32_t count, bool mirror_x,
           bool mirror_y, Placed& out);

}  // namespace kiv::image_quad
