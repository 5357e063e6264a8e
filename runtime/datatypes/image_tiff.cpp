// TIFF through libtiff, reading from and writing to memory through client
// procedures. The library's errors and warnings go to handlers that drop them
// (nothing reaches the standard error); a failure shows as a failed call.
// 8-bit RGB and RGBA in strips are read row by row as they are stored, so an
// image with alpha comes back exactly as written; every other kind goes
// through the library's RGBA reader, whose premultiplied result is undone.
#include "runtime/datatypes/image_codecs.h"

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/image.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <memory>

namespace kiv::image_codecs {

namespace {

// The bytes the client procedures read or write: a fixed input or a growing output.
struct Memory {
    const std::uint8_t* in = nullptr;
    std::vector<std::uint8_t>* out = nullptr;
    std::uint64_t size = 0;
    std::uint64_t at = 0;
};

tmsize_t read_proc(thandle_t h, void* to, tmsize_t n) {
    auto* m = static_cast<Memory*>(h);
    if (n <= 0 || m->at >= m->size) return 0;
    const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), m->size - m->at);
    std::memcpy(to, (m->in ? m->in : m->out->data()) + m->at, count);
    m->at += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t write_proc(thandle_t h, void* from, tmsize_t n) {
    auto* m = static_cast<Memory*>(h);
    if (!m->out || n < 0) return -1;
    const std::uint64_t end = m->at + static_cast<std::uint64_t>(n);
    if (end > static_cast<std::uint64_t>(binary::max_bytes)) return -1;
    if (end > m->out->size()) m->out->resize(end);
    std::memcpy(m->out->data() + m->at, from, static_cast<std::size_t>(n));
    m->at = end;
    m->size = std::max(m->size, end);
    return n;
}

toff_t seek_proc(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(h);
    std::uint64_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : 0;
    const std::uint64_t to = base + offset;
    if (to < base || to > static_cast<std::uint64_t>(binary::max_bytes)) return static_cast<toff_t>(-1);
    m->at = to;
    return to;
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return static_cast<Memory*>(h)->size; }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

int drop_message(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A single allocation of the library (a strip, a tile) stays below this.
constexpr tmsize_t largest_allocation = tmsize_t{1} << 30;

// libtiff is opened at its first use rather than linked: linking it would
// load it and the seven libraries it needs (a C++ runtime among them) at
// every start of the program, image or not.
#define KIV_TIFF_FUNCTIONS(X) \
    X(TIFFClientOpenExt) X(TIFFClose) X(TIFFDefaultStripSize) X(TIFFFlush) X(TIFFGetField)           \
    X(TIFFGetFieldDefaulted) X(TIFFIsTiled) X(TIFFOpenOptionsAlloc) X(TIFFOpenOptionsFree)           \
    X(TIFFOpenOptionsSetErrorHandlerExtR) X(TIFFOpenOptionsSetMaxSingleMemAlloc)                     \
    X(TIFFOpenOptionsSetWarningHandlerExtR) X(TIFFRGBAImageOK) X(TIFFReadRGBAImageOriented)          \
    X(TIFFReadScanline) X(TIFFScanlineSize) X(TIFFSetErrorHandler) X(TIFFSetField)                   \
    X(TIFFSetWarningHandler) X(TIFFWriteScanline)

struct Tiff {
#define KIV_TIFF_POINTER(name) decltype(&::name) name = nullptr;
    KIV_TIFF_FUNCTIONS(KIV_TIFF_POINTER)
#undef KIV_TIFF_POINTER
};

Tiff lib;

// True once libtiff is loaded; false for good when it cannot be.
bool open_library() {
    static const bool ready = [] {
        void* library = ::dlopen("libtiff.so.6", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return false;
        Tiff loaded;
        bool complete = true;
#define KIV_TIFF_LOAD(name)                                                       \
        loaded.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
        complete = complete && loaded.name != nullptr;
        KIV_TIFF_FUNCTIONS(KIV_TIFF_LOAD)
#undef KIV_TIFF_LOAD
        if (!complete) return false;
        lib = loaded;
        lib.TIFFSetErrorHandler(nullptr);
        lib.TIFFSetWarningHandler(nullptr);
        return true;
    }();
    return ready;
}

TIFF* open(const char* mode, Memory& memory) {
    if (!open_library()) return nullptr;
    TIFFOpenOptions* options = lib.TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    lib.TIFFOpenOptionsSetErrorHandlerExtR(options, drop_message, nullptr);
    lib.TIFFOpenOptionsSetWarningHandlerExtR(options, drop_message, nullptr);
    lib.TIFFOpenOptionsSetMaxSingleMemAlloc(options, largest_allocation);
    TIFF* tif = lib.TIFFClientOpenExt("image", mode, &memory, read_proc, write_proc, seek_proc, close_proc,
                                  size_proc, map_proc, unmap_proc, options);
    lib.TIFFOpenOptionsFree(options);
    return tif;
}

struct Closer {
    void operator()(TIFF* tif) const { lib.TIFFClose(tif); }
};
using TiffFile = std::unique_ptr<TIFF, Closer>;

// Rows of 8-bit RGB or RGBA stored as they are shown; alpha unassociated
// (or none). Other layouts go through the RGBA reader.
bool plain_rgb(TIFF* tif, std::uint16_t& samples) {
    std::uint16_t bits = 0, photometric = 0, planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT;
    if (lib.TIFFIsTiled(tif) || !lib.TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits) || bits != 8 ||
        !lib.TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) || photometric != PHOTOMETRIC_RGB)
        return false;
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    if (planar != PLANARCONFIG_CONTIG || orientation != ORIENTATION_TOPLEFT) return false;
    if (samples == 3) return true;
    if (samples != 4) return false;
    std::uint16_t extras = 0;
    std::uint16_t* kinds = nullptr;
    if (!lib.TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extras, &kinds)) return false;
    return extras == 1 && kinds[0] == EXTRASAMPLE_UNASSALPHA;
}

bool read_plain(TIFF* tif, std::int64_t w, std::int64_t h, std::uint16_t samples, std::uint32_t* pixels) {
    const tmsize_t row_bytes = lib.TIFFScanlineSize(tif);
    if (row_bytes < w * samples) return false;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(row_bytes));
    for (std::int64_t y = 0; y < h; ++y) {
        if (lib.TIFFReadScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0) < 0) return false;
        std::uint32_t* to = pixels + y * w;
        for (std::int64_t x = 0; x < w; ++x) {
            const std::uint8_t* p = row.data() + x * samples;
            const std::uint32_t a = samples == 4 ? p[3] : 255;
            to[x] = a << 24 | std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
        }
    }
    return true;
}

// The RGBA reader gives A B G R bytes from the top (premultiplied colour
// when the file's alpha is unassociated); turned into pixel words here.
bool read_rgba(TIFF* tif, std::int64_t w, std::int64_t h, std::uint32_t* pixels) {
    char message[1024];
    if (!lib.TIFFRGBAImageOK(tif, message)) return false;
    if (!lib.TIFFReadRGBAImageOriented(tif, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), pixels,
                                   ORIENTATION_TOPLEFT, 1))
        return false;
    std::uint16_t extras = 0;
    std::uint16_t* kinds = nullptr;
    const bool premultiplied = lib.TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extras, &kinds) && extras > 0 &&
                               kinds[0] == EXTRASAMPLE_UNASSALPHA;
    for (std::int64_t i = 0; i < w * h; ++i) {
        const std::uint32_t v = pixels[i];
        std::uint32_t r = v & 0xFF, g = v >> 8 & 0xFF, b = v >> 16 & 0xFF;
        const std::uint32_t a = v >> 24;
        if (premultiplied && a != 0 && a != 255) {
            r = std::min(255u, (r * 255 + a / 2) / a);
            g = std::min(255u, (g * 255 + a / 2) / a);
            b = std::min(255u, (b * 255 + a / 2) / a);
        }
        pixels[i] = a << 24 | r << 16 | g << 8 | b;
    }
    return true;
}

// Whether n bytes can hold the stored samples of w x h pixels under the
// file's compression: plain data needs every byte, PackBits makes at most 64
// bytes of one, LZW about 3641, deflate 1032. Others (fax, JPEG) are not
// bounded here.
bool tiff_data_can_hold(TIFF* tif, std::int64_t w, std::int64_t h, std::int64_t n) {
    std::uint16_t compression = COMPRESSION_NONE, bits = 1, samples = 1;
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    lib.TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    std::int64_t ratio;
    switch (compression) {
        case COMPRESSION_NONE: ratio = 1; break;
        case COMPRESSION_PACKBITS: ratio = 64; break;
        case COMPRESSION_LZW: ratio = 3641; break;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: ratio = 1100; break;
        default: return true;
    }
    const std::int64_t bits_a_pixel = std::max<std::int64_t>(1, std::int64_t{bits} * samples);
    return w * h <= (n + 256) * ratio * 8 / bits_a_pixel;
}

}  // namespace

bool decode_tiff(const std::uint8_t* bytes, std::int64_t n, Cell& result) {
    Memory memory{.in = bytes, .size = static_cast<std::uint64_t>(n)};
    TiffFile tif{open("rm", memory)};
    if (!tif) return false;
    std::uint32_t w = 0, h = 0;
    if (!lib.TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w) || !lib.TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h) ||
        w == 0 || h == 0 || !size_ok(w, h) || !tiff_data_can_hold(tif.get(), w, h, n))
        return false;
    Cell made{};
    image::make_at(made, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), 0xFF000000u);
    std::uint16_t samples = 0;
    const bool ok = plain_rgb(tif.get(), samples) ? read_plain(tif.get(), w, h, samples, image::pixels(made))
                                                  : read_rgba(tif.get(), w, h, image::pixels(made));
    if (!ok) return false;
    result = made;
    return true;
}

bool encode_tiff(const Cell& img, std::vector<std::uint8_t>& out) {
    const std::int64_t w = image::width_of(img), h = image::height_of(img);
    const std::uint32_t* pixels = image::pixels(img);
    const bool alpha = std::any_of(pixels, pixels + w * h, [](std::uint32_t p) { return p >> 24 != 255; });
    const std::uint16_t samples = alpha ? 4 : 3;
    out.clear();
    Memory memory{.out = &out};
    TiffFile tif{open("w", memory)};
    if (!tif) return false;
    TIFF* t = tif.get();
    lib.TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(w));
    lib.TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(h));
    lib.TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    lib.TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    lib.TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    lib.TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    lib.TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    lib.TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    lib.TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (alpha) {
        const std::uint16_t kind = EXTRASAMPLE_UNASSALPHA;
        lib.TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    lib.TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, lib.TIFFDefaultStripSize(t, 0));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w * samples));
    for (std::int64_t y = 0; y < h; ++y) {
        const std::uint32_t* from = pixels + y * w;
        for (std::int64_t x = 0; x < w; ++x) {
            std::uint8_t* p = row.data() + x * samples;
            p[0] = static_cast<std::uint8_t>(from[x] >> 16);
            p[1] = static_cast<std::uint8_t>(from[x] >> 8);
            p[2] = static_cast<std::uint8_t>(from[x]);
            if (alpha) p[3] = static_cast<std::uint8_t>(from[x] >> 24);
        }
        if (lib.TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) < 0) return false;
    }
    if (!lib.TIFFFlush(t)) return false;
    tif.reset();
    out.resize(memory.size);
    return true;
}

}  // namespace kiv::image_codecs
