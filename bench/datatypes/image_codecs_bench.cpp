// Image decoding: a 4000 x 3000 picture (the pattern of the image_*.kiv
// scripts) encoded as PNG and JPEG, then decoded by our codecs (into a new
// image!) beside libpng and libjpeg-turbo called alone into a plain buffer.
// Prints milliseconds (best of five) and our cost over the library's.
// Usage: image_codecs_bench [width height]
#include "bench/best_of.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/image_codecs.h"
#include "runtime/startup/embed.h"

#include <png.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The scripts' picture: a row pattern of bytes (a ramp with a little noise)
// shifted from row to row.
kiv::Cell picture(std::int32_t w, std::int32_t h) {
    const std::int64_t row = std::int64_t{w} * 3;
    Bytes base;
    std::int64_t seed = 1;
    for (std::int64_t i = 1; i <= row + 4096; ++i) {
        seed = (seed * 75 + 74) % 65537;
        base.push_back(static_cast<std::uint8_t>((i + seed % 24) % 256));
    }
    kiv::Cell img{};
    kiv::image::make_at(img, w, h, 0xFF000000u);
    std::uint32_t* p = kiv::image::pixels(img);
    for (std::int64_t y = 0; y < h; ++y) {
        const std::uint8_t* from = base.data() + (y * 37) % 4096;
        for (std::int64_t x = 0; x < w; ++x)
            p[y * w + x] = 0xFF000000u | std::uint32_t{from[x * 3]} << 16 | std::uint32_t{from[x * 3 + 1]} << 8 |
                           from[x * 3 + 2];
    }
    return img;
}

using kiv::bench::best_ms;

// Each decodes into a new buffer, as a decoder that returns the image must.
using Buffer = std::unique_ptr<std::uint8_t[]>;

void png_alone(const Bytes& bytes, Buffer& out) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) std::abort();
    png.format = PNG_FORMAT_BGRA;
    out.reset(new std::uint8_t[PNG_IMAGE_SIZE(png)]);
    if (!png_image_finish_read(&png, nullptr, out.get(), 0, nullptr)) std::abort();
}

void jpeg_alone(const Bytes& bytes, Buffer& out) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), bytes.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    const std::size_t stride = std::size_t{info.output_width} * 4;
    out.reset(new std::uint8_t[stride * info.output_height]);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.get() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

}  // namespace

int main(int argc, char** argv) {
    const std::int32_t w = argc > 2 ? std::atoi(argv[1]) : 4000, h = argc > 2 ? std::atoi(argv[2]) : 3000;
    kiv::embed::boot({.library = false});
    kiv::Cell img = picture(w, h);
    kiv::collector::Root keep(img);
    Bytes png, jpeg;
    Buffer plain;
    if (!kiv::image_codecs::encode_png(img, png) || !kiv::image_codecs::encode_jpeg(img, jpeg)) return 1;
    std::printf("%dx%d: PNG %zu bytes, JPEG %zu bytes\n", w, h, png.size(), jpeg.size());
    std::printf("%-6s %12s %12s %8s\n", "", "library ms", "ours ms", "ratio");
    const struct {
        const char* name;
        const Bytes& bytes;
        void (*alone)(const Bytes&, Buffer&);
    } formats[] = {{"PNG", png, png_alone}, {"JPEG", jpeg, jpeg_alone}};
    for (const auto& f : formats) {
        const double alone = best_ms([&] {
            f.alone(f.bytes, plain);
            plain.reset();
        });
        const double ours = best_ms([&] {
            kiv::Cell made{};
            if (!kiv::image_codecs::decode(f.bytes.data(), static_cast<std::int64_t>(f.bytes.size()), made)) std::abort();
            kiv::collector::collect();  // the image of this trial is garbage after it
        });
        std::printf("%-6s %12.1f %12.1f %8.2f\n", f.name, alone, ours, ours / alone);
    }
    return 0;
}
