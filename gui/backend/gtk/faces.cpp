// What every face's widget shares: the tag that leads from a GTK widget to
// its face, facet readers, the events widgets make, and the generic part of
// making, updating, rendering and destroying a widget.
#include "gui/backend/gtk/faces.h"

#include "gui/backend/message_loop.h"
#include "gui/backend/units.h"
#include "runtime/datatypes/string.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv::gtk_faces {

namespace {

int quiet_depth = 0;
std::int32_t natives = 0;

// A native widget that goes (with its parent, or by us): its record forgets it.
void on_native_destroy(GtkWidget* w, gpointer data) {
    --natives;
    widgets::Widget* record = widgets::get(GPOINTER_TO_INT(data));
    if (record != nullptr && record->native == w) record->native = nullptr;
}

// Where a widget goes: the GtkFixed of its nearest container parent, and
// its offset there (a parent that holds no children, such as a button, adds
// its own place).
GtkWidget* place_of(std::int32_t parent, int& dx, int& dy) {
    dx = dy = 0;
    for (std::int32_t p = parent; widgets::get(p) != nullptr; p = widgets::get(p)->parent) {
        if (GtkWidget* fixed = container(p)) return fixed;
        GtkWidget* w = native(p);
        GtkWidget* holder = w != nullptr ? gtk_widget_get_parent(w) : nullptr;
        if (holder == nullptr || !GTK_IS_FIXED(holder)) return nullptr;
        gint x = 0, y = 0;
        gtk_container_child_get(GTK_CONTAINER(holder), w, "x", &x, "y", &y, nullptr);
        dx += x;
        dy += y;
    }
    return nullptr;
}

void move_in_parent(std::int32_t widget, GtkWidget* w, std::int32_t x, std::int32_t y) {
    int dx = 0, dy = 0;
    GtkWidget* fixed = place_of(widgets::get(widget)->parent, dx, dy);
    if (fixed != nullptr && gtk_widget_get_parent(w) == fixed)
        gtk_fixed_move(GTK_FIXED(fixed), w, dx + to_units(x), dy + to_units(y));
}

}  // namespace

// --- Units and tags -----------------------------------------------------------------

int scale() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display != nullptr ? gdk_display_get_primary_monitor(display) : nullptr;
    if (monitor == nullptr && display != nullptr) monitor = gdk_display_get_monitor(display, 0);
    return monitor != nullptr ? std::max(1, gdk_monitor_get_scale_factor(monitor)) : 1;
}

int to_units(std::int32_t pixels) { return pixels / scale(); }
std::int32_t to_pixels(int units) { return units * scale(); }

GtkWidget* native(std::int32_t widget) {
    const widgets::Widget* w = widgets::get(widget);
    return w != nullptr ? static_cast<GtkWidget*>(w->native) : nullptr;
}

GtkWidget* inner(std::int32_t widget) {
    GtkWidget* w = native(widget);
    if (w == nullptr) return nullptr;
    auto* in = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(w), inner_key));
    return in != nullptr ? in : w;
}

GtkWidget* container(std::int32_t widget) {
    GtkWidget* w = native(widget);
    return w != nullptr ? static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(w), fixed_key)) : nullptr;
}

void tag(GtkWidget* w, std::int32_t widget) { g_object_set_data(G_OBJECT(w), widget_key, GINT_TO_POINTER(widget)); }

std::int32_t widget_of(GtkWidget* w) {
    for (; w != nullptr; w = gtk_widget_get_parent(w))
        if (const std::int32_t i = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(w), widget_key)); i != 0)
            return widgets::get(i) != nullptr ? i : 0;
    return 0;
}

GtkWidget* gtk_window_of(std::int32_t widget) { return native(widgets::root_of(widget)); }

GtkWidget* window_box_of(std::int32_t widget) {
    GtkWidget* window = gtk_window_of(widget);
    return window != nullptr && GTK_IS_WINDOW(window) ? gtk_bin_get_child(GTK_BIN(window)) : nullptr;
}

GtkWidget* window_fixed_of(std::int32_t widget) { return container(widgets::root_of(widget)); }

void count_native(GtkWidget* w, std::int32_t widget) {
    ++natives;
    g_signal_connect(w, "destroy", G_CALLBACK(on_native_destroy), GINT_TO_POINTER(widget));
}

std::int32_t live_natives() { return natives; }

// --- Facets -----------------------------------------------------------------------

std::string text_of(const Cell& face) {
    const Cell* t = widgets::facet(face, Facet::text);
    return t != nullptr && t->is(TypeId::string) ? string::utf8_of(*t) : std::string();
}

bool logic_of(const Cell& face, Facet f, bool otherwise) {
    const Cell* v = widgets::facet(face, f);
    return v != nullptr && v->is(TypeId::logic) ? v->logic_value() != 0 : otherwise;
}

bool colour_of(const Cell& face, std::uint32_t& packed) {
    const Cell* c = widgets::facet(face, Facet::color);
    if (c == nullptr || !c->is(TypeId::tuple)) return false;
    packed = units::tuple_to_color(*c);
    return true;
}

std::int64_t integer_of(const Cell& face, Facet f, std::int64_t otherwise) {
    const Cell* v = widgets::facet(face, f);
    return v != nullptr && v->is(TypeId::integer) ? v->int_value() : otherwise;
}

double ratio_facet(const Cell& face, Facet f) {
    const Cell* v = widgets::facet(face, f);
    return v != nullptr ? units::ratio_of(*v) : -1.0;
}

void set_facet(const Cell& face, Facet f, const Cell& value) {
    if (Cell* place = const_cast<Cell*>(widgets::facet(face, f))) *place = value;
}

const Cell* option_of(const Cell& face, const char* key) {
    const Cell* options = widgets::facet(face, Facet::options);
    if (options == nullptr || !options->is(TypeId::block)) return nullptr;
    const symbol::SymbolId wanted = symbol::resolve_alias(symbol::make(key));
    const std::int32_t n = block::count_from_head(*options);
    for (std::int32_t i = 0; i + 1 < n; i += 2) {
        const Cell* k = block::get_cell(*options, options->series_head() + i);
        if (word::is_any_word(k->type()) && symbol::resolve_alias(k->word_symbol()) == wanted)
            return block::get_cell(*options, options->series_head() + i + 1);
    }
    return nullptr;
}

// --- Events -----------------------------------------------------------------------

Quiet::Quiet() { ++quiet_depth; }
Quiet::~Quiet() { --quiet_depth; }
bool quiet() { return quiet_depth > 0; }

int send(std::int32_t widget, event::Type type, std::uint32_t flags) {
    return quiet() ? 1 : send_always(widget, type, flags);
}

int send_always(std::int32_t widget, event::Type type, std::uint32_t flags) {
    if (widgets::get(widget) == nullptr) return 1;
    event::Message m{};
    m.widget = widget;
    // the actor may run a loop of its own: the user's signals there are not ours
    const int saved = quiet_depth;
    quiet_depth = 0;
    const int answer = message_loop::make_event(m, flags, type);
    quiet_depth = saved;
    return answer;
}

void note_focus(std::int32_t widget) {
    Cell face{}, window{};
    if (!widgets::face_of(widget, face) || !widgets::face_of(widgets::root_of(widget), window)) return;
    if (widgets::get(widget)->type == FaceType::window) return;
    set_facet(window, Facet::selected, face);
}

namespace {

gboolean on_focus_in(GtkWidget* w, GdkEventFocus*, gpointer) {
    const std::int32_t widget = widget_of(w);
    note_focus(widget);
    send(widget, event::Type::focus);
    return FALSE;
}

gboolean on_focus_out(GtkWidget* w, GdkEventFocus*, gpointer) {
    send(widget_of(w), event::Type::unfocus);
    return FALSE;
}

}  // namespace

void connect_focus(GtkWidget* w) {
    g_signal_connect(w, "focus-in-event", G_CALLBACK(on_focus_in), nullptr);
    g_signal_connect(w, "focus-out-event", G_CALLBACK(on_focus_out), nullptr);
}

// --- The toolkit's entries ------------------------------------------------------------

bool make_widget(std::int32_t widget, const toolkit::WidgetSpec& asked, const Cell& face) {
    toolkit::WidgetSpec spec = asked;
    fit_page(spec.parent, face, spec);
    const Kind& kind = kind_of(spec.type);
    GtkWidget* w = kind.make(widget, spec, face);
    if (w == nullptr) return false;
    tag(w, widget);
    count_native(w, widget);
    widgets::get(widget)->native = w;
    const Quiet quiet;
    if (spec.type != FaceType::window) {
        int dx = 0, dy = 0;
        GtkWidget* fixed = place_of(spec.parent, dx, dy);
        gtk_widget_set_size_request(w, to_units(spec.width), to_units(spec.height));
        if (fixed != nullptr) {
            gtk_fixed_put(GTK_FIXED(fixed), w, dx + to_units(spec.x), dy + to_units(spec.y));
        } else {
            g_object_ref_sink(w);  // a face with no place: kept, never shown
            g_object_set_data(G_OBJECT(w), "kiv-sunk", GINT_TO_POINTER(1));
        }
        gtk_widget_set_sensitive(w, logic_of(face, Facet::enabled_q, true));
    }
    kind.apply(widget, face, all_facets);
    set_cursor(widget, face);
    if (spec.type != FaceType::window && logic_of(face, Facet::visible_q, true)) gtk_widget_show(w);
    return true;
}

// The faces of a container's pane that have widgets elsewhere (moved into
// it from another pane) move into its fixed, at their offsets.
void adopt_pane(std::int32_t widget, const Cell& face) {
    GtkWidget* fixed = container(widget);
    const Cell* pane = widgets::facet(face, Facet::pane);
    if (fixed == nullptr || pane == nullptr || !pane->is(TypeId::block)) return;
    const Cell children = *pane;
    for (std::int32_t i = 0; i < block::count_from_head(children); ++i) {
        const Cell child = *block::get_cell(children, children.series_head() + i);
        const std::int32_t c = widgets::of_face(child);
        GtkWidget* w = native(c);
        if (w == nullptr || c == widget || widgets::get(c)->type == FaceType::window || gtk_widget_get_parent(w) == fixed)
            continue;
        std::int32_t x = 0, y = 0;
        units::pixels_of(widgets::facet(child, Facet::offset), x, y);
        g_object_ref(w);
        if (GtkWidget* old = gtk_widget_get_parent(w)) gtk_container_remove(GTK_CONTAINER(old), w);
        gtk_fixed_put(GTK_FIXED(fixed), w, to_units(x), to_units(y));
        g_object_unref(w);
        widgets::get(c)->parent = widget;
    }
}

// The change bits are applied in their fixed order: offset, size, text,
// data, enabled?, visible?, selected, flags, draw, color, pane, font, para,
// menu, image, options (the rate is the caller's, last).
void update(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    GtkWidget* w = native(widget);
    if (w == nullptr) return;
    const FaceType type = widgets::get(widget)->type;
    const Kind& kind = kind_of(type);
    const Quiet quiet;
    const auto changed = [bits](Facet f) { return (bits & widgets::change_bit(f)) != 0; };
    if (type != FaceType::window && changed(Facet::offset)) {
        std::int32_t x = 0, y = 0;
        units::pixels_of(widgets::facet(face, Facet::offset), x, y);
        move_in_parent(widget, w, x, y);
    }
    if (type != FaceType::window && changed(Facet::size)) {
        std::int32_t x = 0, y = 0;
        units::pixels_of(widgets::facet(face, Facet::size), x, y);
        gtk_widget_set_size_request(w, to_units(std::max(x, 0)), to_units(std::max(y, 0)));
    }
    constexpr std::uint32_t first = widgets::change_bit(Facet::offset) | widgets::change_bit(Facet::size) |
                                    widgets::change_bit(Facet::text) | widgets::change_bit(Facet::data);
    kind.apply(widget, face, bits & first);
    if (native(widget) == nullptr) return;  // an event of the type's own (a radio's change) took it away
    if (type != FaceType::window && changed(Facet::enabled_q))
        gtk_widget_set_sensitive(w, logic_of(face, Facet::enabled_q, true));
    if (type != FaceType::window && changed(Facet::visible_q))
        gtk_widget_set_visible(w, logic_of(face, Facet::visible_q, true));
    if (changed(Facet::pane) && bits != all_facets) adopt_pane(widget, face);
    kind.apply(widget, face, bits & ~first);
    if (native(widget) == nullptr) return;
    if (changed(Facet::options)) set_cursor(widget, face);
    constexpr std::uint32_t repaint = widgets::change_bit(Facet::color) | widgets::change_bit(Facet::draw) |
                                      widgets::change_bit(Facet::font) | widgets::change_bit(Facet::para) |
                                      widgets::change_bit(Facet::image) | widgets::change_bit(Facet::text) |
                                      widgets::change_bit(Facet::data);
    if ((bits & repaint) != 0) gtk_widget_queue_draw(native(widget));
}

void destroy(std::int32_t widget) {
    GtkWidget* w = native(widget);
    if (w == nullptr) return;
    const Quiet quiet;  // what a widget says as it goes (its focus leaving) is no event
    g_object_set_data(G_OBJECT(w), widget_key, nullptr);  // its last events find no face
    const bool sunk = g_object_get_data(G_OBJECT(w), "kiv-sunk") != nullptr;
    gtk_widget_destroy(w);
    if (sunk) g_object_unref(w);
    widgets::get(widget)->native = nullptr;
}

std::int32_t read_text(std::int32_t widget, std::int32_t index, char* out, std::int32_t capacity) {
    const widgets::Widget* w = widgets::get(widget);
    if (w == nullptr || w->native == nullptr) return -1;
    std::string text;
    if (!kind_of(w->type).text(widget, index, text)) return -1;
    const auto n = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), 0x7FFFFFFF));
    std::memcpy(out, text.data(), static_cast<std::size_t>(std::min(n, capacity)));
    return n;
}

void show(std::int32_t widget) {
    const widgets::Widget* w = widgets::get(widget);
    if (w == nullptr || w->native == nullptr) return;
    if (w->type == FaceType::window) {
        show_window(widget);
    } else {
        gtk_widget_show(static_cast<GtkWidget*>(w->native));
    }
}

// The surface's pixels as a new image! (opacity kept, colours unpremultiplied).
void image_of_surface(cairo_surface_t* surface, Cell& out) {
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    image::make_at(out, w, h, 0xFFFFFFFF);
    std::uint32_t* pixels = image::pixels(out);
    if (pixels == nullptr || data == nullptr) return;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = row[x];
            const std::uint32_t a = p >> 24;
            std::uint32_t q = p;
            if (a != 0 && a != 255) {
                const auto d = [a](std::uint32_t c) { return std::min<std::uint32_t>(255, (c * 255 + a / 2) / a); };
                q = a << 24 | d(p >> 16 & 0xFF) << 16 | d(p >> 8 & 0xFF) << 8 | d(p & 0xFF);
            }
            pixels[static_cast<std::ptrdiff_t>(y) * w + x] = q;
        }
    }
}

bool to_image(std::int32_t widget, const Cell& face, Cell& out) {
    const int s = scale();
    if (widget == 0) {  // a screen: the screen's pixels, its size from the face
        std::int32_t width = 0, height = 0;
        units::pixels_of(widgets::facet(face, Facet::size), width, height);
        GdkWindow* root = gdk_get_default_root_window();
        if (root == nullptr || width <= 0 || height <= 0 || width > image::max_side || height > image::max_side)
            return false;
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        cairo_t* cr = cairo_create(surface);
        cairo_scale(cr, s, s);
        gdk_cairo_set_source_window(cr, root, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        image_of_surface(surface, out);
        cairo_surface_destroy(surface);
        return true;
    }
    const widgets::Widget* record = widgets::get(widget);
    GtkWidget* w = native(widget);
    if (record == nullptr || w == nullptr) return false;
    const FaceType type = record->type;
    GtkWidget* drawn = type == FaceType::window ? container(widget) : w;
    int width = 0, height = 0;
    face_size(widget, width, height);
    GtkAllocation a{};
    gtk_widget_get_allocation(drawn, &a);
    const bool allocated = gtk_widget_get_mapped(drawn) && a.width > 1 && a.height > 1;
    if (allocated && type != FaceType::base && type != FaceType::rich_text) width = a.width, height = a.height;
    const std::int32_t pw = width * s, ph = height * s;
    if (pw <= 0 || ph <= 0 || pw > image::max_side || ph > image::max_side) return false;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, s, s);
    if (type == FaceType::base || type == FaceType::rich_text) {
        // drawn by its own painting, shown or not
        paint_face(widget, face, cr, width, height);
    } else if (allocated) {
        gtk_widget_draw(drawn, cr);
    }
    cairo_destroy(cr);
    image_of_surface(surface, out);
    cairo_surface_destroy(surface);
    return true;
}

const Kind& kind_of(FaceType type) {
    switch (type) {
    case FaceType::window: return window_kind;
    case FaceType::panel: return panel_kind;
    case FaceType::group_box: return group_box_kind;
    case FaceType::tab_panel: return tab_panel_kind;
    case FaceType::base: case FaceType::rich_text: case FaceType::camera: return base_kind;
    case FaceType::button: return button_kind;
    case FaceType::toggle: return toggle_kind;
    case FaceType::check: return check_kind;
    case FaceType::radio: return radio_kind;
    case FaceType::field: return field_kind;
    case FaceType::area: return area_kind;
    case FaceType::text: return text_kind;
    case FaceType::text_list: return list_kind;
    case FaceType::drop_list: case FaceType::drop_down: return drop_kind;
    case FaceType::progress: return progress_kind;
    case FaceType::slider: return slider_kind;
    case FaceType::scroller: return scroller_kind;
    case FaceType::calendar: return calendar_kind;
    default: return panel_kind;
    }
}

}  // namespace kiv::gtk_faces
