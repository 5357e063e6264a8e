// Geometry commands: the shape sub-dialect, clips and transformations.
#include "gui/backend/draw/context.h"

#include "runtime/datatypes/block.h"

#include <cmath>
#include <numbers>

namespace kiv::draw {

namespace {

constexpr double pi = std::numbers::pi;

// The shape's elliptic arc from the current point to end (the endpoint form:
// radii, rotation in degrees, sweep and large flags).
void shape_arc(Context& dc, Point end, double rx, double ry, double angle, bool sweep, bool large) {
    cairo_t* cr = dc.cr;
    const Point from = dc.shape_point;
    rx = std::abs(rx);
    ry = std::abs(ry);
    if (from.x == end.x && from.y == end.y) return;
    if (rx == 0 || ry == 0) {
        cairo_line_to(cr, end.x, end.y);
        return;
    }
    const double phi = angle * pi / 180;
    const double c = std::cos(phi);
    const double s = std::sin(phi);
    const double hx = (from.x - end.x) / 2;
    const double hy = (from.y - end.y) / 2;
    const double x1 = c * hx + s * hy;
    const double y1 = -s * hx + c * hy;
    const double lambda = x1 * x1 / (rx * rx) + y1 * y1 / (ry * ry);
    if (lambda > 1) {
        rx *= std::sqrt(lambda);
        ry *= std::sqrt(lambda);
    }
    const double num = rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1;
    const double den = rx * rx * y1 * y1 + ry * ry * x1 * x1;
    double coef = den > 0 ? std::sqrt(std::max(0.0, num / den)) : 0;
    if (large == sweep) coef = -coef;
    const double cx1 = coef * rx * y1 / ry;
    const double cy1 = -coef * ry * x1 / rx;
    const double cx = c * cx1 - s * cy1 + (from.x + end.x) / 2;
    const double cy = s * cx1 + c * cy1 + (from.y + end.y) / 2;
    const double t1 = std::atan2((y1 - cy1) / ry, (x1 - cx1) / rx);
    double dt = std::atan2((-y1 - cy1) / ry, (-x1 - cx1) / rx) - t1;
    if (sweep && dt < 0) dt += 2 * pi;
    if (!sweep && dt > 0) dt -= 2 * pi;
    if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(dt)) return;
    add_arc(cr, cx, cy, rx, ry, phi, t1, t1 + dt, true);
}

Point reflected(const Context& dc) {
    if (!dc.shape_curve) return dc.shape_point;
    return {2 * dc.shape_point.x - dc.shape_control.x, 2 * dc.shape_point.y - dc.shape_control.y};
}

// Points in groups of size (at least one group, no points left over).
std::vector<Point> groups(Cursor& c, std::size_t size) {
    std::vector<Point> pts;
    while (c.point_next()) pts.push_back(point_of(c.take()));
    if (pts.empty() || pts.size() % size != 0) c.fail();
    return pts;
}

void shape_command(Cursor& c, Name n, bool relative) {
    Context& dc = c.dc;
    cairo_t* cr = dc.cr;
    Point& cur = dc.shape_point;
    auto rel = [&](Point p, Point from) { return relative ? Point{p.x + from.x, p.y + from.y} : p; };
    switch (n) {
        case Name::move: {
            cur = rel(c.point(), cur);
            cairo_move_to(cr, cur.x, cur.y);
            dc.shape_curve = false;
            return;
        }
        case Name::line: {
            if (!c.point_next()) c.fail();
            while (c.point_next()) {
                cur = rel(point_of(c.take()), cur);
                cairo_line_to(cr, cur.x, cur.y);
            }
            dc.shape_curve = false;
            return;
        }
        case Name::hline:
        case Name::vline: {
            const double v = c.number();
            double& coord = n == Name::hline ? cur.x : cur.y;
            coord = relative ? coord + v : v;
            cairo_line_to(cr, cur.x, cur.y);
            dc.shape_curve = false;
            return;
        }
        case Name::arc: {
            const Point end = rel(c.point(), cur);
            const double rx = c.number();
            const double ry = c.number();
            const double angle = c.number();
            bool sweep = false, large = false;
            for (int i = 0; i < 2; ++i) {
                const Name w = c.word_name_next();
                if (w == Name::sweep) sweep = true;
                else if (w == Name::large) large = true;
                else break;
                c.at++;
            }
            shape_arc(dc, end, rx, ry, angle, sweep, large);
            cur = end;
            dc.shape_curve = false;
            return;
        }
        case Name::curve:
        case Name::curv:
        case Name::qcurve:
        case Name::qcurv: {
            const std::size_t size = n == Name::curve ? 3 : n == Name::qcurv ? 1 : 2;
            const std::vector<Point> pts = groups(c, size);
            for (std::size_t i = 0; i < pts.size(); i += size) {
                const Point from = cur;
                Point c1, c2, end, control;
                if (n == Name::curve) {
                    c1 = rel(pts[i], from);
                    c2 = rel(pts[i + 1], from);
                    end = rel(pts[i + 2], from);
                    control = c2;
                } else if (n == Name::curv) {
                    c1 = reflected(dc);
                    c2 = rel(pts[i], from);
                    end = rel(pts[i + 1], from);
                    control = c2;
                } else {
                    const Point q = n == Name::qcurve ? rel(pts[i], from) : reflected(dc);
                    end = rel(pts[i + (n == Name::qcurve ? 1 : 0)], from);
                    c1 = {from.x + 2.0 / 3 * (q.x - from.x), from.y + 2.0 / 3 * (q.y - from.y)};
                    c2 = {end.x + 2.0 / 3 * (q.x - end.x), end.y + 2.0 / 3 * (q.y - end.y)};
                    control = q;
                }
                cairo_curve_to(cr, c1.x, c1.y, c2.x, c2.y, end.x, end.y);
                cur = end;
                dc.shape_control = control;
                dc.shape_curve = true;
            }
            return;
        }
        case Name::close:
            cairo_close_path(cr);
            cairo_move_to(cr, cur.x, cur.y);
            return;
        default: c.fail_at(c.at - 1);
    }
}

// A transformation matrix of the keyword's arguments (the keyword and the
// target taken).
cairo_matrix_t transform_of(Cursor& c, Name keyword) {
    cairo_matrix_t m;
    cairo_matrix_init_identity(&m);
    auto about = [&](Point centre, auto&& apply) {
        cairo_matrix_init_translate(&m, centre.x, centre.y);
        apply();
        cairo_matrix_translate(&m, -centre.x, -centre.y);
    };
    switch (keyword) {
        case Name::rotate: {
            const double angle = c.number() * pi / 180;
            const Point centre = c.point_next() ? c.point() : Point{};
            about(centre, [&] { cairo_matrix_rotate(&m, angle); });
            break;
        }
        case Name::scale: {
            const double sx = c.scale();
            const double sy = c.scale();
            const Point centre = c.point_next() ? c.point() : Point{};
            about(centre, [&] { cairo_matrix_scale(&m, sx, sy); });
            break;
        }
        case Name::translate: {
            const Point by = c.point();
            cairo_matrix_init_translate(&m, by.x, by.y);
            break;
        }
        case Name::skew: {
            const double ax = std::tan(c.number() * pi / 180);
            const double ay = c.number_next() ? std::tan(c.number() * pi / 180) : 0;
            const Point centre = c.point_next() ? c.point() : Point{};
            cairo_matrix_init(&m, 1, ay, ax, 1, -centre.y * ax, -centre.x * ay);
            break;
        }
        case Name::transform: {
            const Point centre = c.point_next() ? c.point() : Point{};
            const double angle = c.number() * pi / 180;
            const double sx = c.scale();
            const double sy = c.scale();
            const Point by = c.point();
            // The rotation goes on first, then the scaling, then the
            // translation, each in front of the ones before.
            cairo_matrix_t r, s, t, rs;
            cairo_matrix_init_translate(&r, centre.x, centre.y);
            cairo_matrix_rotate(&r, angle);
            cairo_matrix_translate(&r, -centre.x, -centre.y);
            cairo_matrix_init_translate(&s, centre.x, centre.y);
            cairo_matrix_scale(&s, sx, sy);
            cairo_matrix_translate(&s, -centre.x, -centre.y);
            cairo_matrix_init_translate(&t, by.x, by.y);
            cairo_matrix_multiply(&rs, &s, &r);
            cairo_matrix_multiply(&m, &t, &rs);
            break;
        }
        case Name::matrix: {
            const std::int32_t at = c.at;
            const Cell numbers = c.block_value();
            double v[6];
            const std::int32_t head = block::clamped_head(numbers);
            if (block::length_of(numbers) - head != 6) c.fail_at(at);
            for (std::int32_t i = 0; i < 6; ++i) {
                const Cell& n = block::first_cell(numbers)[head + i];
                if (!(n.is(TypeId::integer) || n.is(TypeId::float_)) || !std::isfinite(number_of(n))) c.fail_at(at);
                v[i] = number_of(n);
            }
            cairo_matrix_init(&m, v[0], v[1], v[2], v[3], v[4], v[5]);
            break;
        }
        default: break;
    }
    return m;
}

bool usable(const cairo_matrix_t& m) {
    const double det = m.xx * m.yy - m.xy * m.yx;
    return std::isfinite(det) && det != 0 && std::isfinite(m.x0) && std::isfinite(m.y0) &&
           std::abs(det) > 1e-30 && std::abs(det) < 1e30 && std::abs(m.x0) < 1e15 && std::abs(m.y0) < 1e15;
}

// Puts m in front of the drawing's transform (reset and invert replace it).
void apply_to_drawing(Context& dc, Name keyword, const cairo_matrix_t& m) {
    if (keyword == Name::reset_matrix) {
        cairo_set_matrix(dc.cr, &dc.base);
        dc.s.singular = false;
        return;
    }
    if (dc.s.singular) return;
    cairo_matrix_t current;
    cairo_get_matrix(dc.cr, &current);
    cairo_matrix_t next;
    if (keyword == Name::invert_matrix) {
        next = current;
        if (cairo_matrix_invert(&next) != CAIRO_STATUS_SUCCESS) return;
    } else {
        cairo_matrix_multiply(&next, &m, &current);
    }
    if (usable(next)) cairo_set_matrix(dc.cr, &next);
    else dc.s.singular = true;
}

void apply_to_brush(Brush& b, Name keyword, const cairo_matrix_t& m) {
    if (b.kind != Brush::own && b.kind != Brush::fitted) return;
    cairo_matrix_t next;
    if (keyword == Name::reset_matrix) {
        cairo_matrix_init_identity(&next);
    } else if (keyword == Name::invert_matrix) {
        next = b.transform;
        if (cairo_matrix_invert(&next) != CAIRO_STATUS_SUCCESS) return;
    } else {
        cairo_matrix_multiply(&next, &m, &b.transform);
    }
    b.transform = next;
}

// Pushes the clip of the path in dc.cr (or of nothing at all while the
// transform is singular).
void push_clip(Context& dc) {
    cairo_t* cr = dc.cr;
    cairo_save(cr);
    dc.s.clip_count++;
    if (dc.s.singular) cairo_new_path(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr);
}

}  // namespace

void build_shape(Context& dc, const Cell& block, bool for_clip, bool nested) {
    (void)for_clip;
    if (!nested) {
        cairo_new_path(dc.cr);
        cairo_move_to(dc.cr, 0, 0);
        dc.shape_point = {};
        dc.shape_curve = false;
    }
    CycleEntry entry(dc, block);
    Cursor c(dc, block);
    while (c.more()) {
        const Cell& v = c.peek();
        if (v.is(TypeId::block)) {
            const Cell inner = c.take();
            build_shape(dc, inner, for_clip, true);
            continue;
        }
        if (v.is(TypeId::set_word)) {
            c.set_word();
            continue;
        }
        const bool relative = v.is(TypeId::lit_word);
        if (!relative && !v.is(TypeId::word)) c.fail();
        const Name n = name_of(v);
        c.at++;
        shape_command(c, n, relative);
    }
}

void parse_clip(Cursor& c) {
    Context& dc = c.dc;
    if (c.block_next()) {
        const Cell shape = c.take();
        build_shape(dc, shape, true, false);
    } else {
        const Point a = c.point();
        const Point b = c.point();
        cairo_new_path(dc.cr);
        cairo_rectangle(dc.cr, a.x, a.y, b.x - a.x, b.y - a.y);
    }
    const Name mode = c.word_name_next();
    if (mode == Name::replace || mode == Name::intersect || mode == Name::union_ || mode == Name::xor_ ||
        mode == Name::exclude)
        c.at++;
    if (!c.block_next()) {
        push_clip(dc);
        return;
    }
    const Cell nested = c.take();
    StateGuard guard(dc);
    push_clip(dc);
    parse_draw(dc, nested);
}

void clip_pop(Context& dc) {
    cairo_t* cr = dc.cr;
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    const cairo_antialias_t aa = cairo_get_antialias(cr);
    cairo_restore(cr);
    cairo_set_matrix(cr, &m);
    cairo_set_antialias(cr, aa);
    dc.s.clip_count--;
}

void parse_transform(Cursor& c, Name keyword) {
    Brush* target = nullptr;
    if (c.more() && c.peek().is(TypeId::lit_word)) {
        const Name n = name_of(c.peek());
        if (n != Name::pen && n != Name::fill_pen) c.fail();
        target = n == Name::pen ? &c.dc.s.pen : &c.dc.s.fill;
        c.at++;
    }
    const cairo_matrix_t m = transform_of(c, keyword);
    const bool takes_block = keyword != Name::matrix && keyword != Name::reset_matrix && keyword != Name::invert_matrix;
    if (takes_block && c.block_next()) {
        const Cell nested = c.take();
        StateGuard guard(c.dc);
        if (target != nullptr) apply_to_brush(*target, keyword, m);
        else apply_to_drawing(c.dc, keyword, m);
        parse_draw(c.dc, nested);
        return;
    }
    if (target != nullptr) apply_to_brush(*target, keyword, m);
    else apply_to_drawing(c.dc, keyword, m);
}

}  // namespace kiv::draw
