// JPEG through libjpeg-turbo. The library reports a fatal error by calling
// error_exit, which must not return: ours jumps back to the setjmp in the
// function that started the work, which then destroys the library's state.
// Only the library's own C frames lie between the two, so no C++ object is
// skipped. Warnings of damaged data (a premature end, a bad Huffman code)
// end decoding the same way; the library prints nothing.
#include "runtime/datatypes/image_codecs.h"

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/image.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jerror.h>
#include <jpeglib.h>

namespace kiv::image_codecs {

namespace {

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void fail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1); }

// Level -1 is a warning; the ones that mean the picture is damaged end decoding.
void on_message(j_common_ptr info, int level) {
    if (level >= 0) return;
    switch (info->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_HIT_MARKER:
            fail(info);
        default:
            return;
    }
}

void silent(j_common_ptr) {}

void set_up(JpegErrors& errors) {
    jpeg_std_error(&errors.manager);
    errors.manager.error_exit = fail;
    errors.manager.emit_message = on_message;
    errors.manager.output_message = silent;
}

// The library's work memory (coefficient arrays of progressive images, row
// buffers) stays within what an image may hold.
constexpr long work_memory = binary::max_bytes;

}  // namespace

bool decode_jpeg(const std::uint8_t* bytes, std::int64_t n, Cell& result) {
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    set_up(errors);
    info.err = &errors.manager;
    std::uint8_t* volatile cmyk_row = nullptr;  // read again after a jump
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(cmyk_row);
        return false;
    }
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = work_memory;
    jpeg_mem_src(&info, bytes, static_cast<unsigned long>(n));
    jpeg_read_header(&info, TRUE);
    const std::int64_t w = info.image_width, h = info.image_height;
    // Huffman coding spends at least a bit on each 8 x 8 block of a scan;
    // a chroma scan may cover 16 x 16 pixels a block (arithmetic coding can
    // spend less, so its files are not held to this)
    if (!size_ok(w, h) || w == 0 || h == 0 || (!info.arith_code && !data_can_hold(w, h, n, 8 * 256))) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    Cell made{};
    try {
        image::make_at(made, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), 0xFF000000u);
    } catch (...) {
        jpeg_destroy_decompress(&info);
        throw;
    }
    std::uint32_t* pixels = image::pixels(made);
    if (cmyk) cmyk_row = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(w) * 4));
    if (cmyk && !cmyk_row) fail(reinterpret_cast<j_common_ptr>(&info));
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        std::uint32_t* to = pixels + static_cast<std::int64_t>(info.output_scanline) * w;
        JSAMPROW row = cmyk ? cmyk_row : reinterpret_cast<JSAMPROW>(to);
        if (jpeg_read_scanlines(&info, &row, 1) != 1) fail(reinterpret_cast<j_common_ptr>(&info));
        if (!cmyk) continue;
        // Adobe writes CMYK inverted (0 full ink); other writers plainly
        const bool inverted = info.saw_Adobe_marker;
        for (std::int64_t x = 0; x < w; ++x) {
            const std::uint8_t* p = cmyk_row + x * 4;
            std::uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
            if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            to[x] = 0xFF000000u | (c * k / 255) << 16 | (m * k / 255) << 8 | (y * k / 255);
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::free(cmyk_row);
    result = made;
    return true;
}

bool encode_jpeg(const Cell& img, std::vector<std::uint8_t>& out) {
    jpeg_compress_struct info{};
    JpegErrors errors{};
    set_up(errors);
    info.err = &errors.manager;
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        std::free(bytes);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &bytes, &size);
    const std::int32_t w = image::width_of(img), h = image::height_of(img);
    info.image_width = static_cast<JDIMENSION>(w);
    info.image_height = static_cast<JDIMENSION>(h);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;  // the pixel words as they lie in memory
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    const std::uint32_t* pixels = image::pixels(img);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            reinterpret_cast<const JSAMPLE*>(pixels + static_cast<std::int64_t>(info.next_scanline) * w));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    out.assign(bytes, bytes + size);
    jpeg_destroy_compress(&info);
    std::free(bytes);
    return true;
}

}  // namespace kiv::image_codecs
