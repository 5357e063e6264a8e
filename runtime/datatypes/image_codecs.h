// The image file formats: BMP (written here) and PNG (through libpng). Each
// decoder reads bytes into a new image! and answers false for data it cannot
// read; each encoder gives the bytes of a whole image.
#pragma once

#include "runtime/cell.h"

#include <cstdint>
#include <vector>

namespace kiv::image_codecs {

// The format indexes of the codec entry points.
enum class Format : std::int32_t { bmp = 0, png = 1, jpeg = 2, tiff = 3, gif = 4 };

// True when the bytes start with the signature of an image format.
bool is_known_format(const std::uint8_t* bytes, std::int64_t n);

// Decodes bytes of any supported format into result; false when the format
// is unknown, not supported here, or the data is damaged.
bool decode(const std::uint8_t* bytes, std::int64_t n, Cell& result);

// A 32-bit top-down BMP with an alpha mask.
std::vector<std::uint8_t> encode_bmp(const Cell& image);
// 24- and 32-bit uncompressed BMPs (bit fields included), either row order.
bool decode_bmp(const std::uint8_t* bytes, std::int64_t n, Cell& result);

// An 8-bit RGBA PNG; false when libpng refuses.
bool encode_png(const Cell& image, std::vector<std::uint8_t>& out);
bool decode_png(const std::uint8_t* bytes, std::int64_t n, Cell& result);

}  // namespace kiv::image_codecs
