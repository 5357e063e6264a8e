// BMP is read and written here; PNG goes through libpng, which reads every
// colour type as 8-bit B, G, R, A bytes (the pixel words' own layout; 16-bit
// samples scaled, no gamma applied) and writes, dropping the fourth byte of
// an opaque image.
// JPEG, TIFF and GIF have files of their own (image_jpeg.cpp and so on).
// Every decoder checks sizes against the data before it makes the image, so
// damaged or hostile data gives false, never a read past the bytes.
#include "runtime/datatypes/image_codecs.h"

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/image.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace kiv::image_codecs {

namespace {

std::uint32_t u16_at(const std::uint8_t* p) { return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8; }
std::uint32_t u32_at(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// The 8-bit value of the field mask selects in v (0 for an empty mask).
std::uint32_t channel(std::uint32_t v, std::uint32_t mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    const std::uint32_t field = mask >> shift;
    const std::uint64_t value = (v & mask) >> shift;
    return static_cast<std::uint32_t>(value * 255 / field);
}

constexpr std::uint32_t bi_rgb = 0, bi_bitfields = 3, bi_alphabitfields = 6;

}  // namespace

bool size_ok(std::int64_t w, std::int64_t h) {
    return w >= 0 && h >= 0 && w <= image::max_side && h <= image::max_side &&
           w * h * 4 <= binary::max_bytes;
}

bool data_can_hold(std::int64_t w, std::int64_t h, std::int64_t n, std::int64_t pixels_per_byte) {
    return w * h <= (n + 256) * pixels_per_byte;
}

bool is_known_format(const std::uint8_t* b, std::int64_t n) {
    auto starts = [b, n](std::initializer_list<std::uint8_t> sig) {
        return n >= static_cast<std::int64_t>(sig.size()) && std::equal(sig.begin(), sig.end(), b);
    };
    return starts({137, 80, 78, 71}) || starts({255, 216, 255}) || starts({66, 77}) ||
           starts({71, 73, 70, 56, 55, 97}) || starts({71, 73, 70, 56, 57, 97}) ||
           starts({73, 73, 42, 0}) || starts({77, 77, 0, 42});
}

bool decode(const std::uint8_t* bytes, std::int64_t n, Cell& result) {
    if (n >= 4 && bytes[0] == 137 && bytes[1] == 80 && bytes[2] == 78 && bytes[3] == 71)
        return decode_png(bytes, n, result);
    if (n >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return decode_bmp(bytes, n, result);
    if (n >= 3 && bytes[0] == 255 && bytes[1] == 216 && bytes[2] == 255) return decode_jpeg(bytes, n, result);
    if (n >= 4 && bytes[0] == 'G' && bytes[1] == 'I' && bytes[2] == 'F' && bytes[3] == '8')
        return decode_gif(bytes, n, result);
    if (n >= 4 && ((bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0) ||
                   (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42)))
        return decode_tiff(bytes, n, result);
    return false;
}

// --- BMP ----------------------------------------------------------------------------------

std::vector<std::uint8_t> encode_bmp(const Cell& img) {
    constexpr std::uint32_t header_bytes = 14 + 108;  // file header, version 4 info header
    const std::uint32_t w = static_cast<std::uint32_t>(image::width_of(img));
    const std::uint32_t h = static_cast<std::uint32_t>(image::height_of(img));
    const std::uint32_t data_bytes = w * h * 4;
    std::vector<std::uint8_t> out;
    out.reserve(header_bytes + data_bytes);
    out.push_back('B');
    out.push_back('M');
    put32(out, header_bytes + data_bytes);
    put32(out, 0);
    put32(out, header_bytes);
    put32(out, 108);
    put32(out, w);
    put32(out, static_cast<std::uint32_t>(-static_cast<std::int32_t>(h)));  // rows top down
    put16(out, 1);
    put16(out, 32);
    put32(out, bi_bitfields);
    put32(out, data_bytes);
    put32(out, 2835);  // 72 dots an inch
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, 0x73524742);  // 'sRGB'
    out.resize(out.size() + 36 + 12, 0);  // end points and gamma, unused with sRGB
    const std::uint32_t* p = image::pixels(img);
    for (std::uint32_t i = 0; i < w * h; ++i) put32(out, p[i]);
    return out;
}

bool decode_bmp(const std::uint8_t* b, std::int64_t n, Cell& result) {
    if (n < 26 || b[0] != 'B' || b[1] != 'M') return false;
    const std::int64_t data_at = u32_at(b + 10);
    const std::int64_t info = u32_at(b + 14);
    if (info != 12 && info < 40) return false;
    if (14 + info > n) return false;
    std::int64_t w, h;
    std::uint32_t bits, compression = bi_rgb, colours = 0;
    if (info == 12) {
        w = u16_at(b + 18);
        h = static_cast<std::int16_t>(u16_at(b + 20));
        bits = u16_at(b + 24);
    } else {
        w = static_cast<std::int32_t>(u32_at(b + 18));
        h = static_cast<std::int32_t>(u32_at(b + 22));
        bits = u16_at(b + 28);
        compression = u32_at(b + 30);
        colours = u32_at(b + 46);
    }
    const bool top_down = h < 0;
    h = top_down ? -h : h;
    if (!size_ok(w, h)) return false;
    std::uint32_t masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    if (compression == bi_bitfields || compression == bi_alphabitfields) {
        if (bits != 32 && bits != 16) return false;
        const std::int64_t at = info >= 52 ? 54 : 14 + info;  // in the header, or after it
        const int count = info >= 56 || compression == bi_alphabitfields ? 4 : 3;
        if (at + 4 * count > n) return false;
        for (int i = 0; i < count; ++i) masks[i] = u32_at(b + at + 4 * i);
    } else if (compression != bi_rgb) {
        return false;  // run-length and embedded formats are not read here
    } else if (bits == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        return false;
    }
    // the colour table of the indexed formats
    std::uint32_t palette[256] = {};
    if (bits <= 8) {
        const std::int64_t entry = info == 12 ? 3 : 4;
        const std::int64_t max = std::int64_t{1} << bits;
        const std::int64_t count = colours == 0 || colours > max ? max : colours;
        const std::int64_t at = 14 + info;
        if (at + count * entry > n) return false;
        for (std::int64_t i = 0; i < count; ++i) {
            const std::uint8_t* e = b + at + i * entry;
            palette[i] = 0xFF000000u | std::uint32_t{e[2]} << 16 | std::uint32_t{e[1]} << 8 | e[0];
        }
    }
    const std::int64_t stride = (w * bits + 31) / 32 * 4;
    if (data_at < 14 + info || data_at + stride * h > n) return false;
    image::make_at(result, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), 0xFFFFFFFFu);
    std::uint32_t* out = image::pixels(result);
    bool any_alpha = false;
    for (std::int64_t y = 0; y < h; ++y) {
        const std::uint8_t* row = b + data_at + stride * (top_down ? y : h - 1 - y);
        std::uint32_t* to = out + y * w;
        for (std::int64_t x = 0; x < w; ++x) {
            std::uint32_t px;
            if (bits <= 8) {
                const std::int64_t bit = x * bits;
                const std::uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                px = palette[index];
            } else if (bits == 24) {
                const std::uint8_t* p = row + x * 3;
                px = 0xFF000000u | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
            } else {
                const std::uint32_t v = bits == 16 ? u16_at(row + x * 2) : u32_at(row + x * 4);
                const std::uint32_t a = bits == 32 && compression == bi_rgb ? v >> 24 : channel(v, masks[3]);
                if (a != 0) any_alpha = true;
                px = a << 24 | channel(v, masks[0]) << 16 | channel(v, masks[1]) << 8 | channel(v, masks[2]);
            }
            to[x] = px;
        }
    }
    // 32-bit data whose fourth byte is 0 everywhere has no alpha: opaque
    if (bits >= 16 && !any_alpha)
        for (std::int64_t i = 0; i < w * h; ++i) out[i] |= 0xFF000000u;
    return true;
}

// --- PNG ----------------------------------------------------------------------------------

namespace {

// libpng reports a fatal error by calling this, which must not return: it
// jumps back to the setjmp of encode_png or of a decoding step (only libpng's
// C frames lie between).
[[noreturn]] void png_failed(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet(png_structp, png_const_charp) {}

void png_append(png_structp png, png_bytep bytes, png_size_t n) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    if (static_cast<std::int64_t>(out->size() + n) > binary::max_bytes) png_error(png, "too large");
    out->insert(out->end(), bytes, bytes + n);
}
void png_flush_nothing(png_structp) {}

}  // namespace

// In one pass over the pixel words, as 8-bit RGB when every pixel is opaque
// (the fourth byte dropped as filler) and RGBA otherwise.
bool encode_png(const Cell& img, std::vector<std::uint8_t>& out) {
    const std::int64_t w = image::width_of(img), h = image::height_of(img);
    const std::uint32_t* pixels = image::pixels(img);
    const bool opaque = std::all_of(pixels, pixels + w * h, [](std::uint32_t p) { return p >> 24 == 255; });
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_quiet);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, png_append, png_flush_nothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8,
                 opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);  // the words lie in memory as B, G, R, A
    if (opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (std::int64_t y = 0; y < h; ++y)
        png_write_row(png, reinterpret_cast<png_const_bytep>(pixels + y * w));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

namespace {

struct PngInput {
    const std::uint8_t* bytes;
    std::size_t left;
};

void png_take(png_structp png, png_bytep out, png_size_t n) {
    auto* in = static_cast<PngInput*>(png_get_io_ptr(png));
    if (n > in->left) png_error(png, "truncated");
    std::memcpy(out, in->bytes, n);
    in->bytes += n;
    in->left -= n;
}

// Reads the header and sets the transformations to 8-bit B, G, R, A; false
// for data libpng refuses or an image too large for it.
bool png_prepare(png_structp png, png_infop info, std::int64_t n, png_uint_32& w, png_uint_32& h,
                 int& passes) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    w = png_get_image_width(png, info);
    h = png_get_image_height(png, info);
    // deflate makes at most 1032 bytes of a byte, and a pixel takes at least a bit
    if (!size_ok(w, h) || !data_can_hold(w, h, n, 1100 * 8)) return false;
    png_set_expand(png);     // palettes, small greys and tRNS to 8-bit channels
    png_set_scale_16(png);   // 16-bit samples to 8 bits, as numbers: no gamma
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == static_cast<png_size_t>(w) * 4;
}

bool png_rows(png_structp png, std::uint32_t* pixels, png_uint_32 w, png_uint_32 h, int passes) {
    if (setjmp(png_jmpbuf(png))) return false;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < h; ++y)
            png_read_row(png, reinterpret_cast<png_bytep>(pixels + static_cast<std::size_t>(y) * w), nullptr);
    return true;
}

}  // namespace

bool decode_png(const std::uint8_t* bytes, std::int64_t n, Cell& result) {
    PngInput input{bytes, static_cast<std::size_t>(n)};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_quiet);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    png_uint_32 w = 0, h = 0;
    int passes = 1;
    bool ok = info != nullptr;
    if (ok) {
        png_set_read_fn(png, &input, png_take);
        ok = png_prepare(png, info, n, w, h, passes);
    }
    Cell made{};
    if (ok) {
        try {
            image::make_at(made, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), 0xFFFFFFFFu);
        } catch (...) {
            png_destroy_read_struct(&png, &info, nullptr);
            throw;
        }
        ok = png_rows(png, image::pixels(made), w, h, passes);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (ok) result = made;
    return ok;
}

}  // namespace kiv::image_codecs
