// Faces as text-boxes: reading a face's facets, the style dialect, the boxes
// rich-text faces keep, and the metrics questions.
#include "gui/backend/text/face_box.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace kiv::text {

namespace {

// Boxes kept for rich-text faces; the least recently used goes first.
constexpr std::size_t max_kept = 32;
// Cells of a handles block: the box's handle, the target (none on Cairo),
// the text laid out, a spare, and last the flag asking for a new layout.
constexpr std::int32_t handles_size = 5;

Cell* writable_field(const Cell& object, const char* name) { return const_cast<Cell*>(field_of(object, name)); }

// The value a word stands for, or the value itself.
const Cell& deref(const Cell& value) {
    if (value.is(TypeId::word)) {
        if (const Cell* v = context::peek_word_cell(value)) return *v;
    }
    return value;
}

bool is_colour(const Cell& value) { return deref(value).is(TypeId::tuple); }

double number_of(const Cell& v) {
    const double d = v.is(TypeId::integer) ? v.int_value() : v.is(TypeId::float_) ? v.f64() : 0;
    return std::isfinite(d) ? d : 0;
}

// A pair! or point2D! facet, rounded to whole units; 0x0 for anything else.
Point whole_size(const Cell* size) {
    if (size == nullptr) return {};
    if (size->is(TypeId::pair)) return {static_cast<double>(size->pair_x()), static_cast<double>(size->pair_y())};
    if (!size->is(TypeId::point2d)) return {};
    const auto whole = [](float v) { return std::isfinite(v) ? std::floor(v + 0.5) : 0.0; };
    return {whole(size->point_coord(0)), whole(size->point_coord(1))};
}

Point point_of(const Cell& v) {
    if (v.is(TypeId::pair)) return {static_cast<double>(v.pair_x()), static_cast<double>(v.pair_y())};
    if (v.is(TypeId::point2d)) return {v.point_coord(0), v.point_coord(1)};
    return {};
}

struct Kept {
    std::uint32_t id = 0;
    NodeId face = 0;     // the face's context
    NodeId handles = 0;  // its handles block
    std::uint64_t used = 0;
    std::unique_ptr<TextBox> box;
};

std::vector<Kept>& kept() {
    static std::vector<Kept> boxes;
    return boxes;
}

// The face's handles block, made anew unless it has the back end's shape.
Cell* handles_of(const Cell& face) {
    Cell* handles = writable_field(face, "handles");
    if (handles == nullptr) return nullptr;
    if (!handles->is(TypeId::block) || block::length_of(*handles) - block::clamped_head(*handles) < handles_size) {
        Cell made{};
        block::make_at_filled(made, handles_size, false);
        Cell* cells = block::first_cell(made);
        for (std::int32_t i = 0; i < handles_size; ++i) none::make_at(cells[i]);
        logic::make_at(cells[handles_size - 1], true);
        handles = writable_field(face, "handles");  // the cell again, after the allocation
        *handles = made;
    }
    return handles;
}

}  // namespace

Cell StyleFault::at() const {
    Cell c = block;
    c.set_series_head(index);
    return c;
}

StyleFault apply_styles(TextBox& box, const Cell& styles) {
    StyleFault fault;
    if (!styles.is(TypeId::block)) return fault;
    const std::int32_t end = block::length_of(styles);
    std::int32_t first = 0;
    std::int32_t count = 0;
    // Cell addresses are taken afresh for every value: the box allocates nothing
    // in the runtime, but a word's value is read through the context.
    const auto cell = [&styles](std::int32_t i) -> const Cell& { return block::first_cell(styles)[i]; };
    for (std::int32_t i = block::clamped_head(styles); i < end; ++i) {
        const Cell& v = cell(i);
        switch (v.type()) {
        case TypeId::pair:
            first = v.pair_x() - 1;
            count = v.pair_y();
            continue;
        case TypeId::tuple: box.colour(first, count, pack_colour(v)); continue;
        case TypeId::string: box.family(first, count, string::utf8_of(v)); continue;
        case TypeId::integer:
        case TypeId::float_: box.size(first, count, number_of(v)); continue;
        default: break;
        }
        if (is_word(v, "bold")) {
            box.bold(first, count);
        } else if (is_word(v, "italic")) {
            box.italic(first, count);
        } else if (is_word(v, "underline") || is_word(v, "strike") || is_word(v, "border")) {
            if (is_word(v, "underline")) box.underline(first, count);
            if (is_word(v, "strike")) box.strike(first, count);
            // An optional colour and line style, taken and not used.
            if (i + 1 < end && is_colour(cell(i + 1))) ++i;
            if (i + 1 < end && cell(i + 1).is(TypeId::lit_word)) ++i;
        } else if (is_word(v, "backdrop")) {
            if (i + 1 >= end || !is_colour(cell(i + 1))) {
                fault.index = i + 1;
                break;
            }
            ++i;
            box.backdrop(first, count, pack_colour(deref(cell(i))));
        } else {
            fault.index = i;
            break;
        }
    }
    if (fault.any()) fault.block = styles;
    return fault;
}

FaceBox layout_face(const Cell& face) {
    FaceBox made;
    const Cell* text = field_of(face, "text");
    made.box = std::make_unique<TextBox>(text != nullptr ? *text : Cell{});
    TextBox& box = *made.box;
    const Cell* type_cell = field_of(face, "type");
    const Cell type = type_cell != nullptr ? *type_cell : Cell{};
    const bool rich = is_word(type, "rich-text");
    const FontSpec font = font_spec(field_of(face, "font"));
    box.set_font(font);
    const Point size = whole_size(field_of(face, "size"));
    box.set_size(size.x, size.y);
    box.set_para(para_of(field_of(face, "para"), type));
    if (rich) {
        if (const Cell* tabs = field_of(face, "tabs")) box.set_tab_width(number_of(*tabs));
        if (const Cell* spacing = field_of(face, "line-spacing")) {
            if (spacing->is(TypeId::none)) box.set_line_height(0);
            else if (spacing->is(TypeId::integer) || spacing->is(TypeId::float_)) box.set_line_height(number_of(*spacing));
        }
    }
    if (font.has_colour) box.colour(0, box.length(), font.colour);
    const Cell* data = field_of(face, "data");
    if (rich && data != nullptr && data->is(TypeId::block) && block::count_from_head(*data) > 1) {
        const Cell styles = *data;
        made.fault = apply_styles(box, styles);
        if (made.fault.any()) made.box.reset();
    }
    return made;
}

TextBox* kept_box(const Cell& face, StyleFault& fault) {
    static std::uint64_t clock = 0;
    static std::uint32_t last_id = 0;
    Cell* handles = handles_of(face);
    std::vector<Kept>& boxes = kept();
    const NodeId face_node = face.object_context();
    Kept* entry = nullptr;
    bool fresh = true;
    if (handles != nullptr) {
        const Cell* cells = block::first_cell(*handles) + block::clamped_head(*handles);
        const Cell& flag = block::first_cell(*handles)[block::length_of(*handles) - 1];
        fresh = !flag.is(TypeId::logic) || flag.logic_value() != 0;
        if (cells[0].is(TypeId::handle)) {
            for (Kept& k : boxes)
                if (k.id == cells[0].handle_value() && k.face == face_node && k.handles == handles->series_node())
                    entry = &k;
        }
    }
    if (entry != nullptr && !fresh) {
        entry->used = ++clock;
        return entry->box.get();
    }
    FaceBox made = layout_face(face);
    if (made.fault.any()) {
        fault = made.fault;
        return nullptr;
    }
    if (entry == nullptr) {
        if (boxes.size() < max_kept) {
            boxes.emplace_back();
            entry = &boxes.back();
        } else {
            entry = &*std::min_element(boxes.begin(), boxes.end(),
                                       [](const Kept& a, const Kept& b) { return a.used < b.used; });
        }
        if (++last_id == 0) last_id = 1;  // 0 is no box
        entry->id = last_id;
    }
    entry->face = face_node;
    entry->handles = handles != nullptr ? handles->series_node() : 0;
    entry->used = ++clock;
    entry->box = std::move(made.box);
    if (handles != nullptr) {
        Cell* cells = block::first_cell(*handles) + block::clamped_head(*handles);
        handle::make_at(cells[0], entry->id, handle::Class::rich_text);
        const Cell* text = field_of(face, "text");
        cells[2] = text != nullptr ? *text : Cell{};
        if (text == nullptr) none::make_at(cells[2]);
        logic::make_at(block::first_cell(*handles)[block::length_of(*handles) - 1], false);
    }
    return entry->box.get();
}

void box_metrics(TextBox& box, const Cell& arg, std::int32_t query, Cell& result) {
    const std::int32_t index = arg.is(TypeId::integer) ? arg.int_value() : 0;
    switch (query) {
    case 0:
    case 6: {
        const Point p = box.caret(index, query == 6);
        point::make_at(result, static_cast<float>(p.x), static_cast<float>(p.y));
        return;
    }
    case 1:
    case 5: integer::make_at(result, box.index_at(point_of(arg), query == 1)); return;
    case 2: float_::make_at(result, box.line_height(index)); return;
    case 3: {
        const Point p = box.extent();
        point::make_at(result, static_cast<float>(p.x), static_cast<float>(p.y));
        return;
    }
    default: integer::make_at(result, box.line_count()); return;
    }
}

}  // namespace kiv::text
