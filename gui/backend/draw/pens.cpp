// Pens and fill pens: solid colours, gradients (with fitted and explicit
// geometry, and the legacy form), patterns drawn by a nested block, and
// bitmap tiles.
#include "gui/backend/draw/context.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/image.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kiv::draw {

namespace {

void set_brush(Context& dc, bool fill, Brush brush) {
    State& s = dc.s;
    if (fill) {
        s.fill = std::move(brush);
        return;
    }
    if (brush.kind == Brush::solid && !s.font_color) s.text_color = brush.color;
    s.pen = std::move(brush);
    if (s.line_width == 0) {
        s.saved_pen_kind = s.pen.kind;
        s.pen.kind = Brush::off;
    }
}

struct Stop {
    double at;
    std::uint32_t colour;
};

// Colour stops, each a colour optionally followed by a float! position.
std::vector<Stop> parse_stops(Cursor& c) {
    std::vector<std::pair<std::uint32_t, double>> given;  // position -1: none
    const std::int32_t first = c.at;
    while (c.colour_next()) {
        const std::uint32_t colour = c.colour();
        double at = -1;
        if (c.more() && c.peek().is(TypeId::float_)) {
            at = c.peek().f64();
            if (!std::isfinite(at)) c.fail();
            at = std::clamp(at, 0.0, 1.0);
            c.at++;
        }
        given.emplace_back(colour, at);
    }
    if (given.size() < 2) c.fail_at(given.empty() ? c.at : first);
    std::vector<Stop> stops;
    double pos = 0;
    const double step = 1.0 / static_cast<double>(given.size() - 1);
    for (const auto& [colour, at] : given) {
        if (at >= 0) {
            pos = at;
            stops.push_back({pos, colour});
        } else {
            stops.push_back({pos, colour});
            pos += step;
        }
    }
    return stops;
}

void add_stops(cairo_pattern_t* p, const std::vector<Stop>& stops) {
    for (const Stop& s : stops)
        cairo_pattern_add_color_stop_rgba(p, std::min(s.at, 1.0), (s.colour & 0xFF) / 255.0,
                                          (s.colour >> 8 & 0xFF) / 255.0, (s.colour >> 16 & 0xFF) / 255.0,
                                          (255 - (s.colour >> 24)) / 255.0);
}

cairo_extend_t spread(Cursor& c) {
    const Name n = c.word_name_next();
    if (n != Name::pad && n != Name::repeat && n != Name::reflect) return CAIRO_EXTEND_PAD;
    c.at++;
    return n == Name::repeat ? CAIRO_EXTEND_REPEAT : n == Name::reflect ? CAIRO_EXTEND_REFLECT : CAIRO_EXTEND_PAD;
}

void parse_gradient(Cursor& c, bool fill, Name type) {
    Brush b;
    b.gradient = type;
    cairo_pattern_t* p = nullptr;
    if (c.point_next()) {
        // Legacy form: offset, ramp start and stop along x, then angle and
        // scales, then the colours.
        const Point offset = c.point();
        if (!c.integer_next()) c.fail();
        const double start = c.take().int_value();
        if (!c.integer_next()) c.fail();
        const double stop = c.take().int_value();
        double numbers[3] = {0, 1, 1};
        for (int i = 0; i < 3 && c.number_next(); ++i) numbers[i] = c.number();
        const std::vector<Stop> stops = parse_stops(c);
        p = type == Name::linear ? cairo_pattern_create_linear(start, 0, stop, 0)
                                 : cairo_pattern_create_radial(0, 0, std::max(0.0, std::min(start, stop)), 0, 0,
                                                               std::max(0.0, std::max(start, stop)));
        add_stops(p, stops);
        cairo_matrix_init_translate(&b.transform, offset.x, offset.y);
        cairo_matrix_rotate(&b.transform, numbers[0] * std::numbers::pi / 180);
        cairo_matrix_scale(&b.transform, numbers[1], numbers[2]);
        cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
        b.kind = Brush::own;
    } else {
        const std::vector<Stop> stops = parse_stops(c);
        b.kind = Brush::fitted;
        if (type == Name::linear) {
            if (c.point_next()) {
                const Point a = c.point();
                const Point e = c.point();
                p = cairo_pattern_create_linear(a.x, a.y, e.x, e.y);
                b.kind = Brush::own;
            } else {
                p = cairo_pattern_create_linear(0, 0, 1, 0);
            }
        } else if (c.point_next()) {
            const Point centre = c.point();
            double radius;
            if (type == Name::radial) {
                radius = std::abs(c.number());
            } else {
                const Point edge = c.point();
                radius = std::hypot(edge.x - centre.x, edge.y - centre.y);
            }
            const Point focal = c.point_next() ? c.point() : centre;
            p = cairo_pattern_create_radial(focal.x, focal.y, 0, centre.x, centre.y, radius);
            b.kind = Brush::own;
        } else {
            p = cairo_pattern_create_radial(0, 0, 0, 0, 0, 1);
        }
        add_stops(p, stops);
        cairo_pattern_set_extend(p, spread(c));
    }
    b.pattern = PatternRef(p);
    set_brush(c.dc, fill, std::move(b));
}

// Makes the tile brush of surface: the crop (top-left, bottom-right; the
// whole surface when absent) repeated as the tile word says.
void tile_brush(Cursor& c, bool fill, cairo_surface_t* surface, double w, double h, bool cropped, Point tl,
                Point br, Name tile) {
    if (!cropped) tl = {0, 0}, br = {w, h};
    br.x = std::min(br.x, w);
    br.y = std::min(br.y, h);
    tl.x = std::max(tl.x, 0.0);
    tl.y = std::max(tl.y, 0.0);
    const int cw = static_cast<int>(br.x - tl.x);
    const int ch = static_cast<int>(br.y - tl.y);
    if (cw <= 0 || ch <= 0) {
        set_brush(c.dc, fill, Brush{});
        return;
    }
    const bool mx = tile == Name::flip_x || tile == Name::flip_xy;
    const bool my = tile == Name::flip_y || tile == Name::flip_xy;
    // A flipped tile is made twice as wide (high), with the mirror image in
    // the second half, and then repeated.
    const int tw = mx ? 2 * cw : cw;
    const int th = my ? 2 * ch : ch;
    cairo_surface_t* tile_surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, tw, th);
    cairo_t* t = cairo_create(tile_surface);
    for (int i = 0; i < (mx ? 2 : 1); ++i) {
        for (int j = 0; j < (my ? 2 : 1); ++j) {
            cairo_save(t);
            cairo_translate(t, i == 1 ? tw : 0, j == 1 ? th : 0);
            cairo_scale(t, i == 1 ? -1 : 1, j == 1 ? -1 : 1);
            cairo_set_source_surface(t, surface, -tl.x, -tl.y);
            cairo_rectangle(t, 0, 0, cw, ch);
            cairo_fill(t);
            cairo_restore(t);
        }
    }
    cairo_destroy(t);
    Brush b;
    b.kind = Brush::own;
    cairo_pattern_t* p = cairo_pattern_create_for_surface(tile_surface);
    cairo_surface_destroy(tile_surface);
    cairo_pattern_set_extend(p, tile == Name::clamp ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_REPEAT);
    b.pattern = PatternRef(p);
    set_brush(c.dc, fill, std::move(b));
}

// Optional crop corners and tile word.
struct TileArgs {
    bool cropped = false;
    Point tl;
    Point br;
    Name tile = Name::tile;
};

TileArgs tile_args(Cursor& c) {
    TileArgs a;
    if (c.point_next()) {
        a.cropped = true;
        a.tl = c.point();
        a.br = c.point_next() ? c.point() : Point{1e9, 1e9};
    }
    const Name n = c.word_name_next();
    if (n == Name::tile || n == Name::flip_x || n == Name::flip_y || n == Name::flip_xy || n == Name::clamp) {
        a.tile = n;
        c.at++;
    }
    return a;
}

void parse_pattern(Cursor& c, bool fill) {
    const std::int32_t size_at = c.at;
    const Point size = c.point();
    const TileArgs args = tile_args(c);
    const Cell commands = c.block_value();
    const double w = std::ceil(size.x);
    const double h = std::ceil(size.y);
    if (w > max_offscreen_side || h > max_offscreen_side || w * h > static_cast<double>(max_offscreen_pixels) ||
        static_cast<double>(c.dc.pattern_pixels) + w * h > static_cast<double>(max_pattern_pixels))
        c.fail_at(size_at);
    if (w < 1 || h < 1) {
        set_brush(c.dc, fill, Brush{});
        return;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(w), static_cast<int>(h));
    cairo_t* cr = cairo_create(surface);
    const auto pixels = static_cast<std::int64_t>(w * h);
    struct Swap {
        Context& dc;
        cairo_t* outer;
        cairo_t* inner;
        cairo_surface_t* surface;
        std::int64_t pixels;
        ~Swap() {
            dc.cr = outer;
            dc.pattern_pixels -= pixels;
            cairo_destroy(inner);
            cairo_surface_destroy(surface);
        }
    } swap{c.dc, c.dc.cr, cr, surface, pixels};
    c.dc.pattern_pixels += pixels;
    {
        c.dc.cr = cr;
        StateGuard guard(c.dc);
        c.dc.s.singular = false;
        parse_draw(c.dc, commands);
    }
    c.dc.cr = swap.outer;
    cairo_surface_flush(surface);
    tile_brush(c, fill, surface, w, h, args.cropped, args.tl, args.br, args.tile);
}

void parse_bitmap(Cursor& c, bool fill) {
    if (!c.more() || !c.peek().is(TypeId::word)) c.fail();
    const Cell* value = context::peek_word_cell(c.peek());
    if (value == nullptr || !value->is(TypeId::image)) c.fail();
    const Cell img = *value;
    c.at++;
    const TileArgs args = tile_args(c);
    cairo_surface_t* surface = image_surface(c.dc, img);
    if (surface == nullptr) {
        set_brush(c.dc, fill, Brush{});
        return;
    }
    const double w = image::width_of(img);
    const double h = image::height_of(img);
    if (w * h * 4 > static_cast<double>(max_offscreen_pixels)) {
        // Flipped copies of a huge bitmap would not fit: tile it as it is.
        Brush b;
        b.kind = Brush::own;
        cairo_pattern_t* p = cairo_pattern_create_for_surface(surface);
        cairo_pattern_set_extend(p, args.tile == Name::clamp ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_REPEAT);
        b.pattern = PatternRef(p);
        set_brush(c.dc, fill, std::move(b));
    } else {
        tile_brush(c, fill, surface, w, h, args.cropped, args.tl, args.br, args.tile);
    }
    cairo_surface_destroy(surface);
}

}  // namespace

void parse_pen(Cursor& c, bool fill) {
    if (!c.more()) c.fail();
    switch (c.word_name_next()) {
        case Name::off:
            c.at++;
            if (fill) {
                c.dc.s.fill.kind = Brush::off;
            } else {
                c.dc.s.pen.kind = Brush::off;
                c.dc.s.saved_pen_kind = Brush::off;
            }
            return;
        case Name::linear:
        case Name::radial:
        case Name::diamond: {
            const Name type = c.word();
            parse_gradient(c, fill, type);
            return;
        }
        case Name::pattern:
            c.at++;
            parse_pattern(c, fill);
            return;
        case Name::bitmap:
            c.at++;
            parse_bitmap(c, fill);
            return;
        default: break;
    }
    Brush b;
    b.kind = Brush::solid;
    b.color = c.colour();
    set_brush(c.dc, fill, std::move(b));
}

}  // namespace kiv::draw
