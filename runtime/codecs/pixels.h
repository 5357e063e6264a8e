// Pixel format conversion: YUY2 camera frames to 32-bit pixels.
#pragma once

#include <cstdint>

namespace kiv::pixels {

// Converts rows of YUY2 (Y0 U Y1 V for each pair of pixels, so a row takes
// (width + 1) / 2 x 4 bytes) into width x rows 32-bit pixels whose bytes in
// memory are R, G, B, 255. An odd width drops the pair's second pixel.
void yuy2_convert(std::int32_t width, std::int32_t rows, const std::uint8_t* source, std::uint32_t* target);

}  // namespace kiv::pixels
