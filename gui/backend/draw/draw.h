// The draw dialect: a block of drawing commands painted with Cairo on a Cairo
// context or on an image!'s pixels. The block is never evaluated: its values
// are literal arguments, and a word stands for its value only where a command
// takes a colour, an image or a font.
#pragma once

#include "gui/backend/draw/failure.h"
#include "runtime/core/cell.h"

#include <cairo.h>

namespace kiv::draw {

// How an error in the block ends the drawing. The drawing stops at the bad
// value either way; with the view object's silent? set nothing is reported.
enum class OnError {
    give,   // the error is given back to the caller, who raises it
    print,  // the error report is printed and the caller goes on
};


// One whole pass on cr: the block is drawn from a fresh drawing state (black
// pen, no fill, line width 1, the transform cr has) and cr is left as it was.
// A value other than a block draws nothing.
Failure draw_on_cairo(cairo_t* cr, const Cell& commands, OnError on_error);

// One whole pass on image's pixels, which are converted to premultiplied
// ARGB32 for the pass and back after it; pixels the drawing did not change
// keep their exact value. An empty block leaves the image untouched.
Failure draw_on_image(const Cell& image, const Cell& commands, OnError on_error);

}  // namespace kiv::draw
