// Menu blocks read into items, context menus at a right button press, and
// the `menu` event of a pick.
#include "gui/backend/menus.h"

#include "gui/backend/message_loop.h"
#include "gui/backend/toolkit.h"
#include "gui/backend/widgets.h"
#include "runtime/core/collector.h"
#include "runtime/core/raise.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/callback.h"
#include "runtime/startup/boot.h"
#include "runtime/startup/embed.h"

#include <algorithm>

namespace kiv::menus {

namespace {

bool is_word_named(const Cell& value, const char* name) {
    return word::is_any_word(value.type()) &&
           symbol::resolve_alias(value.word_symbol()) == symbol::resolve_alias(symbol::make(name));
}

// Captions in the toolkit's notation: line ends as they are (LF).
const char* keep_caption(Model& model, const Cell& text) {
    model.captions.push_back(string::utf8_of(text));
    return model.captions.back().c_str();
}

// Appends the entries of one menu; path holds the blocks of the menus above.
void read_menu(const Cell& block, Model& model, std::vector<NodeId>& path) {
    if (static_cast<std::int32_t>(path.size()) >= max_depth ||
        std::find(path.begin(), path.end(), block.series_node()) != path.end()) {
        Cell bad = block;
        runtime::raise_error(ErrorCategory::script, "invalid-arg", &bad);
    }
    path.push_back(block.series_node());
    const std::int32_t n = block::count_from_head(block);
    std::int32_t id = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell v = *block::get_cell(block, block.series_head() + i);
        if (v.is(TypeId::word) && is_word_named(v, "---")) {
            model.items.push_back(Item{Item::Kind::separator, "", id++, -1});
            continue;
        }
        if (!v.is(TypeId::string)) continue;  // anything else is skipped
        const Cell* next = i + 1 < n ? block::get_cell(block, block.series_head() + i + 1) : nullptr;
        Item item{Item::Kind::item, keep_caption(model, v), id++, -1};
        if (next != nullptr && next->is(TypeId::block)) {
            const Cell sub = *next;
            item.kind = Item::Kind::submenu;
            model.items.push_back(item);
            read_menu(sub, model, path);
            model.items.push_back(Item{Item::Kind::end, "", 0, -1});
            ++i;
            continue;
        }
        if (next != nullptr && word::is_any_word(next->type())) {
            item.data = static_cast<std::int32_t>(next->word_symbol());
            ++i;
        }
        model.items.push_back(item);
    }
    path.pop_back();
}

// The context menu shown and the widget it was shown for (0: none).
std::int32_t context_owner = 0;
// Where the press that opened it was, in the widget's pixels: a pick's offset.
std::int32_t menu_x = 0, menu_y = 0;

// A menu block's fault, on the console: its message (where the loop was when
// it met the block says nothing more).
void report(const Cell& error) {
    const std::string text = boot::formed(error);
    embed::print(text.substr(0, text.find('\n')), true);
}

template <class Function>
Function entry(const char* name) {
    return reinterpret_cast<Function>(toolkit::module_symbol(name));
}

}  // namespace

void build(const Cell& block, Model& out) {
    out.items.clear();
    out.captions.clear();
    if (!block.is(TypeId::block)) return;
    std::vector<NodeId> path;
    read_menu(block, out, path);
}

bool menu_bar_q(const Cell& menu, const Cell& face) {
    if (!menu.is(TypeId::block) || block::count_from_head(menu) == 0) return false;
    const Cell* type = widgets::facet(face, widgets::Facet::type);
    if (type == nullptr || !is_word_named(*type, "window")) return false;
    return !is_word_named(*block::get_cell(menu, menu.series_head()), "popup");
}

bool show_context_menu(const event::Message& press) {
    clear_pending();
    Cell face{};
    if (!widgets::face_of(press.widget, face)) return false;
    const collector::Root keep(face);
    const Cell* menu = widgets::facet(face, widgets::Facet::menu);
    if (menu == nullptr || !menu->is(TypeId::block) || menu_bar_q(*menu, face)) return false;
    if (toolkit::recording()) return false;
    const auto popup = entry<PopupEntry>(popup_entry);
    if (popup == nullptr) return false;
    // The press comes from the toolkit's own handler: an error in the block is
    // reported, never thrown through it.
    Model model;
    const Cell block = *menu;
    Cell error{};
    if (!callback::guarded([&] { build(block, model); }, error)) {
        report(error);
        return false;
    }
    context_owner = press.widget;
    menu_x = press.x;
    menu_y = press.y;
    if (!popup(press.widget, model.items.data(), static_cast<std::int32_t>(model.items.size()), press.time)) {
        context_owner = 0;
        return false;
    }
    return true;
}

void clear_pending() { context_owner = 0; }

bool update_bar(std::int32_t window, const Cell& face) {
    if (toolkit::recording()) return false;
    const auto bar = entry<BarEntry>(bar_entry);
    if (bar == nullptr) return false;
    Model model;
    const Cell* menu = widgets::facet(face, widgets::Facet::menu);
    if (menu != nullptr && menu_bar_q(*menu, face)) {
        const Cell block = *menu;
        Cell error{};
        if (!callback::guarded([&] { build(block, model); }, error)) {
            report(error);  // the window keeps no menu bar
            model.items.clear();
        }
    }
    return bar(window, model.items.data(), static_cast<std::int32_t>(model.items.size()));
}

void update_bar_later(std::int32_t window) {
    if (toolkit::recording()) return;
    if (const auto later = entry<BarLaterEntry>(bar_later_entry)) later(window);
}

void refresh_bar(std::int32_t window) {
    Cell face{};
    if (!widgets::face_of(window, face)) return;  // the window went meanwhile
    const collector::Root keep(face);
    update_bar(window, keep.cell());
}

void pick(std::int32_t widget, std::int32_t data, bool context) {
    event::Message m{};
    m.widget = widget;
    m.code = static_cast<std::uint32_t>(data);  // the whole symbol id; the event's flags keep its low 16 bits
    if (context && widget == context_owner) {
        m.x = menu_x;
        m.y = menu_y;
    }
    context_owner = 0;
    if (widgets::get(widget) == nullptr) return;  // its window went while the menu was open
    message_loop::make_event(m, static_cast<std::uint32_t>(data) & event::flag::key_mask, event::Type::menu);
}

}  // namespace kiv::menus
