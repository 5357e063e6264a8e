// The text-box: a text laid out by Pango in a box of a given width, with
// styles on ranges of characters, and the questions a caret and a mouse ask
// of it. Character indexes are the language's (one per code point, so a
// character outside the BMP counts once); the box maps them to the UTF-8
// byte offsets Pango works in.
#pragma once

#include "gui/backend/text/font.h"
#include "runtime/core/cell.h"

#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::text {

struct Point {
    double x = 0;
    double y = 0;
};

// Character index <-> UTF-8 byte offset of one text.
class CharMap {
public:
    // Takes the text's UTF-8 (valid, without NUL).
    void build(const std::string& utf8);
    std::int32_t chars() const { return chars_; }
    // The offset of character index (0 to chars()).
    std::int32_t byte_of(std::int32_t index) const;
    // The index of the character holding the byte at offset.
    std::int32_t char_of(std::int32_t offset) const;

private:
    std::int32_t chars_ = 0;
    std::vector<std::int32_t> bytes_;  // per character, plus the end; empty when all are ASCII
};

class TextBox {
public:
    // A box for the text of a string! from its head. A NUL or a lone
    // surrogate shows as U+FFFD (still one character).
    explicit TextBox(const Cell& text);
    // A box for UTF-8 text (invalid bytes show as U+FFFD, one character each).
    explicit TextBox(std::string_view utf8);
    ~TextBox();
    TextBox(const TextBox&) = delete;
    TextBox& operator=(const TextBox&) = delete;

    // --- Settings, made before the first question --------------------------------------

    void set_font(const FontSpec& font);
    // The box: 0 (or less) for no limit on that side.
    void set_size(double width, double height);
    void set_para(const Para& para);
    // Tab stops every width units (0: Pango's default).
    void set_tab_width(double width);
    // Lines of one height: this one, or a capital I's in the font when that
    // is higher (0: always the I's). Negative: each line its own height.
    void set_line_height(double height);

    // Styles on count characters from index first (0-based): a range reaching
    // past the text's end is cut there; an empty or negative one is ignored.
    // A later style on the same characters wins.
    void colour(std::int32_t first, std::int32_t count, std::uint32_t packed);
    void backdrop(std::int32_t first, std::int32_t count, std::uint32_t packed);
    void bold(std::int32_t first, std::int32_t count);
    void italic(std::int32_t first, std::int32_t count);
    void underline(std::int32_t first, std::int32_t count);
    void strike(std::int32_t first, std::int32_t count);
    void family(std::int32_t first, std::int32_t count, std::string_view name);
    void size(std::int32_t first, std::int32_t count, double points);

    // --- Questions (the first lays the text out) -----------------------------------------

    std::int32_t length() const { return map_.chars(); }
    // The top-left of the caret before character index (1-based; clamped to
    // the text), y never below 0; with lower, its bottom end.
    Point caret(std::int32_t index, bool lower);
    // The 1-based index of the character at the point; with trailing, a hit
    // on a character's trailing half gives the next one.
    std::int32_t index_at(Point at, bool trailing);
    // The height of the line holding character index (1-based).
    double line_height(std::int32_t index);
    // The width and height of the laid-out text.
    Point extent();
    std::int32_t line_count();

    // Paints the backdrops, then the text at (x, y) of cr: colour where no
    // colour style says otherwise.
    void paint(cairo_t* cr, Point at, std::uint32_t colour);

    // The layout of the first block (the whole text unless it is long).
    PangoLayout* layout();

private:
    struct Backdrop {
        std::int32_t start;  // byte offsets
        std::int32_t end;
        std::uint32_t colour;
    };
    // A stretch of the text laid out on its own: whole paragraphs, each block
    // small enough for Pango to lay out quickly (a paragraph longer than a
    // block is cut, preferably after a space). The line feed that ends a
    // block belongs to none.
    struct Block {
        std::int32_t start;  // byte offsets of its text
        std::int32_t end;
        PangoLayout* layout = nullptr;
        double top = 0;  // in the layout's units, from the first block's top
        double height = 0;
    };
    // The byte range of a character range, false when it is empty.
    bool bytes_of(std::int32_t first, std::int32_t count, std::int32_t& start, std::int32_t& end) const;
    void add(PangoAttribute* attribute, std::int32_t first, std::int32_t count);
    void drop_layout();
    // Lays the blocks out unless they are.
    void lay_out();
    // The block holding the byte at offset (a separating line feed: the block it ends).
    const Block& block_at(std::int32_t offset) const;
    // Where the text's origin lies in the box (alignment without a width to
    // align in, vertical alignment).
    Point offset();

    std::string utf8_;
    CharMap map_;
    std::shared_ptr<PangoFontDescription> font_;
    FontSpec spec_;
    double width_ = 0;
    double height_ = 0;
    Para para_;
    double tab_width_ = 0;
    double line_height_ = -1;
    std::vector<PangoAttribute*> attributes_;  // in the order given
    std::vector<Backdrop> backdrops_;
    std::vector<Block> blocks_;  // empty until laid out
    double width_out_ = 0;       // the widest block's width
};

}  // namespace kiv::text
