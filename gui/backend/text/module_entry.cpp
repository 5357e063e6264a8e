// The text layer's entries in the toolkit module.
#include "gui/backend/text/entries.h"

#include "gui/backend/text/face_box.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/point.h"

namespace {

using namespace kiv;

bool drawn_type(const Cell& face) {
    const Cell* type = text::field_of(face, "type");
    return type != nullptr && (text::is_word(*type, "base") || text::is_word(*type, "rich-text") ||
                               text::is_word(*type, "window") || text::is_word(*type, "panel"));
}

}  // namespace

extern "C" void kiv_gui_text_metrics(const Cell* face, const Cell* arg, std::int32_t query, Cell* result,
                                     Cell* fault) {
    none::make_at(*fault);
    text::StyleFault wrong;
    text::TextBox* box = text::kept_box(*face, wrong);
    if (box == nullptr) {
        none::make_at(*result);
        *fault = wrong.at();
        return;
    }
    text::box_metrics(*box, *arg, query, *result);
}

extern "C" void kiv_gui_text_size(const Cell* face, const Cell* string, Cell* result) {
    text::TextBox box(*string);
    const Cell* type = text::field_of(*face, "type");
    box.set_font(text::font_spec(text::field_of(*face, "font")));
    text::Point scale{1, 1};
    if (drawn_type(*face)) {
        // In the face's box, as its text is drawn; the width is taken at 98%,
        // as the view engine's sizing of drawn faces expects.
        const Cell* size = text::field_of(*face, "size");
        if (size != nullptr && size->is(TypeId::pair)) box.set_size(size->pair_x(), size->pair_y());
        if (size != nullptr && size->is(TypeId::point2d)) box.set_size(size->point_coord(0), size->point_coord(1));
        box.set_para(text::para_of(text::field_of(*face, "para"), type != nullptr ? *type : Cell{}));
        scale.x = 0.98;
    }
    const text::Point extent = box.extent();
    point::make_at(*result, static_cast<float>(extent.x * scale.x), static_cast<float>(extent.y * scale.y));
}
