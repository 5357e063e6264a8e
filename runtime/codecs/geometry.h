// Plane geometry for pictures: vector helpers, the point-in-quad test, and
// the transform that maps a pixel buffer onto a convex quadrilateral with
// bilinear sampling. Pixel buffers are rows of 32-bit pixels, stride width x 4
// bytes; the image code supplies them and owns what comes back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace kiv::geometry {

// Every result side stays within this, so sizes from user corners never
// overflow and a buffer's bytes fit 32 bits.
inline constexpr std::int32_t max_side = 0xFFFF;

struct Vector {
    double x = 0;
    double y = 0;
};

// Four corners in order around the figure: x0, y0, x1, y1, x2, y2, x3, y3.
// Running clockwise on the screen (y downwards) keeps the inside on the left
// of each edge, which is what inside_quad_q expects.
using Quad = std::array<float, 8>;

double length(const Vector& v);
// v divided by its length; a zero vector stays zero.
void normalize(Vector& v);
// v := (x2 - x1, y2 - y1).
void vector(Vector& v, double x1, double y1, double x2, double y2);
double cross(const Vector& a, const Vector& b);
// True when (px, py) lies strictly to the right of the line (x1, y1) -> (x2, y2).
bool right_of_q(double px, double py, double x1, double y1, double x2, double y2);

// Mirrors every corner's x (or y) about the line x = axis (or y = axis).
void mirror_x(Quad& quad, float axis);
void mirror_y(Quad& quad, float axis);

// True when the point lies right of none of the four edges: points on an
// edge are inside.
bool inside_quad_q(const Quad& quad, double px, double py);

struct Size {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Copies the w x h block at column x, row y of the source into target, packed
// (stride w x 4), w and h clipped to the source. Nothing is copied (and the
// answer is 0 x 0) when x or y is negative or outside the source. Returns the
// size copied; target is resized to hold it.
Size copy_rect(const std::uint32_t* source, std::int32_t source_width, std::int32_t source_height, std::int32_t x,
               std::int32_t y, std::int32_t w, std::int32_t h, std::vector<std::uint32_t>& target);

// The source mapped onto the quad: a buffer of the quad's bounding box, whose
// top-left corner is (x, y) in the quad's coordinates.
struct Mapped {
    std::vector<std::uint32_t> pixels;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Maps the width x height source onto the quad; pixels outside it stay 0.
// None for an empty source, and for corners that are not finite or whose box
// leaves max_side.
std::optional<Mapped> quad_transform(const std::uint32_t* source, std::int32_t width, std::int32_t height,
                                     const Quad& quad);

// The source scaled to new_width x new_height through the quad transform;
// none when the result is not exactly that size.
std::optional<std::vector<std::uint32_t>> scale_buffer(const std::uint32_t* source, std::int32_t width,
                                                       std::int32_t height, std::int32_t new_width,
                                                       std::int32_t new_height);

}  // namespace kiv::geometry
