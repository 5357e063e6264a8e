// Window faces: a GtkWindow holding a vertical box, whose last child is the
// GtkFixed that places the window's faces and paints the window's colour
// and draw block. The window tells its face where it went (move, resize),
// its state (minimize, maximize, restore), its focus and its user's close.
#include "gui/backend/gtk/faces.h"

#include "gui/backend/menus_gtk.h"
#include "gui/backend/message_loop.h"
#include "gui/backend/units.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"

#include <cmath>

namespace kiv::gtk_faces {

namespace {

using event::Message;

constexpr GdkEventMask input_events = static_cast<GdkEventMask>(
    GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
    GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK |
    GDK_STRUCTURE_MASK | GDK_FOCUS_CHANGE_MASK);

// Where the window last was, in pixels, so that a configure that changes
// nothing makes no event; and whether a show waits for show-window.
struct Place {
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    bool known = false;
};
const char* const place_key = "kiv-place";

Place& place_of(GtkWidget* window) {
    auto* p = static_cast<Place*>(g_object_get_data(G_OBJECT(window), place_key));
    if (p == nullptr) {
        p = new Place;
        g_object_set_data_full(G_OBJECT(window), place_key, p, [](gpointer d) { delete static_cast<Place*>(d); });
    }
    return *p;
}

// A facet in logical units from pixels: a pair! when as_pair, else a point2D!.
Cell logical(std::int32_t x, std::int32_t y, bool as_pair) {
    Cell c{};
    const double lx = units::to_logical(x), ly = units::to_logical(y);
    if (as_pair) pair::make_at(c, static_cast<std::int32_t>(std::lround(lx)), static_cast<std::int32_t>(std::lround(ly)));
    else point::make_at(c, static_cast<float>(lx), static_cast<float>(ly));
    return c;
}

int send_at(std::int32_t widget, event::Type type, std::int32_t x, std::int32_t y) {
    if (widgets::get(widget) == nullptr) return 1;
    Message m{};
    m.widget = widget;
    m.kind = type == event::Type::move ? Message::Kind::move : Message::Kind::resize;
    m.x = x;
    m.y = y;
    return message_loop::make_event(m, 0, type);
}

gboolean on_configure(GtkWidget* window, GdkEventConfigure* e, gpointer) {
    const std::int32_t widget = widget_of(window);
    Cell face{};
    if (widget == 0 || !widgets::face_of(widget, face) || quiet()) return FALSE;
    Place& p = place_of(window);
    gint ox = e->x, oy = e->y;
    if (GdkWindow* gw = gtk_widget_get_window(window)) gdk_window_get_origin(gw, &ox, &oy);
    const std::int32_t x = to_pixels(ox), y = to_pixels(oy);
    const std::int32_t w = to_pixels(e->width), h = to_pixels(e->height - menus_gtk::bar_height(widget));  // the faces' area
    const bool moved = !p.known || x != p.x || y != p.y;
    const bool sized = !p.known || w != p.width || h != p.height;
    p = Place{x, y, w, h, true};
    if (gdk_window_get_state(gtk_widget_get_window(window)) & GDK_WINDOW_STATE_ICONIFIED) return FALSE;
    if (moved) {
        const Cell* offset = widgets::facet(face, Facet::offset);
        set_facet(face, Facet::offset, logical(x, y, offset != nullptr && offset->is(TypeId::pair)));
        send_at(widget, event::Type::move, x, y);
    }
    if (sized && widgets::get(widget) != nullptr && widgets::face_of(widget, face)) {
        const bool as_pair = (widgets::get(widget)->backend_flags & widgets::backend_flag::pair_size) != 0;
        set_facet(face, Facet::size, logical(w, h, as_pair));
        send_at(widget, event::Type::resize, w, h);
    }
    return FALSE;
}

gboolean on_window_state(GtkWidget* window, GdkEventWindowState* e, gpointer) {
    const std::int32_t widget = widget_of(window);
    constexpr auto watched = static_cast<GdkWindowState>(GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED);
    if (widget == 0 || (e->changed_mask & watched) == 0) return FALSE;
    const auto type = (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0   ? event::Type::minimize
                      : (e->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0 ? event::Type::maximize
                                                                                  : event::Type::restore;
    send(widget, type);
    return FALSE;
}

gboolean on_focus_in(GtkWidget* window, GdkEventFocus*, gpointer) {
    send(widget_of(window), event::Type::focus);
    return FALSE;
}

gboolean on_focus_out(GtkWidget* window, GdkEventFocus*, gpointer) {
    send(widget_of(window), event::Type::unfocus);
    return FALSE;
}

// The user's close: the engine decides. An answer of stop ends the innermost
// loop (the window stays unless the engine took it away).
gboolean on_delete(GtkWidget* window, GdkEvent*, gpointer) {
    const std::int32_t widget = widget_of(window);
    if (widget == 0) return TRUE;
    Message m{};
    m.widget = widget;
    m.kind = Message::Kind::close;
    if (message_loop::make_event(m, 0, event::Type::close) == 0) message_loop::post_quit();
    return TRUE;
}

// The window's client size: a window the user cannot resize takes the size
// its fixed asks for (GTK gives such a window its content's natural size,
// 200x200 when that is nothing), one the user can resize its default size
// (which the user may leave).
void set_client_size(GtkWidget* window, int width, int height, int menu_bar = 0) {
    GtkWidget* fixed = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(window), fixed_key));
    const bool user_sized = gtk_window_get_resizable(GTK_WINDOW(window));
    if (fixed != nullptr) gtk_widget_set_size_request(fixed, user_sized ? -1 : width, user_sized ? -1 : height);
    gtk_window_set_default_size(GTK_WINDOW(window), width, height + menu_bar);
    gtk_window_resize(GTK_WINDOW(window), width, height + menu_bar);
}

gboolean on_fixed_draw(GtkWidget* fixed, cairo_t* cr, gpointer) {
    const std::int32_t widget = widget_of(fixed);
    Cell face{};
    if (widget == 0 || !widgets::face_of(widget, face)) return FALSE;
    paint_face(widget, face, cr, gtk_widget_get_allocated_width(fixed), gtk_widget_get_allocated_height(fixed));
    return FALSE;
}

GtkWidget* make_window(std::int32_t, const toolkit::WidgetSpec& spec, const Cell& face) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* fixed = fixed_new();
    gtk_box_pack_end(GTK_BOX(box), fixed, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_widget_show(fixed);
    gtk_widget_show(box);
    g_object_set_data(G_OBJECT(window), fixed_key, fixed);
    g_signal_connect(fixed, "draw", G_CALLBACK(on_fixed_draw), nullptr);
    using namespace widgets::face_flag;
    const std::uint32_t flags = spec.face_flags;
    gtk_window_set_title(GTK_WINDOW(window), text_of(face).c_str());
    gtk_window_move(GTK_WINDOW(window), to_units(spec.x), to_units(spec.y));
    gtk_window_set_resizable(GTK_WINDOW(window), (flags & resize) != 0);
    set_client_size(window, std::max(1, to_units(spec.width)), std::max(1, to_units(spec.height)));
    gtk_window_set_decorated(GTK_WINDOW(window), (flags & (no_title | no_border)) == 0);
    if ((flags & popup) != 0) gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_UTILITY);
    if ((flags & no_buttons) != 0) gtk_window_set_deletable(GTK_WINDOW(window), FALSE);
    if ((flags & modal) != 0) {
        // the window the user was in becomes its parent
        GList* tops = gtk_window_list_toplevels();
        for (GList* t = tops; t != nullptr; t = t->next)
            if (t->data != window && gtk_window_is_active(GTK_WINDOW(t->data)))
                gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(t->data));
        g_list_free(tops);
        gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    }
    if ((flags & fullscreen) != 0) gtk_window_fullscreen(GTK_WINDOW(window));
    std::uint32_t colour = 0;
    if ((flags & no_border) != 0 && colour_of(face, colour) && (colour >> 24) != 0) {
        // a translucent borderless window: the desktop shows through where it has a compositor
        if (GdkVisual* visual = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window)))
            gtk_widget_set_visual(window, visual);
        gtk_widget_set_app_paintable(window, TRUE);
    }
    gtk_widget_add_events(window, input_events);
    g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), nullptr);
    g_signal_connect(window, "configure-event", G_CALLBACK(on_configure), nullptr);
    g_signal_connect(window, "window-state-event", G_CALLBACK(on_window_state), nullptr);
    g_signal_connect(window, "focus-in-event", G_CALLBACK(on_focus_in), nullptr);
    g_signal_connect(window, "focus-out-event", G_CALLBACK(on_focus_out), nullptr);
    Place& p = place_of(window);
    p = Place{spec.x, spec.y, spec.width, spec.height, true};
    return window;
}

bool window_text(std::int32_t widget, std::int32_t, std::string& out) {
    GtkWidget* w = native(widget);
    if (w == nullptr) return false;
    const gchar* title = gtk_window_get_title(GTK_WINDOW(w));
    out = title != nullptr ? title : "";
    return true;
}

void focus_face(const Cell& window_face) {
    const Cell* selected = widgets::facet(window_face, Facet::selected);
    if (selected == nullptr || !selected->is(TypeId::object)) return;
    if (GtkWidget* target = inner(widgets::of_face(*selected))) gtk_widget_grab_focus(target);
}

}  // namespace

void apply_window(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    GtkWidget* window = native(widget);
    if (window == nullptr || !GTK_IS_WINDOW(window)) return;
    const bool made = bits == all_facets;
    const auto changed = [bits](Facet f) { return (bits & widgets::change_bit(f)) != 0; };
    if (!made && changed(Facet::offset)) {
        std::int32_t x = 0, y = 0;
        units::pixels_of(widgets::facet(face, Facet::offset), x, y);
        gtk_window_move(GTK_WINDOW(window), to_units(x), to_units(y));
    }
    if (!made && changed(Facet::size)) {
        std::int32_t w = 0, h = 0;
        units::pixels_of(widgets::facet(face, Facet::size), w, h);
        const std::int32_t bar = menus_gtk::bar_height(widget);  // on top of the faces' area
        set_client_size(window, std::max(1, to_units(w)), std::max(1, to_units(h)), bar);
    }
    if (!made && changed(Facet::text)) gtk_window_set_title(GTK_WINDOW(window), text_of(face).c_str());
    if (!made && changed(Facet::enabled_q)) gtk_widget_set_sensitive(window, logic_of(face, Facet::enabled_q, true));
    if (!made && changed(Facet::visible_q)) {
        // shown by show-window, which the engine calls after it
        if (!logic_of(face, Facet::visible_q, true)) gtk_widget_hide(window);
    }
    if (!made && changed(Facet::selected)) focus_face(face);
    if (!made && changed(Facet::flags)) {
        using namespace widgets::face_flag;
        const std::uint32_t flags = widgets::get(widget)->face_flags;
        gtk_window_set_resizable(GTK_WINDOW(window), (flags & resize) != 0);
        int w = 0, h = 0;
        face_size(widget, w, h);
        set_client_size(window, std::max(1, w), std::max(1, h));
        gtk_window_set_decorated(GTK_WINDOW(window), (flags & (no_title | no_border)) == 0);
    }
}

void show_window(std::int32_t widget) {
    GtkWidget* window = native(widget);
    if (window == nullptr || !GTK_IS_WINDOW(window)) return;
    Cell face{};
    if (widgets::face_of(widget, face) && !logic_of(face, Facet::visible_q, true)) return;
    gtk_window_present(GTK_WINDOW(window));
    focus_face(face);
}

const Kind window_kind{make_window, apply_window, window_text};

}  // namespace kiv::gtk_faces
