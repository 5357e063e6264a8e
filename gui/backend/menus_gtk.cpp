// Menus on GTK: the items of a menu block made into GtkMenus, a context
// menu popped up at the pointer, and a pick handed back to the program's
// half as the item's data.
#include "gui/backend/menus_gtk.h"

#include "gui/backend/menus.h"

#include "gui/backend/gtk/native.h"
#include "gui/backend/widgets.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

using kiv::menus::Item;

const char* const data_key = "kiv-menu-data";
const char* const widget_key = "kiv-menu-widget";
const char* const context_key = "kiv-menu-context";
const char* const bar_key = "kiv-menu-bar";

GtkWidget* shown_popup = nullptr;  // the context menu on the screen, if any
std::set<std::int32_t> bars_asked;  // windows whose menu bar is made anew when the loop is idle

// A caption's text with its mnemonic: "&" marks the key ("&&" is an "&"),
// and GTK's own mark "_" is doubled.
std::string mnemonic_of(const std::string& caption) {
    std::string out;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        const char c = caption[i];
        if (c == '&' && i + 1 < caption.size() && caption[i + 1] == '&') {
            out += '&';
            ++i;
        } else if (c == '&') {
            out += '_';
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return out;
}

// A menu item of a caption; the part after a tab is its shortcut's text,
// shown at the right. Plain labels: GTK measures them much faster than the
// accelerator labels it would make (a menu of 10,000 items shows in a third
// less time).
GtkWidget* item_of(const char* caption) {
    const std::string text = caption;
    const std::size_t tab = text.find('\t');
    GtkWidget* item = gtk_menu_item_new();
    GtkWidget* label = gtk_label_new_with_mnemonic(mnemonic_of(text.substr(0, tab)).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), item);
    if (tab == std::string::npos) {
        gtk_container_add(GTK_CONTAINER(item), label);
        return item;
    }
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 24);
    GtkWidget* shortcut = gtk_label_new(text.substr(tab + 1).c_str());
    gtk_style_context_add_class(gtk_widget_get_style_context(shortcut), "accelerator");
    gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(row), shortcut, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(item), row);
    return item;
}

void on_activate(GtkMenuItem* item, gpointer) {
    const auto data = static_cast<std::int32_t>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), data_key)));
    const std::int32_t widget = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), widget_key));
    const bool context = g_object_get_data(G_OBJECT(item), context_key) != nullptr;
    kiv::menus::pick(widget, data, context);
}

// Fills shell with the items from at up to the end of their menu (or of
// the list), moving at past them.
void fill(GtkWidget* shell, const Item*& at, const Item* end, std::int32_t widget, bool context) {
    while (at < end) {
        const Item& item = *at++;
        if (item.kind == Item::Kind::end) return;
        if (item.kind == Item::Kind::separator) {
            gtk_menu_shell_append(GTK_MENU_SHELL(shell), gtk_separator_menu_item_new());
            continue;
        }
        GtkWidget* entry = item_of(item.caption);
        if (item.kind == Item::Kind::submenu) {
            GtkWidget* sub = gtk_menu_new();
            fill(sub, at, end, widget, context);
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(entry), sub);
        } else {
            g_object_set_data(G_OBJECT(entry), data_key, GINT_TO_POINTER(item.data));
            g_object_set_data(G_OBJECT(entry), widget_key, GINT_TO_POINTER(widget));
            g_object_set_data(G_OBJECT(entry), context_key, context ? GINT_TO_POINTER(1) : nullptr);
            g_signal_connect(entry, "activate", G_CALLBACK(on_activate), nullptr);
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), entry);
    }
}

gboolean destroy_later(gpointer menu) {
    if (shown_popup == menu) shown_popup = nullptr;
    gtk_widget_destroy(GTK_WIDGET(menu));
    g_object_unref(menu);
    return G_SOURCE_REMOVE;
}

// A closed context menu goes once its pick (which GTK makes after closing
// it) has been handled.
void on_deactivate(GtkMenuShell* menu, gpointer) {
    g_signal_handlers_disconnect_by_func(menu, reinterpret_cast<gpointer>(on_deactivate), nullptr);
    g_idle_add(destroy_later, menu);
}

}  // namespace

extern "C" bool kiv_gui_menu_popup(std::int32_t widget, const Item* items, std::int32_t count, std::uint32_t time) {
    const kiv::widgets::Widget* w = kiv::widgets::get(widget);
    if (w == nullptr || w->native == nullptr || count <= 0) return false;
    GtkWidget* top = gtk_widget_get_toplevel(static_cast<GtkWidget*>(w->native));
    GdkWindow* window = gtk_widget_get_window(top);
    if (window == nullptr) return false;
    if (shown_popup != nullptr) gtk_menu_popdown(GTK_MENU(shown_popup));
    GtkWidget* menu = gtk_menu_new();
    g_object_ref_sink(menu);
    const Item* at = items;
    fill(menu, at, items + count, widget, true);
    gtk_menu_attach_to_widget(GTK_MENU(menu), top, nullptr);
    // A window destroyed while its menu is open takes the menu down: no pick
    // can reach a widget made later in its place.
    g_signal_connect_object(top, "destroy", G_CALLBACK(gtk_menu_popdown), menu, G_CONNECT_SWAPPED);
    g_signal_connect(menu, "deactivate", G_CALLBACK(on_deactivate), nullptr);
    gtk_widget_show_all(menu);
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_window_get_display(window)));
    gint x = 0, y = 0;
    gdk_window_get_device_position(window, pointer, &x, &y, nullptr);
    const GdkRectangle at_pointer{x, y, 1, 1};
    // GTK takes the pointer for the menu on behalf of the press that opened it,
    // which our pre-filter kept from GTK: a press of the same time stands in
    // (the release that follows it closes nothing).
    GdkEvent* press = gdk_event_new(GDK_BUTTON_PRESS);
    press->button.window = GDK_WINDOW(g_object_ref(window));
    press->button.send_event = TRUE;
    press->button.time = time;
    press->button.x = x;
    press->button.y = y;
    press->button.button = 3;
    gdk_event_set_device(press, pointer);
    gtk_menu_popup_at_rect(GTK_MENU(menu), window, &at_pointer, GDK_GRAVITY_SOUTH_EAST, GDK_GRAVITY_NORTH_WEST, press);
    gdk_event_free(press);
    shown_popup = menu;
    return true;
}

namespace kiv::menus_gtk {

std::int32_t bar_height(std::int32_t window) {
    GtkWidget* box = gtk_faces::window_box_of(window);
    auto* bar = box != nullptr ? static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(box), bar_key)) : nullptr;
    gint height = 0;
    if (bar != nullptr) gtk_widget_get_preferred_height(bar, nullptr, &height);
    return height;
}

}  // namespace kiv::menus_gtk

extern "C" bool kiv_gui_menu_bar(std::int32_t window, const Item* items, std::int32_t count) {
    GtkWidget* box = kiv::gtk_faces::window_box_of(window);
    GtkWidget* top = kiv::gtk_faces::gtk_window_of(window);
    if (box == nullptr || top == nullptr) return false;
    const gint before = kiv::menus_gtk::bar_height(window);
    gint after = 0;
    if (auto* old = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(box), bar_key))) {
        gtk_widget_destroy(old);
        g_object_set_data(G_OBJECT(box), bar_key, nullptr);
    }
    if (count > 0) {
        GtkWidget* bar = gtk_menu_bar_new();
        const Item* at = items;
        fill(bar, at, items + count, window, false);
        gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(box), bar, 0);
        gtk_widget_show_all(bar);
        gtk_widget_get_preferred_height(bar, nullptr, &after);
        g_object_set_data(G_OBJECT(box), bar_key, bar);
    }
    // The bar comes on top of the face's size, as a window's menu does.
    if (after != before) {
        gint width = 0, height = 0;
        gtk_window_get_default_size(GTK_WINDOW(top), &width, &height);
        if (height > 0) gtk_window_set_default_size(GTK_WINDOW(top), width, std::max(1, height + after - before));
        if (gtk_widget_get_realized(top)) {
            gtk_window_get_size(GTK_WINDOW(top), &width, &height);
            gtk_window_resize(GTK_WINDOW(top), std::max(1, width), std::max(1, height + after - before));
        }
    }
    return true;
}

namespace {

gboolean refresh_bar(gpointer data) {
    const std::int32_t window = GPOINTER_TO_INT(data);
    bars_asked.erase(window);
    kiv::menus::refresh_bar(window);
    return G_SOURCE_REMOVE;
}

}  // namespace

extern "C" void kiv_gui_menu_bar_later(std::int32_t window) {
    if (bars_asked.insert(window).second) g_idle_add(refresh_bar, GINT_TO_POINTER(window));
}
