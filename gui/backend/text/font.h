// Fonts, paragraph settings and colours as the text layouts and the widgets
// use them: a font! object read into a FontSpec and made into a Pango font
// description, a para! object read into the alignment and wrapping of one
// face type, a tuple! packed into a colour.
#pragma once

#include "runtime/core/cell.h"

#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kiv::text {

// --- Colours ---------------------------------------------------------------------------

// The colour of a tuple: R | G << 8 | B << 16 | T << 24, T the fourth
// component (a transparency; 0 when absent).
std::uint32_t pack_colour(const Cell& tuple);
// Makes the packed colour the source of cr.
void set_colour(cairo_t* cr, std::uint32_t packed);

// --- Fonts -----------------------------------------------------------------------------

// How glyph edges are smoothed: anti-alias? false or none, true, or the word
// ClearType.
enum class Smoothing : std::uint8_t { standard, grey, subpixel };

// What a font! object says, its gaps filled with the defaults.
struct FontSpec {
    std::string name;     // at most 31 characters; the default font's name when the object has none
    double points = 0;    // above 0: the default size when the object's is not
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    std::int32_t angle = 0;  // degrees, counter-clockwise
    Smoothing smoothing = Smoothing::standard;
    bool has_colour = false;
    std::uint32_t colour = 0;  // packed; the text's colour when has_colour
};

// Reads a font object's fields; null (or a value that is not an object)
// gives the default font.
FontSpec font_spec(const Cell* font);

// The description of a font at a resolution (dots per inch; the text layouts
// use 96, so that sizes are in device-independent units): the family the
// name names, or the default font's when no font has that name. Descriptions
// are cached; the caller keeps the one it uses.
std::shared_ptr<PangoFontDescription> describe(const FontSpec& spec, double dpi = 96);
// The same for a font object (null: the default font).
std::shared_ptr<PangoFontDescription> font_description(const Cell* font);

// True when a font of that family (or a name the font configuration aliases
// to one, such as "Monospace") is installed.
bool family_exists(std::string_view name);

// The font options every text layout uses (grey anti-aliasing, no hinting),
// so that text looks the same on every machine.
const cairo_font_options_t* font_options();
// The same with the smoothing of a font.
cairo_antialias_t antialias_of(Smoothing smoothing);

// The context every text layout is made on: no window needed, 96 dots per
// inch, the fixed font options.
PangoContext* offscreen_context();

// --- Paragraphs ------------------------------------------------------------------------

enum class Align : std::uint8_t { start, middle, end };  // left/top, center/middle, right/bottom

// How a face of one type places its text: the para's fields, or the type's
// defaults where the para has none.
struct Para {
    Align horizontal = Align::start;
    Align vertical = Align::start;
    bool wrap = false;      // lines break at the face's width
    bool ellipsis = false;  // a line too long for the width ends in "..."
};

// The para (an object, or null) of a face whose type is the word face_type.
Para para_of(const Cell* para, const Cell& face_type);

// --- Object fields ---------------------------------------------------------------------

// The field of an object named name (an object's own spelling, any case), or
// null when the object has none. Valid until the next allocation.
const Cell* field_of(const Cell& object, const char* name);
// True when value is a word of any kind spelt name, in any case.
bool is_word(const Cell& value, const char* name);

}  // namespace kiv::text
