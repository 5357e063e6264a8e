// image!: a rectangular bitmap of 32-bit pixels seen as a series of pixels in
// row order. The cell holds the position (word 1), the pixel buffer's node
// (word 2, 0 for an image without pixels) and the size word (word 3: width in
// bits 0-15, height in bits 16-31). Pixels are 0xAARRGGBB words, A the opacity;
// the language shows a pixel as the tuple r.g.b.a whose a is 255 - opacity.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::image {

// Width and height each stay below 65536; the pixel bytes fit a buffer.
inline constexpr std::int32_t max_side = 0xFFFF;

// Makes cell a new image of width x height pixels, each set to pixel (a
// 0xAARRGGBB word). Raises script invalid-arg for a size out of range and
// internal no-memory when the bytes do not fit a buffer.
void make_at(Cell& cell, std::int32_t width, std::int32_t height, std::uint32_t pixel);
std::int32_t width_of(const Cell& image);
std::int32_t height_of(const Cell& image);
// The pixel words from pixel 0 (null for an image without pixels).
std::uint32_t* pixels(const Cell& image);

// Makes result a new binary! of the pixel words from pixel 0 as they are
// stored, 4 bytes a pixel (B, G, R, opacity).
void stored_bytes(Cell& result, const Cell& image);

// `to image!` of a face object: the GUI layer renders it into out (an image!,
// or none when the face has no widget). Without a renderer (text mode) a
// face is a bad argument of `to`.
using FaceRenderer = void (*)(const Cell& face, Cell& out);
void set_face_renderer(FaceRenderer renderer);

// Registers image! (after series!).
void init();

}  // namespace kiv::image
