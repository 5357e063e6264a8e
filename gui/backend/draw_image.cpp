// The platform's draw-image: a draw block drawn on an image through the draw
// pass in the toolkit module, which it opens without a display.
#include "gui/backend/gui.h"

#include "gui/backend/draw/failure.h"
#include "gui/backend/toolkit.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/natives.h"
#include "runtime/core/raise.h"

namespace kiv::gui {

namespace {

using DrawImage = void (*)(const Cell* image, const Cell* commands, draw::Failure* failure);

// Draws the block on the image, then tells the image's owner that its pixels
// changed. An image with no pixels is left alone.
void draw_image(Cell* args) {
    if (!args[0].is(TypeId::image)) natives::expect_arg("draw-image", args[0], "image");
    if (!args[1].is(TypeId::block)) natives::expect_arg("draw-image", args[1], "cmds");
    const Cell image = args[0];
    const Cell commands = args[1];
    none::make_at(args[0]);
    if (image::width_of(image) <= 0 || image::height_of(image) <= 0) return;
    static const auto entry = reinterpret_cast<DrawImage>(toolkit::module_function(draw::image_entry));
    draw::Failure failure;
    entry(&image, &commands, &failure);
    if (failure.id != nullptr) runtime::raise_error(failure.category, failure.id, &failure.arg);
    ownership::check_owner(image, words::word(words::Word::poke), nullptr, -1, -1);
}

}  // namespace

void add_draw_routine() { routine::add("draw-image", draw_image); }

}  // namespace kiv::gui
