// draw-image: a draw block drawn on an image through the draw pass in the
// toolkit module, which it opens without a display.
#include "gui/backend/gui.h"

#include "gui/backend/draw/failure.h"
#include "gui/backend/toolkit.h"
#include "runtime/datatypes/function.h"
#include "runtime/evaluator/natives.h"
#include "runtime/raise.h"
#include "runtime/datatypes/string.h"

namespace kiv::gui {

namespace {

using DrawImage = void (*)(const Cell* image, const Cell* commands, draw::Failure* failure);

void draw_image(Cell* args) {
    if (!args[0].is(TypeId::image)) natives::expect_arg("draw-image", args[0], "image");
    if (!args[1].is(TypeId::block)) natives::expect_arg("draw-image", args[1], "cmd");
    static const auto entry = reinterpret_cast<DrawImage>(toolkit::module_symbol(draw::image_entry));
    if (entry == nullptr) {
        Cell name;
        string::make_at(name, 16);
        string::append_nul_text(name.series_node(), "kiv-gtk.so");
        runtime::raise_error(ErrorCategory::access, "cannot-open", &name);
    }
    const Cell image = args[0];  // args[0] stays the image: the result
    const Cell commands = args[1];
    draw::Failure failure;
    entry(&image, &commands, &failure);
    if (failure.id != nullptr) runtime::raise_error(failure.category, failure.id, &failure.arg);
}

}  // namespace

void add_draw_routine() { routine::add("draw-image", draw_image); }

}  // namespace kiv::gui
