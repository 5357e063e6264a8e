#include "gui/backend/widgets.h"

#include "gui/backend/toolkit.h"
#include "gui/backend/units.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/event.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/slot_pool.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace kiv::widgets {

namespace {

// Index 0 stays unused: 0 names no widget.
std::vector<Widget> table(1);
std::vector<std::int32_t> free_indexes;

constexpr std::array<const char*, facet_count> facet_names{
    "type", "offset", "size", "text", "image", "color", "menu", "data", "enabled?", "visible?",
    "selected", "flags", "options", "parent", "pane", "state", "rate", "edge", "para", "font",
    "actors", "extra", "draw",
};

struct FlagName {
    const char* name;
    std::uint32_t bit;
};
constexpr std::array<FlagName, 15> flag_names{{
    {"all-over", face_flag::all_over}, {"focusable", face_flag::focusable},
    {"tri-state", face_flag::tri_state}, {"scrollable", face_flag::scrollable},
    {"password", face_flag::password}, {"no-sync", face_flag::no_sync},
    {"fullscreen", face_flag::fullscreen}, {"popup", face_flag::popup}, {"modal", face_flag::modal},
    {"resize", face_flag::resize}, {"no-buttons", face_flag::no_buttons}, {"no-max", face_flag::no_max},
    {"no-min", face_flag::no_min}, {"no-title", face_flag::no_title}, {"no-border", face_flag::no_border},
}};

symbol::SymbolId facet_symbol(Facet f) {
    static std::array<symbol::SymbolId, facet_count> ids{};
    auto& id = ids[static_cast<std::size_t>(f)];
    if (id == 0) id = symbol::make(facet_names[static_cast<std::size_t>(f)]);
    return id;
}

std::uint32_t flag_of_word(const Cell& word) {
    static std::array<symbol::SymbolId, flag_names.size()> ids{};
    if (ids[0] == 0)
        for (std::size_t i = 0; i < flag_names.size(); ++i)
            ids[i] = symbol::resolve_alias(symbol::make(flag_names[i].name));
    const symbol::SymbolId s = symbol::resolve_alias(word.word_symbol());
    for (std::size_t i = 0; i < flag_names.size(); ++i)
        if (ids[i] == s) return flag_names[i].bit;
    return 0;
}

bool window_face(std::int32_t widget, Cell& out) { return face_of(root_of(widget), out); }

bool face_up(std::int32_t widget, Cell& out) {
    for (std::int32_t w = widget; get(w) != nullptr; w = get(w)->parent)
        if (face_of(w, out)) return true;
    return false;
}

const event::Services services{face_up, window_face, units::dpi_factor};

// The type words, by FaceType (ORDER FACE-TYPES).
constexpr std::array<const char*, 23> type_names{
    "", "window", "panel", "group-box", "tab-panel", "base", "rich-text", "button", "toggle", "check",
    "radio", "field", "area", "text", "text-list", "drop-list", "drop-down", "progress", "slider",
    "scroller", "calendar", "camera", "screen",
};

}  // namespace

FaceType type_of(const Cell& face) {
    static std::array<symbol::SymbolId, type_names.size()> ids{};
    if (ids[1] == 0)
        for (std::size_t i = 1; i < type_names.size(); ++i) ids[i] = symbol::resolve_alias(symbol::make(type_names[i]));
    const Cell* type = facet(face, Facet::type);
    if (type == nullptr || !word::is_any_word(type->type())) return FaceType::unknown;
    const symbol::SymbolId s = symbol::resolve_alias(type->word_symbol());
    for (std::size_t i = 1; i < type_names.size(); ++i)
        if (ids[i] == s) return static_cast<FaceType>(i);
    return FaceType::unknown;
}

std::int32_t live_count() {
    return static_cast<std::int32_t>(table.size()) - 1 - static_cast<std::int32_t>(free_indexes.size());
}

bool string_like(const Cell& value) { return is_any_string_type(value.type()); }

void set_text(const Cell& face, const char* utf8, std::int32_t length) {
    if (!face.is(TypeId::object)) return;
    const NodeId ctx = face.object_context();
    const std::int32_t i = context::find_symbol(ctx, facet_symbol(Facet::text), true);
    if (i < 0) return;
    Cell text{};
    string::make_at(text, length);
    const collector::Root keep(text);
    string::append_utf8(text.series_node(), utf8, length);
    Cell* field = context::value_at(ctx, i);
    if (field->is(TypeId::string)) ownership::unset_owner_deep(*field);
    *context::value_at(ctx, i) = text;
    Cell word{};
    word::make_at(facet_symbol(Facet::text), word);
    ownership::set_owner_deep(text, face, word);
}

std::int32_t add(const Cell& face, std::int32_t parent) {
    std::int32_t index = 0;
    if (!free_indexes.empty()) {
        index = free_indexes.back();
        free_indexes.pop_back();
    } else {
        index = static_cast<std::int32_t>(table.size());
        table.emplace_back();
    }
    Widget& w = table[static_cast<std::size_t>(index)];
    w = Widget{};
    w.live = true;
    w.parent = parent;
    w.face_slot = face.is(TypeId::object) ? slot_pool::alloc_slot(face) : 0;
    return index;
}

Widget* get(std::int32_t index) {
    if (index <= 0 || index >= static_cast<std::int32_t>(table.size())) return nullptr;
    Widget& w = table[static_cast<std::size_t>(index)];
    return w.live ? &w : nullptr;
}

void remove(std::int32_t index) {
    Widget* w = get(index);
    if (w == nullptr) return;
    slot_pool::free_slot(w->face_slot);
    *w = Widget{};
    free_indexes.push_back(index);
}

bool face_of(std::int32_t index, Cell& out) {
    const Widget* w = get(index);
    if (w == nullptr || w->face_slot == 0) return false;
    out = *slot_pool::slot_at(w->face_slot);
    return out.is(TypeId::object);
}

std::int32_t root_of(std::int32_t index) {
    std::int32_t root = 0;
    for (std::int32_t w = index; get(w) != nullptr; w = get(w)->parent) root = w;
    return root;
}

std::vector<std::int32_t> subtree(std::int32_t index) {
    std::vector<std::pair<std::int32_t, std::int32_t>> found;  // (depth below index, widget)
    for (std::int32_t i = 1; i < static_cast<std::int32_t>(table.size()); ++i) {
        std::int32_t depth = 0;
        std::int32_t w = i;
        while (w != index && get(w) != nullptr && depth < static_cast<std::int32_t>(table.size())) {
            w = get(w)->parent;
            ++depth;
        }
        if (w == index && get(i) != nullptr) found.emplace_back(depth, i);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::int32_t> out;
    out.reserve(found.size());
    for (const auto& [depth, widget] : found) out.push_back(widget);
    return out;
}

const Cell* facet(const Cell& face, Facet f) {
    if (!face.is(TypeId::object)) return nullptr;
    const NodeId ctx = face.object_context();
    const std::int32_t i = context::find_symbol(ctx, facet_symbol(f), true);
    return i < 0 ? nullptr : context::value_at(ctx, i);
}

std::int32_t of_face(const Cell& face) {
    const Cell* state = facet(face, Facet::state);
    if (state == nullptr || !state->is(TypeId::block) || block::count_from_head(*state) < 1) return 0;
    Cell blk = *state;
    const Cell* h = block::head_cell(blk);
    if (!h->is(TypeId::handle)) return 0;
    const auto index = static_cast<std::int32_t>(h->handle_value());
    // The handle of a destroyed widget may name a newer one: only the widget
    // made for this face counts.
    Cell own{};
    return face_of(index, own) && own.object_context() == face.object_context() ? index : 0;
}

std::uint32_t flags_of(const Cell& value) {
    if (word::is_any_word(value.type())) return flag_of_word(value);
    if (!value.is(TypeId::block)) return 0;
    std::uint32_t flags = 0;
    const std::int32_t n = block::count_from_head(value);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell* c = block::get_cell(value, value.series_head() + i);
        if (word::is_any_word(c->type())) flags |= flag_of_word(*c);
    }
    return flags;
}

void read_back_text(const Cell& face, std::int32_t index) {
    const std::int32_t widget = of_face(face);
    const toolkit::Toolkit* tk = toolkit::get();
    if (widget == 0 || tk == nullptr) return;
    std::string text(256, '\0');
    std::int32_t n = tk->read_text(widget, index, text.data(), static_cast<std::int32_t>(text.size()));
    if (n < 0) return;
    if (n > static_cast<std::int32_t>(text.size())) {
        text.resize(static_cast<std::size_t>(n));
        n = std::min(n, tk->read_text(widget, index, text.data(), n));
        if (n < 0) return;
    }
    set_text(face, text.data(), n);
}

void install_event_services() { event::install(&services); }

}  // namespace kiv::widgets
