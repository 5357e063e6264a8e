// The text-box on Pango, headless: layouts on the offscreen context, painted
// on image surfaces, and faces (objects made by the language) laid out with
// their style blocks.
#include "gui/backend/text/face_box.h"
#include "gui/backend/text/font.h"
#include "gui/backend/text/text_box.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/startup/embed.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace kiv::text {
namespace {

class TextBoxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool booted = false;
        if (booted) return;
        booted = true;
        embed::boot();
    }

    // The value of an expression, kept alive by the test's roots.
    Cell value(const std::string& expression) {
        const Cell v = test::eval(expression);
        kept_.push_back(std::make_unique<collector::Root>(values_.emplace_back(v)));
        return v;
    }

    // A face: `make object! [type: 'rich-text ...]` with the fields given.
    Cell face(const std::string& fields) {
        return value("make object! [type: 'rich-text size: 300x100 text: none font: para: data: tabs: line-spacing: "
                     "handles: none " +
                     fields + "]");
    }

private:
    std::deque<Cell> values_;  // cells that stay where they are: the roots point at them
    std::vector<std::unique_ptr<collector::Root>> kept_;
};

// Pixels of a box painted in black on white (or in the colour given).
struct Painted {
    static constexpr int width = 400;
    static constexpr int height = 120;
    std::vector<std::uint32_t> pixels;  // 0xAARRGGBB

    explicit Painted(TextBox& box, std::uint32_t colour = 0) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        cairo_t* cr = cairo_create(s);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        box.paint(cr, {0, 0}, colour);
        cairo_destroy(cr);
        cairo_surface_flush(s);
        const auto* data = cairo_image_surface_get_data(s);
        const int stride = cairo_image_surface_get_stride(s);
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
            pixels.insert(pixels.end(), row, row + width);
        }
        cairo_surface_destroy(s);
    }
    // Pixels in [x1, x2) x [y1, y2) that are clearly red.
    int red(double x1, double y1, double x2, double y2) const {
        int n = 0;
        for (int y = std::max(0, int(y1)); y < std::min(height, int(y2)); ++y)
            for (int x = std::max(0, int(x1)); x < std::min(width, int(x2)); ++x) {
                const std::uint32_t p = pixels[static_cast<std::size_t>(y * width + x)];
                n += (p >> 16 & 0xFF) > 180 && (p >> 8 & 0xFF) < 90 && (p & 0xFF) < 90;
            }
        return n;
    }
    int dark() const {
        int n = 0;
        for (const std::uint32_t p : pixels) n += (p & 0xFF) < 128;
        return n;
    }
};

FontSpec sized(double points) {
    FontSpec f = font_spec(nullptr);
    f.points = points;
    return f;
}

TEST_F(TextBoxTest, CharactersMapToBytesBothWays) {
    CharMap ascii;
    ascii.build("abc");
    EXPECT_EQ(ascii.byte_of(2), 2);
    EXPECT_EQ(ascii.byte_of(9), 3);  // clamped to the end
    EXPECT_EQ(ascii.char_of(1), 1);
    // é is two bytes, the emoji (outside the BMP) four, each one character.
    CharMap wide;
    wide.build("a\xC3\xA9\xF0\x9F\x98\x80z");
    EXPECT_EQ(wide.chars(), 4);
    const std::vector<std::int32_t> bytes = {0, 1, 3, 7, 8};
    for (std::int32_t i = 0; i <= 4; ++i) EXPECT_EQ(wide.byte_of(i), bytes[static_cast<std::size_t>(i)]) << i;
    const std::vector<std::int32_t> chars = {0, 1, 1, 2, 2, 2, 2, 3, 4};
    for (std::int32_t b = 0; b <= 8; ++b) EXPECT_EQ(wide.char_of(b), chars[static_cast<std::size_t>(b)]) << b;
}

TEST_F(TextBoxTest, CaretsAroundACharacterOutsideTheBmpMapBothWays) {
    // From a string! (stored in 4-byte units) as from UTF-8.
    const Cell text = value("rejoin [\"ab\" to char! 128512 \"cd\"]");
    TextBox box(text);
    box.set_font(sized(20));
    ASSERT_EQ(box.length(), 5);
    double previous = -1;
    for (std::int32_t i = 1; i <= 6; ++i) {
        const Point p = box.caret(i, false);
        EXPECT_GT(p.x, previous) << i;
        previous = p.x;
        // Just right of the caret lies character i (index 6: past the end).
        EXPECT_EQ(box.index_at({p.x + 1, p.y + 5}, false), std::min(i, 5)) << i;
        EXPECT_EQ(box.index_at({p.x + 0.5, p.y + 5}, true), i) << i;
    }
    // A style after the wide character stays on its characters: d alone is red.
    box.colour(4, 1, 0x0000FF);
    const Painted painted(box);
    EXPECT_GT(painted.red(box.caret(5, false).x, 0, box.caret(6, false).x, 40), 10);
    EXPECT_EQ(painted.red(0, 0, box.caret(5, false).x - 1, 40), 0);
}

TEST_F(TextBoxTest, ARedRangePaintsRedInsideItsBoxOnly) {
    TextBox box(std::string_view("abcdefgh"));
    box.set_font(sized(24));
    box.colour(2, 3, 0x0000FF);  // characters 3-5
    const Painted painted(box);
    const Point from = box.caret(3, false);
    const Point to = box.caret(6, true);
    EXPECT_GT(painted.red(from.x, from.y, to.x, to.y), 30);
    EXPECT_EQ(painted.red(0, 0, Painted::width, Painted::height) - painted.red(from.x, from.y, to.x, to.y), 0);
    EXPECT_GT(painted.dark(), 30);  // the rest is in the default colour
}

TEST_F(TextBoxTest, ThreeLinesOfWrappedText) {
    TextBox one(std::string_view("mmmm"));
    one.set_font(sized(12));
    const double word = one.extent().x;
    TextBox box(std::string_view("mmmm mmmm mmmm"));
    box.set_font(sized(12));
    box.set_size(word * 1.5, 0);
    box.set_para({Align::start, Align::start, true, false});
    EXPECT_EQ(box.line_count(), 3);
    EXPECT_GT(box.line_height(11), 10);
    EXPECT_NEAR(box.extent().y, 3 * box.line_height(1), 0.01);
    // The first character of each line starts it.
    EXPECT_EQ(box.caret(6, false).x, 0);
    EXPECT_GT(box.caret(6, false).y, box.caret(5, false).y);
    // Without wrapping it is one line.
    TextBox flat(std::string_view("mmmm mmmm mmmm"));
    flat.set_font(sized(12));
    flat.set_size(word * 1.5, 0);
    EXPECT_EQ(flat.line_count(), 1);
}

TEST_F(TextBoxTest, ParagraphAlignmentAndEllipsis) {
    const auto caret_x = [](Align a) {
        TextBox box(std::string_view("ab"));
        box.set_size(200, 100);
        box.set_para({a, a, false, false});
        return box.caret(1, false);
    };
    EXPECT_EQ(caret_x(Align::start).x, 0);
    EXPECT_NEAR(caret_x(Align::end).x, 2 * caret_x(Align::middle).x, 1);
    EXPECT_GT(caret_x(Align::end).y, caret_x(Align::middle).y);
    // A long line in a narrow box: one line, cut with an ellipsis.
    TextBox cut(std::string_view("a long line that does not fit in the box"));
    cut.set_size(60, 0);
    cut.set_para({Align::start, Align::start, false, true});
    EXPECT_EQ(cut.line_count(), 1);
    EXPECT_LE(cut.extent().x, 60);
    EXPECT_TRUE(pango_layout_is_ellipsized(cut.layout()));
}

TEST_F(TextBoxTest, StylesChangeWhatTheyCover) {
    const auto width = [](void (*style)(TextBox&)) {
        TextBox box(std::string_view("abcdefghij"));
        box.set_font(sized(14));
        style(box);
        return box.extent().x;
    };
    const double plain = width([](TextBox&) {});
    EXPECT_GT(width([](TextBox& b) { b.bold(0, 5); }), plain);
    EXPECT_GT(width([](TextBox& b) { b.size(0, 2, 30); }), plain);
    // Past the end: cut; negative or empty: ignored.
    EXPECT_GT(width([](TextBox& b) { b.size(8, 100, 30); }), plain);
    EXPECT_EQ(width([](TextBox& b) {
                  b.size(-3, 5, 30);
                  b.size(2, 0, 30);
                  b.size(2, -4, 30);
                  b.size(10, 3, 30);
              }),
              plain);
    // Later styles win over earlier ones on the same characters.
    TextBox box(std::string_view("abc"));
    box.set_font(sized(24));
    box.colour(0, 3, 0x00FF00);
    box.colour(0, 3, 0x0000FF);
    EXPECT_GT(Painted(box).red(0, 0, 100, 50), 20);
}

TEST_F(TextBoxTest, BackdropFillsTheRangeBehindTheText) {
    TextBox box(std::string_view("abcdef"));
    box.set_font(sized(20));
    box.backdrop(1, 2, 0x0000FF);
    const Painted painted(box, 0xFFFFFF);  // white text: only the backdrop is red
    const Point from = box.caret(2, false);
    const Point to = box.caret(4, true);
    const int area = static_cast<int>((to.x - from.x) * (to.y - from.y));
    EXPECT_GT(painted.red(from.x, from.y, to.x, to.y), area / 2);  // the white text covers some
    EXPECT_EQ(painted.red(to.x + 1, 0, Painted::width, Painted::height), 0);
}

TEST_F(TextBoxTest, TabsAndLineSpacing) {
    TextBox tabbed(std::string_view("a\tb\tc"));
    tabbed.set_tab_width(100);
    EXPECT_NEAR(tabbed.caret(3, false).x, 100, 0.5);
    EXPECT_NEAR(tabbed.caret(5, false).x, 200, 0.5);
    TextBox spaced(std::string_view("a\nb\nc"));
    spaced.set_line_height(40);
    EXPECT_NEAR(spaced.line_height(3), 40, 0.5);
    EXPECT_NEAR(spaced.extent().y, 120, 1);
    // Never lower than the font's own lines.
    TextBox tight(std::string_view("a\nb"));
    tight.set_font(sized(20));
    tight.set_line_height(2);
    EXPECT_GT(tight.line_height(1), 20);
}

TEST_F(TextBoxTest, FontObjectsAndDefaults) {
    const Cell font = value("make object! [name: \"DejaVu Serif Condensed with a name too long\" size: 0 "
                            "style: [bold underline] angle: 30 anti-alias?: 'ClearType color: 255.0.0]");
    const FontSpec spec = font_spec(&font);
    EXPECT_EQ(spec.name, "DejaVu Serif Condensed with a n");  // 31 characters
    EXPECT_EQ(spec.points, font_spec(nullptr).points);        // size 0: the default size
    EXPECT_TRUE(spec.bold && spec.underline && !spec.italic && !spec.strike);
    EXPECT_EQ(spec.angle, 30);
    EXPECT_EQ(spec.smoothing, Smoothing::subpixel);
    EXPECT_TRUE(spec.has_colour);
    EXPECT_EQ(spec.colour, 0x0000FFu);
    const Cell plain = value("make object! [anti-alias?: true style: 'italic size: 12]");
    EXPECT_EQ(font_spec(&plain).smoothing, Smoothing::grey);
    EXPECT_TRUE(font_spec(&plain).italic);
    EXPECT_EQ(pango_font_description_get_weight(describe(spec).get()), PANGO_WEIGHT_BOLD);
    // 12 points at 96 and at 144 dots per inch.
    EXPECT_EQ(pango_font_description_get_size(describe(font_spec(&plain)).get()), 16 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_size(describe(font_spec(&plain), 144).get()), 24 * PANGO_SCALE);
    // A font that does not exist is the default one; an alias is kept.
    EXPECT_FALSE(family_exists("No Such Font At All"));
    EXPECT_TRUE(family_exists("dejavu sans mono"));
    EXPECT_TRUE(family_exists("Monospace"));
    FontSpec missing = font_spec(nullptr);
    missing.name = "No Such Font At All";
    EXPECT_STREQ(pango_font_description_get_family(describe(missing).get()),
                 pango_font_description_get_family(describe(font_spec(nullptr)).get()));
}

TEST_F(TextBoxTest, ParaDefaultsFollowTheFaceType) {
    const auto para = [this](const std::string& type, const std::string& fields) {
        const Cell p = fields.empty() ? Cell{} : value("make object! [align: v-align: none wrap?: false " + fields + "]");
        const Cell t = value("'" + type);
        return para_of(fields.empty() ? nullptr : &p, t);
    };
    EXPECT_EQ(para("base", "").horizontal, Align::middle);
    EXPECT_EQ(para("base", "").vertical, Align::middle);
    EXPECT_TRUE(para("rich-text", "").wrap);
    EXPECT_FALSE(para("rich-text", "align: 'right").wrap);
    EXPECT_EQ(para("rich-text", "align: 'right").horizontal, Align::end);
    EXPECT_EQ(para("check", "align: 'right").vertical, Align::middle);
    EXPECT_TRUE(para("text", "wrap?: false").ellipsis);
    EXPECT_TRUE(para("text", "wrap?: true").wrap);
    EXPECT_FALSE(para("text", "wrap?: true").ellipsis);
    EXPECT_EQ(para("slider", "align: 'center v-align: 'bottom").horizontal, Align::middle);
}

TEST_F(TextBoxTest, StyleBlocksOfFaces) {
    const Cell f = face("text: \"abcde fghij\" data: [1x5 bold 7x3 255.0.0 1x2 underline 0.0.255 'dash "
                        "strike border 2x2 \"DejaVu Serif\" 30 backdrop 0.255.0 8x20 italic]");
    FaceBox made = layout_face(f);
    ASSERT_FALSE(made.fault.any());
    ASSERT_NE(made.box, nullptr);
    EXPECT_EQ(made.box->length(), 11);
    // A value that is not of the dialect: the block at it.
    const std::vector<std::pair<std::string, std::int32_t>> wrong = {
        {"[1x2 bold foo]", 2}, {"[1x2 backdrop]", 2}, {"[1x2 backdrop 'x]", 2}, {"[1x2 [bold]]", 1},
        {"[bold 1x2 none]", 2},
    };
    for (const auto& [styles, at] : wrong) {
        const FaceBox bad = layout_face(face("text: \"abc\" data: " + styles));
        EXPECT_EQ(bad.box, nullptr) << styles;
        EXPECT_EQ(bad.fault.index, at) << styles;
    }
    // A word whose value is a colour is a backdrop's colour.
    EXPECT_FALSE(layout_face(face("text: \"abc\" data: [1x2 backdrop c] c: 1.2.3")).fault.any());
    // Only rich-text faces have style blocks; a block of one value is not one.
    EXPECT_FALSE(layout_face(face("type: 'base text: \"abc\" data: [\"x\" \"y\"]")).fault.any());
    EXPECT_FALSE(layout_face(face("text: \"abc\" data: [foo]")).fault.any());
}

TEST_F(TextBoxTest, RichTextFacesKeepTheirBox) {
    const Cell f = face("text: \"one two three\"");
    StyleFault fault;
    TextBox* first = kept_box(f, fault);
    ASSERT_NE(first, nullptr);
    const Cell h = *field_of(f, "handles");
    ASSERT_TRUE(h.is(TypeId::block));
    EXPECT_EQ(block::count_from_head(h), 5);
    EXPECT_TRUE(block::first_cell(h)[0].is(TypeId::handle));
    EXPECT_TRUE(block::first_cell(h)[4].is(TypeId::logic));
    EXPECT_EQ(block::first_cell(h)[4].logic_value(), 0u);
    EXPECT_EQ(kept_box(f, fault), first);  // not asked for anew: the same box
    logic::make_at(block::first_cell(*field_of(f, "handles"))[4], true);  // as update-para and size-text do
    EXPECT_EQ(block::first_cell(*field_of(f, "handles"))[4].logic_value(), 1u);
    TextBox* again = kept_box(f, fault);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(block::first_cell(*field_of(f, "handles"))[4].logic_value(), 0u);
    // Many faces: the oldest boxes are dropped and made again when asked for.
    for (int i = 0; i < 100; ++i) ASSERT_NE(kept_box(face("text: \"x\""), fault), nullptr);
    TextBox* remade = kept_box(f, fault);
    ASSERT_NE(remade, nullptr);
    EXPECT_EQ(remade->length(), 13);
    // A wrong style block gives the fault and no box.
    const Cell bad = face("text: \"abc\" data: [1x2 nonsense]");
    EXPECT_EQ(kept_box(bad, fault), nullptr);
    EXPECT_EQ(fault.index, 1);
}

TEST_F(TextBoxTest, MetricsQueries) {
    const Cell f = face("text: \"ab\" font: make object! [size: 20]");
    StyleFault fault;
    TextBox* box = kept_box(f, fault);
    ASSERT_NE(box, nullptr);
    const auto ask = [&](const std::string& arg, std::int32_t query) {
        const Cell a = value(arg);
        Cell result{};
        box_metrics(*box, a, query, result);
        return test::mold(result);
    };
    EXPECT_EQ(ask("1", 0), "(0, 0)");
    const Point b = box->caret(2, false);
    const double h = box->line_height(1);
    EXPECT_EQ(ask("2", 6), test::mold(value("to point2D! [" + std::to_string(b.x) + " " + std::to_string(h) + "]")));
    // A hit on the trailing half of a counts as b with query 1, not with 5.
    const std::string trailing = "(" + std::to_string(b.x - 1) + ", 5)";
    EXPECT_EQ(ask(trailing, 1), "2");
    EXPECT_EQ(ask(trailing, 5), "1");
    EXPECT_EQ(ask("1", 4), "1");
    EXPECT_EQ(ask("1", 99), "1");
    EXPECT_EQ(ask("1", 2).substr(0, 2), std::to_string(int(h)).substr(0, 2));
}

TEST_F(TextBoxTest, LargeTextLaysOutInBoundedTime) {
    // A megabyte in one paragraph and in lines, wrapped at a width.
    std::string one(1 << 20, 'x');
    for (std::size_t i = 7; i < one.size(); i += 8) one[i] = ' ';
    TextBox paragraph(one);
    paragraph.set_size(500, 0);
    paragraph.set_para({Align::start, Align::start, true, false});
    EXPECT_GT(paragraph.line_count(), 1000);
    EXPECT_EQ(paragraph.index_at(paragraph.caret(900000, false), false), 900000);
    // A paragraph longer than a block but not longer than a cut one, without
    // line feeds or spaces, as the console measures a long printed line.
    for (std::size_t size : {5000u, 16384u, 16385u, 40000u}) {
        TextBox word(std::string(size, 'y'));
        word.set_size(500, 0);
        word.set_para({Align::start, Align::start, true, false});
        EXPECT_GT(word.line_count(), 1) << size;
        EXPECT_EQ(word.index_at(word.caret(static_cast<std::int32_t>(size), false), false), static_cast<std::int32_t>(size)) << size;
    }
    std::string lines = one;
    for (std::size_t i = 79; i < lines.size(); i += 80) lines[i] = '\n';
    TextBox many(lines);
    for (std::int32_t i = 0; i < 100000; ++i) many.colour(i * 10, 5, 0x0000FF);  // styles in any order
    for (std::int32_t i = 100000; i-- > 0;) many.bold(i * 10, 3);
    EXPECT_EQ(many.line_count(), static_cast<std::int32_t>(lines.size() / 80) + 1);
    // Carets and hits agree across the places where Pango's layouts meet.
    for (std::int32_t i : {4000, 4079, 4080, 4081, 4160, 8161, 500000, 1048576}) {
        const Point p = many.caret(i, false);
        EXPECT_EQ(many.index_at({p.x + 0.5, p.y + 1}, true), i) << i;
        EXPECT_EQ(many.caret(i, false).y, many.line_height(1) * ((i - 1) / 80)) << i;
    }
}

}  // namespace
}  // namespace kiv::text
