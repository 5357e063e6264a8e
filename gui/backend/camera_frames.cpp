// The frame formats cameras stream, turned into 0xAARRGGBB pixels. These run
// on the streaming thread: they use nothing of the runtime.
#include "gui/backend/camera.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace kiv::camera {

namespace {

std::uint32_t clamp_byte(std::int32_t v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); }

// One pixel of BT.601 studio-range Y'CbCr.
std::uint32_t rgb_of(std::int32_t y, std::int32_t u, std::int32_t v) {
    const std::int32_t c = 298 * (y - 16), d = u - 128, e = v - 128;
    return 0xFF000000u | clamp_byte((c + 409 * e + 128) >> 8) << 16 |
           clamp_byte((c - 100 * d - 208 * e + 128) >> 8) << 8 | clamp_byte((c + 516 * d + 128) >> 8);
}

// libjpeg reports a fault through its error manager: ours jumps back out.
struct Failure {
    jpeg_error_mgr manager;
    std::jmp_buf back;
};

[[noreturn]] void fail(j_common_ptr info) { std::longjmp(reinterpret_cast<Failure*>(info->err)->back, 1); }
void quiet(j_common_ptr) {}

}  // namespace

void yuyv_to_pixels(const std::uint8_t* data, std::size_t length, std::int32_t stride, std::uint32_t* pixels,
                    std::int32_t width, std::int32_t height) {
    if (stride < 4) return;
    const std::size_t rows = std::min<std::size_t>(static_cast<std::size_t>(height), length / static_cast<std::size_t>(stride));
    const std::int32_t pairs = std::min(width / 2, stride / 4);
    for (std::size_t r = 0; r < rows; ++r) {
        const std::uint8_t* in = data + r * static_cast<std::size_t>(stride);
        std::uint32_t* out = pixels + r * static_cast<std::size_t>(width);
        for (std::int32_t i = 0; i < pairs; ++i, in += 4) {
            out[2 * i] = rgb_of(in[0], in[1], in[3]);
            out[2 * i + 1] = rgb_of(in[2], in[1], in[3]);
        }
    }
}

bool jpeg_to_pixels(const std::uint8_t* data, std::size_t length, std::uint32_t* pixels, std::int32_t width,
                    std::int32_t height) {
    if (data == nullptr || length < 4 || width <= 0 || height <= 0) return false;
    jpeg_decompress_struct info{};
    Failure failure{};
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = fail;
    failure.manager.output_message = quiet;
    // Rows are decoded into row, which lives outside the jump's reach.
    std::vector<std::uint32_t> row;
    if (setjmp(failure.back) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(length));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_EXT_BGRA;  // 0xAARRGGBB in memory on this machine's byte order
    jpeg_start_decompress(&info);
    row.resize(info.output_width);
    const std::size_t copied = std::min<std::size_t>(info.output_width, static_cast<std::size_t>(width));
    while (info.output_scanline < info.output_height) {
        const std::size_t y = info.output_scanline;
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(row.data())};
        jpeg_read_scanlines(&info, rows, 1);
        if (y < static_cast<std::size_t>(height))
            for (std::size_t x = 0; x < copied; ++x) pixels[y * static_cast<std::size_t>(width) + x] = row[x] | 0xFF000000u;
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace kiv::camera
