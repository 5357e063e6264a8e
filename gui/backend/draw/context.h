// The drawing state of one pass and the services its commands share: the
// word table, argument reading with the dialect's error, brushes, strokes and
// the nested-state guard. Internal to the draw dialect.
#pragma once

#include "gui/backend/draw/draw.h"
#include "gui/backend/text/font.h"
#include "runtime/core/cell.h"

#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace kiv::draw {

// Every word the dialect reads: keywords and argument words alike.
#define KIV_DRAW_NAMES(X)                                                                                  \
    X(pen, "pen") X(fill_pen, "fill-pen") X(box, "box") X(line, "line") X(triangle, "triangle")            \
    X(polygon, "polygon") X(circle, "circle") X(ellipse, "ellipse") X(arc, "arc") X(curve, "curve")        \
    X(spline, "spline") X(line_width, "line-width") X(line_join, "line-join") X(line_cap, "line-cap")      \
    X(line_pattern, "line-pattern") X(anti_alias, "anti-alias") X(font, "font") X(text, "text")            \
    X(image, "image") X(shadow, "shadow") X(clip, "clip") X(shape, "shape") X(rotate, "rotate")            \
    X(scale, "scale") X(translate, "translate") X(skew, "skew") X(transform, "transform")                  \
    X(matrix, "matrix") X(reset_matrix, "reset-matrix") X(invert_matrix, "invert-matrix") X(push, "push")  \
    X(off, "off") X(closed, "closed") X(linear, "linear") X(radial, "radial") X(diamond, "diamond")        \
    X(pattern, "pattern") X(bitmap, "bitmap") X(pad, "pad") X(repeat, "repeat") X(reflect, "reflect")      \
    X(tile, "tile") X(flip_x, "flip-x") X(flip_y, "flip-y") X(flip_xy, "flip-xy") X(clamp, "clamp")        \
    X(miter, "miter") X(round, "round") X(bevel, "bevel") X(miter_bevel, "miter-bevel") X(flat, "flat")    \
    X(square, "square") X(border, "border") X(crop, "crop") X(inset, "inset") X(replace, "replace")        \
    X(intersect, "intersect") X(union_, "union") X(xor_, "xor") X(exclude, "exclude") X(move, "move")      \
    X(hline, "hline") X(vline, "vline") X(curv, "curv") X(qcurve, "qcurve") X(qcurv, "qcurv")              \
    X(close, "close") X(sweep, "sweep") X(large, "large")

enum class Name : std::uint8_t {
#define KIV_DRAW_ENUM(id, text) id,
    none,
    KIV_DRAW_NAMES(KIV_DRAW_ENUM)
#undef KIV_DRAW_ENUM
};

// The dialect's name for a word of any kind (case does not matter), else none.
Name name_of(const Cell& word);

// Thrown when the drawing stops: failure is the error to give back, or none
// (silent mode, or the error was printed).
struct DrawStop {
    Failure failure;
};

struct Point {
    double x = 0;
    double y = 0;
};

// A Cairo pattern reference that copies by adding a reference.
class PatternRef {
public:
    PatternRef() = default;
    explicit PatternRef(cairo_pattern_t* owned) : p_(owned) {}
    PatternRef(const PatternRef& other) : p_(other.p_ ? cairo_pattern_reference(other.p_) : nullptr) {}
    PatternRef& operator=(PatternRef other) {
        std::swap(p_, other.p_);
        return *this;
    }
    ~PatternRef() {
        if (p_) cairo_pattern_destroy(p_);
    }
    cairo_pattern_t* get() const { return p_; }

private:
    cairo_pattern_t* p_ = nullptr;
};

// A pen or fill brush.
struct Brush {
    enum Kind : std::uint8_t { off = 0, solid = 1, own = 2, fitted = 3 };
    Kind kind = off;
    std::uint32_t color = 0;  // packed colour of a solid brush
    PatternRef pattern;       // the gradient, pattern or bitmap of kinds own and fitted
    Name gradient = Name::none;
    cairo_matrix_t transform{1, 0, 0, 1, 0, 0};  // brush space to user space

    static Brush solid_of(std::uint32_t packed) {
        Brush b;
        b.kind = solid;
        b.color = packed;
        return b;
    }
};

struct Shadow {
    double dx = 0;
    double dy = 0;
    double blur = 0;
    double spread = 0;
    std::uint32_t color = 0;
    bool inset = false;
};

// What a nested block's push saves and its pop restores, beside the
// transform and anti-aliasing that live in the Cairo context.
struct State {
    Brush pen = Brush::solid_of(0);
    Brush fill;
    Brush::Kind saved_pen_kind = Brush::solid;  // the pen's kind while line-width is 0
    std::uint32_t text_color = 0;
    bool font_color = false;       // the font fixed the text colour
    int decorations = 0;           // bit 0 underline, bit 1 strike-through
    std::shared_ptr<PangoFontDescription> font;  // null: the default font
    double line_width = 1;
    cairo_line_join_t join = CAIRO_LINE_JOIN_MITER;
    cairo_line_cap_t cap = CAIRO_LINE_CAP_BUTT;
    std::vector<double> dashes;    // in line widths
    std::vector<Shadow> shadows;
    bool singular = false;         // the transform maps everything to nothing
    int clip_count = 0;
};

struct Context {
    cairo_t* cr = nullptr;
    State s;
    OnError on_error = OnError::give;
    // The pass's own target, so that drawing it into itself takes a snapshot.
    std::uint32_t target_node = 0;
    cairo_surface_t* target_surface = nullptr;
    PangoLayout* layout = nullptr;  // made at the first text
    cairo_matrix_t base{1, 0, 0, 1, 0, 0};  // the transform reset-matrix goes back to
    // The shape being built: its current point and the last control point.
    Point shape_point;
    Point shape_control;
    bool shape_curve = false;
    // The keyword of the command before this one (a run of shadow commands
    // builds one list of shadows).
    Name previous = Name::none;
    // Pixels of the pattern tiles being drawn (nested patterns).
    std::int64_t pattern_pixels = 0;
};

// The saved drawing state of a nested block; the destructor restores it, so
// an error leaving the block leaves the state as it was before.
class StateGuard {
public:
    explicit StateGuard(Context& dc);
    ~StateGuard();
    StateGuard(const StateGuard&) = delete;
    StateGuard& operator=(const StateGuard&) = delete;

private:
    Context& dc_;
    State saved_;
    cairo_matrix_t matrix_;
    cairo_antialias_t antialias_;
};

// --- Reading arguments ---------------------------------------------------------------

// A position in a draw block, with the dialect's argument classes. Cell
// addresses are taken afresh at each read, so a set-word's notification that
// changes the block cannot leave them stale.
class Cursor {
public:
    Cursor(Context& dc, const Cell& block);

    Context& dc;
    Cell block;       // the block, its head at the parse's start
    std::int32_t at;  // absolute index of the next value
    std::int32_t end;

    bool more() const { return at < end; }
    const Cell& peek() const;
    const Cell& take();
    // The draw-invalid error at index (the tail when past it).
    [[noreturn]] void fail_at(std::int32_t index) const;
    [[noreturn]] void fail() const { fail_at(at); }

    bool point_next() const;
    bool number_next() const;
    bool scale_next() const;
    bool integer_next() const;
    bool block_next() const;
    bool colour_next() const;
    bool name_next(Name n) const;
    Name word_name_next() const;  // the name of a word! next, else none

    Point point();
    double number();
    double scale();
    std::uint32_t colour();  // packed
    Cell block_value();
    Name word();
    // Takes the set-word at the position and sets it to the block after it.
    void set_word();
};

// The draw-invalid or draw-infinite error at the value at index of block
// (draw-infinite when that value is a block holding block's own series), or
// the quiet stop. Empties the cycle stack first.
[[noreturn]] void draw_error(Context& dc, const Cell& block, std::int32_t index);

// The draw-infinite error (or the quiet stop) for a block met inside itself.
[[noreturn]] void draw_infinite(Context& dc, const Cell& block);

// Puts a block's series on the cycle stack while it is drawn, and takes it
// off however the drawing ends (an error report may have emptied the stack).
// A block already there is draw-infinite.
class CycleEntry {
public:
    CycleEntry(Context& dc, const Cell& block);
    ~CycleEntry();
    CycleEntry(const CycleEntry&) = delete;
    CycleEntry& operator=(const CycleEntry&) = delete;

private:
    std::int32_t depth_;
};

// A finite number's value; NaN and the infinities are refused by the caller.
double number_of(const Cell& value);
Point point_of(const Cell& value);

// --- The parser --------------------------------------------------------------------

// Draws every value of block (from its head) through dc.
void parse_draw(Context& dc, const Cell& block);
// Parses the arguments of a pen or fill-pen keyword.
void parse_pen(Cursor& c, bool fill);
// The shape sub-dialect: builds the block's path in dc.cr (nested blocks add
// to the same path).
void build_shape(Context& dc, const Cell& block, bool for_clip, bool nested);
// Parses and applies a transformation keyword (rotate ... invert-matrix),
// or a clip; the keyword has been taken.
void parse_transform(Cursor& c, Name keyword);
void parse_clip(Cursor& c);
void clip_pop(Context& dc);

// --- Painting ----------------------------------------------------------------------

// Colours and fonts are the text layer's.
using text::font_description;
using text::pack_colour;
using text::set_colour;

// Fills (fill-kind not off, when filled) and strokes (pen on, when stroked)
// the path in dc.cr, then clears it.
void paint_path(Context& dc, bool filled, bool stroked);
// Appends an elliptic arc centred on (cx, cy) with radii rx, ry rotated by
// phi radians, from parameter angle t0 to t1 (either direction), as cubic
// Bezier segments. With line_to the arc joins the current point by a line.
void add_arc(cairo_t* cr, double cx, double cy, double rx, double ry, double phi, double t0, double t1,
             bool line_to);
// Makes a Cairo surface of image's pixels (premultiplied), or null when it has
// none. snapshot_ok: the pass's own target is copied as it is now.
cairo_surface_t* image_surface(Context& dc, const Cell& image);
// The largest side and pixel count of an offscreen buffer (shadows, pattern
// tiles), and the pixels of all pattern tiles being drawn at once (patterns
// nest), so that memory stays bounded whatever the block asks for.
inline constexpr std::int32_t max_offscreen_side = 8192;
inline constexpr std::int64_t max_offscreen_pixels = std::int64_t{1} << 22;
inline constexpr std::int64_t max_pattern_pixels = 4 * max_offscreen_pixels;

// Commands, their keyword taken.
void parse_command(Cursor& c, Name keyword);

}  // namespace kiv::draw
