// Menus: a face's `menu` block read into a flat list of items, shown by the
// toolkit module as a window's menu bar or as a context menu at a right
// button press, and the `menu` event a pick makes.
//
// The block is read item by item: a string and a block is a submenu; a
// string and a word is an item whose data is the word's symbol id; a string
// followed by anything else, or last, is an item with data -1 (its event's
// `picked` is none); the word `---` is a separator; anything else is
// skipped. The items of each menu are numbered from 0 by their place in it.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/event.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kiv::menus {

// One entry of the flat list: a submenu's entries follow it, closed by an end.
struct Item {
    enum class Kind : std::int32_t { item, separator, submenu, end };
    Kind kind = Kind::item;
    const char* caption = "";  // UTF-8; a tab parts the text from its shortcut's
    std::int32_t id = 0;       // the place in its menu, from 0
    std::int32_t data = -1;    // the word's symbol id, -1 for none
};

// The items of a menu block and the captions they point into.
struct Model {
    std::vector<Item> items;
    std::deque<std::string> captions;
};

// Menus nest at most this deep; a block inside itself nests without end.
inline constexpr std::int32_t max_depth = 32;

// Reads a menu block; a submenu nested deeper than max_depth (a block that
// holds itself among them) raises script invalid-arg with that block.
void build(const Cell& block, Model& out);
// True when the block is not empty, the face is a `window` and the block
// does not start with the word `popup`: it is the window's menu bar.
bool menu_bar_q(const Cell& menu, const Cell& face);

// The toolkit module's side, found by name:
//   bool kiv_gui_menu_popup(std::int32_t widget, const Item* items, std::int32_t count, std::uint32_t time)
//     shows the context menu at the pointer for the press at time; a pick
//     calls pick(widget, data, true).
//   bool kiv_gui_menu_bar(std::int32_t window, const Item* items, std::int32_t count)
//     puts the menu bar into the window (none with count 0); a pick calls
//     pick(window, data, false).
//   void kiv_gui_menu_bar_later(std::int32_t window)
//     calls refresh_bar(window) when the loop is next idle (once for many asks).
inline constexpr const char* popup_entry = "kiv_gui_menu_popup";
using PopupEntry = bool (*)(std::int32_t widget, const Item* items, std::int32_t count, std::uint32_t time);
inline constexpr const char* bar_entry = "kiv_gui_menu_bar";
using BarEntry = bool (*)(std::int32_t window, const Item* items, std::int32_t count);
inline constexpr const char* bar_later_entry = "kiv_gui_menu_bar_later";
using BarLaterEntry = void (*)(std::int32_t window);

// A right button press on widget (the pre-filter made its alt-down): shows
// the face's context menu when it has a menu block that is no menu bar.
// True when it is shown: the press goes no further.
bool show_context_menu(const event::Message& press);
// A left press or a double click: a context menu still pending is forgotten.
void clear_pending();
// Builds the menu bar of the window widget from its face's `menu` (or takes
// it away when the face has none); false when the toolkit cannot.
bool update_bar(std::int32_t window, const Cell& face);
// The same once the loop is idle again: changes made meanwhile (an item
// appended at a time) are shown by one new bar.
void update_bar_later(std::int32_t window);
// The bar the loop was asked for: the window's face as it is now.
void refresh_bar(std::int32_t window);
// An item was picked in a window's menu bar, or in the context menu shown
// for widget: the `menu` event, its `picked` the item's word, its offset
// (for a context menu) the press that opened the menu.
void pick(std::int32_t widget, std::int32_t data, bool context);

}  // namespace kiv::menus
