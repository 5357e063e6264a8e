// The image file formats: BMP (written here), PNG (libpng), JPEG
// (libjpeg-turbo), TIFF (libtiff) and GIF (giflib, with a colour quantiser of
// our own for writing). Each decoder reads bytes into a new image! and answers
// false for data it cannot read; each encoder gives the bytes of a whole image.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>
#include <vector>

namespace kiv::image_codecs {

// The format indexes of the codec entry points.
enum class Format : std::int32_t { bmp = 0, png = 1, jpeg = 2, tiff = 3, gif = 4 };

// True when an image of w x h pixels fits the image limits (each side below
// 65536, the pixel bytes within a buffer). Decoders check this before they
// make the image a header asks for.
bool size_ok(std::int64_t w, std::int64_t h);

// True when n bytes of data can hold w x h pixels at most pixels_per_byte
// each: the format's highest compression, so that a short file cannot make
// the decoder set aside an image its data could never fill.
bool data_can_hold(std::int64_t w, std::int64_t h, std::int64_t n, std::int64_t pixels_per_byte);

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

// A baseline JPEG of quality 90 (alpha is dropped); gray, colour and CMYK
// JPEGs are read, baseline or progressive.
bool encode_jpeg(const Cell& image, std::vector<std::uint8_t>& out);
bool decode_jpeg(const std::uint8_t* bytes, std::int64_t n, Cell& result);

// An LZW-compressed RGB TIFF, with unassociated alpha when any pixel is not
// opaque; every TIFF that libtiff can turn into RGBA is read (first page).
bool encode_tiff(const Cell& image, std::vector<std::uint8_t>& out);
bool decode_tiff(const std::uint8_t* bytes, std::int64_t n, Cell& result);

// A GIF of the image's own colours when there are at most 256 of them (pixels
// less than half opaque share one transparent entry), else of 256 colours
// chosen by median cut. The first frame of a GIF is read at its own size.
bool encode_gif(const Cell& image, std::vector<std::uint8_t>& out);
bool decode_gif(const std::uint8_t* bytes, std::int64_t n, Cell& result);

}  // namespace kiv::image_codecs
