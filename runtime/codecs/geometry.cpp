#include "runtime/codecs/geometry.h"

#include <algorithm>
#include <cmath>

namespace kiv::geometry {

namespace {

// Corners beyond this are refused before any arithmetic on them: the origin
// and every pixel position then fit 32 bits.
constexpr double max_coordinate = 1.0e9;

// One byte channel (shift 0, 8, 16 or 24) of the bilinear blend, rounded.
std::uint32_t blend_channel(const std::uint32_t (&p)[4], const double (&w)[4], int shift) {
    double sum = 0;
    for (int k = 0; k < 4; ++k) sum += w[k] * static_cast<double>((p[k] >> shift) & 0xFF);
    const double rounded = std::min(std::floor(sum + 0.5), 255.0);
    return static_cast<std::uint32_t>(std::max(rounded, 0.0)) << shift;
}

}  // namespace

double length(const Vector& v) { return std::sqrt(v.x * v.x + v.y * v.y); }

void normalize(Vector& v) {
    const double n = length(v);
    if (n == 0) return;  // a degenerate edge keeps no direction
    v.x /= n;
    v.y /= n;
}

void vector(Vector& v, double x1, double y1, double x2, double y2) {
    v.x = x2 - x1;
    v.y = y2 - y1;
}

double cross(const Vector& a, const Vector& b) { return a.x * b.y - a.y * b.x; }

bool right_of_q(double px, double py, double x1, double y1, double x2, double y2) {
    Vector to_point;
    Vector edge;
    vector(to_point, x1, y1, px, py);
    vector(edge, x1, y1, x2, y2);
    return cross(to_point, edge) > 0;
}

void mirror_x(Quad& quad, float axis) {
    for (int k = 0; k < 8; k += 2) quad[k] = axis * 2.0f - quad[k];
}

void mirror_y(Quad& quad, float axis) {
    for (int k = 1; k < 8; k += 2) quad[k] = axis * 2.0f - quad[k];
}

bool inside_quad_q(const Quad& quad, double px, double py) {
    for (int k = 0; k < 4; ++k) {
        const int next = (k + 1) % 4;
        if (right_of_q(px, py, quad[2 * k], quad[2 * k + 1], quad[2 * next], quad[2 * next + 1])) return false;
    }
    return true;
}

Size copy_rect(const std::uint32_t* source, std::int32_t source_width, std::int32_t source_height, std::int32_t x,
               std::int32_t y, std::int32_t w, std::int32_t h, std::vector<std::uint32_t>& target) {
    target.clear();
    if (source == nullptr || x < 0 || y < 0 || x >= source_width || y >= source_height || w <= 0 || h <= 0)
        return {};
    const std::int32_t cw = std::min(w, source_width - x);
    const std::int32_t ch = std::min(h, source_height - y);
    target.resize(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch));
    for (std::int32_t row = 0; row < ch; ++row) {
        const std::uint32_t* from = source + static_cast<std::size_t>(y + row) * static_cast<std::size_t>(source_width) +
                                    static_cast<std::size_t>(x);
        std::copy(from, from + cw, target.begin() + static_cast<std::ptrdiff_t>(row) * cw);
    }
    return {cw, ch};
}

std::optional<Mapped> quad_transform(const std::uint32_t* source, std::int32_t width, std::int32_t height,
                                     const Quad& quad) {
    if (source == nullptr || width < 1 || height < 1) return std::nullopt;
    double min_x = quad[0], max_x = quad[0], min_y = quad[1], max_y = quad[1];
    for (int k = 0; k < 8; k += 2) {
        const double x = quad[k], y = quad[k + 1];
        if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > max_coordinate || std::fabs(y) > max_coordinate)
            return std::nullopt;
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
    }
    if (max_x - min_x > max_side || max_y - min_y > max_side) return std::nullopt;

    Mapped out;
    out.x = static_cast<std::int32_t>(min_x);
    out.y = static_cast<std::int32_t>(min_y);
    out.width = static_cast<std::int32_t>(max_x - min_x);
    out.height = static_cast<std::int32_t>(max_y - min_y);
    out.pixels.assign(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height), 0);

    Vector edges[4];
    for (int k = 0; k < 4; ++k) {
        const int next = (k + 1) % 4;
        vector(edges[k], quad[2 * k], quad[2 * k + 1], quad[2 * next], quad[2 * next + 1]);
        normalize(edges[k]);
    }
    const auto sw = static_cast<std::size_t>(width);
    for (std::int32_t row = 0; row < out.height; ++row) {
        const double py = static_cast<double>(out.y) + row;
        for (std::int32_t col = 0; col < out.width; ++col) {
            const double px = static_cast<double>(out.x) + col;
            if (!inside_quad_q(quad, px, py)) continue;
            double d[4];
            for (int k = 0; k < 4; ++k) {
                Vector to_pixel;
                vector(to_pixel, quad[2 * k], quad[2 * k + 1], px, py);
                d[k] = std::fabs(cross(to_pixel, edges[k]));
            }
            // A pixel on both opposite edges (a collapsed quad) samples the first column or row.
            const double u = d[3] + d[1] > 0 ? d[3] / (d[3] + d[1]) * width : 0.0;
            const double v = d[0] + d[2] > 0 ? d[0] / (d[0] + d[2]) * height : 0.0;
            const auto i = static_cast<std::int32_t>(u);
            const auto j = static_cast<std::int32_t>(v);
            if (i < 0 || i >= width || j < 0 || j >= height) continue;
            const double fu = std::max(u - i, 0.0);
            const double fv = std::max(v - j, 0.0);
            const std::int32_t i1 = i + 1 < width ? i + 1 : i;  // the last column and row have no neighbour
            const std::int32_t j1 = j + 1 < height ? j + 1 : j;
            const std::uint32_t p[4] = {source[static_cast<std::size_t>(j) * sw + static_cast<std::size_t>(i)],
                                        source[static_cast<std::size_t>(j) * sw + static_cast<std::size_t>(i1)],
                                        source[static_cast<std::size_t>(j1) * sw + static_cast<std::size_t>(i)],
                                        source[static_cast<std::size_t>(j1) * sw + static_cast<std::size_t>(i1)]};
            const double w[4] = {(1 - fu) * (1 - fv), fu * (1 - fv), (1 - fu) * fv, fu * fv};
            out.pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(out.width) +
                       static_cast<std::size_t>(col)] =
                blend_channel(p, w, 0) | blend_channel(p, w, 8) | blend_channel(p, w, 16) | blend_channel(p, w, 24);
        }
    }
    return out;
}

std::optional<std::vector<std::uint32_t>> scale_buffer(const std::uint32_t* source, std::int32_t width,
                                                       std::int32_t height, std::int32_t new_width,
                                                       std::int32_t new_height) {
    const auto nw = static_cast<float>(new_width), nh = static_cast<float>(new_height);
    const Quad quad{0, 0, nw, 0, nw, nh, 0, nh};
    std::optional<Mapped> mapped = quad_transform(source, width, height, quad);
    if (!mapped || mapped->width != new_width || mapped->height != new_height) return std::nullopt;
    return std::move(mapped->pixels);
}

}  // namespace kiv::geometry
