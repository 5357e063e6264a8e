// Units and small conversions of the back end: the DPI factor (pixels per
// logical unit) with logical units and pixels, packed colours from tuples,
// ratios, and the high-resolution timer.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::units {

// The DPI factor: the monitor's scale times the font DPI over 96; 1.0 until
// the GUI starts.
double dpi_factor();
void set_dpi_factor(double factor);

// A logical length in pixels: x times the factor, rounded half up (truncated
// after adding 0.5).
std::int32_t to_pixels(double x);
// A length in pixels in logical units.
double to_logical(double x);
// A pair! or point2D! of logical units in pixels; 0x0 for anything else.
void pixels_of(const Cell* v, std::int32_t& x, std::int32_t& y);

// The first four bytes of a tuple: r | g << 8 | b << 16 | t << 24, t a
// transparency (0 for a 3-component tuple).
std::uint32_t tuple_to_color(const Cell& tuple);
// A packed colour as ARGB, the transparency turned into an alpha.
std::uint32_t to_argb(std::uint32_t color);
// The same, except that a fully opaque colour gets alpha 254 (layered windows).
std::uint32_t to_argb_layered(std::uint32_t color);
// An integer!, float! or percent! clamped to 0.0-1.0 (below 0 or NaN: 0);
// -1.0 for other values.
double ratio_of(const Cell& value);

// Milliseconds since the timer was started; a clock that went back restarts
// it and reads as 2147483647.
struct Timer {
    std::int64_t start_ns = 0;
};
void timer_start(Timer& timer);
double timer_elapsed(Timer& timer);

}  // namespace kiv::units
