// The toolkit module on GTK 3: opened by the program at the first GUI use
// (text mode never loads it). GTK's main context is the loop the runtime
// turns. Every GdkEvent passes first through our handler, which makes the
// neutral message and runs the pre-filter; GTK handles it only when the
// pre-filter lets it through. Posted messages are a source of the context.
#include "gui/backend/toolkit.h"

#include "gui/backend/gtk/faces.h"
#include "gui/backend/message_loop.h"
#include "gui/backend/widgets.h"
#include "runtime/datatypes/event.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

#include <gtk/gtk.h>

namespace kiv::gtk_toolkit {

namespace {

using event::Message;
using event::Special;
namespace flag = event::flag;

using gtk_faces::native;

std::unordered_map<std::int32_t, guint> timers;  // widget -> its timer source

// --- Posted messages ------------------------------------------------------------

gboolean posted_prepare(GSource*, gint* timeout) {
    *timeout = -1;
    return message_loop::has_posted();
}
gboolean posted_check(GSource*) { return message_loop::has_posted(); }
gboolean posted_dispatch(GSource*, GSourceFunc, gpointer) {
    message_loop::dispatch_posted();
    return G_SOURCE_CONTINUE;
}
GSourceFuncs posted_funcs{posted_prepare, posted_check, posted_dispatch, nullptr, nullptr, nullptr};

// --- From GDK to messages ----------------------------------------------------------

double device_scale() {
    GdkScreen* screen = gdk_screen_get_default();
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display != nullptr ? gdk_display_get_primary_monitor(display) : nullptr;
    if (monitor == nullptr && display != nullptr) monitor = gdk_display_get_monitor(display, 0);
    (void)screen;
    return monitor != nullptr ? gdk_monitor_get_scale_factor(monitor) : 1;
}

// The face an input event is for: the one whose widget holds the event's
// widget; keys go to the face whose widget has the focus (else the window).
std::int32_t target_of(GdkEvent* e) {
    GtkWidget* w = gtk_get_event_widget(e);
    if (w == nullptr) return 0;
    if (e->type == GDK_KEY_PRESS || e->type == GDK_KEY_RELEASE) {
        GtkWidget* top = gtk_widget_get_toplevel(w);
        if (GTK_IS_WINDOW(top)) {
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top));
            const std::int32_t focused = focus != nullptr ? gtk_faces::widget_of(focus) : 0;
            return focused != 0 ? focused : gtk_faces::widget_of(top);
        }
    }
    return gtk_faces::widget_of(w);
}

// A point on the screen (GTK units) in the face's widget, in pixels: a
// window's points are in its client area.
void position_in(std::int32_t widget, double x_root, double y_root, Message& m) {
    GtkWidget* w = native(widget);
    if (w != nullptr && GTK_IS_WINDOW(w)) w = gtk_faces::container(widget);
    GtkWidget* top = w != nullptr ? gtk_widget_get_toplevel(w) : nullptr;
    GdkWindow* window = top != nullptr ? gtk_widget_get_window(top) : nullptr;
    if (window == nullptr) return;
    gint ox = 0, oy = 0;
    gdk_window_get_origin(window, &ox, &oy);
    gint x = 0, y = 0;
    gtk_widget_translate_coordinates(top, w, static_cast<gint>(std::lround(x_root)) - ox,
                                     static_cast<gint>(std::lround(y_root)) - oy, &x, &y);
    const double scale = device_scale();
    m.x = static_cast<std::int32_t>(std::lround(x * scale));
    m.y = static_cast<std::int32_t>(std::lround(y * scale));
}

std::uint32_t modifiers_of(guint state) {
    std::uint32_t m = 0;
    if ((state & GDK_CONTROL_MASK) != 0) m |= flag::control;
    if ((state & GDK_SHIFT_MASK) != 0) m |= flag::shift;
    if ((state & GDK_MOD1_MASK) != 0) m |= flag::alt;
    if ((state & GDK_BUTTON1_MASK) != 0) m |= flag::down;
    if ((state & GDK_BUTTON2_MASK) != 0) m |= flag::mid_down;
    if ((state & GDK_BUTTON3_MASK) != 0) m |= flag::alt_down;
    return m;
}

Special special_of(guint keyval) {
    switch (keyval) {
    case GDK_KEY_Page_Up: case GDK_KEY_KP_Page_Up: return Special::page_up;
    case GDK_KEY_Page_Down: case GDK_KEY_KP_Page_Down: return Special::page_down;
    case GDK_KEY_End: case GDK_KEY_KP_End: return Special::end;
    case GDK_KEY_Home: case GDK_KEY_KP_Home: return Special::home;
    case GDK_KEY_Left: case GDK_KEY_KP_Left: return Special::left;
    case GDK_KEY_Up: case GDK_KEY_KP_Up: return Special::up;
    case GDK_KEY_Right: case GDK_KEY_KP_Right: return Special::right;
    case GDK_KEY_Down: case GDK_KEY_KP_Down: return Special::down;
    case GDK_KEY_Insert: case GDK_KEY_KP_Insert: return Special::insert;
    case GDK_KEY_Delete: case GDK_KEY_KP_Delete: return Special::delete_;
    case GDK_KEY_Shift_L: return Special::left_shift;
    case GDK_KEY_Shift_R: return Special::right_shift;
    case GDK_KEY_Control_L: return Special::left_control;
    case GDK_KEY_Control_R: return Special::right_control;
    case GDK_KEY_Caps_Lock: return Special::caps_lock;
    case GDK_KEY_Num_Lock: return Special::num_lock;
    case GDK_KEY_Alt_L: case GDK_KEY_Meta_L: return Special::left_alt;
    case GDK_KEY_Alt_R: case GDK_KEY_Meta_R: case GDK_KEY_ISO_Level3_Shift: return Special::right_alt;
    case GDK_KEY_Super_L: return Special::left_command;
    case GDK_KEY_Super_R: return Special::right_command;
    case GDK_KEY_Scroll_Lock: return Special::scroll_lock;
    case GDK_KEY_Pause: return Special::pause;
    default:
        if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12)
            return static_cast<Special>(static_cast<int>(Special::f1) + static_cast<int>(keyval - GDK_KEY_F1));
        return Special::none;
    }
}

// The character a key types: the control keys give their ASCII codes.
std::uint32_t character_of(guint keyval) {
    switch (keyval) {
    case GDK_KEY_BackSpace: return 8;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: case GDK_KEY_KP_Tab: return 9;
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter: return 13;
    case GDK_KEY_Escape: return 27;
    default: return gdk_keyval_to_unicode(keyval);
    }
}

void key_message(const GdkEventKey& key, Message& m) {
    m.kind = key.type == GDK_KEY_PRESS ? Message::Kind::key_down : Message::Kind::key_up;
    m.special = special_of(key.keyval);
    m.time = key.time;
    if (m.special != Special::none) {
        m.code = key.keyval & flag::key_mask;
        return;
    }
    const std::uint32_t c = character_of(key.keyval);
    if (c == 0) {  // a key with no character and no word
        m.special = Special::other;
        m.code = key.keyval & flag::key_mask;
        return;
    }
    m.character = c;
    m.code = c < 0x10000 ? gdk_keyval_to_unicode(gdk_keyval_to_upper(key.keyval)) : c;
    if (m.code == 0) m.code = c;
}

// The message for a GDK event, or false when the pre-filter has no use for it.
bool message_of(GdkEvent* e, Message& m) {
    const auto at = [&](double x_root, double y_root) { position_in(m.widget, x_root, y_root, m); };
    switch (e->type) {
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE:
        key_message(e->key, m);
        m.modifiers = modifiers_of(e->key.state);
        return true;
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_BUTTON_RELEASE: {
        const guint b = e->button.button;
        m.button = b == 1 ? 1 : b == 2 ? 2 : b == 3 ? 3 : b >= 8 ? 4 : 0;
        if (m.button == 0) return false;
        m.kind = e->type == GDK_BUTTON_RELEASE ? Message::Kind::button_up
                 : e->type == GDK_2BUTTON_PRESS && m.button == 1 ? Message::Kind::double_click
                                                                 : Message::Kind::button_down;
        m.modifiers = modifiers_of(e->button.state);
        m.time = e->button.time;
        at(e->button.x_root, e->button.y_root);
        return true;
    }
    case GDK_MOTION_NOTIFY:
        gtk_faces::show_cursor(m.widget, e->any.window);
        m.kind = Message::Kind::motion;
        m.modifiers = modifiers_of(e->motion.state);
        m.time = e->motion.time;
        at(e->motion.x_root, e->motion.y_root);
        return true;
    case GDK_LEAVE_NOTIFY:
        if (e->crossing.mode != GDK_CROSSING_NORMAL) return false;
        m.kind = Message::Kind::leave;
        m.modifiers = modifiers_of(e->crossing.state);
        at(e->crossing.x_root, e->crossing.y_root);
        return true;
    case GDK_SCROLL: {
        m.kind = Message::Kind::wheel;
        m.modifiers = modifiers_of(e->scroll.state);
        m.time = e->scroll.time;
        at(e->scroll.x_root, e->scroll.y_root);
        switch (e->scroll.direction) {
        case GDK_SCROLL_UP: m.delta = 120; break;
        case GDK_SCROLL_DOWN: m.delta = -120; break;
        case GDK_SCROLL_SMOOTH: m.delta = static_cast<std::int32_t>(std::lround(-e->scroll.delta_y * 120.0)); break;
        default: return false;  // sideways
        }
        return m.delta != 0;
    }
    default:
        return false;
    }
}

// Every GDK event: ours go through the pre-filter first.
void on_gdk_event(GdkEvent* e, gpointer) {
    Message m{};
    m.widget = target_of(e);
    if (m.widget != 0 && message_of(e, m) && message_loop::prefilter(m) == 0) return;
    gtk_main_do_event(e);
}

gboolean on_timer(gpointer data) {
    const std::int32_t widget = GPOINTER_TO_INT(data);
    if (widgets::get(widget) == nullptr) {
        timers.erase(widget);
        return G_SOURCE_REMOVE;
    }
    message_loop::timer_tick(widget);
    return G_SOURCE_CONTINUE;
}

// --- The table ---------------------------------------------------------------------

bool start() {
    gtk_disable_setlocale();  // the runtime's number formats rely on the C locale
    if (gtk_init_check(nullptr, nullptr) == FALSE) return false;
    gdk_event_handler_set(on_gdk_event, nullptr, nullptr);
    gtk_faces::load_style_sheet();
    GSource* posted = g_source_new(&posted_funcs, sizeof(GSource));
    g_source_set_can_recurse(posted, TRUE);  // a nested loop inside a posted message's handler still sees them
    g_source_attach(posted, nullptr);
    g_source_unref(posted);
    return true;
}

bool iterate(bool wait) {
    const bool handled = g_main_context_iteration(nullptr, wait ? TRUE : FALSE) != FALSE;
    return wait || handled;
}

void wake() { g_main_context_wakeup(nullptr); }

double font_dpi() {
    gint xft = -1;
    g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &xft, nullptr);
    return xft > 0 ? xft / 1024.0 : 96.0;
}

std::uint32_t packed(const GdkRGBA& c) {
    const auto byte = [](double v) { return static_cast<std::uint32_t>(std::lround(std::fmin(1.0, std::fmax(0.0, v)) * 255.0)); };
    return byte(c.red) | byte(c.green) << 8 | byte(c.blue) << 16;
}

void metrics(toolkit::Metrics& out) {
    out = toolkit::Metrics{};
    out.dpi_factor = device_scale() * font_dpi() / 96.0;
    out.dpi = static_cast<std::int32_t>(std::lround(96.0 * out.dpi_factor));
    out.version_major = static_cast<std::int32_t>(gtk_get_major_version());
    out.version_minor = static_cast<std::int32_t>(gtk_get_minor_version());
    GtkWidget* bar = gtk_scrollbar_new(GTK_ORIENTATION_VERTICAL, nullptr);
    g_object_ref_sink(bar);
    gint w = 0, h = 0;
    gtk_widget_get_preferred_width(bar, nullptr, &w);
    GtkStyleContext* style = gtk_widget_get_style_context(bar);
    GdkRGBA c{};
    if (gtk_style_context_lookup_color(style, "theme_text_color", &c)) out.text = packed(c);
    if (gtk_style_context_lookup_color(style, "theme_base_color", &c)) out.window = packed(c);
    if (gtk_style_context_lookup_color(style, "theme_bg_color", &c)) out.panel = packed(c);
    g_object_unref(bar);
    h = w;
    out.scroller_width = static_cast<std::int32_t>(std::lround(w * out.dpi_factor));
    out.scroller_height = static_cast<std::int32_t>(std::lround(h * out.dpi_factor));
    gchar* font = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-font-name", &font, nullptr);
    if (font != nullptr) {
        PangoFontDescription* d = pango_font_description_from_string(font);
        if (const char* family = pango_font_description_get_family(d)) {
            std::strncpy(out.font_name, family, sizeof out.font_name - 1);
            out.font_name[sizeof out.font_name - 1] = '\0';
        }
        if (pango_font_description_get_size(d) > 0)
            out.font_size = pango_font_description_get_size(d) / static_cast<double>(PANGO_SCALE);
        pango_font_description_free(d);
        g_free(font);
    }
}

std::int32_t screens(toolkit::Screen* out, std::int32_t max) {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return 0;
    const std::int32_t n = gdk_display_get_n_monitors(display);
    const double dpi = font_dpi() / 96.0;
    for (std::int32_t i = 0; i < n && i < max; ++i) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        GdkRectangle r{};
        gdk_monitor_get_geometry(monitor, &r);
        const int s = gdk_monitor_get_scale_factor(monitor);
        out[i] = toolkit::Screen{r.x * s, r.y * s, r.width * s, r.height * s, s * dpi, i + 1};
    }
    return n;
}

std::int32_t pointer_screen() {
    GdkDisplay* display = gdk_display_get_default();
    GdkSeat* seat = display != nullptr ? gdk_display_get_default_seat(display) : nullptr;
    GdkDevice* pointer = seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
    if (pointer == nullptr) return 0;
    gint x = 0, y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    GdkMonitor* under = gdk_display_get_monitor_at_point(display, x, y);
    for (std::int32_t i = 0; i < gdk_display_get_n_monitors(display); ++i)
        if (gdk_display_get_monitor(display, i) == under) return i + 1;  // the ids screens() gives
    return 0;
}

void set_timer(std::int32_t widget, std::int32_t interval_ms) {
    if (const auto it = timers.find(widget); it != timers.end()) {
        g_source_remove(it->second);
        timers.erase(it);
    }
    if (interval_ms <= 0) return;
    // A timer goes on ticking in a loop that its own actor runs.
    GSource* source = g_timeout_source_new(static_cast<guint>(interval_ms));
    g_source_set_priority(source, G_PRIORITY_LOW);
    g_source_set_callback(source, on_timer, GINT_TO_POINTER(widget), nullptr);
    g_source_set_can_recurse(source, TRUE);
    timers[widget] = g_source_attach(source, nullptr);
    g_source_unref(source);
}

void destroy(std::int32_t widget) {
    set_timer(widget, 0);
    gtk_faces::destroy(widget);
}

void redraw(std::int32_t widget) {
    if (GtkWidget* w = native(widget)) gtk_widget_queue_draw(w);
}

void window_state(std::int32_t widget, std::int32_t state) {
    GtkWidget* w = native(widget);
    if (w == nullptr || !GTK_IS_WINDOW(w)) return;
    if (state == static_cast<std::int32_t>(event::Type::minimize)) {
        gtk_window_iconify(GTK_WINDOW(w));
    } else if (state == static_cast<std::int32_t>(event::Type::maximize)) {
        gtk_window_maximize(GTK_WINDOW(w));
    } else {
        gtk_window_deiconify(GTK_WINDOW(w));
        gtk_window_unmaximize(GTK_WINDOW(w));
        gtk_window_present(GTK_WINDOW(w));
    }
}

void set_dark_mode(bool dark) {
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE, nullptr);
}

// The error box: a modal message dialog of its own loop.
void error_box(const char* caption, const char* text) {
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(dialog), caption);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

constexpr toolkit::Toolkit table{"gtk",
                                 start,
                                 iterate,
                                 wake,
                                 metrics,
                                 screens,
                                 pointer_screen,
                                 gtk_faces::make_widget,
                                 gtk_faces::show,
                                 destroy,
                                 redraw,
                                 set_timer,
                                 window_state,
                                 set_dark_mode,
                                 gtk_faces::update,
                                 gtk_faces::change_list,
                                 gtk_faces::scroll_bar,
                                 gtk_faces::read_text,
                                 gtk_faces::draw_on_session,
                                 gtk_faces::to_image,
                                 error_box};

}  // namespace

}  // namespace kiv::gtk_toolkit

extern "C" const kiv::toolkit::Toolkit* kiv_gui_toolkit() { return &kiv::gtk_toolkit::table; }

// Native widgets made and not yet destroyed (the tests count them).
extern "C" std::int32_t kiv_gui_live_natives() { return kiv::gtk_faces::live_natives(); }
