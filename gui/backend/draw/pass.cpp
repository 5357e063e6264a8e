// The draw pass: the drawing state around a block's parse on a Cairo context
// or on an image!'s pixels, nested states, image surfaces and fonts.
#include "gui/backend/draw/context.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace kiv::draw {

namespace {

std::uint32_t premultiply(std::uint32_t p) {
    const std::uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    auto m = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    return a << 24 | m(p >> 16 & 0xFF) << 16 | m(p >> 8 & 0xFF) << 8 | m(p & 0xFF);
}

std::uint32_t unpremultiply(std::uint32_t p) {
    const std::uint32_t a = p >> 24;
    if (a == 255 || a == 0) return p;
    auto d = [a](std::uint32_t c) { return std::min<std::uint32_t>(255, (c * 255 + a / 2) / a); };
    return a << 24 | d(p >> 16 & 0xFF) << 16 | d(p >> 8 & 0xFF) << 8 | d(p & 0xFF);
}

// A premultiplied copy of count pixels in a new surface.
cairo_surface_t* surface_of(const std::uint32_t* pixels, std::int32_t w, std::int32_t h) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    unsigned char* data = cairo_image_surface_get_data(s);
    if (data == nullptr) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    const int stride = cairo_image_surface_get_stride(s);
    for (std::int32_t y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        const std::uint32_t* from = pixels + static_cast<std::ptrdiff_t>(y) * w;
        for (std::int32_t x = 0; x < w; ++x) row[x] = premultiply(from[x]);
    }
    cairo_surface_mark_dirty(s);
    return s;
}

// Ends the pass however the parse ends: pops the clips still open, gives the
// context back as it was and releases what the pass made. (Cleanup by a
// destructor rather than a catch-all: a language error unwinds through here
// from the runtime, which may use a C++ library of its own.)
class PassEnd {
public:
    explicit PassEnd(Context& dc) : dc_(dc) {
        cairo_save(dc.cr);
        cairo_get_matrix(dc.cr, &dc.base);
        cairo_set_antialias(dc.cr, CAIRO_ANTIALIAS_GRAY);
    }
    ~PassEnd() {
        while (dc_.s.clip_count > 0) clip_pop(dc_);
        cairo_new_path(dc_.cr);
        cairo_restore(dc_.cr);
        if (dc_.layout != nullptr) g_object_unref(dc_.layout);
        dc_.layout = nullptr;
    }
    PassEnd(const PassEnd&) = delete;
    PassEnd& operator=(const PassEnd&) = delete;

private:
    Context& dc_;
};

Failure run_pass(Context& dc, const Cell& commands) {
    PassEnd end(dc);
    try {
        parse_draw(dc, commands);
    } catch (const DrawStop& stop) {
        return stop.failure;
    }
    return {};
}

}  // namespace

StateGuard::StateGuard(Context& dc) : dc_(dc), saved_(dc.s) {
    cairo_get_matrix(dc.cr, &matrix_);
    antialias_ = cairo_get_antialias(dc.cr);
}

StateGuard::~StateGuard() {
    while (dc_.s.clip_count > saved_.clip_count) clip_pop(dc_);
    cairo_set_matrix(dc_.cr, &matrix_);
    cairo_set_antialias(dc_.cr, antialias_);
    dc_.s = std::move(saved_);
}

cairo_surface_t* image_surface(Context& dc, const Cell& image) {
    if (dc.target_surface != nullptr && image.series_node() == dc.target_node) {
        // The pass's own target: a snapshot of it as drawn so far.
        cairo_surface_flush(dc.target_surface);
        const int w = cairo_image_surface_get_width(dc.target_surface);
        const int h = cairo_image_surface_get_height(dc.target_surface);
        cairo_surface_t* copy = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        cairo_t* cr = cairo_create(copy);
        cairo_set_source_surface(cr, dc.target_surface, 0, 0);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        return copy;
    }
    const std::uint32_t* pixels = image::pixels(image);
    const std::int32_t w = image::width_of(image);
    const std::int32_t h = image::height_of(image);
    if (pixels == nullptr || w <= 0 || h <= 0) return nullptr;
    return surface_of(pixels, w, h);
}

Failure draw_on_cairo(cairo_t* cr, const Cell& commands, OnError on_error) {
    if (!commands.is(TypeId::block)) return {};
    Context dc;
    dc.cr = cr;
    dc.on_error = on_error;
    return run_pass(dc, commands);
}

Failure draw_on_image(const Cell& image, const Cell& commands, OnError on_error) {
    if (!commands.is(TypeId::block) || block::clamped_head(commands) >= block::length_of(commands)) return {};
    std::uint32_t* pixels = image::pixels(image);
    const std::int32_t w = pixels != nullptr ? image::width_of(image) : 0;
    const std::int32_t h = pixels != nullptr ? image::height_of(image) : 0;
    cairo_surface_t* surface = w > 0 && h > 0 ? surface_of(pixels, w, h) : nullptr;
    if (surface == nullptr) surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 0, 0);
    cairo_t* cr = cairo_create(surface);
    Context dc;
    dc.cr = cr;
    dc.on_error = on_error;
    dc.target_node = image.series_node();
    dc.target_surface = surface;
    // Writes back the pixels the drawing changed, however the pass ended.
    struct CopyBack {
        cairo_t* cr;
        cairo_surface_t* surface;
        std::uint32_t* pixels;
        std::int32_t w, h;
        ~CopyBack() {
            cairo_destroy(cr);
            cairo_surface_flush(surface);
            const unsigned char* data = cairo_image_surface_get_data(surface);
            if (data != nullptr && pixels != nullptr) {
                const int stride = cairo_image_surface_get_stride(surface);
                for (std::int32_t y = 0; y < h; ++y) {
                    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
                    std::uint32_t* to = pixels + static_cast<std::ptrdiff_t>(y) * w;
                    for (std::int32_t x = 0; x < w; ++x)
                        if (row[x] != premultiply(to[x])) to[x] = unpremultiply(row[x]);
                }
            }
            cairo_surface_destroy(surface);
        }
    } copy_back{cr, surface, w > 0 && h > 0 ? pixels : nullptr, w, h};
    return run_pass(dc, commands);
}

}  // namespace kiv::draw
