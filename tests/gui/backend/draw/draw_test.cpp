// Pixel tests of the draw dialect on images: each case draws a block on a
// fresh image and reads pixels well inside or outside what was drawn.
#include "gui/backend/draw/draw.h"

#include "runtime/datatypes/function.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/core/output_hooks.h"
#include "runtime/startup/embed.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::draw {
namespace {

// image! pixels: 0xAARRGGBB, A the opacity.
constexpr std::uint32_t white = 0xFFFFFFFF;
constexpr std::uint32_t black = 0xFF000000;
constexpr std::uint32_t red = 0xFFFF0000;
constexpr std::uint32_t blue = 0xFF0000FF;

void draw_routine(Cell* args) {
    if (!args[0].is(TypeId::image) || !args[1].is(TypeId::block)) return;
    const Failure f = draw_on_image(args[0], args[1], OnError::give);
    if (f.id != nullptr) runtime::raise_error(f.category, f.id, &f.arg);
}

struct Drawn {
    std::string error;  // the error's id and argument, when one ended the drawing
    std::int32_t width = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    // Pixels in the rectangle whose colour is near rgb (each channel within 60).
    int count_near(std::uint32_t rgb, int x1, int y1, int x2, int y2) const {
        int n = 0;
        for (int y = y1; y < y2; ++y)
            for (int x = x1; x < x2; ++x) {
                const std::uint32_t p = at(x, y);
                bool near = true;
                for (int shift : {0, 8, 16}) near = near && std::abs(int(p >> shift & 0xFF) - int(rgb >> shift & 0xFF)) < 60;
                n += near;
            }
        return n;
    }
};

class DrawTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool booted = false;
        if (booted) return;
        booted = true;
        const std::int32_t id = routine::add("draw-test", draw_routine);
        embed::boot();
        // set 'draw-test first [(the routine)]
        const collector::Root spec(test::load("img [image!] cmd [block!]"));
        Cell maker{};
        routine::make_at(maker, spec.cell(), nullptr, id, 0, false);
        const collector::Root keep_maker(maker);
        const collector::Root code(test::load("set 'draw-test first"));
        Cell holder{};
        block::make_at(holder, 1);
        const collector::Root keep_holder(holder);
        block::append_copy(holder, maker);
        block::append_copy(code.cell(), holder);
        Cell result{};
        ASSERT_TRUE(boot::try_eval(code.cell(), result));
        const auto r = embed::eval_text(
            "red: 255.0.0 blue: 0.0.255 yellow: 255.255.0 black: 0.0.0\n"
            "draw-case: func [size cmd /local img r] [\n"
            "    img: either pair? size [make image! size] [size]\n"
            "    r: try [draw-test img cmd]\n"
            "    either error? r [reduce [img r/id mold/flat r/arg1]] [reduce [img]]\n"
            "]");
        ASSERT_TRUE(r.ok) << embed::form(r.value);
    }

    // Draws commands (text of a block's contents, after the prelude's
    // definitions) on a new image of size (or the image an expression gives).
    static Drawn run(const std::string& commands, const std::string& size = "40x40", const std::string& prelude = "") {
        return run_block("[" + commands + "]", size, prelude);
    }
    // The same with the block an expression gives.
    static Drawn run_block(const std::string& block, const std::string& size, const std::string& prelude) {
        const collector::Root r(test::eval(prelude + "\ndraw-case " + size + " " + block));
        Drawn d;
        if (!r.cell().is(TypeId::block)) return d;
        const Cell img = *block::get_cell(r.cell(), 0);
        if (block::length_of(r.cell()) > 1)
            d.error = test::form(*block::get_cell(r.cell(), 1)) + " " + string::utf8_of(*block::get_cell(r.cell(), 2));
        d.width = image::width_of(img);
        const std::uint32_t* p = image::pixels(img);
        d.pixels.assign(p, p + d.width * image::height_of(img));
        return d;
    }
};

TEST_F(DrawTest, FillThenStrokeAndLineWidth) {
    const Drawn d = run("fill-pen red pen blue line-width 4 box 10x10 30x30");
    EXPECT_EQ(d.at(20, 20), red);
    EXPECT_EQ(d.at(10, 20), blue);  // the outline lies over the fill
    EXPECT_EQ(d.at(4, 4), white);
    // Width 0 hides the outline while the fill paints; 2 brings the pen back.
    const Drawn hidden = run("fill-pen red line-width 0 box 10x10 30x30");
    EXPECT_EQ(hidden.at(10, 20), red);
    EXPECT_EQ(hidden.at(9, 20), white);
    const Drawn back = run("fill-pen red line-width 0 line-width 2 box 10x10 30x30");
    EXPECT_EQ(back.at(9, 20), black);
    EXPECT_EQ(back.at(20, 20), red);
    // A pen set while the width is 0 stays hidden until the width changes.
    EXPECT_EQ(run("line-width 0 pen blue line 0x20 40x20").count_near(blue, 0, 0, 40, 40), 0);
    EXPECT_GT(run("line-width 0 pen blue line-width 3 line 0x20 40x20").count_near(blue, 0, 0, 40, 40), 60);
}

TEST_F(DrawTest, PenOffAndBoxEdges) {
    EXPECT_EQ(run("pen off line 0x0 39x39").count_near(black, 0, 0, 40, 40), 0);
    EXPECT_GT(run("pen off pen black line 0x0 39x39").count_near(black, 0, 0, 40, 40), 30);
    const Drawn d = run("pen off fill-pen red box 30x30 10x10");  // corners in either order
    for (int i = 10; i < 30; ++i) {
        EXPECT_EQ(d.at(i, 10), red);
        EXPECT_EQ(d.at(i, 29), red);
        EXPECT_EQ(d.at(10, i), red);
        EXPECT_EQ(d.at(29, i), red);
        EXPECT_EQ(d.at(i, 9), white);
        EXPECT_EQ(d.at(i, 30), white);
        EXPECT_EQ(d.at(9, i), white);
        EXPECT_EQ(d.at(30, i), white);
    }
    // A rounded box leaves its corners out.
    const Drawn round = run("pen off fill-pen red box 10x10 30x30 8");
    EXPECT_EQ(round.at(10, 10), white);
    EXPECT_EQ(round.at(20, 10), red);
}

TEST_F(DrawTest, PolygonsSplinesAndDashes) {
    // Shapes fill even-odd: a pentagram's middle stays empty.
    const Drawn star = run("pen off fill-pen red polygon 20x2 31x36 2x14 38x14 9x36");
    EXPECT_EQ(star.at(20, 8), red);
    EXPECT_EQ(star.at(20, 20), white);
    const Drawn tri = run("pen off fill-pen red triangle 0x0 40x0 0x40");
    EXPECT_EQ(tri.at(5, 5), red);
    EXPECT_EQ(tri.at(35, 35), white);
    // A line through three points is filled like a polygon; through two it is not.
    EXPECT_EQ(run("pen off fill-pen red line 0x0 40x0 0x40").at(5, 5), red);
    const Drawn spline = run("pen off fill-pen red spline 10x10 30x10 30x30 10x30 closed");
    EXPECT_EQ(spline.at(20, 20), red);
    EXPECT_EQ(spline.at(2, 2), white);
    // Dash lengths count in line widths.
    const Drawn dashed = run("line-width 2 line-pattern 5 5 line 0x10 100x10", "100x20");
    EXPECT_EQ(dashed.at(5, 10), black);
    EXPECT_EQ(dashed.at(15, 10), white);
    EXPECT_EQ(dashed.at(25, 10), black);
    EXPECT_EQ(dashed.pixels, run("line-width 2 line-pattern 5 5 line-join bevel line 0x10 100x10", "100x20").pixels);
}

TEST_F(DrawTest, Transformations) {
    const Drawn scaled = run("pen off fill-pen red scale 50% 2 box 0x0 10x10");
    EXPECT_EQ(scaled.at(4, 19), red);
    EXPECT_EQ(scaled.at(5, 10), white);
    EXPECT_EQ(scaled.at(2, 20), white);
    // A rotation with its own block holds for that block only.
    const Drawn nested = run("pen off fill-pen red rotate 90 20x20 [box 22x18 38x22] box 0x0 4x4");
    EXPECT_EQ(nested.at(20, 30), red);  // the bar turned from horizontal to vertical
    EXPECT_EQ(nested.at(30, 20), white);
    EXPECT_EQ(nested.at(2, 2), red);    // the later box is not turned
    // A plain nested block shares the drawing state with its parent.
    const Drawn plain = run("pen off fill-pen red [translate 20x20] box 0x0 4x4");
    EXPECT_EQ(plain.at(22, 22), red);
    EXPECT_EQ(plain.at(2, 2), white);
    // push restores the pens, the width and the transform.
    const Drawn pushed = run("push [pen off fill-pen red translate 5x5 box 0x0 10x10] line-width 2 box 20x20 30x30");
    EXPECT_EQ(pushed.at(8, 8), red);
    EXPECT_EQ(pushed.at(25, 25), white);
    EXPECT_EQ(pushed.at(20, 25), black);
    // matrix with six numbers; reset-matrix; skew keeps y = 0 in place.
    EXPECT_EQ(run("pen off fill-pen red matrix [1 0 0 1 10 10] box 0x0 5x5").at(12, 12), red);
    EXPECT_EQ(run("pen off fill-pen red translate 20x20 reset-matrix box 0x0 5x5").at(2, 2), red);
    const Drawn sheared = run("pen off fill-pen red skew 45 box 0x0 10x10");
    EXPECT_EQ(sheared.at(12, 8), red);
    EXPECT_EQ(sheared.at(1, 8), white);
    // A scale by 0 draws nothing, and the pass goes on after reset-matrix.
    const Drawn zero = run("pen off fill-pen red scale 0 0 box 0x0 40x40 reset-matrix box 30x30 40x40");
    EXPECT_EQ(zero.at(10, 10), white);
    EXPECT_EQ(zero.at(35, 35), red);
}

TEST_F(DrawTest, ClipsNest) {
    const Drawn d = run("pen off fill-pen red clip 0x0 20x20 [clip 10x10 40x40 [box 0x0 40x40]] box 30x30 40x40");
    EXPECT_EQ(d.at(15, 15), red);
    EXPECT_EQ(d.at(5, 15), white);
    EXPECT_EQ(d.at(25, 15), white);
    EXPECT_EQ(d.at(35, 35), red);  // the clips ended with their blocks
    // Without a block the clip holds to the end of the pass; a shape clips by winding.
    const Drawn open = run("pen off fill-pen red clip 0x0 10x10 box 0x0 40x40");
    EXPECT_EQ(open.at(5, 5), red);
    EXPECT_EQ(open.at(15, 15), white);
    const Drawn shaped = run("pen off fill-pen red clip [move 0x0 line 40x0 0x40] box 0x0 40x40");
    EXPECT_EQ(shaped.at(5, 5), red);
    EXPECT_EQ(shaped.at(35, 35), white);
}

TEST_F(DrawTest, GradientsAndPatterns) {
    // Fitted to each box, whatever its place.
    const Drawn fitted = run("pen off fill-pen linear 255.0.0 0.0.255 box 0x0 20x10 box 20x10 40x20");
    EXPECT_EQ(fitted.count_near(red, 0, 0, 3, 10), 30);
    EXPECT_EQ(fitted.count_near(blue, 17, 0, 20, 10), 30);
    EXPECT_EQ(fitted.count_near(red, 20, 10, 23, 20), 30);
    EXPECT_EQ(fitted.count_near(blue, 37, 10, 40, 20), 30);
    // With points, in the drawing's coordinates.
    const Drawn fixed = run("pen off fill-pen linear 255.0.0 0.0.255 0x0 40x0 box 20x0 40x10");
    EXPECT_EQ(fixed.count_near(red, 20, 0, 23, 10), 0);
    EXPECT_EQ(fixed.count_near(blue, 37, 0, 40, 10), 30);
    // A radial gradient's centre takes the first colour.
    const Drawn radial = run("pen off fill-pen radial 255.0.0 0.0.255 box 0x0 40x40");
    EXPECT_EQ(radial.count_near(red, 19, 19, 21, 21), 4);
    EXPECT_EQ(radial.count_near(blue, 0, 0, 2, 2), 4);
    // A brush turned on its own: the gradient runs down instead of across.
    const Drawn turned = run("pen off fill-pen linear 255.0.0 0.0.255 0x0 40x0 rotate 'fill-pen 90 box 0x0 40x40");
    EXPECT_EQ(turned.count_near(red, 0, 0, 40, 2), 80);
    EXPECT_EQ(turned.count_near(blue, 0, 38, 40, 40), 80);
    // A pattern of 10x10 tiles, a black square in each.
    const Drawn tiles = run("pen off fill-pen pattern 10x10 [pen off fill-pen black box 0x0 5x5] box 0x0 40x40");
    for (const auto& [x, y, colour] : std::vector<std::tuple<int, int, std::uint32_t>>{
             {2, 2, black}, {7, 2, white}, {2, 7, white}, {12, 12, black}, {17, 12, white}, {32, 22, black}})
        EXPECT_EQ(tiles.at(x, y), colour) << x << "x" << y;
    // A bitmap brush tiles the image's pixels.
    const Drawn bitmap = run("pen off fill-pen bitmap tile box 0x0 40x40", "40x40",
                             "tile: make image! [2x1 #{FF0000 0000FF}]");
    EXPECT_EQ(bitmap.at(10, 5), red);
    EXPECT_EQ(bitmap.at(11, 5), blue);
}

TEST_F(DrawTest, ArcsAndShapes) {
    const Drawn pie = run("pen off fill-pen red arc 20x20 15x15 0 90 closed");
    EXPECT_EQ(pie.at(25, 25), red);
    EXPECT_EQ(pie.at(15, 25), white);
    EXPECT_EQ(pie.at(25, 15), white);
    const Drawn open = run("fill-pen red line-width 3 arc 20x20 15x15 0 90");
    EXPECT_EQ(open.at(25, 25), white);  // an open arc is not filled
    EXPECT_EQ(open.at(30, 30), black);  // on the arc, at 45 degrees
    const Drawn whole = run("pen off fill-pen red arc 20x20 15x8 0 360 closed");
    EXPECT_EQ(whole.at(20, 14), red);
    EXPECT_EQ(whole.at(20, 8), white);
    // Relative coordinates give the same triangle as absolute ones.
    const Drawn absolute = run("pen off fill-pen red shape [move 10x10 line 30x10 30x30 close]");
    const Drawn relative = run("pen off fill-pen red shape ['move 10x10 'line 20x0 0x20]");
    EXPECT_EQ(absolute.at(25, 15), red);
    EXPECT_EQ(absolute.at(15, 25), white);
    EXPECT_EQ(absolute.pixels, relative.pixels);
    // curv's first control point is the previous one reflected.
    EXPECT_EQ(run("translate 0x20 shape [move 0x0 curve 10x20 20x20 30x0 curv 50x-20 60x0]", "60x40").pixels,
              run("translate 0x20 shape [move 0x0 curve 10x20 20x20 30x0 curve 40x-20 50x-20 60x0]", "60x40").pixels);
    EXPECT_EQ(run("translate 0x20 shape [move 0x0 qcurve 15x20 30x0 qcurv 60x0]", "60x40").pixels,
              run("translate 0x20 shape [move 0x0 qcurve 15x20 30x0 qcurve 45x-20 60x0]", "60x40").pixels);
    // A quadratic curve equals its cubic form.
    EXPECT_EQ(run("curve 0x0 30x60 39x0").pixels, run("curve 0x0 20x40 33x40 39x0").pixels);
}

TEST_F(DrawTest, TextTakesThePenOrTheFontColour) {
    const Drawn d = run("pen blue text 2x2 \"Hello\"", "80x30");
    EXPECT_GT(d.count_near(blue, 0, 0, 80, 30), 15);
    EXPECT_EQ(d.count_near(red, 0, 0, 80, 30), 0);
    const Drawn f = run("font f pen blue text 2x2 \"Hello\"", "80x30",
                        "f: make object! [name: \"DejaVu Sans\" size: 12 style: 'bold color: 255.255.0]");
    EXPECT_GT(f.count_near(0xFFFF00, 0, 0, 80, 30), 15);
    EXPECT_EQ(f.count_near(blue, 0, 0, 80, 30), 0);
}

TEST_F(DrawTest, ImagesAndTransparency) {
    // Pixels no command reached keep their exact value, transparency included.
    const Drawn clear = run("pen off fill-pen red box 10x10 20x20", "make image! [40x40 10.20.30.255]");
    EXPECT_EQ(clear.at(30, 30), 0x000A141Eu);
    EXPECT_EQ(clear.at(15, 15), red);
    const std::string prelude = "src: make image! [2x2 #{FF0000 FF0000 FF0000 FF0000}]";
    const Drawn placed = run("image src 10x10", "40x40", prelude);
    EXPECT_EQ(placed.at(11, 11), red);
    EXPECT_EQ(placed.at(12, 12), white);
    const Drawn stretched = run("image src 10x10 30x30", "40x40", prelude);
    EXPECT_EQ(stretched.at(20, 20), red);
    EXPECT_EQ(stretched.at(31, 31), white);
    EXPECT_EQ(run("image src crop 1000x1000 10x10", "40x40", prelude).count_near(red, 0, 0, 40, 40), 0);
    const Drawn corners = run("image src 20x0 40x20 20x40 0x20", "40x40", prelude);
    EXPECT_EQ(corners.at(20, 20), red);
    EXPECT_EQ(corners.at(3, 3), white);
    // An image drawn into itself is drawn from a snapshot.
    const Drawn self = run("pen off fill-pen red box 0x0 10x10 image img 20x20", "img: make image! 40x40");
    EXPECT_EQ(self.at(25, 25), red);
}

TEST_F(DrawTest, ShadowsFallBelowTheShape) {
    const Drawn d = run("pen off fill-pen red shadow 6x6 box 5x5 25x25", "40x40");
    EXPECT_EQ(d.at(15, 15), red);
    EXPECT_EQ(d.at(28, 28), black);  // the offset shadow, no blur
    EXPECT_EQ(d.at(2, 2), white);
    const Drawn blurred = run("pen off fill-pen red shadow 0x0 10 box 10x10 30x30", "40x40");
    EXPECT_EQ(blurred.at(20, 20), red);
    EXPECT_NE(blurred.at(33, 20), white);  // the blur reaches outside the box
}

TEST_F(DrawTest, ParserErrors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"line 0x0", "draw-invalid [0x0]"},
        {"box 0x0 10x10 \"x\"", "draw-invalid [\"x\"]"},
        {"rotate 'foo 30", "draw-invalid ['foo 30]"},
        {"matrix [1 0 0 1 10]", "draw-invalid [[1 0 0 1 10]]"},
        {"pen red foo line 0x0 5x5", "draw-invalid [foo line 0x0 5x5]"},
        {"box 0x0", "draw-invalid []"},
        {"12 box 0x0 5x5", "draw-invalid [12 box 0x0 5x5]"},
        {"pen undefined-colour", "draw-invalid [undefined-colour]"},
        {"fill-pen bitmap make image! 2x2", "draw-invalid [make image! 2x2]"},
        {"fill-pen linear red", "draw-invalid [red]"},
        {"circle 0x0 1.#NaN", "draw-invalid [1.#NaN]"},
        {"shape [move 0x0 zigzag 1x1]", "draw-invalid [zigzag 1x1]"},
        {"font 12", "draw-invalid [12]"},
        {"line-width 2 push [fill-pen red box 0x0 5x5 bad]", "draw-invalid [bad]"},
    };
    for (const auto& [commands, expected] : cases) EXPECT_EQ(run(commands).error, expected) << commands;
    // The drawing went as far as the bad value.
    EXPECT_EQ(run("pen off fill-pen red box 0x0 10x10 \"x\"").at(5, 5), red);
    // A block inside itself; the same block twice side by side is fine.
    EXPECT_EQ(run_block("b", "40x40", "b: copy [] append/only b b").error.substr(0, 13), "draw-infinite");
    const Drawn twice = run_block("reduce [b b]", "40x40", "b: [pen off fill-pen red box 0x0 5x5]");
    EXPECT_EQ(twice.error, "");
    EXPECT_EQ(twice.at(2, 2), red);
    // A set-word takes the block's position after it.
    const auto r = embed::eval_text("draw-case 10x10 [x: line 0x0 5x5] mold x");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(embed::form(r.value), "[line 0x0 5x5]");
}

TEST_F(DrawTest, RichTextFacesDrawTheirStyles) {
    // The face's colour behind its size, characters 1-3 red, the rest in the pen's colour.
    const std::string face = "make object! [type: 'rich-text size: 120x30 color: 0.0.255 text: \"MMMMMM\" "
                             "font: make object! [size: 14] data: [1x3 255.0.0] para: tabs: line-spacing: handles: none]";
    const Drawn d = run_block("reduce ['pen 0.255.0 'text 0x0 " + face + "]", "120x30", "");
    EXPECT_EQ(d.error, "");
    EXPECT_GT(d.count_near(0xFF0000, 0, 0, 30, 30), 20);
    EXPECT_EQ(d.count_near(0xFF0000, 60, 0, 120, 30), 0);
    EXPECT_GT(d.count_near(0x00FF00, 30, 0, 90, 30), 20);
    EXPECT_GT(d.count_near(0x0000FF, 100, 0, 120, 30), 200);
    // A style block not of the dialect stops the drawing there.
    const Drawn bad = run_block("reduce ['text 0x0 make object! [type: 'rich-text text: \"ab\" data: [1x2 foo]]]",
                                "40x40", "");
    EXPECT_EQ(bad.error, "draw-invalid [foo]");
}

TEST_F(DrawTest, SilentModeStopsQuietly) {
    const Drawn d = run("pen off fill-pen red box 0x0 10x10 foo box 20x20 30x30", "40x40",
                        "system/view: make object! [silent?: true]");
    embed::eval_text("system/view: none");
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.at(5, 5), red);
    EXPECT_EQ(d.at(25, 25), white);
}

std::string printed;
void capture(const Cell* text, bool) { printed += string::utf8_of(*text); }

TEST_F(DrawTest, PrintModeReportsAndGoesOn) {
    // A paint's pass prints the error and returns; the drawing up to it stays.
    const collector::Root block(test::load("pen off fill-pen 255.0.0 box 0x0 10x10 foo box 20x20 30x30"));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 40);
    cairo_t* cr = cairo_create(surface);
    cairo_translate(cr, 1, 1);
    printed.clear();
    output_hooks::register_(capture, nullptr);
    EXPECT_EQ(draw_on_cairo(cr, block.cell(), OnError::print).id, nullptr);
    output_hooks::unregister(capture, nullptr);
    EXPECT_NE(printed.find("DRAW - invalid input at:"), std::string::npos) << printed;
    // The context is left as it was given.
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    EXPECT_EQ(m.x0, 1);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const auto* px = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface));
    const int stride = cairo_image_surface_get_stride(surface) / 4;
    EXPECT_EQ(px[5 * stride + 5], red);
    EXPECT_EQ(px[25 * stride + 25], 0u);
    cairo_surface_destroy(surface);
}

TEST_F(DrawTest, AntiAliasOffLeavesNoMixedPixels) {
    const Drawn d = run("anti-alias off fill-pen red circle 20x20 12 line 0x0 39x25");
    int mixed = 0;
    for (const std::uint32_t p : d.pixels) mixed += p != white && p != black && p != red;
    EXPECT_EQ(mixed, 0);
    EXPECT_GT(run("fill-pen red circle 20x20 12 line 0x0 39x25").count_near(0x808080, 0, 0, 40, 40) +
                  run("circle 20x20 12").count_near(0xC0C0C0, 0, 0, 40, 40),
              0);
}

TEST_F(DrawTest, BadInputDrawsNothingOrFails) {
    const std::vector<std::string> cases = {
        "box -2147483648x-2147483648 2147483647x2147483647",
        "circle 20x20 -5",
        "ellipse 0x0 -10x-10",
        "arc 20x20 -5x-5 0 90 closed",
        "scale 1e300 1e300 box 0x0 10x10",
        "line-width 1e300 line 0x0 10x10",
        "line-pattern 1 1 line 0x0 2000000000x0",
        "shadow 100000x100000 2147483647 2147483647 box 0x0 10x10",
        "fill-pen pattern 100000x100000 [] box 0x0 10x10",
        "text 0x0 \"\"",
        "image img 0x0 1x0 1x1 0x1",
        "fill-pen linear 0x0 2147483647 -2147483648 red blue box 0x0 10x10",
        "line-pattern 0 1 line-cap round line 0x0 2000000000x2000000000",
        "line-width 0.000001 line-pattern 1 1 line 0x0 2000000000x0",
        "spline 0x0 10x10 -2147483648x2147483647 closed",
        "rotate 45 clip 0x0 1000000x1000000 box 0x0 40x40",
        "fill-pen pattern 2000x2000 [fill-pen pattern 2000x2000 [fill-pen pattern 2000x2000 [] box 0x0 9x9]]",
    };
    for (const std::string& commands : cases) run(commands, "40x40", "img: make image! 0x0");
    // A deep nest ends in an error, not a crash.
    const Drawn deep = run_block("b", "40x40", "b: [] loop 5000 [b: reduce [b]]");
    EXPECT_NE(deep.error, "");
    // An image without pixels takes any block.
    EXPECT_EQ(run("box 0x0 10x10", "make image! 0x0").error, "");
}

}  // namespace
}  // namespace kiv::draw
