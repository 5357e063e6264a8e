#include "gui/backend/units.h"

#include <cmath>
#include <ctime>

namespace kiv::units {

namespace {

double factor = 1.0;

std::int64_t now_ns() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

double dpi_factor() { return factor; }

void set_dpi_factor(double f) { factor = f > 0.0 && std::isfinite(f) ? f : 1.0; }

std::int32_t to_pixels(double x) {
    const double p = x * factor + 0.5;
    if (!(p > -2147483648.0)) return INT32_MIN;  // NaN too
    if (p >= 2147483647.0) return INT32_MAX;
    return static_cast<std::int32_t>(p);
}

double to_logical(double x) { return x / factor; }

void pixels_of(const Cell* v, std::int32_t& x, std::int32_t& y) {
    x = y = 0;
    if (v == nullptr) return;
    if (v->is(TypeId::pair)) {
        x = to_pixels(v->pair_x());
        y = to_pixels(v->pair_y());
    } else if (v->is(TypeId::point2d)) {
        x = to_pixels(v->point_coord(0));
        y = to_pixels(v->point_coord(1));
    }
}

std::uint32_t tuple_to_color(const Cell& tuple) {
    if (!tuple.is(TypeId::tuple)) return 0;
    const std::uint8_t* bytes = tuple.tuple_bytes();
    std::uint32_t color = bytes[0] | bytes[1] << 8 | static_cast<std::uint32_t>(bytes[2]) << 16;
    if (tuple.tuple_length() >= 4) color |= static_cast<std::uint32_t>(bytes[3]) << 24;
    return color;
}

std::uint32_t to_argb(std::uint32_t color) {
    const std::uint32_t r = color & 0xFF, g = color >> 8 & 0xFF, b = color >> 16 & 0xFF, t = color >> 24;
    return r << 16 | g << 8 | b | (255 - t) << 24;
}

std::uint32_t to_argb_layered(std::uint32_t color) {
    const std::uint32_t argb = to_argb(color);
    return (argb >> 24) == 255 ? (argb & 0x00FFFFFF) | 0xFE000000 : argb;
}

double ratio_of(const Cell& value) {
    double v = 0.0;
    switch (value.type()) {
    case TypeId::integer: v = value.int_value(); break;
    case TypeId::float_:
    case TypeId::percent: v = value.f64(); break;
    default: return -1.0;
    }
    if (!(v > 0.0)) return 0.0;  // NaN too
    return v > 1.0 ? 1.0 : v;
}

void timer_start(Timer& timer) { timer.start_ns = now_ns(); }

double timer_elapsed(Timer& timer) {
    const std::int64_t d = now_ns() - timer.start_ns;
    if (d < 0) {
        timer_start(timer);
        return 2147483647.0;
    }
    return static_cast<double>(d) / 1e6;
}

}  // namespace kiv::units
