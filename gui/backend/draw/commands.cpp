// The drawing commands: shapes, lines, line attributes, text, images and
// shadows, and the painting every closed shape shares (fill, then outline).
#include "gui/backend/draw/context.h"

#include "gui/backend/text/face_box.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/image_quad.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/core/collector.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

namespace kiv::draw {

namespace {

constexpr double pi = std::numbers::pi;
constexpr double degrees = pi / 180;
// Points a spline may have: each span becomes 25 segments.
constexpr std::int32_t max_spline_points = 100000;

// The field of a font or face object named name, or null.
const Cell* field_of(const Cell& object, const char* name) {
    const NodeId ctx = object.object_context();
    const std::int32_t index = context::find_symbol(ctx, symbol::make(name), true);
    return index < 0 ? nullptr : context::value_at(ctx, index);
}

// The value a word stands for (any type), or the value itself.
const Cell& deref(const Cell& value) {
    if (value.is(TypeId::word)) {
        const Cell* v = context::peek_word_cell(value);
        if (v != nullptr) return *v;
    }
    return value;
}

void stroke_setup(Context& dc) {
    cairo_t* cr = dc.cr;
    const double w = dc.s.line_width;
    cairo_set_line_width(cr, w);
    cairo_set_line_join(cr, dc.s.join);
    cairo_set_line_cap(cr, dc.s.cap);
    cairo_set_miter_limit(cr, 10);
    if (dc.s.dashes.empty()) {
        cairo_set_dash(cr, nullptr, 0, 0);
    } else {
        double scaled[256];
        const int n = static_cast<int>(std::min<std::size_t>(dc.s.dashes.size(), 256));
        for (int i = 0; i < n; ++i) scaled[i] = dc.s.dashes[static_cast<std::size_t>(i)] * w;
        cairo_set_dash(cr, scaled, n, 0);
    }
}

// Makes the brush the source of dc.cr; false when it paints nothing.
bool use_brush(Context& dc, const Brush& b) {
    cairo_t* cr = dc.cr;
    if (b.kind == Brush::solid) {
        set_colour(cr, b.color);
        return true;
    }
    if (b.kind == Brush::off || b.pattern.get() == nullptr) return false;
    cairo_matrix_t m = b.transform;
    if (b.kind == Brush::fitted) {
        double x1, y1, x2, y2;
        cairo_path_extents(cr, &x1, &y1, &x2, &y2);
        const double w = x2 - x1;
        const double h = y2 - y1;
        cairo_matrix_t sized;
        if (b.gradient == Name::linear) {
            cairo_matrix_init_scale(&sized, w, w);
        } else {
            const double r = std::min(w, h) / 2;
            cairo_matrix_init_translate(&sized, w / 2, h / 2);
            cairo_matrix_scale(&sized, r, r);
        }
        cairo_matrix_t origin;
        cairo_matrix_init_translate(&origin, x1, y1);
        cairo_matrix_t t;
        cairo_matrix_multiply(&t, &sized, &b.transform);
        cairo_matrix_multiply(&m, &t, &origin);
    }
    if (cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) return false;
    cairo_pattern_set_matrix(b.pattern.get(), &m);
    cairo_set_source(cr, b.pattern.get());
    return true;
}

bool is_image(const Cell& v) { return v.is(TypeId::image); }

}  // namespace

void paint_path(Context& dc, bool filled, bool stroked) {
    cairo_t* cr = dc.cr;
    if (!dc.s.singular) {
        if (filled && dc.s.fill.kind != Brush::off && use_brush(dc, dc.s.fill)) {
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
            cairo_fill_preserve(cr);
        }
        if (stroked && dc.s.pen.kind != Brush::off && use_brush(dc, dc.s.pen)) {
            stroke_setup(dc);
            cairo_stroke_preserve(cr);
        }
    }
    cairo_new_path(cr);
}

void add_arc(cairo_t* cr, double cx, double cy, double rx, double ry, double phi, double t0, double t1, bool line_to) {
    const double c = std::cos(phi);
    const double s = std::sin(phi);
    auto at = [&](double t, double& x, double& y) {
        const double ex = rx * std::cos(t);
        const double ey = ry * std::sin(t);
        x = cx + ex * c - ey * s;
        y = cy + ex * s + ey * c;
    };
    auto slope = [&](double t, double& x, double& y) {
        const double ex = -rx * std::sin(t);
        const double ey = ry * std::cos(t);
        x = ex * c - ey * s;
        y = ex * s + ey * c;
    };
    double x, y;
    at(t0, x, y);
    if (line_to && cairo_has_current_point(cr)) cairo_line_to(cr, x, y);
    else cairo_move_to(cr, x, y);
    const double sweep = t1 - t0;
    const int segments = std::max(1, static_cast<int>(std::ceil(std::abs(sweep) / (pi / 2) - 1e-9)));
    const double step = sweep / segments;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    for (int i = 0; i < segments; ++i) {
        const double a = t0 + step * i;
        const double b = i + 1 == segments ? t1 : a + step;
        double ax, ay, bx, by, da_x, da_y, db_x, db_y;
        at(a, ax, ay);
        at(b, bx, by);
        slope(a, da_x, da_y);
        slope(b, db_x, db_y);
        cairo_curve_to(cr, ax + k * da_x, ay + k * da_y, bx - k * db_x, by - k * db_y, bx, by);
    }
}

namespace {

void add_ellipse(cairo_t* cr, double cx, double cy, double rx, double ry) {
    add_arc(cr, cx, cy, rx, ry, 0, 0, 2 * pi, false);
    cairo_close_path(cr);
}

// --- Shadows -----------------------------------------------------------------

// Blurs an 8-bit alpha buffer in place with three box blurs, which come close
// to a gaussian of standard deviation sigma.
void blur_alpha(std::vector<std::uint8_t>& a, int w, int h, double sigma) {
    if (sigma < 0.5) return;
    const int r = std::max(1, static_cast<int>(std::lround(std::sqrt(4 * sigma * sigma + 1) - 1) / 2));
    std::vector<std::uint8_t> line(static_cast<std::size_t>(std::max(w, h)));
    auto pass = [&](std::uint8_t* first, int n, int stride) {
        for (int round = 0; round < 3; ++round) {
            int sum = 0;
            for (int i = -r; i <= r; ++i) sum += i >= 0 && i < n ? first[i * stride] : 0;
            for (int i = 0; i < n; ++i) {
                line[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(sum / (2 * r + 1));
                const int out = i - r;
                const int in = i + r + 1;
                if (out >= 0) sum -= first[out * stride];
                if (in < n) sum += first[in * stride];
            }
            for (int i = 0; i < n; ++i) first[i * stride] = line[static_cast<std::size_t>(i)];
        }
    };
    for (int y = 0; y < h; ++y) pass(a.data() + static_cast<std::ptrdiff_t>(y) * w, w, 1);
    for (int x = 0; x < w; ++x) pass(a.data() + x, h, w);
}

// Paints the path in dc.cr with its shadows: the shape goes into an offscreen
// buffer, each shadow is that buffer's coverage spread, blurred and coloured,
// and the shape is painted over them. False when the buffer would be too
// large (the caller then paints the shape alone).
bool paint_with_shadows(Context& dc) {
    cairo_t* cr = dc.cr;
    double x1, y1, x2, y2;
    cairo_save(cr);
    stroke_setup(dc);
    cairo_stroke_extents(cr, &x1, &y1, &x2, &y2);
    cairo_restore(cr);
    // The device-space box of the shape (the transform may turn it).
    double bx1 = HUGE_VAL, by1 = HUGE_VAL, bx2 = -HUGE_VAL, by2 = -HUGE_VAL;
    for (const Point corner : {Point{x1, y1}, Point{x2, y1}, Point{x1, y2}, Point{x2, y2}}) {
        double x = corner.x, y = corner.y;
        cairo_user_to_device(cr, &x, &y);
        bx1 = std::min(bx1, std::floor(x));
        by1 = std::min(by1, std::floor(y));
        bx2 = std::max(bx2, std::ceil(x));
        by2 = std::max(by2, std::ceil(y));
    }
    const double w = bx2 - bx1;
    const double h = by2 - by1;
    if (!(w >= 1 && h >= 1) || w > max_offscreen_side || h > max_offscreen_side ||
        w * h > static_cast<double>(max_offscreen_pixels))
        return false;
    const int iw = static_cast<int>(w);
    const int ih = static_cast<int>(h);
    cairo_surface_t* shape = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, iw, ih);
    cairo_t* sc = cairo_create(shape);
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    cairo_matrix_t shift;
    cairo_matrix_init_translate(&shift, -bx1, -by1);
    cairo_matrix_t placed;
    cairo_matrix_multiply(&placed, &m, &shift);
    cairo_set_matrix(sc, &placed);
    cairo_set_antialias(sc, cairo_get_antialias(cr));
    cairo_path_t* path = cairo_copy_path(cr);
    cairo_append_path(sc, path);
    cairo_path_destroy(path);
    cairo_t* real = dc.cr;
    dc.cr = sc;
    paint_path(dc, true, true);
    dc.cr = real;
    cairo_destroy(sc);
    cairo_surface_flush(shape);
    const unsigned char* data = cairo_image_surface_get_data(shape);
    const int stride = cairo_image_surface_get_stride(shape);
    cairo_new_path(cr);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    for (const Shadow& sh : dc.s.shadows) {
        const double spread = std::clamp(sh.spread, 0.0, static_cast<double>(max_offscreen_side));
        const double sigma = std::clamp(sh.blur, 0.0, 1000.0) / 1.88;
        const int margin = static_cast<int>(std::ceil(3 * sigma));
        const double sw = w + 2 * spread + 2 * margin;
        const double shh = h + 2 * spread + 2 * margin;
        if (sw > max_offscreen_side || shh > max_offscreen_side || sw * shh > static_cast<double>(max_offscreen_pixels))
            continue;
        const int aw = static_cast<int>(sw);
        const int ah = static_cast<int>(shh);
        std::vector<std::uint8_t> alpha(static_cast<std::size_t>(aw) * static_cast<std::size_t>(ah));
        const double fx = (2 * spread + w) / w;
        const double fy = (2 * spread + h) / h;
        for (int y = 0; y < ah; ++y) {
            const int sy = static_cast<int>(std::floor((y - margin + 0.5) / fy));
            if (sy < 0 || sy >= ih) continue;
            for (int x = 0; x < aw; ++x) {
                const int sx = static_cast<int>(std::floor((x - margin + 0.5) / fx));
                if (sx < 0 || sx >= iw) continue;
                std::uint32_t p;
                std::memcpy(&p, data + static_cast<std::ptrdiff_t>(sy) * stride + sx * 4, 4);
                alpha[static_cast<std::size_t>(y) * static_cast<std::size_t>(aw) + static_cast<std::size_t>(x)] =
                    static_cast<std::uint8_t>(p >> 24);
            }
        }
        blur_alpha(alpha, aw, ah, sigma);
        const int astride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, aw);
        cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, aw, ah);
        unsigned char* md = cairo_image_surface_get_data(mask);
        if (md != nullptr) {
            for (int y = 0; y < ah; ++y)
                std::memcpy(md + static_cast<std::ptrdiff_t>(y) * astride,
                            alpha.data() + static_cast<std::ptrdiff_t>(y) * aw, static_cast<std::size_t>(aw));
            cairo_surface_mark_dirty(mask);
            set_colour(cr, sh.color);
            cairo_mask_surface(cr, mask, bx1 + sh.dx - spread - margin, by1 + sh.dy - spread - margin);
        }
        cairo_surface_destroy(mask);
    }
    cairo_set_source_surface(cr, shape, bx1, by1);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(shape);
    return true;
}

// Paints a closed shape's path: with its shadows when some are set.
void paint_shape(Context& dc) {
    if (!dc.s.shadows.empty() && !dc.s.singular && paint_with_shadows(dc)) return;
    paint_path(dc, true, true);
}

// --- Commands ------------------------------------------------------------------

void draw_box(Cursor& c) {
    Point a = c.point();
    Point b = c.point();
    double radius = c.number_next() ? c.number() : 0;
    if (a.x > b.x) std::swap(a.x, b.x);
    if (a.y > b.y) std::swap(a.y, b.y);
    cairo_t* cr = c.dc.cr;
    const double w = b.x - a.x;
    const double h = b.y - a.y;
    radius = std::clamp(radius, 0.0, std::min(w, h) / 2);
    if (radius > 0) {
        cairo_new_sub_path(cr);
        add_arc(cr, b.x - radius, a.y + radius, radius, radius, 0, -pi / 2, 0, false);
        add_arc(cr, b.x - radius, b.y - radius, radius, radius, 0, 0, pi / 2, true);
        add_arc(cr, a.x + radius, b.y - radius, radius, radius, 0, pi / 2, pi, true);
        add_arc(cr, a.x + radius, a.y + radius, radius, radius, 0, pi, 3 * pi / 2, true);
        cairo_close_path(cr);
    } else {
        cairo_rectangle(cr, a.x, a.y, w, h);
    }
    paint_shape(c.dc);
}

// The points of a run (at least min of them).
std::vector<Point> point_run(Cursor& c, std::size_t min) {
    const std::int32_t first = c.at;
    std::vector<Point> points;
    while (c.point_next()) points.push_back(point_of(c.take()));
    if (points.size() < min) c.fail_at(points.empty() ? c.at : first);
    return points;
}

void draw_line(Cursor& c) {
    const std::vector<Point> pts = point_run(c, 2);
    cairo_t* cr = c.dc.cr;
    cairo_move_to(cr, pts[0].x, pts[0].y);
    for (std::size_t i = 1; i < pts.size(); ++i) cairo_line_to(cr, pts[i].x, pts[i].y);
    paint_path(c.dc, pts.size() > 2, true);
}

void draw_polygon(Cursor& c, std::size_t count) {
    std::vector<Point> pts;
    if (count == 3) {
        for (int i = 0; i < 3; ++i) pts.push_back(c.point());
    } else {
        pts = point_run(c, 3);
    }
    cairo_t* cr = c.dc.cr;
    cairo_move_to(cr, pts[0].x, pts[0].y);
    for (std::size_t i = 1; i < pts.size(); ++i) cairo_line_to(cr, pts[i].x, pts[i].y);
    cairo_close_path(cr);
    paint_path(c.dc, true, true);
}

void draw_circle(Cursor& c) {
    const Point centre = c.point();
    const double rx = c.number();
    const double ry = c.number_next() ? c.number() : rx;
    if (rx < 0 || ry < 0) return;
    add_ellipse(c.dc.cr, centre.x, centre.y, rx, ry);
    paint_shape(c.dc);
}

void draw_ellipse(Cursor& c) {
    const Point at = c.point();
    const Point size = c.point();
    if (size.x < 0 || size.y < 0) return;
    add_ellipse(c.dc.cr, at.x + size.x / 2, at.y + size.y / 2, size.x / 2, size.y / 2);
    paint_shape(c.dc);
}

void draw_arc(Cursor& c) {
    const Point centre = c.point();
    const Point radii = c.point();
    const double start = c.number();
    const double sweep = c.number();
    const bool closed = c.name_next(Name::closed);
    if (closed) c.at++;
    const double rx = radii.x;
    const double ry = radii.y;
    if (rx < 0 || ry < 0) return;
    cairo_t* cr = c.dc.cr;
    if (std::abs(sweep) >= 359.999) {
        add_ellipse(cr, centre.x, centre.y, rx, ry);
        paint_shape(c.dc);
        return;
    }
    double a = start * degrees;
    double e = (start + sweep) * degrees;
    if (rx != ry) {
        a = std::atan2(std::sin(a) * rx, std::cos(a) * ry);
        e = std::atan2(std::sin(e) * rx, std::cos(e) * ry);
    }
    double d = e - a;
    if (sweep > 0) {
        d = std::fmod(d, 2 * pi);
        if (d <= 0) d += 2 * pi;
    } else if (sweep < 0) {
        d = std::fmod(d, 2 * pi);
        if (d >= 0) d -= 2 * pi;
    } else {
        d = 0;
    }
    if (closed) cairo_move_to(cr, centre.x, centre.y);
    add_arc(cr, centre.x, centre.y, rx, ry, 0, a, a + d, closed);
    if (closed) cairo_close_path(cr);
    paint_path(c.dc, closed, true);
}

void draw_curve(Cursor& c) {
    const Point p0 = c.point();
    const Point p1 = c.point();
    const Point p2 = c.point();
    cairo_t* cr = c.dc.cr;
    cairo_move_to(cr, p0.x, p0.y);
    if (c.point_next()) {
        const Point p3 = c.point();
        cairo_curve_to(cr, p1.x, p1.y, p2.x, p2.y, p3.x, p3.y);
    } else {
        cairo_curve_to(cr, (2 * p1.x + p0.x) / 3, (2 * p1.y + p0.y) / 3, (2 * p1.x + p2.x) / 3,
                       (2 * p1.y + p2.y) / 3, p2.x, p2.y);
    }
    paint_path(c.dc, false, true);
}

void draw_spline(Cursor& c) {
    const std::int32_t first = c.at;
    const std::vector<Point> p = point_run(c, 2);
    if (p.size() > max_spline_points) c.fail_at(first);
    const bool closed = c.name_next(Name::closed);
    if (closed) c.at++;
    cairo_t* cr = c.dc.cr;
    cairo_move_to(cr, p[0].x, p[0].y);
    if (p.size() == 2) {
        cairo_line_to(cr, p[1].x, p[1].y);
        paint_path(c.dc, false, true);
        return;
    }
    const std::size_t n = p.size();
    auto span = [&](const Point& p0, const Point& p1, const Point& p2, const Point& p3) {
        for (int step = 1; step <= 25; ++step) {
            const double t = step * 0.04;
            const double t2 = t * t;
            const double t3 = t2 * t;
            auto f = [&](double a0, double a1, double a2, double a3) {
                return 0.5 * (2 * a1 + (a2 - a0) * t + (2 * a0 - 5 * a1 + 4 * a2 - a3) * t2 +
                              (3 * (a1 - a2) + a3 - a0) * t3);
            };
            cairo_line_to(cr, f(p0.x, p1.x, p2.x, p3.x), f(p0.y, p1.y, p2.y, p3.y));
        }
    };
    if (closed) {
        for (std::size_t i = 0; i < n; ++i)
            span(p[(i + n - 1) % n], p[i], p[(i + 1) % n], p[(i + 2) % n]);
        cairo_close_path(cr);
    } else {
        for (std::size_t i = 0; i + 1 < n; ++i)
            span(p[i == 0 ? 0 : i - 1], p[i], p[i + 1], p[i + 2 < n ? i + 2 : n - 1]);
    }
    paint_path(c.dc, c.dc.s.fill.kind != Brush::off, true);
}

void set_line_width(Context& dc, double width) {
    State& s = dc.s;
    if (width == 0) {
        if (s.line_width != 0) s.saved_pen_kind = s.pen.kind;
        s.pen.kind = Brush::off;
        s.line_width = 0;
        return;
    }
    if (width == s.line_width) return;
    if (s.line_width == 0) s.pen.kind = s.saved_pen_kind;
    s.line_width = width;
}

void draw_line_pattern(Cursor& c) {
    std::vector<double> dashes;
    bool any = false;
    while (c.integer_next()) {
        const std::int32_t v = c.take().int_value();
        dashes.push_back(std::max(0, v));
        any = any || v > 0;
    }
    if (!any) dashes.clear();
    c.dc.s.dashes = std::move(dashes);
}

void set_font(Cursor& c) {
    if (!c.more()) c.fail();
    const Cell& font = deref(c.peek());
    if (!font.is(TypeId::object)) c.fail();
    c.at++;
    State& s = c.dc.s;
    s.font = font_description(&font);
    const Cell* colour = field_of(font, "color");
    s.font_color = colour != nullptr && colour->is(TypeId::tuple);
    s.text_color = s.font_color ? pack_colour(*colour) : s.pen.color;
    s.decorations = 0;
    if (const Cell* style = field_of(font, "style")) {
        auto mark = [&](const Cell& w) {
            if (!w.is(TypeId::word)) return;
            const std::string_view n = symbol::name(symbol::resolve_alias(w.word_symbol()));
            if (n == "underline") s.decorations |= 1;
            if (n == "strike") s.decorations |= 2;
        };
        if (style->is(TypeId::block)) {
            const Cell* first = block::first_cell(*style);
            for (std::int32_t i = block::clamped_head(*style); i < block::length_of(*style); ++i) mark(first[i]);
        } else {
            mark(*style);
        }
    }
}

void show_text(Context& dc, Point at, const std::string& text) {
    cairo_t* cr = dc.cr;
    if (dc.layout == nullptr) {
        dc.layout = pango_cairo_create_layout(cr);
        pango_cairo_context_set_font_options(pango_layout_get_context(dc.layout), text::font_options());
    } else {
        pango_cairo_update_layout(cr, dc.layout);
    }
    PangoLayout* layout = dc.layout;
    pango_layout_set_font_description(layout, dc.s.font != nullptr ? dc.s.font.get() : font_description(nullptr).get());
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    if (dc.s.decorations != 0) {
        PangoAttrList* list = pango_attr_list_new();
        if (dc.s.decorations & 1) pango_attr_list_insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (dc.s.decorations & 2) pango_attr_list_insert(list, pango_attr_strikethrough_new(TRUE));
        pango_layout_set_attributes(layout, list);
        pango_attr_list_unref(list);
    } else {
        pango_layout_set_attributes(layout, nullptr);
    }
    if (dc.s.singular) return;
    const Brush& pen = dc.s.pen;
    if (pen.kind == Brush::own || pen.kind == Brush::fitted) {
        int w, h;
        pango_layout_get_pixel_size(layout, &w, &h);
        cairo_rectangle(cr, at.x, at.y, w, h);
        const bool ok = use_brush(dc, pen);
        cairo_new_path(cr);
        if (!ok) return;
    } else {
        set_colour(cr, dc.s.text_color);
    }
    cairo_move_to(cr, at.x, at.y);
    pango_cairo_show_layout(cr, layout);
    cairo_new_path(cr);
}

void draw_text(Cursor& c) {
    const Point at = c.point();
    if (!c.more()) c.fail();
    const Cell value = c.take();
    if (value.is(TypeId::string)) {
        show_text(c.dc, at, string::utf8_of(value));
        return;
    }
    if (!value.is(TypeId::object)) c.fail_at(c.at - 1);
    // A face: its colour behind its size, then its text-box.
    const Cell* colour = field_of(value, "color");
    const Cell* size = field_of(value, "size");
    if (colour != nullptr && colour->is(TypeId::tuple) && size != nullptr &&
        (size->is(TypeId::pair) || size->is(TypeId::point2d)) && !c.dc.s.singular) {
        const Point s = point_of(*size);
        set_colour(c.dc.cr, pack_colour(*colour));
        cairo_rectangle(c.dc.cr, at.x, at.y, s.x, s.y);
        cairo_fill(c.dc.cr);
    }
    const text::FaceBox made = text::layout_face(value);
    if (made.fault.any()) draw_error(c.dc, made.fault.block, made.fault.index);
    if (!c.dc.s.singular) made.box->paint(c.dc.cr, {at.x, at.y}, c.dc.s.text_color);
}

// Paints the source rectangle (sx, sy, sw, sh) of surface into the
// destination rectangle (dx, dy, dw, dh).
void paint_image(Context& dc, cairo_surface_t* surface, double sx, double sy, double sw, double sh, double dx,
                 double dy, double dw, double dh) {
    if (sw <= 0 || sh <= 0 || dw == 0 || dh == 0 || dc.s.singular) return;
    cairo_t* cr = dc.cr;
    cairo_surface_t* part = cairo_surface_create_for_rectangle(surface, sx, sy, sw, sh);
    cairo_save(cr);
    cairo_translate(cr, dx, dy);
    cairo_scale(cr, dw / sw, dh / sh);
    cairo_set_source_surface(cr, part, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_rectangle(cr, 0, 0, sw, sh);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(part);
}

void draw_image(Cursor& c) {
    if (!c.more()) c.fail();
    const std::int32_t image_at = c.at;
    const Cell img = deref(c.peek());
    if (!is_image(img)) c.fail();
    c.at++;
    const std::int32_t first_point = c.at;
    std::vector<Point> pts;
    while (c.point_next()) {
        if (pts.size() == 4) c.fail();
        pts.push_back(point_of(c.take()));
    }
    if (c.colour_next()) c.at++;
    bool cropped = false;
    Point crop_at, crop_size;
    if (c.name_next(Name::border)) {
        c.at++;
    } else if (c.name_next(Name::crop)) {
        c.at++;
        crop_at = c.point();
        crop_size = c.point();
        cropped = true;
    }
    (void)image_at;
    const double iw = image::width_of(img);
    const double ih = image::height_of(img);
    double sx = 0, sy = 0, sx2 = iw, sy2 = ih;
    if (cropped) {
        sx = crop_at.x;
        sy = crop_at.y;
        sx2 = crop_at.x + crop_size.x;
        sy2 = crop_at.y + crop_size.y;
        if (sx > sx2) std::swap(sx, sx2);
        if (sy > sy2) std::swap(sy, sy2);
    }
    if (sx2 <= 0 || sy2 <= 0) return;
    double shift_x = 0, shift_y = 0;
    if (sx < 0) shift_x = -sx, sx = 0;
    if (sy < 0) shift_y = -sy, sy = 0;
    sx2 = std::min(sx2, iw);
    sy2 = std::min(sy2, ih);
    if (sx2 <= sx || sy2 <= sy) return;
    if (pts.size() >= 3) {
        Cell corners[4];
        for (std::size_t i = 0; i < pts.size(); ++i) {
            corners[i].reset(TypeId::point2d);
            corners[i].set_point_coord(0, static_cast<float>(pts[i].x));
            corners[i].set_point_coord(1, static_cast<float>(pts[i].y));
        }
        if (pts.size() == 3) {
            corners[3] = corners[2];
            corners[3].set_point_coord(0, static_cast<float>(pts[0].x));
        }
        // The figure's box becomes a new image: keep it within the bounds
        // of offscreen buffers.
        double x1 = pts[0].x, x2 = x1, y1 = pts[0].y, y2 = y1;
        for (const Point& p : pts) {
            x1 = std::min(x1, p.x), x2 = std::max(x2, p.x);
            y1 = std::min(y1, p.y), y2 = std::max(y2, p.y);
        }
        if ((x2 - x1 + 2) * (y2 - y1 + 2) > static_cast<double>(max_offscreen_pixels)) return;
        const image_quad::Crop crop{static_cast<std::int32_t>(sx), static_cast<std::int32_t>(sy),
                                    static_cast<std::int32_t>(sx2 - sx), static_cast<std::int32_t>(sy2 - sy)};
        image_quad::Placed placed;
        if (!image_quad::build(img, &crop, corners, 4, false, false, placed)) return;
        collector::Root keep(placed.image);
        cairo_surface_t* s = image_surface(c.dc, placed.image);
        if (s == nullptr) return;
        const double w = image::width_of(placed.image);
        const double h = image::height_of(placed.image);
        paint_image(c.dc, s, 0, 0, w, h, placed.x, placed.y, w, h);
        cairo_surface_destroy(s);
        return;
    }
    (void)first_point;
    cairo_surface_t* s = image_surface(c.dc, img);
    if (s == nullptr) return;
    const double sw = sx2 - sx;
    const double sh = sy2 - sy;
    double dx = 0, dy = 0, dw = sw, dh = sh;
    if (!pts.empty()) dx = pts[0].x, dy = pts[0].y;
    if (pts.size() == 2) {
        dw = pts[1].x - pts[0].x;
        dh = pts[1].y - pts[0].y;
    }
    paint_image(c.dc, s, sx, sy, sw, sh, dx + shift_x, dy + shift_y, dw, dh);
    cairo_surface_destroy(s);
}

// Miter for miter, miter-bevel and any other word (Cairo's miter turns to a
// bevel past the limit).
cairo_line_join_t join_of(Name n) {
    return n == Name::bevel ? CAIRO_LINE_JOIN_BEVEL : n == Name::round ? CAIRO_LINE_JOIN_ROUND : CAIRO_LINE_JOIN_MITER;
}

cairo_line_cap_t cap_of(Name n) {
    return n == Name::square ? CAIRO_LINE_CAP_SQUARE : n == Name::round ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT;
}

void set_shadow(Cursor& c) {
    State& s = c.dc.s;
    if (c.name_next(Name::off)) {
        c.at++;
        s.shadows.clear();
        return;
    }
    if (!c.more() || !c.peek().is(TypeId::pair)) c.fail();
    const Cell& offset = c.take();
    Shadow sh;
    sh.dx = offset.pair_x();
    sh.dy = offset.pair_y();
    if (c.integer_next()) {
        sh.blur = std::max(0, c.take().int_value());
        if (c.integer_next()) sh.spread = std::max(0, c.take().int_value());
    }
    if (c.colour_next()) sh.color = c.colour();
    if (c.name_next(Name::inset)) {
        c.at++;
        sh.inset = true;
    }
    if (c.dc.previous != Name::shadow) s.shadows.clear();
    if (s.shadows.size() < 64) s.shadows.push_back(sh);
}

}  // namespace

void parse_command(Cursor& c, Name keyword) {
    Context& dc = c.dc;
    switch (keyword) {
        case Name::box: draw_box(c); break;
        case Name::line: draw_line(c); break;
        case Name::triangle: draw_polygon(c, 3); break;
        case Name::polygon: draw_polygon(c, 0); break;
        case Name::circle: draw_circle(c); break;
        case Name::ellipse: draw_ellipse(c); break;
        case Name::arc: draw_arc(c); break;
        case Name::curve: draw_curve(c); break;
        case Name::spline: draw_spline(c); break;
        case Name::line_width: set_line_width(dc, std::max(0.0, c.number())); break;
        case Name::line_join: dc.s.join = join_of(c.word()); break;
        case Name::line_cap: dc.s.cap = cap_of(c.word()); break;
        case Name::line_pattern: draw_line_pattern(c); break;
        case Name::anti_alias:
            cairo_set_antialias(dc.cr, c.word() == Name::off ? CAIRO_ANTIALIAS_NONE : CAIRO_ANTIALIAS_GRAY);
            break;
        case Name::font: set_font(c); break;
        case Name::text: draw_text(c); break;
        case Name::image: draw_image(c); break;
        case Name::shadow: set_shadow(c); break;
        case Name::shape: {
            const Cell shape = c.block_value();
            build_shape(dc, shape, false, false);
            paint_path(dc, true, true);
            break;
        }
        default: c.fail_at(c.at - 1);
    }
}

}  // namespace kiv::draw
