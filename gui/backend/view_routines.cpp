#include "gui/backend/view_routines.h"

#include "gui/backend/camera.h"
#include "gui/backend/font_chooser.h"
#include "gui/backend/menus.h"
#include "gui/backend/message_loop.h"
#include "gui/backend/text/entries.h"
#include "gui/backend/toolkit.h"
#include "gui/backend/units.h"
#include "gui/backend/widgets.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/core/output_hooks.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace kiv::view_routines {

namespace {

using widgets::Facet;

// With the recording toolkit, every call of a view routine prints a line:
// its name and its arguments, molded flat.
void record(const char* name, const Cell* args, int count) {
    if (!toolkit::recording()) return;
    Cell line{};
    string::make_at(line, 80);
    const collector::Root keep(line);
    string::append_nul_text(line.series_node(), "platform/");
    string::append_nul_text(line.series_node(), name);
    for (int i = 0; i < count; ++i) {
        string::append_char(line.series_node(), ' ');
        Cell arg = args[i];
        actions::mold_to(&arg, line.series_node(), {.flat = true}, 60);
    }
    output_hooks::call_print_hooks(&keep.cell(), true);
}

// A string! of UTF-8 text.
Cell text_of(std::string_view utf8) {
    Cell text{};
    string::make_at(text, static_cast<std::int32_t>(utf8.size()));
    string::append_utf8(text.series_node(), utf8.data(), static_cast<std::int32_t>(utf8.size()));
    return text;
}

[[noreturn]] void invalid_type(const Cell& value) {
    const Cell type = datatype::of(value.type());
    runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
}

// The toolkit, or the error that there is no display to make widgets on.
const toolkit::Toolkit& toolkit_or_raise(const char* what) {
    const toolkit::Toolkit* tk = toolkit::get();
    if (tk == nullptr) {
        const Cell name = text_of(what);
        runtime::raise_error(ErrorCategory::access, "no-create", &name);
    }
    return *tk;
}

void result_none(Cell* args) { none::make_at(args[0]); }

bool is_word(const Cell& value, const char* name) {
    return word::is_any_word(value.type()) &&
           symbol::resolve_alias(value.word_symbol()) == symbol::resolve_alias(symbol::make(name));
}

// The field of an object named name (any case), or null.
Cell* field(const Cell& object, const char* name) {
    if (!object.is(TypeId::object)) return nullptr;
    const NodeId ctx = object.object_context();
    const std::int32_t i = context::find_symbol(ctx, symbol::make(name), true);
    return i < 0 ? nullptr : context::value_at(ctx, i);
}

// The change bit of a face's para.
constexpr std::int32_t para_change_bit = 0x40000;

// Asks a rich-text face's text-box to be laid out again: the last value of
// its handles block (a face with none has no box yet).
void mark_relayout(const Cell& face) {
    Cell* handles = field(face, "handles");
    if (handles == nullptr || !handles->is(TypeId::block) || block::length_of(*handles) < 1) return;
    logic::make_at(*block::get_cell(*handles, block::length_of(*handles) - 1), true);
}

template <class Function>
Function entry(const char* name) {
    return reinterpret_cast<Function>(toolkit::module_function(name));
}

std::int32_t widget_of_handle(const Cell& h) {
    const auto index = static_cast<std::int32_t>(h.handle_value());
    return widgets::get(index) != nullptr ? index : 0;
}

// The timer interval a `rate` facet asks for: an integer n is n ticks a
// second (1000 / n ms), a time! the period; 0 for none (no timer). Any other
// value, an integer below 1 or a time! of 0 or less is invalid-facet-type.
std::int32_t rate_interval(const Cell* rate) {
    if (rate == nullptr || rate->is(TypeId::none)) return 0;
    double ms = 0.0;
    if (rate->is(TypeId::integer) && rate->int_value() > 0) ms = 1000 / rate->int_value();
    else if (rate->is(TypeId::time) && rate->f64() > 0.0) ms = std::trunc(rate->f64() * 1000.0);
    else runtime::raise_error(ErrorCategory::script, "invalid-facet-type", rate);
    return ms < 1.0 ? 1 : ms > 2147483647.0 ? 2147483647 : static_cast<std::int32_t>(ms);
}

// --- Routines of the platform object --------------------------------------------

void make_null_handle(Cell* args) {
    record("make-null-handle", args, 0);
    handle::make_at(args[0], 0, handle::Class::null);
}

void fetch_all_screens(Cell* args) {
    record("fetch-all-screens", args, 0);
    toolkit::Screen screens[16];
    const toolkit::Toolkit* tk = toolkit::get();
    const std::int32_t n = tk != nullptr ? std::min(tk->screens(screens, 16), 16) : 0;
    Cell list{};
    block::make_at(list, n > 0 ? n : 1);
    const collector::Root keep(list);
    for (std::int32_t i = 0; i < n; ++i) {
        const toolkit::Screen& s = screens[i];
        Cell* entry = block::make_in(&list, 4);
        Cell e = *entry;
        pair::make_in(e, s.x, s.y);
        pair::make_in(e, s.width, s.height);
        float_::make_in(e, s.scale);
        Cell h{};
        handle::make_at(h, static_cast<std::uint32_t>(s.id), handle::Class::monitor);
        block::append_copy(e, h);
    }
    args[0] = list;
}

void size_text(Cell* args) {
    record("size-text", args, 2);
    Cell text = args[1];
    if (text.is(TypeId::none)) {
        const Cell* t = widgets::facet(args[0], Facet::text);
        text = t != nullptr ? *t : none::value;
    } else if (!text.is(TypeId::string)) {
        invalid_type(text);
    }
    if (!text.is(TypeId::string)) return result_none(args);
    const Cell face = args[0];
    entry<text::SizeEntry>(text::size_entry)(&face, &text, &args[0]);
}

// Destroys the widget of a face and the widgets below it, the children
// first. The widget table holds the tree, so a face's pane that holds the
// face itself, or nests without end, changes nothing; messages still posted
// for those widgets are dropped with them.
void destroy_tree(const Cell& face) {
    const std::int32_t top = widgets::of_face(face);
    if (top == 0) return;
    for (const std::int32_t widget : widgets::subtree(top)) {
        if (const toolkit::Toolkit* tk = toolkit::get()) tk->destroy(widget);
        camera::free(widget);
        message_loop::forget(widget);
        widgets::remove(widget);
    }
}

void destroy_view(Cell* args) {
    record("destroy-view", args, 2);
    const Cell face = args[0];
    if (args[1].is(TypeId::logic) && args[1].logic_value() != 0) message_loop::window_destroyed();
    destroy_tree(face);
    result_none(args);
}

void detach_image(Cell* args) {
    record("detach-image", args, 1);
    ownership::unset_owner_deep(args[0]);
    result_none(args);
}

// The pending change bits of a face's state (its second value).
Cell* change_bits(const Cell& face) {
    Cell* state = field(face, "state");
    if (state == nullptr || !state->is(TypeId::block) || block::count_from_head(*state) < 2) return nullptr;
    Cell* bits = block::get_cell(*state, state->series_head() + 1);
    return bits->is(TypeId::integer) ? bits : nullptr;
}

// Applies the face's pending changes to its widget, in the toolkit's order,
// and leaves none pending. The timer comes last: a bad rate is raised once
// everything else is applied.
void apply_changes(const Cell& face) {
    const widgets::FaceType type = widgets::type_of(face);
    if (type == widgets::FaceType::screen) return;
    const std::int32_t widget = widgets::of_face(face);
    if (widget == 0) {
        // a rich-text face with no widget yet: its text-box is laid out anew when next asked
        if (type == widgets::FaceType::rich_text) mark_relayout(face);
        return;
    }
    Cell* bits_cell = change_bits(face);
    const std::uint32_t bits = bits_cell != nullptr ? static_cast<std::uint32_t>(bits_cell->int_value()) : 0;
    if (bits_cell != nullptr) integer::make_at(*bits_cell, 0);
    if (type == widgets::FaceType::rich_text) mark_relayout(face);
    const toolkit::Toolkit* tk = toolkit::get();
    if (tk == nullptr || bits == 0) return;
    if ((bits & widgets::change_bit(Facet::flags)) != 0)
        if (const Cell* flags = widgets::facet(face, Facet::flags))
            widgets::get(widget)->face_flags = widgets::flags_of(*flags);
    if ((bits & widgets::change_bit(Facet::size)) != 0) {
        const Cell* size = widgets::facet(face, Facet::size);
        std::uint32_t& backend = widgets::get(widget)->backend_flags;
        if (size != nullptr && size->is(TypeId::pair)) backend |= widgets::backend_flag::pair_size;
        else backend &= ~widgets::backend_flag::pair_size;
    }
    tk->update(widget, face, bits & ~widgets::change_bit(Facet::rate));
    if ((bits & widgets::change_bit(Facet::selected)) != 0 && type == widgets::FaceType::camera)
        camera::select(widget, *widgets::facet(face, Facet::selected));
    if ((bits & widgets::change_bit(Facet::menu)) != 0 && type == widgets::FaceType::window) menus::update_bar_later(widget);
    if ((bits & widgets::change_bit(Facet::rate)) != 0 && widgets::get(widget) != nullptr)
        tk->set_timer(widget, rate_interval(widgets::facet(face, Facet::rate)));
}

void update_view(Cell* args) {
    record("update-view", args, 1);
    const Cell face = args[0];
    result_none(args);
    if (face.is(TypeId::block)) {
        const std::int32_t n = block::count_from_head(face);
        for (std::int32_t i = 0; i < n; ++i) {
            const Cell* c = block::get_cell(face, face.series_head() + i);
            if (!c->is(TypeId::object)) invalid_type(*c);
        }
        Cell faces = face;
        const collector::Root keep(faces);
        for (std::int32_t i = 0; i < block::count_from_head(faces); ++i)
            apply_changes(*block::get_cell(faces, faces.series_head() + i));
        return;
    }
    if (!face.is(TypeId::object)) invalid_type(face);
    apply_changes(face);
}

// A series facet changed in place. A pane places its faces again; a list
// or tab panel takes its new data at once; in both cases the face's pending
// changes wait for the next show. Any other change is applied with the
// face's pending changes.
void on_change_facet(Cell* args) {
    record("on-change-facet", args, 7);
    const Cell owner = args[0];
    const Cell word = args[1];
    const Cell series = args[2];
    const Cell action = args[3];
    const std::int32_t index = args[5].is(TypeId::integer) ? static_cast<std::int32_t>(args[5].int_value()) : 0;
    const std::int32_t part = args[6].is(TypeId::integer) ? static_cast<std::int32_t>(args[6].int_value()) : 0;
    result_none(args);
    if (!owner.is(TypeId::object) || !word::is_any_word(word.type())) return;
    const std::int32_t widget = widgets::of_face(owner);
    const toolkit::Toolkit* tk = toolkit::get();
    using widgets::FaceType;
    const FaceType type = widgets::type_of(owner);
    if (is_word(word, "pane")) {
        if (widget != 0 && tk != nullptr) tk->update(widget, owner, widgets::change_bit(Facet::pane));
        return;
    }
    const bool list = type == FaceType::text_list || type == FaceType::drop_list || type == FaceType::drop_down;
    if (is_word(word, "data") && type == FaceType::tab_panel) {
        if (widget != 0 && tk != nullptr) tk->update(widget, owner, widgets::change_bit(Facet::data));
        return;
    }
    if (is_word(word, "data") && list && !(type == FaceType::text_list && is_word(action, "sort"))) {
        // a drop-down's list follows only changes of a part of it
        if (widget != 0 && tk != nullptr && (type == FaceType::text_list || part != 0))
            tk->change_list(widget, owner, series, action, index, part);
        return;
    }
    apply_changes(owner);
}

void update_text(Cell* args) {
    record("update-text", args, 1);
    const Cell face = args[0];
    result_none(args);
    widgets::read_back_text(face, -1);
}

// Draws on the paint session of the face's widget: a draw block's faults
// are reported by the dialect and end nothing but the block.
void draw_face(Cell* args) {
    record("draw-face", args, 2);
    const Cell face = args[0];
    const Cell commands = args[1];
    result_none(args);
    const std::int32_t widget = widgets::of_face(face);
    if (widget == 0 || !commands.is(TypeId::block)) return;
    if (const toolkit::Toolkit* tk = toolkit::get()) tk->draw_face(widget, commands);
}

// The primary screen's size in logical units.
void get_screen_size(Cell* args) {
    record("get-screen-size", args, 1);
    toolkit::Screen screens[1];
    const toolkit::Toolkit* tk = toolkit::get();
    if (tk == nullptr || tk->screens(screens, 1) < 1) return result_none(args);
    pair::make_at(args[0], static_cast<std::int32_t>(units::to_logical(screens[0].width)),
                  static_cast<std::int32_t>(units::to_logical(screens[0].height)));
}

void refresh_window(Cell* args) {
    record("refresh-window", args, 1);
    const std::int32_t widget = widget_of_handle(args[0]);
    if (widget != 0 && toolkit::get() != nullptr) toolkit::get()->redraw(widget);
    result_none(args);
}

void redraw(Cell* args) {
    record("redraw", args, 1);
    const std::int32_t widget = widgets::of_face(args[0]);
    if (widget != 0 && toolkit::get() != nullptr) toolkit::get()->redraw(widget);
    result_none(args);
}

void show_window(Cell* args) {
    record("show-window", args, 1);
    const std::int32_t widget = widget_of_handle(args[0]);
    if (widget != 0 && toolkit::get() != nullptr) toolkit::get()->show(widget);
    result_none(args);
}

// Makes the widget of a face under its parent's (a window's under none):
// the face's type chooses the widget; its place and size come from its
// offset and size, in pixels (a window's side below 0 is 200); a face with
// a rate gets its timer.
void make_view(Cell* args) {
    record("make-view", args, 2);
    const Cell face = args[0];
    const widgets::FaceType type = widgets::type_of(face);
    if (type == widgets::FaceType::unknown || type == widgets::FaceType::screen) {
        const Cell* t = widgets::facet(face, Facet::type);
        const Cell value = t != nullptr ? *t : none::value;
        runtime::raise_error(ErrorCategory::script, "face-type", &value);
    }
    const std::int32_t interval = rate_interval(widgets::facet(face, Facet::rate));
    const toolkit::Toolkit& tk = toolkit_or_raise("widget");
    const std::int32_t parent = args[1].is(TypeId::handle) ? widget_of_handle(args[1]) : 0;
    const std::int32_t widget = widgets::add(face, type == widgets::FaceType::window ? 0 : parent);
    widgets::Widget* w = widgets::get(widget);
    w->type = type;
    if (const Cell* flags = widgets::facet(face, Facet::flags)) w->face_flags = widgets::flags_of(*flags);
    const Cell* size = widgets::facet(face, Facet::size);
    if (size != nullptr && size->is(TypeId::pair)) w->backend_flags |= widgets::backend_flag::pair_size;
    toolkit::WidgetSpec spec{};
    units::pixels_of(widgets::facet(face, Facet::offset), spec.x, spec.y);
    units::pixels_of(size, spec.width, spec.height);
    if (type == widgets::FaceType::window && size != nullptr &&
        (size->is(TypeId::pair) || size->is(TypeId::point2d))) {  // a side below 0 is 200
        const bool pair = size->is(TypeId::pair);
        if ((pair ? size->pair_x() < 0 : size->point_coord(0) < 0)) spec.width = units::to_pixels(200);
        if ((pair ? size->pair_y() < 0 : size->point_coord(1) < 0)) spec.height = units::to_pixels(200);
    }
    spec.width = std::max(spec.width, 0);
    spec.height = std::max(spec.height, 0);
    spec.face_flags = w->face_flags;
    spec.type = type;
    spec.parent = widgets::get(parent) != nullptr ? parent : 0;
    if (!tk.make_widget(widget, spec, face)) {
        widgets::remove(widget);
        const Cell name = text_of("widget");
        runtime::raise_error(ErrorCategory::access, "no-create", &name);
    }
    if (type == widgets::FaceType::camera) camera::init(widget, face);
    if (type == widgets::FaceType::window) menus::update_bar(widget, face);
    if (interval > 0) tk.set_timer(widget, interval);
    handle::make_at(args[0], static_cast<std::uint32_t>(widget), handle::Class::window);
}

void do_event_loop(Cell* args) {
    record("do-event-loop", args, 1);
    const bool handled = message_loop::do_events(args[0].is(TypeId::logic) && args[0].logic_value() != 0);
    logic::make_at(args[0], handled);
}

void exit_event_loop(Cell* args) {
    record("exit-event-loop", args, 0);
    message_loop::post_quit();
    result_none(args);
}

void text_box_metrics(Cell* args) {
    record("text-box-metrics", args, 3);
    const Cell* type = widgets::facet(args[0], Facet::type);
    if (type == nullptr || !is_word(*type, "rich-text")) {
        const Cell t = type != nullptr ? *type : none::value;
        runtime::raise_error(ErrorCategory::script, "face-type", &t);
    }
    const Cell* text = widgets::facet(args[0], Facet::text);
    if (text == nullptr || !text->is(TypeId::string)) return result_none(args);
    const Cell face = args[0];
    const Cell arg = args[1];
    const std::int32_t query = args[2].int_value();
    // A character index for the caret and line questions, a point for the hits.
    const bool wants_index = query == 0 || query == 2 || query == 6;
    const bool wants_point = query == 1 || query == 5;
    if ((wants_index && !arg.is(TypeId::integer)) ||
        (wants_point && !arg.is(TypeId::pair) && !arg.is(TypeId::point2d)))
        runtime::raise_error(ErrorCategory::script, "invalid-arg", &arg);
    Cell fault{};
    entry<text::MetricsEntry>(text::metrics_entry)(&face, &arg, query, &args[0], &fault);
    if (!fault.is(TypeId::none)) runtime::raise_error(ErrorCategory::script, "draw-invalid", &fault);
}

// Fonts are described anew from their fields wherever they are used: the
// handle in a font's state names the font, and holds no resource.
void update_font(Cell* args) {
    record("update-font", args, 2);
    static std::uint32_t fonts = 0;
    const Cell font = args[0];
    result_none(args);
    Cell* state = field(font, "state");
    if (state == nullptr) return;
    Cell made{};
    block::make_at_filled(made, 3, false);
    Cell* cells = block::first_cell(made);
    handle::make_at(cells[0], ++fonts, handle::Class::font);
    none::make_at(cells[1]);
    none::make_at(cells[2]);
    *field(font, "state") = made;  // the cell again, after the allocation
}

// A drawn face lays its text out again; every face of the para's types
// gets the para's change bit, so that its next update repaints it.
void update_para(Cell* args) {
    record("update-para", args, 2);
    const Cell face = args[0];
    result_none(args);
    const Cell* type = widgets::facet(face, Facet::type);
    static constexpr const char* para_types[] = {"base", "rich-text", "button", "toggle", "check",
                                                 "radio", "field", "area", "text"};
    if (type == nullptr || std::none_of(std::begin(para_types), std::end(para_types),
                                        [type](const char* t) { return is_word(*type, t); }))
        return;
    if (is_word(*type, "rich-text")) mark_relayout(face);
    Cell* state = field(face, "state");
    if (state != nullptr && state->is(TypeId::block) && block::count_from_head(*state) >= 2) {
        Cell* bits = block::get_cell(*state, state->series_head() + 1);
        if (bits->is(TypeId::integer)) integer::make_at(*bits, bits->int_value() | para_change_bit);
    }
}

// The font chooser from the initial font (else the fixed font at 11
// points); a confirmed choice fills font's name, size and style.
void request_font(Cell* args) {
    record("request-font", args, 3);
    const Cell font = args[0];
    const Cell selected = args[1];
    const bool mono = args[2].is(TypeId::logic) && args[2].logic_value() != 0;
    result_none(args);
    toolkit_or_raise("font requester");
    if (toolkit::recording()) return;
    font_chooser::Font start;
    const Cell* fixed = system_object::field("view/fonts/fixed");
    std::string name = fixed != nullptr && fixed->is(TypeId::string) ? string::utf8_of(*fixed) : "Monospace";
    start.points = 11;
    if (selected.is(TypeId::object)) {
        if (const Cell* n = field(selected, "name"); n != nullptr && n->is(TypeId::string)) name = string::utf8_of(*n);
        if (const Cell* size = field(selected, "size"); size != nullptr && size->is(TypeId::integer))
            start.points = size->int_value();
        if (const Cell* style = field(selected, "style")) {
            const auto mark = [&start](const Cell& w) {
                start.bold = start.bold || is_word(w, "bold");
                start.italic = start.italic || is_word(w, "italic");
            };
            if (style->is(TypeId::block)) {
                for (std::int32_t i = 0; i < block::count_from_head(*style); ++i)
                    mark(*block::get_cell(*style, style->series_head() + i));
            } else {
                mark(*style);
            }
        }
    }
    std::strncpy(start.name, name.c_str(), sizeof start.name - 1);
    font_chooser::Font chosen;
    if (!entry<font_chooser::Entry>(font_chooser::entry)(&start, mono, &chosen)) return;
    const Cell chosen_name = text_of(chosen.name);
    Cell style{};
    if (chosen.bold && chosen.italic) {
        block::make_at(style, 2);
        word::make_in(symbol::make("bold"), style);
        word::make_in(symbol::make("italic"), style);
    } else if (chosen.bold || chosen.italic) {
        word::make_at(symbol::make(chosen.bold ? "bold" : "italic"), style);
    } else {
        none::make_at(style);
    }
    if (Cell* n = field(font, "name")) *n = chosen_name;
    if (Cell* size = field(font, "size")) integer::make_at(*size, chosen.points);
    if (Cell* st = field(font, "style")) *st = style;
    args[0] = font;
}

// A scroller object of a face with the scrollable flag changed: its bar
// follows (kind 0 the position, 1 and 3 the page and range, 4 whether it shows).
void update_scroller(Cell* args) {
    record("update-scroller", args, 2);
    const Cell scroller = args[0];
    const std::int32_t kind = args[1].is(TypeId::integer) ? args[1].int_value() : -1;
    result_none(args);
    const Cell* parent = field(scroller, "parent");
    const std::int32_t widget = parent != nullptr ? widgets::of_face(*parent) : 0;
    const toolkit::Toolkit* tk = toolkit::get();
    if (widget == 0 || tk == nullptr || (kind != 0 && kind != 1 && kind != 3 && kind != 4)) return;
    const auto number = [&](const char* name, std::int32_t otherwise) {
        const Cell* v = field(scroller, name);
        return v != nullptr && v->is(TypeId::integer) ? v->int_value() : otherwise;
    };
    const auto flag = [&](const char* name, bool otherwise) {
        const Cell* v = field(scroller, name);
        return v != nullptr && v->is(TypeId::logic) ? v->logic_value() != 0 : otherwise;
    };
    toolkit::ScrollBar bar{};
    bar.vertical = flag("vertical?", true);
    bar.kind = kind;
    bar.position = number("position", 1);
    bar.page = number("page-size", 1);
    bar.minimum = 1;
    bar.maximum = number("max-size", 1);
    bar.visible = flag("visible?", true);
    tk->scroll_bar(widget, bar);
}

void set_dark_mode(Cell* args) {
    record("set-dark-mode", args, 2);
    if (const toolkit::Toolkit* tk = toolkit::get()) tk->set_dark_mode(args[1].logic_value() != 0);
    result_none(args);
}

void support_dark_mode_q(Cell* args) {
    record("support-dark-mode?", args, 0);
    logic::make_at(args[0], true);
}

// Cairo draws without a device: there is none to make anew.
void toggle_gpu(Cell* args) {
    record("toggle-GPU", args, 0);
    result_none(args);
}

// The screen under the mouse (the first one when the toolkit cannot tell).
void get_current_screen(Cell* args) {
    record("get-current-screen", args, 0);
    toolkit::Screen screens[1];
    const toolkit::Toolkit* tk = toolkit::get();
    if (tk == nullptr || tk->screens(screens, 1) < 1) return result_none(args);
    const std::int32_t under = tk->pointer_screen();
    handle::make_at(args[0], static_cast<std::uint32_t>(under > 0 ? under : screens[0].id), handle::Class::monitor);
}

// --- Event routines ------------------------------------------------------------------

void send_event_os(Cell* args) {
    const bool post = args[1].is(TypeId::logic) && args[1].logic_value() != 0;
    logic::make_at(args[0], message_loop::send_event(args[0], post));
}

void find_flag_q(Cell* args) {
    const Cell facet = args[0];
    const Cell flag = args[1];
    bool found = false;
    if (word::is_any_word(flag.type())) {
        const symbol::SymbolId s = symbol::resolve_alias(flag.word_symbol());
        const auto names = [&](const Cell& c) {
            return (c.is(TypeId::word) || c.is(TypeId::lit_word)) && symbol::resolve_alias(c.word_symbol()) == s;
        };
        if (word::is_any_word(facet.type())) {
            found = symbol::resolve_alias(facet.word_symbol()) == s;
        } else if (facet.is(TypeId::block)) {
            const std::int32_t n = block::count_from_head(facet);
            for (std::int32_t i = 0; i < n && !found; ++i)
                found = names(*block::get_cell(facet, facet.series_head() + i));
        }
    }
    logic::make_at(args[0], found);
}

// --- Start-up ------------------------------------------------------------------------

// `to image!` of a face: its widget rendered (a screen: the screen's
// pixels), none for a face without a widget.
void render_face(const Cell& face, Cell& out) {
    none::make_at(out);
    const toolkit::Toolkit* tk = toolkit::get();
    if (tk == nullptr) return;
    const bool screen = widgets::type_of(face) == widgets::FaceType::screen;
    const std::int32_t widget = screen ? 0 : widgets::of_face(face);
    if (widget == 0 && !screen) return;
    if (widgets::type_of(face) == widgets::FaceType::camera) {
        // a frame of its stream, which becomes the face's image too
        camera::grab_image(widget, out);
        if (Cell* image = out.is(TypeId::image) ? const_cast<Cell*>(widgets::facet(face, Facet::image)) : nullptr) *image = out;
        return;
    }
    Cell made{};
    if (tk->to_image(widget, face, made)) out = made;
}

// gui-init: starts the toolkit and answers what start-up publishes:
// [version dpi scroller text window panel font-name font-size], the
// toolkit's defaults when there is no display.
void gui_init(Cell* args) {
    record("gui-init", args, 0);
    widgets::install_event_services();
    image::set_face_renderer(render_face);
    toolkit::Metrics m{};
    if (const toolkit::Toolkit* tk = toolkit::get()) tk->metrics(m);
    units::set_dpi_factor(m.dpi_factor);
    Cell out{};
    block::make_at(out, 8);
    const collector::Root keep(out);
    const auto tuple3 = [&](std::uint32_t c) {
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                                       static_cast<std::uint8_t>(c >> 16)};
        Cell t{};
        tuple::make_at(t, bytes, 3);
        block::append_copy(out, t);
    };
    const std::uint8_t version[3] = {static_cast<std::uint8_t>(m.version_major),
                                     static_cast<std::uint8_t>(m.version_minor), 0};
    Cell v{};
    tuple::make_at(v, version, 3);
    block::append_copy(out, v);
    integer::make_in(out, m.dpi);
    pair::make_in(out, m.scroller_width, m.scroller_height);
    tuple3(m.text);
    tuple3(m.window);
    tuple3(m.panel);
    block::append_copy(out, text_of(m.font_name));
    float_::make_in(out, m.font_size);
    args[0] = out;
}

}  // namespace

void record_call(const char* name, const Cell* args, int count) { record(name, args, count); }

void add_all() {
    struct Entry {
        const char* name;
        routine::Code code;
    };
    static constexpr Entry entries[] = {
        {"make-null-handle", make_null_handle},
        {"fetch-all-screens", fetch_all_screens},
        {"get-current-screen", get_current_screen},
        {"get-screen-size", get_screen_size},
        {"size-text", size_text},
        {"on-change-facet", on_change_facet},
        {"update-text", update_text},
        {"update-font", update_font},
        {"update-para", update_para},
        {"destroy-view", destroy_view},
        {"detach-image", detach_image},
        {"update-view", update_view},
        {"refresh-window", refresh_window},
        {"redraw", redraw},
        {"show-window", show_window},
        {"make-view", make_view},
        {"draw-face", draw_face},
        {"do-event-loop", do_event_loop},
        {"exit-event-loop", exit_event_loop},
        {"request-font", request_font},
        {"text-box-metrics", text_box_metrics},
        {"update-scroller", update_scroller},
        {"set-dark-mode", set_dark_mode},
        {"support-dark-mode?", support_dark_mode_q},
        {"toggle-GPU", toggle_gpu},
        {"send-event-os", send_event_os},
        {"find-flag?", find_flag_q},
        {"gui-init", gui_init},
    };
    for (const Entry& e : entries) routine::add(e.name, e.code);
}

}  // namespace kiv::view_routines
