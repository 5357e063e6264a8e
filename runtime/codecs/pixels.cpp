#include "runtime/codecs/pixels.h"

#include <algorithm>

namespace kiv::pixels {

namespace {

// The colour offsets are 16.16 fixed point; >> on a negative product floors.
std::uint32_t clamp_byte(std::int32_t v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); }

std::uint32_t pixel(std::int32_t y, std::int32_t red, std::int32_t green, std::int32_t blue) {
    return 0xFF000000u | clamp_byte(y + blue) << 16 | clamp_byte(y - green) << 8 | clamp_byte(y + red);
}

}  // namespace

void yuy2_convert(std::int32_t width, std::int32_t rows, const std::uint8_t* source, std::uint32_t* target) {
    if (width <= 0 || rows <= 0) return;
    for (std::int32_t row = 0; row < rows; ++row) {
        for (std::int32_t x = 0; x < width; x += 2, source += 4) {
            const std::int32_t u = source[1] - 128;
            const std::int32_t v = source[3] - 128;
            const std::int32_t red = v * 91881 >> 16;
            const std::int32_t green = (v * 46792 >> 16) + (u * 21889 >> 16);
            const std::int32_t blue = u * 116129 >> 16;
            *target++ = pixel(source[0], red, green, blue);
            if (x + 1 < width) *target++ = pixel(source[2], red, green, blue);
        }
    }
}

}  // namespace kiv::pixels
