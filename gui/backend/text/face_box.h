// A face's text as a text-box: its text in its font and para, at its size,
// with (for a rich-text face) its tabs, line spacing and the style block in
// its data. A rich-text face keeps its box between questions: its `handles`
// facet names it, and asks for a new one through its last value.
#pragma once

#include "gui/backend/text/text_box.h"
#include "runtime/core/cell.h"

#include <cstdint>
#include <memory>

namespace kiv::text {

// Where a style block stopped being of the dialect.
struct StyleFault {
    std::int32_t index = -1;  // absolute index of the value in the block; -1: none
    Cell block{};
    bool any() const { return index >= 0; }
    // The block at the value (the argument of the dialect's error).
    Cell at() const;
};

// Applies a style block from its head: range pairs, each followed by the
// values that style its characters (a colour, a font name, a size, bold,
// italic, underline, strike, border, backdrop and its colour). The first
// value that is none of these ends it.
StyleFault apply_styles(TextBox& box, const Cell& styles);

// A new box for a face (an object). A fault leaves box null.
struct FaceBox {
    std::unique_ptr<TextBox> box;
    StyleFault fault;
};
FaceBox layout_face(const Cell& face);

// The box of a rich-text face, laid out again when its handles block asks
// for it or the box has been dropped; null with the fault when its style
// block is wrong. The box stays valid until the next call.
TextBox* kept_box(const Cell& face, StyleFault& fault);

// The answer to a metrics question about a box: query 0 the caret before
// character arg (a point2D!), 6 its lower end, 1 the character at point arg
// counting a trailing half as the next, 5 the same without that, 2 the
// height of the line holding character arg (float!), 3 the text's size
// (point2D!), any other the number of lines.
void box_metrics(TextBox& box, const Cell& arg, std::int32_t query, Cell& result);

}  // namespace kiv::text
